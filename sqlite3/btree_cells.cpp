#include "sqlite3/btree_cells.h"

#include <algorithm>

namespace veltrane {

std::vector<uint16_t> ReadFreeblockChain(const ByteView& page, uint16_t firstFreeblock, uint16_t cellCount) {
  std::vector<uint16_t> chain;
  const size_t capacity = size_t{cellCount} + 1;
  uint16_t next = firstFreeblock;
  while (next != 0 && chain.size() < capacity) {
    chain.push_back(next);
    next = page.BE16(next);  // past the page: 0, which ends the chain
  }
  return chain;
}

std::vector<uint32_t> EstimateCellSizes(const std::vector<uint16_t>& cellOffsets,
                                        const std::vector<uint16_t>& freeblocks, uint64_t* steps) {
  uint64_t work = 0;
  // Only the nearest greater offset can give the smallest extent: a freeblock
  // that cuts a farther neighbour short starts after the nearest one, or is one
  // that already cuts the nearest one short. So sort the distinct offsets and
  // look at the freeblocks between each pair of neighbours.
  std::vector<uint16_t> sorted(cellOffsets);
  std::sort(sorted.begin(), sorted.end(), [&work](uint16_t a, uint16_t b) {
    ++work;
    return a < b;
  });
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());

  struct Freeblock {
    uint16_t offset;
    size_t order;  // position in the chain
  };
  std::vector<Freeblock> blocks;
  blocks.reserve(freeblocks.size());
  for (size_t i = 0; i < freeblocks.size(); ++i) blocks.push_back({freeblocks[i], i});
  std::sort(blocks.begin(), blocks.end(), [&work](const Freeblock& a, const Freeblock& b) {
    ++work;
    return a.offset != b.offset ? a.offset < b.offset : a.order < b.order;
  });

  std::vector<uint32_t> sizeOf(sorted.size(), 0);
  size_t b = 0;
  for (size_t k = 0; k < sorted.size(); ++k) {
    const uint16_t c = sorted[k];
    if (k + 1 < sorted.size()) {
      const uint16_t e = sorted[k + 1];
      while (b < blocks.size() && blocks[b].offset <= c) ++b, ++work;
      // The freeblock latest in chain order among those strictly between c and e.
      const Freeblock* cut = nullptr;
      for (size_t j = b; j < blocks.size() && blocks[j].offset < e; ++j, ++work)
        if (cut == nullptr || blocks[j].order > cut->order) cut = &blocks[j];
      sizeOf[k] = static_cast<uint32_t>((cut ? cut->offset : e) - c);
    } else if (!freeblocks.empty() && freeblocks[0] > c) {
      sizeOf[k] = static_cast<uint32_t>(freeblocks[0] - c);
    }
  }

  std::vector<uint32_t> sizes(cellOffsets.size());
  for (size_t i = 0; i < cellOffsets.size(); ++i) {
    const size_t k = static_cast<size_t>(std::lower_bound(sorted.begin(), sorted.end(), cellOffsets[i],
                                                          [&work](uint16_t a, uint16_t b) {
                                                            ++work;
                                                            return a < b;
                                                          }) -
                                         sorted.begin());
    sizes[i] = sizeOf[k];
  }
  work += sorted.size();
  if (steps != nullptr) *steps += work;
  return sizes;
}

uint64_t LocalPayloadSize(uint64_t payloadLength, uint32_t usableSize) {
  const uint64_t u = usableSize;
  const uint64_t x = u - 35;
  if (payloadLength <= x) return payloadLength;
  const uint64_t m = ((u - 12) * 32 / 255) - 23;
  const uint64_t k = m + ((payloadLength - m) % (u - 4));
  return k <= x ? k : m;
}

std::vector<uint16_t> ReadCellOffsets(const ByteView& page, uint32_t arrayOffset, uint16_t cellCount) {
  std::vector<uint16_t> offsets(cellCount);
  for (uint32_t i = 0; i < cellCount; ++i) offsets[i] = page.BE16(arrayOffset + 2 * i);
  return offsets;
}

