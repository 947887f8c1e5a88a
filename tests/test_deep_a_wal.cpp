// The write-ahead log beside a database: the pages of its complete
// transactions are recovered, a torn or damaged last frame ends the valid
// part, --no-wal ignores the log, and neither file is changed.
#include <gtest/gtest.h>

#include <cstring>

#include "sqlite3/wal.h"
#include "tests/test_deep_a_support.h"

namespace veltrane::test {
namespace {

void Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << sql << ": " << (error ? error : "");
  sqlite3_free(error);
}

// A database whose first 50 rows are checkpointed into the file and whose
// next two transactions (rows 51-100; rows 101-150 and an update of row 1)
// live only in its WAL: source.db and source.db-wal in dir, copied while the
// writing connection still held them.
struct WalDatabase {
  std::string db, wal;
  uint32_t pageSize = 0;
};
WalDatabase BuildWalDatabase(const TempDir& dir) {
  const std::string live = dir.File("live.db");
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(live.c_str(), &db), SQLITE_OK);
  Exec(db, "PRAGMA page_size=1024");
  Exec(db, "PRAGMA journal_mode=WAL");
  Exec(db, "PRAGMA wal_autocheckpoint=0");
  Exec(db, "CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT)");
  Exec(db, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 50) "
           "INSERT INTO t SELECT i, 'first ' || i FROM n");
  Exec(db, "PRAGMA wal_checkpoint(TRUNCATE)");
  Exec(db, "WITH RECURSIVE n(i) AS (SELECT 51 UNION ALL SELECT i + 1 FROM n WHERE i < 100) "
           "INSERT INTO t SELECT i, 'second ' || i || ' ' || hex(randomblob(40)) FROM n");
  Exec(db, "BEGIN; WITH RECURSIVE n(i) AS (SELECT 101 UNION ALL SELECT i + 1 FROM n WHERE i < 150) "
           "INSERT INTO t SELECT i, 'third ' || i FROM n; UPDATE t SET v = 'changed' WHERE id = 1; COMMIT");
  WalDatabase w;
  w.db = dir.File("source.db");
  w.wal = w.db + "-wal";
  WriteFile(w.db, ReadFile(live));
  WriteFile(w.wal, ReadFile(live + "-wal"));
  w.pageSize = 1024;
  sqlite3_close(db);
  return w;
}

