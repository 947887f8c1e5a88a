#include "sqlite3/page_table.h"

namespace veltrane {

uint32_t UsableSize(uint32_t pageSize, uint8_t reservedField) {
  if (pageSize >= 480u + reservedField) return pageSize - reservedField;
  return pageSize;
}

bool IsKnownPageType(uint8_t type) {
  switch (type) {
    case 0: case 1: case 2: case 3: case 4: case 5: case 10: case 13:
      return true;
    default:
      return false;
  }
}

PageHeader DecodePageHeader(const ByteView& bytes) {
  PageHeader h;
  h.type = bytes.U8(0);
  h.firstFreeblock = bytes.BE16(1);
  h.cellCount = bytes.BE16(3);
  h.contentStart = bytes.BE16(5);
  h.fragmentedBytes = bytes.U8(7);
  h.rightChild = bytes.BE32(8);
  return h;
}

void ReadPage(Reader& reader, const PageGeometry& geometry, uint64_t page, std::vector<uint8_t>& buffer) {
  buffer.resize(geometry.pageSize);
  reader.ReadAt(geometry.PageStart(page), buffer.data(), buffer.size());
}

}  // namespace veltrane
