// B-tree page and cell tools: freeblock chains, cell extents, the payload of a
// table-leaf cell with its overflow chain, and the walk over a table b-tree.
//
// Table-leaf cell (at page start + cell offset):
//
//   field                      size
//   -------------------------  ---------------------------------------------
//   payload length P           varint (1..9 bytes)
//   rowid                      varint (1..9 bytes)
//   payload, local part        L bytes (below)
//   first overflow page        4 bytes, only when L < P
//
// Local part (SQLite's rule, U = usable page size): X = U - 35; when P <= X
// the payload is wholly local (L = P). Otherwise M = ((U - 12) * 32 / 255) - 23,
// K = M + ((P - M) % (U - 4)), and L = K when K <= X, else L = M.
//
// Overflow page: 4-byte next page number (0 on the last page), then U - 4
// bytes of payload.
//
// Table-interior cell: 4-byte left child page number, then the key varint.
//
// Index cells (index b-trees also hold the rows of WITHOUT ROWID tables):
//
//   field                      size
//   -------------------------  ---------------------------------------------
//   left child page            4 bytes, interior index cells only
//   payload length P           varint (1..9 bytes)
//   payload, local part        L bytes
//   first overflow page        4 bytes, only when L < P
//
// The local part of an index payload follows the same rule with
// X = ((U - 12) * 64 / 255) - 23.
//
// Freeblock (within a page): 2-byte offset of the next freeblock (0 ends the
// chain), 2-byte size of this freeblock.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/bytes.h"
#include "core/parser.h"
#include "core/reader.h"
#include "core/work_bounds.h"
#include "sqlite3/page_table.h"

namespace veltrane {

// The freeblock offsets of a page, starting with its first-freeblock field and
// following the next-freeblock fields; cut after cellCount + 1 entries (a
// longer or circular chain is damage). Empty when firstFreeblock is 0.
std::vector<uint16_t> ReadFreeblockChain(const ByteView& page, uint16_t firstFreeblock, uint16_t cellCount);

// The estimated extent of each cell, from the cell offsets alone: the distance
// to the nearest greater cell offset, cut short at the last freeblock (in chain
// order) that starts between the two; for the cell with no greater offset the
// distance to the first freeblock when that lies after the cell, else 0 (the
// cell reaches the page end). Sorting keeps the work at O(n log n) for a
// page of n cells; when steps is given, the comparisons and loop steps are
// added to it.
std::vector<uint32_t> EstimateCellSizes(const std::vector<uint16_t>& cellOffsets,
                                        const std::vector<uint16_t>& freeblocks, uint64_t* steps = nullptr);

// Bytes that a value of serial type serialType occupies in a record body
// (10 and 11 are reserved and take none).
inline uint64_t SerialTypeSize(uint64_t serialType) {
  static constexpr uint8_t kSizes[12] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0, 0, 0};
  return serialType < 12 ? kSizes[serialType] : (serialType - 12) / 2;
}

// The kinds of cell. All but TableInterior carry a payload.
enum class CellKind : uint8_t { TableLeaf, IndexLeaf, IndexInterior, TableInterior };

// Bytes of a payload of length payloadLength stored on the page itself (a
// table-leaf payload, or with index set an index payload).
uint64_t LocalPayloadSize(uint64_t payloadLength, uint32_t usableSize, bool index = false);

// The cell offsets of a page's cell pointer array (cellCount entries).
std::vector<uint16_t> ReadCellOffsets(const ByteView& page, uint32_t arrayOffset, uint16_t cellCount);

// Bytes that the cell at offset occupies on its page (SQLite's rule: the
// varints, the local payload, the overflow page number; at least 4 bytes);
// 0 when it does not end inside the usable part of the page.
uint32_t CellExtent(const ByteView& page, uint32_t offset, uint32_t usableSize, CellKind kind);

// The cells of one b-tree page as the walks read them.
struct PageCells {
  std::vector<uint16_t> offsets;  // in cell-pointer order; cells found by the repair last
  std::vector<uint32_t> sizes;    // estimated extents (EstimateCellSizes)
  uint32_t found = 0;             // cells found in the content area that no pointer named
  uint32_t dropped = 0;           // damaged pointers replaced by them
};

// The cell pointer array of a page; when it shows damage (a pointer outside
// the content area, cells that overlap, a cell that does not parse, an
// interior cell naming no page of the file) also the cells found back to
// back in the stretches of the content area that no sound cell and no
// freeblock covers. A stretch is taken only when well-formed cells fill it
// exactly; they then replace the damaged pointers that fall inside it.
PageCells ReadPageCells(const ByteView& page, uint64_t pageNumber, const PageHeader& header,
                        const PageGeometry& geometry, CellKind kind);

