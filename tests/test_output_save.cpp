// The save: what reaches the repaired database, in which order, and what the
// session hears of it.
#include <gtest/gtest.h>

#include <chrono>

#include "core/text.h"
#include "tests/test_output_support.h"

namespace veltrane::test {
namespace {

using Strings = std::vector<std::string>;

TEST(OutputPath, IsRepairedPlusNameNextToTheSource) {
  EXPECT_EQ(MakeOutputPath("shop.db"), "Repaired_shop.db");
  EXPECT_EQ(MakeOutputPath("/data/shop.db"), "/data/Repaired_shop.db");
  EXPECT_EQ(MakeOutputPath("/data/x/"), "/data/x/Repaired_");
}

TEST(Save, WritesEveryValueWithItsType) {
  SaveFixture f;
  f.AddTable("CREATE TABLE t (a INTEGER PRIMARY KEY, b, c", "t+a< P.K >~b~c~#2",
             {Row({I(5), T("a'b"), N()}),
              Row({I(6), B(std::string("\x00\x01\xff", 3)), B("")}),
              Row({I(-9223372036854775807 - 1), R(1.5), T("")}),
              Row({I(8), R(0.1), T("Gr\xc3\xbc\xc3\x9f" "e")})});
  const SaveReport& report = f.Save();
  EXPECT_FALSE(report.failed);
  EXPECT_EQ(report.rowsWritten, 4u);
  EXPECT_EQ(report.outputPath, f.Output());
  EXPECT_EQ(Query(f.Output(), "SELECT a, b, c FROM t ORDER BY a"),
            (Strings{"-9223372036854775808|r1.5|''", "5|'a'b'|NULL", "6|x'0001ff'|x''",
                     "8|r0.10000000000000001|'Gr\xc3\xbc\xc3\x9f" "e'"}));
  EXPECT_EQ(Query(f.Output(), "PRAGMA encoding"), Strings{"'UTF-8'"});
  EXPECT_TRUE(f.observer.HasMessage("The repaired database has been saved as " + f.Output()));
}

TEST(Save, LogsEveryStepInOrderAndReportsProgress) {
  SaveFixture f;
  f.AddTable("CREATE TABLE t1 (a", "t1+a~#2", {Row({I(1)}), Row({I(2)}), Row({I(3)})});
  f.AddTable("CREATE TABLE t2 (x, y", "t2+x~y~#3", {Row({T("p"), T("q")})});
  f.AddObject(-3, "CREATE INDEX i1 ON t1(a");
  f.AddObject(-4, "CREATE VIEW v AS SELECT a FROM t1");
  f.AddObject(-5, "CREATE TRIGGER tr AFTER INSERT ON t1 BEGIN DELETE FROM t2; END");
  f.session.records.AppendRow({RecordCell{"left from a preview", false}});
  f.Save();
  EXPECT_EQ(f.observer.Log(), (Strings{"Creating Database", "Database have total 4 Entries",
                                       "Table t1 contain 3 rows", "Total 3 Rows inserted in table successfully",
                                       "Table t2 contain 1 rows", "Total 1 Rows inserted in table successfully",
                                       "Database Table created successfully",
                                       "Database Index schema created successfully",
                                       "Database views created successfully",
                                       "Database Triggers created successfully"}));
  EXPECT_EQ(f.observer.Ranges(), (std::vector<uint32_t>{4}));
  EXPECT_EQ(f.observer.Positions(), (std::vector<uint32_t>{1, 2, 3}));  // one per schema object
  EXPECT_EQ(f.session.records.RowCount(), 0u);
  EXPECT_EQ(Query(f.Output(), "SELECT type, name FROM sqlite_master ORDER BY rowid"),
            (Strings{"'table'|'t1'", "'table'|'t2'", "'index'|'i1'", "'view'|'v'", "'trigger'|'tr'"}));

  // The writer was in place only while the rows were decoded; the session
  // switched insert mode off afterwards.
  ASSERT_EQ(f.parser->calls.size(), 2u);
  EXPECT_EQ(f.parser->calls[0].currentTable, 0);
  EXPECT_EQ(f.parser->calls[1].currentTable, 1);
  EXPECT_TRUE(f.parser->calls[0].insertMode && f.parser->calls[0].hadSink);
  EXPECT_EQ(f.parser->rowSink, nullptr);
  EXPECT_EQ(f.parser->currentTable, -1);
  EXPECT_FALSE(f.session.insertRowsMode);
}

TEST(Save, DescriptorGivesNameColumnCountKeyMarkAndRoot) {
  SaveFixture f;
  f.AddTable("CREATE TABLE emp (id INTEGER PRIMARY KEY, name", "emp+id< P.K >~name~#5",
             {Row({I(7), T("Ann")})});
  f.Save();
  ASSERT_EQ(f.parser->calls.size(), 1u);
  EXPECT_EQ(f.parser->calls[0].name, "emp");
  EXPECT_EQ(f.parser->calls[0].columnCount, 2);
  EXPECT_EQ(f.parser->calls[0].keyMark, 10);
  EXPECT_EQ(f.parser->calls[0].rootPage, 5);
  EXPECT_EQ(Query(f.Output(), "SELECT id, name FROM emp"), Strings{"7|'Ann'"});
}

TEST(Save, RecoveredTextsAreCompletedAndRepaired) {
  SaveFixture f;
  f.AddTable("CREATE TABLE t (a INTEGER PRIMARY KEY, b", "t+a< P.K >~b~#2");
  f.AddObject(-3, "CREATE UNIQUE INDEX ib ON t(b");
  f.AddObject(-4, "%REATE VIEW v AS SELECT 1");
  f.AddObject(-5, "&REATE TRIGGER tr AFTER INSERT ON t BEGIN SELECT 1; END");
  f.Save();
  // SQLite keeps each statement without its final ";".
  EXPECT_EQ(Query(f.Output(), "SELECT sql FROM sqlite_master ORDER BY rowid"),
            (Strings{"'CREATE TABLE t (a INTEGER PRIMARY KEY, b)'", "'CREATE UNIQUE INDEX ib ON t(b)'",
                     "'CREATE VIEW v AS SELECT 1'", "'CREATE TRIGGER tr AFTER INSERT ON t BEGIN SELECT 1; END'"}));
  // The model keeps the texts as they were found.
  EXPECT_EQ(f.parser->viewStatements[0], "%REATE VIEW v AS SELECT 1");
}

TEST(Save, UncheckedObjectsAreNeitherCreatedNorFilled) {
  SaveFixture f;
  f.AddTable("CREATE TABLE kept (a", "kept+a~#2", {Row({I(1)})});
  f.AddTable("CREATE TABLE skipped (a", "skipped+a~#3", {Row({I(2)})}, false);
  f.AddObject(-4, "CREATE VIEW v AS SELECT 1", false);
  f.Save();
  EXPECT_EQ(Query(f.Output(), "SELECT name FROM sqlite_master"), Strings{"'kept'"});
  ASSERT_EQ(f.parser->calls.size(), 1u);
  EXPECT_EQ(f.parser->calls[0].rootPage, 2);
  EXPECT_EQ(f.observer.Log()[1], "Database have total 1 Entries");
  EXPECT_FALSE(f.observer.HasLog("Table skipped contain 1 rows"));
}

TEST(Save, ShortRecordsLeaveTheMissingColumnsToTheirDefaults) {
  SaveFixture f;
  f.AddTable("CREATE TABLE t (a, b DEFAULT 'dflt', c INTEGER DEFAULT 42", "t+a~b~c~#2",
             {Row({I(1), M(), M()}),  // the record ended after a
              Row({I(2), T("x")}),    // fewer values than columns
              Row({I(3), N(), I(4)}),  // a stored NULL stays NULL
              Row({I(5), M(), I(6)}), Row({I(7), M(), M()})});
  const SaveReport& report = f.Save();
  EXPECT_EQ(report.rowsWritten, 5u);
  EXPECT_EQ(Query(f.Output(), "SELECT a, b, c FROM t ORDER BY a"),
            (Strings{"1|'dflt'|42", "2|'x'|42", "3|NULL|4", "5|'dflt'|6", "7|'dflt'|42"}));
}

TEST(Save, RejectedRowFailsAloneAndIsReported) {
  SaveFixture f;
  f.AddTable("CREATE TABLE t (a INTEGER PRIMARY KEY, b", "t+a< P.K >~b~#2",
             {Row({I(1), T("first")}), Row({I(1), B("dup")}), Row({I(2), T("after")}),
              Row({I(2), T("plain dup")})});
  testing::internal::CaptureStdout();
  const SaveReport& report = f.Save();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(f.parser->writeResults, (std::vector<bool>{true, false, true, false}));
  EXPECT_EQ(Query(f.Output(), "SELECT a, b FROM t ORDER BY a"), (Strings{"1|'first'", "2|'after'"}));
  EXPECT_EQ(report.rowsWritten, 2u);
  EXPECT_EQ(report.rowsFailed, 2u);
  EXPECT_FALSE(report.failed);
  EXPECT_EQ(f.session.entryCount, 2u);
  const Strings log = f.observer.Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "UNIQUE constraint failed: t.a"), 2);
  EXPECT_TRUE(f.observer.HasLog("Total 2 Rows inserted in table successfully"));
  EXPECT_EQ(out, "Error message: UNIQUE constraint failed: t.a\nError message: UNIQUE constraint failed: t.a\n");
}

