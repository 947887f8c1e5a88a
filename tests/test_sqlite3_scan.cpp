// The SQLite 3 scan: header checks, page table, cell tools, schema discovery.
#include <gtest/gtest.h>

#include <algorithm>

#include "cli/object_names.h"
#include "core/text.h"
#include "sqlite3/btree_cells.h"
#include "sqlite3/schema_discovery.h"
#include "tests/test_sqlite3_support.h"

namespace veltrane::test {
namespace {

// ---- cell tools ----

TEST(Sqlite3Cells, EstimatedSizesFollowNeighboursAndFreeblocks) {
  struct Case {
    std::vector<uint16_t> offsets, freeblocks;
    std::vector<uint32_t> sizes;
  };
  const Case cases[] = {
      {{3000, 3500, 3900}, {}, {500, 400, 0}},
      {{3000, 3500, 3900}, {3200}, {200, 400, 0}},
      // Pointer order is not offset order; the freeblock after the last cell bounds it.
      {{3900, 3000, 3500}, {4000}, {100, 500, 400}},
      // Of two freeblocks between neighbours the later one in chain order wins.
      {{1000, 2000}, {1800, 1200}, {200, 0}},
      // Only the first freeblock bounds the cell with the highest offset.
      {{1000}, {500, 1500}, {0}},
      // Two pointers to one cell share its extent.
      {{1000, 1000, 1300}, {}, {300, 300, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(EstimateCellSizes(c.offsets, c.freeblocks), c.sizes);
}

TEST(Sqlite3Cells, FreeblockChainIsCutAtItsCapacity) {
  std::vector<uint8_t> page(4096, 0);
  auto put = [&](size_t at, uint16_t v) {
    page[at] = static_cast<uint8_t>(v >> 8);
    page[at + 1] = static_cast<uint8_t>(v);
  };
  put(1000, 2000);
  put(2000, 0);
  const ByteView view(page.data(), page.size());
  EXPECT_EQ(ReadFreeblockChain(view, 1000, 5), (std::vector<uint16_t>{1000, 2000}));
  EXPECT_TRUE(ReadFreeblockChain(view, 0, 5).empty());
  put(2000, 1000);  // a cycle
  EXPECT_EQ(ReadFreeblockChain(view, 1000, 2).size(), 3u);
}

TEST(Sqlite3Cells, LocalPayloadFollowsSqlitesRule) {
  // U = 1024: X = 989, M = 103; U = 4096: X = 4061, M = 489.
  struct Case {
    uint64_t payload;
    uint32_t usable;
    uint64_t local;
  };
  const Case cases[] = {
      {989, 1024, 989},     // fits: P <= X
      {990, 1024, 103},     // K = 990 > X: M
      {1500, 1024, 480},    // K = 103 + 1397 % 1020
      {2100, 1024, 103},    // K = 1080 > X
      {5000, 4096, 908},    // M = 489, K = 489 + 4511 % 4092
      {196608, 65536, 8199} // K = 65544 > X: M
  };
  for (const Case& c : cases) EXPECT_EQ(LocalPayloadSize(c.payload, c.usable), c.local) << c.payload;
}

// ---- schema texts as discovery delivers them ----

struct DeliveredText {
  std::string text;
  int64_t root;
  DdlForm form;
};

class RecordingSink : public SchemaTextSink {
 public:
  DdlOutcome Analyse(std::string_view text, int64_t root, DdlForm form, uint32_t, size_t) override {
    texts.push_back({std::string(text), root, form});
    if (!keyword.empty() && text.find(keyword) == std::string_view::npos) return {DdlResult::NoKeyword, DdlKind::None};
    return {DdlResult::Done, DdlKind::None};
  }
  DdlOutcome Analyse(std::u16string_view text, int64_t root, DdlForm form, uint32_t, size_t) override {
    texts.push_back({Utf16ToUtf8(text), root, form});
    return {DdlResult::Done, DdlKind::None};
  }
  std::vector<DeliveredText> texts;
  // Texts without this word are answered as holding no statement.
  std::string keyword;
};

std::vector<DeliveredText> DiscoverTexts(ScannedFile& scanned, const std::string& keyword = "") {
  RecordingSink sink;
  sink.keyword = keyword;
  EXPECT_NE(scanned.parser, nullptr);
  if (scanned.parser == nullptr) return {};
  DiscoverSchema(*scanned.parser, scanned.parser->Geometry(), scanned.parser->textMode >= 2, sink);
  return sink.texts;
}

struct MasterRow {
  std::string type, name, sql;
  int64_t root;
};
std::vector<MasterRow> MasterRows(const std::string& path) {
  std::vector<MasterRow> rows;
  for (auto& r : QueryRows(path, "SELECT type, name, rootpage, sql FROM sqlite_master"))
    rows.push_back({r[0].bytes, r[1].bytes, r[3].bytes, r[2].integer});
  return rows;
}

// Every schema row with an SQL text is delivered once: tables and indexes as
// their text with their root page, views and triggers within the record body.
void ExpectEveryText(const std::string& path, const std::vector<DeliveredText>& texts) {
  for (const MasterRow& m : MasterRows(path)) {
    if (m.sql.empty()) continue;
    size_t found = 0;
    for (const DeliveredText& t : texts) {
      const bool regular = m.type == "table" || m.type == "index";
      if (regular ? (t.text == m.sql && t.root == m.root)
                  : (t.text.size() >= m.sql.size() && t.text.compare(t.text.size() - m.sql.size(), m.sql.size(), m.sql) == 0))
        ++found;
    }
    EXPECT_EQ(found, 1u) << m.type << " " << m.name;
  }
}

class Sqlite3SchemaTexts : public ::testing::TestWithParam<const char*> {};

TEST_P(Sqlite3SchemaTexts, SmallSchemaOnPageOne) {
  TempDir dir;
  const std::string db = dir.File("small.db");
  BuildDatabase(db,
                {"CREATE TABLE t1(id INTEGER PRIMARY KEY, name TEXT)",
                 "CREATE TABLE t2(a, b, c, UNIQUE(a))",
                 "CREATE INDEX i1 ON t1(name)",
                 "CREATE INDEX i3 ON t2(a, b, c)",
                 "CREATE VIEW v1 AS SELECT * FROM t1",
                 "CREATE TRIGGER tr1 AFTER INSERT ON t1 BEGIN DELETE FROM t2; END"},
                4096, GetParam());
  auto scanned = ScanFile(db);
  ASSERT_EQ(scanned->parser->pageHeaders[0].type, 13);
  const auto texts = DiscoverTexts(*scanned);
  ExpectEveryText(db, texts);
  // The autoindex record has no SQL text: its whole body names it.
  EXPECT_TRUE(std::any_of(texts.begin(), texts.end(),
                          [](const DeliveredText& t) { return t.text.find("sqlite_autoindex_t2_1") != std::string::npos; }));
  const DdlForm first = std::string(GetParam()) == "UTF-8" ? DdlForm::Utf8First : DdlForm::Utf16First;
  for (const DeliveredText& t : texts) EXPECT_EQ(t.form, first);
}

TEST_P(Sqlite3SchemaTexts, ManyTablesOverInteriorSchemaPages) {
  // 150 tables: page 1 is interior. With 512-byte pages and long texts the
  // children of page 1 are interior pages themselves.
  for (int pageSize : {1024, 512}) {
    TempDir dir;
    const std::string db = dir.File("many.db");
    std::vector<std::string> sql;
    // Texts that fill most of a 512-byte leaf without overflowing it.
    const bool utf8 = std::string(GetParam()) == "UTF-8";
    const std::string padding = pageSize == 512 ? ", padding_" + std::string(utf8 ? 200 : 100, 'x') + " TEXT" : "";
    for (int i = 0; i < 150; ++i)
      sql.push_back(Format("CREATE TABLE t%03d(id INTEGER PRIMARY KEY, a TEXT, b INTEGER%s)", i, padding.c_str()));
    BuildDatabase(db, sql, pageSize, GetParam());
    auto scanned = ScanFile(db);
    const auto& pages = scanned->parser->pageHeaders;
    ASSERT_EQ(pages[0].type, 5);
    const auto texts = DiscoverTexts(*scanned);
    EXPECT_EQ(texts.size(), 150u);
    ExpectEveryText(db, texts);
    const auto second = std::count_if(texts.begin(), texts.end(), [&](const DeliveredText& t) {
      return t.form == (utf8 ? DdlForm::Utf8Second : DdlForm::Utf16Second);
    });
    EXPECT_GT(second, 0);
    EXPECT_LT(second, 150);
    if (pageSize == 512) {
      const auto interior = std::count_if(pages.begin(), pages.end(), [](const PageHeader& h) { return h.type == 5; });
      EXPECT_GE(interior, 2) << "a child of page 1 is interior";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Encodings, Sqlite3SchemaTexts, ::testing::Values("UTF-8", "UTF-16le"));

TEST(Sqlite3SchemaTexts, CreateTextsOnOverflowPages) {
  TempDir dir;
  // UTF-8: a text over three overflow pages.
  {
    const std::string db = dir.File("long8.db");
    std::string cols;
    for (int i = 0; i < 300; ++i) cols += Format(", column_%03d TEXT", i);
    BuildDatabase(db, {"CREATE TABLE t(a" + cols + ")", "CREATE TABLE u(x)"}, 1024);
    auto scanned = ScanFile(db);
    ExpectEveryText(db, DiscoverTexts(*scanned));
  }
  // UTF-16: payload 2100 bytes on 1024-byte pages keeps 103 bytes local, of
  // which 81 belong to the text (an odd count); the rest fills two overflow
  // pages, so a code unit straddles the local part and the first page.
  {
    const std::string db = dir.File("long16.db");
    const std::string sql = "CREATE TABLE t(a TEXT /*" + std::string(1012, 'x') + "*/)";
    ASSERT_EQ(sql.size(), 1039u);
    BuildDatabase(db, {sql}, 1024, "UTF-16le");
    auto scanned = ScanFile(db);
    std::vector<uint8_t> page;
    const PageGeometry g = scanned->parser->Geometry();
    ReadPage(*scanned->session->reader, g, 1, page);
    const ByteView bytes(page.data(), page.size());
    CellPayload cell(*scanned->session->reader, g, bytes, bytes.BE16(108));
    ASSERT_EQ(cell.payloadLength(), 2100u);
    ASSERT_EQ(cell.localSize(), 103u);
    const auto texts = DiscoverTexts(*scanned);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].text, sql);
  }
}

TEST(Sqlite3SchemaTexts, FixtureTextsAreDeliveredWhole) {
  for (const std::string& base : FixtureBases()) {
    SCOPED_TRACE(base);
    const std::string path = FixturePath("sqlite3/" + base + ".db");
    auto scanned = ScanFile(path);
    ExpectEveryText(path, DiscoverTexts(*scanned));
  }
}

TEST(Sqlite3SchemaTexts, BrokenOverflowChainSkipsOnlyItsText) {
  TempDir dir;
  const std::string db = dir.File("broken.db");
  std::string cols;
  for (int i = 0; i < 300; ++i) cols += Format(", column_%03d TEXT", i);
  BuildDatabase(db, {"CREATE TABLE t(a" + cols + ")", "CREATE TABLE u(x)", "CREATE TABLE w(y)"}, 1024);
  uint32_t firstOverflow = 0;
  {
    auto scanned = ScanFile(db);
    std::vector<uint8_t> page;
    const PageGeometry g = scanned->parser->Geometry();
    ReadPage(*scanned->session->reader, g, 1, page);
    const ByteView bytes(page.data(), page.size());
    CellPayload cell(*scanned->session->reader, g, bytes, bytes.BE16(108));
    ASSERT_TRUE(cell.overflows());
    firstOverflow = cell.firstOverflowPage();
  }
  PatchFile(db, (firstOverflow - 1) * 1024ull, std::string(4, '\0'));  // the chain ends after one page
  auto scanned = ScanFile(db);
  const auto texts = DiscoverTexts(*scanned);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].text, "CREATE TABLE u(x)");
  EXPECT_EQ(texts[1].text, "CREATE TABLE w(y)");
  EXPECT_TRUE(scanned->observer.Messages().empty() ||
              !scanned->observer.HasMessage("Error in reading"));
}

TEST(Sqlite3SchemaTexts, DamagedRecordsAndChildrenAreSkippedAlone) {
  TempDir dir;
  const std::string db = dir.File("skip.db");
  std::vector<std::string> sql;
  for (int i = 0; i < 150; ++i) sql.push_back(Format("CREATE TABLE t%03d(id INTEGER PRIMARY KEY, a TEXT)", i));
  BuildDatabase(db, sql, 1024);
  {
    SCOPED_TRACE("texts without a statement: one box, one log line each");
    const std::string copy = dir.File("nokey.db");
    std::string bytes = ReadFile(db);
    for (const char* name : {"CREATE TABLE t010", "CREATE TABLE t020"}) bytes[bytes.find(name)] = 'X';
    WriteFile(copy, bytes);
    auto scanned = ScanFile(copy);
    const size_t before = scanned->observer.Messages().size();
    const size_t logBefore = scanned->observer.Log().size();
    EXPECT_EQ(DiscoverTexts(*scanned, "CREATE").size(), 150u);
    const auto messages = scanned->observer.Messages();
    ASSERT_EQ(messages.size(), before + 1);
    EXPECT_EQ(messages.back().text, "Endian descriptor is corrupted or file is corrupted");
    const auto all = scanned->observer.Log();
    const std::vector<std::string> log(all.begin() + static_cast<long>(logBefore), all.end());
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& l) { return l.find("holds no CREATE statement") != std::string::npos; }),
              2);
  }
  {
    SCOPED_TRACE("a left child of page 1 outside the file");
    const std::string copy = dir.File("child.db");
    WriteFile(copy, ReadFile(db));
    auto scanned = ScanFile(copy);
    std::vector<uint8_t> page;
    ReadPage(*scanned->session->reader, scanned->parser->Geometry(), 1, page);
    const ByteView bytes(page.data(), page.size());
    const uint16_t cell = bytes.BE16(112);
    const uint32_t child = bytes.BE32(cell);
    const size_t lost = scanned->parser->pageHeaders[child - 1].cellCount;
    PatchFile(copy, cell, std::string("\x00\x00\xff\xff", 4));
    auto damaged = ScanFile(copy);
    EXPECT_EQ(damaged->session->lastScan, ScanOutcome::Completed);
    EXPECT_EQ(DiscoverTexts(*damaged).size(), 150u - lost);
    EXPECT_TRUE(damaged->observer.HasLog("Schema page 65535 lies outside the file; it is skipped"));
  }
}