// How far the cells of one leaf may reach. In a sound page no two cells
// overlap, so what the cells declare to keep on the page fits in it. A page
// whose cells declare more than kNestedCover times its usable size holds cells
// inside cells (each would repeat the bytes of the next): each of its cells
// then ends where the next greater cell offset begins. A cell pointer that
// repeats an earlier one of the page names the same cell again.
inline constexpr uint64_t kNestedCover = 4;
struct CellBounds {
  std::vector<uint32_t> end;  // per cell: 0 (the page end), or the offset where the cell ends
  std::vector<bool> repeat;   // per cell: its offset is one an earlier pointer named
  bool nested = false;        // the page's cells were cut at their neighbours
  uint32_t repeats = 0;
};
CellBounds BoundCells(const ByteView& page, const PageGeometry& geometry, const std::vector<uint16_t>& offsets);

// The overflow pages that the cells of one walk have read. In a sound file
// every overflow page belongs to one cell: a page that an earlier cell read
// ends the chain of a later one (its bytes are the other cell's), so the cells
// of a walk never read more overflow pages than the file holds.
class OverflowClaims {
 public:
  explicit OverflowClaims(uint64_t pageCount) : claimed_(pageCount + 1, false) {}
  OverflowClaims(const OverflowClaims&) = delete;
  OverflowClaims& operator=(const OverflowClaims&) = delete;
  // True when no cell read page before (it is now claimed).
  bool Claim(uint32_t page) {
    if (page >= claimed_.size() || claimed_[page]) return false;
    claimed_[page] = true;
    return true;
  }

 private:
  std::vector<bool> claimed_;
};

// The payload of one cell (a table-leaf cell, or an index cell), read front to
// back: the local part from the page buffer, the rest from the overflow chain, whose page numbers are
// checked against the page count and followed at most once each.
class CellPayload {
 public:
  enum class Status {
    Ok,
    CellDamaged,   // the range lies past the payload or past the page's bytes
    BadFirstPage,  // the cell's first overflow page number names no page
    BadNextPage,   // an overflow page names a next page outside the file
    ChainEnded     // the chain ended (next page 0, or a page met twice) too early
  };

  // page: the whole leaf page; cellOffset: from the page start. cellSize is the
  // estimated extent (0: to the page end); it bounds the cell when the payload
  // length is more than the whole file could hold.
  CellPayload(Reader& reader, const PageGeometry& geometry, ByteView page, uint32_t cellOffset,
              uint32_t cellSize = 0, CellKind kind = CellKind::TableLeaf);
  CellPayload(const CellPayload&) = delete;
  CellPayload& operator=(const CellPayload&) = delete;

  bool valid() const { return valid_; }
  uint64_t payloadLength() const { return payloadLength_; }
  int64_t rowid() const { return rowid_; }  // 0 for an index cell
  uint32_t varintBytes() const { return varintBytes_; }  // child number, payload length and rowid varints
  uint64_t localSize() const { return localSize_; }
  bool overflows() const { return localSize_ < payloadLength_; }
  uint32_t firstOverflowPage() const { return firstOverflow_; }

  // A view of [offset, offset + count) when the range lies in the local part.
  bool LocalView(uint64_t offset, uint64_t count, ByteView& view) const;
  // From now on the overflow pages are claimed in claims: a page another
  // cell claimed ends the chain (Status::ChainEnded).
  void ShareClaims(OverflowClaims* claims) { claims_ = claims; }
  // Appends the bytes of [offset, offset + count) to out; on a problem, what
  // was gathered before it stays appended and the status says why it stopped.
  Status Read(uint64_t offset, uint64_t count, std::string& out);

 private:
  // Makes overflow page `index` of the chain the loaded one.
  Status LoadOverflow(uint64_t index);
  // False when another cell of the walk claimed page.
  bool Own(uint32_t page);

  Reader& reader_;
  const PageGeometry& geometry_;
  ByteView page_;
  bool valid_ = false;
  uint64_t payloadLength_ = 0;
  int64_t rowid_ = 0;
  uint32_t varintBytes_ = 0;
  uint64_t localSize_ = 0;   // local bytes by the rule
  uint64_t localAvail_ = 0;  // local bytes that the page really holds
  ByteView local_;
  uint32_t firstOverflow_ = 0;
  // The loaded overflow page.
  int64_t loadedIndex_ = -1;
  uint32_t loadedPage_ = 0;
  std::vector<uint8_t> loaded_;
  std::unordered_set<uint32_t> seen_;
  OverflowClaims* claims_ = nullptr;
  std::unordered_set<uint32_t> own_;  // the pages this cell claimed
};

