#include "core/column_mapping.h"

#include "core/parser.h"
#include "core/session.h"
#include "core/text.h"

namespace veltrane {

namespace {

std::string RemoveBrackets(std::string text) {
  text = ReplaceAll(std::move(text), "[", "");
  return ReplaceAll(std::move(text), "]", "");
}

}  // namespace

const std::vector<std::string>& MappingTypeNames() {
  static const std::vector<std::string> kNames = {"TEXT",       "Memo", "Number",    "INTEGER",
                                                  "double",     "CURRENCY", "AUTONUMBER", "date",
                                                  "OLEOBJECT",  "time", "YesNO",     "BINARY"};
  return kNames;
}

void ColumnMapping::Open(TreeItemId selected) {
  RecoverySession& s = session_;
  s.columnNames.clear();
  s.columnTypes.clear();
  s.selectedColumn = -1;
  itemText_.clear();
  rows_.clear();
  table_ = -1;
  statement_.clear();

  const ObjectTree& tree = s.tree;
  if (!tree.IsValid(selected)) return;
  const TreeItemId parent = tree.Parent(selected);
  if (parent == kTreeRoot || tree.Data(parent) != -2) return;
  itemText_ = tree.Text(selected);

  // A scan, preview or save may be changing the parser's lists right now.
  if (s.WorkerAlive() || !s.parser) return;
  sqlite_base& parser = *s.parser;
  const int32_t data = tree.Data(selected);
  if (data < 0 || static_cast<size_t>(data) >= parser.tableDescriptors.size()) return;

  const TableDescriptorParts parts = ParseTableDescriptor(parser.tableDescriptors[data]);
  for (const std::string& entry : parts.columns) {
    const bool wasActive = s.parseActive.exchange(true);
    std::string name = parser.CleanIdentifier(entry);
    s.parseActive = wasActive;
    name = std::string(Trim(StripKeyMark(name)));
    s.columnNames.push_back(name);
    rows_.push_back({entry, "", ""});
  }
  s.mappingTableName = parts.name;

  // The item's data is the table's position in every list of the model.
  table_ = data;
  const std::vector<std::string>* types =
      static_cast<size_t>(data) < parser.tableColumnTypes.size() ? &parser.tableColumnTypes[data] : nullptr;
  for (size_t i = 0; i < rows_.size(); ++i) {
    const std::string type = types && i < types->size() ? (*types)[i] : std::string();
    rows_[i].declaredType = type;
    rows_[i].mappedType = type;
    s.columnTypes.push_back(type);
  }
}

ColumnMapping::RowSelection ColumnMapping::SelectRow(int32_t row) {
  RowSelection result;
  session_.selectedColumn = row;
  if (rows_.empty()) return result;
  result.applies = true;
  if (row >= 0 && static_cast<size_t>(row) < session_.columnNames.size()) {
    result.showColumn = true;
    result.columnName = session_.columnNames[row];
    result.typeText = static_cast<size_t>(row) < session_.columnTypes.size() ? session_.columnTypes[row] : "";
  }
  result.changeEnabled = row >= 0;
  return result;
}

ColumnMapping::ChangeResult ColumnMapping::ChangeColumnType(const std::string& typeText) {
  if (Utf8ToUtf16(typeText).size() < 2) {
    session_.ShowMessage("please select column type from combo box", kAppTitle, MessageStyle::Plain);
    return ChangeResult::TypeTooShort;
  }
  const int32_t column = session_.selectedColumn;
  if (column < 0 || static_cast<size_t>(column) >= session_.columnTypes.size() ||
      static_cast<size_t>(column) >= rows_.size())
    return ChangeResult::NoColumn;
  session_.columnTypes[column] = typeText;
  rows_[column].mappedType = typeText;
  return ChangeResult::Changed;
}

ColumnMapping::SaveResult ColumnMapping::SaveMapping() {
  if (rows_.empty()) return SaveResult::NothingToSave;
  RecoverySession& s = session_;
  s.mappingTableName = RemoveBrackets(s.mappingTableName);
  if (!s.parser || s.WorkerAlive()) return SaveResult::NoStatement;
  sqlite_base& parser = *s.parser;

  std::string statement = "Create Table [" + parser.CleanIdentifier(s.mappingTableName) + "] (";
  for (size_t i = 0; i < s.columnNames.size(); ++i) {
    if (i) statement += " , ";
    statement += s.columnNames[i] + " " + (i < s.columnTypes.size() ? s.columnTypes[i] : std::string());
  }
  statement += " )";
  statement_ = statement;

  if (table_ < 0 || static_cast<size_t>(table_) >= parser.createStatements.size())
    return SaveResult::NoStatement;
  parser.createStatements[table_] = statement;
  parser.mappedTables.insert(table_);
  s.ShowMessage("Changes Done", kAppTitle, MessageStyle::Plain);
  return SaveResult::Saved;
}

}  // namespace veltrane
