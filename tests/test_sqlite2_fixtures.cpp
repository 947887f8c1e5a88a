// The SQLite 2 parser on files written by the real SQLite 2.8 library: every
// schema object is found, and every table's rows come back as the library
// returned them, in the order of the b-tree walk.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>

#include "cli/object_names.h"
#include "core/detect.h"
#include "core/text.h"
#include "tests/test_sqlite2_builder.h"

namespace veltrane::test {
namespace {

using Json = nlohmann::json;
using Rows = std::vector<std::vector<Field>>;

const char* const kFixtures[] = {"basic",    "bigrow", "deleted",  "empty_table", "freelist", "manytables",
                                 "multipage", "overflow", "rowids", "schema",      "widerow"};

Json LoadTruth(const std::string& name) {
  std::ifstream in(FixturePath("sqlite2/" + name + ".json"));
  return Json::parse(in);
}

struct TableTruth {
  std::string name;
  int32_t root = 0;
  size_t columns = 0;
  int keyMark = 0;
  Rows rows;
  std::vector<int64_t> rowids;
  size_t pages = 0;  // interior and leaf pages of its b-tree
};

// The tables of a fixture with their expected rows, in sqlite_master order.
std::vector<TableTruth> Tables(const Json& truth) {
  std::vector<TableTruth> tables;
  for (const Json& m : truth["sqlite_master"]) {
    if (m[0] != "table") continue;
    TableTruth t;
    t.name = m[1].get<std::string>();
    t.root = std::stoi(m[3].get<std::string>());
    const auto columns = truth["columns"][t.name].get<std::vector<std::string>>();
    t.columns = columns.size();
    const std::string sql = ToUpperAscii(m[4].get<std::string>());
    for (size_t i = 0; i < columns.size(); ++i)
      if (sql.find(ToUpperAscii(columns[i]) + " INTEGER PRIMARY KEY") != std::string::npos)
        t.keyMark = 10 + static_cast<int>(i);
    for (const Json& row : truth["expected_rows"][t.name]) {
      std::vector<Field> cells;
      for (const Json& v : row) cells.push_back(v.is_null() ? Field() : Field(v.get<std::string>()));
      t.rows.push_back(std::move(cells));
    }
    for (const Json& id : truth["expected_rowids"][t.name]) t.rowids.push_back(std::stoll(id.get<std::string>()));
    const Json& tree = truth["layout"]["btrees"][t.name];
    t.pages = tree["interior_pages"].size() + tree["leaf_pages"].size();
    tables.push_back(std::move(t));
  }
  return tables;
}

// Number of pages of a b-tree whose walk gives these keys: a page's cells in
// key order, then the subtree of each child in key order. nullopt when the
// keys are no such walk.
std::optional<size_t> WalkPages(std::span<const int64_t> keys) {
  size_t cells = 1;
  while (cells < keys.size() && keys[cells] > keys[cells - 1]) ++cells;
  if (cells == keys.size()) return 1;  // a leaf
  const std::span<const int64_t> separators = keys.first(cells);
  auto childOf = [&](int64_t key) {
    return static_cast<size_t>(std::lower_bound(separators.begin(), separators.end(), key) - separators.begin());
  };
  size_t pages = 1, at = cells;
  for (size_t child = 0; child <= cells; ++child) {
    const size_t start = at;
    while (at < keys.size() && childOf(keys[at]) == child) ++at;
    if (at == start) return std::nullopt;  // an interior page has no empty child
    const std::optional<size_t> sub = WalkPages(keys.subspan(start, at - start));
    if (!sub) return std::nullopt;
    pages += *sub;
  }
  if (at != keys.size()) return std::nullopt;
  return pages;
}

// Checks that rows are exactly the table's expected rows in walk order.
void ExpectRowsInWalkOrder(const TableTruth& table, const Rows& rows, const std::string& where) {
  SCOPED_TRACE(where + " table " + table.name);
  Rows sortedGot = rows, sortedWant = table.rows;
  std::sort(sortedGot.begin(), sortedGot.end());
  std::sort(sortedWant.begin(), sortedWant.end());
  ASSERT_EQ(sortedGot, sortedWant);
  if (rows.empty()) return;
  std::map<std::vector<Field>, int64_t> rowidOf;
  for (size_t i = 0; i < table.rows.size(); ++i) rowidOf[table.rows[i]] = table.rowids.at(i);
  std::vector<int64_t> keys;
  for (const auto& row : rows) keys.push_back(rowidOf.at(row));
  EXPECT_EQ(WalkPages(keys), std::optional<size_t>(table.pages));
}

TEST(Sqlite2Fixtures, WalkOrderCheckTellsWalksFromOtherOrders) {
  const std::vector<int64_t> walk = {4, 8, 1, 2, 3, 5, 6, 7, 9, 10};
  EXPECT_EQ(WalkPages(walk), std::optional<size_t>(4));
  const std::vector<int64_t> reversedTail = {4, 8, 10, 9, 7, 6, 5, 3, 2, 1};
  EXPECT_EQ(WalkPages(reversedTail), std::nullopt);
  const std::vector<int64_t> keyOrder = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_EQ(WalkPages(keyOrder), std::optional<size_t>(1));
}

// Straight from the parser: every master record is collected, and every
// table's rows come back from its root page.
TEST(Sqlite2Fixtures, MasterRecordsAndRowsOfEveryTable) {
  for (const char* name : kFixtures) {
    SCOPED_TRACE(name);
    const Json truth = LoadTruth(name);
    Ver2Run run(FixturePath(std::string("sqlite2/") + name + ".db"));
    run.Parse();
    const sqlite_ver2& parser = run.parser();
    ASSERT_EQ(parser.masterRecordSizes.size(), truth["sqlite_master"].size());
    for (const Json& m : truth["sqlite_master"]) {
      // The record holds its name and, but for an automatic index, its statement.
      const std::string wanted = m[4].is_null() ? m[1].get<std::string>() : m[4].get<std::string>();
      const auto records = std::span(parser.textBuffers).first(parser.masterRecordSizes.size());
      EXPECT_TRUE(std::any_of(records.begin(), records.end(),
                              [&](const std::string& r) { return r.find(wanted) != std::string::npos; }))
          << wanted;
    }
    for (const TableTruth& table : Tables(truth))
      ExpectRowsInWalkOrder(table, Texts(run.Rows(table.root, static_cast<int>(table.columns), table.keyMark)),
                            "parser");
  }
}

// A session with the fixture scanned, as the window leaves it after Open.
struct ScannedFixture {
  explicit ScannedFixture(const std::string& name)
      : path(FixturePath("sqlite2/" + name + ".db")), truth(LoadTruth(name)), session(observer, MakeParser) {
    observer.choose = [this](FileSelection& selection) {
      DescribeFile(path, selection, observer);
      return true;
    };
    session.OpenFile();
    session.WaitForWorker();
  }
  std::string path;
  Json truth;
  RecordingObserver observer;
  RecoverySession session;
};

TEST(Sqlite2Fixtures, ScanListsEverySchemaObject) {
  for (const char* name : kFixtures) {
    SCOPED_TRACE(name);
    ScannedFixture f(name);
    RecoverySession& s = f.session;
    ASSERT_EQ(s.lastScan, ScanOutcome::Completed);
    ASSERT_NE(s.parser, nullptr);
    const std::map<std::string, TreeItemId> groups = {
        {"table", s.tablesRoot}, {"index", s.indexesRoot}, {"view", s.viewsRoot}, {"trigger", s.triggersRoot}};
    size_t listed = 0;
    for (const Json& m : f.truth["sqlite_master"]) {
      const std::string objectName = m[1].get<std::string>();
      if (m[4].is_null()) continue;  // an automatic index: counted, never listed
      ++listed;
      const TreeItemId item = FindObject(s, objectName);
      ASSERT_NE(item, kTreeRoot) << objectName;
      EXPECT_EQ(s.tree.Parent(item), groups.at(m[0].get<std::string>())) << objectName;
    }
    size_t items = 0;
    for (const auto& [kind, group] : groups) {
      for (TreeItemId child : s.tree.Children(group)) {
        ++items;
        EXPECT_EQ(s.tree.Text(child).find("autoindex"), std::string::npos) << s.tree.Text(child);
      }
    }
    EXPECT_EQ(items, listed);
    EXPECT_EQ(s.objectCount, f.truth["sqlite_master"].size());
  }
}

TEST(Sqlite2Fixtures, PreviewShowsEveryTableRow) {
  for (const char* name : kFixtures) {
    SCOPED_TRACE(name);
    ScannedFixture f(name);
    for (const TableTruth& table : Tables(f.truth)) {
      const TreeItemId item = FindObject(f.session, table.name);
      ASSERT_NE(item, kTreeRoot) << table.name;
      f.session.StartPreview(item);
      f.session.WaitForWorker();
      std::vector<RecordRow> rows;
      for (size_t i = 0; i < f.session.records.RowCount(); ++i) rows.push_back(f.session.records.Row(i));
      ExpectRowsInWalkOrder(table, Texts(rows), "preview");
      EXPECT_EQ(f.session.records.ColumnCount(), table.columns);
      EXPECT_TRUE(f.observer.HasLog(Format("Table %shave%zu entry", table.name.c_str(), table.rows.size())))
          << table.name;
    }
  }
}

// The command line's show prints the same rows, tab-separated after a header line.
TEST(Sqlite2Fixtures, CommandLineShowPrintsTheRows) {
  auto unescape = [](const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
      if (field[i] != '\\' || i + 1 == field.size()) {
        out.push_back(field[i]);
        continue;
      }
      const char c = field[++i];
      out.push_back(c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c);
    }
    return out;
  };
  for (const char* name : kFixtures) {
    SCOPED_TRACE(name);
    const Json truth = LoadTruth(name);
    for (const TableTruth& table : Tables(truth)) {
      if (std::string(name) == "manytables" && table.name != "t01" && table.name != "t60") continue;
      const CommandResult r = RunCli({"show", FixturePath(std::string("sqlite2/") + name + ".db"), table.name});
      ASSERT_EQ(r.status, 0) << table.name << r.err;
      std::vector<std::string> lines;
      for (size_t start = 0; start < r.out.size();) {
        const size_t end = r.out.find('\n', start);
        lines.push_back(r.out.substr(start, end - start));
        start = end == std::string::npos ? r.out.size() : end + 1;
      }
      ASSERT_FALSE(lines.empty()) << table.name;
      Rows rows;
      for (size_t i = 1; i < lines.size(); ++i) {
        std::vector<Field> cells;
        for (size_t start = 0;;) {
          const size_t tab = lines[i].find('\t', start);
          cells.push_back(unescape(lines[i].substr(start, tab - start)));
          if (tab == std::string::npos) break;
          start = tab + 1;
        }
        rows.push_back(std::move(cells));
      }
      // The printed text of a NULL is "NULL".
      TableTruth printed = table;
      for (auto& row : printed.rows)
        for (Field& cell : row)
          if (!cell) cell = "NULL";
      ExpectRowsInWalkOrder(printed, rows, "show");
    }
  }
}

}  // namespace
}  // namespace veltrane::test
