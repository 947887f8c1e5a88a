// What the pages of a SQLite 3 file tell about its geometry when its header
// cannot: the page size, where the database starts in the file, and the text
// encoding of its records.
//
// The b-tree page header the inference checks (at the page start, on page 1
// after the 100-byte database header; integers big-endian):
//
//   offset  size  field                      a page of page size P is taken when
//   ------  ----  -------------------------  ------------------------------------------
//        0     1  type                       2, 5, 10 or 13
//        1     2  first freeblock            0, or inside the page after the pointers
//        3     2  number of cells N          the pointer array fits in the page
//        5     2  cell content start         0 meaning 65536; N = 0: exactly P;
//                                            else after the pointers, at most each pointer
//        7     1  fragmented bytes           at most 60
//        8     4  right child (interior)
//   8 / 12   2*N  cell pointers              each inside [end of the array, P)
//
// A page of the true size P passes; at P/2 the cell pointers of a page run
// past its end (cells are stored from the page end down), and at 2P only every
// second page start is a page start. So the page size whose page starts, at
// one offset modulo the page size, pass most often is the file's.
//
// Encoding: a schema record (table leaf cell of five or more columns) starts
// with its type, "table", "index", "view" or "trigger", whose bytes tell
// UTF-8, UTF-16le or UTF-16be.
#pragma once

#include <cstdint>
#include <optional>

#include "core/reader.h"

namespace veltrane {

struct InferredGeometry {
  bool found = false;
  uint32_t pageSize = 0;
  uint64_t base = 0;          // zero-based offset of page 1 in the file
  uint64_t pagesPassed = 0;   // page starts that passed the check
};

// Searches the first part of the file (up to 8 MiB) for the page size and
// start; with knownBase only that start is tried.
InferredGeometry InferGeometry(Reader& reader, std::optional<uint64_t> knownBase = std::nullopt);

// 1 UTF-8, 2 UTF-16le, 3 UTF-16be from the schema records found on the
// table leaves of the database; 0 when none was found.
int InferTextEncoding(Reader& reader, uint64_t base, uint32_t pageSize);

// "UTF-8", "UTF-16le", "UTF-16be", or "unknown".
const char* EncodingName(int encoding);

// True when the bytes of a page (page 1: header at offset 100) pass the check
// for page size pageSize.
bool LooksLikeBtreePage(const uint8_t* page, uint32_t pageSize, uint32_t headerOffset);

}  // namespace veltrane
