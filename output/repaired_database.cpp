#include "output/repaired_database.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "core/table_shape.h"
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

// Longer than any schema statement a real database holds.
constexpr int kMaxStatementLength = 1'000'000;

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
      return SQLITE_DENY;
    case SQLITE_PRAGMA:
      return db->internal_ ? SQLITE_OK : SQLITE_DENY;
    case SQLITE_SELECT:
      return db->creatingTable_ ? SQLITE_DENY : SQLITE_OK;
    default:
      return SQLITE_OK;
  }
}

RepairedDatabase::~RepairedDatabase() {
  Close();
  for (int a = 0; a < 3; ++a) {
    sqlite3_finalize(probeInsert_[a]);
    sqlite3_finalize(probeSelect_[a]);
  }
  if (probe_ != nullptr) sqlite3_close_v2(probe_);
}

DbResult RepairedDatabase::Failure(int code) {
  return DbResult::Fail(code, db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(code));
}

void RepairedDatabase::NoteFailure(const DbResult& result) {
  if (result.ok) return;
  bool lost = false;
  if (inTransaction_ && db_ != nullptr && sqlite3_get_autocommit(db_) != 0) {
    // The library rolled the whole transaction back: the table's rows are gone.
    inTransaction_ = false;
    tableFailed_ += tableWritten_ - kept_.committedBefore;
    tableWritten_ = kept_.committedBefore;
    lost = true;
  }
  if ((lost || EndsTheSave(result.code)) && !broken_) {
    broken_ = true;
    brokenReason_ = result;
  }
}

DbResult RepairedDatabase::Open(const std::string& path, TextMode mode) {
  // The library's memory statistics take a global lock for every allocation;
  // nothing here reads them. (Only possible before the library starts; later
  // calls change nothing.)
  static const bool statisticsOff = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
  (void)statisticsOff;
  Close();
  broken_ = false;
  brokenReason_ = {};
  mode_ = mode;
  path_ = path;
  return Reopen();
}

