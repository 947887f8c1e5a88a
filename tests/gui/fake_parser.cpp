#include "tests/gui/fake_parser.h"

#include "core/text.h"

namespace veltrane::guitest {

void FakeParser::ParseFile(const std::string&) {
  RecoverySession& s = *owner;
  tableDescriptors = {"big+id< P.K >~name~#2", "small+a~#3"};
  tableColumnTypes = {{"INTEGER", "TEXT"}, {"TEXT"}};
  tableStatements = {"CREATE TABLE big(id INTEGER PRIMARY KEY, name TEXT", "CREATE TABLE small(a TEXT"};
  createStatements = {"create Table [big] ( [id] INTEGER, [name] TEXT )", "create Table [small] ( [a] TEXT )"};
  indexStatements = {"CREATE INDEX ix ON big(name)"};
  for (int j = 1; j >= 0; --j) {
    const TreeItemId item = s.AddTreeItem(j == 0 ? " big" : " small", s.tablesRoot, TreePosition::First);
    s.SetTreeItemData(item, j);
  }
  const TreeItemId index = s.AddTreeItem(" ix ON big", s.indexesRoot, TreePosition::First);
  s.SetTreeItemData(index, 0);
  if (!script_.scanMessage.empty()) {
    script_.asking = true;
    for (int i = 0; i < script_.scanMessageTimes; ++i)
      s.ShowMessage(script_.scanMessage, "File_Corrupted", MessageStyle::Plain);
  }
  script_.scanDone = true;
}

void FakeParser::RecoverRows(std::string, int32_t rootPage, int, const std::string&, int) {
  RecoverySession& s = *owner;
  const uint64_t total = rootPage == 2 ? script_.rows : 3;
  s.SetProgressRange(static_cast<uint32_t>(total));
  for (uint64_t i = 1; i <= total; ++i) {
    if (s.stopRequested) {
      s.SetProgressPos(static_cast<uint32_t>(total));
      return;
    }
    s.SetProgressPos(static_cast<uint32_t>(i));
    RecordRow row;
    row.push_back({std::to_string(i), false});
    if (rootPage == 2) row.push_back({Format("name %llu", static_cast<unsigned long long>(i)), false});
    s.AddRecordRow(row);
  }
}

}  // namespace veltrane::guitest