// ---- header phase ----

struct HeaderCase {
  const char* name;
  std::function<void(const std::string& db)> damage;
  std::function<void(FileSelection&)> choose;
  const char* box;
  const char* caption;
};

TEST(Sqlite3Header, RefusedFilesEndTheScanWithTheirBox) {
  auto sqlite3Selection = [](uint64_t pageSize) {
    return [pageSize](FileSelection& s) {
      s.formatVersion = 2;
      s.startOffset = 0;
      s.pageSize = pageSize;
      s.utf8 = true;
    };
  };
  const HeaderCase cases[] = {
      {"page size not a multiple of 512", nullptr, sqlite3Selection(1000), "The Database page_size is invalid",
       "File_Page_Size_Error"},
      {"page size above 65536", nullptr, sqlite3Selection(131072), "The Database page_size is invalid",
       "File_Page_Size_Error"},
      {"most pages of no known type",
       [](const std::string& db) {
         for (int p = 1; p < 4; ++p) PatchFile(db, p * 4096ull, "\x07");
       },
       nullptr, "Error in page size or in file", kAppTitle},
  };
  for (const HeaderCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string db = dir.File("h.db");
    BuildDatabase(db, {"CREATE TABLE a(x)", "CREATE TABLE b(x)", "CREATE TABLE c(x)"}, 4096);
    if (c.damage) c.damage(db);
    auto scanned = ScanFile(db, c.choose);
    ASSERT_NE(scanned->parser, nullptr);
    const auto messages = scanned->observer.Messages();
    EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [&](const ShownMessage& m) {
      return m.text == c.box && m.caption == c.caption;
    }));
    EXPECT_EQ(scanned->session->lastScan, ScanOutcome::EndedEarly);
    EXPECT_FALSE(scanned->observer.HasMessage("Scanning process for selected file has been completed successfully."));
  }
}

