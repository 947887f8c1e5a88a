#include "sqlite3/row_recovery.h"

#include <algorithm>

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

std::vector<int> WithoutRowidFieldOrder(int columnCount, const std::vector<int>& primaryKey) {
  std::vector<int> order;
  std::vector<bool> inKey(static_cast<size_t>(std::max(columnCount, 0)), false);
  for (int c : primaryKey) {
    if (c < 0 || c >= columnCount || inKey[static_cast<size_t>(c)]) continue;
    inKey[static_cast<size_t>(c)] = true;
    order.push_back(c);
  }
  if (order.empty()) return {};
  for (int c = 0; c < columnCount; ++c)
    if (!inKey[static_cast<size_t>(c)]) order.push_back(c);
  return order;
}

// ---- RowEmitter ----

RowEmitter::RowEmitter(sqlite_ver3& parser, const PageGeometry& geometry, const RowRecoveryOptions& options)
    : parser_(parser),
      session_(*parser.owner),
      reader_(*parser.owner->reader),
      geometry_(geometry),
      options_(options),
      claims_(geometry.pageCount) {
  ownBudget_.Reset(geometry.fileSize, kValueShare, kValueFloor);
  if (options_.values == nullptr) options_.values = &ownBudget_;
  layout_.columnCount = options.columnCount;
  layout_.rowidAlias = options.rowidAlias;
  layout_.utf16 = options.utf16;
  layout_.bigEndian = options.bigEndian;
  if (options_.fieldOrder.size() != static_cast<size_t>(std::max(options.columnCount, 0))) options_.fieldOrder.clear();
}

bool RowEmitter::StopRequested() {
  if (!session_.stopRequested) return false;
  session_.SetProgressPos(static_cast<uint32_t>(options_.stopPosition));
  return true;
}

bool RowEmitter::TakePage(uint32_t page) {
  if (options_.shares == nullptr || options_.shares->Take(page, options_.table)) return true;
  if (!sharesReported_)
    session_.AddLogLine(Format("Page %u gave rows to %u other tables already; this table skips such pages", page,
                               unsigned{kPageShareLimit}));
  sharesReported_ = true;
  return false;
}

void RowEmitter::CountCell() {
  if (options_.insertMode) {
    ++session_.entryCount;
    session_.SetProgressPos(static_cast<uint32_t>(session_.progressCounter++));
  } else {
    session_.SetProgressPos(static_cast<uint32_t>(parser_.rowProgress++));
  }
}

bool RowEmitter::Cell(uint32_t pageNumber, const ByteView& page, uint16_t cellOffset, uint32_t cellSize,
                      CellKind kind) {
  CountCell();
  if (!Decode(page, cellOffset, cellSize, kind)) return true;
  // In table order the record's own count of values no longer says which
  // entries it set.
  const size_t filled = options_.fieldOrder.empty() ? filled_ : row_.values.size();
  if (!options_.pageAndRowid) return HandOver(row_, filled);
  prefixed_.rowid = row_.rowid;
  prefixed_.values.clear();
  prefixed_.values.push_back(RecoveredValue::Int(pageNumber));
  prefixed_.values.push_back(RecoveredValue::Int(row_.rowid));
  prefixed_.values.insert(prefixed_.values.end(), row_.values.begin(), row_.values.end());
  return HandOver(prefixed_, filled + 2);
}

bool RowEmitter::Decode(const ByteView& page, uint16_t cellOffset, uint32_t cellSize, CellKind kind) {
  CellPayload cell(reader_, geometry_, page, cellOffset, cellSize, kind);
  // A payload of no byte holds no record (a zeroed cell, a page cut short).
  if (!cell.valid() || cell.payloadLength() == 0) return false;
  cell.ShareClaims(&claims_);
  RecoveredRow& target = options_.fieldOrder.empty() ? row_ : decoded_;
  // Entries from `clean` on are Missing already (see DecodeRecord); a row
  // put back in table order was shuffled, so all of it is reset.
  const size_t clean = options_.fieldOrder.empty() ? filled_ : SIZE_MAX;
  target.rowid = cell.rowid();
  const uint64_t length = cell.payloadLength();
  DecodeResult result;
  ByteView local;
  if (!cell.overflows() && cell.LocalView(0, length, local)) {
    // A header that does not account for its payload, in a cell whose extent
    // on the page confirms the payload length: a flipped bit of the header
    // is mended when exactly one flip explains it.
    const uint64_t usable = std::min<uint64_t>(geometry_.usableSize, page.size());
    const uint64_t extent = cellSize != 0 ? cellSize : (usable > cellOffset ? usable - cellOffset : 0);
    const uint64_t needs = std::max<uint64_t>(4, cell.varintBytes() + length);
    if (extent >= needs && extent <= needs + 3 && !RecordAccountsFor(local, length, layout_.columnCount)) {
      if (const auto flip = FindHeaderFlip(local, length, layout_.columnCount)) {
        mended_.assign(reinterpret_cast<const char*>(local.data()), local.size());
        mended_[flip->byte] = static_cast<char>(mended_[flip->byte] ^ flip->mask);
        local = ByteView(reinterpret_cast<const uint8_t*>(mended_.data()), mended_.size());
        ++mendedHeaders_;
      }
    }
    result = DecodeRecord(local, PayloadEnd::Complete, layout_, target, clean);
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
                          EndOf(status), layout_, target, clean);
  }
  if (!options_.fieldOrder.empty()) {
    row_.rowid = decoded_.rowid;
    row_.values.resize(decoded_.values.size());
    for (size_t k = 0; k < decoded_.values.size(); ++k)
      std::swap(row_.values[static_cast<size_t>(options_.fieldOrder[k])], decoded_.values[k]);
  }
  if (result.cut == PayloadEnd::CellContent) session_.ShowMessage(kCellContentBox);
  if (result.cut == PayloadEnd::Reading) session_.ShowMessage(kReadingBox);
  parser_.rowHasBlob = result.hasBlob;
  filled_ = result.filled;
  return true;
}

