// Saves that cannot be written: they say so, never touch the source, and
// claim no success for what is not in the file.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/test_output_support.h"

namespace veltrane::test {
namespace {

using Strings = std::vector<std::string>;

bool HasSuccessLine(const RecordingObserver& observer) {
  for (const std::string& line : observer.Log())
    if (line.find("successfully") != std::string::npos) return true;
  return false;
}

// The boxes of a failed save: exactly one, saying why.
Strings Boxes(const RecordingObserver& observer) {
  Strings texts;
  for (const ShownMessage& m : observer.Messages()) texts.push_back(m.text);
  return texts;
}

TEST(SaveFailure, OutputThatIsTheSourceIsRefused) {
  for (const bool hardLink : {false, true}) {
    SaveFixture f;
    f.AddTable("CREATE TABLE t (a", "t+a~#2", {Row({I(1)})});
    if (hardLink) {
      f.session.outputPathOverride = f.dir.File("link.db");
      ASSERT_EQ(::link(f.source.c_str(), f.session.outputPathOverride.c_str()), 0);
    } else {
      f.session.outputPathOverride = f.source;
    }
    const SaveReport& report = f.Save();
    EXPECT_TRUE(report.failed);
    EXPECT_EQ(ReadFile(f.source), "the damaged source");
    const std::string why = "the output file " + f.session.outputPathOverride +
                            " is the source file itself; the source is never overwritten. Choose another output path.";
    EXPECT_EQ(f.observer.Log().back(), "Error: " + why);
    EXPECT_EQ(Boxes(f.observer), Strings{"The repaired database could not be written: " + why})
        << "neither the question nor a success box";
    EXPECT_FALSE(HasSuccessLine(f.observer));
    EXPECT_TRUE(f.parser->calls.empty());
  }
}

TEST(SaveFailure, UnopenableOutputEndsTheSave) {
  SaveFixture f;
  f.AddTable("CREATE TABLE t (a", "t+a~#2", {Row({I(1)})});
  f.session.outputPathOverride = f.dir.File("no/such/folder/out.db");
  const SaveReport& report = f.Save();
  EXPECT_TRUE(report.failed);
  EXPECT_EQ(f.observer.Log(),
            (Strings{"Creating Database", "Database have total 1 Entries", "Error: unable to open database file"}));
  EXPECT_EQ(Boxes(f.observer), Strings{"The repaired database could not be written: unable to open database file"});
}

TEST(SaveFailure, ExistingOutputThatCannotBeDeleted) {
  SaveFixture f;
  f.AddTable("CREATE TABLE t (a", "t+a~#2", {Row({I(1)})});
  std::filesystem::create_directory(f.Output());  // a folder where the file should go
  WriteFile(f.Output() + "/inside", "x");
  const SaveReport& report = f.Save();
  EXPECT_TRUE(report.failed);
  EXPECT_EQ(f.observer.Log().back().rfind("Error: the existing file " + f.Output() + " could not be deleted: ", 0), 0u)
      << f.observer.Log().back();
  EXPECT_EQ(ReadFile(f.Output() + "/inside"), "x");
}

// Another connection holds a read transaction on the output while the rows of
// the second table go in, so their COMMIT cannot get its lock.
TEST(SaveFailure, FailedCommitEndsTheSaveAndCountsNothingOfThatTable) {
  SaveFixture f;
  f.AddTable("CREATE TABLE t1 (a", "t1+a~#2", {Row({I(1)}), Row({I(2)})});
  f.AddTable("CREATE TABLE t2 (a", "t2+a~#3", {Row({I(3)}), Row({I(4)})});
  f.AddTable("CREATE TABLE t3 (a", "t3+a~#4", {Row({I(5)})});
  f.AddObject(-4, "CREATE VIEW v AS SELECT 1");
  sqlite3* reader = nullptr;
  f.parser->beforeRow = [&](int32_t root, size_t index) {
    if (root != 3 || index != 0) return;
    sqlite3_open_v2(f.Output().c_str(), &reader, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM t1;", nullptr, nullptr, nullptr);
  };
  const SaveReport& report = f.Save();
  sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(reader);

  EXPECT_TRUE(report.failed);
  EXPECT_EQ(report.rowsWritten, 2u);
  EXPECT_EQ(report.rowsFailed, 2u);
  EXPECT_EQ(f.observer.Log(), (Strings{"Creating Database", "Database have total 5 Entries", "Table t1 contain 2 rows",
                                       "Total 2 Rows inserted in table successfully", "Table t2 contain 2 rows",
                                       "Error: database is locked"}));
  EXPECT_EQ(Boxes(f.observer), Strings{"The repaired database could not be written: database is locked"});
  EXPECT_EQ(Query(f.Output(), "PRAGMA integrity_check"), Strings{"'ok'"});
  EXPECT_EQ(Query(f.Output(), "SELECT a FROM t1"), (Strings{"1", "2"}));
  EXPECT_EQ(Query(f.Output(), "SELECT count(*) FROM t2"), Strings{"0"});
}

// A real full disk: a tiny tmpfs (needs the right to mount; skipped without).
// Small rows fill it at COMMIT; rows larger than the page cache fill it while
// they are inserted, and then the library drops the whole transaction.
TEST(SaveFailure, FullDiskEndsTheSave) {
  struct Case {
    const char* size;
    int rows;
    size_t rowBytes;
    bool atInsert;
  };
  for (const Case c : {Case{"size=192k", 8, 60000, false}, Case{"size=1m", 12, 300000, true}}) {
    TempDir mountPoint;
    if (::mount("tmpfs", mountPoint.path().c_str(), "tmpfs", 0, c.size) != 0)
      GTEST_SKIP() << "cannot mount a tmpfs here";
    struct Unmount {
      std::string path;
      ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{mountPoint.path()};

    SaveFixture f;
    std::vector<RecoveredRow> rows;
    for (int i = 0; i < c.rows; ++i) rows.push_back(Row({I(i), B(std::string(c.rowBytes, static_cast<char>('a' + i)))}));
    f.AddTable("CREATE TABLE small (a", "small+a~#2", {Row({I(1)})});
    f.AddTable("CREATE TABLE big (a INTEGER PRIMARY KEY, b", "big+a< P.K >~b~#3", rows);
    f.AddTable("CREATE TABLE later (a", "later+a~#4", {Row({I(1)})});
    f.session.outputPathOverride = mountPoint.File("out.db");
    testing::internal::CaptureStdout();
    const SaveReport& report = f.Save();
    const std::string out = testing::internal::GetCapturedStdout();

    EXPECT_TRUE(report.failed) << c.size;
    const Strings log = f.observer.Log();
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ(Strings(log.begin(), log.begin() + 5),
              (Strings{"Creating Database", "Database have total " + std::to_string(2 + c.rows) + " Entries", "Table small contain 1 rows",
                       "Total 1 Rows inserted in table successfully", "Table big contain " + std::to_string(c.rows) + " rows"}))
        << c.size;
    if (c.atInsert) {
      // The failed row is reported, the walk ends there, the save ends.
      EXPECT_EQ(Strings(log.begin() + 5, log.end()),
                (Strings{"database or disk is full", "Error: database or disk is full"}));
      ASSERT_FALSE(f.parser->writeResults.empty());
      EXPECT_FALSE(f.parser->writeResults.back());
      EXPECT_LT(f.parser->writeResults.size(), static_cast<size_t>(1 + c.rows));
      EXPECT_EQ(out, "Error message: database or disk is full\n");
    } else {
      EXPECT_EQ(Strings(log.begin() + 5, log.end()), Strings{"Error: database or disk is full"});
    }
    EXPECT_EQ(report.rowsWritten, 1u);
    EXPECT_EQ(report.rowsFailed + report.rowsWritten, f.parser->writeResults.size());
    EXPECT_EQ(Boxes(f.observer), Strings{"The repaired database could not be written: database or disk is full"});
    EXPECT_FALSE(f.session.stopRequested);
  }
}

TEST(SaveFailure, RejectedCreateSkipsThatTableOnly) {
  for (const bool wide : {false, true}) {
    SaveFixture f;
    if (wide) {
      f.parser->utf8Mode = false;
      f.parser->utf16Mode = true;
      f.AddWideTable(u"CREATE TABLE bad (a,, b", "bad+a~b~#2", {Row({I(1), I(2)})});
      f.AddWideTable(u"CREATE TABLE good (a", "good+a~#3", {Row({I(3)})});
    } else {
      f.AddTable("CREATE TABLE bad (a,, b", "bad+a~b~#2", {Row({I(1), I(2)})});
      f.AddTable("CREATE TABLE good (a", "good+a~#3", {Row({I(3)})});
    }
    const SaveReport& report = f.Save();
    EXPECT_FALSE(report.failed);
    const Strings log = f.observer.Log();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[2], "Error: near \",\": syntax error") << (wide ? "UTF-16" : "UTF-8");
    EXPECT_EQ(log[3], "Table good contain 1 rows");
    ASSERT_EQ(f.parser->calls.size(), 1u);
    EXPECT_EQ(f.parser->calls[0].name, "good");
    EXPECT_EQ(Query(f.Output(), "SELECT a FROM good"), Strings{"3"});
  }
}

// Recovered texts come from a damaged, possibly hostile file: only one
// CREATE statement runs per text, and it cannot reach outside the file or
// run queries.
TEST(SaveFailure, HostileTextsStayInsideTheRepairedFile) {
  SaveFixture f;
  const std::string elsewhere = f.dir.File("elsewhere.db");
  f.AddTable("CREATE TABLE t (a", "t+a~#2", {Row({I(1)})});
  f.AddTable("CREATE TABLE loop AS SELECT * FROM (WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) "
             "SELECT x FROM c",
             "loop+x~#3");
  f.AddObject(-4, "%REATE VIEW v AS SELECT 1; ATTACH '" + elsewhere + "' AS e; CREATE TABLE e.x(a);");
  f.AddObject(-3, "DROP TABLE t; CREATE INDEX i ON t(a");
  f.Save();
  EXPECT_FALSE(std::filesystem::exists(elsewhere));
  EXPECT_EQ(Query(f.Output(), "SELECT name FROM sqlite_master ORDER BY rowid"), (Strings{"'t'", "'v'"}));
  EXPECT_EQ(Query(f.Output(), "SELECT a FROM t"), Strings{"1"});
  EXPECT_TRUE(f.observer.HasLog("Error: not authorized"));
  EXPECT_TRUE(f.observer.HasLog(
      "Error: the statement does not begin with CREATE and was not run: DROP TABLE t; CREATE INDEX i ON t(a);"));
}

}  // namespace
}  // namespace veltrane::test