TEST(Sqlite3Header, AcceptedVariations) {
  TempDir dir;
  const std::string db = dir.File("v.db");
  BuildDatabase(db, {"CREATE TABLE a(x)", "CREATE TABLE b(x)", "CREATE TABLE c(x)"}, 1024);
  const uint64_t size = ReadFile(db).size();
  auto asSqlite3 = [](uint64_t pageSize, bool utf16) {
    return [=](FileSelection& s) {
      s.formatVersion = 2;
      s.startOffset = 0;
      s.pageSize = pageSize;
      s.utf8 = !utf16;
      s.utf16 = utf16;
    };
  };
  {
    SCOPED_TRACE("lower-case magic, header claiming 4096-byte pages: the session's 1024 wins");
    const std::string copy = dir.File("lower.db");
    WriteFile(copy, ReadFile(db));
    PatchFile(copy, 0, "sqlite format 3");
    PatchFile(copy, 16, std::string("\x10\x00", 2));
    auto scanned = ScanFile(copy, asSqlite3(1024, false));
    EXPECT_EQ(scanned->session->lastScan, ScanOutcome::Completed);
    EXPECT_EQ(scanned->parser->pageHeaders.size(), size / 1024);
    EXPECT_EQ(DiscoverTexts(*scanned).size(), 3u);
  }
  {
    SCOPED_TRACE("one page of no known type in UTF-8 mode is recorded as no b-tree page");
    const std::string copy = dir.File("one.db");
    WriteFile(copy, ReadFile(db));
    PatchFile(copy, 2 * 1024, "\x07");  // page 3
    auto scanned = ScanFile(copy);
    EXPECT_EQ(scanned->session->lastScan, ScanOutcome::Completed);
    EXPECT_TRUE(scanned->observer.Messages().size() == 1);  // the success box only
    EXPECT_EQ(scanned->parser->pageHeaders[2].type, 0);
    EXPECT_EQ(DiscoverTexts(*scanned).size(), 3u);
  }
  {
    SCOPED_TRACE("a UTF-16 scan stores the page and goes on");
    const std::string copy = dir.File("sixteen.db");
    BuildDatabase(copy, {"CREATE TABLE a(x)", "CREATE TABLE b(x)"}, 1024, "UTF-16le");
    PatchFile(copy, 1024, "\x07");
    auto scanned = ScanFile(copy);
    EXPECT_EQ(scanned->session->lastScan, ScanOutcome::Completed);
    EXPECT_EQ(scanned->parser->pageHeaders.size(), ReadFile(copy).size() / 1024);
  }
}

