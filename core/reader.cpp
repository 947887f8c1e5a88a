#include "core/reader.h"

#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

namespace veltrane {

namespace {

// pread until count bytes arrived, the file ended or an error occurred.
size_t PreadFully(int fd, uint8_t* dst, size_t count, uint64_t offset) {
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(fd, dst + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

// A mapped file that another program truncates raises SIGBUS when the lost
// pages are touched. Copies out of a mapping run under a guard: the signal
// jumps back out of the copy, which then reports failure.
// volatile: the stores around the copy must happen, although memcpy never reads them.
thread_local sigjmp_buf* volatile t_copyGuard = nullptr;
struct sigaction g_previousSigbus {};

void OnSigbus(int signal, siginfo_t* info, void* context) {
  if (t_copyGuard != nullptr) siglongjmp(*t_copyGuard, 1);
  // Not ours: hand it to whoever had it before, or end as the default does.
  if (g_previousSigbus.sa_flags & SA_SIGINFO) {
    if (g_previousSigbus.sa_sigaction != nullptr) return g_previousSigbus.sa_sigaction(signal, info, context);
  } else if (g_previousSigbus.sa_handler != SIG_DFL && g_previousSigbus.sa_handler != SIG_IGN) {
    return g_previousSigbus.sa_handler(signal);
  }
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void InstallSigbusGuard() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_sigaction = OnSigbus;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &g_previousSigbus);
  });
}

// memcpy that survives a mapping whose file shrank; false when it did not.
bool GuardedCopy(void* destination, const uint8_t* source, size_t count) {
  sigjmp_buf env;
  if (sigsetjmp(env, 1) != 0) {
    t_copyGuard = nullptr;
    std::memset(destination, 0, count);
    return false;
  }
  t_copyGuard = &env;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  std::memcpy(destination, source, count);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  t_copyGuard = nullptr;
  return true;
}

// Copies the part of [offset, offset + count) that lies inside data[0, size).
size_t CopyFromMemory(const uint8_t* data, uint64_t size, uint64_t offset, void* destination,
                      size_t count, bool guarded, std::atomic<bool>& changed) {
  std::memset(destination, 0, count);
  if (data == nullptr || offset >= size) return 0;
  const uint64_t available = size - offset;
  const size_t n = available < count ? static_cast<size_t>(available) : count;
  if (!guarded) {
    std::memcpy(destination, data + offset, n);
  } else if (!GuardedCopy(destination, data + offset, n)) {
    changed = true;
    return 0;
  }
  return n;
}

// In-memory Read and Seek share the refusal rules: no data, or a request that
// reaches the end of the file.
bool MemoryRead(const uint8_t* data, uint64_t size, uint64_t& position, void* destination,
                uint32_t count, bool guarded, std::atomic<bool>& changed) {
  if (data == nullptr || count >= size || position + count > size) return false;
  if (!guarded) {
    std::memcpy(destination, data + position, count);
  } else if (!GuardedCopy(destination, data + position, count)) {
    changed = true;
    return false;
  }
  position += count;
  return true;
}

bool MemorySeek(const uint8_t* data, uint64_t size, uint64_t& position, uint64_t offset) {
  if (data == nullptr || offset >= size) return false;
  position = offset;
  return true;
}

}  // namespace

// ---- Reader (base) ----

Reader::~Reader() { CloseFile(); }

bool Reader::Read(void*, uint32_t) { return true; }
bool Reader::Seek(uint64_t, int32_t, int32_t) { return true; }
bool Reader::Open(std::string, int) { return true; }
uint64_t Reader::GetPosition() { return 0; }
int64_t Reader::Close() { return 0; }

size_t Reader::ReadAt(uint64_t, void* destination, size_t count) {
  std::memset(destination, 0, count);
  return 0;
}

