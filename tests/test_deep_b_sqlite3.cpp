// Deep recovery of SQLite 3 files: schema records outside the schema tree,
// table leaves that no tree reaches, and the lost_and_found tables, on
// databases built with the SQLite library and then damaged.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "core/text.h"
#include "sqlite3/btree_cells.h"
#include "tests/test_sqlite3_support.h"

namespace veltrane::test {
namespace {

std::string Trimmed(const std::string& s) { return std::string(Trim(s)); }

// The tree's table items: label -> item data.
std::map<std::string, int32_t> TableItems(RecoverySession& session) {
  std::map<std::string, int32_t> items;
  for (TreeItemId child : session.tree.Children(session.tablesRoot))
    items[Trimmed(session.tree.Text(child))] = session.tree.Data(child);
  return items;
}

TreeItemId TableItem(RecoverySession& session, const std::string& label) {
  for (TreeItemId child : session.tree.Children(session.tablesRoot))
    if (Trimmed(session.tree.Text(child)) == label) return child;
  return kTreeRoot;
}

// The record list after a click on a table's item.
std::vector<RecordRow> Preview(ScannedFile& f, const std::string& label) {
  const TreeItemId item = TableItem(*f.session, label);
  EXPECT_NE(item, kTreeRoot) << label;
  if (item == kTreeRoot) return {};
  f.session->StartPreview(item);
  f.session->WaitForWorker();
  std::vector<RecordRow> rows;
  for (size_t i = 0; i < f.session->records.RowCount(); ++i) rows.push_back(f.session->records.Row(i));
  return rows;
}

// Saves every object into out.
void SaveAll(ScannedFile& f, const std::string& out) {
  RecoverySession& s = *f.session;
  for (TreeItemId group : {s.tablesRoot, s.indexesRoot, s.viewsRoot, s.triggersRoot})
    for (TreeItemId child : s.tree.Children(group)) s.tree.SetChecked(child, true);
  s.outputPathOverride = out;
  s.StartSave();
  s.WaitForWorker();
  ASSERT_TRUE(s.lastSave.ran);
  ASSERT_FALSE(s.lastSave.failed);
}

// The values of a query as texts ("NULL" for NULL), one string per row.
std::vector<std::string> Texts(const std::string& db, const std::string& sql) {
  std::vector<std::string> out;
  for (const auto& row : QueryRows(db, sql)) {
    std::string line;
    for (const SqlValue& v : row) {
      if (!line.empty()) line += "|";
      if (v.type == SQLITE_NULL)
        line += "NULL";
      else if (v.type == SQLITE_INTEGER)
        line += std::to_string(v.integer);
      else if (v.type == SQLITE_FLOAT)
        line += Format("%.17g", v.real);
      else
        line += v.bytes;
    }
    out.push_back(line);
  }
  std::sort(out.begin(), out.end());
  return out;
}

int64_t RootOf(const std::string& db, const std::string& table) {
  return QueryRows(db, "SELECT rootpage FROM sqlite_master WHERE name = '" + table + "'")[0][0].integer;
}

void ZeroPage(const std::string& db, int64_t page, uint32_t pageSize, uint32_t from = 0) {
  PatchFile(db, (page - 1) * uint64_t{pageSize} + from, std::string(pageSize - from, '\0'));
}

// Twenty tables whose long statements spread the schema over several pages
// below an interior page 1.
std::vector<std::string> ManyTables() {
  std::vector<std::string> s;
  for (int t = 0; t < 20; ++t) {
    std::string create = Format("CREATE TABLE tab%02d(id INTEGER PRIMARY KEY, label TEXT", t);
    for (int c = 0; c < 6; ++c) create += Format(", column_with_a_long_name_%d TEXT DEFAULT 'x'", c);
    s.push_back(create + ")");
    s.push_back(Format("INSERT INTO tab%02d(label) VALUES('row one of %d'), ('row two of %d')", t, t, t));
  }
  s.push_back("CREATE INDEX tab03_label ON tab03(label)");
  s.push_back("CREATE VIEW v05 AS SELECT label FROM tab05");
  return s;
}

TEST(DeepSchema, DestroyedPageOneIsSearchedForInEveryLeaf) {
  for (const char* encoding : {"UTF-8", "UTF-16le"}) {
    SCOPED_TRACE(encoding);
    TempDir dir;
    const std::string db = dir.File("schema.db");
    BuildDatabase(db, ManyTables(), 1024, encoding);
    {
      auto intact = ScanFile(db);
      ASSERT_EQ(intact->parser->pageHeaders[0].type, 5) << "the schema must span several pages";
      EXPECT_EQ(TableItems(*intact->session).size(), 20u);
      // An intact file: nothing is found twice, nothing is said about it.
      for (const std::string& line : intact->observer.Log())
        EXPECT_EQ(line.find("outside"), std::string::npos) << line;
    }
    std::map<std::string, std::vector<std::string>> truth;
    for (int t = 0; t < 20; ++t) {
      const std::string name = Format("tab%02d", t);
      truth[name] = Texts(db, "SELECT id, label FROM " + name);
    }
    // The b-tree part of page 1 (the database header stays): an interior
    // page, so the leaves below it hold every record, each found once.
    ZeroPage(db, 1, 1024, 100);
    auto f = ScanFile(db);
    ASSERT_EQ(f->session->lastScan, ScanOutcome::Completed);
    const auto items = TableItems(*f->session);
    EXPECT_EQ(items.size(), 20u);
    EXPECT_EQ(f->session->tree.Children(f->session->indexesRoot).size(), 1u);
    EXPECT_EQ(f->session->tree.Children(f->session->viewsRoot).size(), 1u);
    EXPECT_TRUE(f->observer.HasLog("22 schema objects were found outside the schema tree"));
    // Their rows come back in the preview and the save.
    const auto rows = Preview(*f, "tab07");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][1].text, "row one of 7");
    const std::string out = dir.File("out.db");
    SaveAll(*f, out);
    for (const auto& [label, data] : items) {
      (void)data;
      EXPECT_EQ(Texts(out, "SELECT id, label FROM " + label), truth[label]) << label;
    }
    EXPECT_EQ(Texts(out, "SELECT name FROM sqlite_master WHERE type IN ('index', 'view')"),
              (std::vector<std::string>{"tab03_label", "v05"}));
    EXPECT_EQ(Texts(out, "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
  }
}

// Two tables of different shapes, many rows each; page size 512 makes
// two-level trees.
void BuildTwoTables(const std::string& db) {
  BuildDatabase(db,
                {"CREATE TABLE wide(id INTEGER PRIMARY KEY, a TEXT, b INTEGER, c REAL)",
                 "CREATE TABLE narrow(k TEXT, v INTEGER)",
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300) "
                 "INSERT INTO wide(a, b, c) SELECT printf('text %03d', i), i * 7, i / 4.0 FROM n",
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300) "
                 "INSERT INTO narrow SELECT printf('key %03d', i), i FROM n"},
                512);
}

