// Text forms of recovered rows for the command line: an SQL script, CSV
// (RFC 4180) and JSON. Each writer is a RowSink fed table by table.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "core/parser.h"

namespace veltrane {

// The literal of a value in an SQL statement: NULL, 42, 1.5, 'O''Brien', X'00FF'.
std::string SqlLiteral(const RecoveredValue& value);
// The shortest decimal text that reads back as exactly this double.
std::string ShortestDouble(double value);
// An identifier in double quotes, inner quotes doubled.
std::string QuoteIdentifier(const std::string& name);
std::string HexOf(const std::string& bytes);

// Rows as "INSERT INTO name(columns) VALUES(...);" lines; columns missing
// from a short record are left out of its column list.
class SqlDumpWriter : public RowSink {
 public:
  explicit SqlDumpWriter(FILE* out) : out_(out) {}
  // tableName and columns as they may appear in SQL (as written in the
  // schema); withRowid: the table keeps rowids of its own (no INTEGER PRIMARY
  // KEY), which the rows then carry as _rowid_.
  void BeginTable(const std::string& tableName, const std::vector<std::string>& columns, bool withRowid);
  bool WriteRow(const RecoveredRow& row) override;
  uint64_t rows() const { return rows_; }

 private:
  FILE* out_;
  std::string prefix_;
  std::vector<std::string> columns_;
  bool withRowid_ = false;
  uint64_t rows_ = 0;
};

// One CSV file: a header line of the column names, then one line per row;
// NULL (and a missing column) as an empty field, blobs as hexadecimal. A row
// shorter than the header gets empty fields for the columns it lacks.
class CsvWriter : public RowSink {
 public:
  explicit CsvWriter(FILE* out) : out_(out) {}
  void WriteHeader(const std::vector<std::string>& names);
  bool WriteRow(const RecoveredRow& row) override;
  uint64_t rows() const { return rows_; }

 private:
  void Field(const std::string& text, bool first);
  FILE* out_;
  uint64_t rows_ = 0;
  size_t columns_ = 0;
};

// The rows of one table as JSON array elements: [value, ...] with integers
// and reals as numbers, texts as strings, null, blobs as {"blob": "HEX"} and
// missing columns as {"missing": true}. The caller writes what surrounds them.
class JsonRowsWriter : public RowSink {
 public:
  explicit JsonRowsWriter(FILE* out, size_t columns = 0) : out_(out), columns_(columns) {}
  // A row shorter than columns gets {"missing": true} for the columns it lacks.
  bool WriteRow(const RecoveredRow& row) override;
  uint64_t rows() const { return rows_; }

 private:
  FILE* out_;
  size_t columns_;
  uint64_t rows_ = 0;
};

}  // namespace veltrane
