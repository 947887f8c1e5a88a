// sqlite_ver2: recovery of SQLite 2.x files, read page by page without the
// SQLite library.
//
// ParseFile reads every page header, walks the schema tree from its fixed
// root page 2 collecting the master records, analyses each record's CREATE
// statement and hands the objects to the tree. RecoverRows walks one table's
// b-tree and hands its rows to the record list, or in insert mode to the
// row sink. Nothing in the file header except its byte-order word is used,
// and the free list is never followed.
#pragma once

#include <string>

#include "core/lost_and_found.h"
#include "core/parser.h"
#include "core/work_bounds.h"
#include "sqlite2/ver2_layout.h"

namespace veltrane {

class sqlite_ver2 : public sqlite_base {
 public:
  ~sqlite_ver2() override;
  // The save into the repaired database (the output module's flow).
  bool SaveDatabase(const std::string& unused) override;
  void ParseFile(const std::string& path) override;
  // Rows of one table: record list (insert mode off) or rowSink (insert mode on).
  void RecoverRows(std::string path, int32_t rootPage, int columnCount, const std::string& tableName,
                   int keyMark) override;
  // Rows of the checked tables; rowProgress is the accumulator of each count.
  uint64_t CountEntries() override;
  // Adds the number of entries under rootPage to rowProgress and returns it.
  uint64_t CountRows(std::string path, uint64_t rootPage) override;
  std::string NormaliseTypeName(const std::string& type) override;
  bool IsKnownType(const std::string& type) override;
  std::string CleanIdentifier(const std::string& name) override;

  // Reads the data of the master-table cell at file offset cellOffset and
  // appends it to textBuffers, the number of bytes gathered (dataSize when
  // the overflow chain is whole) to masterRecordSizes. Overflow pages
  // are claimed in claimed when it is given (see PageFile::ReadCellData).
  void ReadMasterPayload(uint32_t dataSize, uint64_t cellOffset, ver2::PageSet* claimed = nullptr);

  // Byte order of the headers, taken from the file header by ParseFile.
  ver2::ByteOrder byteOrder = ver2::ByteOrder::Little;
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

  // Collects the master records: every cell of the schema tree, in walk order.
  void WalkMaster(const ver2::PageFile& file);
  // Finds and analyses the statement of every master record.
  void DiscoverSchema();
};

}  // namespace veltrane
