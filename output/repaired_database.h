// The repaired database: the one place that talks to the SQLite library.
//
// A save holds one connection from its first object to its last. Schema
// statements run one at a time in autocommit; the rows of one table go in
// through prepared statements with bound values inside one transaction
// (BEGIN at the table's start, COMMIT at its end). A row that the library
// rejects fails alone: SQLite undoes only that statement, the transaction and
// the rows before it stay. Failures that the file cannot recover from (disk
// full, I/O errors, a transaction the library rolled back) break the
// database: every later call fails at once, and the save ends.
//
// Texts kept as texts (SetKeepTexts, for sources that store every value as
// text): a column whose declared type has a numeric affinity would turn
// "2.5e10" into 25000000000.0 and "007" into 7. A text is bound as a number
// when it is exactly what the column's own affinity makes of it and renders
// back ("42", "3.25"), else as the text. The first row with a text that its
// column would convert commits the rows so far and switches the table's sql
// in sqlite_master to a variant without the numeric types (writable_schema,
// then the connection is reopened), so that every value is stored as bound;
// the rows go on in a second transaction. After the last row the statement
// comes back, except that a column that holds such a text (which
// integrity_check would report) keeps its declared type in a comment.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/parser.h"

struct sqlite3;
struct sqlite3_stmt;

namespace veltrane {

enum class TextMode : uint8_t { Utf8, Utf16 };

// Outcome of one call into the library.
struct DbResult {
  bool ok = true;
  int code = 0;         // the library's result code (0 = SQLITE_OK)
  std::string message;  // the library's message (or ours) when !ok

  static DbResult Ok() { return {}; }
  static DbResult Fail(int code, std::string message) { return {false, code, std::move(message)}; }
};

// The repaired SQLite 3 database of one save, and the row sink of the table
// being written.
class RepairedDatabase : public RowSink {
 public:
  RepairedDatabase() = default;
  ~RepairedDatabase() override;  // rolls back an unfinished table and closes
  RepairedDatabase(const RepairedDatabase&) = delete;
  RepairedDatabase& operator=(const RepairedDatabase&) = delete;

  // Opens or creates the file read-write. Utf16 opens it through the UTF-16
  // entry point, so that a new file stores its text as UTF-16. The library
  // does not wait for the disk after each transaction (a save of many tables
  // would spend its time there); Close flushes the file once.
  DbResult Open(const std::string& path, TextMode mode);
  bool IsOpen() const { return db_ != nullptr; }
  // Keeps every text value's text exactly (see above), from the next table on.
  void SetKeepTexts(bool keep) { keepTexts_ = keep; }
  // What the last table's writing had to change or check, one line each.
  const std::vector<std::string>& tableNotes() const { return tableNotes_; }
  TextMode mode() const { return mode_; }
  // No text or blob, stored or computed by a statement of the file (a
  // default, a check, a generated column), may be longer than bytes: a
  // recovered value is never longer than the source file, and a hostile
  // schema must not make every row allocate a gigabyte.
  void LimitValueSize(uint64_t bytes);
  // Closes the connection (a table still open is rolled back first) and
  // flushes the file to the disk; a flush that fails is a failure.
  DbResult Close();

  // Runs the first statement of the text (what follows it is ignored, so a
  // damaged text cannot smuggle in a second statement). createTable forbids
  // the statement to read tables (CREATE TABLE ... AS SELECT could run for
  // ever on a hostile text).
  DbResult Run(const std::string& sql, bool createTable = false);
  DbResult Run16(const std::u16string& sql, bool createTable = false);

  // Starts the rows of one table: its name and column names as the insert
  // statements write them, then BEGIN (a BEGIN that fails breaks the database).
  DbResult BeginTable(const std::string& tableName, std::vector<std::string> columnNames);
  // Inserts one row of the current table; false when it was not written.
  bool WriteRow(const RecoveredRow& row) override;
  // COMMIT. When it fails the table's rows are rolled back and counted as
  // failed, and the database is broken.
  DbResult EndTable();

