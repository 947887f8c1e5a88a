#include "sqlite2/ver2_deep.h"

#include <algorithm>
#include <bitset>
#include <map>

#include "core/session.h"
#include "core/table_shape.h"
#include "core/text.h"
#include "sqlite2/sqlite_ver2.h"

namespace veltrane {

namespace {

constexpr uint32_t kFreelistTrunkField = 52;

std::string Lower(std::string_view s) {
  std::string out(Trim(s));
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string Key(const std::string& type, const std::string& name) { return type + '\n' + Lower(name); }

// The decimal number of a root page field; 0 when it holds none.
int64_t RootNumber(std::string_view text) {
  text = Trim(text);
  if (text.empty() || text.size() > 10) return 0;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    v = v * 10 + (c - '0');
  }
  return v;
}

}  // namespace

Ver2DeepScan::Ver2DeepScan(sqlite_ver2& parser, const ver2::PageFile& file)
    : parser_(parser),
      session_(*parser.owner),
      file_(file),
      pages_(static_cast<uint32_t>(std::min<uint64_t>(file.pageCount(), parser.ver2PageHeaders.size()))),
      held_(size_t{pages_} + 1, Holder::None),
      stamp_(size_t{pages_} + 1, 0) {}

std::vector<Ver2DeepScan::Cell> Ver2DeepScan::Chain(uint32_t page) const {
  std::vector<Cell> cells;
  uint8_t bytes[ver2::kPageSize];
  file_.ReadPage(page, bytes);
  const ByteView view(bytes, sizeof bytes);
  uint32_t at = parser_.ver2PageHeaders[page - 1].firstCell;
  // The master root is never empty: a zero there is damage.
  if (at == 0 && page == ver2::kMasterRoot) at = ver2::kPageHeaderSize;
  std::bitset<ver2::kPageSize> covered;
  while (ver2::IsCellOffset(at) && cells.size() < ver2::kPageSize / ver2::kCellDataOffset) {
    for (uint32_t i = 0; i < ver2::kCellDataOffset; ++i) {
      if (covered[at + i]) return cells;
      covered[at + i] = true;
    }
    Cell c;
    c.offset = at;
    c.header = ver2::DecodeCellHeader(view.Sub(at, ver2::kCellHeaderSize), file_.order());
    c.rowid = ver2::DecodeRowid(view.Sub(at + ver2::kCellHeaderSize, ver2::kKeySize));
    cells.push_back(c);
    at = c.header.nextCell;
  }
  return cells;
}

template <typename CellFn>
Ver2DeepScan::Survey Ver2DeepScan::Walk(uint32_t root, Holder claim, CellFn&& cell) {
  Survey s;
  ++epoch_;
  std::vector<uint32_t> stack;
  auto push = [&](uint64_t p) {
    if (!IsPage(p) || stamp_[p] == epoch_) {
      s.complete = false;
      return;
    }
    stamp_[p] = epoch_;
    stack.push_back(static_cast<uint32_t>(p));
  };
  push(root);
  while (!stack.empty()) {
    const uint32_t p = stack.back();
    stack.pop_back();
    if (held_[p] == Holder::None) held_[p] = claim;
    s.pages.push_back(p);
    const std::vector<Cell> cells = Chain(p);
    // Only an empty table has a page without cells: its root.
    if (cells.empty() && p != root) s.complete = false;
    for (const Cell& c : cells) {
      HoldOverflow(p, c);
      cell(p, c);
      if (c.header.leftChild != 0) push(c.header.leftChild);
    }
    const uint32_t right = parser_.ver2PageHeaders[p - 1].rightChild;
    if (right != 0) push(right);
  }
  return s;
}

void Ver2DeepScan::HoldOverflow(uint32_t page, const Cell& cell) {
  const uint32_t size = ver2::DataSize(cell.header);
  if (size <= ver2::kLocalData || cell.offset + ver2::kOverflowPointerOffset + 4 > ver2::kPageSize) return;
  uint8_t pointer[4] = {};
  file_.reader().ReadAt(ver2::PageFile::PageOffset(page) + cell.offset + ver2::kOverflowPointerOffset, pointer, 4);
  uint32_t next = ver2::Read32(ByteView(pointer, 4), 0, file_.order());
  const uint64_t needed = (uint64_t{size} - ver2::kLocalData + ver2::kOverflowData - 1) / ver2::kOverflowData;
  for (uint64_t k = 0; k < needed && IsPage(next) && held_[next] == Holder::None; ++k) {
    held_[next] = Holder::Overflow;
    file_.reader().ReadAt(ver2::PageFile::PageOffset(next), pointer, 4);
    next = ver2::Read32(ByteView(pointer, 4), 0, file_.order());
  }
}

void Ver2DeepScan::ReadFreelist() {
  uint8_t header[ver2::kFileHeaderSize] = {};
  file_.reader().ReadAt(0, header, sizeof header);
  uint32_t trunk = ver2::Read32(ByteView(header, sizeof header), kFreelistTrunkField, file_.order());
  uint8_t bytes[ver2::kPageSize];
  for (uint32_t n = 0; IsPage(trunk) && n < pages_ && held_[trunk] != Holder::Freelist; ++n) {
    held_[trunk] = Holder::Freelist;
    file_.ReadPage(trunk, bytes);
    const ByteView t(bytes, sizeof bytes);
    const uint32_t count = std::min<uint32_t>(ver2::Read32(t, 4, file_.order()), ver2::kPageSize / 4 - 2);
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t leaf = ver2::Read32(t, 8 + 4 * i, file_.order());
      if (IsPage(leaf) && held_[leaf] == Holder::None) held_[leaf] = Holder::Freelist;
    }
    trunk = ver2::Read32(t, 0, file_.order());
  }
}