TEST(DeepOrphans, LeavesOfADestroyedRootJoinTheirTable) {
  TempDir dir;
  const std::string db = dir.File("orphans.db");
  BuildTwoTables(db);
  const int64_t root = RootOf(db, "wide");
  {
    auto intact = ScanFile(db);
    ASSERT_EQ(intact->parser->pageHeaders[root - 1].type, 5);
    EXPECT_TRUE(intact->parser->deep.tables.empty());
  }
  const auto wide = Texts(db, "SELECT * FROM wide"), narrow = Texts(db, "SELECT * FROM narrow");
  ASSERT_EQ(wide.size(), 300u);
  ZeroPage(db, root, 512);
  auto f = ScanFile(db);
  // Only "wide" lost pages, and only "wide" has four columns: its leaves
  // come back into it, in the preview and the save.
  const auto rows = Preview(*f, "wide");
  EXPECT_EQ(rows.size(), 300u);
  EXPECT_TRUE(f->observer.HasLog("Table wide takes " +
                                 std::to_string(f->parser->deep.tables.begin()->second.pages.size()) +
                                 " pages found outside its tree"));
  EXPECT_EQ(TableItems(*f->session).count("lost_and_found_4"), 0u);
  const std::string out = dir.File("out.db");
  SaveAll(*f, out);
  EXPECT_EQ(Texts(out, "SELECT * FROM wide"), wide);
  EXPECT_EQ(Texts(out, "SELECT * FROM narrow"), narrow);
}

