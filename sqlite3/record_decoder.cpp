#include "sqlite3/record_decoder.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "core/text.h"
#include "sqlite3/btree_cells.h"

namespace veltrane {

namespace {

// Bytes of a text as UTF-8: UTF-16 code units converted, UTF-8 kept.
std::string TextBytes(const uint8_t* data, size_t size, bool utf16, bool bigEndian) {
  if (!utf16) return std::string(reinterpret_cast<const char*>(data), size);
  return Utf16ToUtf8(Utf16FromBytes(data, size, bigEndian));
}

void SetValue(RecoveredValue& v, uint64_t serialType, const uint8_t* data, size_t size, const RecordLayout& layout,
              int column, int64_t rowid, DecodeResult& result) {
  const ByteView b(data, size);
  switch (serialType) {
    case 0:
      if (column == layout.rowidAlias) {
        v.kind = RecoveredValue::Kind::Integer;
        v.integer = rowid;
      } else {
        v.kind = RecoveredValue::Kind::Null;
      }
      return;
    case 1: case 2: case 3: case 4: case 5: case 6: {
      const unsigned width = static_cast<unsigned>(SerialTypeSize(serialType));
      v.kind = RecoveredValue::Kind::Integer;
      v.integer = SignExtend(b.BigEndian(0, width), width * 8);
      return;
    }
    case 7: {
      const uint64_t bits = b.BigEndian(0, 8);
      v.kind = RecoveredValue::Kind::Real;
      std::memcpy(&v.real, &bits, sizeof bits);
      return;
    }
    case 8: case 9:
      v.kind = RecoveredValue::Kind::Integer;
      v.integer = serialType == 9 ? 1 : 0;
      return;
    case 10: case 11:
      v.kind = RecoveredValue::Kind::Text;
      return;
    default:
      if (serialType % 2 == 0) {
        v.kind = RecoveredValue::Kind::Blob;
        v.bytes.assign(reinterpret_cast<const char*>(data), size);
        result.hasBlob = true;
      } else {
        v.kind = RecoveredValue::Kind::Text;
        v.bytes = TextBytes(data, size, layout.utf16, layout.bigEndian);
      }
  }
}

}  // namespace

uint64_t RecordExtent(const ByteView& header, uint64_t payloadLength, int columnCount) {
  uint64_t headerSize = 0;
  size_t pos = ReadVarint(header, 0, headerSize);
  uint64_t extent = headerSize;
  for (int k = 0; k < columnCount && pos < headerSize && pos < header.size() && extent < payloadLength; ++k) {
    uint64_t type = 0;
    pos += ReadVarint(header, pos, type);
    const uint64_t size = SerialTypeSize(type);
    extent = size > payloadLength ? payloadLength : extent + size;
  }
  return extent < payloadLength ? extent : payloadLength;
}

DecodeResult DecodeRecord(const ByteView& payload, PayloadEnd end, const RecordLayout& layout, RecoveredRow& row) {
  return DecodeRecord(payload, end, layout, row, SIZE_MAX);
}

DecodeResult DecodeRecord(const ByteView& payload, PayloadEnd end, const RecordLayout& layout, RecoveredRow& row,
                          size_t clean) {
  DecodeResult result;
  const size_t columns = layout.columnCount > 0 ? static_cast<size_t>(layout.columnCount) : 0;
  const size_t dirty = std::min({row.values.size(), columns, clean});
  row.values.resize(columns);
  for (size_t k = 0; k < dirty; ++k) {
    row.values[k].kind = RecoveredValue::Kind::Missing;
    row.values[k].bytes.clear();
  }
  const uint64_t have = payload.size();
  // Bytes the record declares but the payload does not give: the reason is
  // the payload's end, or a record larger than its own payload.
  const PayloadEnd shortBy = end == PayloadEnd::Complete ? PayloadEnd::CellContent : end;
  if (have == 0) {
    if (end != PayloadEnd::Complete) result.cut = end;
    return result;
  }

  uint64_t headerSize = 0;
  const unsigned first = ReadVarint(payload, 0, headerSize);
  if (first > have || headerSize < first) {
    result.cut = shortBy;
    return result;
  }
  // The serial types of the columns the record holds.
  thread_local std::vector<uint64_t> types;
  types.clear();
  const uint64_t typesEnd = headerSize < have ? headerSize : have;
  uint64_t pos = first;
  while (types.size() < columns && pos < typesEnd) {
    uint64_t type = 0;
    const unsigned n = ReadVarint(payload, static_cast<size_t>(pos), type);
    if (pos + n > typesEnd) break;
    types.push_back(type);
    pos += n;
  }
  const bool headerCut = headerSize > have && types.size() < columns;

  uint64_t body = headerSize;
  for (size_t k = 0; k < types.size(); ++k) {
    const uint64_t size = SerialTypeSize(types[k]);
    if (body > have || size > have - body) {
      if (shortBy == PayloadEnd::ChainEnded && body < have) {
        // The value keeps what the chain gave; a blob is zero-filled to its
        // length, which the file could hold.
        std::string part(reinterpret_cast<const char*>(payload.data()) + body, static_cast<size_t>(have - body));
        if (types[k] >= 12 && types[k] % 2 == 0) part.resize(static_cast<size_t>(size), '\0');
        if (types[k] < 12) part.resize(static_cast<size_t>(size), '\0');
        SetValue(row.values[k], types[k], reinterpret_cast<const uint8_t*>(part.data()), part.size(), layout,
                 static_cast<int>(k), row.rowid, result);
        result.filled = k + 1;
      }
      result.cut = shortBy;
      return result;
    }
    SetValue(row.values[k], types[k], payload.data() + body, static_cast<size_t>(size), layout, static_cast<int>(k),
             row.rowid, result);
    result.filled = k + 1;
    body += size;
  }
  if (headerCut) result.cut = shortBy;
  return result;
}

bool RecordAccountsFor(const ByteView& record, uint64_t payloadLength, int columnCount) {
  uint64_t headerSize = 0;
  const unsigned first = ReadVarint(record, 0, headerSize);
  if (headerSize <= first || headerSize > payloadLength || headerSize > record.size()) return false;
  uint64_t sum = headerSize;
  int values = 0;
  for (uint64_t pos = first; pos < headerSize;) {
    uint64_t type = 0;
    pos += ReadVarint(record, static_cast<size_t>(pos), type);
    if (pos > headerSize || type == 10 || type == 11) return false;
    if (columnCount > 0 && ++values > columnCount) return false;
    sum += SerialTypeSize(type);
    if (sum > payloadLength) return false;
  }
  return sum == payloadLength;
}

std::optional<HeaderFlip> FindHeaderFlip(const ByteView& record, uint64_t payloadLength, int columnCount) {
  // The bytes a header can take: its size varint and one serial type of at
  // most 9 bytes per column (at most 9 per byte when the columns are unknown).
  const size_t columns = columnCount > 0 ? static_cast<size_t>(columnCount) : 64;
  const size_t span = std::min(record.size(), 9 * (columns + 1));
  std::string copy(reinterpret_cast<const char*>(record.data()), span);
  auto* bytes = reinterpret_cast<uint8_t*>(copy.data());
  std::optional<HeaderFlip> found;
  for (size_t i = 0; i < span; ++i) {
    for (unsigned bit = 0; bit < 8; ++bit) {
      const uint8_t mask = static_cast<uint8_t>(1u << bit);
      bytes[i] ^= mask;
      const bool accounts = RecordAccountsFor(ByteView(bytes, span), payloadLength, columnCount);
      bytes[i] ^= mask;
      if (!accounts) continue;
      if (found) return std::nullopt;  // more than one flip would do
      found = HeaderFlip{i, mask};
    }
  }
  return found;
}

// ---- rendering ----

namespace {

bool IsValidUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t n;
    if (c >= 0xC2 && c <= 0xDF)
      n = 1;
    else if (c >= 0xE0 && c <= 0xEF)
      n = 2;
    else if (c >= 0xF0 && c <= 0xF4)
      n = 3;
    else
      return false;
    if (s.size() - i <= n) return false;
    for (size_t j = 1; j <= n; ++j)
      if ((static_cast<unsigned char>(s[i + j]) & 0xC0) != 0x80) return false;
    i += n + 1;
  }
  return true;
}

