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

// Tries Reader_Buffer, Reader_MemoryMapped and Reader_Disk in this order and
// returns the first that opens; the disk reader is returned whatever its Open
// gave.
std::unique_ptr<Reader> makeReader(const std::string& path);

}  // namespace veltrane
