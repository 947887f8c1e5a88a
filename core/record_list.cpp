#include "core/record_list.h"

#include <cstring>

namespace veltrane {

namespace {
constexpr uint32_t kNullBit = 0x80000000u;

uint32_t LoadU32(const std::string& s, size_t at) {
  uint32_t v;
  std::memcpy(&v, s.data() + at, 4);
  return v;
}
}  // namespace

// Packed row: u32 cell count n, then n u32 end offsets (top bit = NULL flag)
// relative to the start of the texts, then the texts.
std::string RecordList::Pack(const RecordRow& row) {
  const size_t header = 4 * (row.size() + 1);
  size_t total = header;
  for (const auto& c : row) total += c.text.size();
  std::string out;
  out.reserve(total);
  out.resize(header);
  const auto n = static_cast<uint32_t>(row.size());
  std::memcpy(out.data(), &n, 4);
  uint32_t end = 0;
  for (size_t i = 0; i < row.size(); ++i) {
    end += static_cast<uint32_t>(row[i].text.size());
    const uint32_t field = end | (row[i].isNull ? kNullBit : 0);
    std::memcpy(out.data() + 4 * (i + 1), &field, 4);
  }
  for (const auto& c : row) out += c.text;
  return out;
}

RecordCell RecordList::UnpackCell(const std::string& packed, size_t column) {
  RecordCell cell;
  if (packed.size() < 4) return cell;
  const uint32_t n = LoadU32(packed, 0);
  if (column >= n) return cell;
  const size_t textStart = 4 * (size_t{n} + 1);
  const uint32_t field = LoadU32(packed, 4 * (column + 1));
  const uint32_t end = field & ~kNullBit;
  const uint32_t begin = column == 0 ? 0 : (LoadU32(packed, 4 * column) & ~kNullBit);
  cell.text.assign(packed, textStart + begin, end - begin);
  cell.isNull = (field & kNullBit) != 0;
  return cell;
}

RecordRow RecordList::Unpack(const std::string& packed) {
  RecordRow row;
  const uint32_t n = packed.size() >= 4 ? LoadU32(packed, 0) : 0;
  row.reserve(n);
  for (uint32_t c = 0; c < n; ++c) row.push_back(UnpackCell(packed, c));
  return row;
}

void RecordList::SetListener(RecordListListener* listener) {
  std::lock_guard lock(mutex_);
  listener_ = listener;
}

void RecordList::Notify(const RecordListChange& change) {
  RecordListListener* listener;
  {
    std::lock_guard lock(mutex_);
    listener = listener_;
  }
  if (listener) listener->RecordListChanged(change);
}

void RecordList::InsertColumn(size_t position, const std::string& heading) {
  {
    std::lock_guard lock(mutex_);
    if (position > headings_.size()) position = headings_.size();
    headings_.insert(headings_.begin() + static_cast<long>(position), heading);
  }
  Notify({RecordListChange::Kind::ColumnInserted, position});
}

void RecordList::RemoveColumn(size_t position) {
  {
    std::lock_guard lock(mutex_);
    if (position >= headings_.size()) return;
    headings_.erase(headings_.begin() + static_cast<long>(position));
  }
  Notify({RecordListChange::Kind::ColumnRemoved, position});
}

size_t RecordList::ColumnCount() const {
  std::lock_guard lock(mutex_);
  return headings_.size();
}

std::string RecordList::ColumnHeading(size_t position) const {
  std::lock_guard lock(mutex_);
  return position < headings_.size() ? headings_[position] : std::string();
}

std::vector<std::string> RecordList::ColumnHeadings() const {
  std::lock_guard lock(mutex_);
  return headings_;
}

void RecordList::ClearRows() {
  {
    std::lock_guard lock(mutex_);
    rows_.clear();
    rows_.shrink_to_fit();
  }
  Notify({RecordListChange::Kind::RowsCleared});
}

size_t RecordList::AppendRow(const RecordRow& row) { return InsertRow(SIZE_MAX, row); }

size_t RecordList::InsertRow(size_t index, const RecordRow& row) {
  std::function<void(const RecordRow&)> tap;
  bool stored = false;
  size_t columns = 0;
  {
    std::lock_guard lock(mutex_);
    tap = tap_;
    columns = headings_.size();
    if (index > rows_.size()) index = rows_.size();
    if (keepRows_) {
      rows_.insert(rows_.begin() + static_cast<long>(index), Pack(row));
      stored = true;
    }
  }
  if (tap) {
    if (row.size() >= columns) {
      tap(row);
    } else {
      RecordRow whole(row);
      whole.resize(columns);
      tap(whole);
    }
  }
  if (stored) Notify({RecordListChange::Kind::RowsAdded, index, 1});
  return index;
}

void RecordList::SetCell(size_t row, size_t column, const std::string& text, bool isNull) {
  {
    std::lock_guard lock(mutex_);
    if (row >= rows_.size()) return;
    RecordRow cells = Unpack(rows_[row]);
    if (column >= cells.size()) cells.resize(column + 1);
    cells[column] = {text, isNull};
    rows_[row] = Pack(cells);
  }
  Notify({RecordListChange::Kind::RowChanged, row, 1});
}

size_t RecordList::RowCount() const {
  std::lock_guard lock(mutex_);
  return rows_.size();
}

RecordCell RecordList::Cell(size_t row, size_t column) const {
  std::lock_guard lock(mutex_);
  if (row >= rows_.size()) return {};
  return UnpackCell(rows_[row], column);
}

RecordRow RecordList::Row(size_t row) const {
  std::lock_guard lock(mutex_);
  if (row >= rows_.size()) return {};
  RecordRow cells = Unpack(rows_[row]);
  if (cells.size() < headings_.size()) cells.resize(headings_.size());
  return cells;
}

void RecordList::SetKeepRows(bool keep) {
  std::lock_guard lock(mutex_);
  keepRows_ = keep;
}

void RecordList::SetRowTap(std::function<void(const RecordRow&)> tap) {
  std::lock_guard lock(mutex_);
  tap_ = std::move(tap);
}

void RecordList::SetText(const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    text_ = text;
  }
  Notify({RecordListChange::Kind::TextChanged});
}

std::string RecordList::Text() const {
  std::lock_guard lock(mutex_);
  return text_;
}

void RecordList::ShowList(bool showList) {
  {
    std::lock_guard lock(mutex_);
    listVisible_ = showList;
  }
  Notify({RecordListChange::Kind::ViewChanged});
}

bool RecordList::ListVisible() const {
  std::lock_guard lock(mutex_);
  return listVisible_;
}

}  // namespace veltrane
