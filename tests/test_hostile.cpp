// Hostile files: the work of a scan, preview or save is bounded by the file,
// whatever its pages claim. Each shape here multiplied the work of a reader
// without the bound: the work is counted (bytes read, steps, rows, bytes of
// values), never timed.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "sqlite2/sqlite_ver2.h"
#include "sqlite3/btree_cells.h"
#include "sqlite3/record_decoder.h"
#include "tests/test_hostile_support.h"
#include "tests/test_sqlite2_builder.h"
#include "tests/test_sqlite3_support.h"

namespace veltrane::test {
namespace {

constexpr const char* kValueBudgetBox =
    "The table's cells hold far more data than the whole file: the file repeats its contents. The rows read so "
    "far are kept; the rest of the table is skipped.";

// ---- cell extents ----

// The rule as first written: for every cell, the smallest distance to a
// greater cell offset, each cut at the last freeblock in chain order that
// starts between the two.
std::vector<uint32_t> PairwiseCellSizes(const std::vector<uint16_t>& cells, const std::vector<uint16_t>& freeblocks) {
  std::vector<uint32_t> sizes(cells.size(), 0);
  for (size_t i = 0; i < cells.size(); ++i) {
    const uint32_t c = cells[i];
    bool found = false;
    uint32_t best = 0;
    for (const uint16_t e : cells) {
      if (e <= c) continue;
      uint32_t end = e;
      for (const uint16_t f : freeblocks)
        if (f > c && f < e) end = f;  // the last in chain order wins
      if (!found || end - c < best) best = end - c;
      found = true;
    }
    if (!found && !freeblocks.empty() && freeblocks[0] > c) best = freeblocks[0] - c;
    sizes[i] = best;
  }
  return sizes;
}

TEST(HostileCells, ExtentsBySortingEqualThePairwiseRule) {
  std::mt19937 random(20240611);
  for (const size_t cells : {0u, 1u, 2u, 7u, 60u, 400u}) {
    for (const uint16_t spread : {uint16_t{40}, uint16_t{4000}}) {
      SCOPED_TRACE(::testing::Message() << cells << " cells within " << spread);
      std::uniform_int_distribution<int> offset(8, 8 + spread);
      std::vector<uint16_t> offsets(cells), freeblocks(cells / 3);
      for (auto& o : offsets) o = static_cast<uint16_t>(offset(random));  // repeats happen
      for (auto& f : freeblocks) f = static_cast<uint16_t>(offset(random));
      EXPECT_EQ(EstimateCellSizes(offsets, freeblocks), PairwiseCellSizes(offsets, freeblocks));
    }
  }
}

// A 64 KB page can carry over 32,000 cell pointers: comparing every pair
// would take half a billion steps.
TEST(HostileCells, ExtentsOfTensOfThousandsOfCellsTakeNearLinearWork) {
  std::mt19937 random(7);
  std::vector<uint16_t> offsets(32000), freeblocks(6000);
  for (auto& o : offsets) o = static_cast<uint16_t>(random() % 65536);
  for (auto& f : freeblocks) f = static_cast<uint16_t>(random() % 65536);
  uint64_t steps = 0;
  const std::vector<uint32_t> sizes = EstimateCellSizes(offsets, freeblocks, &steps);
  EXPECT_EQ(sizes.size(), offsets.size());
  EXPECT_LT(steps, 100u * offsets.size()) << "quadratic would be about " << offsets.size() * offsets.size() / 2;
}

// ---- cells of one page ----

// A table t(a) rooted at page 2, whose leaf the test fills.
std::string OneLeafTable(Db3& db, const std::function<void(Db3&)>& leaf) {
  const uint32_t root = db.Alloc();
  EXPECT_EQ(root, 2u);
  db.Leaf(1, {db.SchemaCell(1, "table", "t", 2, "CREATE TABLE t(a)")});
  leaf(db);
  return db.Bytes();
}

uint64_t ShownBytes(const RecoverySession& s) {
  uint64_t total = 0;
  for (size_t r = 0; r < s.records.RowCount(); ++r)
    for (const RecordCell& c : s.records.Row(r)) total += c.text.size();
  return total;
}

TEST(HostileCells, RepeatedCellPointersAreReadOnce) {
  TempDir dir;
  Db3 db(4096);
  WriteFile(dir.File("repeated.db"), OneLeafTable(db, [](Db3& d) {
              std::vector<size_t> pointers(1500, 0);
              pointers.push_back(1);
              d.Leaf(2, {d.LeafCell(1, Record3({std::string("first")})), d.LeafCell(2, Record3({std::string("second")}))},
                     pointers);
            }));
  CountedScan scan(dir.File("repeated.db"));
  scan.Preview(scan.First(scan.session.tablesRoot));
  ASSERT_EQ(scan.session.records.RowCount(), 2u);
  EXPECT_EQ(scan.session.records.Cell(0, 0).text, "first");
  EXPECT_EQ(scan.session.records.Cell(1, 0).text, "second");
  // Told either as repeats or as damaged pointers left out.
  EXPECT_TRUE(scan.observer.HasLog("Page 2 names 1499 of its cells more than once; each cell is read once") ||
              scan.observer.HasLog("Page 2: 1499 damaged cell pointers were left out and 0 cells that no pointer "
                                   "names were read from its content area"));
}

// Cells every 4 bytes, each the start of a 2,000-byte text that runs over
// the cells after it: each cell's payload length is the serial type of the
// cell before.
TEST(HostileCells, CellsInsideCellsCoverThePageAFewTimesAtMost) {
  TempDir dir;
  Db3 db(4096);
  const size_t count = (4096 - 8) / 6, start = 4096 - 4 * count;
  WriteFile(dir.File("nested.db"), OneLeafTable(db, [&](Db3& d) {
              const std::string t = Varint(13 + 2 * 2000);
              ASSERT_EQ(t.size(), 2u);
              const std::string unit = t + std::string("\x01\x03", 2);  // rowid 1, record header of 3 bytes
              std::vector<size_t> offsets;
              for (size_t k = 0; k < count; ++k) {
                d.Page(2).replace(start + 4 * k, 4, unit);
                offsets.push_back(start + 4 * k);
              }
              d.RawLeaf(2, offsets, start);
            }));
  CountedScan scan(dir.File("nested.db"));
  scan.Preview(scan.First(scan.session.tablesRoot));
  EXPECT_EQ(scan.session.records.RowCount(), count);
  EXPECT_LE(ShownBytes(scan.session), kNestedCover * 4096) << "every cell would show most of the page";
  EXPECT_TRUE(scan.observer.HasLog("The cells of page 2 lie inside one another; each is read up to the next one"));
}

// ---- overflow chains ----

// 512-byte pages: a table whose leaves hold cells that all name one overflow
// chain: 200 pages that hold the first cell's text, or two pages that name
// each other while every cell declares the same 200 pages of text.
std::string SharedChainTable(bool loop, std::string& text) {
  Db3 db(512);
  db.Alloc();  // 2: the root
  db.Leaf(1, {db.SchemaCell(1, "table", "t", 2, "CREATE TABLE t(a)")});
  text.assign(200 * 508 + 20, 'y');
  const std::string payload = Record3({text});
  std::vector<std::string> cells;
  const uint32_t first = 3;
  if (loop) {
    const uint32_t a = db.Alloc(), b = db.Alloc();
    Put32(db.Page(a), 0, b);
    Put32(db.Page(b), 0, a);
  } else {
    cells.push_back(db.LeafCell(1, payload));
  }
  std::vector<uint32_t> pages;
  int64_t rowid = 2;
  for (uint32_t l = 0; l < 20; ++l) {
    const uint32_t n = db.Alloc();
    while (cells.size() < 9) cells.push_back(db.LeafCell(rowid++, payload, first));
    db.Leaf(n, cells);
    cells.clear();
    pages.push_back(n);
  }
  db.Interior(2, pages);
  return db.Bytes();
}

TEST(HostileOverflow, ASharedOrLoopingChainIsReadOnce) {
  for (const bool loop : {false, true}) {
    SCOPED_TRACE(loop ? "looping chain" : "shared chain");
    TempDir dir;
    std::string text;
    const std::string bytes = SharedChainTable(loop, text);
    WriteFile(dir.File("chain.db"), bytes);
    CountedScan scan(dir.File("chain.db"));
    const uint64_t scanned = scan.BytesRead();
    scan.Preview(scan.First(scan.session.tablesRoot));
    ASSERT_EQ(scan.session.records.RowCount(), 180u);
    if (!loop) {
      EXPECT_EQ(scan.session.records.Cell(0, 0).text, text) << "the first cell keeps its whole chain";
    }
    // Each of the 180 cells would read the chain again.
    EXPECT_LE(scan.BytesRead() - scanned, 3 * bytes.size());
  }
}

// ---- trees ----

// Interior pages that each name every interior page (themselves included)
// as children, and one leaf as their right child.
TEST(HostileTrees, CyclicAndSharedChildrenEnterEachPageOnce) {
  TempDir dir;
  Db3 db(512);
  const uint32_t interiors = 60;
  for (uint32_t i = 0; i < interiors + 1; ++i) db.Alloc();  // 2 .. 61 interior, 62 leaf
  const uint32_t leaf = interiors + 2;
  db.Leaf(1, {db.SchemaCell(1, "table", "t", 2, "CREATE TABLE t(a)")});
  db.Leaf(leaf, {db.LeafCell(1, Record3({std::string("row")}))});
  std::vector<uint32_t> children;
  for (uint32_t c = 2; c < leaf; ++c) children.push_back(c);
  children.push_back(leaf);
  for (uint32_t p = 2; p < leaf; ++p) db.Interior(p, children);
  const std::string bytes = db.Bytes();
  WriteFile(dir.File("cyclic.db"), bytes);
  CountedScan scan(dir.File("cyclic.db"));
  const uint64_t scanned = scan.BytesRead();
  scan.Preview(scan.First(scan.session.tablesRoot));
  ASSERT_EQ(scan.session.records.RowCount(), 1u);
  // The preview counts its rows, then reads them: two walks over the pages;
  // the mending of the children that do not fit reads the first and last key
  // of a page at most once per walk (a few dozen bytes).
  EXPECT_LE(scan.BytesRead() - scanned, 2 * bytes.size() + bytes.size() / 4);
}

// ---- save ----

// Forty tables whose schema rows all name root page 2, a tree of many rows.
std::string TablesOverOneTree(uint32_t leaves, uint32_t tables) {
  Db3 db(4096);
  db.Alloc();
  std::vector<uint32_t> pages;
  int64_t rowid = 1;
  for (uint32_t l = 0; l < leaves; ++l) {
    const uint32_t n = db.Alloc();
    std::vector<std::string> cells;
    for (int k = 0; k < 100; ++k, ++rowid) cells.push_back(db.LeafCell(rowid, Record3({rowid})));
    db.Leaf(n, cells);
    pages.push_back(n);
  }
  db.Interior(2, pages);
  std::vector<std::string> schema;
  for (uint32_t t = 0; t < tables; ++t) {
    const std::string name = "t" + std::to_string(t);
    schema.push_back(db.SchemaCell(t + 1, "table", name, 2, "CREATE TABLE " + name + "(a)"));
  }
  db.Leaf(1, schema);
  return db.Bytes();
}

int64_t RowsInOutput(const std::string& path) {
  int64_t total = 0;
  for (const auto& row : QueryRows(path, "SELECT name FROM sqlite_master WHERE type='table'"))
    total += QueryRows(path, "SELECT count(*) FROM \"" + row[0].bytes + "\"")[0][0].integer;
  return total;
}

// The scan's search for pages outside every tree walks each table's tree;
// tables naming one tree must not walk it once each.
TEST(HostileTrees, TablesOverOneTreeAreWalkedOnceByTheScan) {
  TempDir dir;
  const std::string bytes = TablesOverOneTree(10, 80);
  WriteFile(dir.File("shared.db"), bytes);
  CountedScan scan(dir.File("shared.db"));
  ASSERT_EQ(scan.session.tree.Children(scan.session.tablesRoot).size(), 80u);
  EXPECT_LE(scan.BytesRead(), 4 * bytes.size()) << "eighty walks of the tree";
}

TEST(HostileSave, TablesOverOneTreeShareItAFewTimesAtMost) {
  TempDir dir;
  WriteFile(dir.File("shared.db"), TablesOverOneTree(10, 40));
  CountedScan scan(dir.File("shared.db"));
  ASSERT_EQ(scan.session.tree.Children(scan.session.tablesRoot).size(), 40u);
  scan.SaveAll(dir.File("out.db"));
  EXPECT_FALSE(scan.session.lastSave.failed);
  EXPECT_EQ(RowsInOutput(dir.File("out.db")), int64_t{kPageShareLimit} * 1000) << "forty copies of the tree";
  // The tables past the few that share the root are not written at all.
  EXPECT_EQ(QueryRows(dir.File("out.db"), "SELECT count(*) FROM sqlite_master WHERE type = 'table'")[0][0].integer,
            int64_t{kPageShareLimit});
  size_t told = 0;
  for (const std::string& line : scan.observer.Log())
    if (line.find("names the root page 2 of 4 other tables already; it is not written") != std::string::npos) ++told;
  EXPECT_EQ(told, 40u - kPageShareLimit);
}

TEST(HostileSave, Sqlite2TablesOverOneTreeShareItAFewTimesAtMost) {
  TempDir dir;
  Ver2File f(5);
  std::vector<std::string> masters;
  for (int t = 0; t < 12; ++t) {
    const std::string name = "t" + std::to_string(t);
    masters.push_back(MasterRecord("table", name, "3", "create table " + name + "(a)"));
  }
  // Master page 2: twelve cells; page 3: the shared tree of forty rows.
  f.PageHeader(2, 0, 8);
  for (int t = 0; t < 12; ++t)
    f.Cell(2, static_cast<uint16_t>(8 + 80 * t), 0, t + 1 < 12 ? static_cast<uint16_t>(8 + 80 * (t + 1)) : 0, t + 1,
           masters[t]);
  f.PageHeader(3, 0, 8);
  for (int r = 0; r < 40; ++r)
    f.Cell(3, static_cast<uint16_t>(8 + 24 * r), 0, r + 1 < 40 ? static_cast<uint16_t>(8 + 24 * (r + 1)) : 0, r + 1,
           Record({std::string("v")}));
  WriteFile(dir.File("shared2.db"), f.bytes());
  CountedScan scan(dir.File("shared2.db"));
  ASSERT_EQ(scan.session.tree.Children(scan.session.tablesRoot).size(), 12u);
  scan.SaveAll(dir.File("out.db"));
  EXPECT_FALSE(scan.session.lastSave.failed);
  EXPECT_EQ(RowsInOutput(dir.File("out.db")), int64_t{kPageShareLimit} * 40);
}

// Cells whose overflow chain another cell claimed keep what they hold and a
// blob of their declared length, zero-filled: each repeats the whole file.
// The values of one job stay within a budget of a few times the file.
TEST(HostileSave, ValuesBeyondTheBudgetEndTheTableWithAMessage) {
  TempDir dir;
  Db3 db(512);
  db.Alloc();  // 2: the root
  db.Alloc();  // 3: the one overflow page, its next page 0
  db.Leaf(1, {db.SchemaCell(1, "table", "t", 2, "CREATE TABLE t(a)")});
  const uint32_t leaves = 70, pages = 3 + leaves;
  // A declared length whose local part is the smallest (39 bytes on 512-byte
  // pages) and that the file could hold.
  const uint64_t declared = 39 + 508 * uint64_t{pages - 2} + 480;
  const uint64_t blob = declared - 4;
  const std::string type = Varint(12 + 2 * blob);
  const std::string head = Varint(1 + type.size()) + type;
  ASSERT_EQ(head.size(), 4u);
  const std::string payload = head + std::string(480, 'z');
  std::vector<uint32_t> children;
  int64_t rowid = 1;
  for (uint32_t l = 0; l < leaves; ++l) {
    const uint32_t n = db.Alloc();
    std::vector<std::string> cells;
    for (int k = 0; k < 10; ++k) cells.push_back(db.LeafCell(rowid++, payload, 3, declared));
    db.Leaf(n, cells);
    children.push_back(n);
  }
  db.Interior(2, children);
  ASSERT_EQ(db.pageCount(), pages);
  WriteFile(dir.File("budget.db"), db.Bytes());
  CountedScan scan(dir.File("budget.db"));
  scan.Preview(scan.First(scan.session.tablesRoot));
  EXPECT_TRUE(scan.observer.HasMessage(kValueBudgetBox));
  EXPECT_LT(scan.session.records.RowCount(), 700u);
  EXPECT_GT(scan.session.records.RowCount(), 100u);
}

// ---- schema ----

// Page 1 names one schema cell in every pointer: a short statement, or one
// whose 60 KB text runs over an overflow chain.
TEST(HostileSchema, RepeatedSchemaCellsAreReadOnce) {
  for (const size_t filler : {size_t{0}, size_t{60000}}) {
    SCOPED_TRACE(filler);
    TempDir dir;
    Db3 db(4096);
    db.Alloc();
    db.Leaf(2, {db.LeafCell(1, Record3({int64_t{1}}))});
    const std::string sql = "CREATE TABLE t(a /* " + std::string(filler, 'x') + " */)";
    db.Leaf(1, {db.SchemaCell(1, "table", "t", 2, sql)}, std::vector<size_t>(600, 0));
    const std::string bytes = db.Bytes();
    WriteFile(dir.File("schema.db"), bytes);
    CountedScan scan(dir.File("schema.db"));
    EXPECT_EQ(scan.session.tree.Children(scan.session.tablesRoot).size(), 1u);
    EXPECT_EQ(scan.session.parser->tableDescriptors.size(), 1u);
    EXPECT_LE(scan.BytesRead(), 3 * bytes.size()) << "each pointer would read the text again";
    EXPECT_TRUE(
        scan.observer.HasLog("Schema page 1 names 599 of its cells more than once; each cell is read once") ||
        scan.observer.HasLog("Schema page 1: 599 damaged cell pointers were left out and 0 cells that no pointer "
                             "names were read from its content area"));
  }
}

TEST(HostileSchema, AHugeIndexColumnListKeepsItsEntriesWithinEightTimesItsText) {
  TempDir dir;
  Db3 db(4096);
  db.Alloc();
  db.Leaf(2, {db.LeafCell(1, Record3({int64_t{1}}))});
  std::string columns = "a0";
  for (int i = 1; i < 6000; ++i) columns += ", a" + std::to_string(i);
  const std::string sql = "CREATE INDEX i ON t(" + columns + ")";
  db.Leaf(1, {db.SchemaCell(1, "table", "t", 2, "CREATE TABLE t(a)"), db.SchemaCell(2, "index", "i", 0, sql)});
  WriteFile(dir.File("index.db"), db.Bytes());
  CountedScan scan(dir.File("index.db"));
  const auto& entries = scan.session.parser->indexStatements;
  ASSERT_FALSE(entries.empty());
  uint64_t total = 0;
  for (const std::string& e : entries) total += e.size();
  EXPECT_LE(total, 9 * sql.size()) << "one entry per column would hold " << 6000 * sql.size() / 2;
  EXPECT_EQ(entries.back(), sql.substr(0, sql.size() - 1)) << "the complete entry, without its parenthesis";
  // A short index keeps an entry per column.
  TempDir small;
  Db3 db2(4096);
  db2.Alloc();
  db2.Leaf(2, {db2.LeafCell(1, Record3({int64_t{1}}))});
  db2.Leaf(1, {db2.SchemaCell(1, "table", "t", 2, "CREATE TABLE t(a, b)"),
               db2.SchemaCell(2, "index", "i", 0, "CREATE INDEX i ON t(a, b)")});
  WriteFile(small.File("small.db"), db2.Bytes());
  CountedScan scan2(small.File("small.db"));
  EXPECT_EQ(scan2.session.parser->indexStatements,
            (std::vector<std::string>{"CREATE INDEX i ON t(a", "CREATE INDEX i ON t(a, b"}));
}

// The library's parser takes memory many times a statement's length before
// it refuses an index over too many columns: such a statement is refused by
// its length at once, and the rest of the save goes on.
TEST(HostileSchema, AStatementOfMegabytesIsRefusedByItsLengthAtTheSave) {
  TempDir dir;
  Db3 db(4096);
  db.Alloc();
  db.Leaf(2, {db.LeafCell(1, Record3({int64_t{1}}))});
  std::string columns = "a";
  while (columns.size() < 2'000'000) columns += ", a";
  db.Leaf(1, {db.SchemaCell(1, "table", "t", 2, "CREATE TABLE t(a)"),
              db.SchemaCell(2, "index", "i", 0, "CREATE INDEX i ON t(" + columns + ")")});
  WriteFile(dir.File("index.db"), db.Bytes());
  CountedScan scan(dir.File("index.db"));
  scan.SaveAll(dir.File("out.db"));
  EXPECT_EQ(RowsInOutput(dir.File("out.db")), 1);
  EXPECT_TRUE(scan.observer.HasLog("Error: statement too long"));
}

// ---- wide tables of short records ----

TEST(HostileRows, ShortRecordsOfAWideTableKeepNoCellsForTheColumnsTheyLack) {
  // SQLite 3: DecodeRecord touches only the entries the last record set.
  RecordLayout layout;
  layout.columnCount = 30000;
  RecoveredRow row;
  const std::string one = Record3({std::string("v")});
  const ByteView view(reinterpret_cast<const uint8_t*>(one.data()), one.size());
  const DecodeResult first = DecodeRecord(view, PayloadEnd::Complete, layout, row, SIZE_MAX);
  ASSERT_EQ(row.values.size(), 30000u);
  EXPECT_EQ(first.filled, 1u);
  row.values[29999] = RecoveredValue::Text("untouched");  // stands for work the decoder must not do
  const DecodeResult second = DecodeRecord(view, PayloadEnd::Complete, layout, row, first.filled);
  EXPECT_EQ(second.filled, 1u);
  EXPECT_EQ(row.values[29999].bytes, "untouched");

  // SQLite 2: a 2-byte record of a 5000-column table holds one field.
  const RecoveredRow row2 = ver2::DecodeRow(std::string("\x01\x01", 2), 2, 5000, -1, 1);
  EXPECT_EQ(row2.values.size(), 1u);
}

}  // namespace
}  // namespace veltrane::test