DbResult RepairedDatabase::Reopen() {
  FinalizeInserts();
  if (db_ != nullptr) sqlite3_close_v2(db_);
  db_ = nullptr;
  int rc;
  if (mode_ == TextMode::Utf16) {
    const std::u16string wide = Utf8ToUtf16(path_);
    rc = sqlite3_open16(wide.c_str(), &db_);
  } else {
    rc = sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
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
  sqlite3_exec(db_, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
  // A schema statement of a damaged file can be any length; the library's
  // parser takes memory many times a statement's length before it refuses
  // one (an index over a million columns), so longer statements fail at once.
  sqlite3_limit(db_, SQLITE_LIMIT_SQL_LENGTH, kMaxStatementLength);
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
  // A table left in its text-keeping variant gets its own statement back.
  if (kept_.switched && !broken_) RestoreKeptTexts();
  kept_ = {};
  if (db_ == nullptr) return DbResult::Ok();
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
  tableNotes_.clear();
  kept_ = {};
  if (keepTexts_) {
    const DbResult prepared = PrepareKeptTexts();
    if (!prepared.ok) {
      if (!broken_) {
        broken_ = true;
        brokenReason_ = prepared;
      }
      return prepared;
    }
  }
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
    if (kept_.switched) return RestoreKeptTexts();
    kept_ = {};
    return DbResult::Ok();
  }
  DbResult result = DbResult::Fail(rc, error != nullptr ? error : sqlite3_errmsg(db_));
  sqlite3_free(error);
  if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  inTransaction_ = false;
  tableFailed_ += tableWritten_ - kept_.committedBefore;
  tableWritten_ = kept_.committedBefore;
  if (!broken_) {
    broken_ = true;
    brokenReason_ = result;
  }
  return result;
}

void RepairedDatabase::FinalizeInserts() {
  for (auto& [key, insert] : inserts_) sqlite3_finalize(insert.statement);
  inserts_.clear();
  positional_ = nullptr;
}

RepairedDatabase::Insert& RepairedDatabase::InsertFor(const RecoveredRow& row) {
  const size_t count = row.values.size();
  // A short record names the columns it has, so the others get their default.
  bool named = count < columnNames_.size();
  for (const RecoveredValue& v : row.values)
    if (v.kind == RecoveredValue::Kind::Missing) named = true;
  // Most rows of a table have all its values: the statement of the last such
  // row serves the next one without a lookup.
  if (!named && positional_ != nullptr && positionalCount_ == count) return *positional_;
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
  if (!named) {
    positional_ = &insert;
    positionalCount_ = count;
  }
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
  if (kept_.active) {
    // What each text of the row is bound as; a text its column would turn
    // into another value needs the variant statement from this row on.
    classified_.assign(row.values.size(), RecoveredValue{});
    bool converts = false;
    for (size_t i = 0; i < row.values.size() && i < kept_.affinity.size(); ++i) {
      if (row.values[i].kind != RecoveredValue::Kind::Text || kept_.affinity[i] == 0) continue;
      if (!ProbeText(kept_.affinity[i], row.values[i].bytes, classified_[i])) {
        kept_.converts[i] = true;
        converts = true;
      }
    }
    if (converts && !kept_.switched) {
      const DbResult switched = SwitchMidTable();
      if (!switched.ok) {
        ++tableFailed_;
        NoteFailure(switched);
        RowFailed(switched.message);
        return false;
      }
    }
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
      case RecoveredValue::Kind::Text: {
        const size_t column = static_cast<size_t>(insert.columns[j]);
        if (kept_.active && column < classified_.size()) {
          const RecoveredValue& number = classified_[column];
          if (number.kind == RecoveredValue::Kind::Integer) {
            rc = sqlite3_bind_int64(st, p, number.integer);
            break;
          }
          if (number.kind == RecoveredValue::Kind::Real) {
            rc = sqlite3_bind_double(st, p, number.real);
            break;
          }
        }
        rc = sqlite3_bind_text64(st, p, v.bytes.data(), v.bytes.size(), SQLITE_STATIC, SQLITE_UTF8);
        break;
      }
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

// ---- texts kept as texts ----

namespace {

std::string QuoteName(const std::string& name) { return "\"" + ReplaceAll(name, "\"", "\"\"") + "\""; }

// The statement with the declared types of the chosen columns replaced.
std::string ReplaceTypes(const std::string& sql, const std::vector<size_t>& begin, const std::vector<size_t>& end,
                         const std::vector<bool>& chosen, bool asComment) {
  std::string out = sql;
  for (size_t c = chosen.size(); c-- > 0;) {
    if (!chosen[c] || begin[c] >= end[c] || end[c] > out.size()) continue;
    const std::string type = out.substr(begin[c], end[c] - begin[c]);
    out.replace(begin[c], end[c] - begin[c], asComment ? "/* " + type + " */" : std::string());
  }
  return out;
}

}  // namespace

bool RepairedDatabase::RunInternal(const std::string& sql, DbResult* failure) {
  internal_ = true;
  char* error = nullptr;
  const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
  internal_ = false;
  if (rc != SQLITE_OK && failure != nullptr) *failure = DbResult::Fail(rc, error != nullptr ? error : sqlite3_errmsg(db_));
  sqlite3_free(error);
  return rc == SQLITE_OK;
}

DbResult RepairedDatabase::SwitchTableSql(int64_t rowid, const std::string& sql) {
  DbResult failure;
  if (!RunInternal("PRAGMA writable_schema=ON", &failure)) return failure;
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db_, "UPDATE sqlite_master SET sql = ?1 WHERE rowid = ?2", -1, &st, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_bind_text64(st, 1, sql.data(), sql.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  if (rc == SQLITE_OK) rc = sqlite3_bind_int64(st, 2, rowid);
  if (rc == SQLITE_OK) rc = sqlite3_step(st) == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(db_);
  DbResult result = rc == SQLITE_OK ? DbResult::Ok() : Failure(rc);
  sqlite3_finalize(st);
  RunInternal("PRAGMA writable_schema=OFF");
  if (!result.ok) return result;
  // The connection reads its schema anew.
  return Reopen();
}

DbResult RepairedDatabase::PrepareKeptTexts() {
  // The table just created is the newest table row of the schema.
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db_, "SELECT rowid, name, sql FROM sqlite_master WHERE type = 'table' ORDER BY rowid DESC LIMIT 1",
                              -1, &st, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(st);
    return Failure(rc);
  }
  KeptTexts kept;
  if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_type(st, 2) == SQLITE_TEXT) {
    kept.rowid = sqlite3_column_int64(st, 0);
    kept.name = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
    kept.sql = reinterpret_cast<const char*>(sqlite3_column_text(st, 2));
  }
  sqlite3_finalize(st);
  const TableShape shape = AnalyseTableShape(kept.sql);
  if (shape.columns.empty() || shape.columns.size() != columnNames_.size() || shape.withoutRowid) return DbResult::Ok();
  bool any = false;
  for (size_t c = 0; c < shape.columns.size(); ++c) {
    int affinity = 0;
    if (static_cast<int>(c) != shape.rowidAlias) {
      switch (AffinityOf(shape.columns[c].type)) {
        case Affinity::Integer: affinity = 1; break;
        case Affinity::Numeric: affinity = 2; break;
        case Affinity::Real: affinity = 3; break;
        default: break;
      }
    }
    any = any || affinity != 0;
    kept.affinity.push_back(affinity);
    kept.typeBegin.push_back(shape.columns[c].typeBegin);
    kept.typeEnd.push_back(shape.columns[c].typeEnd);
  }
  if (!any) return DbResult::Ok();
  kept.converts.assign(shape.columns.size(), false);
  std::vector<bool> numeric;
  for (int a : kept.affinity) numeric.push_back(a != 0);
  const std::string variant = ReplaceTypes(kept.sql, kept.typeBegin, kept.typeEnd, numeric, false);
  kept.variant = variant;
  kept.active = true;
  kept_ = std::move(kept);
  return DbResult::Ok();
}

DbResult RepairedDatabase::SwitchMidTable() {
  DbResult failure;
  if (inTransaction_) {
    if (!RunInternal("COMMIT", &failure)) return failure;
    inTransaction_ = false;
  }
  kept_.committedBefore = tableWritten_;
  kept_.switched = true;
  const DbResult switched = SwitchTableSql(kept_.rowid, kept_.variant);
  if (!switched.ok) return switched;
  if (!RunInternal("BEGIN", &failure)) return failure;
  inTransaction_ = true;
  return DbResult::Ok();
}

DbResult RepairedDatabase::RestoreKeptTexts() {
  if (!kept_.switched) return DbResult::Ok();
  kept_.switched = false;
  kept_.active = false;
  const std::string final = ReplaceTypes(kept_.sql, kept_.typeBegin, kept_.typeEnd, kept_.converts, true);
  const TableShape shape = AnalyseTableShape(kept_.sql);
  for (size_t c = 0; c < kept_.converts.size() && c < shape.columns.size(); ++c)
    if (kept_.converts[c])
      tableNotes_.push_back("Table " + kept_.name + ": column " + shape.columns[c].name +
                            " holds texts that its declared type " + shape.columns[c].type +
                            " would turn into other numbers; the type is kept as a comment so that every text "
                            "stays as it was");
  DbResult result = SwitchTableSql(kept_.rowid, final);
  if (!result.ok) {
    NoteFailure(result);
    return result;
  }
  // The file as the library sees it now.
  sqlite3_stmt* st = nullptr;
  internal_ = true;
  const std::string check = "PRAGMA integrity_check(" + QuoteName(kept_.name) + ")";
  const int rc = sqlite3_prepare_v2(db_, check.c_str(), -1, &st, nullptr);
  internal_ = false;
  if (rc == SQLITE_OK) {
    std::vector<std::string> lines;
    while (sqlite3_step(st) == SQLITE_ROW && lines.size() < 10)
      if (sqlite3_column_text(st, 0) != nullptr) lines.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    if (!(lines.size() == 1 && lines[0] == "ok"))
      for (const std::string& line : lines) tableNotes_.push_back("Error: integrity_check of table " + kept_.name + ": " + line);
  }
  sqlite3_finalize(st);
  return DbResult::Ok();
}

bool RepairedDatabase::ProbeText(int affinity, const std::string& text, RecoveredValue& number) {
  number = RecoveredValue{};
  if (affinity < 1 || affinity > 3) return true;
  const int a = affinity - 1;
  static const char* const kColumns[3] = {"i", "n", "r"};
  if (probe_ == nullptr) {
    if (sqlite3_open_v2(":memory:", &probe_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK ||
        sqlite3_exec(probe_, "CREATE TABLE p(k INTEGER PRIMARY KEY, i INTEGER, n NUMERIC, r REAL)", nullptr, nullptr,
                     nullptr) != SQLITE_OK) {
      sqlite3_close_v2(probe_);
      probe_ = nullptr;
      return true;
    }
  }
  if (probeInsert_[a] == nullptr) {
    const std::string insert = std::string("REPLACE INTO p(k, ") + kColumns[a] + ") VALUES(1, ?1)";
    const std::string select = std::string("SELECT typeof(") + kColumns[a] + "), CAST(" + kColumns[a] + " AS TEXT), " +
                               kColumns[a] + " FROM p WHERE k = 1";
    if (sqlite3_prepare_v2(probe_, insert.c_str(), -1, &probeInsert_[a], nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(probe_, select.c_str(), -1, &probeSelect_[a], nullptr) != SQLITE_OK) {
      sqlite3_finalize(probeInsert_[a]);
      sqlite3_finalize(probeSelect_[a]);
      probeInsert_[a] = probeSelect_[a] = nullptr;
      return true;
    }
  }
  sqlite3_stmt* in = probeInsert_[a];
  sqlite3_stmt* out = probeSelect_[a];
  bool same = true;
  sqlite3_bind_text64(in, 1, text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8);
  if (sqlite3_step(in) == SQLITE_DONE && sqlite3_step(out) == SQLITE_ROW) {
    const int type = sqlite3_column_type(out, 2);
    if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
      const unsigned char* rendered = sqlite3_column_text(out, 1);
      const int n = sqlite3_column_bytes(out, 1);
      if (rendered != nullptr && static_cast<size_t>(n) == text.size() && text.compare(0, text.size(), reinterpret_cast<const char*>(rendered), static_cast<size_t>(n)) == 0) {
        number = type == SQLITE_INTEGER ? RecoveredValue::Int(sqlite3_column_int64(out, 2))
                                        : RecoveredValue::Real(sqlite3_column_double(out, 2));
      } else {
        same = false;
      }
    }
  }
  sqlite3_reset(out);
  sqlite3_reset(in);
  sqlite3_clear_bindings(in);
  return same;
}

}  // namespace veltrane