// What a schema record read delivers.
struct SchemaRecordText {
  enum class Status { Ok, NoText, ReadError };
  Status status = Status::NoText;
  std::string bytes;     // the SQL text (or the whole record body), in the file's encoding
  int64_t rootPage = 0;  // 0 when the record carries no page number
};

// Reads the SQL text of the schema record in cell cellIndex of the leaf page
// `page` (whole page in pageBytes). A regular record (an SQL text, a root page
// stored as an integer of up to 8 bytes or a NULL) gives its SQL text and root
// page; any other record gives its whole body, which still holds the text.
// claims, when given, are the overflow pages of the walk (see OverflowClaims).
SchemaRecordText ReadSchemaRecord(Reader& reader, const PageGeometry& geometry, const ByteView& pageBytes,
                                  uint64_t page, uint32_t cellIndex, uint32_t cellSize,
                                  OverflowClaims* claims = nullptr);
// The same for the cell at cellOffset.
SchemaRecordText ReadSchemaRecordAt(Reader& reader, const PageGeometry& geometry, const ByteView& pageBytes,
                                    uint32_t cellOffset, uint32_t cellSize, OverflowClaims* claims = nullptr);

// Walk over a table b-tree: interior pages depth first in cell-pointer order,
// the right-most child last; each page at most once per walk.
//
// The keys of an interior page bound the rowids of each child: child i holds
// rowids in (key[i-1], key[i]]. A child whose rowids lie outside even
// (key[i-2], key[i+1]] (so that one damaged key never condemns a sound
// child), or a child that names no table page or one already read, is taken
// for a child number with a flipped bit: when exactly one of the page numbers
// one bit away is an unread table page whose rowids fit, it is read instead.
class TableTreeWalk {
 public:
  TableTreeWalk(Reader& reader, const PageGeometry& geometry, const std::vector<PageHeader>& pageHeaders);
  TableTreeWalk(const TableTreeWalk&) = delete;
  TableTreeWalk& operator=(const TableTreeWalk&) = delete;
  virtual ~TableTreeWalk() = default;

  // Walks the tree under root; false when the walk was stopped. Later runs of
  // the same walk skip the pages that earlier runs entered.
  bool Run(int64_t root);

 protected:
  // Asked before every child of an interior page.
  virtual bool StopRequested() { return false; }
  // A page number that names no page of the page table (0, negative, beyond).
  virtual void PageOutsideFile(int64_t) {}
  // A page met a second time in this walk (a cycle or a shared child).
  virtual void PageSeenBefore(uint32_t) {}
  // Asked before a page is entered (the first time in this walk); false
  // skips the page and what lies below it.
  virtual bool EnterPage(uint32_t) { return true; }
  // A table leaf; false stops the walk.
  virtual bool Leaf(uint32_t page, const PageHeader& header) = 0;
  // An interior page whose damaged cell pointers were mended (ReadPageCells).
  virtual void CellsMended(uint32_t, const PageCells&) {}
  // Interior page parent names child, which does not fit; replacement is read instead.
  virtual void ChildMended(uint32_t /*parent*/, int64_t /*child*/, uint32_t /*replacement*/) {}
  // Interior pages below this depth are not entered.
  size_t maxDepth_ = 64;

  Reader& reader_;
  const PageGeometry& geometry_;
  const std::vector<PageHeader>& pageHeaders_;

 private:
  // The smallest and largest rowid (key) of a table page; false when it has none.
  bool RowidSpan(uint32_t page, int64_t& low, int64_t& high);
  bool ReadRowidSpan(uint32_t page, int64_t& low, int64_t& high);

  struct Span {
    bool any = false;
    int64_t low = 0, high = 0;
  };
  std::unordered_map<uint32_t, Span> spans_;

  std::vector<bool> seen_;
};

// Number of cells on the table leaves under root. With pages given, every
// page entered spends one unit of it; the count ends where it runs out.
uint64_t CountTableRows(Reader& reader, const PageGeometry& geometry, const std::vector<PageHeader>& pageHeaders,
                        int64_t root, WorkBudget* pages = nullptr);

}  // namespace veltrane
