#include "sqlite3/row_recovery.h"

#include "core/session.h"
#include "core/text.h"
#include "sqlite3/sqlite_ver3.h"

namespace veltrane {

namespace {
constexpr const char* kCorruptedBox = "File is corrupted";
constexpr const char* kCellContentBox = "Corruption in file Cell content area";
constexpr const char* kReadingBox = "Error in reading";
constexpr const char* kBudgetBox =
    "The table's cells hold far more data than the whole file: the file repeats its contents. The rows read so "
    "far are kept; the rest of the table is skipped.";

PayloadEnd EndOf(CellPayload::Status s) {
  switch (s) {
    case CellPayload::Status::Ok: return PayloadEnd::Complete;
    case CellPayload::Status::ChainEnded: return PayloadEnd::ChainEnded;
    case CellPayload::Status::BadNextPage: return PayloadEnd::Reading;
    default: return PayloadEnd::CellContent;
  }
}
}  // namespace

RowRecovery::RowRecovery(sqlite_ver3& parser, const PageGeometry& geometry, const Options& options)
    : TableTreeWalk(*parser.owner->reader, geometry, parser.pageHeaders),
      parser_(parser),
      session_(*parser.owner),
      options_(options),
      claims_(geometry.pageCount) {
  ownBudget_.Reset(geometry.fileSize, kValueShare, kValueFloor);
  if (options_.values == nullptr) options_.values = &ownBudget_;
  layout_.columnCount = options.columnCount;
  layout_.rowidAlias = options.rowidAlias;
  layout_.utf16 = options.utf16;
}

bool RowRecovery::StopRequested() {
  if (!session_.stopRequested) return false;
  session_.SetProgressPos(static_cast<uint32_t>(options_.stopPosition));
  return true;
}

void RowRecovery::PageOutsideFile(int64_t) { session_.ShowMessage(kCorruptedBox); }

void RowRecovery::PageSeenBefore(uint32_t page) {
  session_.AddLogLine(Format("Page %u of the table is reached a second time; it is read once", page));
}

bool RowRecovery::EnterPage(uint32_t page) {
  if (options_.shares == nullptr || options_.shares->Take(page, options_.table)) return true;
  if (!sharesReported_)
    session_.AddLogLine(Format("Page %u gave rows to %u other tables already; this table skips such pages", page,
                               unsigned{kPageShareLimit}));
  sharesReported_ = true;
  return false;
}

bool RowRecovery::Leaf(uint32_t page, const PageHeader& header) {
  ReadPage(reader_, geometry_, page, page_);
  const ByteView bytes(page_.data(), page_.size());
  const uint32_t array = PageGeometry::HeaderOffset(page) + 8;
  const uint32_t fit = array < page_.size() ? static_cast<uint32_t>((page_.size() - array) / 2) : 0;
  const uint16_t cells = static_cast<uint16_t>(std::min<uint32_t>(header.cellCount, fit));
  const std::vector<uint16_t> offsets = ReadCellOffsets(bytes, array, cells);
  const std::vector<uint16_t> freeblocks =
      header.firstFreeblock != 0 ? ReadFreeblockChain(bytes, header.firstFreeblock, cells) : std::vector<uint16_t>{};
  const std::vector<uint32_t> sizes = EstimateCellSizes(offsets, freeblocks);
  const CellBounds bounds = BoundCells(bytes, geometry_, offsets);
  if (bounds.repeats != 0)
    session_.AddLogLine(Format("Page %u names %u of its cells more than once; each cell is read once", page,
                               bounds.repeats));
  if (bounds.nested)
    session_.AddLogLine(Format("The cells of page %u lie inside one another; each is read up to the next one", page));

  for (uint32_t i = 0; i < cells; ++i) {
    if (StopRequested()) return false;
    if (options_.insertMode) {
      ++session_.entryCount;
      session_.SetProgressPos(static_cast<uint32_t>(session_.progressCounter++));
    } else {
      session_.SetProgressPos(static_cast<uint32_t>(parser_.rowProgress++));
    }
    if (bounds.repeat[i]) continue;
    const ByteView cell = bounds.end[i] != 0 ? bytes.Sub(0, bounds.end[i]) : bytes;
    if (DecodeCell(cell, offsets[i], sizes[i]) && !HandOver()) {
      session_.ShowMessage(kBudgetBox);
      return false;
    }
  }
  return true;
}

bool RowRecovery::DecodeCell(const ByteView& page, uint16_t cellOffset, uint32_t cellSize) {
  CellPayload cell(reader_, geometry_, page, cellOffset, cellSize);
  if (!cell.valid()) return false;
  cell.ShareClaims(&claims_);
  row_.rowid = cell.rowid();
  const uint64_t length = cell.payloadLength();
  DecodeResult result;
  ByteView local;
  if (!cell.overflows() && cell.LocalView(0, length, local)) {
    result = DecodeRecord(local, PayloadEnd::Complete, layout_, row_, filled_);
  } else {
    // Gather the header, then as much of the payload as the record declares.
    gathered_.clear();
    const uint64_t head = std::min<uint64_t>(length, 9 + 9 * uint64_t(std::max(layout_.columnCount, 0) + 1));
    CellPayload::Status status = cell.Read(0, head, gathered_);
    if (status == CellPayload::Status::Ok) {
      const uint64_t extent = RecordExtent(
          ByteView(reinterpret_cast<const uint8_t*>(gathered_.data()), gathered_.size()), length, layout_.columnCount);
      if (extent > gathered_.size()) status = cell.Read(gathered_.size(), extent - gathered_.size(), gathered_);
    }
    result = DecodeRecord(ByteView(reinterpret_cast<const uint8_t*>(gathered_.data()), gathered_.size()),
                          EndOf(status), layout_, row_, filled_);
  }
  if (result.cut == PayloadEnd::CellContent) session_.ShowMessage(kCellContentBox);
  if (result.cut == PayloadEnd::Reading) session_.ShowMessage(kReadingBox);
  parser_.rowHasBlob = result.hasBlob;
  filled_ = result.filled;
  return true;
}

bool RowRecovery::HandOver() {
  // Each row costs its value bytes and a little for itself.
  uint64_t cost = 16;
  for (size_t k = 0; k < filled_; ++k) cost += row_.values[k].bytes.size();
  if (!options_.values->Spend(cost)) return false;
  if (options_.insertMode) {
    if (parser_.rowSink != nullptr) parser_.rowSink->WriteRow(row_);
  } else {
    // The columns after the record's last stay out of the list (they show
    // empty), so that a wide table of short records takes no memory for them.
    size_t n = filled_;
    while (n > 0 && row_.values[n - 1].kind == RecoveredValue::Kind::Missing) --n;
    listRow_.resize(n);
    for (size_t k = 0; k < n; ++k) listRow_[k] = ValueText(row_.values[k], options_.utf16);
    session_.AddRecordRow(listRow_);
  }
  parser_.rowHasBlob = false;
  return true;
}

}  // namespace veltrane
