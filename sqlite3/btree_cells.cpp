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

uint64_t LocalPayloadSize(uint64_t payloadLength, uint32_t usableSize, bool index) {
  const uint64_t u = usableSize;
  const uint64_t x = index ? ((u - 12) * 64 / 255) - 23 : u - 35;
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

// ---- cells of a page ----

namespace {

struct CellShape {
  bool ok = false;      // well formed
  uint32_t extent = 0;  // 0: does not end inside the page
};

// Parses the cell at offset; with checkRecord the record of a payload cell
// must account for its payload exactly (header size, serial types, values).
CellShape ParseCell(const ByteView& page, uint32_t offset, uint32_t usable, CellKind kind, uint64_t pageCount,
                    bool checkRecord) {
  CellShape r;
  if (uint64_t{offset} + 4 > usable) return r;
  uint64_t pos = offset;
  bool childOk = true;
  if (kind == CellKind::TableInterior || kind == CellKind::IndexInterior) {
    const uint32_t child = page.BE32(pos);
    childOk = child >= 1 && child <= pageCount;
    pos += 4;
  }
  if (kind == CellKind::TableInterior) {
    uint64_t key = 0;
    pos += ReadVarint(page, pos, key);
    if (pos > usable) return r;
    r.extent = static_cast<uint32_t>(std::max<uint64_t>(4, pos - offset));
    r.ok = childOk;
    return r;
  }
  uint64_t payload = 0;
  pos += ReadVarint(page, pos, payload);
  if (kind == CellKind::TableLeaf) {
    uint64_t rowid = 0;
    pos += ReadVarint(page, pos, rowid);
  }
  const uint64_t local = LocalPayloadSize(payload, usable, kind != CellKind::TableLeaf);
  const uint64_t end = pos + local + (local < payload ? 4 : 0);
  if (end > usable) return r;
  r.extent = static_cast<uint32_t>(std::max<uint64_t>(4, end - offset));
  if (!checkRecord) {
    r.ok = childOk;
    return r;
  }
  if (payload == 0 || !childOk) return r;
  if (local < payload) {
    const uint32_t overflow = page.BE32(static_cast<size_t>(pos + local));
    if (overflow < 1 || overflow > pageCount) return r;
  }
  const ByteView record = page.Sub(static_cast<size_t>(pos), static_cast<size_t>(local));
  uint64_t headerSize = 0;
  const unsigned n = ReadVarint(record, 0, headerSize);
  if (headerSize < n || headerSize > local) return r;
  uint64_t sum = headerSize;
  for (uint64_t q = n; q < headerSize;) {
    uint64_t type = 0;
    q += ReadVarint(record, static_cast<size_t>(q), type);
    if (q > headerSize || type == 10 || type == 11) return r;
    sum += SerialTypeSize(type);
    if (sum > payload) return r;
  }
  r.ok = sum == payload;
  return r;
}

}  // namespace

uint32_t CellExtent(const ByteView& page, uint32_t offset, uint32_t usableSize, CellKind kind) {
  return ParseCell(page, offset, usableSize, kind, UINT64_MAX, false).extent;
}

PageCells ReadPageCells(const ByteView& page, uint64_t pageNumber, const PageHeader& header,
                        const PageGeometry& geometry, CellKind kind) {
  PageCells cells;
  const bool interior = kind == CellKind::TableInterior || kind == CellKind::IndexInterior;
  const uint32_t arrayStart = PageGeometry::HeaderOffset(pageNumber) + (interior ? 12 : 8);
  const uint32_t fit = arrayStart < page.size() ? static_cast<uint32_t>((page.size() - arrayStart) / 2) : 0;
  const uint16_t count = static_cast<uint16_t>(std::min<uint32_t>(header.cellCount, fit));
  cells.offsets = ReadCellOffsets(page, arrayStart, count);
  const std::vector<uint16_t> freeblocks =
      header.firstFreeblock != 0 ? ReadFreeblockChain(page, header.firstFreeblock, count) : std::vector<uint16_t>{};
  auto finish = [&] {
    cells.sizes = EstimateCellSizes(cells.offsets, freeblocks);
    return cells;
  };

  // Which named cells are sound: inside the content area, well formed, and
  // not overlapping another.
  const uint32_t usable = std::min<uint32_t>(geometry.usableSize, static_cast<uint32_t>(page.size()));
  const uint32_t arrayEnd = arrayStart + 2u * count;
  struct Named {
    uint32_t offset, extent;
    size_t index;
    bool sound;
  };
  std::vector<Named> named;
  named.reserve(count);
  bool damaged = false;
  for (size_t i = 0; i < cells.offsets.size(); ++i) {
    const uint32_t off = cells.offsets[i];
    const CellShape shape = off >= arrayEnd ? ParseCell(page, off, usable, kind, geometry.pageCount, true) : CellShape{};
    named.push_back({off, shape.extent, i, shape.ok && shape.extent != 0});
    damaged |= !named.back().sound;
  }
  std::vector<Named*> byOffset;
  for (Named& n : named)
    if (n.sound) byOffset.push_back(&n);
  std::sort(byOffset.begin(), byOffset.end(), [](const Named* a, const Named* b) { return a->offset < b->offset; });
  for (size_t i = 0; i + 1 < byOffset.size(); ++i)
    if (byOffset[i]->offset + byOffset[i]->extent > byOffset[i + 1]->offset) {
      byOffset[i]->sound = byOffset[i + 1]->sound = false;
      damaged = true;
    }
  if (usable <= arrayEnd) return finish();

  // The stretches of the content area that no sound cell and no freeblock claims.
  std::vector<std::pair<uint32_t, uint32_t>> claimed;
  uint32_t lowest = usable;
  for (const Named& n : named)
    if (n.sound) {
      claimed.emplace_back(n.offset, n.offset + n.extent);
      lowest = std::min(lowest, n.offset);
    }
  for (uint16_t fb : freeblocks) {
    if (fb < arrayEnd || fb >= usable) continue;
    claimed.emplace_back(fb, std::min<uint32_t>(usable, uint32_t{fb} + std::max<uint16_t>(4, page.BE16(fb + 2u))));
  }
  std::sort(claimed.begin(), claimed.end());
  const uint32_t contentStart = header.contentStart == 0 ? 65536u : header.contentStart;
  uint32_t from = contentStart >= arrayEnd && contentStart <= usable ? std::min(contentStart, lowest) : lowest;
  std::vector<std::pair<uint32_t, uint32_t>> gaps;
  for (const auto& [a, b] : claimed) {
    if (a > from && a - from >= 4) gaps.emplace_back(from, a);
    from = std::max(from, b);
  }
  if (usable > from && usable - from >= 4) gaps.emplace_back(from, usable);
  if (gaps.empty()) return finish();
  // A sound page with stretches that no cell claims has lost cells from its
  // count: their pointers still stand in the slots after the array.
  std::vector<uint16_t> slots;
  if (!damaged) {
    const uint32_t slotsEnd = std::min(contentStart, lowest);
    for (uint32_t at = arrayEnd; at + 2 <= slotsEnd && slots.size() < 4096; at += 2) {
      const uint16_t v = page.BE16(at);
      if (v < arrayEnd || v >= usable) break;
      slots.push_back(v);
    }
    if (slots.empty()) return finish();
    std::sort(slots.begin(), slots.end());
  }

  // Cells back to back in each stretch; taken when they fill it exactly
  // (up to a fragment of less than 4 bytes at its end).
  std::vector<uint16_t> found;
  std::vector<bool> drop(named.size(), false);
  for (const auto& [a, b] : gaps) {
    std::vector<uint16_t> inGap;
    uint32_t pos = a;
    while (b - pos >= 4) {
      const CellShape shape = ParseCell(page, pos, usable, kind, geometry.pageCount, true);
      if (!shape.ok || shape.extent == 0 || pos + shape.extent > b) break;
      inGap.push_back(static_cast<uint16_t>(pos));
      pos += shape.extent;
    }
    if (inGap.empty() || b - pos >= 4) continue;
    if (!damaged && !std::all_of(inGap.begin(), inGap.end(), [&](uint16_t c) {
          return std::binary_search(slots.begin(), slots.end(), c);
        }))
      continue;
    // inGap is sorted: a damaged pointer is dropped unless it names one of its cells.
    for (const Named& n : named)
      if (!n.sound && n.offset >= a && n.offset < b && !std::binary_search(inGap.begin(), inGap.end(), n.offset))
        drop[n.index] = true;
    found.insert(found.end(), inGap.begin(), inGap.end());
  }
  if (found.empty()) return finish();
  std::vector<uint16_t> offsets;
  offsets.reserve(cells.offsets.size() + found.size());
  std::vector<bool> kept(65536, false);
  auto seenBefore = [&](uint16_t offset) {
    if (kept[offset]) return true;
    kept[offset] = true;
    return false;
  };
  // A pointer named twice is read once.
  for (size_t i = 0; i < cells.offsets.size(); ++i) {
    if (drop[i] || seenBefore(cells.offsets[i])) {
      ++cells.dropped;
      continue;
    }
    offsets.push_back(cells.offsets[i]);
  }
  for (uint16_t f : found) {
    if (seenBefore(f)) continue;
    offsets.push_back(f);
    ++cells.found;
  }
  cells.offsets = std::move(offsets);
  return finish();
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
                         uint32_t cellSize, CellKind kind)
    : reader_(reader), geometry_(geometry), page_(page) {
  const uint32_t pageEnd = std::min<uint32_t>(geometry.usableSize, static_cast<uint32_t>(page.size()));
  if (cellOffset == 0 || cellOffset >= pageEnd) return;
  const unsigned child = kind == CellKind::IndexInterior ? 4 : 0;
  uint64_t rowid = 0;
  const unsigned a = ReadVarint(page, cellOffset + child, payloadLength_);
  const unsigned b = kind == CellKind::TableLeaf ? ReadVarint(page, cellOffset + child + a, rowid) : 0;
  rowid_ = static_cast<int64_t>(rowid);
  varintBytes_ = child + a + b;
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
    localSize_ = LocalPayloadSize(payloadLength_, geometry.usableSize, kind != CellKind::TableLeaf);
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
    // An overflow page cut by the end of the file ends the chain there.
    const uint64_t held = PageBytesInFile(geometry_, loadedPage_);
    const uint64_t have = held > 4 + inPage ? std::min<uint64_t>(n, held - 4 - inPage) : 0;
    out.append(reinterpret_cast<const char*>(loaded_.data()) + 4 + inPage, static_cast<size_t>(have));
    if (have < n) return Status::ChainEnded;
    pos += n;
  }
  return pastPayload ? Status::CellDamaged : Status::Ok;
}

