// The column mapping of one recovered table: what the "Column Mapping" dialog
// shows and does, without the dialog. It lists the columns of the table
// selected in the object tree with their recovered types, lets the user pick
// another type per column, and on saving rebuilds the table's CREATE
// statement from the column names and the chosen types:
//
//   "Create Table [" + cleaned table name + "] (" + name + " " + type
//   { + " , " + name + " " + type } + " )"
//
// The statement replaces the table's entry in the parser's createStatements
// and the table is recorded in mappedTables, so that the save creates the
// table with the mapped types.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/object_tree.h"

namespace veltrane {

class RecoverySession;

// The type names offered, in the order shown.
const std::vector<std::string>& MappingTypeNames();

struct MappingRow {
  std::string entry;         // the column entry exactly as in the descriptor
  std::string declaredType;  // "Column DataType"
  std::string mappedType;    // "Column Mapping"
};

// Works on the session's columnNames, columnTypes, mappingTableName and
// selectedColumn; all calls on the window thread.
class ColumnMapping {
 public:
  explicit ColumnMapping(RecoverySession& session) : session_(session) {}
  ColumnMapping(const ColumnMapping&) = delete;
  ColumnMapping& operator=(const ColumnMapping&) = delete;

  // Takes the table of the selected tree item. Anything that is not a table
  // item (nothing, the file item, a group, an index, view or trigger) leaves
  // the mapping empty. While a worker uses the parser the lists are not
  // read: the mapping shows the item's text only.
  void Open(TreeItemId selected);

  const std::string& itemText() const { return itemText_; }
  const std::vector<MappingRow>& rows() const { return rows_; }
  // Position of the table in the parser's lists, -1 when there is none.
  int32_t tablePosition() const { return table_; }

  // A click on a list row (-1: no row hit).
  struct RowSelection {
    bool showColumn = false;  // columnName and typeText are to be shown
    std::string columnName;
    std::string typeText;
    bool changeEnabled = false;  // the "Change column type" button
    bool applies = false;        // false: an empty list, nothing changes
  };
  RowSelection SelectRow(int32_t row);

  enum class ChangeResult { Changed, TypeTooShort, NoColumn };
  // Stores the chosen type for the selected column; a text of fewer than two
  // characters is refused with "please select column type from combo box".
  ChangeResult ChangeColumnType(const std::string& typeText);

  enum class SaveResult { NothingToSave, Saved, NoStatement };
  // Rebuilds the statement and stores it; "Changes Done" on success.
  SaveResult SaveMapping();
  const std::string& lastStatement() const { return statement_; }

 private:
  RecoverySession& session_;
  std::string itemText_;
  std::vector<MappingRow> rows_;
  int32_t table_ = -1;
  std::string statement_;
};

}  // namespace veltrane
