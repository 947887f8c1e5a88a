// The SQLite 2.x file layout: page and cell headers, the data stream of a
// cell (local bytes and overflow chain), the row key and the row record.
// The layout itself is written out at the top of ver2_layout.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/bytes.h"
#include "core/parser.h"
#include "core/reader.h"

namespace veltrane::ver2 {

inline constexpr uint32_t kPageSize = 1024;
inline constexpr uint32_t kFileHeaderSize = 96;
inline constexpr uint32_t kPageHeaderSize = 8;
inline constexpr uint32_t kCellHeaderSize = 12;
inline constexpr uint32_t kKeySize = 4;  // table b-trees: the row number
inline constexpr uint32_t kCellDataOffset = kCellHeaderSize + kKeySize;  // 16
inline constexpr uint32_t kLocalData = 232;  // 236 bytes of key + data, less the key
inline constexpr uint32_t kOverflowPointerOffset = kCellDataOffset + kLocalData;  // 248
inline constexpr uint32_t kOverflowHeaderSize = 4;
inline constexpr uint32_t kOverflowData = kPageSize - kOverflowHeaderSize;  // 1020
inline constexpr uint32_t kMasterRoot = 2;
inline constexpr uint32_t kFileHeaderByteOrderWord = 48;

// Byte order of the integers in page headers, cell headers and overflow
// pages: the order of the machine that wrote the file. The key and the
// record offsets do not depend on it.
enum class ByteOrder { Little, Big };

// Big only when the file header's byte-order word reads swapped; a damaged
// word leaves the common little-endian order.
ByteOrder DetectByteOrder(ByteView fileHeader);

uint16_t Read16(ByteView bytes, size_t offset, ByteOrder order);
uint32_t Read32(ByteView bytes, size_t offset, ByteOrder order);

Ver2PageHeader DecodePageHeader(ByteView bytes, ByteOrder order);
Ver2CellHeader DecodeCellHeader(ByteView bytes, ByteOrder order);
// High byte x 65536 + low 16 bits.
inline uint32_t DataSize(const Ver2CellHeader& h) { return (uint32_t{h.dataSizeHigh} << 16) | h.dataSizeLow; }
// The row number from the 4 key bytes: most significant first, sign bit flipped.
int32_t DecodeRowid(ByteView key);

// Offsets 8 .. 1008 leave room for the cell header and the key inside the page.
inline bool IsCellOffset(uint32_t offset) {
  return offset >= kPageHeaderSize && offset + kCellDataOffset <= kPageSize;
}

// The pages one walk has used (tree pages and overflow pages): in a sound
// file no page serves twice, so a page met again ends what led to it.
class PageSet {
 public:
  explicit PageSet(uint32_t pageCount) : used_(size_t{pageCount} + 1, false) {}
  // True when page was not used yet (and is now); false for a used page or
  // one outside the set.
  bool Claim(uint32_t page) {
    if (page >= used_.size() || used_[page]) return false;
    used_[page] = true;
    return true;
  }
  bool Used(uint32_t page) const { return page < used_.size() && used_[page]; }

 private:
  std::vector<bool> used_;
};

// The file as SQLite 2 pages: the reader, the byte order and the page count.
class PageFile {
 public:
  PageFile(Reader& reader, ByteOrder order);
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;

  // Whole pages only: a partial page at the end is not counted.
  uint32_t pageCount() const { return pageCount_; }
  ByteOrder order() const { return order_; }
  Reader& reader() const { return reader_; }
  // Pages 2 .. pageCount can hold b-tree or overflow data (page 1 is the file header).
  bool IsDataPage(uint64_t page) const { return page >= 2 && page <= pageCount_; }
  static uint64_t PageOffset(uint64_t page) { return (page - 1) * uint64_t{kPageSize}; }

  // Reads one whole page (zeros past the end of the file).
  void ReadPage(uint32_t page, uint8_t (&out)[kPageSize]) const;

  // The data of the cell at file offset cellOffset whose header is given:
  // the local bytes (zeros where they would run past the cell's page), then
  // the overflow chain. The chain ends at a zero or invalid page number, at
  // a page it has read already, at a page claimed already when claimed is
  // given (its pages are claimed as they are read), or when the data is
  // complete; the result holds the bytes gathered, at most the data size.
  std::string ReadCellData(uint64_t cellOffset, const Ver2CellHeader& header, PageSet* claimed = nullptr) const;

 private:
  Reader& reader_;
  ByteOrder order_;
  uint32_t pageCount_;
};

// Reads the 8-byte header of every whole page, in page order.
std::vector<Ver2PageHeader> ReadPageHeaders(const PageFile& file);

// Width of the record offsets as SQLite 2 writes them: 1 byte for records
// under 256 bytes, 2 under 65536, else 3.
unsigned RecordOffsetWidth(uint32_t recordSize);

// One field of a row record: [start, start + length) of the record; length 0 is NULL.
struct RecordField {
  uint32_t start = 0;
  uint32_t length = 0;
};

// The fields of a record of columnCount columns. recordSize is the size the
// cell declares (it decides the offset width); record holds the bytes read.
// A field whose offsets are out of order or past the record is NULL; one that
// runs past the bytes read is cut there. Columns whose offsets the bytes read
// do not hold get no field (the record ended before them).
std::vector<RecordField> DecodeRecordFields(std::string_view record, uint32_t recordSize, int columnCount);

// The column count of a record that is sound as SQLite 2 writes it, else -1:
// the bytes read are the declared size, the first offset is a whole number
// of offsets that leaves at least one column, the offsets never go back and
// the last one is the record size, and every field that holds bytes ends with
// its zero byte.
int SoundRecordColumns(std::string_view record, uint32_t recordSize);

// A field's text: its bytes up to the first zero byte.
std::string_view FieldText(std::string_view record, const RecordField& field);

// The values of one row: a text for every field that holds bytes, NULL for an
// empty field, and the row number for the empty field of the INTEGER PRIMARY
// KEY column (keyColumn, -1 for none); one value per field, so the columns
// after a short record's last are missing.
RecoveredRow DecodeRow(std::string_view record, uint32_t recordSize, int columnCount, int keyColumn,
                       int32_t rowid);

}  // namespace veltrane::ver2