CellBounds BoundCells(const ByteView& page, const PageGeometry& geometry, const std::vector<uint16_t>& offsets) {
  CellBounds b;
  b.end.assign(offsets.size(), 0);
  b.repeat.assign(offsets.size(), false);
  const uint32_t pageEnd = std::min<uint32_t>(geometry.usableSize, static_cast<uint32_t>(page.size()));
  std::vector<uint32_t> order(offsets.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](uint32_t x, uint32_t y) { return offsets[x] < offsets[y]; });

  // What each distinct cell declares to keep on the page.
  const uint64_t most = geometry.pageCount * uint64_t{geometry.usableSize} + geometry.usableSize;
  uint64_t declared = 0;
  for (size_t k = 0; k < order.size(); ++k) {
    const uint32_t i = order[k];
    const uint32_t c = offsets[i];
    if (k > 0 && offsets[order[k - 1]] == c) {
      b.repeat[i] = true;
      ++b.repeats;
      continue;
    }
    if (c == 0 || c >= pageEnd) continue;
    uint64_t length = 0, rowid = 0;
    const unsigned a = ReadVarint(page, c, length);
    const unsigned r = ReadVarint(page, c + a, rowid);
    const uint64_t local = LocalPayloadSize(std::min(length, most), geometry.usableSize);
    declared += std::min<uint64_t>(a + r + local + (local < length ? 4 : 0), pageEnd - c);
  }
  if (declared <= kNestedCover * geometry.usableSize) return b;

  b.nested = true;
  uint32_t next = 0;  // the next greater distinct offset, 0 for none
  for (size_t k = order.size(); k-- > 0;) {
    const uint32_t i = order[k];
    if (k + 1 < order.size() && offsets[order[k + 1]] != offsets[i]) next = offsets[order[k + 1]];
    b.end[i] = next;
  }
  return b;
}

// ---- CellPayload ----

CellPayload::CellPayload(Reader& reader, const PageGeometry& geometry, ByteView page, uint32_t cellOffset,
                         uint32_t cellSize)
    : reader_(reader), geometry_(geometry), page_(page) {
  const uint32_t pageEnd = std::min<uint32_t>(geometry.usableSize, static_cast<uint32_t>(page.size()));
  if (cellOffset == 0 || cellOffset >= pageEnd) return;
  uint64_t rowid = 0;
  const unsigned a = ReadVarint(page, cellOffset, payloadLength_);
  const unsigned b = ReadVarint(page, cellOffset + a, rowid);
  rowid_ = static_cast<int64_t>(rowid);
  varintBytes_ = a + b;
  valid_ = true;
  const uint64_t payloadStart = uint64_t{cellOffset} + varintBytes_;
  const uint64_t room = payloadStart < pageEnd ? pageEnd - payloadStart : 0;

  // A payload longer than the whole file could hold has a damaged length:
  // take the cell's estimated extent on the page as its payload instead.
  const uint64_t most = geometry.pageCount * uint64_t{geometry.usableSize - 4} + geometry.usableSize;
  if (payloadLength_ > most) {
    const uint64_t extent = cellSize != 0 ? cellSize : pageEnd - cellOffset;
    payloadLength_ = extent > varintBytes_ ? std::min<uint64_t>(extent - varintBytes_, room) : 0;
    localSize_ = payloadLength_;
  } else {
    localSize_ = LocalPayloadSize(payloadLength_, geometry.usableSize);
  }
  localAvail_ = std::min(localSize_, room);
  local_ = page.Sub(static_cast<size_t>(payloadStart), static_cast<size_t>(localAvail_));
  if (overflows() && localAvail_ == localSize_ && room - localSize_ >= 4)
    firstOverflow_ = page.BE32(static_cast<size_t>(payloadStart + localSize_));
}

bool CellPayload::LocalView(uint64_t offset, uint64_t count, ByteView& view) const {
  if (offset > localAvail_ || count > localAvail_ - offset) return false;
  view = local_.Sub(static_cast<size_t>(offset), static_cast<size_t>(count));
  if (count == 0) view = ByteView();
  return true;
}

CellPayload::Status CellPayload::LoadOverflow(uint64_t index) {
  if (loadedIndex_ >= 0 && static_cast<uint64_t>(loadedIndex_) == index) return Status::Ok;
  if (loadedIndex_ < 0 || static_cast<uint64_t>(loadedIndex_) > index) {
    if (!geometry_.IsPage(firstOverflow_)) return Status::BadFirstPage;
    if (!Own(firstOverflow_)) return Status::ChainEnded;
    seen_.clear();
    seen_.insert(firstOverflow_);
    ReadPage(reader_, geometry_, firstOverflow_, loaded_);
    loadedPage_ = firstOverflow_;
    loadedIndex_ = 0;
  }
  while (static_cast<uint64_t>(loadedIndex_) < index) {
    const uint32_t next = ByteView(loaded_.data(), loaded_.size()).BE32(0);
    if (next == 0) return Status::ChainEnded;
    if (!geometry_.IsPage(next)) return Status::BadNextPage;
    if (!seen_.insert(next).second || !Own(next)) return Status::ChainEnded;
    ReadPage(reader_, geometry_, next, loaded_);
    loadedPage_ = next;
    ++loadedIndex_;
  }
  return Status::Ok;
}

