#include "output/repaired_database.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "core/text.h"

namespace veltrane {

namespace {

// Result codes after which the file cannot be trusted to take more rows.
bool EndsTheSave(int code) {
  switch (code & 0xff) {
    case SQLITE_NOMEM:
    case SQLITE_IOERR:
    case SQLITE_CORRUPT:
    case SQLITE_FULL:
    case SQLITE_CANTOPEN:
    case SQLITE_READONLY:
    case SQLITE_NOTADB:
    case SQLITE_PERM:
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_PROTOCOL:
      return true;
    default:
      return false;
  }
}

// fsync of a file (or folder); the error text, empty on success.
std::string Flush(const std::string& path, bool folder) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (folder ? O_DIRECTORY : 0));
  if (fd < 0) return std::strerror(errno);
  const int rc = ::fsync(fd);
  const int error = errno;
  ::close(fd);
  return rc == 0 ? std::string() : std::strerror(error);
}

std::string Placeholders(size_t count) {
  std::string s;
  s.reserve(count * 2);
  for (size_t i = 0; i < count; ++i) s += i ? ",?" : "?";
  return s;
}

}  // namespace

// Keeps statements of a hostile schema text inside the repaired database:
// no ATTACH (it creates files elsewhere), no PRAGMA, and no reading of tables
// while a table is created.
int RepairedDatabaseAuthorizer(void* self, int action, const char*, const char*, const char*,
                               const char*) {
  const auto* db = static_cast<const RepairedDatabase*>(self);
  switch (action) {
    case SQLITE_ATTACH:
    case SQLITE_DETACH:
    case SQLITE_PRAGMA:
      return SQLITE_DENY;
    case SQLITE_SELECT:
      return db->creatingTable_ ? SQLITE_DENY : SQLITE_OK;
    default:
      return SQLITE_OK;
  }
}

RepairedDatabase::~RepairedDatabase() { Close(); }

DbResult RepairedDatabase::Failure(int code) {
  return DbResult::Fail(code, db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(code));
}

void RepairedDatabase::NoteFailure(const DbResult& result) {
  if (result.ok) return;
  bool lost = false;
  if (inTransaction_ && db_ != nullptr && sqlite3_get_autocommit(db_) != 0) {
    // The library rolled the whole transaction back: the table's rows are gone.
    inTransaction_ = false;
    tableFailed_ += tableWritten_;
    tableWritten_ = 0;
    lost = true;
  }
  if ((lost || EndsTheSave(result.code)) && !broken_) {
    broken_ = true;
    brokenReason_ = result;
  }
}

DbResult RepairedDatabase::Open(const std::string& path, TextMode mode) {
  Close();
  broken_ = false;
  brokenReason_ = {};
  mode_ = mode;
  int rc;
  if (mode == TextMode::Utf16) {
    const std::u16string wide = Utf8ToUtf16(path);
    rc = sqlite3_open16(wide.c_str(), &db_);
  } else {
    rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  }
  DbResult result;
  if (rc != SQLITE_OK) {
    result = Failure(rc);
  } else if (sqlite3_db_readonly(db_, "main") == 1) {
    result = DbResult::Fail(SQLITE_READONLY, "attempt to write a readonly database");
  }
  if (!result.ok) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
    broken_ = true;
    brokenReason_ = result;
    return result;
  }
  path_ = path;
  sqlite3_exec(db_, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
  sqlite3_set_authorizer(db_, &RepairedDatabaseAuthorizer, this);
  return result;
}

void RepairedDatabase::LimitValueSize(uint64_t bytes) {
  if (db_ == nullptr) return;
  const int limit = bytes >= static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(bytes);
  sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, limit);
}