TEST(Sqlite3Header, PageTableProgressPerThousandPages) {
  TempDir dir;
  const std::string db = dir.File("p.db");
  BuildDatabase(db, {"CREATE TABLE a(x)"}, 512);
  std::string bytes = ReadFile(db);
  bytes.resize(999 * 512, '\0');  // zeroed pages are accepted
  WriteFile(db, bytes);
  auto scanned = ScanFile(db);
  ASSERT_EQ(scanned->parser->pageHeaders.size(), 999u);
  ASSERT_FALSE(scanned->observer.Ranges().empty());
  EXPECT_EQ(scanned->observer.Ranges()[0], 0u);
  ASSERT_FALSE(scanned->observer.Positions().empty());
  EXPECT_EQ(scanned->observer.Positions()[0], 1u);
  EXPECT_TRUE(scanned->observer.HasLog("File page_header is reading"));
  EXPECT_TRUE(scanned->observer.HasLog("Searching File DDL "));
}

TEST(Sqlite3Header, PagesOf65536BytesAreParsed) {
  auto scanned = ScanFile(FixturePath("sqlite3/ps65536_utf8.db"));
  EXPECT_EQ(scanned->session->lastScan, ScanOutcome::Completed);
  EXPECT_EQ(scanned->parser->pageHeaders.size(), 12u);
  EXPECT_FALSE(DiscoverTexts(*scanned).empty());
}