bool CellPayload::Own(uint32_t page) {
  if (claims_ == nullptr || own_.count(page) != 0) return true;
  if (!claims_->Claim(page)) return false;
  own_.insert(page);
  return true;
}

CellPayload::Status CellPayload::Read(uint64_t offset, uint64_t count, std::string& out) {
  if (!valid_) return Status::CellDamaged;
  const bool pastPayload = offset > payloadLength_ || count > payloadLength_ - offset;
  const uint64_t end = pastPayload ? payloadLength_ : offset + count;
  uint64_t pos = offset;
  // The local part.
  if (pos < localSize_) {
    const uint64_t localEnd = std::min(end, localSize_);
    const uint64_t have = std::min(localEnd, localAvail_);
    if (pos < have) out.append(reinterpret_cast<const char*>(local_.data()) + pos, static_cast<size_t>(have - pos));
    if (have < localEnd) return Status::CellDamaged;
    pos = localEnd;
  }
  // The overflow chain.
  const uint64_t perPage = geometry_.usableSize - 4;
  while (pos < end) {
    const uint64_t index = (pos - localSize_) / perPage;
    const Status s = LoadOverflow(index);
    if (s != Status::Ok) return s;
    const uint64_t inPage = (pos - localSize_) % perPage;
    const uint64_t n = std::min(end - pos, perPage - inPage);
    out.append(reinterpret_cast<const char*>(loaded_.data()) + 4 + inPage, static_cast<size_t>(n));
    pos += n;
  }
  return pastPayload ? Status::CellDamaged : Status::Ok;
}

// ---- schema records ----

SchemaRecordText ReadSchemaRecord(Reader& reader, const PageGeometry& geometry, const ByteView& pageBytes,
                                  uint64_t page, uint32_t cellIndex, uint32_t cellSize, OverflowClaims* claims) {
  SchemaRecordText result;
  const uint32_t cellOffset = pageBytes.BE16(PageGeometry::HeaderOffset(page) + 8 + 2 * cellIndex);
  CellPayload cell(reader, geometry, pageBytes, cellOffset, cellSize);
  if (!cell.valid() || cell.payloadLength() == 0) return result;
  cell.ShareClaims(claims);

  // The record header: its size, then the serial types of type, name,
  // table name, root page and SQL text.
  std::string head;
  cell.Read(0, std::min<uint64_t>(cell.payloadLength(), 9 * 6), head);
  const ByteView h(reinterpret_cast<const uint8_t*>(head.data()), head.size());
  uint64_t headerSize = 0;
  size_t pos = ReadVarint(h, 0, headerSize);
  if (headerSize == 0 || headerSize > cell.payloadLength()) return result;
  uint64_t types[5] = {0, 0, 0, 0, 0};
  for (int k = 0; k < 5 && pos < headerSize && pos < head.size(); ++k) pos += ReadVarint(h, pos, types[k]);

  const uint64_t namesSize = SerialTypeSize(types[0]) + SerialTypeSize(types[1]) + SerialTypeSize(types[2]);
  const uint64_t rootType = types[3];
  const uint64_t sqlType = types[4];
  uint64_t textStart;
  if (sqlType != 0 && rootType <= 6) {
    // A regular record: the root page, then the SQL text to the payload end.
    const uint64_t rootAt = headerSize + namesSize;
    const uint64_t rootSize = SerialTypeSize(rootType);
    std::string rootBytes;
    if (rootSize != 0 && cell.Read(rootAt, rootSize, rootBytes) == CellPayload::Status::Ok)
      result.rootPage = SignExtend(ByteView(reinterpret_cast<const uint8_t*>(rootBytes.data()), rootBytes.size())
                                       .BigEndian(0, static_cast<unsigned>(rootSize)),
                                   static_cast<unsigned>(rootSize * 8));
    textStart = rootAt + rootSize;
  } else {
    // No SQL text, or a root page that is no integer: the whole body.
    textStart = headerSize;
    if (rootType == 9) result.rootPage = 1;
  }
  if (textStart >= cell.payloadLength()) return result;
  const uint64_t length = cell.payloadLength() - textStart;
  if (length > geometry.fileSize) {
    result.status = SchemaRecordText::Status::ReadError;
    return result;
  }
  switch (cell.Read(textStart, length, result.bytes)) {
    case CellPayload::Status::Ok:
      result.status = SchemaRecordText::Status::Ok;
      break;
    case CellPayload::Status::BadNextPage:
      result.status = SchemaRecordText::Status::ReadError;
      result.bytes.clear();
      break;
    case CellPayload::Status::BadFirstPage:
      result.status = cell.firstOverflowPage() == 0 ? SchemaRecordText::Status::NoText
                                                    : SchemaRecordText::Status::ReadError;
      result.bytes.clear();
      break;
    default:
      result.status = SchemaRecordText::Status::NoText;
      result.bytes.clear();
  }
  return result;
}

