// SQLite 3 rows: record decoding and rendering, the walk over table b-trees,
// damaged values, progress and stop, compared with what the SQLite library
// reads from the same file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>

#include "cli/object_names.h"
#include "core/text.h"
#include "sqlite3/btree_cells.h"
#include "sqlite3/record_decoder.h"
#include "tests/test_sqlite3_support.h"

namespace veltrane::test {
namespace {

std::string Hex(const char* hex) {
  std::string out;
  for (const char* p = hex; *p;) {
    if (*p == ' ') {
      ++p;
      continue;
    }
    out.push_back(static_cast<char>(std::strtoul(std::string(p, 2).c_str(), nullptr, 16)));
    p += 2;
  }
  return out;
}

ByteView View(const std::string& s) { return ByteView(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }

// ---- one record ----

TEST(Sqlite3Records, ValuesTextsAndStatements) {
  struct Case {
    const char* name;
    std::string payload;
    int columns;
    int alias;
    bool utf16;
    std::vector<std::string> texts;
    const char* statement;
  };
  const Case cases[] = {
      {"integer and text", Hex("03 01 13 2A 61 62 63"), 2, -1, false, {"42", "abc"}, "insert into t values(42,'abc');"},
      {"NULL in the rowid alias column is the rowid", Hex("03 00 13 61 62 63"), 2, 0, false, {"7", "abc"},
       "insert into t values(7,'abc');"},
      {"NULL elsewhere stays NULL", Hex("03 00 13 61 62 63"), 2, 1, false, {"NULL", "abc"},
       "insert into t values(NULL,'abc');"},
      {"negative 48- and 24-bit integers", Hex("03 05 03 FF FF FF FF FF FE 80 00 00"), 2, -1, false,
       {"-2", "-8388608"}, "insert into t values(-2,-8388608);"},
      {"64-bit integer", Hex("02 06 80 00 00 00 00 00 00 01"), 1, -1, false, {"-9223372036854775807"},
       "insert into t values(-9223372036854775807);"},
      {"doubles round-trip", Hex("04 07 07 07 3F F8 00 00 00 00 00 00 3F B9 99 99 99 99 99 9A 40 08 00 00 00 00 00 00"),
       3, -1, false, {"1.500000", "0.100000", "3.000000"}, "insert into t values(1.5,0.10000000000000001,3.0);"},
      {"quotes doubled", Hex("02 1B 4F 27 42 72 69 65 6E"), 1, -1, false, {"O'Brien"},
       "insert into t values('O''Brien');"},
      {"constants and reserved types", Hex("05 08 09 0A 0B"), 4, -1, false, {"0", "1", "", ""},
       "insert into t values(0,1,'','');"},
      {"blob in a UTF-8 file", Hex("03 01 10 05 DE AD"), 2, -1, false, {"5", "< Blob Data >"},
       "insert into t values(5,?);"},
      {"text and blob in a UTF-16 file", Hex("03 15 10 68 00 69 00 41 00"), 2, -1, true, {"hi", "A"},
       "insert into t values('hi',?);"},
      {"columns after the record's last are missing", Hex("03 01 0D 05"), 4, -1, false, {"5", "", "", ""},
       "insert into t values(5,'','','');"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordLayout layout;
    layout.columnCount = c.columns;
    layout.rowidAlias = c.alias;
    layout.utf16 = c.utf16;
    RecoveredRow row;
    row.rowid = 7;
    const DecodeResult r = DecodeRecord(View(c.payload), PayloadEnd::Complete, layout, row);
    EXPECT_EQ(r.cut, PayloadEnd::Complete);
    std::vector<std::string> texts;
    for (const RecoveredValue& v : row.values) texts.push_back(ValueText(v, c.utf16).text);
    EXPECT_EQ(texts, c.texts);
    EXPECT_EQ(BuildInsertStatement("t", row), c.statement);
  }
}

TEST(Sqlite3Records, KindsTellNullMissingTextAndBlobApart) {
  RecordLayout layout;
  layout.columnCount = 4;
  layout.utf16 = true;
  RecoveredRow row;
  const std::string payload = Hex("04 00 15 10 68 00 69 00 41 00");
  DecodeRecord(View(payload), PayloadEnd::Complete, layout, row);
  ASSERT_EQ(row.values.size(), 4u);
  EXPECT_EQ(row.values[0].kind, RecoveredValue::Kind::Null);
  EXPECT_TRUE(ValueText(row.values[0], true).isNull);
  EXPECT_EQ(row.values[1].kind, RecoveredValue::Kind::Text);
  EXPECT_EQ(row.values[1].bytes, "hi");
  EXPECT_EQ(row.values[2].kind, RecoveredValue::Kind::Blob);
  EXPECT_EQ(row.values[2].bytes, std::string("A\0", 2));
  EXPECT_EQ(row.values[3].kind, RecoveredValue::Kind::Missing);
}

TEST(Sqlite3Records, LongHeadersAndShortPayloads) {
  // 200 one-byte integers: the header size is a two-byte varint.
  std::string payload = Hex("81 4B");  // 203 = 2 + 200 + 1
  payload += std::string(200, '\x01');
  payload.push_back('\x00');  // one more type, a NULL
  for (int i = 0; i < 200; ++i) payload.push_back(static_cast<char>(i % 100));
  RecordLayout layout;
  layout.columnCount = 201;
  RecoveredRow row;
  EXPECT_EQ(DecodeRecord(View(payload), PayloadEnd::Complete, layout, row).cut, PayloadEnd::Complete);
  ASSERT_EQ(row.values.size(), 201u);
  EXPECT_EQ(row.values[199].integer, 99);
  EXPECT_EQ(row.values[200].kind, RecoveredValue::Kind::Null);

  // A record that declares more than its payload: the value and the later
  // columns are missing and the cell is reported damaged.
  const std::string shortPayload = Hex("03 17 01 61 62");
  layout.columnCount = 2;
  EXPECT_EQ(DecodeRecord(View(shortPayload), PayloadEnd::Complete, layout, row).cut, PayloadEnd::CellContent);
  EXPECT_EQ(row.values[0].kind, RecoveredValue::Kind::Missing);
  EXPECT_EQ(row.values[1].kind, RecoveredValue::Kind::Missing);
  // The same bytes cut by an overflow chain that ended: the text keeps what
  // was gathered.
  EXPECT_EQ(DecodeRecord(View(shortPayload), PayloadEnd::ChainEnded, layout, row).cut, PayloadEnd::ChainEnded);
  EXPECT_EQ(row.values[0].bytes, "ab");
  EXPECT_EQ(row.values[1].kind, RecoveredValue::Kind::Missing);
}

// ---- tables of files built with the SQLite library ----

class CollectingSink : public RowSink {
 public:
  bool WriteRow(const RecoveredRow& row) override {
    rows.push_back(row);
    return true;
  }
  std::vector<RecoveredRow> rows;
};

// The position in the model of a table, -1 when the scan did not find it.
int32_t TablePosition(const sqlite_ver3& parser, const std::string& name) {
  for (size_t i = 0; i < parser.tableDescriptors.size(); ++i)
    if (UnquoteIdentifier(ParseTableDescriptor(parser.tableDescriptors[i]).name) == name)
      return static_cast<int32_t>(i);
  return -1;
}

// Decodes a table in insert mode into a collecting sink.
std::vector<RecoveredRow> RecoverTable(ScannedFile& scanned, const std::string& db, const std::string& table) {
  const auto info = QueryRows(db, "SELECT rootpage, (SELECT count(*) FROM pragma_table_info('" + table +
                                      "')) FROM sqlite_master WHERE name = '" + table + "'");
  EXPECT_EQ(info.size(), 1u);
  if (info.empty()) return {};
  CollectingSink sink;
  sqlite_ver3& p = *scanned.parser;
  p.rowSink = &sink;
  p.currentTable = TablePosition(p, table);
  if (p.currentTable < 0) {
    // Not found by the scan: give the table's statement as the scan keeps it.
    const std::string sql = QueryRows(db, "SELECT sql FROM sqlite_master WHERE name = '" + table + "'")[0][0].bytes;
    p.currentTable = static_cast<int32_t>(p.tableStatements.size());
    p.tableStatements.push_back(sql.substr(0, sql.rfind(')')));
  }
  scanned.session->insertRowsMode = true;
  p.RecoverRows(db, static_cast<int32_t>(info[0][0].integer), static_cast<int>(info[0][1].integer), table, 0);
  scanned.session->insertRowsMode = false;
  p.rowSink = nullptr;
  p.currentTable = -1;
  return sink.rows;
}

// Compares decoded rows with the library's rows of "SELECT * FROM table"
// (in rowid order, which is the walk's order for these files). Columns a
// short record lacks are Missing here and the column default there; a whole
// number in a REAL column is an integer on disk.
void ExpectSameRows(const std::vector<RecoveredRow>& got, const std::vector<std::vector<SqlValue>>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t r = 0; r < want.size(); ++r) {
    ASSERT_EQ(got[r].values.size(), want[r].size()) << "row " << r;
    for (size_t c = 0; c < want[r].size(); ++c) {
      const RecoveredValue& v = got[r].values[c];
      const SqlValue& w = want[r][c];
      SCOPED_TRACE(Format("row %zu column %zu", r, c));
      switch (w.type) {
        case SQLITE_NULL:
          EXPECT_TRUE(v.kind == RecoveredValue::Kind::Null || v.kind == RecoveredValue::Kind::Missing);
          break;
        case SQLITE_INTEGER:
          ASSERT_EQ(v.kind, RecoveredValue::Kind::Integer);
          EXPECT_EQ(v.integer, w.integer);
          break;
        case SQLITE_FLOAT:
          // A REAL column stores a whole number as an integer on disk.
          if (v.kind == RecoveredValue::Kind::Integer) {
            EXPECT_EQ(static_cast<double>(v.integer), w.real);
            break;
          }
          ASSERT_EQ(v.kind, RecoveredValue::Kind::Real);
          EXPECT_EQ(std::memcmp(&v.real, &w.real, sizeof(double)), 0);
          break;
        case SQLITE_TEXT:
          ASSERT_EQ(v.kind, RecoveredValue::Kind::Text);
          EXPECT_EQ(v.bytes, w.bytes);
          break;
        case SQLITE_BLOB:
          ASSERT_EQ(v.kind, RecoveredValue::Kind::Blob);
          EXPECT_EQ(v.bytes, w.bytes);
          break;
      }
    }
  }
}

std::vector<std::string> MixedTable() {
  return {
      "CREATE TABLE t(id INTEGER PRIMARY KEY, i INTEGER, r REAL, s TEXT, b BLOB, n)",
      "WITH RECURSIVE k(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM k WHERE x < 400) "
      "INSERT INTO t SELECT x, (x - 200) * 46116860184273879, x / 7.0, "
      "CASE WHEN x % 50 = 0 THEN printf('%.*c', 3000 + x, 'w') ELSE 'text ' || x || ' ünï' END, "
      "CASE WHEN x % 3 = 0 THEN randomblob(x % 40 * 60) ELSE NULL END, "
      "CASE WHEN x % 4 = 0 THEN NULL WHEN x % 4 = 1 THEN x ELSE 'v' END FROM k",
      "ALTER TABLE t ADD COLUMN later TEXT DEFAULT 'dflt'",
      "INSERT INTO t(i, later) VALUES(9223372036854775807, 'given'), (-9223372036854775807 - 1, NULL)",
  };
}

class Sqlite3RowsByGeometry : public ::testing::TestWithParam<std::tuple<int, const char*>> {};

TEST_P(Sqlite3RowsByGeometry, DecodedRowsEqualTheLibrarysRows) {
  const auto [pageSize, encoding] = GetParam();
  TempDir dir;
  const std::string db = dir.File("rows.db");
  BuildDatabase(db, MixedTable(), pageSize, encoding);
  auto scanned = ScanFile(db);
  ASSERT_NE(scanned->parser, nullptr);
  const auto rows = RecoverTable(*scanned, db, "t");
  // Rows written before the ALTER TABLE lack the last column.
  auto want = QueryRows(db, "SELECT id, i, r, s, b, n, CASE WHEN rowid <= 400 THEN NULL ELSE later END FROM t");
  ExpectSameRows(rows, want);
  ASSERT_EQ(rows.size(), 402u);
  EXPECT_EQ(rows[0].values[6].kind, RecoveredValue::Kind::Missing);
  EXPECT_TRUE(scanned->observer.Messages().size() == 1) << "no box but the scan's";
}

INSTANTIATE_TEST_SUITE_P(PageSizesAndEncodings, Sqlite3RowsByGeometry,
                         ::testing::Combine(::testing::Values(512, 1024, 4096, 65536),
                                            ::testing::Values("UTF-8", "UTF-16le")));

TEST(Sqlite3Rows, ReservedBytesAndFragmentsDoNotMoveTheOverflowPointer) {
  TempDir dir;
  const std::string db = dir.File("reserved.db");
  // Reserved bytes at each page end (header offset 20) shrink the usable size.
  {
    sqlite3* h = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
    int reserve = 32;
    sqlite3_file_control(h, nullptr, SQLITE_FCNTL_RESERVE_BYTES, &reserve);
    for (const std::string& s : MixedTable()) ASSERT_EQ(sqlite3_exec(h, s.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    // Deleting rows leaves freeblocks and fragments between the cells.
    ASSERT_EQ(sqlite3_exec(h, "DELETE FROM t WHERE id % 5 = 2", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(h);
  }
  ASSERT_EQ(static_cast<unsigned char>(ReadFile(db)[20]), 32);
  auto scanned = ScanFile(db);
  ASSERT_NE(scanned->parser, nullptr);
  ExpectSameRows(RecoverTable(*scanned, db, "t"),
                 QueryRows(db, "SELECT id, i, r, s, b, n, CASE WHEN rowid <= 400 THEN NULL ELSE later END FROM t"));
}

// ---- damaged values ----

// A file whose rows 2 and 4 hold a text over three overflow pages followed by
// another column.
struct OverflowFile {
  TempDir dir;
  std::string db = dir.File("overflow.db");
  OverflowFile() {
    BuildDatabase(db,
                  {"CREATE TABLE t(id INTEGER PRIMARY KEY, body TEXT, tail TEXT)",
                   "INSERT INTO t VALUES(1, 'short', 'a'), (2, printf('%.*c', 2500, 'x'), 'after'),"
                   "(3, 'plain', 'b'), (4, printf('%.*c', 2500, 'y'), 'end'), (5, 'last', 'c')"},
                  1024);
  }
  // The first overflow page of the row with the given rowid.
  uint32_t FirstOverflow(ScannedFile& s, int rowid) {
    const PageGeometry g = s.parser->Geometry();
    const int64_t root = QueryRows(db, "SELECT rootpage FROM sqlite_master WHERE name='t'")[0][0].integer;
    std::vector<uint8_t> page;
    ReadPage(*s.session->reader, g, root, page);
    const ByteView bytes(page.data(), page.size());
    for (uint32_t i = 0; i < s.parser->pageHeaders[root - 1].cellCount; ++i) {
      CellPayload cell(*s.session->reader, g, bytes, bytes.BE16(8 + 2 * i));
      if (cell.rowid() == rowid) {
        cellAt = (root - 1) * 1024ull + cell.varintBytes() + bytes.BE16(8 + 2 * i) + cell.localSize();
        return cell.firstOverflowPage();
      }
    }
    return 0;
  }
  uint64_t cellAt = 0;  // file offset of the first overflow page number of the row asked for last
};

TEST(Sqlite3Rows, ValuesOverOverflowPagesAndBrokenChains) {
  {
    SCOPED_TRACE("intact: the value spans three pages and the next column follows it");
    OverflowFile f;
    auto scanned = ScanFile(f.db);
    const auto rows = RecoverTable(*scanned, f.db, "t");
    ExpectSameRows(rows, QueryRows(f.db, "SELECT * FROM t"));
  }
  {
    SCOPED_TRACE("the chain ends after its first page: the value keeps its start, the row ends");
    OverflowFile f;
    auto first = ScanFile(f.db);
    const uint32_t page = f.FirstOverflow(*first, 2);
    ASSERT_NE(page, 0u);
    PatchFile(f.db, (page - 1) * 1024ull, std::string(4, '\0'));
    auto scanned = ScanFile(f.db);
    const auto rows = RecoverTable(*scanned, f.db, "t");
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[1].values[1].kind, RecoveredValue::Kind::Text);
    EXPECT_GT(rows[1].values[1].bytes.size(), 900u);
    EXPECT_LT(rows[1].values[1].bytes.size(), 2500u);
    EXPECT_EQ(rows[1].values[1].bytes.find_first_not_of('x'), std::string::npos);
    EXPECT_EQ(rows[1].values[2].kind, RecoveredValue::Kind::Missing);
    EXPECT_EQ(rows[3].values[2].bytes, "end") << "later rows are whole";
    EXPECT_EQ(scanned->observer.Messages().size(), 1u) << "no box for a chain that ends";
  }
  for (const std::string& number : {std::string(4, '\0'), std::string("\x00\x01\x00\x00", 4)}) {
    SCOPED_TRACE("the first overflow page number is 0 or beyond the file");
    OverflowFile f;
    auto first = ScanFile(f.db);
    f.FirstOverflow(*first, 2);
    PatchFile(f.db, f.cellAt, number);
    auto scanned = ScanFile(f.db);
    const auto rows = RecoverTable(*scanned, f.db, "t");
    ASSERT_EQ(rows.size(), 5u) << "the row stays, the page goes on";
    EXPECT_EQ(rows[1].values[0].integer, 2);
    EXPECT_EQ(rows[1].values[1].kind, RecoveredValue::Kind::Missing);
    EXPECT_EQ(rows[1].values[2].kind, RecoveredValue::Kind::Missing);
    EXPECT_EQ(rows[3].values[2].bytes, "end");
    EXPECT_TRUE(scanned->observer.HasMessage("Corruption in file Cell content area"));
  }
  {
    SCOPED_TRACE("an overflow page names a next page outside the file");
    OverflowFile f;
    auto first = ScanFile(f.db);
    const uint32_t page = f.FirstOverflow(*first, 4);
    PatchFile(f.db, (page - 1) * 1024ull, std::string("\x00\x10\x00\x00", 4));
    auto scanned = ScanFile(f.db);
    const auto rows = RecoverTable(*scanned, f.db, "t");
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[3].values[1].kind, RecoveredValue::Kind::Missing);
    EXPECT_EQ(rows[4].values[1].bytes, "last");
    EXPECT_TRUE(scanned->observer.HasMessage("Error in reading"));
  }
}

TEST(Sqlite3Rows, DamagedTreePagesAreSkipped) {
  TempDir dir;
  const std::string db = dir.File("tree.db");
  BuildDatabase(db,
                {"CREATE TABLE t(x TEXT)",
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 250) "
                 "INSERT INTO t SELECT printf('%050d', i) FROM n"},
                1024);
  const int64_t root = QueryRows(db, "SELECT rootpage FROM sqlite_master")[0][0].integer;
  auto scanned = ScanFile(db);
  ASSERT_EQ(scanned->parser->pageHeaders[root - 1].type, 5);
  std::vector<uint8_t> page;
  ReadPage(*scanned->session->reader, scanned->parser->Geometry(), root, page);
  const ByteView bytes(page.data(), page.size());
  // Child 0 points back at the root, child 1 at page 0.
  const uint16_t cell0 = bytes.BE16(12), cell1 = bytes.BE16(14);
  const uint64_t lost = scanned->parser->pageHeaders[bytes.BE32(cell0) - 1].cellCount +
                        scanned->parser->pageHeaders[bytes.BE32(cell1) - 1].cellCount;
  PatchFile(db, (root - 1) * 1024 + cell0, std::string{0, 0, 0, static_cast<char>(root)});
  PatchFile(db, (root - 1) * 1024 + cell1, std::string(4, '\0'));
  auto damaged = ScanFile(db);
  // The walk goes on past the damaged children (a child whose number is one
  // bit away from a page whose rows fit its place may come back); the leaves
  // it skips are found outside the tree and join the table again, each once.
  ASSERT_GT(lost, 0u);
  const auto rows = RecoverTable(*damaged, db, "t");
  EXPECT_EQ(rows.size(), 250u);
  std::set<std::string> distinct;
  for (const auto& r : rows) distinct.insert(r.values[0].bytes);
  EXPECT_EQ(distinct.size(), rows.size());
  // Each damaged child is told: mended (a page one bit away fits its place),
  // read once, or outside the file.
  int told = damaged->observer.HasMessage("File is corrupted") ? 1 : 0;
  for (const std::string& line : damaged->observer.Log())
    if (line.find("whose number differs by one bit") != std::string::npos ||
        line.find("is reached a second time") != std::string::npos)
      ++told;
  EXPECT_GE(told, 2);

  // A root page beyond the file yields no row and one box.
  auto again = ScanFile(db);
  again->session->insertRowsMode = true;
  again->parser->RecoverRows(db, 100000, 1, "t", 0);
  again->parser->RecoverRows(db, -3, 1, "t", 0);
  again->parser->RecoverRows(db, 0, 1, "t", 0);
  EXPECT_TRUE(again->observer.HasMessage("File is corrupted"));
}

// ---- preview: progress, stop, list texts ----

TEST(Sqlite3Rows, PreviewProgressAndStop) {
  TempDir dir;
  const std::string db = dir.File("preview.db");
  BuildDatabase(db,
                {"CREATE TABLE t(id INTEGER PRIMARY KEY, x TEXT, b BLOB)",
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 250) "
                 "INSERT INTO t SELECT i, printf('%0900d', i), CASE WHEN i = 1 THEN x'00' END FROM n"},
                4096);
  const int64_t root = QueryRows(db, "SELECT rootpage FROM sqlite_master")[0][0].integer;
  {
    auto scanned = ScanFile(db);
    RecoverySession& s = *scanned->session;
    const size_t ranges = scanned->observer.Ranges().size(), positions = scanned->observer.Positions().size();
    scanned->parser->rowProgress = 0;
    scanned->parser->RecoverRows(db, static_cast<int32_t>(root), 3, "t", 10);
    ASSERT_EQ(s.records.RowCount(), 250u);
    ASSERT_EQ(scanned->observer.Ranges().size(), ranges + 1);
    EXPECT_EQ(scanned->observer.Ranges().back(), 250u);
    const auto pos = scanned->observer.Positions();
    std::vector<uint32_t> sent(pos.begin() + static_cast<long>(positions), pos.end());
    ASSERT_EQ(sent.size(), 250u);
    for (uint32_t i = 0; i < 250; ++i) EXPECT_EQ(sent[i], i + 1);
    EXPECT_EQ(s.records.Cell(0, 2).text, "< Blob Data >");
    EXPECT_EQ(s.records.Cell(1, 2).text, "NULL");
    EXPECT_TRUE(s.records.Cell(1, 2).isNull);
    EXPECT_EQ(s.records.Cell(249, 1).text, Format("%0900d", 250));
  }
  {
    // Stop after ten rows: the bar jumps to the count, no further row.
    auto scanned = ScanFile(db);
    RecoverySession& s = *scanned->session;
    size_t shown = 0;
    s.records.SetRowTap([&](const RecordRow&) {
      if (++shown == 10) s.stopRequested = true;
    });
    scanned->parser->rowProgress = 0;
    scanned->parser->RecoverRows(db, static_cast<int32_t>(root), 3, "t", 10);
    s.records.SetRowTap(nullptr);
    EXPECT_EQ(s.records.RowCount(), 10u);
    EXPECT_EQ(scanned->observer.Positions().back(), 250u);
  }
}

TEST(Sqlite3Rows, EmptyTablesAndDatabasesInsideLargerFiles) {
  TempDir dir;
  const std::string db = dir.File("inner.db");
  BuildDatabase(db, {"CREATE TABLE empty(x)", "CREATE TABLE t(id INTEGER PRIMARY KEY, s TEXT)",
                     "INSERT INTO t VALUES(1, 'one'), (2, printf('%.*c', 5000, 'z'))"},
                1024);
  {
    SCOPED_TRACE("an empty root leaf: range 0, no row, no box");
    auto scanned = ScanFile(db);
    const int64_t root = QueryRows(db, "SELECT rootpage FROM sqlite_master WHERE name='empty'")[0][0].integer;
    const size_t boxes = scanned->observer.Messages().size();
    scanned->parser->rowProgress = 0;
    scanned->parser->RecoverRows(db, static_cast<int32_t>(root), 1, "empty", 0);
    EXPECT_EQ(scanned->session->records.RowCount(), 0u);
    EXPECT_EQ(scanned->observer.Ranges().back(), 0u);
    EXPECT_EQ(scanned->observer.Messages().size(), boxes);
  }
  {
    SCOPED_TRACE("the database starts 3000 bytes into the file");
    const std::string outer = dir.File("outer.bin");
    WriteFile(outer, std::string(3000, '\x5a') + ReadFile(db));
    auto scanned = ScanFile(outer);
    ASSERT_NE(scanned->parser, nullptr);
    EXPECT_EQ(scanned->session->startOffset, 3000u);
    ExpectSameRows(RecoverTable(*scanned, db, "t"), QueryRows(db, "SELECT * FROM t"));
  }
}

TEST(Sqlite3Rows, ManySmallRowsOfADeepTreeAllComeBack) {
  TempDir dir;
  const std::string db = dir.File("many.db");
  BuildDatabase(db, {"CREATE TABLE t(a INTEGER, b TEXT, c REAL)",
                     "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200000) "
                     "INSERT INTO t SELECT i, 'row', i * 0.5 FROM n"});
  auto scanned = ScanFile(db);
  const auto rows = RecoverTable(*scanned, db, "t");
  ASSERT_EQ(rows.size(), 200000u);
  EXPECT_EQ(rows.back().values[0].integer, 200000);
}

}  // namespace
}  // namespace veltrane::test