// ---- row counts ----

TEST(Sqlite3Cells, CountRowsOverLeavesAndDamagedChildren) {
  TempDir dir;
  const std::string db = dir.File("c.db");
  BuildDatabase(db,
                {"CREATE TABLE one(x)", "INSERT INTO one VALUES(1),(2),(3)", "CREATE TABLE many(x TEXT)",
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 250) "
                 "INSERT INTO many SELECT printf('%050d', i) FROM n"},
                1024);
  auto roots = QueryRows(db, "SELECT name, rootpage FROM sqlite_master ORDER BY name");
  const int64_t manyRoot = roots[0][1].integer, oneRoot = roots[1][1].integer;
  {
    auto scanned = ScanFile(db);
    auto& p = *scanned->parser;
    p.totalRows = 0;
    EXPECT_EQ(p.CountRows(db, oneRoot), 3u);
    p.totalRows = 0;
    EXPECT_EQ(p.CountRows(db, manyRoot), 250u);
    ASSERT_EQ(p.pageHeaders[manyRoot - 1].type, 5);
  }
  // Point the children of the interior root at itself, at page 0 and at a
  // page number with the top bit set: the walk skips them and ends.
  auto scanned = ScanFile(db);
  const auto& root = scanned->parser->pageHeaders[manyRoot - 1];
  ASSERT_GE(root.cellCount, 3);
  std::vector<uint8_t> page;
  ReadPage(*scanned->session->reader, scanned->parser->Geometry(), manyRoot, page);
  const ByteView bytes(page.data(), page.size());
  const uint64_t at = (manyRoot - 1) * 1024ull;
  uint64_t lost = 0;
  const char* children[] = {"\0\0\0\0", "\x80\0\0\x01", nullptr};
  for (int i = 0; i < 3; ++i) {
    const uint16_t cell = bytes.BE16(12 + 2 * i);
    lost += scanned->parser->pageHeaders[bytes.BE32(cell) - 1].cellCount;
    std::string child = children[i] ? std::string(children[i], 4)
                                    : std::string{0, 0, static_cast<char>(manyRoot >> 8), static_cast<char>(manyRoot)};
    PatchFile(db, at + cell, child);
  }
  auto damaged = ScanFile(db);
  damaged->parser->totalRows = 0;
  // A child one bit away from a page whose rows fit its place may be counted.
  const uint64_t counted = damaged->parser->CountRows(db, manyRoot);
  EXPECT_GE(counted, 250u - lost);
  EXPECT_LT(counted, 250u);
  // Asked for the table itself, the count takes the leaves the walk skips,
  // which the scan found outside the tree.
  ASSERT_GT(lost, 0u);
  ASSERT_EQ(damaged->parser->deep.tables.size(), 1u);
  damaged->parser->totalRows = 0;
  damaged->parser->currentTable = damaged->parser->deep.tables.begin()->first;
  EXPECT_EQ(damaged->parser->CountRows(db, manyRoot), 250u);
  damaged->parser->currentTable = -1;
}

