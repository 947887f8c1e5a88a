#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/column_mapping.h"
#include "core/session.h"
#include "tests/support.h"

namespace veltrane {
namespace {

// A parser whose model is filled by the test; RecoverRows can be held open to
// keep a worker alive.
class ModelParser : public sqlite_base {
 public:
  std::string CleanIdentifier(const std::string& name) override { return veltrane::CleanIdentifier(name); }
  void RecoverRows(std::string, int32_t, int, const std::string&, int) override {
    inside = true;
    while (hold) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::atomic<bool> hold{false};
  std::atomic<bool> inside{false};
};

struct Fixture {
  test::RecordingObserver observer;
  RecoverySession session{observer, [](int32_t) { return std::unique_ptr<sqlite_base>(); }};
  ModelParser* parser = nullptr;
  TreeItemId tables = kTreeRoot, indexes = kTreeRoot, file = kTreeRoot;
  std::vector<TreeItemId> tableItems;

  Fixture() {
    auto p = std::make_unique<ModelParser>();
    parser = p.get();
    session.parser = std::move(p);
    parser->owner = &session;
    file = session.tree.AddItem("/data/shop.db", kTreeRoot, TreePosition::Last);
    session.tree.SetData(file, -1);
    tables = session.tree.AddItem("TABLES  ", file, TreePosition::Last);
    session.tree.SetData(tables, -2);
    indexes = session.tree.AddItem("INDEXES  ", file, TreePosition::Last);
    session.tree.SetData(indexes, -3);
    session.tablesRoot = tables;
    session.indexesRoot = indexes;
  }
  TreeItemId AddTable(const std::string& label, const std::string& descriptor,
                      std::vector<std::string> types, const std::string& statement) {
    const auto position = static_cast<int32_t>(parser->tableDescriptors.size());
    parser->tableDescriptors.push_back(descriptor);
    parser->tableColumnTypes.push_back(std::move(types));
    parser->createStatements.push_back(statement);
    const TreeItemId item = session.tree.AddItem(label, tables, TreePosition::Last);
    session.tree.SetData(item, position);
    tableItems.push_back(item);
    return item;
  }
};

TEST(ColumnMapping, ChangingOneTypeRebuildsTheStatementAndMarksTheTable) {
  Fixture f;
  const TreeItemId t = f.AddTable("t", "t+id< P.K >~name~#2", {"INTEGER", "TEXT"}, "create Table [t] ( [id] INTEGER, [name] TEXT )");
  ColumnMapping m(f.session);
  m.Open(t);
  EXPECT_EQ(m.itemText(), "t");
  ASSERT_EQ(m.rows().size(), 2u);
  EXPECT_EQ(m.rows()[0].entry, "id< P.K >");  // the list shows the entry as written
  EXPECT_EQ(m.rows()[0].declaredType, "INTEGER");
  EXPECT_EQ(m.rows()[1].mappedType, "TEXT");
  EXPECT_EQ(f.session.columnNames, (std::vector<std::string>{"id", "name"}));
  EXPECT_EQ(f.session.columnTypes, (std::vector<std::string>{"INTEGER", "TEXT"}));
  EXPECT_EQ(f.session.mappingTableName, "t");

  const auto pick = m.SelectRow(1);
  EXPECT_TRUE(pick.showColumn);
  EXPECT_EQ(pick.columnName, "name");
  EXPECT_EQ(pick.typeText, "TEXT");
  EXPECT_TRUE(pick.changeEnabled);
  EXPECT_EQ(m.ChangeColumnType("Memo"), ColumnMapping::ChangeResult::Changed);
  EXPECT_EQ(m.rows()[1].mappedType, "Memo");
  EXPECT_EQ(m.rows()[1].declaredType, "TEXT");

  EXPECT_EQ(m.SaveMapping(), ColumnMapping::SaveResult::Saved);
  EXPECT_EQ(f.parser->createStatements[0], "Create Table [t] (id INTEGER , name Memo )");
  EXPECT_EQ(f.parser->mappedTables, (std::set<int32_t>{0}));
  ASSERT_EQ(f.observer.Messages().size(), 1u);
  EXPECT_EQ(f.observer.Messages()[0].text, "Changes Done");
  EXPECT_EQ(f.observer.Messages()[0].caption, kAppTitle);
  EXPECT_EQ(f.observer.Messages()[0].style, MessageStyle::Plain);
}

TEST(ColumnMapping, ItemsThatAreNotTablesOpenEmptyAndSaveNothing) {
  Fixture f;
  f.AddTable("t", "t+a~#2", {"TEXT"}, "create Table [t] ( [a] TEXT )");
  const TreeItemId index = f.session.tree.AddItem("i1", f.indexes, TreePosition::Last);
  f.session.tree.SetData(index, 0);
  for (TreeItemId item : {kTreeRoot, f.file, f.tables, index, TreeItemId{999}}) {
    SCOPED_TRACE(item);
    ColumnMapping m(f.session);
    m.Open(item);
    EXPECT_TRUE(m.rows().empty());
    EXPECT_EQ(m.tablePosition(), -1);
    EXPECT_FALSE(m.SelectRow(0).applies);
    EXPECT_EQ(m.SaveMapping(), ColumnMapping::SaveResult::NothingToSave);
  }
  EXPECT_EQ(f.parser->createStatements[0], "create Table [t] ( [a] TEXT )");
  EXPECT_TRUE(f.parser->mappedTables.empty());
  EXPECT_TRUE(f.observer.Messages().empty());
}

TEST(ColumnMapping, ATableWhoseDescriptorIsMissingShowsItsNameOnly) {
  Fixture f;
  const TreeItemId t = f.AddTable("t", "t+a~#2", {"TEXT"}, "s");
  f.session.tree.SetData(t, 7);  // no such position
  ColumnMapping m(f.session);
  m.Open(t);
  EXPECT_EQ(m.itemText(), "t");
  EXPECT_TRUE(m.rows().empty());
}

TEST(ColumnMapping, ShortTypeTextsAreRefusedAndNothingIsStored) {
  Fixture f;
  const TreeItemId t = f.AddTable("t", "t+a~#2", {"TEXT"}, "s");
  ColumnMapping m(f.session);
  m.Open(t);
  m.SelectRow(0);
  for (const std::string text : {"", "X"}) {
    EXPECT_EQ(m.ChangeColumnType(text), ColumnMapping::ChangeResult::TypeTooShort);
  }
  EXPECT_EQ(f.session.columnTypes[0], "TEXT");
  ASSERT_EQ(f.observer.Messages().size(), 2u);
  EXPECT_EQ(f.observer.Messages()[0].text, "please select column type from combo box");
  EXPECT_EQ(f.observer.Messages()[0].style, MessageStyle::Plain);

  // A click beside the rows: nothing selected, the button is disabled and a
  // change has no column to go to.
  const auto none = m.SelectRow(-1);
  EXPECT_TRUE(none.applies);
  EXPECT_FALSE(none.showColumn);
  EXPECT_FALSE(none.changeEnabled);
  EXPECT_EQ(m.ChangeColumnType("date"), ColumnMapping::ChangeResult::NoColumn);
}

TEST(ColumnMapping, TheClickedItemDecidesTheTableEvenWhenLabelsRepeat) {
  Fixture f;
  // Two tables found under the same label, then another one: the second
  // item's data points at the third entry of the lists.
  f.parser->tableDescriptors = {"a+x~#2", "a+x~#3", "b+y~z~#4"};
  f.parser->tableColumnTypes = {{"TEXT"}, {"TEXT"}, {"INTEGER", "double"}};
  f.parser->createStatements = {"s0", "s1", "s2"};
  const TreeItemId a = f.session.tree.AddItem("a", f.tables, TreePosition::Last);
  f.session.tree.SetData(a, 0);
  const TreeItemId b = f.session.tree.AddItem("b", f.tables, TreePosition::Last);
  f.session.tree.SetData(b, 2);

  ColumnMapping m(f.session);
  m.Open(b);
  EXPECT_EQ(m.tablePosition(), 2);
  ASSERT_EQ(m.rows().size(), 2u);
  EXPECT_EQ(m.rows()[1].declaredType, "double");
  m.SelectRow(0);
  m.ChangeColumnType("Number");
  EXPECT_EQ(m.SaveMapping(), ColumnMapping::SaveResult::Saved);
  EXPECT_EQ(f.parser->createStatements, (std::vector<std::string>{"s0", "s1", "Create Table [b] (y Number , z double )"}));
  EXPECT_EQ(f.parser->mappedTables, (std::set<int32_t>{2}));
}

TEST(ColumnMapping, ReopeningDiscardsChangesThatWereNotSaved) {
  Fixture f;
  const TreeItemId t = f.AddTable("t", "t+a~b~#2", {"TEXT", "TEXT"}, "s");
  ColumnMapping m(f.session);
  m.Open(t);
  m.SelectRow(0);
  m.ChangeColumnType("BINARY");
  ColumnMapping again(f.session);
  again.Open(t);
  EXPECT_EQ(f.session.columnTypes, (std::vector<std::string>{"TEXT", "TEXT"}));
  EXPECT_EQ(again.rows()[0].mappedType, "TEXT");
  EXPECT_EQ(f.parser->createStatements[0], "s");
}

TEST(ColumnMapping, BracketedNamesAreCleanedInTheStatement) {
  Fixture f;
  const TreeItemId t = f.AddTable("[order items]", "[order items]+[qty]~#2", {"INTEGER"}, "s");
  ColumnMapping m(f.session);
  m.Open(t);
  EXPECT_EQ(f.session.columnNames, (std::vector<std::string>{"qty"}));
  EXPECT_EQ(m.SaveMapping(), ColumnMapping::SaveResult::Saved);
  EXPECT_EQ(f.parser->createStatements[0], "Create Table [orderitems] (qty INTEGER )");
}

TEST(ColumnMapping, WhileAWorkerUsesTheParserTheListsAreLeftAlone) {
  Fixture f;
  const TreeItemId t = f.AddTable("t", "t+a~#2", {"TEXT"}, "s");
  f.parser->hold = true;
  f.session.StartPreview(t);
  while (!f.parser->inside) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  ColumnMapping m(f.session);
  m.Open(t);
  EXPECT_EQ(m.itemText(), "t");
  EXPECT_TRUE(m.rows().empty());
  EXPECT_EQ(m.SaveMapping(), ColumnMapping::SaveResult::NothingToSave);

  f.parser->hold = false;
  f.session.WaitForWorker();
  m.Open(t);
  EXPECT_EQ(m.rows().size(), 1u);
}

TEST(ColumnMapping, OffersTheTwelveTypeNamesInOrder) {
  EXPECT_EQ(MappingTypeNames(), (std::vector<std::string>{"TEXT", "Memo", "Number", "INTEGER", "double", "CURRENCY",
                                                          "AUTONUMBER", "date", "OLEOBJECT", "time", "YesNO",
                                                          "BINARY"}));
}

}  // namespace
}  // namespace veltrane
