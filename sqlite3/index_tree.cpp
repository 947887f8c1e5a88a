#include "sqlite3/index_tree.h"

#include <algorithm>
#include <memory>

namespace veltrane {

IndexPageCells ReadIndexPageCells(uint32_t page, const PageHeader& header, ByteView bytes,
                                  const PageGeometry& geometry) {
  IndexPageCells cells;
  cells.page = page;
  cells.interior = IsIndexInterior(header.type);
  cells.bytes = bytes;
  PageCells read =
      ReadPageCells(bytes, page, header, geometry, cells.interior ? CellKind::IndexInterior : CellKind::IndexLeaf);
  cells.offsets = std::move(read.offsets);
  cells.sizes = std::move(read.sizes);
  cells.found = read.found;
  cells.dropped = read.dropped;
  return cells;
}

IndexTreeWalk::IndexTreeWalk(Reader& reader, const PageGeometry& geometry, const std::vector<PageHeader>& pageHeaders)
    : reader_(reader), geometry_(geometry), pageHeaders_(pageHeaders) {}

bool IndexTreeWalk::Run(int64_t root) {
  if (seen_.size() != pageHeaders_.size() + 1) seen_.assign(pageHeaders_.size() + 1, false);
  const uint64_t pages = std::min<uint64_t>(pageHeaders_.size(), geometry_.pageCount);
  auto named = [&](int64_t p) { return p >= 1 && static_cast<uint64_t>(p) <= pages; };

  // An interior page on the stack: its bytes (its cells are handed over
  // between the children) and the next step: child i, then cell i.
  struct Frame {
    std::unique_ptr<std::vector<uint8_t>> buffer;
    IndexPageCells cells;
    uint32_t rightChild = 0;
    size_t next = 0;        // 2 * i: left child of cell i; 2 * i + 1: cell i
  };
  std::vector<Frame> stack;
  std::vector<uint8_t> leafBuffer;

  // Enters one page: a leaf's entries are handed over at once, an interior
  // page is pushed. False stops the walk.
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
    const PageHeader& header = pageHeaders_[page - 1];
    if (IsIndexLeaf(header.type)) {
      ReadPage(reader_, geometry_, page, leafBuffer);
      const IndexPageCells cells =
          ReadIndexPageCells(page, header, ByteView(leafBuffer.data(), PageBytesInFile(geometry_, page)), geometry_);
      if (cells.found != 0 || cells.dropped != 0) CellsMended(page, cells);
      for (size_t i = 0; i < cells.offsets.size(); ++i) {
        if (StopRequested()) return false;
        if (!Entry(cells, i)) return false;
      }
      return true;
    }
    if (!IsIndexInterior(header.type) || stack.size() >= maxDepth_) return true;
    Frame frame;
    frame.buffer = std::make_unique<std::vector<uint8_t>>();
    ReadPage(reader_, geometry_, page, *frame.buffer);
    frame.cells =
        ReadIndexPageCells(page, header, ByteView(frame.buffer->data(), PageBytesInFile(geometry_, page)), geometry_);
    if (frame.cells.found != 0 || frame.cells.dropped != 0) CellsMended(page, frame.cells);
    frame.rightChild = header.rightChild;
    stack.push_back(std::move(frame));
    return true;
  };

  if (StopRequested()) return false;
  if (!enter(root)) return false;
  while (!stack.empty()) {
    Frame& top = stack.back();
    const size_t cellCount = top.cells.offsets.size();
    if (top.next > 2 * cellCount) {
      stack.pop_back();
      continue;
    }
    const size_t step = top.next++;
    if (StopRequested()) return false;
    if (step == 2 * cellCount) {
      // The right-most child; its frame may be replaced by the push below.
      const uint32_t child = top.rightChild;
      if (!enter(static_cast<int32_t>(child))) return false;
    } else if (step % 2 == 0) {
      const uint32_t child = top.cells.bytes.BE32(top.cells.offsets[step / 2]);
      if (!enter(static_cast<int32_t>(child))) return false;
    } else {
      if (!Entry(top.cells, step / 2)) return false;
    }
  }
  return true;
}

namespace {

class EntryCounter : public IndexTreeWalk {
 public:
  using IndexTreeWalk::IndexTreeWalk;
  uint64_t count = 0;

 protected:
  bool Entry(const IndexPageCells&, size_t) override {
    ++count;
    return true;
  }
};

}  // namespace

uint64_t CountIndexEntries(Reader& reader, const PageGeometry& geometry, const std::vector<PageHeader>& pageHeaders,
                           int64_t root) {
  EntryCounter counter(reader, geometry, pageHeaders);
  counter.Run(root);
  return counter.count;
}

}  // namespace veltrane