// ---- the scan as the user sees it (tree items) ----

TEST(Sqlite3Scan, TreeHoldsEveryObjectOfASmallSchema) {
  TempDir dir;
  const std::string db = dir.File("tree.db");
  BuildDatabase(db,
                {"CREATE TABLE t1(id INTEGER PRIMARY KEY, name TEXT)", "CREATE TABLE t2(a, b, c, UNIQUE(a))",
                 "CREATE INDEX i1 ON t1(name)", "CREATE INDEX i3 ON t2(a, b, c)",
                 "CREATE VIEW v1 AS SELECT * FROM t1", "CREATE VIEW v2 AS SELECT * FROM t2",
                 "CREATE TRIGGER tr1 AFTER INSERT ON t1 BEGIN DELETE FROM t2; END",
                 "PRAGMA writable_schema=ON",
                 "INSERT INTO sqlite_master VALUES('table','vt','vt',0,'CREATE VIRTUAL TABLE vt USING nothing(x)')"});
  // "%REATE VIEW" stands for a damaged first letter of a view statement.
  std::string bytes = ReadFile(db);
  const size_t v2 = bytes.find("CREATE VIEW v2");
  ASSERT_NE(v2, std::string::npos);
  PatchFile(db, v2, "%");
  auto scanned = ScanFile(db);
  RecoverySession& s = *scanned->session;
  EXPECT_EQ(s.lastScan, ScanOutcome::Completed);
  EXPECT_EQ(scanned->observer.Messages().size(), 1u) << "no box but the success box";
  for (const char* name : {"t1", "t2", "i1", "i3", "v1", "v2", "tr1"})
    EXPECT_NE(FindObject(s, name), kTreeRoot) << name;
  EXPECT_EQ(FindObject(s, "vt"), kTreeRoot);
  EXPECT_EQ(s.tree.Children(s.tablesRoot).size(), 2u);
  EXPECT_EQ(s.tree.Children(s.indexesRoot).size(), 2u) << "one item per index, the autoindex has none";
  // The index over three columns carries its complete entry.
  const int32_t i3 = s.tree.Data(FindObject(s, "i3"));
  ASSERT_GE(i3, 0);
  ASSERT_LT(static_cast<size_t>(i3), scanned->parser->indexStatements.size());
  EXPECT_NE(scanned->parser->indexStatements[i3].find("a, b, c"), std::string::npos);
}

