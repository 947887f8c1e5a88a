// The walk over one SQLite 2 b-tree: every page's cell chain, then the
// subtrees of its cells' left children in chain order, then the subtree of
// its right child. SQLite 2 keeps a complete entry in every cell, interior
// pages included, so every cell met is one entry.
//
// The walk ends on any input, and its work is bounded by the file's size:
// only pages 2 .. pageCount are followed, and each page serves the walk once,
// as a tree page or as an overflow page of one cell (cells read their data
// through the walk's PageSet); in a page, a cell whose header and key
// overlap those of a cell already read ends the chain. It keeps its own
// stack, so a deep or degenerate tree cannot exhaust the thread's stack.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "core/parser.h"
#include "sqlite2/ver2_layout.h"

namespace veltrane::ver2 {

// One cell met by the walk.
struct CellRef {
  uint32_t page = 0;
  uint32_t offset = 0;      // within the page
  uint64_t fileOffset = 0;  // of the cell's first byte
  Ver2CellHeader header;
  int32_t rowid = 0;  // the key read as a table row number
  PageSet* claimed = nullptr;  // the walk's pages, for PageFile::ReadCellData
};

struct WalkOptions {
  // A page whose first-cell offset is 0 is read from the first byte after its
  // header all the same (the schema tree, whose pages are never empty: a
  // zero there is damage). Otherwise such a page has no cells and its
  // children are not visited.
  bool readFromHeaderEndWhenEmpty = false;
};

struct WalkVisitor {
  // Called before a page is entered; false ends the walk.
  std::function<bool(uint32_t page)> enterPage;
  // Called for every cell; false ends the walk.
  std::function<bool(const CellRef& cell)> cell;
};

// Walks the tree rooted at root. headers[i] is the header of page i + 1.
// Returns false when the visitor ended the walk.
bool WalkTree(const PageFile& file, const std::vector<Ver2PageHeader>& headers, uint32_t root,
              const WalkOptions& options, const WalkVisitor& visitor);

// Visits the cells of one page only (its children are not followed); cells
// read their data through claimed. False when the visitor ended the walk.
bool WalkPageCells(const PageFile& file, const std::vector<Ver2PageHeader>& headers, uint32_t page,
                   PageSet& claimed, const WalkVisitor& visitor);

}  // namespace veltrane::ver2
