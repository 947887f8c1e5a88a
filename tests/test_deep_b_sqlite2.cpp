// Deep recovery of SQLite 2 files (a lost master page, pages no tree
// reaches, lost_and_found tables) and the repaired values that keep the
// texts SQLite 2 stored.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <set>
#include <nlohmann/json.hpp>

#include "core/detect.h"
#include "core/text.h"
#include "tests/test_sqlite2_builder.h"

namespace veltrane::test {
namespace {

struct Row2 {
  int32_t rowid;
  std::vector<Field> fields;
  uint32_t leftChild = 0;
};

// Lays the cells out one after another from offset 8, chained in the order given.
void PutCells(Ver2File& file, uint32_t page, const std::vector<Row2>& rows, uint32_t rightChild = 0) {
  uint16_t at = 8;
  file.PageHeader(page, rightChild, rows.empty() ? 0 : at);
  for (size_t i = 0; i < rows.size(); ++i) {
    const std::string data = Record(rows[i].fields);
    const uint16_t size = static_cast<uint16_t>(16 + ((data.size() + 3) / 4) * 4);
    const uint16_t next = i + 1 < rows.size() ? static_cast<uint16_t>(at + size) : 0;
    ASSERT_LE(at + size, 1024) << "page " << page << " is full";
    file.Cell(page, at, rows[i].leftChild, next, rows[i].rowid, data);
    at = next;
  }
}

void PutMaster(Ver2File& file, const std::vector<std::vector<std::string>>& records, uint32_t page = 2) {
  std::vector<Row2> rows;
  int32_t rowid = 1;
  for (const auto& r : records) rows.push_back({rowid++, {r[0], r[1], r[1], r[2], r[3]}});
  PutCells(file, page, rows);
}

std::vector<Row2> Numbered(int32_t from, int32_t to, const std::string& prefix) {
  std::vector<Row2> rows;
  for (int32_t i = from; i <= to; ++i) rows.push_back({i, {std::nullopt, prefix + std::to_string(i), "x"}});
  return rows;
}

// A scan through the session, as the front ends run it.
struct Scan2 {
  explicit Scan2(const std::string& path) : session(observer, MakeParser) {
    observer.choose = [path, this](FileSelection& selection) {
      DescribeFile(path, selection, observer);
      return selection.formatVersion != 0;
    };
    session.OpenFile();
    session.WaitForWorker();
  }
  sqlite_ver2& parser() { return static_cast<sqlite_ver2&>(*session.parser); }
  std::map<std::string, TreeItemId> Tables() {
    std::map<std::string, TreeItemId> items;
    for (TreeItemId c : session.tree.Children(session.tablesRoot)) items[std::string(Trim(session.tree.Text(c)))] = c;
    return items;
  }
  std::vector<RecordRow> Preview(const std::string& label) {
    const auto items = Tables();
    EXPECT_EQ(items.count(label), 1u) << label;
    if (items.count(label) == 0) return {};
    session.StartPreview(items.at(label));
    session.WaitForWorker();
    std::vector<RecordRow> rows;
    for (size_t i = 0; i < session.records.RowCount(); ++i) rows.push_back(session.records.Row(i));
    return rows;
  }
  void SaveTo(const std::string& out) {
    for (TreeItemId group : {session.tablesRoot, session.indexesRoot, session.viewsRoot, session.triggersRoot})
      for (TreeItemId child : session.tree.Children(group)) session.tree.SetChecked(child, true);
    session.outputPathOverride = out;
    session.StartSave();
    session.WaitForWorker();
    ASSERT_FALSE(session.lastSave.failed);
  }
  RecordingObserver observer;
  RecoverySession session;
};

// Every value of a query as text, NULL as nullopt.
std::vector<std::vector<Field>> Query(const std::string& db, const std::string& sql) {
  std::vector<std::vector<Field>> rows;
  sqlite3* h = nullptr;
  sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(h, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
    while (sqlite3_step(st) == SQLITE_ROW) {
      std::vector<Field> row;
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        const unsigned char* t = sqlite3_column_text(st, i);
        row.push_back(t == nullptr ? Field() : Field(std::string(reinterpret_cast<const char*>(t),
                                                                  static_cast<size_t>(sqlite3_column_bytes(st, i)))));
      }
      rows.push_back(std::move(row));
    }
  } else {
    ADD_FAILURE() << sql << ": " << sqlite3_errmsg(h);
  }
  sqlite3_finalize(st);
  sqlite3_close(h);
  return rows;
}

// ---- a lost master page ----

TEST(DeepSqlite2, ZeroedMasterRootLeavesItsLeavesToTheSearch) {
  TempDir dir;
  const nlohmann::json truth = LoadJson(FixturePath("sqlite2/manytables.json"));
  std::string bytes = ReadFile(FixturePath("sqlite2/manytables.db"));
  // Page 2 is the interior root of the master tree; its leaves hold every record.
  bytes.replace(1024, 1024, std::string(1024, '\0'));
  const std::string path = dir.File("manytables.db");
  WriteFile(path, bytes);
  Scan2 scan(path);
  // SQLite 2 keeps entries on interior pages too: the six records of page 2
  // are gone, the tables they named come back as lost_and_found rows.
  const auto tables = scan.Tables();
  EXPECT_EQ(tables.size(), 55u);
  EXPECT_TRUE(scan.observer.HasLog("54 schema objects were found outside the schema tree"));
  EXPECT_EQ(scan.Preview("lost_and_found_3").size(), 12u);
  const auto rows = scan.Preview("t17");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][1].text, truth["expected_rows"]["t17"][0][1].get<std::string>());
  const std::string out = dir.File("out.db");
  scan.SaveTo(out);
  EXPECT_EQ(Query(out, "SELECT count(*) FROM sqlite_master WHERE type = 'table'"),
            (std::vector<std::vector<Field>>{{"55"}}));
  EXPECT_EQ(Query(out, "SELECT count(*) FROM t17"), (std::vector<std::vector<Field>>{{"2"}}));
}

