// The table shape: columns, rowid alias, WITHOUT ROWID and primary key of a
// CREATE TABLE statement, checked against cases written out and against
// what the SQLite library itself makes of the same statements.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "core/table_shape.h"
#include "core/text.h"

namespace veltrane {
namespace {

using Strings = std::vector<std::string>;

struct ShapeCase {
  const char* what;
  std::string text;
  Strings written;
  Strings names;
  Strings types;
  int rowidAlias;
  bool withoutRowid;
  std::vector<int> primaryKey;
};

TEST(TableShape, StatementsRead) {
  const ShapeCase cases[] = {
      {"INTEGER PRIMARY KEY", "CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT)", {"id", "v"}, {"id", "v"},
       {"INTEGER", "TEXT"}, 0, false, {0}},
      {"any case, constraint name", "create table t(v, id integer constraint pk primary key asc)", {"v", "id"},
       {"v", "id"}, {"", "integer"}, 1, false, {1}},
      {"INTEGER PRIMARY KEY DESC is no alias", "CREATE TABLE t(id INTEGER PRIMARY KEY DESC, v)", {"id", "v"},
       {"id", "v"}, {"INTEGER", ""}, -1, false, {0}},
      {"PRIMARY KEY(id) with id INTEGER", "CREATE TABLE t(id INTEGER, v TEXT, PRIMARY KEY(id))", {"id", "v"},
       {"id", "v"}, {"INTEGER", "TEXT"}, 0, false, {0}},
      {"PRIMARY KEY(id ASC)", "CREATE TABLE t(v, id INTEGER, PRIMARY KEY(id ASC))", {"v", "id"}, {"v", "id"},
       {"", "INTEGER"}, 1, false, {1}},
      {"PRIMARY KEY(id DESC) is still an alias", "CREATE TABLE t(id INTEGER, PRIMARY KEY(\"id\" DESC))", {"id"},
       {"id"}, {"INTEGER"}, 0, false, {0}},
      {"PRIMARY KEY(id) with id INT", "CREATE TABLE t(id INT, v, PRIMARY KEY(id))", {"id", "v"}, {"id", "v"},
       {"INT", ""}, -1, false, {0}},
      {"INTEGER(10) is no alias", "CREATE TABLE t(id INTEGER(10) PRIMARY KEY)", {"id"}, {"id"}, {"INTEGER(10)"},
       -1, false, {0}},
      {"a composite key", "CREATE TABLE t(a INTEGER, b INTEGER, CONSTRAINT k PRIMARY KEY (b, a))", {"a", "b"},
       {"a", "b"}, {"INTEGER", "INTEGER"}, -1, false, {1, 0}},
      {"WITHOUT ROWID", "CREATE TABLE t(id INTEGER PRIMARY KEY, v) WITHOUT ROWID", {"id", "v"}, {"id", "v"},
       {"INTEGER", ""}, -1, true, {0}},
      {"WITHOUT ROWID among other options", "CREATE TABLE t(k TEXT PRIMARY KEY, v INTEGER) STRICT, without rowid",
       {"k", "v"}, {"k", "v"}, {"TEXT", "INTEGER"}, -1, true, {0}},
      {"quoted names with blanks and doubled quotes",
       "CREATE TABLE \"my (table)\"(\"first, name\" TEXT, \"say \"\"hi\"\"\" INTEGER PRIMARY KEY, [order id] REAL, "
       "`tick``s` BLOB, 'single' NUMERIC)",
       {"\"first, name\"", "\"say \"\"hi\"\"\"", "[order id]", "`tick``s`", "'single'"},
       {"first, name", "say \"hi\"", "order id", "tick`s", "single"}, {"TEXT", "INTEGER", "REAL", "BLOB", "NUMERIC"},
       1, false, {1}},
      {"types with parentheses and several words",
       "CREATE TABLE t(a DECIMAL(10,2) NOT NULL DEFAULT 0, b VARCHAR (40) COLLATE nocase, c UNSIGNED BIG INT, "
       "d DOUBLE PRECISION)",
       {"a", "b", "c", "d"}, {"a", "b", "c", "d"}, {"DECIMAL(10,2)", "VARCHAR (40)", "UNSIGNED BIG INT", "DOUBLE PRECISION"},
       -1, false, {}},
      {"CHECK with nested parentheses and table constraints",
       "CREATE TABLE t(a INTEGER CHECK(a > (b + 1)), b INTEGER DEFAULT (1 + 2), UNIQUE (a, b), "
       "CHECK (a <> b), FOREIGN KEY(b) REFERENCES o(x), PRIMARY KEY(a))",
       {"a", "b"}, {"a", "b"}, {"INTEGER", "INTEGER"}, 0, false, {0}},
      {"comments",
       "CREATE TABLE t( -- the key, with a comma\n id INTEGER /* rowid (yes), */ PRIMARY KEY,\n"
       " name TEXT -- trailing ) paren\n)",
       {"id", "name"}, {"id", "name"}, {"INTEGER", "TEXT"}, 0, false, {0}},
      {"the kept statement without its closing parenthesis", "CREATE TABLE t1 (id INTEGER PRIMARY KEY, name TEXT",
       {"id", "name"}, {"id", "name"}, {"INTEGER", "TEXT"}, 0, false, {0}},
      {"columns named like keywords that are not constraints",
       "CREATE TABLE t(unique_code TEXT, checked INTEGER, \"primary\" TEXT, key INTEGER PRIMARY KEY)",
       {"unique_code", "checked", "\"primary\"", "key"}, {"unique_code", "checked", "primary", "key"},
       {"TEXT", "INTEGER", "TEXT", "INTEGER"}, 3, false, {3}},
      {"a generated column", "CREATE TABLE t(a INTEGER, b INTEGER GENERATED ALWAYS AS (a * 2) STORED)", {"a", "b"},
       {"a", "b"}, {"INTEGER", "INTEGER"}, -1, false, {}},
      {"no column list", "CREATE TABLE t AS SELECT 1", {}, {}, {}, -1, false, {}},
      {"an unterminated quote", "CREATE TABLE t(a TEXT, \"b", {"a", "\"b"}, {"a", "b"}, {"TEXT", ""}, -1, false, {}},
      {"an empty text", "", {}, {}, {}, -1, false, {}},
  };
  for (const ShapeCase& c : cases) {
    SCOPED_TRACE(c.what);
    const TableShape shape = AnalyseTableShape(c.text);
    Strings written, names, types;
    for (const ShapeColumn& col : shape.columns) {
      written.push_back(col.written);
      names.push_back(col.name);
      types.push_back(col.type);
    }
    EXPECT_EQ(written, c.written);
    EXPECT_EQ(names, c.names);
    EXPECT_EQ(types, c.types);
    EXPECT_EQ(shape.rowidAlias, c.rowidAlias);
    EXPECT_EQ(shape.withoutRowid, c.withoutRowid);
    EXPECT_EQ(shape.primaryKey, c.primaryKey);
  }
}

// What SQLite makes of a statement: column names and declared types, the
// primary key in key order, and the rowid alias (a rowid table whose primary
// key needed no index of its own).
struct LibraryShape {
  Strings names, types;
  std::vector<int> primaryKey;
  int rowidAlias = -1;
};

LibraryShape AskSqlite(const std::string& ddl) {
  LibraryShape out;
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, ddl.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
  sqlite3_free(error);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT name, type, pk FROM pragma_table_info('t') ORDER BY cid", -1, &st, nullptr);
  std::vector<std::pair<int, int>> keyed;  // (pk order, column)
  while (sqlite3_step(st) == SQLITE_ROW) {
    out.names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    out.types.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
    if (const int pk = sqlite3_column_int(st, 2); pk > 0) keyed.emplace_back(pk, static_cast<int>(out.names.size()) - 1);
  }
  sqlite3_finalize(st);
  std::sort(keyed.begin(), keyed.end());
  for (const auto& [order, column] : keyed) out.primaryKey.push_back(column);

  int keyIndexes = 0, withoutRowid = 0;
  sqlite3_prepare_v2(db, "SELECT count(*) FROM pragma_index_list('t') WHERE origin = 'pk'", -1, &st, nullptr);
  if (sqlite3_step(st) == SQLITE_ROW) keyIndexes = sqlite3_column_int(st, 0);
  sqlite3_finalize(st);
  sqlite3_prepare_v2(db, "SELECT wr FROM pragma_table_list WHERE name = 't'", -1, &st, nullptr);
  if (sqlite3_step(st) == SQLITE_ROW) withoutRowid = sqlite3_column_int(st, 0);
  sqlite3_finalize(st);
  if (out.primaryKey.size() == 1 && keyIndexes == 0 && !withoutRowid) out.rowidAlias = out.primaryKey[0];
  sqlite3_close(db);
  return out;
}

TEST(TableShape, AgreesWithTheSqliteLibrary) {
  const std::string statements[] = {
      "CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT)",
      "CREATE TABLE t(id INTEGER PRIMARY KEY DESC, v)",
      "CREATE TABLE t(id INTEGER PRIMARY KEY ASC, v)",
      "CREATE TABLE t(id INTEGER, v TEXT, PRIMARY KEY(id))",
      "CREATE TABLE t(id INTEGER, v TEXT, PRIMARY KEY(id DESC))",
      "CREATE TABLE t(id INT, v, PRIMARY KEY(id))",
      "CREATE TABLE t(id INTEGER(10) PRIMARY KEY)",
      "CREATE TABLE t(id BIGINT PRIMARY KEY, v)",
      "CREATE TABLE t(a INTEGER, b INTEGER, CONSTRAINT k PRIMARY KEY (b, a))",
      "CREATE TABLE t(id INTEGER PRIMARY KEY, v) WITHOUT ROWID",
      "CREATE TABLE t(x integer constraint c primary key on conflict replace, y)",
      "CREATE TABLE t(\"say \"\"hi\"\"\" INTEGER PRIMARY KEY, [order id] REAL, `tick``s` BLOB)",
      "CREATE TABLE t(a DECIMAL(10,2) NOT NULL DEFAULT 0, b VARCHAR(40), c UNSIGNED BIG INT)",
      "CREATE TABLE t(a INTEGER CHECK(a > (b + 1)), b INTEGER DEFAULT (1 + 2), UNIQUE (a, b), PRIMARY KEY(a))",
      "CREATE TABLE t( -- comment, here\n id INTEGER /* ( */ PRIMARY KEY,\n name TEXT -- )\n)",
      "CREATE TABLE t(unique_code TEXT, checked INTEGER, key INTEGER PRIMARY KEY)",
      "CREATE TABLE t(a, b, c)",
  };
  for (const std::string& ddl : statements) {
    SCOPED_TRACE(ddl);
    const LibraryShape expected = AskSqlite(ddl);
    const TableShape shape = AnalyseTableShape(ddl);
    Strings names, types, expectedTypes;
    for (const ShapeColumn& col : shape.columns) {
      names.push_back(col.name);
      types.push_back(ToUpperAscii(col.type));
    }
    // The library prints standard type names upper-cased; the shape keeps
    // the type as written.
    for (const std::string& type : expected.types) expectedTypes.push_back(ToUpperAscii(type));
    EXPECT_EQ(names, expected.names);
    EXPECT_EQ(types, expectedTypes);
    EXPECT_EQ(shape.primaryKey, expected.primaryKey);
    EXPECT_EQ(shape.rowidAlias, expected.rowidAlias);
  }
}

// Every cut of a statement, and random bytes: the reader ends and never
// reports a key or an alias outside its columns.
TEST(TableShape, CutAndGarbledTexts) {
  const std::string full =
      "CREATE TABLE \"a\"\"b\"([c d] INTEGER /* x */ PRIMARY KEY, `e` DECIMAL(10,2) CHECK(e > (1)), 'f' -- y\n"
      " TEXT, CONSTRAINT k UNIQUE (e), PRIMARY KEY(\"c d\" DESC)) WITHOUT ROWID";
  std::mt19937 random(99);
  for (size_t round = 0; round < full.size() + 2000; ++round) {
    std::string text = full.substr(0, round);
    if (round > full.size()) {
      text = full;
      for (int k = 0; k < 4; ++k) text[random() % text.size()] = static_cast<char>(random() % 256);
    }
    const TableShape shape = AnalyseTableShape(text);
    const int columns = static_cast<int>(shape.columns.size());
    ASSERT_LT(shape.rowidAlias, columns) << text;
    for (int k : shape.primaryKey) ASSERT_TRUE(k >= 0 && k < columns) << text;
    if (shape.rowidAlias >= 0) {
      ASSERT_EQ(shape.primaryKey, std::vector<int>{shape.rowidAlias}) << text;
    }
  }
}

}  // namespace
}  // namespace veltrane
