// The shape of a table as SQLite itself reads its CREATE TABLE statement:
// the columns in order, the rowid alias, WITHOUT ROWID and the primary key.
//
// Unlike the descriptor of the DDL analysis, this comes from a real
// tokenizer: quoted identifiers ("a ""b""", [a b], `a`, 'a'), nested
// parentheses, comments and table constraints are understood. The text may
// stop before the closing parenthesis of the column list (the statement kept
// for a table does), or be the whole statement with its table options.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace veltrane {

struct ShapeColumn {
  std::string written;   // the name as written, quotes included
  std::string name;      // the name without its quotes
  std::string type;      // the declared type as written ("" when none), e.g. DECIMAL(10,2)
  // Where the name ends and the declared type stands in the text (typeBegin
  // == typeEnd == nameEnd when there is no type).
  size_t nameEnd = 0;
  size_t typeBegin = 0;
  size_t typeEnd = 0;
};

struct TableShape {
  std::vector<ShapeColumn> columns;
  // The column that is an alias for the rowid, -1 when none: the single
  // primary-key column whose declared type is exactly INTEGER (any case),
  // except a column constraint PRIMARY KEY DESC and any WITHOUT ROWID table.
  int rowidAlias = -1;
  bool withoutRowid = false;
  std::vector<int> primaryKey;  // column positions in key order
};

// The affinity SQLite gives a column of this declared type (the rules in
// order: INT, then CHAR/CLOB/TEXT, then BLOB or no type, then REAL/FLOA/DOUB,
// else NUMERIC).
enum class Affinity { Integer, Text, Blob, Real, Numeric };
Affinity AffinityOf(std::string_view declaredType);

// Never fails: a text that is no CREATE TABLE gives an empty shape, a damaged
// one the columns that could be read.
TableShape AnalyseTableShape(std::string_view createTableText);

}  // namespace veltrane