DbResult RepairedDatabase::Close() {
  if (db_ == nullptr) return DbResult::Ok();
  FinalizeInserts();
  if (inTransaction_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  inTransaction_ = false;
  inTable_ = false;
  const int rc = sqlite3_close_v2(db_);
  DbResult result = rc == SQLITE_OK ? DbResult::Ok() : DbResult::Fail(rc, sqlite3_errstr(rc));
  db_ = nullptr;
  if (result.ok && !path_.empty()) {
    const std::string error = Flush(path_, false);
    if (!error.empty()) result = DbResult::Fail(SQLITE_IOERR, "the repaired database could not be written to the disk: " + error);
    const size_t slash = path_.rfind('/');
    Flush(slash == std::string::npos ? "." : slash == 0 ? "/" : path_.substr(0, slash), true);
  }
  path_.clear();
  return result;
}

DbResult RepairedDatabase::Step(sqlite3_stmt* statement, bool createTable) {
  creatingTable_ = createTable;
  const int rc = sqlite3_step(statement);
  DbResult result = rc == SQLITE_DONE || rc == SQLITE_ROW ? DbResult::Ok() : Failure(rc);
  sqlite3_finalize(statement);
  creatingTable_ = false;
  NoteFailure(result);
  return result;
}

DbResult RepairedDatabase::Run(const std::string& sql, bool createTable) {
  if (db_ == nullptr) return DbResult::Fail(SQLITE_MISUSE, "the repaired database is not open");
  if (broken_) return brokenReason_;
  if (sql.size() > static_cast<size_t>(INT_MAX)) return DbResult::Fail(SQLITE_TOOBIG, "string or blob too big");
  sqlite3_stmt* statement = nullptr;
  creatingTable_ = createTable;
  const int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &statement, nullptr);
  creatingTable_ = false;
  if (rc != SQLITE_OK) {
    DbResult result = Failure(rc);
    sqlite3_finalize(statement);
    NoteFailure(result);
    return result;
  }
  if (statement == nullptr) return DbResult::Ok();  // blanks or comments only
  return Step(statement, createTable);
}

DbResult RepairedDatabase::Run16(const std::u16string& sql, bool createTable) {
  if (db_ == nullptr) return DbResult::Fail(SQLITE_MISUSE, "the repaired database is not open");
  if (broken_) return brokenReason_;
  if (sql.size() > static_cast<size_t>(INT_MAX / 2)) return DbResult::Fail(SQLITE_TOOBIG, "string or blob too big");
  sqlite3_stmt* statement = nullptr;
  creatingTable_ = createTable;
  const int rc = sqlite3_prepare16_v2(db_, sql.data(), static_cast<int>(sql.size() * 2), &statement, nullptr);
  creatingTable_ = false;
  if (rc != SQLITE_OK) {
    DbResult result = Failure(rc);
    sqlite3_finalize(statement);
    NoteFailure(result);
    return result;
  }
  if (statement == nullptr) return DbResult::Ok();
  return Step(statement, createTable);
}

DbResult RepairedDatabase::BeginTable(const std::string& tableName, std::vector<std::string> columnNames) {
  FinalizeInserts();
  tableName_ = tableName;
  columnNames_ = std::move(columnNames);
  tableWritten_ = 0;
  tableFailed_ = 0;
  inTable_ = false;
  if (db_ == nullptr) return DbResult::Fail(SQLITE_MISUSE, "the repaired database is not open");
  if (broken_) return brokenReason_;
  char* error = nullptr;
  const int rc = sqlite3_exec(db_, "BEGIN", nullptr, nullptr, &error);
  if (rc != SQLITE_OK) {
    DbResult result = DbResult::Fail(rc, error != nullptr ? error : sqlite3_errmsg(db_));
    sqlite3_free(error);
    // Without its transaction a table cannot be written as promised.
    broken_ = true;
    brokenReason_ = result;
    return result;
  }
  inTransaction_ = true;
  inTable_ = true;
  return DbResult::Ok();
}

DbResult RepairedDatabase::EndTable() {
  FinalizeInserts();
  inTable_ = false;
  if (db_ == nullptr) return DbResult::Fail(SQLITE_MISUSE, "the repaired database is not open");
  if (!inTransaction_) return broken_ ? brokenReason_ : DbResult::Ok();
  char* error = nullptr;
  const int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, &error);
  if (rc == SQLITE_OK) {
    inTransaction_ = false;
    return DbResult::Ok();
  }
  DbResult result = DbResult::Fail(rc, error != nullptr ? error : sqlite3_errmsg(db_));
  sqlite3_free(error);
  if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  inTransaction_ = false;
  tableFailed_ += tableWritten_;
  tableWritten_ = 0;
  if (!broken_) {
    broken_ = true;
    brokenReason_ = result;
  }
  return result;
}

void RepairedDatabase::FinalizeInserts() {
  for (auto& [key, insert] : inserts_) sqlite3_finalize(insert.statement);
  inserts_.clear();
}

