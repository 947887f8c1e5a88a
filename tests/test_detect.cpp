// Format detection: where the signatures are found, what the header tells,
// and the messages of the files that cannot be used.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/detect.h"
#include "tests/support.h"

using namespace veltrane;
using veltrane::test::RecordingObserver;
using veltrane::test::TempDir;
using veltrane::test::WriteFile;

namespace {

constexpr const char* kNotSupported = "File Format not supported, please select file again";
constexpr const char* kNoVersion = "Version cannot be detected.Please select the version to continue";
constexpr const char* kNotInForm = "The Database content is not in its appropriate form";

// A SQLite 3 header: signature, page size field and encoding byte.
std::string Sqlite3Header(uint16_t pageSizeField, uint8_t encoding, const std::string& magic = "SQLite format 3") {
  std::string h(100, '\0');
  h.replace(0, magic.size(), magic);
  h[16] = static_cast<char>(pageSizeField >> 8);
  h[17] = static_cast<char>(pageSizeField & 0xff);
  h[59] = static_cast<char>(encoding);
  return h;
}

std::string Pad(std::string s, size_t size, char fill = 'x') {
  s.resize(size, fill);
  return s;
}

std::vector<std::string> Texts(const RecordingObserver& o) {
  std::vector<std::string> out;
  for (const auto& m : o.Messages()) out.push_back(m.text);
  return out;
}

struct Described {
  FileSelection selection;
  FileDescription description;
  std::vector<std::string> messages;
};

Described Describe(const std::string& bytes) {
  TempDir dir;
  const std::string path = dir.File("db");
  WriteFile(path, bytes);
  RecordingObserver observer;
  Described d;
  d.description = DescribeFile(path, d.selection, observer);
  d.messages = Texts(observer);
  return d;
}

}  // namespace

TEST(Detect, Sqlite3HeaderAtTheStartOrBehindForeignBytes) {
  Described atZero = Describe(Pad(Sqlite3Header(4096, 1), 8192));
  EXPECT_EQ(atZero.selection.formatVersion, 2);
  EXPECT_EQ(atZero.selection.startOffset, 1u);
  EXPECT_EQ(atZero.selection.pageSize, 4096u);
  EXPECT_EQ(atZero.selection.pageCount, 2u);
  EXPECT_TRUE(atZero.selection.utf8);
  EXPECT_FALSE(atZero.selection.utf16);
  EXPECT_EQ(atZero.description.pageSizeText, "4096");
  EXPECT_TRUE(atZero.messages.empty());

  // The header is read where the signature stands: 100 bytes in.
  Described behind = Describe(Pad(std::string(100, 'j') + Sqlite3Header(1024, 2), 4096));
  EXPECT_EQ(behind.selection.formatVersion, 2);
  EXPECT_EQ(behind.selection.startOffset, 101u);
  EXPECT_EQ(behind.selection.pageSize, 1024u);
  EXPECT_TRUE(behind.selection.utf16);
  EXPECT_FALSE(behind.selection.utf8);
}

TEST(Detect, SearchStopsFiveHundredAndTwelveBytesBeforeTheEnd) {
  // Only signature 513 bytes before the end: found. 512 bytes before: not.
  const std::string sig = "SQLite format 3";
  std::string found = std::string(1000, 'a') + Pad(sig, 513, 'b');
  Described f = Describe(found);
  EXPECT_EQ(f.selection.formatVersion, 2);
  EXPECT_EQ(f.selection.startOffset, 1001u);

  std::string missed = std::string(1000, 'a') + Pad(sig, 512, 'b');
  Described m = Describe(missed);
  EXPECT_EQ(m.selection.formatVersion, 0);
  EXPECT_EQ(m.messages, (std::vector<std::string>{kNotInForm, kNoVersion}));
}

TEST(Detect, SignatureIgnoresLetterCase) {
  Described d = Describe(Pad(Sqlite3Header(512, 1, "sQlItE FORMAT 3"), 1024));
  EXPECT_EQ(d.selection.formatVersion, 2);
  EXPECT_EQ(d.selection.pageSize, 512u);
}

TEST(Detect, HeaderFieldsThatNeedCare) {
  // The page-size field 1 is how SQLite writes 65536.
  Described big = Describe(Pad(Sqlite3Header(1, 1), 65536 * 2));
  EXPECT_EQ(big.selection.pageSize, 65536u);
  EXPECT_EQ(big.description.pageSizeText, "65536");
  EXPECT_EQ(big.selection.pageCount, 2u);

  // Encoding 3 (UTF-16 big-endian) sets neither flag.
  Described be = Describe(Pad(Sqlite3Header(1024, 3), 2048));
  EXPECT_FALSE(be.selection.utf8);
  EXPECT_FALSE(be.selection.utf16);
  EXPECT_EQ(be.description.encodingChecked, 0);
  EXPECT_EQ(be.description.encodingByte, 3);

  // A page-size field of 0 leaves no page size.
  Described zero = Describe(Pad(Sqlite3Header(0, 1), 2048));
  EXPECT_EQ(zero.selection.formatVersion, 2);
  EXPECT_EQ(zero.selection.pageSize, 0u);
}