bool Reader::OpenRegularFile(const std::string& p) {
  // O_NONBLOCK keeps a FIFO from blocking the open; it is refused below.
  const int fd = ::open(p.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  file = fd;
  size = static_cast<uint64_t>(st.st_size);
  return true;
}

void Reader::CloseFile() {
  if (file >= 0) {
    ::close(file);
    file = -1;
  }
}

// ---- Reader_Buffer ----

namespace {

// The copy of a file is taken in fresh pages that are faulted in at once
// (MAP_POPULATE), huge pages where the system gives them: filling the copy
// page by page on first touch costs more than reading the file.
uint8_t* AllocateCopy(uint64_t size) {
  void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  ::madvise(p, size, MADV_HUGEPAGE);
  return static_cast<uint8_t*>(p);
}

void FreeCopy(uint8_t* buffer, uint64_t size) {
  if (buffer != nullptr) ::munmap(buffer, size);
}

}  // namespace

Reader_Buffer::~Reader_Buffer() { FreeCopy(buffer, capacity_); }

bool Reader_Buffer::Open(std::string p, int) {
  if (!OpenRegularFile(p)) return false;
  position = 0;
  if (size == 0 || size >= kMaxSize) {
    CloseFile();
    return false;
  }
  buffer = AllocateCopy(size);
  capacity_ = size;
  if (buffer == nullptr) {
    CloseFile();
    return false;
  }
  const size_t got = PreadFully(file, buffer, size, 0);
  CloseFile();
  if (got != size) {
    // The file shrank while it was read: keep what arrived.
    size = got;
    if (size == 0) {
      FreeCopy(buffer, capacity_);
      buffer = nullptr;
      return false;
    }
  }
  return true;
}

bool Reader_Buffer::Read(void* destination, uint32_t count) {
  return MemoryRead(buffer, size, position, destination, count, false, fileChanged_);
}

bool Reader_Buffer::Seek(uint64_t offset, int32_t, int32_t) {
  return MemorySeek(buffer, size, position, offset);
}

uint64_t Reader_Buffer::GetPosition() { return position; }

size_t Reader_Buffer::ReadAt(uint64_t offset, void* destination, size_t count) {
  const size_t n = CopyFromMemory(buffer, size, offset, destination, count, false, fileChanged_);
  if (n > 0) position = offset + n;
  return n;
}

// ---- Reader_MemoryMapped ----

Reader_MemoryMapped::~Reader_MemoryMapped() {
  if (mapping != nullptr) ::munmap(mapping, size);
}

bool Reader_MemoryMapped::Open(std::string p, int) {
  InstallSigbusGuard();
  if (!OpenRegularFile(p)) return false;
  position = 0;
  path = p;
  if (size > 0) {
    void* m = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file, 0);
    if (m != MAP_FAILED) {
      mapping = m;
      view = static_cast<const uint8_t*>(m);
    }
  }
  CloseFile();  // the mapping keeps the data reachable
  return view != nullptr;
}

bool Reader_MemoryMapped::Read(void* destination, uint32_t count) {
  return MemoryRead(view, size, position, destination, count, true, fileChanged_);
}

bool Reader_MemoryMapped::Seek(uint64_t offset, int32_t, int32_t) {
  return MemorySeek(view, size, position, offset);
}

uint64_t Reader_MemoryMapped::GetPosition() { return position; }

size_t Reader_MemoryMapped::ReadAt(uint64_t offset, void* destination, size_t count) {
  const size_t n = CopyFromMemory(view, size, offset, destination, count, true, fileChanged_);
  if (n > 0) position = offset + n;
  return n;
}

// ---- Reader_Disk ----

Reader_Disk::~Reader_Disk() { CloseFile(); }

bool Reader_Disk::StillExists() {
  const bool exists = ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
  if (!exists && file >= 0) fileChanged_ = true;
  return exists;
}

bool Reader_Disk::Open(std::string p, int) {
  if (!OpenRegularFile(p)) return false;
  position = 0;
  path = p;
  if (!StillExists()) {
    CloseFile();
    return false;
  }
  return true;
}

