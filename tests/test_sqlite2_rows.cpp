// SQLite 2 row recovery: what the record list, the log, the progress and the
// row sink receive, and how a stop request ends the walk.
#include <gtest/gtest.h>

#include "tests/test_sqlite2_builder.h"

namespace veltrane::test {
namespace {

// A table of three columns (the first the INTEGER PRIMARY KEY) on three
// pages: the root holds row 20, its left child rows 5 and 10, its right
// child row 30.
class Sqlite2Rows : public ::testing::Test {
 protected:
  void SetUp() override {
    Ver2File file(5);
    file.PageHeader(3, 5, 8);
    file.Cell(3, 8, 4, 0, 20, Record({std::nullopt, std::string("O'Neil"), std::string("2.5")}));
    file.PageHeader(4, 0, 8);
    file.Cell(4, 8, 0, 40, 5, Record({std::nullopt, std::nullopt, std::string("x")}));
    file.Cell(4, 40, 0, 0, 10, Record({std::nullopt, std::string(""), std::nullopt}));
    file.PageHeader(5, 0, 8);
    file.Cell(5, 8, 0, 0, 30, Record({std::string("31"), std::string("last"), std::string("y")}));
    path_ = dir_.File("rows.db");
    WriteFile(path_, file.bytes());
    run_ = std::make_unique<Ver2Run>(path_);
    run_->Parse();
  }

  sqlite_ver2& parser() { return run_->parser(); }
  RecoverySession& session() { return run_->session; }
  RecordingObserver& observer() { return run_->observer; }

  TempDir dir_;
  std::string path_;
  std::unique_ptr<Ver2Run> run_;
};

TEST_F(Sqlite2Rows, PreviewListsRowsInWalkOrderAndAnnouncesTheCount) {
  const auto rows = run_->Rows(3, 3, 10, "people");
  EXPECT_EQ(Texts(rows), (std::vector<std::vector<Field>>{{"20", "O'Neil", "2.5"},
                                                           {"5", std::nullopt, "x"},
                                                           {"10", "", std::nullopt},
                                                           {"31", "last", "y"}}));
  EXPECT_EQ(rows[1][1].text, "NULL");
  EXPECT_TRUE(observer().HasLog("Table peoplehave4 entry"));
  EXPECT_EQ(observer().Ranges(), (std::vector<uint32_t>{4}));
  EXPECT_EQ(observer().Positions(), (std::vector<uint32_t>{1, 2, 3, 4}));
}

TEST_F(Sqlite2Rows, NoCountLineDuringASaveOrWithoutListRows) {
  parser().saveStarted = true;
  run_->Rows(3, 3, 10);
  session().suppressListRows = true;
  parser().saveStarted = false;
  EXPECT_TRUE(run_->Rows(3, 3, 10).empty());
  for (const std::string& line : observer().Log()) EXPECT_EQ(line.find("entry"), std::string::npos) << line;
  EXPECT_TRUE(observer().Ranges().empty());
}

class CollectingSink : public RowSink {
 public:
  bool WriteRow(const RecoveredRow& row) override {
    rows.push_back(row);
    return rows.size() != failAt;
  }
  std::vector<RecoveredRow> rows;
  size_t failAt = 0;  // 1-based number of the row whose write fails
};

TEST_F(Sqlite2Rows, InsertModeHandsTypedRowsToTheSinkOnly) {
  CollectingSink sink;
  sink.failAt = 2;
  parser().rowSink = &sink;
  session().insertRowsMode = true;
  session().entryCount = 0;
  EXPECT_TRUE(run_->Rows(3, 3, 10).empty());
  ASSERT_EQ(sink.rows.size(), 4u);
  const RecoveredRow& first = sink.rows[0];
  EXPECT_EQ(first.rowid, 20);
  ASSERT_EQ(first.values.size(), 3u);
  EXPECT_EQ(first.values[0].kind, RecoveredValue::Kind::Integer);
  EXPECT_EQ(first.values[0].integer, 20);
  EXPECT_EQ(first.values[1].kind, RecoveredValue::Kind::Text);
  EXPECT_EQ(first.values[1].bytes, "O'Neil");
  EXPECT_EQ(sink.rows[1].values[1].kind, RecoveredValue::Kind::Null);
  EXPECT_EQ(sink.rows[2].values[1].kind, RecoveredValue::Kind::Text);  // '' is a text, not NULL
  EXPECT_EQ(sink.rows[3].values[0].kind, RecoveredValue::Kind::Text);  // a stored key column stays text
  EXPECT_EQ(session().entryCount, 3u);  // the failed row is not counted as written

  // Without a sink the walk still ends normally and writes nothing.
  parser().rowSink = nullptr;
  session().entryCount = 0;
  EXPECT_TRUE(run_->Rows(3, 3, 10).empty());
  EXPECT_EQ(session().entryCount, 0u);
}

TEST_F(Sqlite2Rows, StopBeforeTheCallReadsNothing) {
  session().stopRequested = true;
  // The scan has logged what it found outside the (missing) master tree.
  const auto logged = observer().Log();
  EXPECT_TRUE(run_->Rows(3, 3, 10).empty());
  EXPECT_EQ(observer().Log(), logged);
  EXPECT_TRUE(observer().Positions().empty());
}

TEST_F(Sqlite2Rows, StopDuringTheWalkEndsItAtTheNextRow) {
  session().records.SetRowTap([&](const RecordRow&) { session().stopRequested = true; });
  const auto rows = run_->Rows(3, 3, 10);
  EXPECT_EQ(rows.size(), 1u);
  // The last position sent is the table's count.
  EXPECT_EQ(observer().Positions(), (std::vector<uint32_t>{1, 4}));
}

TEST_F(Sqlite2Rows, CountEntriesSumsTheCheckedTables) {
  RecoverySession& s = session();
  s.tablesRoot = s.AddTreeItem("TABLES  ", kTreeRoot, TreePosition::Last);
  parser().tableDescriptors = {"a+id< P.K >~name~n~#3", "b+x~#4", "c+x~#999", "d+x~#5"};
  for (int32_t k = 3; k >= 0; --k) s.SetTreeItemData(s.AddTreeItem("t", s.tablesRoot, TreePosition::First), k);
  s.SetTreeItemData(s.AddTreeItem("bad", s.tablesRoot, TreePosition::Last), 17);
  EXPECT_EQ(parser().CountEntries(), 0u);
  const std::vector<TreeItemId> items = s.tree.Children(s.tablesRoot);
  s.tree.SetChecked(items[1], true);  // page 4: 2 rows
  s.tree.SetChecked(items[2], true);  // no such page
  s.tree.SetChecked(items[4], true);  // outside the list
  EXPECT_EQ(parser().CountEntries(), 2u);
  s.tree.SetChecked(s.tablesRoot, true);
  EXPECT_EQ(parser().CountEntries(), 4u + 2u + 0u + 1u);
}

}  // namespace
}  // namespace veltrane::test