TEST(Sqlite3Scan, EveryFixtureScansAndIntactOnesListTheirObjects) {
  for (const std::string& base : FixtureBases()) {
    const std::string path = FixturePath("sqlite3/" + base + ".db");
    SCOPED_TRACE(base);
    auto scanned = ScanFile(path);
    ASSERT_NE(scanned->parser, nullptr);
    EXPECT_EQ(scanned->session->lastScan, ScanOutcome::Completed);
    const nlohmann::json truth = ReadJson(FixturePath("sqlite3/" + base + ".json"));
    for (const auto& entry : truth["schema"]) {
      if (!entry["sql"].is_string()) continue;
      const std::string name = entry["name"];
      EXPECT_NE(FindObject(*scanned->session, name), kTreeRoot) << entry["type"] << " " << name;
    }
  }
}

TEST(Sqlite3Scan, CommandLineScansEveryFixtureFile) {
  const std::string folder = FixturePath("sqlite3");
  std::vector<std::string> files;
  for (const std::string& base : FixtureBases()) {
    files.push_back(base + ".db");
    for (const char* damage : {"__bitflip_low", "__garbage_leaf", "__truncate_page", "__zero_header"})
      files.push_back(base + damage + ".db");
  }
  for (const std::string& f : files) {
    const CommandResult r = RunCli({"scan", folder + "/" + f});
    EXPECT_TRUE(r.status == 0 || r.status == 1) << f << " ended with " << r.status << "\n" << r.err;
    if (r.status == 0) {
      EXPECT_NE(r.out.find("TABLES"), std::string::npos) << f;
    }
  }
}

}  // namespace
}  // namespace veltrane::test
