#include "output/save_flow.h"

#include <set>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <set>
#include <string_view>
#include <type_traits>
#include <unordered_map>

#include "core/session.h"
#include "core/text.h"
#include "core/work_bounds.h"

namespace veltrane {

namespace {

constexpr const char* kCreating3 = "Creating Database";
constexpr const char* kCreating2 = " Creating Database ";
constexpr const char* kTablesDone = "Database Table created successfully";
constexpr const char* kIndexesDone = "Database Index schema created successfully";
constexpr const char* kViewsDone = "Database views created successfully";
constexpr const char* kTriggersDone = "Database Triggers created successfully";
constexpr const char* kSaveFailed = "The repaired database could not be written: ";

uint32_t Clamp32(uint64_t value) {
  return value > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                      : static_cast<uint32_t>(value);
}

std::string Count(uint64_t n) { return Format("%llu", static_cast<unsigned long long>(n)); }

void LogError(RecoverySession& session, const std::string& message) { session.AddLogLine("Error: " + message); }

// True when the text, after leading blanks, begins with CREATE: the only kind
// of statement a save runs from the recovered texts.
bool BeginsWithCreate(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size() && IsBlank(static_cast<unsigned char>(text[pos]))) ++pos;
  return StartsWithIgnoreCaseAt(text, pos, "CREATE");
}

bool BeginsWithCreate(std::u16string_view text) {
  return BeginsWithCreate(Utf16ToUtf8(text.substr(0, std::min<size_t>(text.size(), 64))));
}

std::string NotCreateMessage(std::string_view text) {
  std::string head(text.substr(0, std::min<size_t>(text.size(), 60)));
  return "the statement does not begin with CREATE and was not run: " + head;
}

// Runs one recovered CREATE text; false when the database broke. created
// tells whether the object now exists.
template <typename Text>
bool RunCreate(RepairedDatabase& db, RecoverySession& session, const Text& text, bool table, bool& created) {
  created = false;
  if (!BeginsWithCreate(text)) {
    std::string narrow;
    if constexpr (std::is_same_v<Text, std::u16string>)
      narrow = Utf16ToUtf8(text);
    else
      narrow = text;
    LogError(session, NotCreateMessage(narrow));
    return true;
  }
  DbResult result;
  if constexpr (std::is_same_v<Text, std::u16string>)
    result = db.Run16(text, table);
  else
    result = db.Run(text, table);
  if (!result.ok) {
    LogError(session, result.message);
    return !db.broken();
  }
  created = true;
  return true;
}

bool SameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// Deletes the old output file and the journal files SQLite may have left
// beside it (a stale journal would be rolled back into the new file).
// Returns why it failed, or nothing.
std::string DeleteOldOutput(const std::string& path) {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    const std::string file = path + suffix;
    if (!Exists(file)) continue;
    if (::unlink(file.c_str()) != 0)
      return "the existing file " + file + " could not be deleted: " + std::strerror(errno);
  }
  return {};
}

enum class OutputCheck { Go, Declined, Failed };

// The source check and the existing-file question; error tells why it failed.
OutputCheck PrepareOutputFile(RecoverySession& session, const std::string& path, const std::string& question,
                              MessageStyle style, std::string& error) {
  if (SameFile(path, session.filePath)) {
    error = "the output file " + path +
            " is the source file itself; the source is never overwritten. Choose another output path.";
    return OutputCheck::Failed;
  }
  if (!Exists(path)) return OutputCheck::Go;
  if (session.ShowMessage(question, kAppTitle, style) != MessageResult::Yes) return OutputCheck::Declined;
  error = DeleteOldOutput(path);
  return error.empty() ? OutputCheck::Go : OutputCheck::Failed;
}

}  // namespace

uint64_t CountCheckedEntries(sqlite_base& parser, bool sqlite2) {
  if (parser.owner == nullptr) return 0;
  const std::string path = parser.owner->filePath;
  return parser.SumCheckedTables([&](uint64_t rootPage) {
    if (sqlite2)
      parser.rowProgress = 0;
    else
      parser.totalRows = 0;
    return parser.CountRows(path, rootPage);
  });
}

TextMode ChooseTextMode(const sqlite_base& p) {
  const bool narrow = !p.tableStatements.empty() || !p.indexStatements.empty() || !p.viewStatements.empty() ||
                      !p.triggerStatements.empty();
  const bool wide = !p.wideTableStatements.empty() || !p.wideIndexStatements.empty() ||
                    !p.wideViewStatements.empty() || !p.wideTriggerStatements.empty();
  if (wide && !narrow) return TextMode::Utf16;
  if (narrow && !wide) return TextMode::Utf8;
  return !p.utf8Mode && p.utf16Mode ? TextMode::Utf16 : TextMode::Utf8;
}

