// Helpers of the save tests: a parser whose rows the test chooses, a session
// with the four tree groups, and reading the repaired file back.
#pragma once

#include <sqlite3.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/session.h"
#include "output/save_flow.h"
#include "tests/support.h"

namespace veltrane::test {

// A parser without a file: CountRows and RecoverRows serve rows set per root
// page, and RecoverRows hands them to rowSink in insert mode as a real one does.
class FakeParser : public sqlite_base {
 public:
  struct Call {
    int32_t rootPage;
    int columnCount;
    std::string name;
    int keyMark;
    int32_t currentTable;
    bool insertMode;
    bool hadSink;
  };

  SourceFormat format = SourceFormat::Sqlite3;
  std::map<int64_t, std::vector<RecoveredRow>> rowsByRoot;
  std::vector<Call> calls;
  std::vector<bool> writeResults;
  // Sets owner->stopRequested once this many rows were handed over (0: never).
  int stopAfterRows = 0;
  // Called before each row is handed over, with the root page and row index.
  std::function<void(int32_t root, size_t index)> beforeRow;

  bool SaveDatabase(const std::string&) override { return SaveRepairedDatabase(*this, format); }
  uint64_t CountEntries() override { return CountCheckedEntries(*this, format == SourceFormat::Sqlite2); }
  uint64_t CountRows(std::string, uint64_t rootPage) override {
    const auto it = rowsByRoot.find(static_cast<int64_t>(rootPage));
    const uint64_t n = it == rowsByRoot.end() ? 0 : it->second.size();
    if (format == SourceFormat::Sqlite2) {
      rowProgress += static_cast<int64_t>(n);
      return static_cast<uint64_t>(rowProgress);
    }
    totalRows += n;
    return totalRows;
  }
  void RecoverRows(std::string, int32_t rootPage, int columnCount, const std::string& tableName,
                   int keyMark) override {
    calls.push_back({rootPage, columnCount, tableName, keyMark, currentTable, owner->insertRowsMode.load(),
                     rowSink != nullptr});
    if (owner->stopRequested) return;
    const auto it = rowsByRoot.find(rootPage);
    if (it == rowsByRoot.end()) return;
    for (size_t i = 0; i < it->second.size(); ++i) {
      if (owner->stopRequested) return;
      if (beforeRow) beforeRow(rootPage, i);
      if (owner->insertRowsMode) {
        ++owner->entryCount;
        if (rowSink != nullptr) writeResults.push_back(rowSink->WriteRow(it->second[i]));
      }
      if (stopAfterRows > 0 && --stopAfterRows == 0) owner->stopRequested = true;
    }
  }
  std::string CleanIdentifier(const std::string& name) override { return veltrane::CleanIdentifier(name); }
};

inline RecoveredRow Row(std::vector<RecoveredValue> values) {
  RecoveredRow r;
  r.values = std::move(values);
  return r;
}
inline RecoveredValue I(int64_t v) { return RecoveredValue::Int(v); }
inline RecoveredValue R(double v) { return RecoveredValue::Real(v); }
inline RecoveredValue T(std::string v) { return RecoveredValue::Text(std::move(v)); }
inline RecoveredValue B(std::string v) { return RecoveredValue::Blob(std::move(v)); }
inline RecoveredValue N() { return RecoveredValue::Null(); }
inline RecoveredValue M() { return RecoveredValue::Make(RecoveredValue::Kind::Missing); }

// Every row of a query, each value written with its type: 5, r1.5, 'text',
// x'00ff', NULL; values joined by "|".
inline std::vector<std::string> Query(const std::string& path, const std::string& sql) {
  std::vector<std::string> out;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return {"<cannot open>"};
  }
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    out.push_back(std::string("<error> ") + sqlite3_errmsg(db));
    sqlite3_close(db);
    return out;
  }
  while (sqlite3_step(st) == SQLITE_ROW) {
    std::string line;
    for (int c = 0; c < sqlite3_column_count(st); ++c) {
      if (c) line += "|";
      switch (sqlite3_column_type(st, c)) {
        case SQLITE_INTEGER:
          line += std::to_string(sqlite3_column_int64(st, c));
          break;
        case SQLITE_FLOAT: {
          char buf[64];
          std::snprintf(buf, sizeof buf, "r%.17g", sqlite3_column_double(st, c));
          line += buf;
          break;
        }
        case SQLITE_TEXT:
          line += "'" + std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, c)),
                                    static_cast<size_t>(sqlite3_column_bytes(st, c))) + "'";
          break;
        case SQLITE_BLOB: {
          const auto* p = static_cast<const unsigned char*>(sqlite3_column_blob(st, c));
          line += "x'";
          for (int i = 0; i < sqlite3_column_bytes(st, c); ++i) {
            char buf[3];
            std::snprintf(buf, sizeof buf, "%02x", p[i]);
            line += buf;
          }
          line += "'";
          break;
        }
        default:
          line += "NULL";
      }
    }
    out.push_back(line);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return out;
}