bool Ver2DeepScan::MasterFields(std::string_view record, uint32_t size, std::string& type, std::string& name,
                                int64_t& root) {
  const std::vector<ver2::RecordField> fields = ver2::DecodeRecordFields(record, size, 5);
  if (fields.size() != 5) return false;
  type = Lower(ver2::FieldText(record, fields[0]));
  if (type != "table" && type != "index" && type != "view" && type != "trigger") return false;
  name = std::string(ver2::FieldText(record, fields[1]));
  root = RootNumber(ver2::FieldText(record, fields[3]));
  // A row of a user table can look the same: a master record carries a
  // CREATE statement, or is an automatic index without one.
  const std::string sql = Lower(ver2::FieldText(record, fields[4]));
  if (sql.empty()) return type == "index" && Lower(name).find("autoindex") != std::string::npos;
  return sql.find("create") != std::string::npos;
}

bool Ver2DeepScan::ReadLostPage(uint32_t page, LostPage& lost, ver2::PageSet& overflow) {
  const Ver2PageHeader& header = parser_.ver2PageHeaders[page - 1];
  if (header.rightChild != 0 && !IsPage(header.rightChild)) return false;
  const std::vector<Cell> cells = Chain(page);
  if (cells.empty()) return false;
  lost = LostPage{};
  lost.page = page;
  std::vector<Pending> master;
  for (const Cell& c : cells) {
    // Table cells: 4-byte aligned, a 4-byte key, a record of their own.
    const uint32_t size = ver2::DataSize(c.header);
    if (c.offset % 4 != 0 || c.header.keySize != ver2::kKeySize || c.header.keySizeHigh != 0 || size == 0 ||
        size > file_.reader().size)
      continue;
    if (c.header.leftChild != 0 && !IsPage(c.header.leftChild)) continue;
    const std::string data = file_.ReadCellData(ver2::PageFile::PageOffset(page) + c.offset, c.header, &overflow);
    const int columns = ver2::SoundRecordColumns(data, size);
    if (columns < 0) continue;
    Pending p;
    if (columns == 5 && MasterFields(data, size, p.type, p.name, p.root)) {
      p.page = page;
      p.record = data;
      master.push_back(std::move(p));
    }
    ++lost.records;
    lost.columns = std::max(lost.columns, columns);
    if (lost.classes.size() < static_cast<size_t>(columns)) lost.classes.resize(static_cast<size_t>(columns), 0);
    const std::vector<ver2::RecordField> fields = ver2::DecodeRecordFields(data, size, columns);
    for (size_t i = 0; i < fields.size(); ++i) lost.classes[i] |= fields[i].length > 0 ? kClassText : kClassNull;
    lost.covers.push_back({c.rowid, c.rowid});
  }
  if (lost.records == 0 || size_t{lost.records} * 2 < cells.size()) return false;
  if (!master.empty()) {
    // A page of the master tree.
    held_[page] = Holder::Master;
    for (Pending& p : master) pendingMaster_.push_back(std::move(p));
    return false;
  }
  return true;
}