bool WriteTables(sqlite_base& parser, RecoverySession& session, TreeItemId tablesRoot, RepairedDatabase& db) {
  const bool wide = db.mode() == TextMode::Utf16;
  // Tables of a sound file have roots of their own. A damaged or hostile
  // file can name one root from thousands of tables; past the few that may
  // share a page (the rest get no rows from it anyway) they are not written:
  // each CREATE TABLE costs the library time in the tables created before it.
  std::unordered_map<int64_t, uint32_t> rootUses;
  for (TreeItemId child : session.tree.Children(tablesRoot)) {
    if (!session.tree.IsChecked(child)) continue;
    const int32_t k = session.tree.Data(child);
    if (k < 0 || static_cast<size_t>(k) >= parser.tableDescriptors.size()) continue;
    const size_t kk = static_cast<size_t>(k);
    const TableDescriptorParts parts = ParseTableDescriptor(parser.tableDescriptors[kk]);
    if (parts.rootPage > 0 && ++rootUses[parts.rootPage] > kPageShareLimit) {
      session.AddLogLine(Format("Table %s names the root page %lld of %u other tables already; it is not written",
                                parts.name.c_str(), static_cast<long long>(parts.rootPage),
                                unsigned{kPageShareLimit}));
      continue;
    }

    // The table as found in the file, or as the column mapping rebuilt it.
    bool created = false;
    bool goOn = true;
    if (parser.mappedTables.count(k) != 0 && kk < parser.createStatements.size())
      goOn = RunCreate(db, session, parser.createStatements[kk], true, created);
    else if (wide && kk < parser.wideTableStatements.size())
      goOn = RunCreate(db, session, parser.wideTableStatements[kk] + u")" + Utf8ToUtf16(TableOptionsOf(parser, kk)) + u";",
                       true, created);
    else if (!wide && kk < parser.tableStatements.size())
      goOn = RunCreate(db, session, parser.tableStatements[kk] + ")" + TableOptionsOf(parser, kk) + ";", true, created);
    if (!goOn) return false;
    if (!created) continue;

    std::vector<std::string> columns = WrittenColumnNames(parser, k);
    for (const std::string& entry : parts.columns) parser.outputColumnNames.push_back(parser.CleanIdentifier(entry));

    session.entryCount = 0;
    parser.totalRows = 0;
    const int64_t keptProgress = parser.rowProgress;
    parser.rowProgress = 0;
    parser.currentTable = k;
    const uint64_t rows = parser.CountRows(session.filePath, parts.rootPage > 0 ? static_cast<uint64_t>(parts.rootPage) : 0);
    parser.currentTable = -1;
    parser.rowProgress = keptProgress;
    session.AddLogLine(Format("Table %s contain %s rows", parts.name.c_str(), Count(rows).c_str()));

    const DbResult begun = db.BeginTable(parts.name, std::move(columns));
    if (!begun.ok) {
      LogError(session, begun.message);
      parser.outputColumnNames.clear();
      return false;
    }
    parser.currentTable = k;
    parser.rowSink = &db;
    parser.RecoverRows(session.filePath, static_cast<int32_t>(parts.rootPage),
                       static_cast<int>(parts.columns.size()), parts.name, parts.keyMark);
    parser.rowSink = nullptr;
    parser.currentTable = -1;
    parser.outputColumnNames.clear();

    const DbResult ended = db.EndTable();
    for (const std::string& note : db.tableNotes()) session.AddLogLine(note);
    session.lastSave.rowsWritten += db.tableRowsWritten();
    session.lastSave.rowsFailed += db.tableRowsFailed();
    session.entryCount = db.tableRowsWritten();
    if (!ended.ok) {
      LogError(session, ended.message);
      return false;
    }
    if (db.broken()) {
      LogError(session, db.brokenReason().message);
      return false;
    }
    session.AddLogLine("Total " + Count(session.entryCount) + " Rows inserted in table successfully");
  }
  return true;
}

bool WriteSchemaGroup(sqlite_base& parser, RecoverySession& session, TreeItemId group, RepairedDatabase& db,
                      int kind) {
  const bool wide = db.mode() == TextMode::Utf16;
  std::set<std::string> done;  // an index whose name the scan cut up has several items
  for (TreeItemId child : session.tree.Children(group)) {
    if (!session.tree.IsChecked(child)) continue;
    // The statement as found, a damaged first letter ("%REATE VIEW") repaired.
    const std::string text = CompleteStatement(parser, kind, session.tree.Data(child));
    if (text.empty() || !done.insert(text).second) continue;
    bool created = false;
    const bool goOn = wide ? RunCreate(db, session, Utf8ToUtf16(text + ";"), false, created)
                           : RunCreate(db, session, text + ";", false, created);
    if (!goOn) return false;
    session.SetProgressPos(Clamp32(session.progressCounter));
    ++session.progressCounter;
  }
  return true;
}