  // Rows of the current (or last) table that are in the file: after EndTable,
  // the committed ones.
  uint64_t tableRowsWritten() const { return tableWritten_; }
  uint64_t tableRowsFailed() const { return tableFailed_; }

  // True once a failure has made the file unable to take more.
  bool broken() const { return broken_; }
  const DbResult& brokenReason() const { return brokenReason_; }

  // Hears every failed row with the library's message (also printed to the
  // standard output as "Error message: %s").
  std::function<void(const std::string& message)> onRowFailed;

 private:
  struct Insert {
    sqlite3_stmt* statement = nullptr;
    DbResult prepareError;     // why it could not be prepared
    bool errorReported = false;
    std::vector<int> columns;  // value positions bound, in order
  };

  DbResult Failure(int code);
  // Marks the database broken when code means the file cannot take more, or
  // when the library ended the table's transaction on its own.
  void NoteFailure(const DbResult& result);
  DbResult Step(sqlite3_stmt* statement, bool createTable);
  Insert& InsertFor(const RecoveredRow& row);
  void FinalizeInserts();
  void RowFailed(const std::string& message);
  // Runs one statement of ours (pragmas allowed); false when it failed.
  bool RunInternal(const std::string& sql, DbResult* failure = nullptr);
  // Closes and opens the connection again (the schema is read anew).
  DbResult Reopen();
  // Writes sql as the statement of the sqlite_master row rowid, and reopens.
  DbResult SwitchTableSql(int64_t rowid, const std::string& sql);
  // Text-keeping preparation of the table just created; fills kept_.
  DbResult PrepareKeptTexts();
  // Commits, switches to the variant statement and begins again.
  DbResult SwitchMidTable();
  // The restore after the table's rows; adds to tableNotes_.
  DbResult RestoreKeptTexts();
  // The value a text becomes under affinity (1 INTEGER, 2 NUMERIC, 3 REAL):
  // sets number when it is a number whose text is exactly text; returns
  // false when the affinity would turn it into a number that reads back as
  // another text.
  bool ProbeText(int affinity, const std::string& text, RecoveredValue& number);

  sqlite3* db_ = nullptr;
  std::string path_;
  TextMode mode_ = TextMode::Utf8;
  bool creatingTable_ = false;  // read by the authorizer
  bool inTable_ = false;
  bool inTransaction_ = false;
  std::string tableName_;
  std::vector<std::string> columnNames_;
  std::map<std::string, Insert> inserts_;  // by the set of columns present
  Insert* positional_ = nullptr;            // the statement for all of positionalCount_ values
  size_t positionalCount_ = 0;
  uint64_t tableWritten_ = 0;
  uint64_t tableFailed_ = 0;
  bool broken_ = false;
  DbResult brokenReason_;
  bool internal_ = false;  // read by the authorizer: our own pragmas pass

  // Text keeping.
  struct KeptTexts {
    bool active = false;
    int64_t rowid = 0;              // of the table's sqlite_master row
    std::string name;               // as sqlite_master has it
    std::string sql;                // as created
    std::vector<int> affinity;      // per column: 0 none, 1 INTEGER, 2 NUMERIC, 3 REAL
    std::vector<size_t> typeBegin, typeEnd;
    std::vector<bool> converts;     // a stored text that its affinity would convert
    std::string variant;            // the statement without the numeric types
    bool switched = false;          // the variant is in place
    uint64_t committedBefore = 0;   // rows committed at the switch
  };
  bool keepTexts_ = false;
  KeptTexts kept_;
  std::vector<RecoveredValue> classified_;  // the numbers the current row's texts are bound as
  std::vector<std::string> tableNotes_;
  sqlite3* probe_ = nullptr;  // in memory: what each affinity makes of a text
  sqlite3_stmt* probeInsert_[3] = {nullptr, nullptr, nullptr};
  sqlite3_stmt* probeSelect_[3] = {nullptr, nullptr, nullptr};

  friend int RepairedDatabaseAuthorizer(void*, int, const char*, const char*, const char*, const char*);
};

}  // namespace veltrane