// A session over a source file "shop.db" in a fresh folder, with the file item
// and the four groups in the tree and a FakeParser as its parser.
class SaveFixture {
 public:
  SaveFixture() : session(observer, [](int32_t) { return std::unique_ptr<sqlite_base>(); }) {
    source = dir.File("shop.db");
    WriteFile(source, "the damaged source");
    session.filePath = source;
    auto owned = std::make_unique<FakeParser>();
    parser = owned.get();
    session.parser = std::move(owned);
    parser->owner = &session;
    parser->utf8Mode = true;
    session.fileItem = session.AddTreeItem(source, kTreeRoot, TreePosition::Last);
    session.SetTreeItemData(session.fileItem, -1);
    const char* groups[] = {"TABLES  ", "INDEXES  ", "VIEWS  ", "TRIGGERS  "};
    TreeItemId* roots[] = {&session.tablesRoot, &session.indexesRoot, &session.viewsRoot, &session.triggersRoot};
    for (int g = 0; g < 4; ++g) {
      *roots[g] = session.AddTreeItem(groups[g], session.fileItem, TreePosition::Last);
      session.SetTreeItemData(*roots[g], -2 - g);
    }
  }

  std::string Output() const { return dir.File("Repaired_shop.db"); }

  // A table: its statement as found, its descriptor and its rows.
  TreeItemId AddTable(const std::string& statement, const std::string& descriptor,
                      std::vector<RecoveredRow> rows = {}, bool checked = true) {
    const int32_t k = static_cast<int32_t>(parser->tableDescriptors.size());
    parser->tableStatements.push_back(statement);
    parser->tableDescriptors.push_back(descriptor);
    parser->createStatements.push_back("");
    parser->tableColumnTypes.emplace_back();
    parser->rowsByRoot[ParseTableDescriptor(descriptor).rootPage] = std::move(rows);
    return AddItem(session.tablesRoot, ParseTableDescriptor(descriptor).name, k, checked);
  }

  // A table of a UTF-16 scan (the wide statement list).
  TreeItemId AddWideTable(const std::u16string& statement, const std::string& descriptor,
                          std::vector<RecoveredRow> rows = {}) {
    const int32_t k = static_cast<int32_t>(parser->tableDescriptors.size());
    parser->wideTableStatements.push_back(statement);
    parser->tableDescriptors.push_back(descriptor);
    parser->createStatements.push_back("");
    parser->tableColumnTypes.emplace_back();
    parser->rowsByRoot[ParseTableDescriptor(descriptor).rootPage] = std::move(rows);
    return AddItem(session.tablesRoot, ParseTableDescriptor(descriptor).name, k, true);
  }

  // An index (-3), view (-4) or trigger (-5) text.
  TreeItemId AddObject(int kind, const std::string& text, bool checked = true) {
    auto& list = kind == -3 ? parser->indexStatements : kind == -4 ? parser->viewStatements : parser->triggerStatements;
    list.push_back(text);
    const TreeItemId group = kind == -3 ? session.indexesRoot : kind == -4 ? session.viewsRoot : session.triggersRoot;
    return AddItem(group, text.substr(0, 20), static_cast<int32_t>(list.size() - 1), checked);
  }

  TreeItemId AddItem(TreeItemId group, const std::string& label, int32_t data, bool checked) {
    const TreeItemId item = session.AddTreeItem(label, group, TreePosition::Last);
    session.SetTreeItemData(item, data);
    session.tree.SetChecked(item, checked);
    return item;
  }

  // Runs the save as the Save command does, on the session's worker.
  const SaveReport& Save() {
    session.StartSave();
    session.WaitForWorker();
    return session.lastSave;
  }

  TempDir dir;
  RecordingObserver observer;
  RecoverySession session;
  FakeParser* parser = nullptr;
  std::string source;
};

}  // namespace veltrane::test
