// A session with its four group items and an empty model, for the tests of
// the DDL analysis and the hand-over to the tree.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "core/ddl.h"
#include "core/session.h"
#include "tests/support.h"

namespace veltrane {

// Readable results in test failures.
inline void PrintTo(DdlResult r, std::ostream* os) {
  const char* names[] = {"Done", "NoKeyword", "RanPastEnd", "Skipped"};
  *os << names[static_cast<int>(r)];
}
inline void PrintTo(DdlKind k, std::ostream* os) {
  const char* names[] = {"None", "Table", "Index", "UniqueIndex", "Virtual", "AutoIndex", "View", "Trigger"};
  *os << names[static_cast<int>(k)];
}

}  // namespace veltrane

namespace veltrane::test {

// Also records the order in which tree items are expanded.
class TreeRecordingObserver : public RecordingObserver {
 public:
  void TreeChanged(const TreeChange& change) override {
    if (change.kind == TreeChange::Kind::Expanded) expanded.push_back(change.item);
  }
  std::vector<TreeItemId> expanded;
};

struct DdlBench {
  DdlBench() {
    model.owner = &session;
    session.fileItem = session.AddTreeItem("file.db", kTreeRoot, TreePosition::Last);
    const char* groups[] = {"TABLES  ", "INDEXES  ", "VIEWS  ", "TRIGGERS  "};
    TreeItemId* roots[] = {&session.tablesRoot, &session.indexesRoot, &session.viewsRoot, &session.triggersRoot};
    for (int g = 0; g < 4; ++g) {
      *roots[g] = session.AddTreeItem(groups[g], session.fileItem, TreePosition::Last);
      session.SetTreeItemData(*roots[g], -2 - g);
    }
  }

  // The texts and data of a group's children, top to bottom.
  std::vector<std::string> Labels(TreeItemId group) const {
    std::vector<std::string> out;
    for (TreeItemId child : session.tree.Children(group)) out.push_back(session.tree.Text(child));
    return out;
  }
  std::vector<int32_t> Data(TreeItemId group) const {
    std::vector<int32_t> out;
    for (TreeItemId child : session.tree.Children(group)) out.push_back(session.tree.Data(child));
    return out;
  }

  // The four table lists must always grow together.
  bool TableListsAligned() const {
    const size_t n = model.tableDescriptors.size();
    const size_t statements = model.tableStatements.size() + model.wideTableStatements.size();
    return model.createStatements.size() == n && model.tableColumnTypes.size() == n && statements == n;
  }

  TreeRecordingObserver obs;
  RecoverySession session{obs, nullptr};
  sqlite_base model;
};

}  // namespace veltrane::test