bool Reader_Disk::Read(void* destination, uint32_t count) {
  if (file < 0 || !StillExists()) return false;
  position += PreadFully(file, static_cast<uint8_t*>(destination), count, position);
  return true;
}

bool Reader_Disk::Seek(uint64_t offset, int32_t, int32_t) {
  if (file < 0 || !StillExists()) return false;
  position = offset;
  return true;
}

uint64_t Reader_Disk::GetPosition() { return position; }

int64_t Reader_Disk::Close() {
  CloseFile();
  return 0;
}

size_t Reader_Disk::ReadAt(uint64_t offset, void* destination, size_t count) {
  std::memset(destination, 0, count);
  if (file < 0 || !StillExists()) return 0;
  const size_t n = PreadFully(file, static_cast<uint8_t*>(destination), count, offset);
  // Fewer bytes than the size seen at Open promised: the file shrank.
  if (offset < size && n < count && offset + n < size) fileChanged_ = true;
  position = offset + n;
  return n;
}

// ---- Reader_Overlay ----

Reader_Overlay::Reader_Overlay(std::unique_ptr<Reader> file, std::unique_ptr<Reader> patches, uint64_t base,
                               uint32_t pageSize, std::unordered_map<uint32_t, uint64_t> replacements,
                               uint64_t totalSize)
    : file_(std::move(file)),
      patches_(std::move(patches)),
      base_(base),
      pageSize_(pageSize),
      replacements_(std::move(replacements)) {
  size = totalSize;
}

bool Reader_Overlay::Read(void* destination, uint32_t count) {
  if (position > size || count > size - position) return false;
  ReadAt(position, destination, count);
  return true;
}

bool Reader_Overlay::Seek(uint64_t offset, int32_t, int32_t) {
  if (offset > size) return false;
  position = offset;
  return true;
}

uint64_t Reader_Overlay::GetPosition() { return position; }

size_t Reader_Overlay::ReadAt(uint64_t offset, void* destination, size_t count) {
  auto* out = static_cast<uint8_t*>(destination);
  std::memset(out, 0, count);
  if (offset >= size || count == 0) return 0;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(count, size - offset));
  file_->ReadAt(offset, out, n);
  if (patches_ && pageSize_ != 0 && !replacements_.empty() && offset + n > base_) {
    // The replaced pages that the range touches.
    const uint64_t from = offset > base_ ? offset : base_;
    const uint64_t first = (from - base_) / pageSize_ + 1;
    const uint64_t last = (offset + n - 1 - base_) / pageSize_ + 1;
    for (uint64_t page = first; page <= last && page <= UINT32_MAX; ++page) {
      const auto hit = replacements_.find(static_cast<uint32_t>(page));
      if (hit == replacements_.end()) continue;
      const uint64_t start = base_ + (page - 1) * pageSize_;
      const uint64_t lo = std::max(start, offset);
      const uint64_t hi = std::min(start + pageSize_, offset + n);
      patches_->ReadAt(hit->second + (lo - start), out + (lo - offset), static_cast<size_t>(hi - lo));
    }
  }
  if (file_->FileChanged() || (patches_ && patches_->FileChanged())) fileChanged_ = true;
  position = offset + n;
  return n;
}

// ---- factory ----

std::unique_ptr<Reader> makeReader(const std::string& p) {
  {
    auto reader = std::make_unique<Reader_Buffer>();
    if (reader->Open(p, 0)) return reader;
  }
  return makeReaderWithoutCopy(p);
}

std::unique_ptr<Reader> makeReaderWithoutCopy(const std::string& p) {
  {
    auto reader = std::make_unique<Reader_MemoryMapped>();
    if (reader->Open(p, 0)) return reader;
  }
  auto reader = std::make_unique<Reader_Disk>();
  reader->Open(p, 0);
  return reader;
}

}  // namespace veltrane