RepairedDatabase::Insert& RepairedDatabase::InsertFor(const RecoveredRow& row) {
  const size_t count = row.values.size();
  // A short record names the columns it has, so the others get their default.
  bool named = count < columnNames_.size();
  for (const RecoveredValue& v : row.values)
    if (v.kind == RecoveredValue::Kind::Missing) named = true;
  std::vector<int> columns;
  if (named) {
    for (size_t i = 0; i < count && named; ++i) {
      if (row.values[i].kind == RecoveredValue::Kind::Missing) continue;
      if (i >= columnNames_.size()) named = false;  // a value past the named columns
      columns.push_back(static_cast<int>(i));
    }
  }
  std::string key;
  if (named) {
    key = "N";
    for (int c : columns) key += std::to_string(c) + ",";
  } else {
    columns.clear();
    for (size_t i = 0; i < count; ++i) columns.push_back(static_cast<int>(i));
    key = "P" + std::to_string(count);
  }
  auto [it, added] = inserts_.try_emplace(key);
  Insert& insert = it->second;
  if (!added) return insert;

  insert.columns = std::move(columns);
  std::string sql = "insert into " + tableName_;
  if (insert.columns.empty()) {
    sql += " default values";
  } else if (named) {
    sql += " (";
    for (size_t j = 0; j < insert.columns.size(); ++j) {
      if (j) sql += ", ";
      sql += columnNames_[static_cast<size_t>(insert.columns[j])];
    }
    sql += ") values(" + Placeholders(insert.columns.size()) + ")";
  } else {
    sql += " values(" + Placeholders(insert.columns.size()) + ")";
  }
  const int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &insert.statement, nullptr);
  if (rc != SQLITE_OK) {
    insert.prepareError = Failure(rc);
    sqlite3_finalize(insert.statement);
    insert.statement = nullptr;
  }
  return insert;
}

void RepairedDatabase::RowFailed(const std::string& message) {
  std::printf("Error message: %s\n", message.c_str());
  std::fflush(stdout);
  if (onRowFailed) onRowFailed(message);
}

bool RepairedDatabase::WriteRow(const RecoveredRow& row) {
  if (!inTable_ || db_ == nullptr) return false;
  if (broken_) {  // already reported; the save is ending
    ++tableFailed_;
    return false;
  }
  Insert& insert = InsertFor(row);
  if (insert.statement == nullptr) {
    ++tableFailed_;
    // One statement serves every row of this shape: report its failure once.
    NoteFailure(insert.prepareError);
    if (!insert.errorReported) RowFailed(insert.prepareError.message);
    insert.errorReported = true;
    return false;
  }
  sqlite3_stmt* st = insert.statement;
  int rc = SQLITE_OK;
  for (size_t j = 0; j < insert.columns.size() && rc == SQLITE_OK; ++j) {
    const RecoveredValue& v = row.values[static_cast<size_t>(insert.columns[j])];
    const int p = static_cast<int>(j) + 1;
    switch (v.kind) {
      case RecoveredValue::Kind::Integer:
        rc = sqlite3_bind_int64(st, p, v.integer);
        break;
      case RecoveredValue::Kind::Real:
        rc = sqlite3_bind_double(st, p, v.real);
        break;
      case RecoveredValue::Kind::Text:
        rc = sqlite3_bind_text64(st, p, v.bytes.data(), v.bytes.size(), SQLITE_STATIC, SQLITE_UTF8);
        break;
      case RecoveredValue::Kind::Blob:
        rc = sqlite3_bind_blob64(st, p, v.bytes.data(), v.bytes.size(), SQLITE_STATIC);
        break;
      case RecoveredValue::Kind::Null:
      case RecoveredValue::Kind::Missing:
        rc = sqlite3_bind_null(st, p);
        break;
    }
  }
  if (rc == SQLITE_OK) rc = sqlite3_step(st);
  const bool written = rc == SQLITE_DONE;
  DbResult failure;
  if (!written) failure = Failure(rc);
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);  // the bound bytes belong to the row
  if (written) {
    ++tableWritten_;
    return true;
  }
  ++tableFailed_;
  NoteFailure(failure);  // first, so that the listener sees a broken database
  RowFailed(failure.message);
  return false;
}

}  // namespace veltrane
