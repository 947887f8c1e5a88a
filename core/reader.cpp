#include "core/reader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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

// Copies the part of [offset, offset + count) that lies inside data[0, size).
size_t CopyFromMemory(const uint8_t* data, uint64_t size, uint64_t offset, void* destination,
                      size_t count) {
  std::memset(destination, 0, count);
  if (data == nullptr || offset >= size) return 0;
  const uint64_t available = size - offset;
  const size_t n = available < count ? static_cast<size_t>(available) : count;
  std::memcpy(destination, data + offset, n);
  return n;
}

// In-memory Read and Seek share the refusal rules: no data, or a request that
// reaches the end of the file.
bool MemoryRead(const uint8_t* data, uint64_t size, uint64_t& position, void* destination,
                uint32_t count) {
  if (data == nullptr || count >= size || position + count > size) return false;
  std::memcpy(destination, data + position, count);
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

Reader_Buffer::~Reader_Buffer() { delete[] buffer; }

bool Reader_Buffer::Open(std::string p, int) {
  if (!OpenRegularFile(p)) return false;
  position = 0;
  if (size == 0 || size >= kMaxSize) {
    CloseFile();
    return false;
  }
  buffer = new (std::nothrow) uint8_t[size];
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
      delete[] buffer;
      buffer = nullptr;
      return false;
    }
  }
  return true;
}

bool Reader_Buffer::Read(void* destination, uint32_t count) {
  return MemoryRead(buffer, size, position, destination, count);
}

bool Reader_Buffer::Seek(uint64_t offset, int32_t, int32_t) {
  return MemorySeek(buffer, size, position, offset);
}

uint64_t Reader_Buffer::GetPosition() { return position; }

size_t Reader_Buffer::ReadAt(uint64_t offset, void* destination, size_t count) {
  const size_t n = CopyFromMemory(buffer, size, offset, destination, count);
  if (n > 0) position = offset + n;
  return n;
}

// ---- Reader_MemoryMapped ----

Reader_MemoryMapped::~Reader_MemoryMapped() {
  if (mapping != nullptr) ::munmap(mapping, size);
}

bool Reader_MemoryMapped::Open(std::string p, int) {
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
  return MemoryRead(view, size, position, destination, count);
}

bool Reader_MemoryMapped::Seek(uint64_t offset, int32_t, int32_t) {
  return MemorySeek(view, size, position, offset);
}

uint64_t Reader_MemoryMapped::GetPosition() { return position; }

size_t Reader_MemoryMapped::ReadAt(uint64_t offset, void* destination, size_t count) {
  const size_t n = CopyFromMemory(view, size, offset, destination, count);
  if (n > 0) position = offset + n;
  return n;
}

// ---- Reader_Disk ----

Reader_Disk::~Reader_Disk() { CloseFile(); }

bool Reader_Disk::StillExists() {
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
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
  position = offset + n;
  return n;
}

// ---- factory ----

std::unique_ptr<Reader> makeReader(const std::string& p) {
  {
    auto reader = std::make_unique<Reader_Buffer>();
    if (reader->Open(p, 0)) return reader;
  }
  {
    auto reader = std::make_unique<Reader_MemoryMapped>();
    if (reader->Open(p, 0)) return reader;
  }
  auto reader = std::make_unique<Reader_Disk>();
  reader->Open(p, 0);
  return reader;
}

}  // namespace veltrane