void Ver2DeepScan::SearchMasterRecords() {
  if (pages_ < 2) return;
  Walk(ver2::kMasterRoot, Holder::Master, [](uint32_t, const Cell&) {});
  ReadFreelist();
  const size_t records = std::min(parser_.textBuffers.size(), parser_.masterRecordSizes.size());
  std::vector<int64_t> roots;
  for (size_t k = 0; k < records; ++k) {
    std::string type, name;
    int64_t root = 0;
    const std::string_view record(parser_.textBuffers[k]);
    if (!MasterFields(record.substr(0, parser_.masterRecordSizes[k]), parser_.masterRecordSizes[k], type, name, root))
      continue;
    known_.insert(Key(type, name));
    if (root != 0) roots.push_back(root);
  }
  for (int64_t root : roots)
    if (IsPage(static_cast<uint64_t>(root))) Walk(static_cast<uint32_t>(root), Holder::Tree, [](uint32_t, const Cell&) {});

  ver2::PageSet overflow(pages_);
  for (uint32_t p = 2; p <= pages_; ++p) {
    if (held_[p] != Holder::None || overflow.Used(p)) continue;
    LostPage lost;
    if (ReadLostPage(p, lost, overflow)) lost_.push_back(std::move(lost));
  }
  // A page that turned out to carry the overflow of a lost cell is none.
  for (uint32_t p = 2; p <= pages_; ++p)
    if (overflow.Used(p) && held_[p] == Holder::None) held_[p] = Holder::Overflow;

  size_t found = 0;
  for (const Pending& m : pendingMaster_) {
    if (!known_.insert(Key(m.type, m.name)).second) continue;
    if (m.type == "table" && IsPage(static_cast<uint64_t>(m.root)) && held_[m.root] != Holder::None) {
      session_.AddLogLine(Format("The table %s found outside the master tree names page %lld, which another tree "
                                 "holds; it is skipped",
                                 m.name.c_str(), static_cast<long long>(m.root)));
      continue;
    }
    parser_.textBuffers.push_back(m.record);
    parser_.masterRecordSizes.push_back(static_cast<uint32_t>(m.record.size()));
    if (IsPage(static_cast<uint64_t>(m.root))) Walk(static_cast<uint32_t>(m.root), Holder::Tree, [](uint32_t, const Cell&) {});
    ++found;
  }
  if (found != 0) session_.AddLogLine(Format("%zu schema objects were found outside the schema tree", found));
}

