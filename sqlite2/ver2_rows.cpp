// Row recovery of sqlite_ver2: the count of a table's entries and the walk
// that hands every entry to the record list or, in insert mode, to the row sink.
#include <algorithm>
#include <string>

#include "core/session.h"
#include "core/text.h"
#include "sqlite2/sqlite_ver2.h"
#include "sqlite2/ver2_btree.h"

namespace veltrane {

namespace {

uint32_t ProgressValue(int64_t v) {
  return static_cast<uint32_t>(std::clamp<int64_t>(v, 0, UINT32_MAX));
}

// The record list's cells of a decoded row.
RecordRow ListRow(const RecoveredRow& row) {
  RecordRow cells;
  cells.reserve(row.values.size());
  for (const RecoveredValue& v : row.values) {
    switch (v.kind) {
      case RecoveredValue::Kind::Text: cells.push_back({v.bytes, false}); break;
      case RecoveredValue::Kind::Integer: cells.push_back({std::to_string(v.integer), false}); break;
      default: cells.push_back({"NULL", true}); break;
    }
  }
  return cells;
}

constexpr const char* kBudgetBox =
    "The table's cells hold far more data than the whole file: the file repeats its contents. The rows read so "
    "far are kept; the rest of the table is skipped.";

}  // namespace

void sqlite_ver2::StartJobBounds() {
  if (boundsJob_ == job || owner == nullptr || !owner->reader) return;
  boundsJob_ = job;
  const uint64_t pages = owner->reader->size / ver2::kPageSize;
  jobValues_.Reset(owner->reader->size, kValueShare, kValueFloor);
  jobCountPages_.Reset(pages, 16, 4096);
  jobShares_.Reset(pages);
}

uint64_t sqlite_ver2::CountRows(std::string, uint64_t rootPage) {
  if (owner == nullptr || !owner->reader || rootPage > UINT32_MAX) return static_cast<uint64_t>(rowProgress);
  const ver2::PageFile file(*owner->reader, byteOrder);
  StartJobBounds();
  ver2::WalkVisitor visitor;
  visitor.enterPage = [&](uint32_t) { return jobCountPages_.Spend(1); };
  visitor.cell = [&](const ver2::CellRef& cell) {
    cellHeader = cell.header;
    ++rowProgress;
    return true;
  };
  const DeepPages* extra = deep.For(currentTable);
  if (extra == nullptr || !extra->lostAndFound)
    ver2::WalkTree(file, ver2PageHeaders, static_cast<uint32_t>(rootPage), {}, visitor);
  if (extra != nullptr) {
    ver2::PageSet claimed(file.pageCount());
    for (uint32_t page : extra->pages) ver2::WalkPageCells(file, ver2PageHeaders, page, claimed, visitor);
  }
  return static_cast<uint64_t>(rowProgress);
}

void sqlite_ver2::RecoverRows(std::string path, int32_t rootPage, int columnCount, const std::string& tableName,
                              int keyMark) {
  if (owner == nullptr || !owner->reader) return;
  RecoverySession& session = *owner;
  if (session.stopRequested) return;

  // The table's count is announced once per preview, never during a save.
  int64_t announced = 0;
  if (rowProgress == 0 && !saveStarted && !session.suppressListRows) {
    CountRows(path, rootPage < 0 ? 0 : static_cast<uint64_t>(rootPage));
    announced = rowProgress;
    session.AddLogLine(Format("Table %shave%lld entry", tableName.c_str(), static_cast<long long>(announced)));
    rowProgress = 1;
    session.SetProgressRange(ProgressValue(announced));
  }
  const DeepPages* extra = deep.For(currentTable);
  if (rootPage < 0 && extra == nullptr) return;

  const bool insert = session.insertRowsMode;
  const int keyColumn = keyMark >= 10 ? keyMark - 10 : -1;
  const ver2::PageFile file(*session.reader, byteOrder);
  auto stopped = [&] {
    if (!session.stopRequested) return false;
    session.SetProgressPos(ProgressValue(announced));
    return true;
  };

  // A lost_and_found table: the record's own columns, behind the page
  // number and the rowid.
  const bool lostAndFound = extra != nullptr && extra->lostAndFound;
  const int recordColumns = lostAndFound ? extra->recordColumns : columnCount;
  const int recordKey = lostAndFound ? -1 : keyColumn;
  // A page serves a few tables of a job (see PageShares); the cells of a
  // page refused are passed over.
  StartJobBounds();
  bool skipPage = false;
  bool sharesReported = false;
  ver2::WalkVisitor visitor;
  visitor.enterPage = [&](uint32_t page) {
    if (stopped()) return false;
    skipPage = insert && !jobShares_.Take(page, currentTable);
    if (skipPage && !sharesReported)
      session.AddLogLine(Format("Page %u gave rows to %u other tables already; this table skips such pages", page,
                                unsigned{kPageShareLimit}));
    sharesReported = sharesReported || skipPage;
    return true;
  };
  visitor.cell = [&](const ver2::CellRef& cell) {
    if (stopped()) return false;
    if (skipPage) return true;
    cellHeader = cell.header;
    const std::string data = file.ReadCellData(cell.fileOffset, cell.header, cell.claimed);
    RecoveredRow row = ver2::DecodeRow(data, ver2::DataSize(cell.header), recordColumns, recordKey, cell.rowid);
    if (lostAndFound) {
      row.values.insert(row.values.begin(), {RecoveredValue::Int(cell.page), RecoveredValue::Int(cell.rowid)});
    }
    uint64_t cost = 16;
    for (const RecoveredValue& v : row.values) cost += v.bytes.size();
    if (!jobValues_.Spend(cost)) {
      session.ShowMessage(kBudgetBox);
      return false;
    }
    if (insert) {
      if (rowSink != nullptr && rowSink->WriteRow(row)) ++session.entryCount;
    } else {
      session.AddRecordRow(ListRow(row));
    }
    session.SetProgressPos(ProgressValue(rowProgress));
    ++rowProgress;
    return true;
  };
  if (!lostAndFound && !ver2::WalkTree(file, ver2PageHeaders, static_cast<uint32_t>(rootPage), {}, visitor)) return;
  if (extra != nullptr) {
    ver2::PageSet claimed(file.pageCount());
    for (uint32_t page : extra->pages)
      if (!ver2::WalkPageCells(file, ver2PageHeaders, page, claimed, visitor)) return;
  }
}

}  // namespace veltrane