std::string Decimal(int64_t v) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
  return std::string(digits, end);
}

// The text as shown: up to its first zero character, invalid sequences replaced.
std::string DisplayText(std::string_view bytes) {
  const size_t zero = bytes.find('\0');
  if (zero != std::string_view::npos) bytes = bytes.substr(0, zero);
  if (IsValidUtf8(bytes)) return std::string(bytes);
  return Utf16ToUtf8(Utf8ToUtf16(bytes));
}

}  // namespace

RecordCell ValueText(const RecoveredValue& value, bool utf16, bool bigEndian) {
  RecordCell cell;
  switch (value.kind) {
    case RecoveredValue::Kind::Null:
      cell.text = "NULL";
      cell.isNull = true;
      break;
    case RecoveredValue::Kind::Integer:
      cell.text = Decimal(value.integer);
      break;
    case RecoveredValue::Kind::Real:
      cell.text = Format("%lf", value.real);
      break;
    case RecoveredValue::Kind::Text:
      cell.text = DisplayText(value.bytes);
      break;
    case RecoveredValue::Kind::Blob:
      cell.text = utf16 ? DisplayText(TextBytes(reinterpret_cast<const uint8_t*>(value.bytes.data()),
                                                value.bytes.size(), true, bigEndian))
                        : "< Blob Data >";
      break;
    case RecoveredValue::Kind::Missing:
      break;
  }
  return cell;
}

std::string ValueLiteral(const RecoveredValue& value) {
  switch (value.kind) {
    case RecoveredValue::Kind::Null:
      return "NULL";
    case RecoveredValue::Kind::Integer:
      return Decimal(value.integer);
    case RecoveredValue::Kind::Real: {
      if (std::isnan(value.real)) return "NULL";
      if (std::isinf(value.real)) return value.real > 0 ? "1e999" : "-1e999";
      std::string s = Format("%.17g", value.real);
      if (s.find_first_of(".e") == std::string::npos) s += ".0";
      return s;
    }
    case RecoveredValue::Kind::Text: {
      std::string s = "'";
      for (char c : value.bytes) {
        s.push_back(c);
        if (c == '\'') s.push_back('\'');
      }
      s.push_back('\'');
      return s;
    }
    case RecoveredValue::Kind::Blob:
      return "?";
    case RecoveredValue::Kind::Missing:
      return "''";
  }
  return "''";
}

std::string BuildInsertStatement(const std::string& tableName, const RecoveredRow& row) {
  std::string s = "insert into " + tableName + " values(";
  for (size_t k = 0; k < row.values.size(); ++k) {
    if (k) s.push_back(',');
    s += ValueLiteral(row.values[k]);
  }
  s += ");";
  return s;
}

}  // namespace veltrane