TEST(Detect, ChoosingAnotherFileClearsTheEncodingOfTheFirst) {
  TempDir dir;
  WriteFile(dir.File("a"), Pad(Sqlite3Header(1024, 2), 2048));
  WriteFile(dir.File("b"), Pad(Sqlite3Header(1024, 1), 2048));
  RecordingObserver observer;
  FileSelection selection;
  DescribeFile(dir.File("a"), selection, observer);
  EXPECT_TRUE(selection.utf16);
  DescribeFile(dir.File("b"), selection, observer);
  EXPECT_TRUE(selection.utf8);
  EXPECT_FALSE(selection.utf16);
}

TEST(Detect, Sqlite2SignatureAtTheStartOrFurtherIn) {
  const std::string sig = kSqlite2Signature;
  Described atZero = Describe(Pad(sig, 3072, '\0'));
  EXPECT_EQ(atZero.selection.formatVersion, 1);
  EXPECT_EQ(atZero.selection.startOffset, 0u);
  EXPECT_EQ(atZero.selection.pageSize, 1024u);
  EXPECT_EQ(atZero.selection.pageCount, 3u);
  EXPECT_TRUE(atZero.selection.utf8);
  EXPECT_EQ(atZero.description.pageSizeText, "1024");

  Described further = Describe(Pad(std::string(7, 'z') + sig, 4096, '\0'));
  EXPECT_EQ(further.selection.formatVersion, 1);
  EXPECT_EQ(further.selection.startOffset, 8u);

  // A signature that starts 1024 bytes before the end is not accepted.
  Described late = Describe(std::string(2048, 'z') + Pad(sig, 1024, '\0'));
  EXPECT_EQ(late.selection.formatVersion, 0);
  EXPECT_EQ(late.messages, (std::vector<std::string>{kNotInForm, kNoVersion}));
}

TEST(Detect, FilesTooSmallOrNotDatabases) {
  struct Case {
    const char* what;
    std::string bytes;
    std::vector<std::string> messages;
  };
  const std::vector<Case> cases = {
      {"below 512 bytes", std::string(511, 'a'), {kNotSupported, kNoVersion}},
      {"exactly 512 bytes, no signature", std::string(512, 'a'), {kNotSupported, kNoVersion}},
      {"below 1024 bytes, no SQLite 3 signature", std::string(1023, 'a'), {kNotSupported, kNoVersion}},
      {"text file of 5000 bytes", std::string(5000, 't'), {kNotInForm, kNoVersion}},
      {"empty", "", {kNotSupported, kNoVersion}},
  };
  for (const Case& c : cases) {
    Described d = Describe(c.bytes);
    EXPECT_EQ(d.selection.formatVersion, 0) << c.what;
    EXPECT_EQ(d.selection.pageSize, 0u) << c.what;
    EXPECT_EQ(d.messages, c.messages) << c.what;
    EXPECT_TRUE(d.description.pathAccepted) << c.what;
  }
  // A 512-byte file is compared at offset 0.
  Described exact = Describe(Pad(Sqlite3Header(512, 1), 512));
  EXPECT_EQ(exact.selection.formatVersion, 2);
}

TEST(Detect, PathsThatAreNotFiles) {
  TempDir dir;
  for (const std::string& path : {dir.File("missing.db"), dir.path()}) {
    RecordingObserver observer;
    FileSelection selection;
    selection.startOffset = 9;
    selection.utf16 = true;
    const FileDescription d = DescribeFile(path, selection, observer);
    EXPECT_FALSE(d.pathAccepted);
    EXPECT_EQ(Texts(observer), std::vector<std::string>{"Please select valid database file."});
    EXPECT_EQ(selection.startOffset, 0u);
    EXPECT_FALSE(selection.utf16);
  }
}

TEST(Detect, ManualChoiceReplacesWhatDetectionFound) {
  FileSelection s;
  s.formatVersion = 0;
  ManualChoice choice;
  choice.formatVersion = 2;
  choice.pageSize = 4096;
  choice.utf16 = true;
  choice.headerOffset = 0;
  ApplyManualChoice(choice, s, 4096 * 5 + 100);
  EXPECT_EQ(s.formatVersion, 2);
  EXPECT_EQ(s.pageSize, 4096u);
  EXPECT_EQ(s.pageCount, 5u);
  EXPECT_TRUE(s.utf16);
  EXPECT_FALSE(s.utf8);
  EXPECT_EQ(s.startOffset, 1u);

  FileSelection v2;
  ManualChoice two;
  two.formatVersion = 1;
  ApplyManualChoice(two, v2, 3000);
  EXPECT_EQ(v2.pageSize, 1024u);
  EXPECT_TRUE(v2.utf8);
  EXPECT_EQ(v2.pageCount, 2u);
}