TEST(DeepSqlite2, ZeroedOnlyMasterPageGivesLostAndFoundRows) {
  TempDir dir;
  const nlohmann::json truth = LoadJson(FixturePath("sqlite2/basic.json"));
  std::string bytes = ReadFile(FixturePath("sqlite2/basic.db"));
  bytes.replace(1024, 1024, std::string(1024, '\0'));
  const std::string path = dir.File("basic.db");
  WriteFile(path, bytes);
  Scan2 scan(path);
  ASSERT_EQ(scan.Tables().count("lost_and_found_3"), 1u);
  const std::string out = dir.File("out.db");
  scan.SaveTo(out);
  // Page 3, the rowid, then the fields; the INTEGER PRIMARY KEY field is
  // stored empty and its value is the rowid.
  std::vector<std::vector<Field>> want;
  for (const auto& r : truth["expected_rows"]["people"]) {
    std::vector<Field> row{"3", r[0].get<std::string>(), std::nullopt};
    for (size_t c = 1; c < r.size(); ++c) row.push_back(r[c].is_null() ? Field() : Field(r[c].get<std::string>()));
    want.push_back(row);
  }
  EXPECT_EQ(Query(out, "SELECT pgno, rowid, c0, c1, c2 FROM lost_and_found_3 ORDER BY rowid"), want);
}

// ---- pages no tree reaches ----

// t(id INTEGER PRIMARY KEY, name, tag): root 3 holds row 50 between page 4
// (an interior page with row 20 between leaves 6 and 7) and leaf 5. u has
// two columns on page 8; v, of t's shape, is whole on page 9.
Ver2File ThreeLevels() {
  Ver2File file(9);
  PutMaster(file, {{"table", "t", "3", "CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, tag TEXT)"},
                   {"table", "u", "8", "CREATE TABLE u(a TEXT, b TEXT)"},
                   {"table", "v", "9", "CREATE TABLE v(id INTEGER PRIMARY KEY, name TEXT, tag TEXT)"}});
  PutCells(file, 3, {{50, {std::nullopt, std::string("t50"), std::string("x")}, 4}}, 5);
  PutCells(file, 4, {{20, {std::nullopt, std::string("t20"), std::string("x")}, 6}}, 7);
  PutCells(file, 6, Numbered(1, 10, "t"));
  PutCells(file, 7, Numbered(30, 40, "t"));
  PutCells(file, 5, Numbered(60, 70, "t"));
  PutCells(file, 8, {{1, {std::string("a"), std::string("b")}}});
  PutCells(file, 9, Numbered(1, 10, "v"));
  return file;
}