void RowEmitter::LogMended(uint32_t page, uint32_t found, uint32_t dropped) {
  session_.AddLogLine(Format("Page %u: %u damaged cell pointers were left out and %u cells that no pointer "
                             "names were read from its content area",
                             page, dropped, found));
}

bool RowEmitter::HandOver(const RecoveredRow& row, size_t filled) {
  filled = std::min(filled, row.values.size());
  // Each row costs its value bytes and a little for itself.
  uint64_t cost = 16;
  for (size_t k = 0; k < filled; ++k) cost += row.values[k].bytes.size();
  if (!options_.values->Spend(cost)) {
    session_.ShowMessage(kBudgetBox);
    return false;
  }
  if (options_.insertMode) {
    if (parser_.rowSink != nullptr) parser_.rowSink->WriteRow(row);
  } else {
    // The columns after the record's last stay out of the list (they show
    // empty), so that a wide table of short records takes no memory for them.
    size_t n = filled;
    while (n > 0 && row.values[n - 1].kind == RecoveredValue::Kind::Missing) --n;
    listRow_.resize(n);
    for (size_t k = 0; k < n; ++k) listRow_[k] = ValueText(row.values[k], options_.utf16, options_.bigEndian);
    session_.AddRecordRow(listRow_);
  }
  parser_.rowHasBlob = false;
  return true;
}

// ---- rowid tables ----

RowRecovery::RowRecovery(sqlite_ver3& parser, const PageGeometry& geometry, const Options& options)
    : TableTreeWalk(*parser.owner->reader, geometry, parser.pageHeaders), emitter_(parser, geometry, options) {}

bool RowRecovery::StopRequested() { return emitter_.StopRequested(); }

void RowRecovery::PageOutsideFile(int64_t) { emitter_.session().ShowMessage(kCorruptedBox); }

void RowRecovery::PageSeenBefore(uint32_t page) {
  emitter_.session().AddLogLine(Format("Page %u of the table is reached a second time; it is read once", page));
}

bool RowRecovery::Leaf(uint32_t page, const PageHeader& header) {
  ReadPage(reader_, geometry_, page, page_);
  const ByteView bytes(page_.data(), PageBytesInFile(geometry_, page));
  const PageCells cells = ReadPageCells(bytes, page, header, geometry_, CellKind::TableLeaf);
  if (cells.found != 0 || cells.dropped != 0) emitter_.LogMended(page, cells.found, cells.dropped);
  const CellBounds bounds = BoundCells(bytes, geometry_, cells.offsets);
  RecoverySession& session = emitter_.session();
  if (bounds.repeats != 0)
    session.AddLogLine(Format("Page %u names %u of its cells more than once; each cell is read once", page,
                              bounds.repeats));
  if (bounds.nested)
    session.AddLogLine(Format("The cells of page %u lie inside one another; each is read up to the next one", page));
  for (size_t i = 0; i < cells.offsets.size(); ++i) {
    if (StopRequested()) return false;
    if (bounds.repeat[i]) {
      emitter_.CountCell();
      continue;
    }
    const ByteView cell = bounds.end[i] != 0 ? bytes.Sub(0, bounds.end[i]) : bytes;
    if (!emitter_.Cell(page, cell, cells.offsets[i], cells.sizes[i], CellKind::TableLeaf)) return false;
  }
  return true;
}

bool RowRecovery::EnterPage(uint32_t page) { return emitter_.TakePage(page); }

void RowRecovery::CellsMended(uint32_t page, const PageCells& cells) {
  emitter_.LogMended(page, cells.found, cells.dropped);
}

void RowRecovery::ChildMended(uint32_t parent, int64_t child, uint32_t replacement) {
  emitter_.session().AddLogLine(Format("Page %u names page %lld as a child, whose rows do not belong there; page %u, "
                                       "whose number differs by one bit, fits and is read instead",
                                       parent, static_cast<long long>(child), replacement));
}

// ---- WITHOUT ROWID tables ----

IndexRowRecovery::IndexRowRecovery(sqlite_ver3& parser, const PageGeometry& geometry,
                                   const RowRecoveryOptions& options)
    : IndexTreeWalk(*parser.owner->reader, geometry, parser.pageHeaders), emitter_(parser, geometry, options) {}

bool IndexRowRecovery::StopRequested() { return emitter_.StopRequested(); }

void IndexRowRecovery::PageOutsideFile(int64_t) { emitter_.session().ShowMessage(kCorruptedBox); }

void IndexRowRecovery::PageSeenBefore(uint32_t page) {
  emitter_.session().AddLogLine(Format("Page %u of the table is reached a second time; it is read once", page));
}

void IndexRowRecovery::CellsMended(uint32_t page, const IndexPageCells& cells) {
  emitter_.LogMended(page, cells.found, cells.dropped);
}

bool IndexRowRecovery::Entry(const IndexPageCells& page, size_t cell) {
  return emitter_.Cell(page.page, page.bytes, page.offsets[cell], page.sizes[cell],
                       page.interior ? CellKind::IndexInterior : CellKind::IndexLeaf);
}

}  // namespace veltrane
