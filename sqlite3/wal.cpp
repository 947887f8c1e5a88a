#include "sqlite3/wal.h"

#include <sys/stat.h>

#include <algorithm>
#include <vector>

#include "core/bytes.h"
#include "core/session.h"
#include "core/text.h"

namespace veltrane {

namespace {

constexpr uint32_t kMagicLittle = 0x377f0682;
constexpr uint32_t kMagicBig = 0x377f0683;
constexpr uint32_t kVersion = 3007000;
constexpr uint64_t kHeaderSize = 32;
constexpr uint64_t kFrameHeaderSize = 24;

// SQLite's WAL checksum over bytes (a multiple of 8 long), continuing s.
void Checksum(const ByteView& bytes, bool bigEndian, uint32_t s[2]) {
  uint32_t s0 = s[0], s1 = s[1];
  const size_t n = bytes.size() & ~size_t{7};
  for (size_t i = 0; i < n; i += 8) {
    const uint32_t x0 = bigEndian ? bytes.BE32(i) : bytes.LE32(i);
    const uint32_t x1 = bigEndian ? bytes.BE32(i + 4) : bytes.LE32(i + 4);
    s0 += x0 + s1;
    s1 += x1 + s0;
  }
  s[0] = s0;
  s[1] = s1;
}

}  // namespace

WalCommits ReadWalCommits(Reader& wal, uint32_t pageSize, uint64_t maxPage) {
  WalCommits result;
  uint8_t head[kHeaderSize] = {};
  if (wal.size < kHeaderSize || wal.ReadAt(0, head, sizeof head) != sizeof head) return result;
  const ByteView h(head, sizeof head);
  const uint32_t magic = h.BE32(0);
  if ((magic != kMagicLittle && magic != kMagicBig) || h.BE32(4) != kVersion) return result;
  const bool bigEndian = magic == kMagicBig;
  uint32_t sum[2] = {0, 0};
  Checksum(h.Sub(0, 24), bigEndian, sum);
  if (sum[0] != h.BE32(24) || sum[1] != h.BE32(28)) return result;
  result.pageSize = h.BE32(8);
  if (result.pageSize != pageSize) {
    result.status = WalCommits::Status::OtherPageSize;
    return result;
  }
  const uint32_t salt1 = h.BE32(16), salt2 = h.BE32(20);

  const uint64_t frameSize = kFrameHeaderSize + pageSize;
  const uint64_t wholeFrames = (wal.size - kHeaderSize) / frameSize;
  result.tornFrame = (wal.size - kHeaderSize) % frameSize != 0;
  std::vector<uint8_t> frame(static_cast<size_t>(frameSize));
  // Frames of the transaction not yet committed: page -> offset.
  std::vector<std::pair<uint32_t, uint64_t>> pending;
  for (uint64_t i = 0; i < wholeFrames; ++i) {
    const uint64_t at = kHeaderSize + i * frameSize;
    if (wal.ReadAt(at, frame.data(), frame.size()) != frame.size()) break;
    const ByteView f(frame.data(), frame.size());
    const uint32_t page = f.BE32(0);
    if (page == 0 || page > maxPage || f.BE32(8) != salt1 || f.BE32(12) != salt2) break;
    Checksum(f.Sub(0, 8), bigEndian, sum);
    Checksum(f.Sub(kFrameHeaderSize), bigEndian, sum);
    if (sum[0] != f.BE32(16) || sum[1] != f.BE32(20)) break;
    pending.emplace_back(page, at + kFrameHeaderSize);
    const uint32_t databasePages = f.BE32(4);
    if (databasePages != 0) {
      for (const auto& [p, offset] : pending) result.pages[p] = offset;
      result.frames += pending.size();
      pending.clear();
      ++result.commits;
      result.databasePages = static_cast<uint32_t>(std::min<uint64_t>(databasePages, maxPage));
    }
  }
  result.framesIgnored = wholeFrames - result.frames;
  // Pages past the size of the last commit are no part of the database.
  for (auto it = result.pages.begin(); it != result.pages.end();)
    it = it->first > result.databasePages ? result.pages.erase(it) : std::next(it);
  result.status = result.commits != 0 ? WalCommits::Status::Usable : WalCommits::Status::NoCommit;
  return result;
}

void ApplyWalFile(RecoverySession& session, uint64_t base, uint32_t pageSize) {
  if (!session.reader || pageSize == 0) return;
  const std::string walPath = session.filePath + "-wal";
  struct stat st {};
  if (::stat(walPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  const char* name = walPath.c_str();
  if (!session.useWal) {
    session.AddLogLine(Format("WAL file %s is not read: the WAL is switched off", name));
    return;
  }
  if (st.st_size == 0) {
    session.AddLogLine(Format("WAL file %s is empty; nothing is applied", name));
    return;
  }
  std::unique_ptr<Reader> wal = makeReader(walPath);
  if (!wal || !wal->IsOpen()) {
    session.AddLogLine(Format("WAL file %s cannot be read; it is not used", name));
    return;
  }
  Reader& file = *session.reader;
  const uint64_t filePages = file.size > base ? (file.size - base + pageSize - 1) / pageSize : 0;
  const uint64_t logPages = wal->size / (kFrameHeaderSize + pageSize);
  WalCommits commits = ReadWalCommits(*wal, pageSize, filePages + logPages);
  switch (commits.status) {
    case WalCommits::Status::NoHeader:
      session.AddLogLine(Format("WAL file %s has no valid header; it is not used", name));
      return;
    case WalCommits::Status::OtherPageSize:
      session.AddLogLine(Format("WAL file %s has the page size %u, not the database's %u; it is not used", name,
                                commits.pageSize, pageSize));
      return;
    case WalCommits::Status::NoCommit:
      session.AddLogLine(Format("WAL file %s holds no complete commit; nothing is applied", name));
      return;
    case WalCommits::Status::Usable:
      break;
  }
  const uint64_t size = std::max<uint64_t>(file.size, base + uint64_t{commits.databasePages} * pageSize);
  session.reader = std::make_unique<Reader_Overlay>(std::move(session.reader), std::move(wal), base, pageSize,
                                                    std::move(commits.pages), size);
  session.AddLogLine(Format("WAL file %s: %llu frames of %llu commits applied", name,
                            static_cast<unsigned long long>(commits.frames),
                            static_cast<unsigned long long>(commits.commits)));
  if (commits.framesIgnored != 0 || commits.tornFrame)
    session.AddLogLine(Format("WAL file %s: %llu frames after the last complete commit%s are not used", name,
                              static_cast<unsigned long long>(commits.framesIgnored),
                              commits.tornFrame ? " and a partly written frame" : ""));
}

}  // namespace veltrane