TEST(DeepSqlite2, LeavesBelowAZeroedInteriorPageJoinTheirTable) {
  TempDir dir;
  Ver2File file = ThreeLevels();
  const std::string path = dir.File("levels.db");
  WriteFile(path, file.bytes());
  {
    Scan2 intact(path);
    EXPECT_EQ(intact.Preview("t").size(), 34u);
    EXPECT_TRUE(intact.parser().deep.tables.empty());
  }
  file.bytes().replace(Ver2File::At(4), 1024, std::string(1024, '\0'));
  WriteFile(path, file.bytes());
  Scan2 scan(path);
  // Row 20 went with page 4; the leaves below it come back into t, not into
  // v, whose tree is whole and whose rowids they would repeat.
  const auto rows = scan.Preview("t");
  EXPECT_EQ(rows.size(), 33u);
  std::set<std::string> ids;
  for (const RecordRow& r : rows) ids.insert(r[0].text);
  EXPECT_EQ(ids.count("20"), 0u);
  EXPECT_EQ(ids.count("1"), 1u);
  EXPECT_EQ(ids.count("40"), 1u);
  EXPECT_TRUE(scan.observer.HasLog("Table t takes 2 pages found outside its tree"));
  EXPECT_EQ(scan.Preview("v").size(), 10u);
  EXPECT_EQ(scan.Tables().size(), 3u);
  const std::string out = dir.File("out.db");
  scan.SaveTo(out);
  EXPECT_EQ(Query(out, "SELECT count(*), min(id), max(id) FROM t"), (std::vector<std::vector<Field>>{{"33", "1", "70"}}));
}

TEST(DeepSqlite2, LeavesThatTwoTablesCouldOwnGoToLostAndFound) {
  TempDir dir;
  Ver2File file = ThreeLevels();
  // v loses its page as well, and now fits page 6 and 7 as well as t does.
  PutCells(file, 9, {{100, {std::nullopt, std::string("v100"), std::string("x")}, 0}}, 2000);
  file.bytes().replace(Ver2File::At(4), 1024, std::string(1024, '\0'));
  const std::string path = dir.File("twins.db");
  WriteFile(path, file.bytes());
  Scan2 scan(path);
  ASSERT_EQ(scan.Tables().count("lost_and_found_3"), 1u);
  const auto rows = scan.Preview("lost_and_found_3");
  ASSERT_EQ(rows.size(), 21u);
  EXPECT_EQ(scan.session.records.ColumnHeadings(), (std::vector<std::string>{"pgno", "rowid", "c0", "c1", "c2"}));
  for (const RecordRow& r : rows) {
    EXPECT_TRUE(r[0].text == "6" || r[0].text == "7") << r[0].text;
    EXPECT_EQ("t" + r[1].text, r[3].text);
    EXPECT_TRUE(r[2].isNull);
  }
  EXPECT_EQ(scan.Preview("t").size(), 12u);
}

TEST(DeepSqlite2, FreePagesAreNoLostPages) {
  // freelist.db: a dropped table's 49 leaves are free but keep its rows.
  Scan2 scan(FixturePath("sqlite2/freelist.db"));
  EXPECT_EQ(scan.Tables().size(), 1u);
  EXPECT_TRUE(scan.parser().deep.tables.empty());
  for (const std::string& line : scan.observer.Log()) EXPECT_EQ(line.find("outside"), std::string::npos) << line;
}

// ---- values kept as texts ----

