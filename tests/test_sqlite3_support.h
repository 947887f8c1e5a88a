// Helpers of the SQLite 3 parser tests: databases built with the SQLite
// library, a scan through a session, byte patches, and a small JSON reader for
// the fixtures' truth files.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <variant>
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

// ---- a small JSON reader (enough for the fixtures' truth files) ----

struct Json {
  enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
  bool boolean = false;
  double number = 0;
  bool isInteger = false;
  int64_t integer = 0;
  std::string string;
  std::vector<Json> array;
  std::vector<std::pair<std::string, Json>> object;

  const Json* Find(const std::string& key) const {
    for (const auto& [k, v] : object)
      if (k == key) return &v;
    return nullptr;
  }
  const Json& operator[](const std::string& key) const {
    static const Json none;
    const Json* j = Find(key);
    return j ? *j : none;
  }
};

class JsonParser {
 public:
  explicit JsonParser(const std::string& text) : s_(text) {}
  Json Parse() {
    Json j = Value();
    return j;
  }

 private:
  void Space() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\r' || s_[i_] == '\t')) ++i_;
  }
  static void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  uint32_t Hex4() {
    uint32_t v = static_cast<uint32_t>(std::strtoul(s_.substr(i_, 4).c_str(), nullptr, 16));
    i_ += 4;
    return v;
  }
  std::string String() {
    std::string out;
    ++i_;  // opening quote
    while (i_ < s_.size() && s_[i_] != '"') {
      char c = s_[i_++];
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      c = s_[i_++];
      switch (c) {
        case 'n': out.push_back('\n'); break;
        case 't': out.push_back('\t'); break;
        case 'r': out.push_back('\r'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'u': {
          uint32_t cp = Hex4();
          if (cp >= 0xD800 && cp < 0xDC00 && s_.compare(i_, 2, "\\u") == 0) {
            i_ += 2;
            const uint32_t low = Hex4();
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          }
          AppendUtf8(out, cp);
          break;
        }
        default: out.push_back(c);
      }
    }
    ++i_;  // closing quote
    return out;
  }
  Json Value() {
    Space();
    Json j;
    if (i_ >= s_.size()) return j;
    const char c = s_[i_];
    if (c == '{') {
      j.kind = Json::Kind::Object;
      ++i_;
      Space();
      while (i_ < s_.size() && s_[i_] != '}') {
        Space();
        std::string key = String();
        Space();
        ++i_;  // ':'
        Json v = Value();
        j.object.emplace_back(std::move(key), std::move(v));
        Space();
        if (s_[i_] == ',') ++i_;
        Space();
      }
      ++i_;
    } else if (c == '[') {
      j.kind = Json::Kind::Array;
      ++i_;
      Space();
      while (i_ < s_.size() && s_[i_] != ']') {
        j.array.push_back(Value());
        Space();
        if (s_[i_] == ',') ++i_;
        Space();
      }
      ++i_;
    } else if (c == '"') {
      j.kind = Json::Kind::String;
      j.string = String();
    } else if (s_.compare(i_, 4, "null") == 0) {
      i_ += 4;
    } else if (s_.compare(i_, 4, "true") == 0) {
      j.kind = Json::Kind::Bool;
      j.boolean = true;
      i_ += 4;
    } else if (s_.compare(i_, 5, "false") == 0) {
      j.kind = Json::Kind::Bool;
      i_ += 5;
    } else {
      j.kind = Json::Kind::Number;
      const size_t start = i_;
      while (i_ < s_.size() && std::string_view("+-0123456789.eE").find(s_[i_]) != std::string_view::npos) ++i_;
      const std::string token = s_.substr(start, i_ - start);
      j.isInteger = token.find_first_of(".eE") == std::string::npos;
      if (j.isInteger) j.integer = std::strtoll(token.c_str(), nullptr, 10);
      j.number = std::strtod(token.c_str(), nullptr);
    }
    return j;
  }

  const std::string& s_;
  size_t i_ = 0;
};

inline Json ReadJson(const std::string& path) {
  const std::string text = ReadFile(path);
  return JsonParser(text).Parse();
}

// The intact bases of the fixture set.
inline std::vector<std::string> FixtureBases() {
  return {"autovacuum_full", "deleted_freelist", "ps1024_utf16le", "ps4096_utf16be", "ps512_utf8",
          "ps65536_utf8",    "schema150",        "wide80",         "without_rowid"};
}

}  // namespace veltrane::test
