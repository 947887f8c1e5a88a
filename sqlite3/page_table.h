// Page geometry of a SQLite 3 file and the page table: the 12-byte b-tree page
// header of every page, read once per scan.
//
// Database header (the first 100 bytes at `base`; integers big-endian):
//
//   offset  size  field                          use here
//   ------  ----  -----------------------------  -----------------------------------
//        0    15  "SQLite format 3"              compared ignoring case
//       16     2  page size (1 means 65536)      never used: the session's page size wins
//       20     1  reserved bytes at a page end   usable size = page size - reserved
//       32     4  first freelist trunk page      read, not used
//       36     4  number of freelist pages       read, not used
//       56     4  text encoding (1, 2, 3)        its low byte (offset 59) picks the text mode
//
// B-tree page header (at the page start; on page 1 after the database header):
//
//   offset  size  field
//   ------  ----  ------------------------------------------------------------
//        0     1  page type: 2 interior index, 5 interior table, 10 leaf index, 13 leaf table
//        1     2  offset of the first freeblock (0: none)
//        3     2  number of cells
//        5     2  start of the cell content area
//        7     1  number of fragmented free bytes
//        8     4  right-most child page (interior pages only; on leaves: cell pointers)
//
// The cell pointer array follows the header: 8 bytes after its start on a leaf,
// 12 on an interior page; each entry is a 2-byte offset from the page start.
#pragma once

#include <cstdint>
#include <vector>

#include "core/bytes.h"
#include "core/parser.h"
#include "core/reader.h"

namespace veltrane {

// Where the pages of one database lie in the file.
struct PageGeometry {
  uint64_t base = 0;        // zero-based offset of the database in the file
  uint32_t pageSize = 0;    // 512 .. 65536
  uint32_t usableSize = 0;  // pageSize minus the reserved bytes at each page end
  uint64_t pageCount = 0;   // whole pages in the file after base
  uint64_t fileSize = 0;
  // The database size in pages that the header declares (0: none). A child
  // beyond pageCount but within it was cut off with the file's end.
  uint64_t declaredPages = 0;

  uint64_t PageStart(uint64_t page) const { return base + (page - 1) * uint64_t{pageSize}; }
  // Offset of the b-tree page header within its page.
  static uint32_t HeaderOffset(uint64_t page) { return page == 1 ? 100 : 0; }
  // True for a page number that names a page of the file.
  bool IsPage(int64_t page) const { return page >= 1 && static_cast<uint64_t>(page) <= pageCount; }
};

// Usable size for a page size and the reserved-bytes field; a field that would
// leave less than SQLite's minimum of 480 usable bytes is taken as damaged.
uint32_t UsableSize(uint32_t pageSize, uint8_t reservedField);

// Page types as the walks see them. A table leaf is any type byte of 11 or
// more read as a signed number (damaged leaves keep being read).
inline bool IsTableLeaf(uint8_t type) { return static_cast<int8_t>(type) >= 11; }
inline bool IsTableInterior(uint8_t type) { return type == 5; }
// The type bytes that occur on the pages of a healthy file: b-tree pages, and
// the first byte of overflow, freelist and pointer-map pages.
bool IsKnownPageType(uint8_t type);

// The page header record of one page, from the 12 bytes at its header position.
PageHeader DecodePageHeader(const ByteView& bytes);

// Cell pointer array position within a page for the given page header record.
inline uint32_t CellPointerArray(uint64_t page, const PageHeader& header) {
  return PageGeometry::HeaderOffset(page) + (IsTableInterior(header.type) || header.type == 2 ? 12 : 8);
}

// Reads one whole page (zero-filled past the end of the file) into buffer.
void ReadPage(Reader& reader, const PageGeometry& geometry, uint64_t page, std::vector<uint8_t>& buffer);

// The bytes of a page that the file holds: the page size, less for the last
// page of a file cut inside it (the rest of the buffer is no data).
inline size_t PageBytesInFile(const PageGeometry& geometry, uint64_t page) {
  const uint64_t start = geometry.PageStart(page);
  if (start >= geometry.fileSize) return 0;
  const uint64_t left = geometry.fileSize - start;
  return static_cast<size_t>(left < geometry.pageSize ? left : geometry.pageSize);
}

}  // namespace veltrane
