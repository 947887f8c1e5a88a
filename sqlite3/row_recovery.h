// Row recovery: the walk over one table's b-tree that decodes every cell of
// every table leaf it reaches and hands each row on: to the record list in a
// preview, to the row sink (the repaired database) in insert mode.
//
// Each leaf page is read whole once; a cell's local payload is decoded in
// place, an overflowing one is gathered from its chain as far as the record
// needs. A damaged value ends its row (the later columns missing) and never
// the rest of the page.
//
// The work is bounded by the file, whatever it holds: a cell pointer that
// repeats one of its page is read once, the cells of a page whose cells lie
// inside one another end at their neighbours, an overflow page serves one
// cell of the walk, a page serves a few tables of a job (shares), and the
// values of a job together stay within a budget; when that runs out the rest
// of the table is skipped with a message.
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
    WorkBudget* values = nullptr;  // the job's value bytes; null: the walk's own
    PageShares* shares = nullptr;  // the job's page shares; null: none
    int32_t table = -1;            // the table the shares count for
  };
  RowRecovery(sqlite_ver3& parser, const PageGeometry& geometry, const Options& options);

 protected:
  bool StopRequested() override;
  void PageOutsideFile(int64_t page) override;
  void PageSeenBefore(uint32_t page) override;
  bool EnterPage(uint32_t page) override;
  bool Leaf(uint32_t page, const PageHeader& header) override;

 private:
  // Decodes one cell of the loaded leaf into row_; false when the cell names no cell.
  bool DecodeCell(const ByteView& page, uint16_t cellOffset, uint32_t cellSize);
  // Hands row_ on; false when the job's value budget ran out.
  bool HandOver();

  sqlite_ver3& parser_;
  RecoverySession& session_;
  Options options_;
  RecordLayout layout_;
  std::vector<uint8_t> page_;
  std::string gathered_;
  RecoveredRow row_;
  size_t filled_ = SIZE_MAX;  // entries of row_ the last record set
  RecordRow listRow_;
  OverflowClaims claims_;
  WorkBudget ownBudget_;
  bool sharesReported_ = false;
};

}  // namespace veltrane
