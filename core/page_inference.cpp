#include "core/page_inference.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <vector>

#include "core/bytes.h"

namespace veltrane {

namespace {

constexpr uint64_t kSearchLimit = uint64_t{8} << 20;

bool IsBtreeType(uint8_t type) { return type == 2 || type == 5 || type == 10 || type == 13; }

inline uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

}  // namespace

bool LooksLikeBtreePage(const uint8_t* page, uint32_t pageSize, uint32_t headerOffset) {
  const uint8_t* h = page + headerOffset;
  const uint8_t type = h[0];
  if (!IsBtreeType(type)) return false;
  const bool interior = type == 2 || type == 5;
  const uint32_t arrayStart = headerOffset + (interior ? 12 : 8);
  if (arrayStart > pageSize) return false;
  const uint32_t cells = Be16(h + 3);
  const uint32_t arrayEnd = arrayStart + 2 * cells;
  if (arrayEnd > pageSize) return false;
  const uint32_t content = Be16(h + 5) == 0 ? 65536u : Be16(h + 5);
  if (h[7] > 60) return false;
  const uint32_t freeblock = Be16(h + 1);
  if (interior && (h[8] | h[9] | h[10] | h[11]) == 0) return false;
  if (cells == 0) {
    // An empty page: its content area starts at the usable end.
    return freeblock == 0 && content <= pageSize && content + 255 >= pageSize;
  }
  if (content < arrayEnd || content > pageSize) return false;
  if (freeblock != 0 && (freeblock < arrayEnd || freeblock + 4 > pageSize)) return false;
  for (uint32_t i = 0; i < cells; ++i) {
    const uint32_t pointer = Be16(page + arrayStart + 2 * i);
    if (pointer < content || pointer >= pageSize) return false;
  }
  return true;
}

InferredGeometry InferGeometry(Reader& reader, std::optional<uint64_t> knownBase) {
  InferredGeometry best;
  const uint64_t size = reader.size;
  if (size < 512) return best;
  const uint64_t limit = std::min<uint64_t>(size, kSearchLimit + (knownBase ? *knownBase : 0));
  // The searched part, followed by one largest page of zeros (a partial last
  // page is checked as far as the file goes).
  std::vector<uint8_t> buffer(static_cast<size_t>(limit) + 65536 + 112, 0);
  reader.ReadAt(0, buffer.data(), static_cast<size_t>(limit));
  const uint8_t* data = buffer.data();

  for (uint32_t p = 512; p <= 65536; p *= 2) {
    uint64_t count = 0;
    uint64_t base = 0;
    if (knownBase) {
      base = *knownBase;
      for (uint64_t x = base + p; x < limit; x += p)
        if (LooksLikeBtreePage(data + x, p, 0)) ++count;
    } else {
      // Page starts of pages 2 and later, counted by their offset modulo p.
      std::vector<uint32_t> byResidue(p, 0);
      for (uint64_t x = 0; x < limit; ++x)
        if (IsBtreeType(data[x]) && LooksLikeBtreePage(data + x, p, 0)) ++byResidue[x % p];
      uint32_t residue = 0;
      for (uint32_t r = 1; r < p; ++r)
        if (byResidue[r] > byResidue[residue]) residue = r;
      count = byResidue[residue];
      base = residue;
      // A database behind foreign bytes longer than a page: page 1 is the
      // page before the first page that passed, when it looks like page 1.
      uint64_t firstPassed = limit;
      for (uint64_t x = residue; x < limit; x += p)
        if (LooksLikeBtreePage(data + x, p, 0)) {
          firstPassed = x;
          break;
        }
      if (!LooksLikeBtreePage(data + residue, p, 100))
        for (uint64_t x = residue + p; x + p <= firstPassed && x < limit; x += p)
          if (LooksLikeBtreePage(data + x, p, 100)) {
            base = x;
            break;
          }
    }
    if (base < limit && LooksLikeBtreePage(data + base, p, 100)) ++count;
    // Ties go to the smaller page size: a page of size P also passes at 2P.
    if (count > best.pagesPassed) {
      best.found = true;
      best.pageSize = p;
      best.base = base;
      best.pagesPassed = count;
    }
  }
  // One page alone is no evidence, unless it is the whole file.
  if (best.found && best.pagesPassed < 2 && size - best.base > best.pageSize) best = {};
  return best;
}

namespace {

struct Votes {
  std::array<uint64_t, 4> schema{};  // by encoding 1..3
  std::array<uint64_t, 4> text{};
};

// The encoding a text value's bytes suggest, 0 when they do not tell.
int TextVote(const uint8_t* bytes, size_t size) {
  if (size < 4) return 0;
  bool anyZero = false, oddZero = true, evenZero = true;
  for (size_t i = 0; i < size; ++i) {
    const bool zero = bytes[i] == 0;
    anyZero |= zero;
    if (i % 2 == 0) evenZero &= zero;
    else oddZero &= zero;
  }
  if (!anyZero) return 1;
  if (size % 2 != 0) return 0;
  if (oddZero && !evenZero) return 2;
  if (evenZero && !oddZero) return 3;
  return 0;
}

int SchemaWordVote(const uint8_t* bytes, size_t size) {
  static constexpr std::string_view kWords[] = {"table", "index", "view", "trigger"};
  for (std::string_view w : kWords) {
    if (size == w.size() && std::memcmp(bytes, w.data(), w.size()) == 0) return 1;
    if (size != 2 * w.size()) continue;
    bool le = true, be = true;
    for (size_t i = 0; i < w.size(); ++i) {
      le &= bytes[2 * i] == static_cast<uint8_t>(w[i]) && bytes[2 * i + 1] == 0;
      be &= bytes[2 * i] == 0 && bytes[2 * i + 1] == static_cast<uint8_t>(w[i]);
    }
    if (le) return 2;
    if (be) return 3;
  }
  return 0;
}

// Votes of the records on one table leaf (whole page in page).
void VoteLeaf(const ByteView& page, uint32_t pageSize, uint32_t headerOffset, Votes& votes) {
  const uint32_t cells = page.BE16(headerOffset + 3);
  for (uint32_t i = 0; i < cells; ++i) {
    const uint32_t cell = page.BE16(headerOffset + 8 + 2 * i);
    if (cell == 0 || cell >= pageSize) continue;
    uint64_t payload = 0, rowid = 0, headerSize = 0;
    size_t pos = cell;
    pos += ReadVarint(page, pos, payload);
    pos += ReadVarint(page, pos, rowid);
    const size_t recordStart = pos;
    pos += ReadVarint(page, pos, headerSize);
    if (headerSize < 2 || headerSize > payload || recordStart + headerSize > pageSize) continue;
    const size_t headerEnd = recordStart + static_cast<size_t>(headerSize);
    size_t body = headerEnd;
    for (int column = 0; pos < headerEnd && column < 64; ++column) {
      uint64_t type = 0;
      pos += ReadVarint(page, pos, type);
      const uint64_t length = type >= 12 ? (type - 12) / 2 : (type == 7 || type == 6 ? 8 : type == 5 ? 6 : type);
      if (body + length > pageSize) break;
      if (type >= 13 && type % 2 == 1) {
        const uint8_t* bytes = page.data() + body;
        if (column == 0) {
          const int vote = SchemaWordVote(bytes, static_cast<size_t>(length));
          if (vote != 0) ++votes.schema[static_cast<size_t>(vote)];
        }
        const int vote = TextVote(bytes, static_cast<size_t>(length));
        if (vote != 0) ++votes.text[static_cast<size_t>(vote)];
      }
      body += static_cast<size_t>(length);
    }
  }
}

int Winner(const std::array<uint64_t, 4>& v) {
  int best = 0;
  for (int e = 1; e <= 3; ++e)
    if (v[static_cast<size_t>(e)] > (best == 0 ? 0 : v[static_cast<size_t>(best)])) best = e;
  return best;
}

}  // namespace

int InferTextEncoding(Reader& reader, uint64_t base, uint32_t pageSize) {
  if (pageSize < 512 || pageSize > 65536 || reader.size <= base) return 0;
  const uint64_t pages = (reader.size - base + pageSize - 1) / pageSize;
  std::vector<uint8_t> buffer(pageSize + 112, 0);
  Votes votes;
  // Page 1 first (the schema), then the others until the texts have told.
  constexpr uint64_t kMaxPages = 4096;
  for (uint64_t page = 1; page <= pages && page <= kMaxPages; ++page) {
    std::fill(buffer.begin(), buffer.end(), 0);
    reader.ReadAt(base + (page - 1) * pageSize, buffer.data(), pageSize);
    const uint32_t headerOffset = page == 1 ? 100 : 0;
    if (buffer[headerOffset] != 13 || !LooksLikeBtreePage(buffer.data(), pageSize, headerOffset)) continue;
    VoteLeaf(ByteView(buffer.data(), pageSize), pageSize, headerOffset, votes);
    if (Winner(votes.schema) != 0) break;
    if (votes.text[1] + votes.text[2] + votes.text[3] >= 64) break;
  }
  const int schema = Winner(votes.schema);
  return schema != 0 ? schema : Winner(votes.text);
}

const char* EncodingName(int encoding) {
  switch (encoding) {
    case 1: return "UTF-8";
    case 2: return "UTF-16le";
    case 3: return "UTF-16be";
    default: return "unknown";
  }
}

}  // namespace veltrane
