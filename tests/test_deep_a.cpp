// Deep recovery: WITHOUT ROWID tables, UTF-16 big-endian files, files cut
// inside a page, destroyed headers and flipped bits, on databases built with
// the SQLite library and compared with what the library reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "cli/object_names.h"
#include "core/bytes.h"
#include "core/page_inference.h"
#include "sqlite3/record_decoder.h"
#include "sqlite3/row_recovery.h"
#include "tests/test_deep_a_support.h"

namespace veltrane::test {
namespace {

// ---- WITHOUT ROWID ----

TEST(DeepWithoutRowid, RowsComeBackInTableOrderAndTheTableStaysWithoutRowid) {
  TempDir dir;
  const std::string db = dir.File("wr.db");
  BuildDatabase(db,
                {"CREATE TABLE kv(k TEXT PRIMARY KEY, v BLOB, n INTEGER) WITHOUT ROWID",
                 "CREATE TABLE pairs(a INTEGER, b TEXT, c REAL, d, PRIMARY KEY(b, a)) WITHOUT ROWID",
                 "CREATE TABLE strict_kv(k INTEGER PRIMARY KEY, v TEXT) STRICT, WITHOUT ROWID",
                 // Keys long enough to overflow the index pages, and enough
                 // rows for interior pages, whose cells are rows too.
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300) "
                 "INSERT INTO kv SELECT printf('key:%05d:', i) || CASE WHEN i % 7 = 0 THEN "
                 "replace(hex(zeroblob(900)), '0', 'x') ELSE 'short' END, randomblob(i % 20), i * 3 FROM n",
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400) "
                 "INSERT INTO pairs SELECT i % 13, 'b' || (i / 13), i * 0.5, CASE WHEN i % 3 = 0 THEN NULL "
                 "ELSE randomblob(4) END FROM n",
                 "INSERT INTO strict_kv VALUES (1, 'one'), (2, 'two')"},
                1024);
  ASSERT_GT(QueryRows(db, "SELECT count(*) FROM dbstat WHERE name = 'kv' AND pagetype = 'internal'")[0][0].integer,
            0);
  ASSERT_GT(QueryRows(db, "SELECT count(*) FROM dbstat WHERE name = 'kv' AND pagetype = 'overflow'")[0][0].integer,
            0);

  const std::string out = dir.File("out.db");
  const CommandResult r = SaveWithCli(db, out);
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* table : {"kv", "pairs", "strict_kv"}) {
    SCOPED_TRACE(table);
    const std::string all = std::string("SELECT * FROM ") + table;
    const auto want = RowTexts(db, all);
    EXPECT_EQ(RowTexts(out, all), want);
    EXPECT_FALSE(want.empty());
    const std::string sql =
        QueryRows(out, std::string("SELECT sql FROM sqlite_master WHERE name = '") + table + "'")[0][0].bytes;
    EXPECT_TRUE(Contains(sql, "WITHOUT ROWID")) << sql;
  }
  EXPECT_TRUE(Contains(QueryRows(out, "SELECT sql FROM sqlite_master WHERE name = 'strict_kv'")[0][0].bytes,
                       "STRICT"));
  EXPECT_EQ(QueryRows(out, "PRAGMA integrity_check")[0][0].bytes, "ok");

  // The preview counts and shows every row, columns in table order.
  auto scanned = ScanFile(db);
  RecoverySession& s = *scanned->session;
  const TreeItemId pairs = FindObject(s, "pairs");
  ASSERT_NE(pairs, kTreeRoot);
  s.StartPreview(pairs);
  s.WaitForWorker();
  ASSERT_EQ(s.records.RowCount(), 400u);
  const auto first = QueryRows(db, "SELECT a, b FROM pairs ORDER BY b, a LIMIT 1")[0];
  EXPECT_EQ(s.records.Row(0)[0].text, std::to_string(first[0].integer));
  EXPECT_EQ(s.records.Row(0)[1].text, first[1].bytes);
  EXPECT_EQ(scanned->observer.Ranges().back(), 400u);
}

