// File readers: the only access to the damaged file's bytes.
//
// Three strategies behind one interface: a heap copy of the whole file
// (Reader_Buffer, files of 1 to 149,999,999 bytes), a read-only mapping of the
// whole file (Reader_MemoryMapped) and plain positioned reads (Reader_Disk).
// makeReader tries them in that order. Every reader opens the file read-only
// and refuses anything that is not a regular file.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

namespace veltrane {

class Reader {
 public:
  Reader() = default;
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // Releases what the reader holds.
  virtual ~Reader();

  // Copies count bytes from the current position into destination and moves
  // the position on. Refused requests leave destination and position as they were.
  virtual bool Read(void* destination, uint32_t count);
  // Moves the position to offset (always counted from the start of the file).
  virtual bool Seek(uint64_t offset, int32_t origin = 0, int32_t unused = 0);
  // Opens path read-only (openFlags 0 is the only mode used).
  virtual bool Open(std::string path, int openFlags);
  virtual uint64_t GetPosition();
  virtual int64_t Close();

  // Positioned read used by the parsers: zero-fills destination, then copies
  // the bytes of [offset, offset + count) that the file holds. Returns the
  // number of bytes copied (less than count at the end of the file, 0 when
  // the file is gone or the offset lies outside it).
  virtual size_t ReadAt(uint64_t offset, void* destination, size_t count);

  // True when Open succeeded and the reader holds the file's data or handle.
  virtual bool IsOpen() const { return false; }

  // File size in bytes, set by Open.
  uint64_t size = 0;

  // True once a read found the file changed under the reader (truncated,
  // deleted or replaced by another program): what it read since is zeros.
  bool FileChanged() const { return fileChanged_.load(); }

 protected:
  uint64_t position = 0;
  uint8_t* buffer = nullptr;  // Reader_Buffer only
  int file = -1;              // open descriptor, -1 when closed
  std::string path;           // kept by Reader_Disk and Reader_MemoryMapped
  struct stat status {};      // refreshed by Reader_Disk's existence checks
  std::atomic<bool> fileChanged_{false};

  // Opens path read-only and fills size; false when it cannot be opened or is
  // not a regular file.
  bool OpenRegularFile(const std::string& p);
  void CloseFile();
};

class Reader_Buffer : public Reader {
 public:
  static constexpr uint64_t kMaxSize = 150'000'000;  // exclusive limit
  ~Reader_Buffer() override;
  bool Read(void* destination, uint32_t count) override;
  bool Seek(uint64_t offset, int32_t origin = 0, int32_t unused = 0) override;
  bool Open(std::string path, int openFlags) override;
  uint64_t GetPosition() override;
  size_t ReadAt(uint64_t offset, void* destination, size_t count) override;
  bool IsOpen() const override { return buffer != nullptr; }

 private:
  uint64_t capacity_ = 0;  // bytes of the copy's pages
};

class Reader_MemoryMapped : public Reader {
 public:
  ~Reader_MemoryMapped() override;
  bool Read(void* destination, uint32_t count) override;
  bool Seek(uint64_t offset, int32_t origin = 0, int32_t unused = 0) override;
  bool Open(std::string path, int openFlags) override;
  uint64_t GetPosition() override;
  size_t ReadAt(uint64_t offset, void* destination, size_t count) override;
  bool IsOpen() const override { return view != nullptr; }

 protected:
  void* mapping = nullptr;  // start of the mapping, null when there is none
  const uint8_t* view = nullptr;
};

class Reader_Disk : public Reader {
 public:
  ~Reader_Disk() override;
  bool Read(void* destination, uint32_t count) override;
  bool Seek(uint64_t offset, int32_t origin = 0, int32_t unused = 0) override;
  bool Open(std::string path, int openFlags) override;
  uint64_t GetPosition() override;
  int64_t Close() override;
  size_t ReadAt(uint64_t offset, void* destination, size_t count) override;
  bool IsOpen() const override { return file >= 0; }

 private:
  // True while a regular file still exists at path.
  bool StillExists();
};

// A reader over another reader whose fixed-size pages are replaced, where a
// map names them, by bytes of a second reader (the newest copies of pages
// that a write-ahead log holds). Reads only; size may exceed the file's when
// the replacements reach past its end.
class Reader_Overlay : public Reader {
 public:
  // Page n (from 1) starts at base + (n - 1) * pageSize in the file;
  // replacements maps a page number to the offset of its copy in patches.
  Reader_Overlay(std::unique_ptr<Reader> file, std::unique_ptr<Reader> patches, uint64_t base, uint32_t pageSize,
                 std::unordered_map<uint32_t, uint64_t> replacements, uint64_t size);
  bool Read(void* destination, uint32_t count) override;
  bool Seek(uint64_t offset, int32_t origin = 0, int32_t unused = 0) override;
  uint64_t GetPosition() override;
  size_t ReadAt(uint64_t offset, void* destination, size_t count) override;
  bool IsOpen() const override { return file_ && file_->IsOpen(); }

 private:
  std::unique_ptr<Reader> file_;
  std::unique_ptr<Reader> patches_;
  uint64_t base_;
  uint32_t pageSize_;
  std::unordered_map<uint32_t, uint64_t> replacements_;
};

// Tries Reader_Buffer, Reader_MemoryMapped and Reader_Disk in this order and
// returns the first that opens; the disk reader is returned whatever its Open
// gave.
std::unique_ptr<Reader> makeReader(const std::string& path);
// The same without the heap copy: Reader_MemoryMapped, else Reader_Disk. For
// a look at a few parts of a file (the detection), where a copy of all of it
// would cost more than the look.
std::unique_ptr<Reader> makeReaderWithoutCopy(const std::string& path);

}  // namespace veltrane
