// Row recovery: the walk over one table's b-tree that decodes every cell it
// reaches and hands each row on: to the record list in a preview, to the row
// sink (the repaired database) in insert mode.
//
// A rowid table is a table b-tree: the rows are the cells of its leaves. A
// WITHOUT ROWID table is an index b-tree: the rows are the cells of its
// leaves and of its interior pages, and each record holds the primary-key
// columns first, then the other columns in table order; the row is put back
// in table order before it is handed on.
//
// Each page is read whole once; a cell's local payload is decoded in place, an
// overflowing one is gathered from its chain as far as the record needs. A
// damaged value ends its row (the later columns missing) and never the rest
// of the page.
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
#include "sqlite3/index_tree.h"
#include "sqlite3/record_decoder.h"

namespace veltrane {

class sqlite_ver3;
class RecoverySession;

struct RowRecoveryOptions {
  int columnCount = 0;
  int rowidAlias = -1;
  bool utf16 = false;
  bool bigEndian = false;  // UTF-16 texts with the high byte first
  bool insertMode = false;
  uint64_t stopPosition = 0;  // progress position sent when a stop is seen
  // Record field k holds table column fieldOrder[k]; empty: the same order.
  std::vector<int> fieldOrder;
  // Rows of a lost_and_found table: the page number and the rowid go in
  // front of the record's values.
  bool pageAndRowid = false;
  WorkBudget* values = nullptr;  // the job's value bytes; null: the walk's own
  PageShares* shares = nullptr;  // the job's page shares; null: none
  int32_t table = -1;            // the table the shares count for
};

// The per-cell work both walks share: progress, decoding, hand-over.
class RowEmitter {
 public:
  RowEmitter(sqlite_ver3& parser, const PageGeometry& geometry, const RowRecoveryOptions& options);
  RowEmitter(const RowEmitter&) = delete;
  RowEmitter& operator=(const RowEmitter&) = delete;

  // True (after sending the stop position) when a stop was requested.
  bool StopRequested();
  // Counts the cell of page pageNumber, moves the progress on, decodes it and
  // hands the row on; false when the job's value budget ran out (the
  // message is shown).
  bool Cell(uint32_t pageNumber, const ByteView& page, uint16_t cellOffset, uint32_t cellSize, CellKind kind);
  // Counts a cell and moves the progress on (Cell does it too; alone for a
  // cell that is not read).
  void CountCell();
  // The share of `page` for this table (see PageShares); false: skip it.
  bool TakePage(uint32_t page);
  RecoverySession& session() { return session_; }
  // Records whose header had a flipped bit that was mended.
  uint64_t mendedHeaders() const { return mendedHeaders_; }
  // Logs what the mending of a page's damaged cell pointers found.
  void LogMended(uint32_t page, uint32_t found, uint32_t dropped);

 private:
  bool Decode(const ByteView& page, uint16_t cellOffset, uint32_t cellSize, CellKind kind);
  // Hands row on, its first `filled` values set by the record; false when
  // the job's value budget ran out.
  bool HandOver(const RecoveredRow& row, size_t filled);

  sqlite_ver3& parser_;
  RecoverySession& session_;
  Reader& reader_;
  const PageGeometry& geometry_;
  RowRecoveryOptions options_;
  RecordLayout layout_;
  std::string gathered_;
  std::string mended_;
  uint64_t mendedHeaders_ = 0;
  RecoveredRow decoded_;  // in record order
  RecoveredRow row_;      // in table order
  RecoveredRow prefixed_; // page number and rowid in front (lost_and_found)
  RecordRow listRow_;
  size_t filled_ = SIZE_MAX;  // entries of the decoded row the last record set
  OverflowClaims claims_;
  WorkBudget ownBudget_;
  bool sharesReported_ = false;
};

// The rows of a rowid table.
class RowRecovery : public TableTreeWalk {
 public:
  using Options = RowRecoveryOptions;
  RowRecovery(sqlite_ver3& parser, const PageGeometry& geometry, const Options& options);

 protected:
  bool StopRequested() override;
  void PageOutsideFile(int64_t page) override;
  void PageSeenBefore(uint32_t page) override;
  bool EnterPage(uint32_t page) override;
  bool Leaf(uint32_t page, const PageHeader& header) override;
  void CellsMended(uint32_t page, const PageCells& cells) override;
  void ChildMended(uint32_t parent, int64_t child, uint32_t replacement) override;

 public:
  const RowEmitter& emitter() const { return emitter_; }

 private:
  RowEmitter emitter_;
  std::vector<uint8_t> page_;
};

// The rows of a WITHOUT ROWID table.
class IndexRowRecovery : public IndexTreeWalk {
 public:
  IndexRowRecovery(sqlite_ver3& parser, const PageGeometry& geometry, const RowRecoveryOptions& options);

 protected:
  bool StopRequested() override;
  void PageOutsideFile(int64_t page) override;
  void PageSeenBefore(uint32_t page) override;
  bool Entry(const IndexPageCells& page, size_t cell) override;
  void CellsMended(uint32_t page, const IndexPageCells& cells) override;

 public:
  const RowEmitter& emitter() const { return emitter_; }

 private:
  RowEmitter emitter_;
};

// The record field order of a WITHOUT ROWID table: the primary-key columns
// in key order, then the other columns in table order (empty when the key
// names no column).
std::vector<int> WithoutRowidFieldOrder(int columnCount, const std::vector<int>& primaryKey);

}  // namespace veltrane