bool SaveRepairedDatabase(sqlite_base& parser, SourceFormat format) {
  if (parser.owner == nullptr) return true;
  RecoverySession& session = *parser.owner;
  const bool sqlite2 = format == SourceFormat::Sqlite2;
  const std::string path = session.OutputPath();
  session.lastSave.ran = true;
  session.lastSave.failed = false;
  session.lastSave.outputPath = path;
  session.lastSave.rowsWritten = 0;
  session.lastSave.rowsFailed = 0;

  auto count = [&] {
    const uint64_t n = parser.CountEntries();
    session.AddLogLine("Database have total " + Count(n) + " Entries");
    session.SetProgressRange(Clamp32(n));
    return n;
  };

  uint64_t entries = 0;
  std::string error;  // why the save failed
  OutputCheck check;
  if (sqlite2) {
    session.AddLogLine(kCreating2);
    parser.saveStarted = true;
    check = PrepareOutputFile(session, path,
                              "The Database File " + path +
                                  " Already exist.\n Existing file will be Deleted. Do you want to Continue ?",
                              MessageStyle::YesNoQuestion, error);
    if (check == OutputCheck::Go) {
      parser.rowProgress = 0;
      entries = count();
      parser.rowProgress = 1;
    }
  } else {
    session.AddLogLine(kCreating3);
    session.progressCounter = 0;
    entries = count();
    session.progressCounter = 1;
    check = PrepareOutputFile(session, path,
                              "The Database File " + path +
                                  " Already exist.\n Exisitng file will be Deleted. Do you want to Continue ?",
                              MessageStyle::YesNo, error);
  }
  if (check == OutputCheck::Declined) return false;
  if (check == OutputCheck::Failed) {
    LogError(session, error);
    session.ShowMessage(kSaveFailed + error, kAppTitle, MessageStyle::Information);
    session.lastSave.failed = true;
    return true;
  }

  session.insertRowsMode = true;
  RepairedDatabase db;
  const bool stopBefore = session.stopRequested;
  bool stoppedForFailure = false;
  // A failure that breaks the file ends the row walk at once.
  db.onRowFailed = [&](const std::string& message) {
    session.AddLogLine(message);
    if (db.broken() && !session.stopRequested) {
      session.stopRequested = true;
      stoppedForFailure = true;
    }
  };

  bool ok = true;
  const DbResult opened = db.Open(path, ChooseTextMode(parser));
  // SQLite 2 stores every value as the text it was written as.
  db.SetKeepTexts(sqlite2);
  if (!opened.ok) {
    LogError(session, opened.message);
    error = opened.message;
    ok = false;
  } else if (session.reader) {
    // A recovered value is never longer than the source; room for a few
    // times that is left to what the schema's own expressions compute.
    db.LimitValueSize(std::max<uint64_t>(4 * session.reader->size, uint64_t{1} << 20));
  }
  struct Group {
    TreeItemId root;
    int kind;
    const char* done;
  };
  const Group groups[] = {{session.tablesRoot, -2, kTablesDone},
                          {session.indexesRoot, -3, kIndexesDone},
                          {session.viewsRoot, -4, kViewsDone},
                          {session.triggersRoot, -5, kTriggersDone}};
  for (const Group& g : groups) {
    if (!ok) break;
    if (g.root != kTreeRoot && session.tree.IsValid(g.root))
      ok = g.kind == -2 ? WriteTables(parser, session, g.root, db) : WriteSchemaGroup(parser, session, g.root, db, g.kind);
    if (ok)
      session.AddLogLine(g.done);
    else
      error = db.brokenReason().message;
  }
  if (db.IsOpen()) {
    const DbResult closed = db.Close();
    if (!closed.ok && ok) {
      LogError(session, closed.message);
      error = closed.message;
      ok = false;
    }
  }
  if (stoppedForFailure) session.stopRequested = stopBefore;
  session.lastSave.failed = !ok;
  // The log holds the details; the box makes sure the failure is not missed.
  if (!ok) session.ShowMessage(kSaveFailed + error, kAppTitle, MessageStyle::Information);

  session.records.ClearRows();
  if (sqlite2) session.SetProgressPos(Clamp32(entries));
  return true;
}

}  // namespace veltrane
