// Decoding of the SQLite 2.x file layout.
//
// Pages are 1024 bytes, numbered from 1; page n starts at (n - 1) * 1024.
// Integers of the page header, cell header and overflow pages are in the
// byte order of the machine that wrote the file (little-endian unless the
// file header's byte-order word reads swapped). The key is most significant
// byte first; record offsets are least significant byte first.
//
// File header (page 1, not a b-tree page):
//   offset size  field
//      0    48   "** This file contains an SQLite 2.1 database **" + NUL
//     48     4   byte-order word 0xdae37528 (28 75 e3 da when little-endian)
//     52     4   first free-list trunk page
//     56     4   number of free pages
//     60    36   nine 4-byte meta values
//
// Page header (first 8 bytes of pages 2 ..):
//   offset size  field
//      0     4   right child page, 0 = none (a leaf)
//      4     2   offset of the first cell in the page, 0 = no cell
//      6     2   offset of the first free block (not used)
//
// Cell (at the offset the page header or the previous cell names; cells
// form a chain in key order, 4-byte aligned, physical order differs):
//   offset size  field
//      0     4   left child page, 0 = none
//      4     2   key size, low 16 bits (table b-trees: always 4)
//      6     2   offset of the next cell in the same page, 0 = last cell
//      8     1   key size, bits 16..23
//      9     1   data size, bits 16..23
//     10     2   data size, low 16 bits
//     12     4   key: the row number XOR 0x80000000, most significant byte
//                first (row 1 = 80 00 00 01, row -1 = 7f ff ff ff)
//     16   <=232 local data: the first min(data size, 232) bytes
//    248     4   first overflow page; only when the data size exceeds 232
//
// Overflow page:
//   offset size  field
//      0     4   next overflow page, 0 = last
//      4  1020   the next 1020 bytes of the data
//
// Data stream of a cell: position p < 232 is cell byte 16 + p; position
// 232 + k * 1020 + j (0 <= j < 1020) is byte 4 + j of the (k + 1)-th page of
// the overflow chain.
//
// Row record (the data of a table b-tree cell), N columns:
//   offset            size   field
//      0              w      offset of field 0 = size of the offset header, (N + 1) * w
//      w * i          w      offset of field i (from the start of the record)
//      w * N          w      record size
//      offset[i] ..          field i, up to offset[i + 1]: NUL-terminated
//                            UTF-8 text, or nothing (NULL)
//   w = 1 for records under 256 bytes, 2 under 65536, else 3.
//   An INTEGER PRIMARY KEY column is stored as NULL: its value is the key.
#include "sqlite2/ver2_layout.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace veltrane::ver2 {

ByteOrder DetectByteOrder(ByteView fileHeader) {
  return fileHeader.BE32(kFileHeaderByteOrderWord) == 0xdae37528u ? ByteOrder::Big : ByteOrder::Little;
}

uint16_t Read16(ByteView bytes, size_t offset, ByteOrder order) {
  return order == ByteOrder::Big ? bytes.BE16(offset) : bytes.LE16(offset);
}

uint32_t Read32(ByteView bytes, size_t offset, ByteOrder order) {
  return order == ByteOrder::Big ? bytes.BE32(offset) : bytes.LE32(offset);
}

Ver2PageHeader DecodePageHeader(ByteView bytes, ByteOrder order) {
  Ver2PageHeader h;
  h.rightChild = Read32(bytes, 0, order);
  h.firstCell = Read16(bytes, 4, order);
  h.firstFree = Read16(bytes, 6, order);
  return h;
}

Ver2CellHeader DecodeCellHeader(ByteView bytes, ByteOrder order) {
  Ver2CellHeader h;
  h.leftChild = Read32(bytes, 0, order);
  h.keySize = Read16(bytes, 4, order);
  h.nextCell = Read16(bytes, 6, order);
  h.keySizeHigh = bytes.U8(8);
  h.dataSizeHigh = bytes.U8(9);
  h.dataSizeLow = Read16(bytes, 10, order);
  return h;
}

int32_t DecodeRowid(ByteView key) {
  return static_cast<int32_t>(key.BE32(0) ^ 0x80000000u);
}

PageFile::PageFile(Reader& reader, ByteOrder order)
    : reader_(reader), order_(order), pageCount_(static_cast<uint32_t>(std::min<uint64_t>(reader.size / kPageSize, UINT32_MAX))) {}

void PageFile::ReadPage(uint32_t page, uint8_t (&out)[kPageSize]) const {
  reader_.ReadAt(PageOffset(page), out, kPageSize);
}

