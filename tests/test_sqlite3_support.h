// Helpers of the SQLite 3 parser tests: databases built with the SQLite
// library, a scan through a session, byte patches and the fixtures' truth files.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/detect.h"
#include "core/session.h"
#include "sqlite3/parser_factory.h"
#include "sqlite3/sqlite_ver3.h"
#include "tests/support.h"

namespace veltrane::test {

// Runs the statements on a new database at path (page size and encoding are
// set first when given).
inline void BuildDatabase(const std::string& path, const std::vector<std::string>& statements, int pageSize = 0,
                          const char* encoding = nullptr) {
  std::remove(path.c_str());
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  auto exec = [&](const std::string& sql) {
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    EXPECT_EQ(rc, SQLITE_OK) << sql << ": " << (error ? error : "");
    sqlite3_free(error);
  };
  exec("PRAGMA synchronous=OFF");
  exec("PRAGMA journal_mode=MEMORY");
  if (pageSize != 0) exec("PRAGMA page_size=" + std::to_string(pageSize));
  if (encoding != nullptr) exec(std::string("PRAGMA encoding='") + encoding + "'");
  for (const std::string& s : statements) exec(s);
  sqlite3_close(db);
}

// One row of a query, values as SQLite reports them.
struct SqlValue {
  int type = SQLITE_NULL;
  int64_t integer = 0;
  double real = 0;
  std::string bytes;
};
inline std::vector<std::vector<SqlValue>> QueryRows(const std::string& path, const std::string& sql) {
  std::vector<std::vector<SqlValue>> rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return rows;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
    while (sqlite3_step(st) == SQLITE_ROW) {
      std::vector<SqlValue> row;
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        SqlValue v;
        v.type = sqlite3_column_type(st, i);
        if (v.type == SQLITE_INTEGER) v.integer = sqlite3_column_int64(st, i);
        if (v.type == SQLITE_FLOAT) v.real = sqlite3_column_double(st, i);
        if (v.type == SQLITE_TEXT || v.type == SQLITE_BLOB) {
          const void* p = v.type == SQLITE_TEXT ? static_cast<const void*>(sqlite3_column_text(st, i))
                                                : sqlite3_column_blob(st, i);
          v.bytes.assign(static_cast<const char*>(p), static_cast<size_t>(sqlite3_column_bytes(st, i)));
        }
        row.push_back(std::move(v));
      }
      rows.push_back(std::move(row));
    }
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rows;
}

// Overwrites bytes of a file.
inline void PatchFile(const std::string& path, uint64_t offset, const std::string& bytes) {
  std::string data = ReadFile(path);
  if (data.size() < offset + bytes.size()) data.resize(offset + bytes.size());
  data.replace(offset, bytes.size(), bytes);
  WriteFile(path, data);
}

// A session that has scanned one file.
struct ScannedFile {
  RecordingObserver observer;
  std::unique_ptr<RecoverySession> session;
  sqlite_ver3* parser = nullptr;
};

// Scans path as the front ends do (detection, then the scan worker); adjust
// may change the file choice before the scan starts.
inline std::unique_ptr<ScannedFile> ScanFile(const std::string& path,
                                             std::function<void(FileSelection&)> adjust = nullptr) {
  auto s = std::make_unique<ScannedFile>();
  s->observer.choose = [&, path](FileSelection& selection) {
    DescribeFile(path, selection, s->observer);
    if (adjust) adjust(selection);
    return true;
  };
  s->session = std::make_unique<RecoverySession>(s->observer, MakeParser);
  s->session->OpenFile();
  s->session->WaitForWorker();
  s->parser = dynamic_cast<sqlite_ver3*>(s->session->parser.get());
  return s;
}

inline nlohmann::json ReadJson(const std::string& path) { return nlohmann::json::parse(ReadFile(path)); }

// The intact bases of the fixture set.
inline std::vector<std::string> FixtureBases() {
  return {"autovacuum_full", "deleted_freelist", "ps1024_utf16le", "ps4096_utf16be", "ps512_utf8",
          "ps65536_utf8",    "schema150",        "wide80",         "without_rowid"};
}

}  // namespace veltrane::test
