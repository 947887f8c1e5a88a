// Builds SQLite 2.x files byte by byte for the tests, and runs the SQLite 2
// parser on a file without the file dialog.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/session.h"
#include "sqlite2/sqlite_ver2.h"
#include "sqlite3/parser_factory.h"
#include "tests/support.h"

namespace veltrane::test {

using Field = std::optional<std::string>;  // nullopt: NULL

// A file of whole 1024-byte pages; page 1 carries the magic text and the
// byte-order word.
class Ver2File {
 public:
  explicit Ver2File(uint32_t pages, bool bigEndian = false) : big_(bigEndian), bytes_(pages * 1024, '\0') {
    const std::string magic = "** This file contains an SQLite 2.1 database **";
    bytes_.replace(0, magic.size(), magic);
    Put32(48, 0xdae37528u);
  }

  std::string& bytes() { return bytes_; }
  static uint64_t At(uint32_t page, uint32_t offset = 0) { return uint64_t{page - 1} * 1024 + offset; }

  void PageHeader(uint32_t page, uint32_t rightChild, uint16_t firstCell, uint16_t firstFree = 0) {
    Put32(At(page), rightChild);
    Put16(At(page, 4), firstCell);
    Put16(At(page, 6), firstFree);
  }

  // A table cell: header, key, the first 232 data bytes, and the rest on the
  // overflow pages given (each page's next pointer is the following one).
  void Cell(uint32_t page, uint16_t offset, uint32_t leftChild, uint16_t nextCell, int32_t rowid,
            const std::string& data, const std::vector<uint32_t>& overflow = {}) {
    const uint64_t c = At(page, offset);
    Put32(c, leftChild);
    Put16(c + 4, 4);
    Put16(c + 6, nextCell);
    bytes_[c + 8] = 0;
    bytes_[c + 9] = static_cast<char>(data.size() >> 16);
    Put16(c + 10, static_cast<uint16_t>(data.size()));
    const uint32_t key = static_cast<uint32_t>(rowid) ^ 0x80000000u;
    for (int i = 0; i < 4; ++i) bytes_[c + 12 + i] = static_cast<char>(key >> (24 - 8 * i));
    const size_t local = std::min<size_t>(data.size(), 232);
    bytes_.replace(c + 16, local, data, 0, local);
    if (data.size() <= 232) return;
    Put32(c + 248, overflow.empty() ? 0 : overflow[0]);
    size_t pos = 232;
    for (size_t k = 0; k < overflow.size() && pos < data.size(); ++k) {
      Put32(At(overflow[k]), k + 1 < overflow.size() ? overflow[k + 1] : 0);
      const size_t n = std::min<size_t>(data.size() - pos, 1020);
      bytes_.replace(At(overflow[k], 4), n, data, pos, n);
      pos += n;
    }
  }

  void Put16(uint64_t at, uint16_t v) {
    for (int i = 0; i < 2; ++i) bytes_[at + i] = static_cast<char>(big_ ? v >> (8 - 8 * i) : v >> (8 * i));
  }
  void Put32(uint64_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_[at + i] = static_cast<char>(big_ ? v >> (24 - 8 * i) : v >> (8 * i));
  }

 private:
  bool big_;
  std::string bytes_;
};

// A row record as SQLite 2 writes it: offsets 1, 2 or 3 bytes wide by the
// record's size, then every text with its terminating zero; NULL takes no byte.
inline std::string Record(const std::vector<Field>& fields) {
  size_t body = 0;
  for (const Field& f : fields)
    if (f) body += f->size() + 1;
  const size_t count = fields.size() + 1;
  unsigned width = 1;
  if (count + body >= 256) width = 2;
  if (width == 2 && 2 * count + body >= 65536) width = 3;
  std::string out;
  size_t offset = width * count;
  auto put = [&](size_t v) {
    for (unsigned b = 0; b < width; ++b) out.push_back(static_cast<char>(v >> (8 * b)));
  };
  put(offset);
  for (const Field& f : fields) {
    if (f) offset += f->size() + 1;
    put(offset);
  }
  for (const Field& f : fields)
    if (f) out.append(*f).push_back('\0');
  return out;
}

inline std::string MasterRecord(const std::string& type, const std::string& name, const std::string& root,
                                const std::string& sql) {
  return Record({type, name, name, root, sql});
}

// A session whose reader and SQLite 2 parser are set up on path, as the scan
// leaves them; ParseFile is not run.
struct Ver2Run {
  explicit Ver2Run(const std::string& path) : session(observer, MakeParser) {
    session.filePath = path;
    session.reader = makeReader(path);
    session.parser = std::make_unique<sqlite_ver2>();
    session.parser->owner = &session;
  }
  sqlite_ver2& parser() { return static_cast<sqlite_ver2&>(*session.parser); }
  void Parse() { parser().ParseFile(session.filePath); }
  // The rows of a table rooted at root, as the record list shows them.
  std::vector<RecordRow> Rows(int32_t root, int columns, int keyMark = 0, const std::string& name = "t") {
    session.records.ClearRows();
    parser().rowProgress = 0;
    parser().RecoverRows(session.filePath, root, columns, name, keyMark);
    std::vector<RecordRow> rows;
    for (size_t i = 0; i < session.records.RowCount(); ++i) rows.push_back(session.records.Row(i));
    return rows;
  }

  RecordingObserver observer;
  RecoverySession session;
};

// The texts of rows, NULL cells as nullopt.
inline std::vector<std::vector<Field>> Texts(const std::vector<RecordRow>& rows) {
  std::vector<std::vector<Field>> out;
  for (const RecordRow& row : rows) {
    std::vector<Field> cells;
    for (const RecordCell& c : row) cells.push_back(c.isNull ? Field() : Field(c.text));
    out.push_back(std::move(cells));
  }
  return out;
}

}  // namespace veltrane::test