TEST(DeepSqlite2, NumericColumnsKeepTheTextsSqlite2Stored) {
  TempDir dir;
  Ver2File file(5);
  PutMaster(file, {{"table", "m", "3", "CREATE TABLE m(id INTEGER PRIMARY KEY, n NUMERIC UNIQUE, i INTEGER, r REAL, s TEXT)"},
                   {"table", "plain", "4", "CREATE TABLE plain(k INTEGER, x NUMERIC)"},
                   {"index", "m_r", "0", "CREATE INDEX m_r ON m(r)"}});
  const std::vector<std::vector<Field>> values = {
      {"2.5e10", "3.0", "42", "2.5e10"}, {"3.0", "42", "3.0", "3.0"}, {"007", "007", "0.5", "007"},
      {"42", "-7", "1e3", "42"},         {"3.25", "3.25", "3.25", "3.25"}, {" 5", "abc", std::nullopt, ""},
      {"-0", "9223372036854775808", "-0.0", "x"}, {std::nullopt, std::nullopt, "1.5", std::nullopt}};
  std::vector<Row2> rows;
  for (size_t k = 0; k < values.size(); ++k) {
    std::vector<Field> f{std::nullopt};
    f.insert(f.end(), values[k].begin(), values[k].end());
    rows.push_back({static_cast<int32_t>(k + 1), f});
  }
  PutCells(file, 3, rows);
  PutCells(file, 4, {{1, {std::string("1"), std::string("42")}}, {2, {std::string("2"), std::string("3.25")}}});
  const std::string path = dir.File("texts.db");
  WriteFile(path, file.bytes());
  Scan2 scan(path);
  const std::string out = dir.File("out.db");
  scan.SaveTo(out);

  EXPECT_EQ(Query(out, "PRAGMA integrity_check"), (std::vector<std::vector<Field>>{{"ok"}}));
  std::vector<std::vector<Field>> want;
  for (size_t k = 0; k < values.size(); ++k) {
    std::vector<Field> row{std::to_string(k + 1)};
    row.insert(row.end(), values[k].begin(), values[k].end());
    want.push_back(row);
  }
  EXPECT_EQ(Query(out, "SELECT CAST(id AS TEXT), CAST(n AS TEXT), CAST(i AS TEXT), CAST(r AS TEXT), CAST(s AS TEXT) "
                       "FROM m ORDER BY id"),
            want);
  // Texts that are exactly what the column makes of them are numbers, so
  // numeric queries find them.
  EXPECT_EQ(Query(out, "SELECT typeof(n), typeof(i), typeof(r) FROM m WHERE id = 5"),
            (std::vector<std::vector<Field>>{{"real", "real", "real"}}));
  EXPECT_EQ(Query(out, "SELECT typeof(n), typeof(i) FROM m WHERE id = 4"),
            (std::vector<std::vector<Field>>{{"integer", "integer"}}));
  EXPECT_EQ(Query(out, "SELECT count(*) FROM plain WHERE x > 10"), (std::vector<std::vector<Field>>{{"1"}}));
  // A table whose texts all read back keeps its statement; the others keep
  // the type of a converting column as a comment, its constraints unchanged.
  EXPECT_EQ(Query(out, "SELECT sql FROM sqlite_master WHERE name = 'plain'"),
            (std::vector<std::vector<Field>>{{"CREATE TABLE plain(k INTEGER, x NUMERIC)"}}));
  EXPECT_EQ(Query(out, "SELECT sql FROM sqlite_master WHERE name = 'm'"),
            (std::vector<std::vector<Field>>{
                {"CREATE TABLE m(id INTEGER PRIMARY KEY, n /* NUMERIC */ UNIQUE, i /* INTEGER */, r /* REAL */, s TEXT)"}}));
  EXPECT_EQ(Query(out, "SELECT count(*) FROM sqlite_master WHERE type = 'index'"),
            (std::vector<std::vector<Field>>{{"2"}}));
  EXPECT_TRUE(scan.observer.HasLog(
      "Table m: column n holds texts that its declared type NUMERIC would turn into other numbers; the type is kept as "
      "a comment so that every text stays as it was"));
}

TEST(DeepSqlite2, FixtureValuesComeBackAsTheLibraryGaveThem) {
  TempDir dir;
  for (const char* name : {"basic", "schema", "manytables", "multipage"}) {
    SCOPED_TRACE(name);
    const nlohmann::json truth = LoadJson(FixturePath(std::string("sqlite2/") + name + ".json"));
    Scan2 scan(FixturePath(std::string("sqlite2/") + name + ".db"));
    const std::string out = dir.File(std::string(name) + "_out.db");
    scan.SaveTo(out);
    EXPECT_EQ(Query(out, "PRAGMA integrity_check"), (std::vector<std::vector<Field>>{{"ok"}}));
    for (const auto& [table, rows] : truth["expected_rows"].items()) {
      std::string select;
      for (const auto& c : truth["columns"][table]) select += (select.empty() ? "" : ", ") + std::string("CAST(\"") +
                                                              c.get<std::string>() + "\" AS TEXT)";
      std::multiset<std::vector<Field>> want, got;
      for (const auto& r : rows) {
        std::vector<Field> row;
        for (const auto& v : r) row.push_back(v.is_null() ? Field() : Field(v.get<std::string>()));
        want.insert(row);
      }
      for (auto& r : Query(out, "SELECT " + select + " FROM \"" + table + "\"")) got.insert(r);
      EXPECT_EQ(got, want) << table;
    }
  }
}

}  // namespace
}  // namespace veltrane::test