TEST(Save, MappedTableCarriesTheMappedTypes) {
  SaveFixture f;
  f.AddTable("CREATE TABLE t (id INTEGER PRIMARY KEY, name TEXT", "t+id< P.K >~name~#2", {Row({I(1), T("n")})});
  f.AddTable("CREATE TABLE u (v TEXT", "u+v~#3");
  f.parser->createStatements[0] = "Create Table [t] (id INTEGER , name Memo )";
  f.parser->mappedTables.insert(0);
  f.Save();
  EXPECT_EQ(Query(f.Output(), "SELECT name, type FROM pragma_table_info('t')"),
            (Strings{"'id'|'INTEGER'", "'name'|'Memo'"}));
  EXPECT_EQ(Query(f.Output(), "SELECT type FROM pragma_table_info('u')"), Strings{"'TEXT'"});
  EXPECT_EQ(Query(f.Output(), "SELECT id, name FROM t"), Strings{"1|'n'"});
}

// The writers follow the statement lists the scan filled: with the UTF-16
// flag, and also when no encoding was chosen and the scan followed the header.
TEST(Save, Utf16SourceGivesUtf16Database) {
  for (const bool flagged : {true, false}) {
    SaveFixture f;
    f.parser->utf8Mode = false;
    f.parser->utf16Mode = flagged;
    f.parser->wideTableStatements.push_back(u"CREATE TABLE \u00e9t (a INTEGER PRIMARY KEY, b");
    f.parser->tableDescriptors.push_back("\xc3\xa9t +a< P.K >~b~#2");
    f.parser->createStatements.push_back("");
    f.parser->rowsByRoot[2] = {Row({I(1), T("Gr\xc3\xbc\xc3\x9f" "e")}), Row({I(2), B("\x01\x02")})};
    f.AddItem(f.session.tablesRoot, "\xc3\xa9t", 0, true);
    f.parser->wideViewStatements.push_back(u"%REATE VIEW v AS SELECT b FROM \u00e9t");
    f.AddItem(f.session.viewsRoot, "v", 0, true);
    const SaveReport& report = f.Save();
    EXPECT_FALSE(report.failed);
    EXPECT_EQ(report.rowsWritten, 2u);
    EXPECT_EQ(Query(f.Output(), "PRAGMA encoding"), Strings{"'UTF-16le'"});
    EXPECT_EQ(Query(f.Output(), "SELECT a, b FROM \"\xc3\xa9t\" ORDER BY a"),
              (Strings{"1|'Gr\xc3\xbc\xc3\x9f" "e'", "2|x'0102'"}));
    EXPECT_EQ(Query(f.Output(), "SELECT sql FROM sqlite_master WHERE name = 'v'"),
              Strings{"'CREATE VIEW v AS SELECT b FROM \xc3\xa9t'"});
  }
}