// The rows the three transactions leave: all, or only the first `commits`.
std::vector<std::string> ExpectedRows(const std::string& intactCopy, int commits) {
  std::vector<std::string> rows;
  for (const auto& r : QueryRows(intactCopy, "SELECT * FROM t")) {
    const int64_t id = r[0].integer;
    if (commits == 1 && id > 50) continue;
    if (commits == 2 && id > 100) continue;
    std::vector<SqlValue> row = r;
    if (id == 1 && commits < 3) row[1].bytes = "first 1";
    rows.push_back(RowText(row));
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

// The frames of a log: offset of each frame header, and which end a commit.
struct Frames {
  std::vector<uint64_t> at;
  std::vector<bool> commit;
};
uint32_t Be32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<uint8_t>(s[at + i]);
  return v;
}
void PutBe32(std::string& s, size_t at, uint32_t v) {
  for (int i = 3; i >= 0; --i, v >>= 8) s[at + i] = static_cast<char>(v & 0xff);
}
Frames FramesOf(const std::string& wal, uint32_t pageSize) {
  Frames f;
  for (uint64_t at = 32; at + 24 + pageSize <= wal.size(); at += 24 + pageSize) {
    f.at.push_back(at);
    f.commit.push_back(Be32(wal, at + 4) != 0);
  }
  return f;
}

// The log rewritten with big-endian checksums (magic 0x377f0683).
std::string WithBigEndianChecksums(std::string wal, uint32_t pageSize) {
  uint32_t s[2] = {0, 0};
  auto sum = [&](size_t from, size_t count) {
    for (size_t i = from; i < from + count; i += 8) {
      s[0] += Be32(wal, i) + s[1];
      s[1] += Be32(wal, i + 4) + s[0];
    }
  };
  PutBe32(wal, 0, 0x377f0683);
  sum(0, 24);
  PutBe32(wal, 24, s[0]);
  PutBe32(wal, 28, s[1]);
  for (uint64_t at : FramesOf(wal, pageSize).at) {
    sum(at, 8);
    sum(at + 24, pageSize);
    PutBe32(wal, at + 16, s[0]);
    PutBe32(wal, at + 20, s[1]);
  }
  return wal;
}

TEST(DeepWal, CommittedFramesAreRecoveredAndDamageEndsTheValidPart) {
  TempDir dir;
  const WalDatabase w = BuildWalDatabase(dir);
  const std::string intact = dir.File("intact.db");  // what the library reads with the whole log
  {
    WriteFile(intact, ReadFile(w.db));
    WriteFile(intact + "-wal", ReadFile(w.wal));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(intact.c_str(), &db), SQLITE_OK);
    Exec(db, "PRAGMA wal_checkpoint(TRUNCATE)");
    sqlite3_close(db);
  }
  ASSERT_EQ(QueryRows(intact, "SELECT count(*) FROM t")[0][0].integer, 150);
  const std::string walBytes = ReadFile(w.wal);
  const Frames frames = FramesOf(walBytes, w.pageSize);
  ASSERT_GE(frames.at.size(), 3u);
  ASSERT_TRUE(frames.commit.back());
  size_t lastCommitStart = frames.at.size() - 1;  // first frame of the last transaction
  while (lastCommitStart > 0 && !frames.commit[lastCommitStart - 1]) --lastCommitStart;
  ASSERT_GT(lastCommitStart, 0u);

  struct Case {
    const char* name;
    std::function<std::string(std::string)> wal;  // the log as the case has it
    std::vector<std::string> extra;
    int commits;        // transactions whose rows come back
    const char* log;    // a line of the log holds this
  };
  const Case cases[] = {
      {"the whole log", [](std::string s) { return s; }, {}, 3, "frames of 2 commits applied"},
      {"a partly written last frame",
       [](std::string s) { return s.substr(0, s.size() - 100); }, {}, 2,
       "after the last complete commit and a partly written frame are not used"},
      {"a bad checksum in the last frame",
       [&](std::string s) {
         s[frames.at.back() + 24 + 500] ^= 0x40;
         return s;
       },
       {}, 2, "frames of 1 commits applied"},
      {"a frame of an older generation (salt) starts the last transaction",
       [&](std::string s) {
         s[frames.at[lastCommitStart] + 8] ^= 0x01;
         return s;
       },
       {}, 2, "frames of 1 commits applied"},
      {"big-endian checksums", [&](std::string s) { return WithBigEndianChecksums(s, w.pageSize); }, {}, 3,
       "frames of 2 commits applied"},
      {"--no-wal", [](std::string s) { return s; }, {"--no-wal"}, 1, "is not read: the WAL is switched off"},
      {"a log without a valid header", [](std::string s) { return std::string(32, 'w') + s.substr(32); }, {}, 1,
       "has no valid header; it is not used"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir caseDir;
    const std::string db = caseDir.File("case.db");
    WriteFile(db, ReadFile(w.db));
    WriteFile(db + "-wal", c.wal(walBytes));
    const std::string dbBefore = ReadFile(db), walBefore = ReadFile(db + "-wal");
    const std::string out = caseDir.File("out.db");
    const CommandResult r = SaveWithCli(db, out, c.extra);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "WAL file " + db + "-wal")) << r.out;
    EXPECT_TRUE(Contains(r.out, c.log)) << r.out;
    EXPECT_EQ(RowTexts(out, "SELECT * FROM t"), ExpectedRows(intact, c.commits));
    // Neither file was touched.
    EXPECT_EQ(ReadFile(db), dbBefore);
    EXPECT_EQ(ReadFile(db + "-wal"), walBefore);
  }
}

TEST(DeepWal, TheLogIsReadAsTheFormatSays) {
  TempDir dir;
  const WalDatabase w = BuildWalDatabase(dir);
  const std::string wal = ReadFile(w.wal);
  const Frames frames = FramesOf(wal, w.pageSize);
  const size_t commits = static_cast<size_t>(std::count(frames.commit.begin(), frames.commit.end(), true));
  struct Case {
    const char* name;
    std::string bytes;
    uint32_t pageSize;
    WalCommits::Status status;
    uint64_t frames, commits;
  };
  const Case cases[] = {
      {"whole", wal, 1024, WalCommits::Status::Usable, frames.at.size(), commits},
      {"another page size", wal, 4096, WalCommits::Status::OtherPageSize, 0, 0},
      {"only the header", wal.substr(0, 32), 1024, WalCommits::Status::NoCommit, 0, 0},
      {"shorter than a header", wal.substr(0, 20), 1024, WalCommits::Status::NoHeader, 0, 0},
      {"the first transaction only, less one byte",
       wal.substr(0, static_cast<size_t>(frames.at[static_cast<size_t>(
                                             std::find(frames.commit.begin(), frames.commit.end(), true) -
                                             frames.commit.begin())] +
                                         24 + 1024 - 1)),
       1024, WalCommits::Status::NoCommit, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File("log");
    WriteFile(path, c.bytes);
    auto reader = makeReader(path);
    const WalCommits got = ReadWalCommits(*reader, c.pageSize, 1000);
    EXPECT_EQ(got.status, c.status);
    EXPECT_EQ(got.frames, c.frames);
    EXPECT_EQ(got.commits, c.commits);
  }
  // Page numbers beyond what the database could hold end the valid part.
  const std::string path = dir.File("log");
  WriteFile(path, wal);
  auto reader = makeReader(path);
  EXPECT_EQ(ReadWalCommits(*reader, 1024, 1).commits, 0u);
}

}  // namespace
}  // namespace veltrane::test
