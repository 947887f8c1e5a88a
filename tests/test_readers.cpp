// Readers: limits of the three strategies, refused requests, files that are
// not regular files, and files that disappear while they are read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "core/reader.h"
#include "tests/support.h"

using namespace veltrane;
using veltrane::test::TempDir;
using veltrane::test::WriteFile;

namespace {

std::string MakeSparseFile(const TempDir& dir, const std::string& name, uint64_t size) {
  const std::string path = dir.File(name);
  const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
  ::close(fd);
  return path;
}

std::string Digits(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>('0' + i % 10));
  return s;
}

struct ReaderKind {
  const char* name;
  std::function<std::unique_ptr<Reader>()> make;
  bool inMemory;
};

void PrintTo(const ReaderKind& kind, std::ostream* os) { *os << kind.name; }

class EveryReader : public ::testing::TestWithParam<ReaderKind> {};

const ReaderKind kKinds[] = {
    {"Buffer", [] { return std::make_unique<Reader_Buffer>(); }, true},
    {"MemoryMapped", [] { return std::make_unique<Reader_MemoryMapped>(); }, true},
    {"Disk", [] { return std::make_unique<Reader_Disk>(); }, false},
};

}  // namespace

TEST_P(EveryReader, ReadsSeeksAndRefusesOutsideTheFile) {
  TempDir dir;
  const std::string path = dir.File("ten.bin");
  WriteFile(path, Digits(10));
  auto reader = GetParam().make();
  ASSERT_TRUE(reader->Open(path, 0));
  EXPECT_EQ(reader->size, 10u);
  EXPECT_TRUE(reader->IsOpen());

  char buf[16];
  ASSERT_TRUE(reader->Seek(2));
  ASSERT_TRUE(reader->Read(buf, 3));
  EXPECT_EQ(std::string(buf, 3), "234");
  EXPECT_EQ(reader->GetPosition(), 5u);
  ASSERT_TRUE(reader->Read(buf, 2));
  EXPECT_EQ(reader->GetPosition(), 7u);

  // A read that crosses the end: refused in memory (destination untouched),
  // delivered up to the end from disk (the rest untouched).
  std::memset(buf, 'x', sizeof buf);
  ASSERT_TRUE(reader->Seek(8));
  const bool ok = reader->Read(buf, 4);
  if (GetParam().inMemory) {
    EXPECT_FALSE(ok);
    EXPECT_EQ(std::string(buf, 4), "xxxx");
    EXPECT_EQ(reader->GetPosition(), 8u);
  } else {
    EXPECT_TRUE(ok);
    EXPECT_EQ(std::string(buf, 4), "89xx");
  }

  if (GetParam().inMemory) {
    EXPECT_FALSE(reader->Seek(10));  // exactly the end is refused
    EXPECT_TRUE(reader->Seek(9));
    ASSERT_TRUE(reader->Seek(0));
    EXPECT_FALSE(reader->Read(buf, 10));  // a read of the whole size is refused
    EXPECT_EQ(reader->GetPosition(), 0u);
  }

  // ReadAt zero-fills what lies past the end and never touches other bytes.
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(reader->ReadAt(7, buf, 6), 3u);
  EXPECT_EQ(std::string(buf, 6), std::string("789\0\0\0", 6));
  EXPECT_EQ(reader->ReadAt(50, buf, 4), 0u);
  EXPECT_EQ(std::string(buf, 4), std::string(4, '\0'));
}