TEST(DeepWithoutRowid, FieldOrderPutsTheKeyBack) {
  // PRIMARY KEY(b, a) of (a, b, c, d) stores b, a, c, d.
  EXPECT_EQ(WithoutRowidFieldOrder(4, {1, 0}), (std::vector<int>{1, 0, 2, 3}));
  EXPECT_EQ(WithoutRowidFieldOrder(3, {0}), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(WithoutRowidFieldOrder(3, {2, 2, 0}), (std::vector<int>{2, 0, 1}));  // a column named twice
  EXPECT_TRUE(WithoutRowidFieldOrder(3, {}).empty());
  EXPECT_TRUE(WithoutRowidFieldOrder(2, {5}).empty());  // a key beyond the columns
}

// ---- UTF-16 big-endian ----

TEST(DeepUtf16BigEndian, RowsAndSchemaEqualTheLibrarys) {
  TempDir dir;
  const std::string db = dir.File("be.db");
  BuildDatabase(db,
                {"CREATE TABLE people(id INTEGER PRIMARY KEY, name TEXT, note TEXT, photo BLOB, score REAL)",
                 "CREATE INDEX people_name ON people(name)",
                 "CREATE VIEW named AS SELECT name FROM people",
                 "INSERT INTO people VALUES (1, 'Zoë', 'naïve café 字', x'00ff10', 1.5)",
                 "INSERT INTO people VALUES (2, 'O''Neil', NULL, NULL, -2)",
                 "WITH RECURSIVE n(i) AS (SELECT 3 UNION ALL SELECT i + 1 FROM n WHERE i < 300) "
                 "INSERT INTO people SELECT i, 'name ' || i, replace(hex(zeroblob(i % 50)), '0', 'ж'), "
                 "randomblob(i % 9), i / 7.0 FROM n"},
                4096, "UTF-16be");
  ASSERT_EQ(QueryRows(db, "PRAGMA encoding")[0][0].bytes, "UTF-16be");
  const std::string out = dir.File("out.db");
  const CommandResult r = SaveWithCli(db, out);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(RowTexts(out, "SELECT * FROM people"), RowTexts(db, "SELECT * FROM people"));
  EXPECT_EQ(QueryRows(out, "PRAGMA encoding")[0][0].bytes.rfind("UTF-16", 0), 0u);
  EXPECT_EQ(QueryRows(out, "SELECT count(*) FROM sqlite_master WHERE name IN ('people_name', 'named')")[0][0].integer,
            2);

  // The preview shows the texts as the library reads them.
  const CommandResult shown = RunCli({"show", db, "people"});
  EXPECT_TRUE(Contains(shown.out, "naïve café 字")) << shown.out.substr(0, 300);
  const CommandResult json = RunCli({"scan", "--json", db});
  EXPECT_TRUE(Contains(json.out, "\"encoding\": \"UTF-16be\"")) << json.out.substr(0, 400);
}

// ---- a file cut inside a page ----

TEST(DeepTruncated, TheWholePagesOfAFileCutInsideAPageComeBack) {
  TempDir dir;
  const std::string db = dir.File("cut.db");
  BuildDatabase(db,
                {"CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT)",
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
                 "INSERT INTO t SELECT i, printf('value %06d ', i) || hex(randomblob(30)) FROM n"},
                1024);
  // The leaves in key order, with their page numbers: which rows each holds.
  const auto leaves =
      QueryRows(db, "SELECT pageno, ncell FROM dbstat WHERE name = 't' AND pagetype = 'leaf' ORDER BY path");
  const auto all = QueryRows(db, "SELECT * FROM t ORDER BY id");
  std::string bytes = ReadFile(db);
  const uint64_t pages = bytes.size() / 1024;
  const uint64_t keptPages = pages - 6;           // whole pages kept
  bytes.resize(keptPages * 1024 + 700);           // and 700 bytes of the next
  const std::string cut = dir.File("cut_copy.db");
  WriteFile(cut, bytes);

  std::set<std::string> must;  // rows of leaves that lie wholly in the file
  std::set<int64_t> cutIds;     // rows of the leaf that the cut goes through
  size_t row = 0;
  for (const auto& leaf : leaves) {
    for (int64_t k = 0; k < leaf[1].integer; ++k, ++row) {
      if (static_cast<uint64_t>(leaf[0].integer) <= keptPages) must.insert(RowText(all[row]));
      if (static_cast<uint64_t>(leaf[0].integer) == keptPages + 1) cutIds.insert(all[row][0].integer);
    }
  }
  ASSERT_GT(must.size(), 1000u);
  ASSERT_LT(must.size(), all.size());

  const std::string out = dir.File("out.db");
  const CommandResult r = SaveWithCli(cut, out);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "The file is truncated: its last page " + std::to_string(keptPages + 1) +
                                  " holds 700 of its 1024 bytes; it is read as far as it goes"))
      << r.out;
  std::set<std::string> truth;
  for (const auto& t : all) truth.insert(RowText(t));
  size_t present = 0;
  for (const auto& got : QueryRows(out, "SELECT * FROM t")) {
    const std::string text = RowText(got);
    present += must.count(text);
    if (truth.count(text) != 0) continue;
    // A row of the cut page whose value ran past the end keeps what the file holds.
    EXPECT_EQ(cutIds.count(got[0].integer), 1u) << "not a row of the table: " << text;
    if (got[1].type == SQLITE_TEXT) {
      EXPECT_EQ(all[static_cast<size_t>(got[0].integer - 1)][1].bytes.rfind(got[1].bytes, 0), 0u) << text;
    }
  }
  EXPECT_EQ(present, must.size());
}

