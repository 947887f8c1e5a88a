// Bounds-checked access to bytes already read from the damaged file.
//
// Every decode of file bytes goes through ByteView: a read that runs past the
// end of the view yields zeros, in this one place, so the parsers never index
// raw memory themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace veltrane {

class ByteView {
 public:
  constexpr ByteView() = default;
  constexpr ByteView(const uint8_t* data, size_t size) : data_(data), size_(data ? size : 0) {}

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  bool Contains(size_t offset, size_t count) const {
    return offset <= size_ && count <= size_ - offset;
  }

  // Sub-view from offset, at most count bytes; empty when offset is outside.
  ByteView Sub(size_t offset, size_t count = SIZE_MAX) const {
    if (offset >= size_) return {};
    size_t n = size_ - offset;
    return {data_ + offset, count < n ? count : n};
  }

  uint8_t U8(size_t offset) const { return offset < size_ ? data_[offset] : 0; }

  // Big-endian unsigned integer of width bytes (1..8) at offset; missing bytes read as 0.
  uint64_t BigEndian(size_t offset, unsigned width) const {
    uint64_t v = 0;
    for (unsigned i = 0; i < width; ++i) v = (v << 8) | U8(offset + i);
    return v;
  }
  uint16_t BE16(size_t offset) const { return static_cast<uint16_t>(BigEndian(offset, 2)); }
  uint32_t BE32(size_t offset) const { return static_cast<uint32_t>(BigEndian(offset, 4)); }

  uint16_t LE16(size_t offset) const {
    return static_cast<uint16_t>(U8(offset) | (U8(offset + 1) << 8));
  }
  uint32_t LE32(size_t offset) const {
    return static_cast<uint32_t>(U8(offset)) | (static_cast<uint32_t>(U8(offset + 1)) << 8) |
           (static_cast<uint32_t>(U8(offset + 2)) << 16) | (static_cast<uint32_t>(U8(offset + 3)) << 24);
  }

  // Copies count bytes from offset into dst, zero-filling what lies outside.
  void CopyTo(size_t offset, void* dst, size_t count) const {
    auto* out = static_cast<uint8_t*>(dst);
    size_t have = 0;
    if (offset < size_) {
      have = size_ - offset < count ? size_ - offset : count;
      std::memcpy(out, data_ + offset, have);
    }
    if (have < count) std::memset(out + have, 0, count - have);
  }

  std::string_view AsString() const { return {reinterpret_cast<const char*>(data_), size_}; }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// Sign-extends the low `bits` bits of v.
inline int64_t SignExtend(uint64_t v, unsigned bits) {
  if (bits >= 64) return static_cast<int64_t>(v);
  const uint64_t m = uint64_t{1} << (bits - 1);
  v &= (uint64_t{1} << bits) - 1;
  return static_cast<int64_t>((v ^ m) - m);
}

// SQLite's variable-length integer: at most 9 bytes, 7 bits per byte while the
// high bit is set, and a ninth byte that contributes all 8 bits. Returns the
// number of bytes consumed (1..9); bytes past the view read as 0, which ends
// the varint.
inline unsigned ReadVarint(const ByteView& bytes, size_t offset, uint64_t& value) {
  uint64_t v = 0;
  for (unsigned i = 0; i < 8; ++i) {
    const uint8_t b = bytes.U8(offset + i);
    v = (v << 7) | (b & 0x7f);
    if ((b & 0x80) == 0) {
      value = v;
      return i + 1;
    }
  }
  v = (v << 8) | bytes.U8(offset + 8);
  value = v;
  return 9;
}

}  // namespace veltrane