HostTable Ver2DeepScan::SurveyTable(int32_t k) {
  const TableDescriptorParts parts = ParseTableDescriptor(parser_.tableDescriptors[static_cast<size_t>(k)]);
  HostTable host;
  host.table = k;
  host.name = std::string(Trim(parts.name));
  host.columns = static_cast<int>(parts.columns.size());
  host.rootPage = parts.rootPage;
  const size_t kk = static_cast<size_t>(k);
  const TableShape shape =
      AnalyseTableShape(kk < parser_.tableStatements.size() ? parser_.tableStatements[kk] : std::string());
  host.rowidAlias = shape.rowidAlias;
  host.takesPages = host.columns > 0;
  if (!IsPage(static_cast<uint64_t>(parts.rootPage))) {
    host.complete = false;
    return host;
  }
  const Survey s = Walk(static_cast<uint32_t>(parts.rootPage), Holder::Tree, [](uint32_t, const Cell&) {});
  host.complete = s.complete;
  for (uint32_t p : s.pages) {
    if (host.spanFirst == 0 || p < host.spanFirst) host.spanFirst = p;
    host.spanLast = std::max<uint64_t>(host.spanLast, p);
  }
  if (host.complete) return host;
  // What its rows look like, for the lost pages to be compared with; each
  // overflow page serves one cell.
  ver2::PageSet overflow(pages_);
  Walk(static_cast<uint32_t>(parts.rootPage), Holder::Tree, [&](uint32_t page, const Cell& c) {
    host.rowids.insert({c.rowid, c.rowid});
    const uint32_t size = ver2::DataSize(c.header);
    if (size == 0 || size > file_.reader().size) return;
    const std::string data = file_.ReadCellData(ver2::PageFile::PageOffset(page) + c.offset, c.header, &overflow);
    const int columns = ver2::SoundRecordColumns(data, size);
    if (columns < 0) return;
    ++host.records;
    host.recordColumns.insert(columns);
    if (host.classes.size() < static_cast<size_t>(columns)) host.classes.resize(static_cast<size_t>(columns), 0);
    const std::vector<ver2::RecordField> fields = ver2::DecodeRecordFields(data, size, columns);
    for (size_t i = 0; i < fields.size(); ++i) host.classes[i] |= fields[i].length > 0 ? kClassText : kClassNull;
  });
  return host;
}

void Ver2DeepScan::PlaceLostPages() {
  std::vector<HostTable> hosts;
  for (size_t k = 0; k < parser_.tableDescriptors.size(); ++k) hosts.push_back(SurveyTable(static_cast<int32_t>(k)));
  lost_.erase(std::remove_if(lost_.begin(), lost_.end(),
                             [&](const LostPage& l) { return held_[l.page] != Holder::None; }),
              lost_.end());
  if (lost_.empty()) return;

  size_t attached = 0;
  std::map<int, std::vector<uint32_t>> byColumns;
  for (const LostPage& page : lost_) {
    const int h = ChooseHost(page, hosts);
    if (h >= 0) {
      HostTable& host = hosts[static_cast<size_t>(h)];
      host.Take(page);
      parser_.deep.tables[host.table].pages.push_back(page.page);
      ++attached;
    } else {
      byColumns[page.columns].push_back(page.page);
    }
  }
  for (const auto& [table, pages] : parser_.deep.tables)
    session_.AddLogLine(Format("Table %s takes %zu pages found outside its tree",
                               std::string(Trim(ParseTableDescriptor(parser_.tableDescriptors[table]).name)).c_str(),
                               pages.pages.size()));
  for (auto& [columns, pages] : byColumns) {
    const std::string name = LostAndFoundName(parser_, columns);
    const int32_t k = AddLostAndFoundTable(parser_, name, columns, pages.front(), false);
    DeepPages& deep = parser_.deep.tables[k];
    deep.pages = std::move(pages);
    deep.lostAndFound = true;
    deep.recordColumns = columns;
    session_.AddLogLine(
        Format("Table %s is made for the rows of %zu pages that no table holds", name.c_str(), deep.pages.size()));
  }
  session_.AddLogLine(Format("%zu table pages lie outside every table's tree: %zu joined their tables, %zu went "
                             "into lost_and_found tables",
                             lost_.size(), attached, lost_.size() - attached));
}

}  // namespace veltrane
