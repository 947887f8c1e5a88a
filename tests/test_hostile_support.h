// Helpers of the hostile-file tests: SQLite 3 files built page by page (cells
// where the test wants them, repeated pointers, overflow chains that loop or
// are shared), a reader that counts what it reads, and a scan through the
// session with that reader.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "core/detect.h"
#include "core/reader.h"
#include "core/session.h"
#include "sqlite3/parser_factory.h"
#include "tests/support.h"

namespace veltrane::test {

inline std::string Varint(uint64_t v) {
  if (v > 0x00FFFFFFFFFFFFFFull) {
    std::string out(9, '\0');
    out[8] = static_cast<char>(v & 0xFF);
    v >>= 8;
    for (int i = 7; i >= 0; --i, v >>= 7) out[i] = static_cast<char>((v & 0x7F) | 0x80);
    return out;
  }
  std::string out(1, static_cast<char>(v & 0x7F));
  for (v >>= 7; v != 0; v >>= 7) out.insert(out.begin(), static_cast<char>((v & 0x7F) | 0x80));
  return out;
}

struct Blob {
  std::string bytes;
};
using Value = std::variant<std::nullptr_t, int64_t, std::string, Blob>;

// A record of the values (texts as UTF-8).
inline std::string Record3(const std::vector<Value>& values) {
  std::string types, body;
  for (const Value& v : values) {
    if (std::holds_alternative<std::nullptr_t>(v)) {
      types += Varint(0);
    } else if (const auto* i = std::get_if<int64_t>(&v)) {
      types += Varint(6);
      for (int b = 7; b >= 0; --b) body.push_back(static_cast<char>(static_cast<uint64_t>(*i) >> (8 * b)));
    } else if (const auto* t = std::get_if<std::string>(&v)) {
      types += Varint(13 + 2 * t->size());
      body += *t;
    } else {
      const std::string& b = std::get<Blob>(v).bytes;
      types += Varint(12 + 2 * b.size());
      body += b;
    }
  }
  uint64_t size = types.size() + 1;
  if (Varint(size).size() > 1) size = types.size() + Varint(types.size() + 2).size();
  return Varint(size) + types + body;
}

inline void Put16(std::string& s, size_t at, uint32_t v) {
  s[at] = static_cast<char>(v >> 8);
  s[at + 1] = static_cast<char>(v);
}
inline void Put32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (24 - 8 * i));
}

// A SQLite 3 file of whole pages (UTF-8, no reserved bytes); page 1 carries
// the database header and is the schema leaf unless written otherwise.
class Db3 {
 public:
  explicit Db3(uint32_t pageSize) : ps_(pageSize) { pages_.emplace_back(ps_, '\0'); }

  uint32_t pageSize() const { return ps_; }
  uint32_t Alloc() {
    pages_.emplace_back(ps_, '\0');
    return static_cast<uint32_t>(pages_.size());
  }
  std::string& Page(uint32_t n) { return pages_[n - 1]; }
  uint32_t pageCount() const { return static_cast<uint32_t>(pages_.size()); }

  uint64_t LocalSize(uint64_t p) const {
    const uint64_t u = ps_, x = u - 35;
    if (p <= x) return p;
    const uint64_t m = ((u - 12) * 32 / 255) - 23, k = m + (p - m) % (u - 4);
    return k <= x ? k : m;
  }

  // A table-leaf cell of payload; what does not fit on the page goes to new
  // overflow pages, or, with firstOverflow given, the cell names that page
  // and declares declaredLength (0: the payload's own length).
  std::string LeafCell(int64_t rowid, const std::string& payload, uint32_t firstOverflow = 0,
                       uint64_t declaredLength = 0) {
    const uint64_t length = declaredLength != 0 ? declaredLength : payload.size();
    const uint64_t local = LocalSize(length);
    std::string cell = Varint(length) + Varint(static_cast<uint64_t>(rowid)) + payload.substr(0, local);
    if (local >= length) return cell;
    uint32_t first = firstOverflow;
    if (first == 0) {
      uint32_t prev = 0;
      for (size_t at = local; at < payload.size(); at += ps_ - 4) {
        const uint32_t n = Alloc();
        const size_t count = std::min<size_t>(ps_ - 4, payload.size() - at);
        Page(n).replace(4, count, payload, at, count);
        if (prev == 0) first = n;
        else Put32(Page(prev), 0, n);
        prev = n;
      }
    }
    std::string pointer(4, '\0');
    Put32(pointer, 0, first);
    return cell + pointer;
  }

  // A table leaf: the cells packed from the page end, the pointers naming
  // them by index (repeats allowed; empty: each cell once).
  void Leaf(uint32_t n, const std::vector<std::string>& cells, std::vector<size_t> pointers = {}) {
    std::string& p = Page(n);
    size_t end = ps_;
    std::vector<size_t> offsets;
    for (const std::string& c : cells) {
      end -= c.size();
      p.replace(end, c.size(), c);
      offsets.push_back(end);
    }
    if (pointers.empty())
      for (size_t i = 0; i < cells.size(); ++i) pointers.push_back(i);
    std::vector<size_t> at;
    for (size_t i : pointers) at.push_back(offsets[i]);
    RawLeaf(n, at, end);
  }

