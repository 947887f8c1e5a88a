// Walk over an index b-tree: the tree that holds an index, and the rows of a
// WITHOUT ROWID table.
//
// Index page (page types 2 and 10):
//
//   type  page            cells
//   ----  --------------  -----------------------------------------------
//      2  interior index  4-byte left child, payload length, payload (+ overflow)
//     10  leaf index      payload length, payload (+ overflow)
//
// Unlike a table b-tree, an interior index page carries entries of its own:
// each one sorts after every entry of its left child's subtree. The walk
// hands the entries over in key order: for each interior cell the subtree of
// its left child, then the cell itself; the right-most child last.
#pragma once

#include <cstdint>
#include <vector>

#include "core/bytes.h"
#include "core/parser.h"
#include "core/reader.h"
#include "sqlite3/btree_cells.h"
#include "sqlite3/page_table.h"

namespace veltrane {

inline bool IsIndexLeaf(uint8_t type) { return type == 10; }
inline bool IsIndexInterior(uint8_t type) { return type == 2; }
inline bool IsIndexPage(uint8_t type) { return type == 2 || type == 10; }

// The cells of one page of an index b-tree, as the walk hands them over.
struct IndexPageCells {
  uint32_t page = 0;
  bool interior = false;
  ByteView bytes;                  // the whole page
  std::vector<uint16_t> offsets;   // cell offsets, in cell-pointer order
  std::vector<uint32_t> sizes;     // estimated extent of each cell (0: to the page end)
  uint32_t found = 0, dropped = 0; // what the mending of damaged cell pointers did
};

// Depth-first walk in key order; each page at most once per walk, depth bounded.
class IndexTreeWalk {
 public:
  IndexTreeWalk(Reader& reader, const PageGeometry& geometry, const std::vector<PageHeader>& pageHeaders);
  IndexTreeWalk(const IndexTreeWalk&) = delete;
  IndexTreeWalk& operator=(const IndexTreeWalk&) = delete;
  virtual ~IndexTreeWalk() = default;

  // Walks the tree under root; false when the walk was stopped.
  bool Run(int64_t root);

 protected:
  // Asked before every child of an interior page.
  virtual bool StopRequested() { return false; }
  // A page number that names no page of the page table.
  virtual void PageOutsideFile(int64_t) {}
  // A page met a second time in this walk.
  virtual void PageSeenBefore(uint32_t) {}
  // One entry (cell `cell` of the page); false stops the walk.
  virtual bool Entry(const IndexPageCells& page, size_t cell) = 0;
  // A page whose damaged cell pointers were mended (ReadPageCells).
  virtual void CellsMended(uint32_t, const IndexPageCells&) {}

  size_t maxDepth_ = 64;
  Reader& reader_;
  const PageGeometry& geometry_;
  const std::vector<PageHeader>& pageHeaders_;

 private:
  std::vector<bool> seen_;
};

// The cells of one index page already read into bytes.
IndexPageCells ReadIndexPageCells(uint32_t page, const PageHeader& header, ByteView bytes,
                                  const PageGeometry& geometry);

// Number of entries (leaf and interior cells) of the index b-tree under root.
uint64_t CountIndexEntries(Reader& reader, const PageGeometry& geometry, const std::vector<PageHeader>& pageHeaders,
                           int64_t root);

}  // namespace veltrane
