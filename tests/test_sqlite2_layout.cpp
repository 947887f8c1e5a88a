// SQLite 2 layout and page access, on files built byte by byte.
#include <gtest/gtest.h>

#include "core/bytes.h"
#include "sqlite2/ver2_layout.h"
#include "tests/test_sqlite2_builder.h"

namespace veltrane::test {
namespace {

std::string Pattern(size_t n, char first = 'a') {
  std::string s;
  for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>(first + i % 26));
  return s;
}

TEST(Sqlite2Layout, RowidIsTheWholeSignedKey) {
  struct Case {
    uint8_t key[4];
    int32_t rowid;
  };
  const Case cases[] = {{{0x80, 0x00, 0x00, 0x01}, 1},
                        {{0x80, 0x00, 0x00, 0x00}, 0},
                        {{0x7f, 0xff, 0xff, 0xff}, -1},
                        {{0x7f, 0xff, 0xff, 0xfb}, -5},
                        {{0x80, 0x01, 0x11, 0x70}, 70000},
                        {{0xff, 0xff, 0xff, 0xff}, 2147483647},
                        {{0x00, 0x00, 0x00, 0x01}, -2147483647}};
  for (const Case& c : cases) EXPECT_EQ(ver2::DecodeRowid(ByteView(c.key, 4)), c.rowid);
}

TEST(Sqlite2Layout, OffsetWidthFollowsTheRecordSize) {
  EXPECT_EQ(ver2::RecordOffsetWidth(255), 1u);
  EXPECT_EQ(ver2::RecordOffsetWidth(256), 2u);
  EXPECT_EQ(ver2::RecordOffsetWidth(65535), 2u);
  EXPECT_EQ(ver2::RecordOffsetWidth(65536), 3u);
}

TEST(Sqlite2Layout, RecordFieldsOfEveryOffsetWidth) {
  const std::vector<std::vector<Field>> rows = {
      {std::string("ab"), std::nullopt, std::string("")},  // 1-byte offsets
      {std::string(300, 'x'), std::nullopt, std::string("end")},  // 2-byte offsets
      {std::string("tag"), std::string(70000, 'y'), std::nullopt},  // 3-byte offsets
  };
  const unsigned widths[] = {1, 2, 3};
  for (size_t r = 0; r < rows.size(); ++r) {
    const std::string record = Record(rows[r]);
    ASSERT_EQ(ver2::RecordOffsetWidth(static_cast<uint32_t>(record.size())), widths[r]);
    const RecoveredRow row = ver2::DecodeRow(record, static_cast<uint32_t>(record.size()), 3, -1, 1);
    ASSERT_EQ(row.values.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
      if (rows[r][i]) {
        EXPECT_EQ(row.values[i].kind, RecoveredValue::Kind::Text) << r << "/" << i;
        EXPECT_EQ(row.values[i].bytes, *rows[r][i]) << r << "/" << i;
      } else {
        EXPECT_EQ(row.values[i].kind, RecoveredValue::Kind::Null) << r << "/" << i;
      }
    }
  }
}

TEST(Sqlite2Layout, DamagedOffsetsGiveNullsOrCutFields) {
  // Offsets 4, 7, 5 (backwards), 200 (past the record of 9 bytes).
  const std::string record("\x04\x07\x05\xc8" "ab\0cd\0", 10);
  const std::vector<ver2::RecordField> f = ver2::DecodeRecordFields(record, 10, 3);
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(ver2::FieldText(record, f[0]), "ab");
  EXPECT_EQ(f[1].length, 0u);  // 7 -> 5: negative length
  EXPECT_EQ(f[2].start, 5u);   // 5 -> 200: cut at the end of the record
  EXPECT_EQ(f[2].length, 5u);
  EXPECT_EQ(ver2::FieldText(record, f[2]), "b");
  // More columns than the record holds offsets for: the record ends before
  // them (four bytes hold the offsets of three fields).
  const std::vector<ver2::RecordField> many = ver2::DecodeRecordFields(std::string("\x02\x04z", 4), 4, 6);
  ASSERT_EQ(many.size(), 3u);
  EXPECT_EQ(many[0].length, 2u);
  for (size_t i = 1; i < 3; ++i) EXPECT_EQ(many[i].length, 0u);
}

// Master records of 232 and 233 data bytes: the second takes its last byte
// from the first overflow page, after that page's next-page number.
TEST(Sqlite2Layout, MasterRecordAtTheLocalLimit) {
  TempDir dir;
  Ver2File file(4);
  const std::string fits = Pattern(232);
  const std::string over = Pattern(233, 'A');
  file.PageHeader(2, 0, 8);
  file.Cell(2, 8, 0, 264, 1, fits);
  file.Cell(2, 264, 0, 0, 2, over, {4});
  file.bytes()[Ver2File::At(4, 5)] = 'Z';  // beyond the one byte used: not read
  const std::string path = dir.File("limit.db");
  WriteFile(path, file.bytes());

  Ver2Run run(path);
  run.Parse();
  sqlite_ver2& p = run.parser();
  ASSERT_EQ(p.masterRecordSizes, (std::vector<uint32_t>{232, 233}));
  EXPECT_EQ(p.textBuffers[0], fits);
  EXPECT_EQ(p.textBuffers[1], over);
  EXPECT_EQ(p.ver2PageHeaders.size(), 4u);
  EXPECT_EQ(p.ver2PageHeaders[1].firstCell, 8u);
}

TEST(Sqlite2Layout, OnePageFileHasNoMasterRecord) {
  TempDir dir;
  Ver2File file(2);
  file.PageHeader(2, 0, 8);
  file.Cell(2, 8, 0, 0, 1, MasterRecord("table", "t", "3", "CREATE TABLE t(a)"));
  std::string bytes = file.bytes();
  bytes.resize(2047);  // page 2 lacks its last byte: it is not a page
  const std::string path = dir.File("short.db");
  WriteFile(path, bytes);

  Ver2Run run(path);
  run.Parse();
  EXPECT_EQ(run.parser().ver2PageHeaders.size(), 1u);
  EXPECT_TRUE(run.parser().textBuffers.empty());
  EXPECT_TRUE(run.observer.Messages().empty());
}

// The chain of page 2 ends after the cell whose next offset is 0, which is
// read; a cell outside the chain is not.
TEST(Sqlite2Layout, MasterChainEndsAfterItsLastCell) {
  TempDir dir;
  Ver2File file(2);
  file.PageHeader(2, 0, 400);
  file.Cell(2, 400, 0, 100, 1, "first");
  file.Cell(2, 100, 0, 0, 2, "last");
  file.Cell(2, 700, 0, 0, 3, "stale");
  const std::string path = dir.File("chain.db");
  WriteFile(path, file.bytes());

  Ver2Run run(path);
  run.Parse();
  EXPECT_EQ(run.parser().textBuffers, (std::vector<std::string>{"first", "last"}));
}

// Page 2 without a first-cell offset is read from offset 8; the records of
// every level below it are collected, the deeper ones included.
TEST(Sqlite2Layout, MasterWalkReachesEveryLevel) {
  TempDir dir;
  Ver2File file(6);
  file.PageHeader(2, 4, 0);  // damaged: first cell offset lost
  file.Cell(2, 8, 3, 0, 10, "root");
  file.PageHeader(3, 5, 8);
  file.Cell(3, 8, 6, 0, 5, "left");
  file.PageHeader(4, 0, 8);
  file.Cell(4, 8, 0, 0, 20, "right");
  file.PageHeader(5, 0, 8);
  file.Cell(5, 8, 0, 0, 7, "deep right");
  file.PageHeader(6, 0, 8);
  file.Cell(6, 8, 0, 0, 2, "deep left");
  const std::string path = dir.File("levels.db");
  WriteFile(path, file.bytes());

  Ver2Run run(path);
  run.session.stopRequested = true;  // the scan runs to its end all the same
  run.Parse();
  EXPECT_EQ(run.parser().textBuffers,
            (std::vector<std::string>{"root", "left", "deep left", "deep right", "right"}));
}

// A table whose root page records no first cell has no rows; its right child
// is not visited.
TEST(Sqlite2Layout, RootWithoutFirstCellHasNoRows) {
  TempDir dir;
  Ver2File file(4);
  file.PageHeader(3, 4, 0);
  file.Cell(3, 8, 0, 0, 1, Record({std::string("hidden")}));
  file.PageHeader(4, 0, 8);
  file.Cell(4, 8, 0, 0, 2, Record({std::string("child")}));
  const std::string path = dir.File("empty_root.db");
  WriteFile(path, file.bytes());

  Ver2Run run(path);
  run.Parse();
  run.parser().rowProgress = 0;
  EXPECT_EQ(run.parser().CountRows(path, 3), 0u);
  EXPECT_TRUE(run.Rows(3, 1).empty());
  EXPECT_TRUE(run.observer.HasLog("Table thave0 entry"));
}

// A field that starts at data position 230 with length 10 takes 2 bytes from
// the cell and 8 from the overflow page, after its next-page number; a
// 2-byte UTF-8 character split at the boundary comes back whole.
TEST(Sqlite2Layout, FieldsAcrossTheLocalOverflowBoundary) {
  TempDir dir;
  // Record of 3 fields with 2-byte offsets (8 header bytes): field 0 fills
  // positions 8..229, field 1 runs 230..239, field 2 holds the split character.
  const std::string first(221, 'p');  // + NUL = 222 bytes, ends at 230
  const std::string second = "ABCDEFGHI";  // + NUL = 10 bytes: 230..239
  std::string filler(250, 'q');
  std::string record = Record({first, second, filler});
  ASSERT_EQ(record.size(), 8 + 222 + 10 + 251u);
  ASSERT_EQ(record.substr(230, 10), std::string("ABCDEFGHI\0", 10));

  const std::string umlaut = "\xc3\xbc";  // first byte at position 231, second at 232
  const std::string longSplit = std::string(227, 'r') + umlaut + std::string(40, 's');
  const std::string longRecord = Record({longSplit});
  ASSERT_EQ(longRecord.substr(231, 2), umlaut);

  Ver2File file(6);
  file.PageHeader(3, 0, 8);
  file.Cell(3, 8, 0, 300, 1, record, {4});
  file.Cell(3, 300, 0, 0, 2, longRecord, {5});
  const std::string path = dir.File("boundary.db");
  WriteFile(path, file.bytes());
  ASSERT_EQ(file.bytes().substr(Ver2File::At(4), 4), std::string("\0\0\0\0", 4));
  ASSERT_EQ(file.bytes().substr(Ver2File::At(4, 4), 8), "CDEFGHI" + std::string(1, '\0'));

  Ver2Run run(path);
  run.Parse();
  const auto rows = Texts(run.Rows(3, 3));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (std::vector<Field>{first, second, filler}));
  EXPECT_EQ(rows[1][0], longSplit);
}