  // A table leaf whose cell pointers are the offsets given.
  void RawLeaf(uint32_t n, const std::vector<size_t>& offsets, size_t contentStart) {
    std::string& p = Page(n);
    const size_t hdr = n == 1 ? 100 : 0;
    EXPECT_LE(hdr + 8 + 2 * offsets.size(), contentStart) << "the cells do not fit on page " << n;
    p[hdr] = 13;
    Put16(p, hdr + 1, 0);
    Put16(p, hdr + 3, static_cast<uint32_t>(offsets.size()));
    Put16(p, hdr + 5, static_cast<uint32_t>(contentStart % 65536));
    p[hdr + 7] = 0;
    for (size_t i = 0; i < offsets.size(); ++i) Put16(p, hdr + 8 + 2 * i, static_cast<uint32_t>(offsets[i]));
  }

  // A table interior page over children (the last is the right child).
  void Interior(uint32_t n, const std::vector<uint32_t>& children) {
    std::string& p = Page(n);
    const size_t hdr = n == 1 ? 100 : 0;
    size_t end = ps_;
    std::vector<size_t> offsets;
    for (size_t i = 0; i + 1 < children.size(); ++i) {
      std::string cell(4, '\0');
      Put32(cell, 0, children[i]);
      cell += Varint(i + 1);
      end -= cell.size();
      p.replace(end, cell.size(), cell);
      offsets.push_back(end);
    }
    EXPECT_LE(hdr + 12 + 2 * offsets.size(), end) << "the children do not fit on page " << n;
    p[hdr] = 5;
    Put16(p, hdr + 1, 0);
    Put16(p, hdr + 3, static_cast<uint32_t>(offsets.size()));
    Put16(p, hdr + 5, static_cast<uint32_t>(end % 65536));
    p[hdr + 7] = 0;
    Put32(p, hdr + 8, children.back());
    for (size_t i = 0; i < offsets.size(); ++i) Put16(p, hdr + 12 + 2 * i, static_cast<uint32_t>(offsets[i]));
  }

  // The schema row of a table (or another object) as a page-1 cell.
  std::string SchemaCell(int64_t rowid, const std::string& type, const std::string& name, int64_t root,
                         const std::string& sql) {
    return LeafCell(rowid, Record3({type, name, name, root, sql}));
  }

  std::string Bytes() const {
    std::string out;
    for (const std::string& p : pages_) out += p;
    const std::string magic("SQLite format 3\0", 16);
    out.replace(0, 16, magic);
    Put16(out, 16, ps_ == 65536 ? 1 : ps_);
    out[18] = out[19] = 1;
    out[20] = 0;
    out[21] = 64, out[22] = 32, out[23] = 32;
    Put32(out, 28, static_cast<uint32_t>(pages_.size()));
    Put32(out, 44, 4);
    Put32(out, 56, 1);
    return out;
  }

 private:
  uint32_t ps_;
  std::vector<std::string> pages_;
};

// A reader over the file that counts the bytes asked for.
class CountingReader : public Reader {
 public:
  explicit CountingReader(const std::string& path) : inner_(makeReader(path)) { size = inner_->size; }
  size_t ReadAt(uint64_t offset, void* destination, size_t count) override {
    bytesRead += count;
    return inner_->ReadAt(offset, destination, count);
  }
  bool IsOpen() const override { return inner_->IsOpen(); }

  std::atomic<uint64_t> bytesRead{0};

 private:
  std::unique_ptr<Reader> inner_;
};

// A session that scanned path through a CountingReader (detection as the
// file dialog does it).
struct CountedScan {
  explicit CountedScan(const std::string& path) : session(observer, MakeParser) {
    observer.choose = [path, this](FileSelection& selection) {
      DescribeFile(path, selection, observer);
      return true;
    };
    session.readerFactory = [this](const std::string& p) {
      auto r = std::make_unique<CountingReader>(p);
      counter = r.get();
      return r;
    };
    session.OpenFile();
    session.WaitForWorker();
  }
  uint64_t BytesRead() const { return counter != nullptr ? counter->bytesRead.load() : 0; }
  // The first object of a group (-2 tables, -3 indexes, ...).
  TreeItemId First(TreeItemId group) const {
    const auto children = session.tree.Children(group);
    return children.empty() ? kTreeRoot : children.front();
  }
  void Preview(TreeItemId item) {
    session.StartPreview(item);
    session.WaitForWorker();
  }
  // Checks every object and saves them into out.
  void SaveAll(const std::string& out) {
    session.tree.SetChecked(session.fileItem, true);
    session.outputPathOverride = out;
    session.StartSave();
    session.WaitForWorker();
  }

  RecordingObserver observer;
  RecoverySession session;
  CountingReader* counter = nullptr;
};

}  // namespace veltrane::test
