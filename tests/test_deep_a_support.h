// Helpers of the deep-recovery tests: rows of a database in a comparable
// form, the repaired database written by the command line, and the pages of
// a b-tree as the library reports them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/text.h"
#include "tests/test_sqlite3_support.h"

namespace veltrane::test {

// One row as text, each value tagged with its kind: a REAL that is a whole
// number compares equal to the INTEGER a REAL column stores it as.
inline std::string RowText(const std::vector<SqlValue>& row) {
  std::string text;
  for (const SqlValue& v : row) {
    switch (v.type) {
      case SQLITE_NULL: text += "N|"; break;
      case SQLITE_INTEGER: text += "I" + std::to_string(v.integer) + "|"; break;
      case SQLITE_FLOAT:
        text += v.real == static_cast<double>(static_cast<int64_t>(v.real)) && std::abs(v.real) < 9e18
                    ? "I" + std::to_string(static_cast<int64_t>(v.real)) + "|"
                    : Format("R%.17g|", v.real);
        break;
      case SQLITE_TEXT: text += "T" + v.bytes + "|"; break;
      default: {
        std::string hex;
        for (unsigned char c : v.bytes) hex += Format("%02x", c);
        text += "B" + hex + "|";
      }
    }
  }
  return text;
}

// The rows of a query, as sorted texts.
inline std::vector<std::string> RowTexts(const std::string& path, const std::string& sql) {
  std::vector<std::string> texts;
  for (const auto& row : QueryRows(path, sql)) texts.push_back(RowText(row));
  std::sort(texts.begin(), texts.end());
  return texts;
}

// `veltrane-recover save` of source into out (extra arguments first).
inline CommandResult SaveWithCli(const std::string& source, const std::string& out,
                                 std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {"save"};
  args.insert(args.end(), extra.begin(), extra.end());
  args.insert(args.end(), {source, "-o", out, "--overwrite"});
  return RunCli(args);
}

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A line of the log that starts with head and holds part.
inline bool HasLogLine(const std::vector<std::string>& log, const std::string& head, const std::string& part = "") {
  return std::any_of(log.begin(), log.end(),
                     [&](const std::string& l) { return l.rfind(head, 0) == 0 && Contains(l, part); });
}

}  // namespace veltrane::test