TEST(Sqlite2Layout, OverflowChainEndsAtAPageAlreadyRead) {
  TempDir dir;
  Ver2File file(4);
  const std::string value(3000, 'v');
  const std::string record = Record({value});
  file.PageHeader(3, 0, 8);
  file.Cell(3, 8, 0, 0, 1, record, {4});
  file.Put32(Ver2File::At(4), 4);  // page 4 names itself as the next page
  const std::string path = dir.File("ovfl_loop.db");
  WriteFile(path, file.bytes());

  Ver2Run run(path);
  run.Parse();
  const auto rows = Texts(run.Rows(3, 1));
  ASSERT_EQ(rows.size(), 1u);
  // 228 local text bytes after the offsets and one overflow page; the rest stays zero.
  EXPECT_EQ(rows[0][0], std::string(228 + 1020, 'v'));
}

// A chain whose last cell points back to the first, and a child pointer that
// leads back to the root: every cell is read once and the walk ends.
TEST(Sqlite2Layout, LoopsInChainsAndChildPointersEnd) {
  TempDir dir;
  Ver2File file(5);
  file.PageHeader(3, 4, 8);
  file.Cell(3, 8, 4, 200, 1, Record({std::string("a")}));
  file.Cell(3, 200, 1, 8, 2, Record({std::string("b")}));  // left child page 1, next back to 8
  file.PageHeader(4, 3, 8);                                     // right child: the root again
  file.Cell(4, 8, 3, 40, 3, Record({std::string("c")}));      // left child: the root again
  file.Cell(4, 40, 99, 0, 4, Record({std::string("d")}));     // no such page
  const std::string path = dir.File("loops.db");
  WriteFile(path, file.bytes());

  Ver2Run run(path);
  run.Parse();
  run.parser().rowProgress = 0;
  EXPECT_EQ(run.parser().CountRows(path, 3), 4u);
  const auto rows = Texts(run.Rows(3, 1));
  EXPECT_EQ(rows, (std::vector<std::vector<Field>>{{"a"}, {"b"}, {"c"}, {"d"}}));
}

