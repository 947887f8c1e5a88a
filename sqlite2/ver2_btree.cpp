#include "sqlite2/ver2_btree.h"

#include <algorithm>
#include <bitset>

namespace veltrane::ver2 {

namespace {

// Reads the cell chain of one page; returns false when the visitor ended the
// walk. The left children of the cells are appended to children in chain order.
bool ReadChain(const PageFile& file, uint32_t page, uint32_t firstCell, PageSet& claimed,
               const WalkVisitor& visitor, std::vector<uint32_t>& children) {
  uint8_t bytes[kPageSize];
  file.ReadPage(page, bytes);
  const ByteView view(bytes, kPageSize);
  std::bitset<kPageSize> covered;  // the header and key bytes of the cells read
  for (uint32_t at = firstCell; IsCellOffset(at);) {
    for (uint32_t i = 0; i < kCellDataOffset; ++i) {
      if (covered[at + i]) return true;
      covered[at + i] = true;
    }
    CellRef cell;
    cell.page = page;
    cell.offset = at;
    cell.fileOffset = PageFile::PageOffset(page) + at;
    cell.header = DecodeCellHeader(view.Sub(at, kCellHeaderSize), file.order());
    cell.rowid = DecodeRowid(view.Sub(at + kCellHeaderSize, kKeySize));
    cell.claimed = &claimed;
    if (cell.header.leftChild != 0) children.push_back(cell.header.leftChild);
    if (visitor.cell && !visitor.cell(cell)) return false;
    at = cell.header.nextCell;
  }
  return true;
}

}  // namespace

bool WalkTree(const PageFile& file, const std::vector<Ver2PageHeader>& headers, uint32_t root,
              const WalkOptions& options, const WalkVisitor& visitor) {
  const auto pages = static_cast<uint32_t>(std::min<uint64_t>(file.pageCount(), headers.size()));
  auto followable = [&](uint32_t page) { return page >= 2 && page <= pages; };
  if (!followable(root)) return true;

  // A page is queued at most once, so the pending list never outgrows the file.
  std::vector<bool> queued(size_t{pages} + 1, false);
  std::vector<uint32_t> pending{root};
  queued[root] = true;
  std::vector<uint32_t> children;
  auto queue = [&](uint32_t page) {
    if (!followable(page) || queued[page]) return;
    queued[page] = true;
    pending.push_back(page);
  };
  PageSet claimed(pages);
  while (!pending.empty()) {
    const uint32_t page = pending.back();
    pending.pop_back();
    if (!claimed.Claim(page)) continue;  // served as an overflow page already
    if (visitor.enterPage && !visitor.enterPage(page)) return false;

    const Ver2PageHeader& header = headers[page - 1];
    uint32_t first = header.firstCell;
    if (first == 0) {
      if (!options.readFromHeaderEndWhenEmpty) continue;
      first = kPageHeaderSize;
    }
    children.clear();
    if (!ReadChain(file, page, first, claimed, visitor, children)) return false;
    // Visit order: left children in chain order, then the right child.
    queue(header.rightChild);
    for (auto it = children.rbegin(); it != children.rend(); ++it) queue(*it);
  }
  return true;
}

bool WalkPageCells(const PageFile& file, const std::vector<Ver2PageHeader>& headers, uint32_t page,
                   PageSet& claimed, const WalkVisitor& visitor) {
  if (page < 2 || page > std::min<uint64_t>(file.pageCount(), headers.size())) return true;
  if (!claimed.Claim(page)) return true;  // served another cell or page already
  if (visitor.enterPage && !visitor.enterPage(page)) return false;
  const uint32_t first = headers[page - 1].firstCell;
  if (first == 0) return true;
  std::vector<uint32_t> children;
  return ReadChain(file, page, first, claimed, visitor, children);
}

}  // namespace veltrane::ver2