TEST_P(EveryReader, RefusesWhatIsNotARegularFile) {
  TempDir dir;
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  for (const std::string& path : {dir.path(), fifo, std::string("/dev/null"), dir.File("missing")}) {
    auto reader = GetParam().make();
    EXPECT_FALSE(reader->Open(path, 0)) << path;
    EXPECT_FALSE(reader->IsOpen());
    char c = 'x';
    EXPECT_EQ(reader->ReadAt(0, &c, 1), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Readers, EveryReader, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Readers, BufferTakesFilesBelow150000000BytesOnly) {
  TempDir dir;
  const std::string below = MakeSparseFile(dir, "below", Reader_Buffer::kMaxSize - 1);
  const std::string at = MakeSparseFile(dir, "at", Reader_Buffer::kMaxSize);
  EXPECT_NE(dynamic_cast<Reader_Buffer*>(makeReader(below).get()), nullptr);
  auto large = makeReader(at);
  EXPECT_EQ(dynamic_cast<Reader_Buffer*>(large.get()), nullptr);
  EXPECT_NE(dynamic_cast<Reader_MemoryMapped*>(large.get()), nullptr);
  EXPECT_EQ(large->size, Reader_Buffer::kMaxSize);
}

TEST(Readers, EmptyFileEndsWithTheDiskReader) {
  TempDir dir;
  const std::string path = dir.File("empty");
  WriteFile(path, "");
  EXPECT_FALSE(Reader_Buffer().Open(path, 0));
  EXPECT_FALSE(Reader_MemoryMapped().Open(path, 0));
  auto reader = makeReader(path);
  ASSERT_NE(dynamic_cast<Reader_Disk*>(reader.get()), nullptr);
  EXPECT_TRUE(reader->IsOpen());
  EXPECT_EQ(reader->size, 0u);
}

TEST(Readers, MissingFileGivesAnUnopenedDiskReader) {
  TempDir dir;
  auto reader = makeReader(dir.File("nothing-here"));
  ASSERT_NE(reader, nullptr);
  EXPECT_FALSE(reader->IsOpen());
  EXPECT_EQ(reader->size, 0u);
}

TEST(Readers, DeletedFileStopsTheDiskReaderButNotTheCopy) {
  TempDir dir;
  const std::string path = dir.File("gone.bin");
  WriteFile(path, Digits(100));
  Reader_Disk disk;
  Reader_Buffer copy;
  ASSERT_TRUE(disk.Open(path, 0));
  ASSERT_TRUE(copy.Open(path, 0));
  std::filesystem::remove(path);

  char buf[4];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_FALSE(disk.Seek(10));
  EXPECT_FALSE(disk.Read(buf, 4));
  EXPECT_EQ(std::string(buf, 4), "xxxx");
  EXPECT_EQ(disk.ReadAt(10, buf, 4), 0u);

  EXPECT_EQ(copy.ReadAt(10, buf, 4), 4u);
  EXPECT_EQ(std::string(buf, 4), "0123");
}

TEST(Readers, OpensReadOnlyAndLeavesTheFileAsItWas) {
  TempDir dir;
  const std::string path = dir.File("ro.bin");
  WriteFile(path, Digits(64));
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  for (const auto& kind : kKinds) {
    auto reader = kind.make();
    EXPECT_TRUE(reader->Open(path, 0)) << kind.name;
  }
  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);
  EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
  EXPECT_EQ(veltrane::test::ReadFile(path), Digits(64));
}

TEST(Readers, FilesThatShrinkUnderTheReaderReadAsZerosAndSaySo) {
  TempDir dir;
  const std::string path = dir.File("shrinks.bin");
  WriteFile(path, std::string(64 * 1024, 'm'));
  Reader_MemoryMapped mapped;
  Reader_Disk disk;
  ASSERT_TRUE(mapped.Open(path, 0));
  ASSERT_TRUE(disk.Open(path, 0));
  char buf[16];
  ASSERT_EQ(mapped.ReadAt(40000, buf, 16), 16u);
  EXPECT_FALSE(mapped.FileChanged());

  // Another program cuts the file: touching the lost pages of a mapping
  // raises SIGBUS, which must not end the process.
  ASSERT_EQ(::truncate(path.c_str(), 100), 0);
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(mapped.ReadAt(40000, buf, 16), 0u);
  EXPECT_EQ(std::string(buf, 16), std::string(16, '\0'));
  EXPECT_TRUE(mapped.FileChanged());
  ASSERT_TRUE(mapped.Seek(50000));
  EXPECT_FALSE(mapped.Read(buf, 8));

  EXPECT_EQ(disk.ReadAt(40000, buf, 16), 0u);
  EXPECT_TRUE(disk.FileChanged());
}
