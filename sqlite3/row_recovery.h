// Row recovery: the walk over one table's b-tree that decodes every cell of
// every table leaf it reaches and hands each row on: to the record list in a
// preview, to the row sink (the repaired database) in insert mode.
//
// Each leaf page is read whole once; a cell's local payload is decoded in
// place, an overflowing one is gathered from its chain as far as the record
// needs. A damaged value ends its row (the later columns missing) and never
// the rest of the page.
#pragma once

#include <cstdint>
#include <vector>

#include "sqlite3/btree_cells.h"
#include "sqlite3/record_decoder.h"

namespace veltrane {

class sqlite_ver3;
class RecoverySession;

class RowRecovery : public TableTreeWalk {
 public:
  struct Options {
    int columnCount = 0;
    int rowidAlias = -1;
    bool utf16 = false;
    bool insertMode = false;
    uint64_t stopPosition = 0;  // progress position sent when a stop is seen
    // Rows of a lost_and_found table: the page number and the rowid go in
    // front of the record's values.
    bool pageAndRowid = false;
  };
  RowRecovery(sqlite_ver3& parser, const PageGeometry& geometry, const Options& options);

 protected:
  bool StopRequested() override;
  void PageOutsideFile(int64_t page) override;
  void PageSeenBefore(uint32_t page) override;
  bool Leaf(uint32_t page, const PageHeader& header) override;

 private:
  // Decodes one cell of the loaded leaf into row_; false when the cell names no cell.
  bool DecodeCell(const ByteView& page, uint16_t cellOffset, uint32_t cellSize);
  void HandOver(const RecoveredRow& row);

  sqlite_ver3& parser_;
  RecoverySession& session_;
  Options options_;
  RecordLayout layout_;
  std::vector<uint8_t> page_;
  std::string gathered_;
  RecoveredRow row_;
  RecoveredRow prefixed_;
  uint32_t page_number_ = 0;
  RecordRow listRow_;
};

}  // namespace veltrane