// One connection and one transaction per table: a large table is a matter
// of moments, not of one commit per row.
TEST(Save, ManyRowsGoInQuickly) {
  SaveFixture f;
  std::vector<RecoveredRow> rows;
  for (int i = 0; i < 50000; ++i) rows.push_back(Row({I(i), T("row " + std::to_string(i)), R(i * 0.5)}));
  f.AddTable("CREATE TABLE t (a INTEGER PRIMARY KEY, b, c", "t+a< P.K >~b~c~#2", std::move(rows));
  const auto start = std::chrono::steady_clock::now();
  const SaveReport& report = f.Save();
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(report.rowsWritten, 50000u);
  EXPECT_LT(seconds, 10.0);
  EXPECT_EQ(Query(f.Output(), "SELECT count(*), sum(a), max(b) FROM t"), Strings{"50000|1249975000|'row 9999'"});
}

TEST(Save, ExistingFileIsKeptOnNoAndRebuiltOnYes) {
  SaveFixture f;
  f.AddTable("CREATE TABLE t (a", "t+a~#2", {Row({I(1)}), Row({I(2)})});
  WriteFile(f.Output(), "keep me");
  std::string asked;
  f.observer.answer = [&](const std::string& text) {
    asked = text;
    return MessageResult::No;
  };
  const SaveReport& declined = f.Save();
  EXPECT_TRUE(declined.declined);
  EXPECT_EQ(ReadFile(f.Output()), "keep me");
  EXPECT_TRUE(f.parser->calls.empty());
  EXPECT_EQ(asked, "The Database File " + f.Output() +
                       " Already exist.\n Exisitng file will be Deleted. Do you want to Continue ?");
  const ShownMessage question = f.observer.Messages().back();
  EXPECT_EQ(question.caption, kAppTitle);
  EXPECT_EQ(question.style, MessageStyle::YesNo);
  EXPECT_EQ(f.observer.Log(), (Strings{"Creating Database", "Database have total 2 Entries"}));

  // Yes, twice: each save starts from an empty file.
  f.observer.answer = [](const std::string&) { return MessageResult::Yes; };
  f.Save();
  f.Save();
  EXPECT_FALSE(f.session.lastSave.failed);
  EXPECT_EQ(Query(f.Output(), "SELECT a FROM t ORDER BY a"), (Strings{"1", "2"}));
}