// ---- schema records ----

SchemaRecordText ReadSchemaRecord(Reader& reader, const PageGeometry& geometry, const ByteView& pageBytes,
                                  uint64_t page, uint32_t cellIndex, uint32_t cellSize, OverflowClaims* claims) {
  const uint32_t cellOffset = pageBytes.BE16(PageGeometry::HeaderOffset(page) + 8 + 2 * cellIndex);
  return ReadSchemaRecordAt(reader, geometry, pageBytes, cellOffset, cellSize, claims);
}

SchemaRecordText ReadSchemaRecordAt(Reader& reader, const PageGeometry& geometry, const ByteView& pageBytes,
                                    uint32_t cellOffset, uint32_t cellSize, OverflowClaims* claims) {
  SchemaRecordText result;
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

bool TableTreeWalk::RowidSpan(uint32_t page, int64_t& low, int64_t& high) {
  // Each page's span is read once per walk: many damaged children may ask
  // for the same candidates.
  const auto known = spans_.find(page);
  if (known != spans_.end()) {
    low = known->second.low;
    high = known->second.high;
    return known->second.any;
  }
  Span& span = spans_[page];
  span.any = ReadRowidSpan(page, span.low, span.high);
  low = span.low;
  high = span.high;
  return span.any;
}

bool TableTreeWalk::ReadRowidSpan(uint32_t page, int64_t& low, int64_t& high) {
  const PageHeader& header = pageHeaders_[page - 1];
  if (header.cellCount == 0) return false;
  const bool interior = IsTableInterior(header.type);
  const uint64_t start = geometry_.PageStart(page);
  const uint32_t array = PageGeometry::HeaderOffset(page) + (interior ? 12 : 8);
  int64_t keys[2] = {0, 0};
  const uint32_t cells[2] = {0, header.cellCount - 1u};
  for (int k = 0; k < 2; ++k) {
    uint8_t pointer[2] = {};
    reader_.ReadAt(start + array + 2ull * cells[k], pointer, sizeof pointer);
    const uint32_t offset = ByteView(pointer, 2).BE16(0);
    if (offset == 0 || offset >= geometry_.pageSize) return false;
    uint8_t cell[22] = {};
    reader_.ReadAt(start + offset, cell, sizeof cell);
    const ByteView c(cell, sizeof cell);
    uint64_t value = 0;
    if (interior) {
      ReadVarint(c, 4, value);
    } else {
      uint64_t payload = 0;
      ReadVarint(c, ReadVarint(c, 0, payload), value);
    }
    keys[k] = static_cast<int64_t>(value);
  }
  low = std::min(keys[0], keys[1]);
  high = std::max(keys[0], keys[1]);
  return true;
}

bool TableTreeWalk::Run(int64_t root) {
  if (seen_.size() != pageHeaders_.size() + 1) seen_.assign(pageHeaders_.size() + 1, false);
  const uint64_t pages = std::min<uint64_t>(pageHeaders_.size(), geometry_.pageCount);
  auto named = [&](int64_t p) { return p >= 1 && static_cast<uint64_t>(p) <= pages; };
  auto isTablePage = [&](int64_t p) {
    const uint8_t type = pageHeaders_[static_cast<size_t>(p - 1)].type;
    return IsTableLeaf(type) || IsTableInterior(type);
  };

  // A child and the rowids it may hold: (low, high], unbounded where unknown.
  struct Child {
    int64_t page;
    bool hasLow = false, hasHigh = false;
    int64_t low = 0, high = 0;
    bool Fits(int64_t a, int64_t b) const { return (!hasLow || a > low) && (!hasHigh || b <= high); }
  };
  struct Frame {
    uint32_t page = 0;
    std::vector<Child> children;
    size_t next = 0;
  };
  std::vector<Frame> stack;
  std::vector<uint8_t> buffer;

  // The child to read for an entry of an interior page: the page it names,
  // or the one page a bit away that fits when the named one does not.
  auto choose = [&](uint32_t parent, const std::vector<Child>& siblings, const Child& child) -> int64_t {
    const int64_t p = child.page;
    int64_t low = 0, high = 0;
    if (named(p) && !seen_[static_cast<size_t>(p)] && isTablePage(p) &&
        (!RowidSpan(static_cast<uint32_t>(p), low, high) || child.Fits(low, high)))
      return p;
    if (!child.hasLow && !child.hasHigh) return p;
    // A child that the end of a truncated file cut off is lost, not flipped.
    if (p > static_cast<int64_t>(pages) && static_cast<uint64_t>(p) <= geometry_.declaredPages) return p;
    int64_t replacement = 0;
    int fitting = 0;
    for (int bit = 0; bit < 32 && fitting < 2; ++bit) {
      const int64_t candidate = static_cast<int64_t>(static_cast<uint32_t>(p) ^ (1u << bit));
      // Page 1 is the schema's root and never the child of a table.
      if (candidate == 1 || !named(candidate) || seen_[static_cast<size_t>(candidate)] || !isTablePage(candidate))
        continue;
      if (!RowidSpan(static_cast<uint32_t>(candidate), low, high) || !child.Fits(low, high)) continue;
      // A page the parent names as another child is that child, not this one.
      if (std::any_of(siblings.begin(), siblings.end(), [&](const Child& c) { return c.page == candidate; }))
        continue;
      replacement = candidate;
      ++fitting;
    }
    if (fitting != 1) return p;
    ChildMended(parent, p, static_cast<uint32_t>(replacement));
    return replacement;
  };

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
    const ByteView bytes(buffer.data(), PageBytesInFile(geometry_, page));
    const PageCells cells = ReadPageCells(bytes, page, header, geometry_, CellKind::TableInterior);
    if (cells.found != 0 || cells.dropped != 0) CellsMended(page, cells);
    // The keys, as far as they are in order (mended cells come last).
    std::vector<int64_t> keys;
    keys.reserve(cells.offsets.size());
    for (uint16_t offset : cells.offsets) {
      uint64_t key = 0;
      ReadVarint(bytes, offset + 4u, key);
      keys.push_back(static_cast<int64_t>(key));
    }
    const bool ordered = cells.found == 0 && std::is_sorted(keys.begin(), keys.end());
    Frame frame;
    frame.page = page;
    frame.children.reserve(cells.offsets.size() + 1);
    const size_t n = cells.offsets.size();
    for (size_t i = 0; i <= n; ++i) {
      Child child;
      child.page = static_cast<int32_t>(i < n ? bytes.BE32(cells.offsets[i]) : header.rightChild);
      if (ordered) {
        child.hasLow = i >= 2;
        if (child.hasLow) child.low = keys[i - 2];
        child.hasHigh = i + 1 < n;
        if (child.hasHigh) child.high = keys[i + 1];
      }
      frame.children.push_back(child);
    }
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
    const Child child = top.children[top.next++];
    const uint32_t parent = top.page;
    if (StopRequested()) return false;
    if (!enter(choose(parent, stack.back().children, child))) return false;
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