// Two tables with the same rowids whose pages interleave: a child of one
// that the cut took away is lost, and never replaced by a page of the other
// whose number differs by one bit.
TEST(DeepTruncated, ChildrenCutOffAreNotTakenForFlippedNumbers) {
  TempDir dir;
  const std::string db = dir.File("two.db");
  // Rows in turns of 20, so that the leaves of both tables alternate.
  std::vector<std::string> statements = {"CREATE TABLE a(id INTEGER PRIMARY KEY, v TEXT)",
                                         "CREATE TABLE b(id INTEGER PRIMARY KEY, v TEXT)"};
  for (int from = 1; from <= 3000; from += 20)
    for (const char* t : {"a", "b"})
      statements.push_back(Format("WITH RECURSIVE n(i) AS (SELECT %d UNION ALL SELECT i + 1 FROM n WHERE i < %d) "
                                  "INSERT INTO %s SELECT i, '%s' || printf('%%06d', i) || hex(randomblob(20)) FROM n",
                                  from, from + 19, t, t));
  BuildDatabase(db, statements, 4096);
  std::string bytes = ReadFile(db);
  bytes.resize(bytes.size() / 2 / 4096 * 4096);
  const std::string cut = dir.File("cut.db");
  WriteFile(cut, bytes);
  const std::string out = dir.File("out.db");
  const CommandResult r = SaveWithCli(cut, out);
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* t : {"a", "b"}) {
    const auto rows = QueryRows(out, Format("SELECT v FROM %s", t));
    EXPECT_GT(rows.size(), 500u) << t;
    for (const auto& row : rows) ASSERT_EQ(row[0].bytes.substr(0, 1), t) << "a row of the other table in " << t;
  }
}

// ---- destroyed headers ----

struct HeaderlessCase {
  const char* name;
  int pageSize;
  const char* encoding;  // as PRAGMA encoding names it
  int expectEncoding;    // 1 UTF-8, 2 UTF-16le, 3 UTF-16be
  size_t prefix;         // foreign bytes in front of the database
};