TEST(Save, StopKeepsWrittenRowsAndStillCreatesTheRest) {
  SaveFixture f;
  f.AddTable("CREATE TABLE t1 (a", "t1+a~#2", {Row({I(1)}), Row({I(2)}), Row({I(3)}), Row({I(4)})});
  f.AddTable("CREATE TABLE t2 (a", "t2+a~#3", {Row({I(9)})});
  f.AddObject(-4, "CREATE VIEW v AS SELECT a FROM t1");
  f.parser->stopAfterRows = 2;  // the user's Stop arrives after the second row
  const SaveReport& report = f.Save();
  EXPECT_FALSE(report.failed);
  EXPECT_EQ(Query(f.Output(), "PRAGMA integrity_check"), Strings{"'ok'"});
  EXPECT_EQ(Query(f.Output(), "SELECT a FROM t1"), (Strings{"1", "2"}));
  EXPECT_EQ(Query(f.Output(), "SELECT count(*) FROM t2"), Strings{"0"});
  EXPECT_EQ(Query(f.Output(), "SELECT name FROM sqlite_master WHERE type = 'view'"), Strings{"'v'"});
  EXPECT_TRUE(f.observer.HasLog("Total 2 Rows inserted in table successfully"));
  EXPECT_TRUE(f.observer.HasLog("Total 0 Rows inserted in table successfully"));
  EXPECT_FALSE(f.session.stopRequested);  // the session clears it after the job
}

TEST(Save, Sqlite2SourceAsksFirstThenCounts) {
  SaveFixture f;
  f.parser->format = SourceFormat::Sqlite2;
  f.AddTable("CREATE TABLE a (x", "a+x~#3", {Row({T("1")}), Row({T("2")})});
  f.AddTable("CREATE TABLE b (y", "b+y~#4", {Row({T("3")}), Row({N()})});
  WriteFile(f.Output(), "old");
  size_t logLinesAtQuestion = 0;
  f.observer.answer = [&](const std::string&) {
    logLinesAtQuestion = f.observer.Log().size();
    return MessageResult::Yes;
  };
  f.Save();
  EXPECT_EQ(logLinesAtQuestion, 1u);  // only " Creating Database " before the question
  const ShownMessage question = f.observer.Messages().front();
  EXPECT_EQ(question.text, "The Database File " + f.Output() +
                               " Already exist.\n Existing file will be Deleted. Do you want to Continue ?");
  EXPECT_EQ(question.style, MessageStyle::YesNoQuestion);
  EXPECT_EQ(question.caption, kAppTitle);
  EXPECT_TRUE(f.parser->saveStarted);
  EXPECT_EQ(f.observer.Log(),
            (Strings{" Creating Database ", "Database have total 4 Entries", "Table a contain 2 rows",
                     "Total 2 Rows inserted in table successfully", "Table b contain 2 rows",
                     "Total 2 Rows inserted in table successfully", "Database Table created successfully",
                     "Database Index schema created successfully", "Database views created successfully",
                     "Database Triggers created successfully"}));
  EXPECT_EQ(f.observer.Positions().back(), 4u);
  EXPECT_EQ(f.parser->rowProgress, 1);  // kept across each table's count
  EXPECT_EQ(Query(f.Output(), "SELECT x FROM a UNION ALL SELECT y FROM b"),
            (Strings{"'1'", "'2'", "'3'", "NULL"}));
}

TEST(CountCheckedEntries, SumsCheckedTablesOnly) {
  for (const bool sqlite2 : {false, true}) {
    SaveFixture f;
    f.parser->format = sqlite2 ? SourceFormat::Sqlite2 : SourceFormat::Sqlite3;
    EXPECT_EQ(f.parser->CountEntries(), 0u);
    f.AddTable("CREATE TABLE a (x", "a+x~#2", {Row({I(1)}), Row({I(2)})});
    f.AddTable("CREATE TABLE b (x", "b+x~#3", {Row({I(1)})}, false);
    f.AddTable("CREATE TABLE c (x", "c+x~#4", {Row({I(1)}), Row({I(2)}), Row({I(3)})});
    f.AddItem(f.session.tablesRoot, "stray", 99, true);  // data outside the list
    EXPECT_EQ(f.parser->CountEntries(), 5u) << (sqlite2 ? "SQLite 2" : "SQLite 3");
  }
}

}  // namespace
}  // namespace veltrane::test