// Pages serve one walk once: an overflow chain that runs into a page the
// walk used already (another cell's chain, the tree page itself) ends there.
TEST(Sqlite2Layout, PagesServeOneWalkOnce) {
  TempDir dir;
  Ver2File file(5);
  const std::string value(1500, 'v');
  file.PageHeader(3, 0, 8);
  file.Cell(3, 8, 0, 300, 1, Record({value}), {4, 5});
  file.Cell(3, 300, 0, 600, 2, Record({value}), {4, 5});  // the same chain again
  file.Cell(3, 600, 0, 0, 3, Record({value}));
  file.Put32(Ver2File::At(3, 600 + 248), 3);  // its overflow page: its own tree page
  const std::string path = dir.File("shared_chain.db");
  WriteFile(path, file.bytes());

  Ver2Run run(path);
  run.Parse();
  const auto rows = Texts(run.Rows(3, 1));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][0], value);
  EXPECT_EQ(rows[1][0], std::string(228, 'v'));  // the local bytes only
  EXPECT_EQ(rows[2][0], std::string(228, 'v'));
}

// Cells whose headers overlap cannot both be real: the chain ends at the
// second. Overlapping records of a damaged schema page never add up to
// more bytes than the file holds.
TEST(Sqlite2Layout, OverlappingCellsAreBounded) {
  TempDir dir;
  Ver2File file(4);
  file.PageHeader(3, 0, 40);
  file.Cell(3, 28, 0, 0, 2, Record({std::string("overlaps")}));  // its key is under the next cell
  file.Cell(3, 40, 0, 28, 1, Record({std::string("kept")}));
  file.PageHeader(2, 0, 8);
  for (uint16_t at = 8; at + 16 <= 1024; at += 16) {
    file.Cell(2, at, 0, static_cast<uint16_t>(at + 16 + 16 <= 1024 ? at + 16 : 0), 1, std::string(1, 'm'));
    file.Put16(Ver2File::At(2, at + 10), 232);  // each claims the full local size, over its neighbours
  }
  const std::string path = dir.File("overlap.db");
  WriteFile(path, file.bytes());

  Ver2Run run(path);
  run.Parse();
  EXPECT_EQ(Texts(run.Rows(3, 1)), (std::vector<std::vector<Field>>{{"kept"}}));
  uint64_t total = 0;
  for (uint32_t size : run.parser().masterRecordSizes) total += size;
  EXPECT_GT(run.parser().masterRecordSizes.size(), 1u);
  EXPECT_LE(total, file.bytes().size());
}