TEST(DeepDestroyedHeader, PageSizeStartAndEncodingAreInferredAndTheRowsComeBack) {
  const HeaderlessCase cases[] = {
      {"1024, UTF-8", 1024, "UTF-8", 1, 0},
      {"512, UTF-16le", 512, "UTF-16le", 2, 0},
      {"4096, UTF-16be", 4096, "UTF-16be", 3, 0},
      {"65536, UTF-8", 65536, "UTF-8", 1, 0},
      {"2048 behind 333 foreign bytes", 2048, "UTF-8", 1, 333},
  };
  for (const HeaderlessCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string db = dir.File("intact.db");
    BuildDatabase(db,
                  {"CREATE TABLE a(id INTEGER PRIMARY KEY, t TEXT, r REAL)",
                   "CREATE TABLE b(x TEXT, y BLOB)",
                   "CREATE INDEX b_x ON b(x)",
                   "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400) "
                   "INSERT INTO a SELECT i, 'text ' || i || ' é', i * 1.25 FROM n",
                   "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 150) "
                   "INSERT INTO b SELECT hex(randomblob(20)), randomblob(i) FROM n"},
                  c.pageSize, c.encoding);
    std::string bytes = std::string(c.prefix, 'P') + ReadFile(db);
    std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(c.prefix),
              bytes.begin() + static_cast<std::ptrdiff_t>(c.prefix + 100), '\0');
    const std::string damaged = dir.File("damaged.db");
    WriteFile(damaged, bytes);

    RecordingObserver observer;
    FileSelection selection;
    const FileDescription d = DescribeFile(damaged, selection, observer);
    EXPECT_TRUE(observer.Messages().empty()) << observer.Messages()[0].text;
    EXPECT_EQ(selection.formatVersion, 2);
    EXPECT_EQ(d.versionChecked, 2);
    EXPECT_TRUE(d.pageSizeInferred && d.startInferred && d.encodingInferred);
    EXPECT_EQ(d.pageSizeText, std::to_string(c.pageSize));
    EXPECT_EQ(selection.pageSize, static_cast<uint64_t>(c.pageSize));
    EXPECT_EQ(selection.startOffset, c.prefix + 1);
    EXPECT_EQ(d.encoding, c.expectEncoding);
    EXPECT_EQ(selection.textEncoding, c.expectEncoding);
    EXPECT_EQ(d.inferredText, Format("page size %d, database start at offset %zu, text encoding %s", c.pageSize,
                                     c.prefix, EncodingName(c.expectEncoding)));

    const std::string out = dir.File("out.db");
    const CommandResult r = SaveWithCli(damaged, out);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "The database header is damaged; inferred from the pages: " + d.inferredText))
        << r.out.substr(0, 500);
    EXPECT_EQ(RowTexts(out, "SELECT * FROM a"), RowTexts(db, "SELECT * FROM a"));
    EXPECT_EQ(RowTexts(out, "SELECT * FROM b"), RowTexts(db, "SELECT * FROM b"));

    const CommandResult json = RunCli({"scan", "--json", damaged});
    const nlohmann::json doc = nlohmann::json::parse(json.out);
    EXPECT_EQ(doc["detected"]["inferred"], nlohmann::json({"pageSize", "headerOffset", "encoding"}));
    EXPECT_EQ(doc["detected"]["pageSize"], c.pageSize);
    EXPECT_EQ(doc["detected"]["headerOffset"], c.prefix);
  }
}