TEST(DeepOrphans, AmbiguousLeavesGoToLostAndFoundWithPageAndRowid) {
  TempDir dir;
  const std::string db = dir.File("twins.db");
  // Two tables of the same shape, both damaged: no page can be told apart.
  BuildDatabase(db,
                {"CREATE TABLE one(a TEXT, b INTEGER)", "CREATE TABLE two(a TEXT, b INTEGER)",
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200) "
                 "INSERT INTO one SELECT printf('one %03d', i), i FROM n",
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200) "
                 "INSERT INTO two SELECT printf('two %03d', i), i FROM n"},
                512);
  const int64_t rootOne = RootOf(db, "one"), rootTwo = RootOf(db, "two");
  ZeroPage(db, rootOne, 512);
  ZeroPage(db, rootTwo, 512);
  auto f = ScanFile(db);
  const auto items = TableItems(*f->session);
  ASSERT_EQ(items.count("lost_and_found_2"), 1u);
  const auto rows = Preview(*f, "lost_and_found_2");
  EXPECT_EQ(rows.size(), 400u);
  EXPECT_EQ(f->session->records.ColumnHeadings(), (std::vector<std::string>{"pgno", "rowid", "c0", "c1"}));
  // Every row names a leaf page of the file and its own rowid.
  std::set<std::string> seen;
  for (const RecordRow& r : rows) {
    const int64_t page = std::stoll(r[0].text);
    EXPECT_GT(page, 2);
    EXPECT_EQ(f->parser->pageHeaders[page - 1].type, 13);
    const std::string expectB = r[2].text.substr(4);  // "one 007" has b = 7 and rowid 7
    EXPECT_EQ(std::stoll(r[1].text), std::stoll(expectB));
    EXPECT_EQ(std::stoll(r[3].text), std::stoll(expectB));
    seen.insert(r[2].text);
  }
  EXPECT_EQ(seen.size(), 400u);
  EXPECT_TRUE(f->observer.HasLog("Table lost_and_found_2 is made for the rows of " +
                                 std::to_string(f->parser->deep.tables.begin()->second.pages.size()) +
                                 " pages that no table holds"));
  // The save creates it like any table.
  const std::string out = dir.File("out.db");
  SaveAll(*f, out);
  EXPECT_EQ(Texts(out, "SELECT count(*), count(DISTINCT c0), min(pgno) > 2 FROM lost_and_found_2"),
            std::vector<std::string>{"400|400|1"});
  EXPECT_EQ(Texts(out, "SELECT count(*) FROM lost_and_found_2 WHERE rowid <> c1"), std::vector<std::string>{"0"});
  EXPECT_EQ(Texts(out, "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
}

TEST(DeepOrphans, ATableWhoseRootWasCutOffGetsItsRowsBack) {
  TempDir dir;
  const std::string db = dir.File("cut.db");
  // "t" is created after a large table whose pages are freed again, so that
  // its root stands behind the freed pages and its rows land in them.
  BuildDatabase(db,
                {"PRAGMA secure_delete=OFF", "CREATE TABLE pad(a TEXT, b INTEGER)",
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400) "
                 "INSERT INTO pad SELECT printf('pad %03d', i), i FROM n",
                 "CREATE TABLE t(a TEXT, b INTEGER)", "DROP TABLE pad",
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 150) "
                 "INSERT INTO t SELECT printf('kept %03d', i), -i FROM n"},
                512);
  const int64_t root = RootOf(db, "t");
  const auto freePages = QueryRows(db, "PRAGMA freelist_count")[0][0].integer;
  ASSERT_GT(freePages, 0) << "pad's old leaves stay free, holding its rows";
  std::string bytes = ReadFile(db);
  ASSERT_GE(bytes.size(), uint64_t(root) * 512);
  bytes.resize((root - 1) * 512);
  WriteFile(db, bytes);

  auto f = ScanFile(db);
  const auto rows = Preview(*f, "t");
  EXPECT_EQ(rows.size(), 150u);
  EXPECT_TRUE(f->observer.HasLog(Format("The root page %lld of the table lies outside the file; its rows come from "
                                        "the pages found outside its tree",
                                        static_cast<long long>(root))));
  // The free pages that still hold pad's rows are no lost pages.
  EXPECT_EQ(TableItems(*f->session).size(), 1u);
  const std::string out = dir.File("out.db");
  SaveAll(*f, out);
  EXPECT_EQ(Texts(out, "SELECT count(*), min(b), max(b) FROM t"), std::vector<std::string>{"150|-150|-1"});
}

