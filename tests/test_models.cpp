// The object tree's linked check boxes and the record list model.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/object_tree.h"
#include "core/record_list.h"

using namespace veltrane;

namespace {

struct Groups {
  ObjectTree tree;
  TreeItemId file, tables, indexes, t1, t2, t3, i1;
  Groups() {
    file = tree.AddItem("db", kTreeRoot, TreePosition::Last);
    tables = tree.AddItem("TABLES  ", file, TreePosition::Last);
    indexes = tree.AddItem("INDEXES  ", file, TreePosition::Last);
    t3 = tree.AddItem("t3", tables, TreePosition::First);
    t2 = tree.AddItem("t2", tables, TreePosition::First);
    t1 = tree.AddItem("t1", tables, TreePosition::First);
    i1 = tree.AddItem("i1", indexes, TreePosition::Last);
  }
};

struct CountingListener : TreeListener {
  std::vector<TreeChange::Kind> kinds;
  void TreeChanged(const TreeChange& c) override { kinds.push_back(c.kind); }
};

}  // namespace

TEST(ObjectTree, ItemsKeepTheirOrderDataAndRelations) {
  Groups g;
  EXPECT_EQ(g.tree.Children(g.tables), (std::vector<TreeItemId>{g.t1, g.t2, g.t3}));
  EXPECT_EQ(g.tree.TopItem(), g.file);
  EXPECT_EQ(g.tree.Parent(g.t2), g.tables);
  EXPECT_EQ(g.tree.NextSibling(g.t1), g.t2);
  EXPECT_EQ(g.tree.NextSibling(g.t3), kTreeRoot);
  g.tree.SetData(g.t2, 7);
  EXPECT_EQ(g.tree.Data(g.t2), 7);
  EXPECT_EQ(g.tree.AddItem("x", 999, TreePosition::Last), kTreeRoot);
  g.tree.Clear();
  EXPECT_EQ(g.tree.ItemCount(), 0u);
  EXPECT_FALSE(g.tree.IsValid(g.t1));
}

TEST(ObjectTree, CheckingAGroupChecksItsItems) {
  Groups g;
  EXPECT_FALSE(g.tree.IsChecked(g.tables));
  g.tree.ToggleChecked(g.tables);
  for (TreeItemId t : {g.t1, g.t2, g.t3}) EXPECT_TRUE(g.tree.IsChecked(t));
  EXPECT_TRUE(g.tree.IsChecked(g.tables));
  EXPECT_EQ(g.tree.CheckedChildCount(g.tables), 3u);
  EXPECT_FALSE(g.tree.IsChecked(g.file));  // indexes are not checked

  g.tree.ToggleChecked(g.t2);
  EXPECT_FALSE(g.tree.IsChecked(g.tables));
  EXPECT_EQ(g.tree.CheckedChildCount(g.tables), 2u);
  g.tree.ToggleChecked(g.t2);
  EXPECT_TRUE(g.tree.IsChecked(g.tables));

  // Checking the file item checks everything below it; unchecking clears it.
  g.tree.SetChecked(g.file, true);
  EXPECT_TRUE(g.tree.IsChecked(g.i1));
  EXPECT_TRUE(g.tree.IsChecked(g.file));
  g.tree.ToggleChecked(g.file);
  EXPECT_FALSE(g.tree.IsChecked(g.t1));
  EXPECT_FALSE(g.tree.IsChecked(g.i1));
}

TEST(ObjectTree, AGroupCountsAsCheckedOnlyWhileAllEnabledItemsAre) {
  Groups g;
  g.tree.SetChecked(g.t1, true);
  g.tree.SetChecked(g.t2, true);
  EXPECT_FALSE(g.tree.IsChecked(g.tables));
  g.tree.SetEnabled(g.t3, false);  // a disabled item does not count
  EXPECT_TRUE(g.tree.IsChecked(g.tables));
  g.tree.ToggleChecked(g.t3);  // nor can it be clicked
  EXPECT_FALSE(g.tree.IsChecked(g.t3));
  g.tree.SetEnabled(g.t3, true);
  EXPECT_FALSE(g.tree.IsChecked(g.tables));

  // A new, unchecked item makes its checked group unchecked.
  g.tree.SetChecked(g.tables, true);
  g.tree.AddItem("t4", g.tables, TreePosition::Last);
  EXPECT_FALSE(g.tree.IsChecked(g.tables));
  EXPECT_EQ(g.tree.ChildCount(g.tables), 4u);
}

TEST(ObjectTree, ListenersHearEveryChange) {
  ObjectTree tree;
  CountingListener listener;
  tree.SetListener(&listener);
  const TreeItemId a = tree.AddItem("a", kTreeRoot, TreePosition::Last);
  tree.SetData(a, -1);
  tree.Expand(a);
  tree.ToggleChecked(a);
  tree.Clear();
  using K = TreeChange::Kind;
  EXPECT_EQ(listener.kinds, (std::vector<K>{K::Added, K::DataSet, K::Expanded, K::ChecksChanged, K::Cleared}));
}

TEST(RecordList, ColumnsRowsAndNullFlags) {
  RecordList list;
  list.InsertColumn(0, "b");
  list.InsertColumn(0, "a");
  list.InsertColumn(99, "c");  // beyond the end: appended before the filler
  EXPECT_EQ(list.ColumnHeadings(), (std::vector<std::string>{"a", "b", "c"}));
  list.RemoveColumn(1);
  list.RemoveColumn(5);  // nothing there
  EXPECT_EQ(list.ColumnCount(), 2u);

  EXPECT_EQ(list.AppendRow({{"1"}, {"NULL", true}}), 0u);
  EXPECT_EQ(list.AppendRow({{"2"}, {""}}), 1u);
  EXPECT_EQ(list.InsertRow(1, {{"1.5"}, {"x\ty"}}), 1u);
  ASSERT_EQ(list.RowCount(), 3u);
  EXPECT_EQ(list.Cell(0, 1).text, "NULL");
  EXPECT_TRUE(list.Cell(0, 1).isNull);
  EXPECT_FALSE(list.Cell(2, 1).isNull);
  EXPECT_EQ(list.Cell(1, 0).text, "1.5");
  EXPECT_EQ(list.Cell(1, 1).text, "x\ty");
  EXPECT_EQ(list.Cell(2, 0).text, "2");
  EXPECT_EQ(list.Cell(7, 0).text, "");

  list.SetCell(2, 3, "late");
  EXPECT_EQ(list.Row(2).size(), 4u);
  EXPECT_EQ(list.Cell(2, 3).text, "late");
  EXPECT_EQ(list.Cell(2, 0).text, "2");

  list.ClearRows();
  EXPECT_EQ(list.RowCount(), 0u);
  EXPECT_EQ(list.ColumnCount(), 2u);
}

TEST(RecordList, RowsCanBeStreamedWithoutBeingKept) {
  RecordList list;
  std::vector<std::string> seen;
  list.SetRowTap([&](const RecordRow& row) { seen.push_back(row.at(0).text); });
  list.SetKeepRows(false);
  list.AppendRow({{"a"}});
  list.AppendRow({{"b"}});
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(list.RowCount(), 0u);
}

TEST(RecordList, TextBoxAndListAreShownInTurn) {
  RecordList list;
  EXPECT_FALSE(list.ListVisible());
  list.ShowList(true);
  EXPECT_TRUE(list.ListVisible());
  list.SetText("CREATE INDEX i ON t(a");
  list.ShowList(false);
  EXPECT_EQ(list.Text(), "CREATE INDEX i ON t(a");
  EXPECT_FALSE(list.ListVisible());
}