std::string PageFile::ReadCellData(uint64_t cellOffset, const Ver2CellHeader& header, PageSet* claimed) const {
  const uint32_t size = DataSize(header);
  const uint32_t local = std::min(size, kLocalData);
  const uint64_t pageEnd = (cellOffset / kPageSize + 1) * kPageSize;
  auto inPage = [&](uint64_t at, uint64_t n) {
    return at >= pageEnd ? 0 : static_cast<size_t>(std::min<uint64_t>(n, pageEnd - at));
  };
  std::string data(local, '\0');
  reader_.ReadAt(cellOffset + kCellDataOffset, data.data(), inPage(cellOffset + kCellDataOffset, local));
  if (size <= kLocalData) return data;

  uint8_t pointer[4] = {};
  reader_.ReadAt(cellOffset + kOverflowPointerOffset, pointer, inPage(cellOffset + kOverflowPointerOffset, 4));
  uint32_t next = Read32(ByteView(pointer, 4), 0, order_);
  std::unordered_set<uint32_t> read;
  uint8_t page[kPageSize];
  while (data.size() < size && IsDataPage(next) && read.insert(next).second) {
    if (claimed != nullptr && !claimed->Claim(next)) break;
    ReadPage(next, page);
    const size_t n = std::min<size_t>(size - data.size(), kOverflowData);
    data.append(reinterpret_cast<const char*>(page) + kOverflowHeaderSize, n);
    next = Read32(ByteView(page, kPageSize), 0, order_);
  }
  return data;
}

std::vector<Ver2PageHeader> ReadPageHeaders(const PageFile& file) {
  std::vector<Ver2PageHeader> headers;
  headers.reserve(file.pageCount());
  uint8_t bytes[kPageHeaderSize];
  for (uint32_t p = 1; p <= file.pageCount(); ++p) {
    file.reader().ReadAt(PageFile::PageOffset(p), bytes, kPageHeaderSize);
    headers.push_back(DecodePageHeader(ByteView(bytes, kPageHeaderSize), file.order()));
  }
  return headers;
}

unsigned RecordOffsetWidth(uint32_t recordSize) {
  if (recordSize < 256) return 1;
  if (recordSize < 65536) return 2;
  return 3;
}

std::vector<RecordField> DecodeRecordFields(std::string_view record, uint32_t recordSize, int columnCount) {
  const unsigned width = RecordOffsetWidth(recordSize);
  const ByteView bytes(reinterpret_cast<const uint8_t*>(record.data()), record.size());
  auto offset = [&](size_t i) {
    uint32_t v = 0;
    for (unsigned b = 0; b < width; ++b) v |= uint32_t{bytes.U8(i * width + b)} << (8 * b);
    return v;
  };
  const uint32_t limit = static_cast<uint32_t>(std::min<size_t>(record.size(), recordSize));
  // Field i needs offsets i and i + 1: the columns whose offsets lie past the
  // bytes read are not in the record (a short, damaged record), so a wide
  // table of short records costs nothing for the columns they lack.
  const size_t offsets = record.size() / width;
  const size_t held = offsets > 0 ? offsets - 1 : 0;
  const size_t n = std::min(columnCount > 0 ? static_cast<size_t>(columnCount) : 0, held);
  std::vector<RecordField> fields(n);
  uint32_t start = offset(0);
  for (size_t i = 0; i < n; ++i) {
    const uint32_t end = offset(i + 1);
    const uint32_t cut = std::min(end, limit);
    if (start < cut) fields[i] = {start, cut - start};
    start = end;
  }
  return fields;
}

int SoundRecordColumns(std::string_view record, uint32_t recordSize) {
  if (recordSize == 0 || record.size() != recordSize) return -1;
  const unsigned width = RecordOffsetWidth(recordSize);
  const ByteView bytes(reinterpret_cast<const uint8_t*>(record.data()), record.size());
  auto offset = [&](size_t i) {
    uint32_t v = 0;
    for (unsigned b = 0; b < width; ++b) v |= uint32_t{bytes.U8(i * width + b)} << (8 * b);
    return v;
  };
  const uint32_t first = offset(0);
  if (first % width != 0 || first / width < 2 || first > recordSize) return -1;
  const size_t columns = first / width - 1;
  uint32_t previous = first;
  for (size_t i = 1; i <= columns; ++i) {
    const uint32_t at = offset(i);
    if (at < previous || at > recordSize) return -1;
    if (at > previous && bytes.U8(at - 1) != 0) return -1;
    previous = at;
  }
  return previous == recordSize ? static_cast<int>(columns) : -1;
}

std::string_view FieldText(std::string_view record, const RecordField& field) {
  if (field.start >= record.size()) return {};
  std::string_view bytes = record.substr(field.start, field.length);
  const size_t zero = bytes.find('\0');
  return zero == std::string_view::npos ? bytes : bytes.substr(0, zero);
}

RecoveredRow DecodeRow(std::string_view record, uint32_t recordSize, int columnCount, int keyColumn,
                       int32_t rowid) {
  RecoveredRow row;
  row.rowid = rowid;
  const std::vector<RecordField> fields = DecodeRecordFields(record, recordSize, columnCount);
  row.values.reserve(fields.size());
  for (size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].length > 0)
      row.values.push_back(RecoveredValue::Text(std::string(FieldText(record, fields[i]))));
    else if (static_cast<int>(i) == keyColumn)
      row.values.push_back(RecoveredValue::Int(rowid));
    else
      row.values.push_back(RecoveredValue::Null());
  }
  return row;
}

}  // namespace veltrane::ver2