TEST(DeepOrphans, StaleCopiesAndForeignShapesStayApart) {
  TempDir dir;
  const std::string db = dir.File("stale.db");
  BuildTwoTables(db);
  const int64_t root = RootOf(db, "wide");
  auto intact = ScanFile(db);
  // A leaf of "narrow", copied over a free-standing page at the end of the
  // file: its rowids are already in "narrow", whose tree is whole.
  std::vector<uint8_t> page;
  std::vector<uint32_t> narrowLeaves;
  for (uint32_t p = 2; p <= intact->parser->pageHeaders.size(); ++p)
    if (intact->parser->pageHeaders[p - 1].type == 13 && p > static_cast<uint32_t>(RootOf(db, "narrow")))
      narrowLeaves.push_back(p);
  ASSERT_FALSE(narrowLeaves.empty());
  ReadPage(*intact->session->reader, intact->parser->Geometry(), narrowLeaves.back(), page);
  std::string data = ReadFile(db);
  data.append(reinterpret_cast<const char*>(page.data()), page.size());
  WriteFile(db, data);
  ZeroPage(db, root, 512);

  auto f = ScanFile(db);
  // "wide" gets its own leaves back, never the stale copy of a two-column page.
  EXPECT_EQ(Preview(*f, "wide").size(), 300u);
  EXPECT_EQ(Preview(*f, "narrow").size(), 300u);
  const auto items = TableItems(*f->session);
  ASSERT_EQ(items.count("lost_and_found_2"), 1u);
  EXPECT_EQ(Preview(*f, "lost_and_found_2").size(), intact->parser->pageHeaders[narrowLeaves.back() - 1].cellCount);
}

TEST(DeepOrphans, RowsThatLookLikeSchemaRecordsStayRows) {
  TempDir dir;
  const std::string db = dir.File("lookalike.db");
  // Five columns, a type word first and a page number fourth, like the schema.
  BuildDatabase(db,
                {"CREATE TABLE journal(kind TEXT, name TEXT, owner TEXT, page INTEGER, note TEXT)",
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200) "
                 "INSERT INTO journal SELECT 'table', 'x' || i, 'x' || i, i, 'moved on ' || i FROM n"},
                512);
  const int64_t root = RootOf(db, "journal");
  ZeroPage(db, root, 512);
  auto f = ScanFile(db);
  EXPECT_EQ(TableItems(*f->session).size(), 1u);
  EXPECT_EQ(Preview(*f, "journal").size(), 200u);
  for (const std::string& line : f->observer.Log()) EXPECT_EQ(line.find("schema tree"), std::string::npos) << line;
}

}  // namespace
}  // namespace veltrane::test