// A degenerate tree whose pages form one long line of right children: the
// walk keeps no call stack per level.
TEST(Sqlite2Layout, LongLineOfChildPagesIsWalked) {
  TempDir dir;
  const uint32_t pages = 3000;
  Ver2File file(pages);
  for (uint32_t p = 3; p <= pages; ++p) {
    file.PageHeader(p, p < pages ? p + 1 : 0, 8);
    file.Cell(p, 8, 0, 0, static_cast<int32_t>(p), Record({std::to_string(p)}));
  }
  const std::string path = dir.File("line.db");
  WriteFile(path, file.bytes());

  Ver2Run run(path);
  run.Parse();
  const auto rows = run.Rows(3, 1);
  ASSERT_EQ(rows.size(), pages - 2);
  EXPECT_EQ(rows.back()[0].text, std::to_string(pages));
}

// The key column's empty field shows the whole row number; NULLs read "NULL".
TEST(Sqlite2Layout, KeyColumnShowsTheRowNumber) {
  TempDir dir;
  Ver2File file(3);
  file.PageHeader(3, 0, 8);
  file.Cell(3, 8, 0, 40, 70000, Record({std::nullopt, std::string("O'Neil"), std::nullopt}));
  file.Cell(3, 40, 0, 0, -5, Record({std::nullopt, std::nullopt, std::string("")}));
  const std::string path = dir.File("key.db");
  WriteFile(path, file.bytes());

  Ver2Run run(path);
  run.Parse();
  const auto rows = run.Rows(3, 3, 10);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][0].text, "70000");
  EXPECT_FALSE(rows[0][0].isNull);
  EXPECT_EQ(rows[0][1].text, "O'Neil");
  EXPECT_EQ(rows[0][2].text, "NULL");
  EXPECT_TRUE(rows[0][2].isNull);
  EXPECT_EQ(rows[1][0].text, "-5");
  EXPECT_TRUE(rows[1][1].isNull);
  EXPECT_EQ(rows[1][2].text, "");
  EXPECT_FALSE(rows[1][2].isNull);
  // Without the key mark the same field is NULL.
  EXPECT_TRUE(run.Rows(3, 3, 0)[0][0].isNull);
}

// A file written on a big-endian machine keeps its header integers in that
// order; the key and the record stay as they are.
TEST(Sqlite2Layout, BigEndianHeadersAreRead) {
  TempDir dir;
  Ver2File file(5, true);
  file.PageHeader(2, 0, 8);
  file.Cell(2, 8, 0, 0, 1, MasterRecord("table", "t", "3", "CREATE TABLE t(a)"));
  file.PageHeader(3, 5, 8);
  file.Cell(3, 8, 0, 0, 1, Record({std::string(600, 'w')}), {4});
  file.PageHeader(5, 0, 12);
  file.Cell(5, 12, 0, 0, 2, Record({std::string("right")}));
  const std::string path = dir.File("big_endian.db");
  WriteFile(path, file.bytes());

  Ver2Run run(path);
  run.Parse();
  ASSERT_EQ(run.parser().masterRecordSizes.size(), 1u);
  EXPECT_NE(run.parser().textBuffers[0].find("CREATE TABLE t(a)"), std::string::npos);
  EXPECT_EQ(run.parser().tableDescriptors.size(), 1u);
  EXPECT_EQ(Texts(run.Rows(3, 1)), (std::vector<std::vector<Field>>{{std::string(600, 'w')}, {"right"}}));
}

}  // namespace
}  // namespace veltrane::test