TEST(DeepDestroyedHeader, AnInvalidPageSizeOrEncodingFieldIsInferredAlone) {
  TempDir dir;
  const std::string db = dir.File("f.db");
  BuildDatabase(db,
                {"CREATE TABLE t(a, b)", "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300) "
                                         "INSERT INTO t SELECT i, 'row ' || i FROM n"},
                2048, "UTF-16le");
  struct Case {
    const char* name;
    uint64_t offset;
    std::string bytes;
    bool pageSize, encoding;
  };
  const Case cases[] = {
      {"page size field 3000", 16, std::string("\x0b\xb8", 2), true, false},
      {"page size field 0", 16, std::string("\0\0", 2), true, false},
      {"encoding byte 7", 56, std::string("\0\0\0\x07", 4), false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string copy = dir.File("copy.db");
    WriteFile(copy, ReadFile(db));
    PatchFile(copy, c.offset, c.bytes);
    RecordingObserver observer;
    FileSelection selection;
    const FileDescription d = DescribeFile(copy, selection, observer);
    EXPECT_FALSE(d.startInferred);
    EXPECT_EQ(d.pageSizeInferred, c.pageSize);
    EXPECT_EQ(d.encodingInferred, c.encoding);
    EXPECT_EQ(selection.pageSize, 2048u);
    EXPECT_TRUE(selection.utf16);
    const std::string out = dir.File("out.db");
    ASSERT_EQ(SaveWithCli(copy, out).status, 0);
    EXPECT_EQ(RowTexts(out, "SELECT * FROM t"), RowTexts(db, "SELECT * FROM t"));
  }
}

TEST(DeepDestroyedHeader, TheUsersChoiceReplacesWhatThePagesTold) {
  TempDir dir;
  const std::string db = dir.File("be.db");
  BuildDatabase(db, {"CREATE TABLE t(a TEXT)", "INSERT INTO t VALUES ('x')"}, 1024, "UTF-16be");
  PatchFile(db, 0, std::string(100, '\0'));
  FileSelection selection;
  RecordingObserver observer;
  const FileDescription d = DescribeFile(db, selection, observer);
  ASSERT_EQ(selection.textEncoding, 3);
  ASSERT_FALSE(selection.inferredFromPages.empty());
  {
    FileSelection s = selection;
    ManualChoice choice;
    choice.utf16 = true;  // UTF-16 keeps the byte order found
    ApplyManualChoice(choice, s, d.fileSize);
    EXPECT_EQ(s.textEncoding, 3);
    EXPECT_FALSE(s.inferredFromPages.empty());
  }
  {
    FileSelection s = selection;
    ManualChoice choice;
    choice.utf16 = false;
    choice.pageSize = 2048;
    ApplyManualChoice(choice, s, d.fileSize);
    EXPECT_EQ(s.textEncoding, 0);
    EXPECT_TRUE(s.utf8);
    EXPECT_TRUE(s.inferredFromPages.empty());
    EXPECT_EQ(s.pageSize, 2048u);
  }
}

TEST(DeepDestroyedHeader, FilesWithoutPagesAreNotTakenForDatabases) {
  TempDir dir;
  std::string random(64 * 1024, '\0');
  uint32_t x = 12345;
  for (char& ch : random) ch = static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {{"random bytes", random},
                        {"zeros", std::string(32 * 1024, '\0')},
                        {"text", std::string(20000, 'n')},
                        // One page that looks like a leaf is no evidence for a larger file.
                        {"one lone leaf", std::string("\x0d\0\0\0\0\x02\0\0", 8) + std::string(8192 - 8, 'q')}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File("f.bin");
    WriteFile(path, c.bytes);
    RecordingObserver observer;
    FileSelection selection;
    const FileDescription d = DescribeFile(path, selection, observer);
    EXPECT_EQ(selection.formatVersion, 0);
    EXPECT_FALSE(d.pageSizeInferred);
    EXPECT_TRUE(observer.HasMessage("Version cannot be detected.Please select the version to continue"));
  }
}

// ---- flipped bits ----

// The bytes of page n (from 1) of a file.
std::string PageOf(const std::string& path, uint64_t n, uint32_t pageSize) {
  return ReadFile(path).substr((n - 1) * pageSize, pageSize);
}
uint16_t Be16(const std::string& page, size_t at) {
  return static_cast<uint16_t>((static_cast<uint8_t>(page[at]) << 8) | static_cast<uint8_t>(page[at + 1]));
}
uint32_t Be32(const std::string& page, size_t at) {
  return (uint32_t{Be16(page, at)} << 16) | Be16(page, at + 2);
}

TEST(DeepBitFlips, DamagedPointersCountsChildNumbersAndHeadersAreMended) {
  TempDir dir;
  const std::string db = dir.File("t.db");
  BuildDatabase(db,
                {"CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT, n INTEGER)",
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 600) "
                 "INSERT INTO t SELECT i, printf('v%04d', i) || substr('abcdefghij', 1, i % 10), i * 7 FROM n"},
                1024);
  const int64_t root = QueryRows(db, "SELECT rootpage FROM sqlite_master WHERE name = 't'")[0][0].integer;
  const std::string rootPage = PageOf(db, root, 1024);
  ASSERT_EQ(rootPage[0], 5);
  const auto want = RowTexts(db, "SELECT * FROM t");
  // A leaf in the middle of the tree, through the root's third cell.
  const uint16_t thirdCell = Be16(rootPage, 12 + 2 * 2);
  const uint32_t leaf = Be32(rootPage, thirdCell);
  const std::string leafPage = PageOf(db, leaf, 1024);
  ASSERT_EQ(leafPage[0], 13);
  const uint16_t cells = Be16(leafPage, 3);
  ASSERT_GE(cells, 8);
  const uint64_t leafAt = (leaf - 1) * 1024ull;
  auto be16 = [](uint16_t v) { return std::string{static_cast<char>(v >> 8), static_cast<char>(v & 0xff)}; };

  struct Case {
    const char* name;
    std::function<void(const std::string&)> damage;
    const char* log;  // a log line that starts so
  };
  const Case cases[] = {
      {"a leaf's cell pointer moved inside its cell, another beyond the page",
       [&](const std::string& f) {
         PatchFile(f, leafAt + 8 + 2 * 2, be16(Be16(leafPage, 8 + 2 * 2) + 2));
         PatchFile(f, leafAt + 8 + 2 * 5, be16(Be16(leafPage, 8 + 2 * 5) | 0x8000));
       },
       "damaged cell pointers were left out"},
      {"a leaf's cell count lost a bit",
       [&](const std::string& f) { PatchFile(f, leafAt + 3, be16(cells & (cells - 1))); },
       "cells that no pointer names were read from its content area"},
      {"an interior cell's child number has a flipped bit",
       [&](const std::string& f) {
         std::string child = rootPage.substr(thirdCell, 4);
         child[3] = static_cast<char>(child[3] ^ 0x10);
         PatchFile(f, (root - 1) * 1024ull + thirdCell, child);
       },
       "whose number differs by one bit, fits and is read instead"},
      {"a record header's rowid-alias NULL became a blob",
       [&](const std::string& f) {
         const uint16_t cell = Be16(leafPage, 8 + 2 * 3);
         const ByteView page(reinterpret_cast<const uint8_t*>(leafPage.data()), leafPage.size());
         uint64_t value = 0;
         const unsigned a = ReadVarint(page, cell, value);
         const unsigned b = ReadVarint(page, cell + a, value);
         // After the header size: the first serial type, NULL for the rowid alias.
         const size_t type = cell + a + b + 1;
         ASSERT_EQ(leafPage[type], 0);
         PatchFile(f, leafAt + type, std::string(1, '\x20'));
       },
       "1 records whose header had one flipped bit were mended"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string copy = dir.File("copy.db");
    WriteFile(copy, ReadFile(db));
    c.damage(copy);
    const std::string out = dir.File("out.db");
    const CommandResult r = SaveWithCli(copy, out);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(RowTexts(out, "SELECT * FROM t"), want);
    EXPECT_TRUE(Contains(r.out, c.log)) << r.out;
  }
}

// A leaf overwritten with random bytes is lost: the page its parent names
// next is that child, not a replacement for the lost one (read early, it was
// then met a second time, and the log told a bit flip that never was).
TEST(DeepBitFlips, ALostLeafIsNotReplacedByItsSibling) {
  TempDir dir;
  const std::string db = dir.File("t.db");
  BuildDatabase(db,
                {"CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT)",
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 600) "
                 "INSERT INTO t SELECT i, printf('v%04d', i) FROM n"},
                1024);
  const int64_t root = QueryRows(db, "SELECT rootpage FROM sqlite_master WHERE name = 't'")[0][0].integer;
  const std::string rootPage = PageOf(db, root, 1024);
  ASSERT_EQ(rootPage[0], 5);
  // A child whose number is one bit away from another child's.
  const uint16_t count = Be16(rootPage, 3);
  std::vector<uint32_t> children;
  for (uint16_t i = 0; i < count; ++i) children.push_back(Be32(rootPage, Be16(rootPage, 12 + 2 * i)));
  uint32_t leaf = 0;
  for (size_t i = 1; i + 1 < children.size() && leaf == 0; ++i)
    if (std::find(children.begin(), children.end(), children[i] ^ 1u) != children.end()) leaf = children[i];
  ASSERT_NE(leaf, 0u);
  std::string garbage(1024, '\0');
  uint32_t x = 12345;
  for (char& c : garbage) c = static_cast<char>((x = x * 1103515245 + 12345) >> 16);
  garbage[0] = 0x7f;  // no b-tree page type
  PatchFile(db, (leaf - 1) * 1024ull, garbage);
  const std::string out = dir.File("out.db");
  const CommandResult r = SaveWithCli(db, out);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(Contains(r.out, "whose number differs by one bit")) << r.out;
  EXPECT_FALSE(Contains(r.out, "is reached a second time")) << r.out;
  const auto rows = QueryRows(out, "SELECT count(*), count(DISTINCT id) FROM t");
  EXPECT_GT(rows[0][0].integer, 500);
  EXPECT_EQ(rows[0][0].integer, rows[0][1].integer);
}

