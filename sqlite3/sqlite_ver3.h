// sqlite_ver3: recovery of SQLite 3 files, read page by page without the
// SQLite library.
//
// ParseFile checks the header against the geometry the session settled,
// builds the page table (pageHeaders), walks the schema b-tree and hands the
// objects found to the tree. CountRows and RecoverRows work from the page table
// afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/parser.h"
#include "core/table_shape.h"
#include "sqlite3/deep_scan.h"
#include "core/work_bounds.h"
#include "sqlite3/page_table.h"

namespace veltrane {

class OverflowClaims;

class sqlite_ver3 : public sqlite_base {
 public:
  ~sqlite_ver3() override;
  bool SaveDatabase(const std::string& unused) override;
  void ParseFile(const std::string& path) override;
  void RecoverRows(std::string path, int32_t rootPage, int columnCount, const std::string& tableName,
                   int keyMark) override;
  uint64_t CountEntries() override;
  uint64_t CountRows(std::string path, uint64_t rootPage) override;
  std::string NormaliseTypeName(const std::string& type) override;
  bool IsKnownType(const std::string& type) override;
  std::string CleanIdentifier(const std::string& name) override;

  // The SQL text of the schema record in a cell of a leaf page (pageIndex
  // counted from 0) and the root page it names; cellSize is the cell's
  // estimated extent (0: to the page end). Shows "Error in reading" when the
  // text would reach past the end of the file. False when the cell gives no
  // text. Sets schemaTextLength to the text's length in bytes. cellEnd (0:
  // none) is where the cell must end on its page; claims, when given, are the
  // overflow pages of the walk (see OverflowClaims).
  bool ReadSchemaText(uint32_t pageIndex, uint32_t cellIndex, uint32_t cellSize, std::string& text,
                      int64_t& rootPage, uint32_t cellEnd = 0, OverflowClaims* claims = nullptr);
  // The same for a UTF-16 file: the text's code units (in the file's byte order).
  bool ReadSchemaText(uint32_t pageIndex, uint32_t cellIndex, uint32_t cellSize, std::u16string& text,
                      int64_t& rootPage, uint32_t cellEnd = 0, OverflowClaims* claims = nullptr);
  // The same for the cell at cellOffset of the page.
  bool ReadSchemaTextAt(uint32_t pageIndex, uint32_t cellOffset, uint32_t cellSize, std::string& text,
                        int64_t& rootPage, uint32_t cellEnd = 0, OverflowClaims* claims = nullptr);
  bool ReadSchemaTextAt(uint32_t pageIndex, uint32_t cellOffset, uint32_t cellSize, std::u16string& text,
                        int64_t& rootPage, uint32_t cellEnd = 0, OverflowClaims* claims = nullptr);

  // The column whose stored NULL is the rowid, for the table at currentTable
  // (-1: none, or no statement known).
  int RowidAliasColumn() const;
  // The shape of table k from its statement and table options; empty when
  // no statement is known.
  TableShape ShapeOf(int32_t k) const;
  // True when the b-tree at rootPage holds the rows of a WITHOUT ROWID table:
  // an index page, and the table asked for (currentTable, else the table
  // with that root) is declared WITHOUT ROWID or has no statement.
  bool IsWithoutRowidRoot(int64_t rootPage) const;

  // The geometry the session settled (valid after ParseFile's header phase).
  PageGeometry Geometry() const;

  bool rowHasBlob = false;
  // The text mode the scan chose: 1 UTF-8, 2 UTF-16le, 3 UTF-16be; 0 none.
  int textMode = 0;
  int32_t schemaTextLength = 0;
  // The reserved-bytes field of the header (offset 20), read by ParseFile.
  uint8_t reservedBytes = 0;
  uint32_t declaredPages = 0;  // the header's database size in pages
  // The pages the deep steps of the scan gave to tables besides their trees.
  DeepFindings deep;

 private:
  // Starts the bounds of the session's current job when it changed.
  void StartJobBounds();

  // The bounds of the job that runs now (see core/work_bounds.h).
  uint64_t boundsJob_ = UINT64_MAX;
  WorkBudget jobValues_;      // value bytes of every row walk of the job
  WorkBudget jobCountPages_;  // pages entered by the row counts of the job
  PageShares jobShares_;      // pages given to tables by the insert-mode walks
  // The page whose cells ReadSchemaText read last.
  std::vector<uint8_t> schemaPage_;
  uint64_t schemaPageNumber_ = 0;
  // Root page -> first table with that root (IsWithoutRowidRoot), built for
  // a model of rootTablesFor_ tables.
  mutable std::unordered_map<int64_t, int32_t> rootTables_;
  mutable size_t rootTablesFor_ = SIZE_MAX;
};

}  // namespace veltrane
