// The DDL analysis of SQLite 3 schema texts (UTF-8 and UTF-16 forms) and the
// hand-over of the found objects to the tree.
#include <gtest/gtest.h>

#include <random>

#include "core/text.h"
#include "tests/ddl_bench.h"

namespace veltrane {
namespace {

using test::DdlBench;
using Strings = std::vector<std::string>;

// What one table statement leaves behind; an empty descriptor: no table.
struct TableCase {
  const char* what;
  DdlForm form;
  std::string text;
  DdlResult result;
  std::string descriptor;
  std::string rebuilt;
  Strings types;
  std::string statement;
  Strings log;
};

TEST(DdlTables, StatementsTakenApart) {
  const TableCase cases[] = {
      {"the t1 example", DdlForm::Utf8First, "CREATE TABLE t1 (id INTEGER PRIMARY KEY, name TEXT, price REAL)",
       DdlResult::Done, "t1 +id< P.K >~name~price~#2",
       "create Table [t1] ( [id]  INTEGER, [name]  TEXT, [price] TEXT )", {"INTEGER", "TEXT", "TEXT"},
       "CREATE TABLE t1 (id INTEGER PRIMARY KEY, name TEXT, price REAL", {"Table t1 is found"}},
      {"INTEGER NOT NULL PRIMARY KEY is marked", DdlForm::Utf8First,
       "CREATE TABLE t (id INTEGER NOT NULL PRIMARY KEY, v TEXT)", DdlResult::Done, "t +id< P.K >~v~#2",
       "create Table [t] ( [id]  INTEGER, [v]  TEXT )", {"INTEGER", "TEXT"},
       "CREATE TABLE t (id INTEGER NOT NULL PRIMARY KEY, v TEXT", {"Table t is found"}},
      {"the last column marked too", DdlForm::Utf8First, "create table t(v TEXT, id integer primary key)",
       DdlResult::Done, "t+v~id< P.K >~#2", "create Table [t] ( [v]  TEXT, [id]  INTEGER )", {"TEXT", "INTEGER"},
       "create table t(v TEXT, id integer primary key", {"Table tis found"}},
      {"INT PRIMARY KEY is not marked", DdlForm::Utf8First, "CREATE TABLE t (id INT PRIMARY KEY, v TEXT)",
       DdlResult::Done, "t +id~v~#2", "create Table [t] ( [id] TEXT, [v]  TEXT )", {"TEXT", "TEXT"},
       "CREATE TABLE t (id INT PRIMARY KEY, v TEXT", {"Table t is found"}},
      {"a PRIMARY KEY table constraint is not marked", DdlForm::Utf8First,
       "CREATE TABLE t (id INTEGER, v TEXT, PRIMARY KEY(id))", DdlResult::Done, "t +id~v~#2",
       "create Table [t] ( [id]  INTEGER, [v]  TEXT )", {"INTEGER", "TEXT"},
       "CREATE TABLE t (id INTEGER, v TEXT, PRIMARY KEY(id)", {"Table t is found"}},
      {"table options after the column list", DdlForm::Utf8First,
       "CREATE TABLE kv(k TEXT PRIMARY KEY, v BLOB, n INTEGER) WITHOUT ROWID", DdlResult::Done, "kv+k~v~n~#2",
       "create Table [kv] ( [k]  TEXT, [v]  OLE Object, [n]  INTEGER )", {"TEXT", "OLE Object", "INTEGER"},
       "CREATE TABLE kv(k TEXT PRIMARY KEY, v BLOB, n INTEGER", {"Table kvis found"}},
      {"unique_code ends the column list", DdlForm::Utf8First,
       "CREATE TABLE t (a TEXT, unique_code TEXT, b TEXT)", DdlResult::Done, "t +a~#2",
       "create Table [t] ( [a]  TEXT )", {"TEXT"}, "CREATE TABLE t (a TEXT, unique_code TEXT, b TEXT",
       {"Table t is found"}},
      {"checked ends the column list", DdlForm::Utf8First,
       "CREATE TABLE t (a TEXT, checked INTEGER, c VARCHAR(3))", DdlResult::Done, "t +a~#2",
       "create Table [t] ( [a]  TEXT )", {"TEXT"}, "CREATE TABLE t (a TEXT, checked INTEGER, c VARCHAR(3)",
       {"Table t is found"}},
      {"a UNIQUE table constraint", DdlForm::Utf8First, "CREATE TABLE t (a TEXT, b INTEGER, UNIQUE (a, b)) ",
       DdlResult::Done, "t +a~b~#2", "create Table [t] ( [a]  TEXT, [b]  INTEGER )", {"TEXT", "INTEGER"},
       "CREATE TABLE t (a TEXT, b INTEGER, UNIQUE (a, b)", {"Table t is found"}},
      {"NVARCHAR, BLOB and DATE types", DdlForm::Utf8First, "CREATE TABLE t (a NVARCHAR(40), b BLOB, c DATE)",
       DdlResult::Done, "t +a~b~c~#2", "create Table [t] ( [a] TEXT, [b]  OLE Object, [c]  DATE )",
       {"TEXT", "OLE Object", "DATE"}, "CREATE TABLE t (a NVARCHAR(40), b BLOB, c DATE", {"Table t is found"}},
      {"DECIMAL(10,2) and a CHECK clause", DdlForm::Utf8First,
       "CREATE TABLE t (p DECIMAL(10,2), q INTEGER CHECK(q > (p + 1)), r TEXT)", DdlResult::Done, "t +p~q~r~#2",
       "create Table [t] ( [p] TEXT, [q]  INTEGER, [r]  TEXT )", {"TEXT", "INTEGER", "TEXT"},
       "CREATE TABLE t (p DECIMAL(10,2), q INTEGER CHECK(q > (p + 1)), r TEXT", {"Table t is found"}},
      {"bracketed names with blanks", DdlForm::Utf8First, "CREATE TABLE [my t] ([order id] INTEGER, [x] TEXT)",
       DdlResult::Done, "[my t] +[order id]~[x]~#2", "create Table [myt] ( [orderid]  INTEGER, [x]  TEXT )",
       {"INTEGER", "TEXT"}, "CREATE TABLE [my t] ([order id] INTEGER, [x] TEXT", {"Table [my t] is found"}},
      {"no type falls back to TEXT", DdlForm::Utf8First, "CREATE TABLE t(a, b)", DdlResult::Done, "t+a~b~#2",
       "create Table [t] ( [a] TEXT, [b] TEXT )", {"TEXT", "TEXT"}, "CREATE TABLE t(a, b", {"Table tis found"}},
      {"non-ASCII letters leave the cleaned name", DdlForm::Utf8First, "CREATE TABLE \xC3\xA9t\xC3\xA9(a)",
       DdlResult::Done, "\xC3\xA9t\xC3\xA9+a~#2", "create Table [t] ( [a] TEXT )", {"TEXT"},
       "CREATE TABLE \xC3\xA9t\xC3\xA9(a", {"Table \xC3\xA9t\xC3\xA9is found"}},
      {"only non-ASCII letters stay as they are", DdlForm::Utf8First, "CREATE TABLE \xC3\xA9\xC3\xA9 (a)",
       DdlResult::Done, "\xC3\xA9\xC3\xA9 +a~#2", "create Table [\xC3\xA9\xC3\xA9] ( [a] TEXT )", {"TEXT"},
       "CREATE TABLE \xC3\xA9\xC3\xA9 (a", {"Table \xC3\xA9\xC3\xA9 is found"}},
      {"a cleaned name that is empty", DdlForm::Utf8First, "CREATE TABLE `` (a)", DdlResult::Done, "`` +a~#2",
       "create Table ``  ( [a] TEXT )", {"TEXT"}, "CREATE TABLE `` (a", {"Table `` is found"}},
      {"the second form cuts the name at its blank", DdlForm::Utf8Second, "CREATE TABLE t1 (a INTEGER)",
       DdlResult::Done, "t1+a~#2", "create Table [t1] ( [a]  INTEGER )", {"INTEGER"}, "CREATE TABLE t1 (a INTEGER",
       {"Table t1is found"}},
      {"the first form does not take [check] for a check clause", DdlForm::Utf8First,
       "CREATE TABLE t ([check] TEXT, b VARCHAR(5))", DdlResult::Done, "t +[check]~b~#2",
       "create Table [t] ( [check]  TEXT, [b] TEXT )", {"TEXT", "TEXT"}, "CREATE TABLE t ([check] TEXT, b VARCHAR(5)",
       {"Table t is found"}},
      {"the second form does", DdlForm::Utf8Second, "CREATE TABLE t ([check] TEXT, b VARCHAR(5))",
       DdlResult::Done, "t+[check]~#2", "create Table [t] ( [check]  TEXT )", {"TEXT"},
       "CREATE TABLE t ([check] TEXT, b VARCHAR(5)", {"Table tis found"}},
      {"a table name starting with )", DdlForm::Utf8First, "CREATE TABLE )x(a)", DdlResult::Skipped, "", "", {}, "",
       {}},
      {"a text cut in a column", DdlForm::Utf8First, "CREATE TABLE t (a INTEGER, b TE", DdlResult::RanPastEnd, "",
       "", {}, "", {"Table t is found"}},
      {"a text cut in a table constraint", DdlForm::Utf8First, "CREATE TABLE t (a INTEGER, UNIQUE (a",
       DdlResult::RanPastEnd, "", "", {}, "", {"Table t is found"}},
      {"no ( after the name", DdlForm::Utf8First, "CREATE TABLE t AS SELECT 1", DdlResult::RanPastEnd, "", "", {},
       "", {}},
      {"nothing after the keyword", DdlForm::Utf8First, "CREATE TABLE", DdlResult::RanPastEnd, "", "", {}, "", {}},
  };
  for (const TableCase& c : cases) {
    SCOPED_TRACE(c.what);
    DdlBench b;
    const DdlOutcome out = AnalyseSchemaText(b.model, b.session, c.text, 2, c.form, 7);
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(out.kind, DdlKind::Table);
    EXPECT_EQ(b.obs.Log(), c.log);
    EXPECT_TRUE(b.TableListsAligned());
    if (c.descriptor.empty()) {
      EXPECT_TRUE(b.model.tableDescriptors.empty());
      continue;
    }
    ASSERT_EQ(b.model.tableDescriptors.size(), 1u);
    EXPECT_EQ(b.model.tableDescriptors[0], c.descriptor);
    EXPECT_EQ(b.model.createStatements[0], c.rebuilt);
    EXPECT_EQ(b.model.tableColumnTypes[0], c.types);
    EXPECT_EQ(b.model.tableStatements[0], c.statement);
    EXPECT_TRUE(b.model.currentColumnTypes.empty());
    // The descriptor's copy is kept among the text buffers.
    ASSERT_EQ(b.model.textBuffers.size(), 1u);
    EXPECT_EQ(b.model.textBuffers[0], c.descriptor);
  }
}

TEST(DdlKeywords, KindsCountsAndProgress) {
  struct Case {
    const char* what;
    DdlForm form;
    std::string text;
    DdlResult result;
    DdlKind kind;
    int objects;
  };
  const Case cases[] = {
      {"CREATE TEMP TABLE holds no keyword", DdlForm::Utf8First, "CREATE TEMP TABLE t (a, b)",
       DdlResult::NoKeyword, DdlKind::None, 0},
      {"a virtual table is counted only", DdlForm::Utf8First, "CREATE VIRTUAL TABLE v USING fts4(a, b)",
       DdlResult::Done, DdlKind::Virtual, 1},
      {"an automatic index is counted only", DdlForm::Utf8First,
       std::string("index\0sqlite_autoindex_t_1\0t\0" "3", 30), DdlResult::Done, DdlKind::AutoIndex, 1},
      {"a name holding autoindex does not hide its statement", DdlForm::Utf8First,
       "table my_autoindex my_autoindex 2 CREATE TABLE my_autoindex(a)", DdlResult::Done, DdlKind::Table, 1},
      {"%REATE VIEW", DdlForm::Utf8First, "%REATE VIEW v AS SELECT 1", DdlResult::Done, DdlKind::View, 1},
      {"&REATE TRIGGER after other bytes", DdlForm::Utf8First, "\x01\x02&REATE TRIGGER tr AFTER INSERT ON t BEGIN SELECT 1; END",
       DdlResult::Done, DdlKind::Trigger, 1},
      {"the second form counts nothing", DdlForm::Utf8Second, "CREATE VIEW v AS SELECT 1", DdlResult::Done,
       DdlKind::View, 0},
      {"an empty text is skipped", DdlForm::Utf8First, "", DdlResult::Skipped, DdlKind::None, 0},
      {"a keyword cut by the end", DdlForm::Utf8First, "CREATE TABL", DdlResult::NoKeyword, DdlKind::None, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DdlBench b;
    const DdlOutcome out = AnalyseSchemaText(b.model, b.session, c.text, 5, c.form, 9);
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(out.kind, c.kind);
    EXPECT_EQ(b.session.objectCount, c.objects);
    // The progress position follows every keyword match, counted or not.
    EXPECT_EQ(b.obs.Positions(), out.kind == DdlKind::None ? std::vector<uint32_t>{} : std::vector<uint32_t>{9});
    EXPECT_TRUE(b.obs.Messages().empty());
  }
}

TEST(DdlKeywords, SearchStartsWhereTheCallerSays) {
  DdlBench b;
  const std::string text = "CREATE VIEW a AS SELECT 1; CREATE VIEW b AS SELECT 2";
  EXPECT_EQ(AnalyseSchemaText(b.model, b.session, text, 0, DdlForm::Utf8Second, 1, 5).kind, DdlKind::View);
  ASSERT_EQ(b.model.viewStatements.size(), 1u);
  EXPECT_EQ(b.model.viewStatements[0], "CREATE VIEW b AS SELECT 2");
  EXPECT_EQ(AnalyseSchemaText(b.model, b.session, text, 0, DdlForm::Utf8Second, 1, 999).result,
            DdlResult::NoKeyword);
}

TEST(DdlViewsAndTriggers, CopiesRunToTheEndOfTheText) {
  DdlBench b;
  std::string text = "%REATE VIEW v AS SELECT 1";
  AnalyseSchemaText(b.model, b.session, text, 0, DdlForm::Utf8First, 1);
  text = "xx&REATE TRIGGER tr AFTER INSERT ON t BEGIN SELECT 1; END";
  AnalyseSchemaText(b.model, b.session, text, 0, DdlForm::Utf8First, 2);
  // A whole row body: the copy ends where the zero-terminated text would.
  AnalyseSchemaText(b.model, b.session, std::string("CREATE VIEW w AS SELECT 2\0junk", 30), 0, DdlForm::Utf8First, 3);
  EXPECT_EQ(b.model.viewStatements, (Strings{"%REATE VIEW v AS SELECT 1", "CREATE VIEW w AS SELECT 2"}));
  EXPECT_EQ(b.model.triggerStatements, Strings{"&REATE TRIGGER tr AFTER INSERT ON t BEGIN SELECT 1; END"});
  EXPECT_TRUE(b.obs.Log().empty());
  // The SQLite 3 forms keep no extra copies among the text buffers.
  EXPECT_TRUE(b.model.textBuffers.empty());
}

TEST(DdlIndexes, OneEntryPerColumn) {
  struct Case {
    const char* what;
    DdlForm form;
    std::string text;
    DdlResult result;
    Strings entries;
    Strings log;
  };
  const Case cases[] = {
      {"one column", DdlForm::Utf8First, "CREATE INDEX i ON t(a)", DdlResult::Done, {"CREATE INDEX i ON t(a"},
       {"INDEX i is found"}},
      {"two columns", DdlForm::Utf8First, "CREATE INDEX i ON t(a, b)", DdlResult::Done,
       {"CREATE INDEX i ON t(a", "CREATE INDEX i ON t(a, b"}, {"INDEX i is found"}},
      {"three columns", DdlForm::Utf8First, "CREATE INDEX i3 ON t (a, b, c)", DdlResult::Done,
       {"CREATE INDEX i3 ON t (a", "CREATE INDEX i3 ON t (a, b", "CREATE INDEX i3 ON t (a, b, c"},
       {"INDEX i3 is found"}},
      {"a unique index logs nothing", DdlForm::Utf8First, "CREATE UNIQUE INDEX u ON t(a)", DdlResult::Done,
       {"CREATE UNIQUE INDEX u ON t(a"}, {}},
      {"the second form's log line", DdlForm::Utf8Second, "CREATE INDEX i ON t(a)", DdlResult::Done,
       {"CREATE INDEX i ON t(a"}, {"INDEXi is found"}},
      {"cut after its first column", DdlForm::Utf8First, "CREATE INDEX i ON t(a, b", DdlResult::RanPastEnd,
       {"CREATE INDEX i ON t(a"}, {"INDEX i is found"}},
      {"no blank after the name", DdlForm::Utf8First, "CREATE INDEX i(a)", DdlResult::RanPastEnd, {}, {}},
      {"a name starting with )", DdlForm::Utf8First, "CREATE INDEX )", DdlResult::Skipped, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DdlBench b;
    const DdlOutcome out = AnalyseSchemaText(b.model, b.session, c.text, 4, c.form, 1);
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(b.model.indexStatements, c.entries);
    EXPECT_EQ(b.obs.Log(), c.log);
  }
}

TEST(DdlUtf16, WideFormDifferences) {
  DdlBench b;
  const std::u16string table = u"CREATE TABLE K\u00e4se (id INTEGER PRIMARY KEY, name TEXT, n NVARCHAR(9))";
  EXPECT_EQ(AnalyseSchemaText(b.model, b.session, table, 2, DdlForm::Utf16First, 3).result, DdlResult::Done);
  EXPECT_EQ(AnalyseSchemaText(b.model, b.session, std::u16string(u"CREATE INDEX i ON t(a, b)"), 4,
                              DdlForm::Utf16Second, 4)
                .result,
            DdlResult::Done);
  AnalyseSchemaText(b.model, b.session, std::u16string(u"CREATE VIEW v AS SELECT 1"), 0, DdlForm::Utf16First, 5);
  AnalyseSchemaText(b.model, b.session, std::u16string(u"CREATE TRIGGER tr AFTER INSERT ON t BEGIN SELECT 1; END"), 0,
                    DdlForm::Utf16Second, 6);

  EXPECT_EQ(b.obs.Log(), (Strings{"Table K\xC3\xA4se  is found", "Index i is found"}));
  ASSERT_EQ(b.model.tableDescriptors.size(), 1u);
  EXPECT_EQ(b.model.tableDescriptors[0], "K\xC3\xA4se +id< P.K >~name~n~#2");
  EXPECT_EQ(b.model.createStatements[0], "create Table [Kse] ( [id]  INTEGER , [name]  TEXT , [n] TEXT )");
  EXPECT_EQ(b.model.tableColumnTypes[0], (Strings{"INTEGER", "TEXT", "TEXT"}));
  EXPECT_EQ(b.model.wideTableStatements,
            std::vector<std::u16string>{u"CREATE TABLE K\u00e4se (id INTEGER PRIMARY KEY, name TEXT, n NVARCHAR(9)"});
  EXPECT_EQ(b.model.wideIndexStatements,
            (std::vector<std::u16string>{u"CREATE INDEX i ON t(a", u"CREATE INDEX i ON t(a, b"}));
  EXPECT_EQ(b.model.wideViewStatements, std::vector<std::u16string>{u"CREATE VIEW v AS SELECT 1"});
  EXPECT_EQ(b.model.wideTriggerStatements.size(), 1u);
  // Only the narrow twins stay empty; the descriptor copy is narrow text.
  EXPECT_TRUE(b.model.tableStatements.empty());
  EXPECT_TRUE(b.model.indexStatements.empty());
  EXPECT_TRUE(b.model.viewStatements.empty());
  EXPECT_EQ(b.model.textBuffers, Strings{"K\xC3\xA4se +id< P.K >~name~n~#2"});
  // The first form counts its objects, the second does not.
  EXPECT_EQ(b.session.objectCount, 2);
  EXPECT_EQ(b.obs.Positions(), (std::vector<uint32_t>{3, 4, 5, 6}));
}

TEST(DdlUtf16, CutTextAndMissingParenthesis) {
  DdlBench b;
  EXPECT_EQ(AnalyseSchemaText(b.model, b.session, std::u16string(u"CREATE TABLE t (a INTEGER, b"), 2,
                              DdlForm::Utf16First, 1)
                .result,
            DdlResult::RanPastEnd);
  EXPECT_EQ(AnalyseSchemaText(b.model, b.session, std::u16string(u"CREATE TABLE t"), 2, DdlForm::Utf16First, 1).result,
            DdlResult::RanPastEnd);
  EXPECT_EQ(AnalyseSchemaText(b.model, b.session, std::u16string(), 2, DdlForm::Utf16First, 1).result,
            DdlResult::Skipped);
  EXPECT_TRUE(b.model.tableDescriptors.empty());
  EXPECT_TRUE(b.TableListsAligned());
}

// Every cut of real statements, and random bytes, in every form: the analysis
// ends, never stores half a table, and keeps the table lists aligned.
TEST(DdlRobustness, CutAndGarbledTextsNeverBreakTheModel) {
  const std::string statements[] = {
      "CREATE TABLE t1 (id INTEGER PRIMARY KEY, name TEXT, price DECIMAL(10,2) CHECK(price > (0 + 1)))",
      "CREATE TABLE [a b] ([c d] INTEGER NOT NULL PRIMARY KEY, e CHAR (4), UNIQUE (e), FOREIGN KEY(e) REFERENCES x(y))",
      "CREATE UNIQUE INDEX ux ON t (a, b DESC, c)",
      "CREATE TABLE t(a,,b,(c),))",
      "CREATE TABLE t(check, unique, [x y, z] TEXT, PRIMARY KEY (",
  };
  const DdlForm forms[] = {DdlForm::Utf8First, DdlForm::Utf8Second, DdlForm::Utf16First, DdlForm::Utf16Second};
  for (const std::string& s : statements)
    for (DdlForm form : forms)
      for (size_t n = 0; n <= s.size(); ++n) {
        DdlBench b;
        const std::string cut = s.substr(0, n);
        const bool wide = form == DdlForm::Utf16First || form == DdlForm::Utf16Second;
        const DdlOutcome out = wide ? AnalyseSchemaText(b.model, b.session, Utf8ToUtf16(cut), 2, form, 1)
                                    : AnalyseSchemaText(b.model, b.session, cut, 2, form, 1);
        ASSERT_TRUE(b.TableListsAligned()) << cut;
        if (out.result == DdlResult::RanPastEnd) {
          ASSERT_TRUE(b.model.tableDescriptors.empty()) << cut;
        }
      }
  std::mt19937 random(1234);
  const std::string alphabet = "CREATE TABLE INDEX UNIQUE VIEW TRIGGER check primary key integer ()[],; \t\n\"'`";
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const size_t length = random() % 120;
    for (size_t i = 0; i < length; ++i)
      text.push_back(random() % 4 == 0 ? static_cast<char>(random() % 256) : alphabet[random() % alphabet.size()]);
    if (round % 2 == 0) text = "CREATE TABLE " + text;
    DdlBench b;
    AnalyseSchemaText(b.model, b.session, text, 2, round % 3 == 0 ? DdlForm::Utf8Second : DdlForm::Utf8First, 1);
    AnalyseSqlite2Record(b.model, b.session, text);
    ASSERT_TRUE(b.TableListsAligned()) << text;
  }
}

// ---- hand-over to the tree ----

TEST(DdlHandOver, Utf8OneItemPerLabelWithTheLastPosition) {
  DdlBench b;
  for (const char* text : {"CREATE TABLE t (a TEXT)", "CREATE TABLE other(x)", "CREATE TABLE t (a TEXT, b TEXT)",
                           "CREATE INDEX i3 ON t (a, b, c)", "CREATE INDEX j ON t(x)",
                           "CREATE VIEW myview AS SELECT 1", "CREATE VIEW myview AS SELECT 2",
                           "CREATE TRIGGER  trg AFTER INSERT ON t BEGIN SELECT 1; END"})
    ASSERT_EQ(AnalyseSchemaText(b.model, b.session, std::string(text), 2, DdlForm::Utf8First, 1).result,
              DdlResult::Done);
  b.model.tableStatements.push_back("garbage without the keyword");
  b.model.tableDescriptors.push_back("garbage");

  HandOverToTree(b.model, b.session, false);

  // Items stand in the order of their last positions, first on top.
  EXPECT_EQ(b.Labels(b.session.tablesRoot), (Strings{" other", " t "}));
  EXPECT_EQ(b.Data(b.session.tablesRoot), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(b.session.tableLabels.at(" t "), (std::vector<int32_t>{2, 0}));
  EXPECT_EQ(b.Labels(b.session.indexesRoot), (Strings{" i3 ON t ", " j ON t"}));
  EXPECT_EQ(b.Data(b.session.indexesRoot), (std::vector<int32_t>{2, 3}));
  EXPECT_EQ(b.session.indexLabels.at(" i3 ON t "), (std::vector<int32_t>{2, 1, 0}));
  EXPECT_EQ(b.Labels(b.session.viewsRoot), Strings{" myview"});
  EXPECT_EQ(b.Data(b.session.viewsRoot), std::vector<int32_t>{1});
  EXPECT_EQ(b.Labels(b.session.triggersRoot), Strings{"trg"});
  EXPECT_EQ(b.obs.expanded, (std::vector<TreeItemId>{b.session.tablesRoot, b.session.triggersRoot,
                                                     b.session.indexesRoot, b.session.viewsRoot}));
}

TEST(DdlHandOver, Utf16OneItemPerEntryLaterOnTop) {
  DdlBench b;
  for (const char16_t* text : {u"CREATE TABLE t (a TEXT)", u"CREATE TABLE t (a TEXT, b TEXT)",
                               u"CREATE INDEX i ON t(a, b)", u"CREATE VIEW v AS SELECT 1", u"CREATE VIEW v AS SELECT 2",
                               u"CREATE TRIGGER \u00e9t AFTER INSERT ON t BEGIN SELECT 1; END"})
    ASSERT_EQ(AnalyseSchemaText(b.model, b.session, std::u16string(text), 2, DdlForm::Utf16First, 1).result,
              DdlResult::Done);

  HandOverToTree(b.model, b.session, true);

  EXPECT_EQ(b.Labels(b.session.tablesRoot), (Strings{" t ", " t "}));
  EXPECT_EQ(b.Data(b.session.tablesRoot), (std::vector<int32_t>{1, 0}));
  EXPECT_TRUE(b.session.tableLabels.empty());
  // Indexes are merged by label as in UTF-8 mode.
  EXPECT_EQ(b.Labels(b.session.indexesRoot), Strings{" i ON t"});
  EXPECT_EQ(b.Data(b.session.indexesRoot), std::vector<int32_t>{1});
  EXPECT_EQ(b.session.indexLabels.at(" i ON t"), (std::vector<int32_t>{1, 0}));
  EXPECT_EQ(b.Data(b.session.viewsRoot), (std::vector<int32_t>{1, 0}));
  EXPECT_EQ(b.Labels(b.session.triggersRoot), Strings{"\xC3\xA9t"});
  EXPECT_EQ(b.obs.expanded.size(), 4u);
}

TEST(DdlHandOver, AbsentGroupIsSkipped) {
  DdlBench b;
  AnalyseSchemaText(b.model, b.session, std::string("CREATE TABLE t(a)"), 2, DdlForm::Utf8First, 1);
  AnalyseSchemaText(b.model, b.session, std::string("CREATE VIEW v AS SELECT 1"), 2, DdlForm::Utf8First, 1);
  const size_t before = b.session.tree.ItemCount();
  b.session.tablesRoot = kTreeRoot;
  HandOverToTree(b.model, b.session, false);
  EXPECT_EQ(b.session.tree.ItemCount(), before + 1);
  EXPECT_EQ(b.Labels(b.session.viewsRoot), Strings{" v"});
  EXPECT_EQ(b.obs.expanded.size(), 3u);
}

}  // namespace
}  // namespace veltrane