// ---- walk over a table b-tree ----

TableTreeWalk::TableTreeWalk(Reader& reader, const PageGeometry& geometry, const std::vector<PageHeader>& pageHeaders)
    : reader_(reader), geometry_(geometry), pageHeaders_(pageHeaders) {}

bool TableTreeWalk::Run(int64_t root) {
  if (seen_.size() != pageHeaders_.size() + 1) seen_.assign(pageHeaders_.size() + 1, false);
  const uint64_t pages = std::min<uint64_t>(pageHeaders_.size(), geometry_.pageCount);
  auto named = [&](int64_t p) { return p >= 1 && static_cast<uint64_t>(p) <= pages; };

  struct Frame {
    std::vector<uint32_t> children;
    size_t next = 0;
  };
  std::vector<Frame> stack;
  std::vector<uint8_t> buffer;

  // Enters one page: a leaf is handed over, an interior page is pushed.
  auto enter = [&](int64_t p) -> bool {
    if (!named(p)) {
      PageOutsideFile(p);
      return true;
    }
    const uint32_t page = static_cast<uint32_t>(p);
    if (seen_[page]) {
      PageSeenBefore(page);
      return true;
    }
    seen_[page] = true;
    if (!EnterPage(page)) return true;
    const PageHeader& header = pageHeaders_[page - 1];
    if (IsTableLeaf(header.type)) return Leaf(page, header);
    if (!IsTableInterior(header.type) || stack.size() >= maxDepth_) return true;
    ReadPage(reader_, geometry_, page, buffer);
    const ByteView bytes(buffer.data(), buffer.size());
    const uint32_t array = PageGeometry::HeaderOffset(page) + 12;
    const uint32_t fit = array < buffer.size() ? static_cast<uint32_t>((buffer.size() - array) / 2) : 0;
    const uint32_t cells = std::min<uint32_t>(header.cellCount, fit);
    Frame frame;
    frame.children.reserve(cells + 1);
    for (uint32_t i = 0; i < cells; ++i) frame.children.push_back(bytes.BE32(bytes.BE16(array + 2 * i)));
    frame.children.push_back(header.rightChild);
    stack.push_back(std::move(frame));
    return true;
  };

  if (StopRequested()) return false;
  if (!enter(root)) return false;
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next >= top.children.size()) {
      stack.pop_back();
      continue;
    }
    const uint32_t child = top.children[top.next++];
    if (StopRequested()) return false;
    if (!enter(static_cast<int32_t>(child))) return false;
  }
  return true;
}

namespace {

class RowCounter : public TableTreeWalk {
 public:
  using TableTreeWalk::TableTreeWalk;
  uint64_t count = 0;
  WorkBudget* pages = nullptr;

 protected:
  bool StopRequested() override { return pages != nullptr && pages->exhausted(); }
  bool EnterPage(uint32_t) override { return pages == nullptr || pages->Spend(1); }
  bool Leaf(uint32_t, const PageHeader& header) override {
    count += header.cellCount;
    return true;
  }
};

}  // namespace

uint64_t CountTableRows(Reader& reader, const PageGeometry& geometry, const std::vector<PageHeader>& pageHeaders,
                        int64_t root, WorkBudget* pages) {
  RowCounter counter(reader, geometry, pageHeaders);
  counter.pages = pages;
  counter.Run(root);
  return counter.count;
}

}  // namespace veltrane