TEST(DeepBitFlips, OnlyOneFlipThatExplainsAHeaderIsTaken) {
  auto view = [](const std::string& s) { return ByteView(reinterpret_cast<const uint8_t*>(s.data()), s.size()); };
  // Header 04: NULL, text of 3, 16-bit integer; then "abc" and 256.
  const std::string sound("\x04\x00\x13\x02" "abc" "\x01\x00", 9);
  EXPECT_TRUE(RecordAccountsFor(view(sound), 9, 3));
  EXPECT_TRUE(RecordAccountsFor(view(sound), 9, 0));
  EXPECT_FALSE(RecordAccountsFor(view(sound), 9, 2));   // more values than columns
  EXPECT_FALSE(RecordAccountsFor(view(sound), 10, 3));  // a byte left over
  // The NULL became a 10-byte blob: only flipping that bit back explains it.
  std::string flipped = sound;
  flipped[1] = '\x20';
  EXPECT_FALSE(RecordAccountsFor(view(flipped), 9, 3));
  const auto flip = FindHeaderFlip(view(flipped), 9, 3);
  ASSERT_TRUE(flip.has_value());
  EXPECT_EQ(flip->byte, 1u);
  EXPECT_EQ(flip->mask, 0x20);
  // A text of 1 became a text of 0 beside two 1-byte integers: the text, or
  // either integer read as a text of 2, would do; no flip is taken.
  const std::string ambiguous("\x04\x01\x0d\x01\x2a\x41\x07", 7);
  EXPECT_FALSE(FindHeaderFlip(view(ambiguous), 7, 3).has_value());
}

}  // namespace
}  // namespace veltrane::test
