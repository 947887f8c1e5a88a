#include "cli/commands.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include <nlohmann/json.hpp>

#include "cli/console.h"
#include "cli/console_observer.h"
#include "cli/exporters.h"
#include "cli/object_names.h"
#include "core/session.h"
#include "core/table_shape.h"
#include "core/text.h"
#include "sqlite3/parser_factory.h"

namespace veltrane {

namespace {

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) {
  if (g_interrupted.exchange(true)) {
    // A second Ctrl-C: end now.
    ::signal(SIGINT, SIG_DFL);
    ::raise(SIGINT);
  }
}

// The jobs that run right now, for the progress line and Ctrl-C.
class ActiveJobs {
 public:
  void Add(RecoverySession* session, ConsoleObserver* observer) {
    std::lock_guard lock(mutex_);
    jobs_[session] = {observer, false};
  }
  void Remove(RecoverySession* session) {
    std::lock_guard lock(mutex_);
    jobs_.erase(session);
  }
  // Turns a pending Ctrl-C into the stop request of every job, once each.
  void StopAllOnInterrupt() {
    if (!g_interrupted) return;
    std::lock_guard lock(mutex_);
    for (auto& [session, job] : jobs_) {
      if (job.stopped) continue;
      job.stopped = true;
      session->RequestStop();
    }
  }
  std::string ProgressText() {
    std::lock_guard lock(mutex_);
    std::string text;
    for (auto& [session, job] : jobs_) {
      const std::string t = job.observer->ProgressText();
      if (t.empty()) continue;
      text += text.empty() ? t : "  |  " + t;
    }
    if (text.size() > 150) text = text.substr(0, 147) + "...";
    return text;
  }

 private:
  struct Job {
    ConsoleObserver* observer;
    bool stopped;
  };
  std::mutex mutex_;
  std::map<RecoverySession*, Job> jobs_;
};

ActiveJobs g_jobs;

// Redraws the progress line and watches for Ctrl-C while the command runs.
class Ticker {
 public:
  Ticker() : thread_([this] { Run(); }) {}
  ~Ticker() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
    Console::Get().ClearProgress();
  }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    while (!cv_.wait_for(lock, std::chrono::milliseconds(100), [this] { return done_; })) {
      lock.unlock();
      g_jobs.StopAllOnInterrupt();
      const std::string text = g_jobs.ProgressText();
      if (text.empty())
        Console::Get().ClearProgress();
      else
        Console::Get().Progress(text);
      lock.lock();
    }
  }
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

struct FileOutcome {
  int status = kExitOk;
  std::string summary;  // one line for batches
};

// ---- the recovered objects ----

struct TableView {
  int32_t position = -1;
  std::string sqlName;                   // as written in the schema, trimmed
  std::string name;                      // unquoted
  std::vector<std::string> sqlColumns;   // as written
  std::vector<std::string> columnNames;  // unquoted
  std::vector<std::string> types;
  int64_t rootPage = 0;
};

TableView ViewOfTable(const sqlite_base& parser, int32_t k) {
  TableView t;
  t.position = k;
  if (k < 0 || static_cast<size_t>(k) >= parser.tableDescriptors.size()) return t;
  const TableDescriptorParts parts = ParseTableDescriptor(parser.tableDescriptors[k]);
  t.sqlName = std::string(Trim(parts.name));
  t.name = UnquoteIdentifier(t.sqlName);
  t.sqlColumns = WrittenColumnNames(parser, k);
  for (const std::string& column : t.sqlColumns) t.columnNames.push_back(UnquoteIdentifier(column));
  if (static_cast<size_t>(k) < parser.tableColumnTypes.size()) t.types = parser.tableColumnTypes[k];
  t.rootPage = parts.rootPage;
  return t;
}

uint64_t CountTableRows(RecoverySession& session, const TableView& t) {
  if (!session.parser || t.rootPage <= 0) return 0;
  session.parser->totalRows = 0;
  session.parser->rowProgress = 0;
  session.parser->currentTable = t.position;
  const uint64_t rows = session.parser->CountRows(session.filePath, static_cast<uint64_t>(t.rootPage));
  session.parser->currentTable = -1;
  return rows;
}

const char* KindOf(int32_t group) {
  switch (group) {
    case -2: return "table";
    case -3: return "index";
    case -4: return "view";
    case -5: return "trigger";
  }
  return "object";
}

// The items of the four groups, or only those named; false (with a message)
// when a name was not found.
bool SelectedItems(const RecoverySession& session, const std::vector<std::string>& only,
                   std::vector<TreeItemId>& items, const std::string& file) {
  if (only.empty()) {
    for (TreeItemId g : {session.tablesRoot, session.indexesRoot, session.viewsRoot, session.triggersRoot})
      for (TreeItemId item : session.tree.Children(g)) items.push_back(item);
    return true;
  }
  for (const std::string& name : only) {
    const TreeItemId item = FindObject(session, name);
    if (item == kTreeRoot) {
      Console::Get().Line(stderr, "veltrane-recover: no object named '" + name + "' was recovered from " + file);
      return false;
    }
    items.push_back(item);
  }
  return true;
}

// Runs body as a job of the session and waits for it.
void RunJob(RecoverySession& session, std::function<void()> body) {
  if (session.StartJob(std::move(body))) session.WaitForWorker();
}

// ---- scan ----

std::string Dump(const nlohmann::json& j) { return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace); }

nlohmann::json ScanJson(RecoverySession& session, const ConsoleObserver& observer) {
  nlohmann::json doc;
  doc["file"] = observer.path;
  const FileSelection& s = session.fileSelection;
  nlohmann::json detected;
  detected["format"] = s.formatVersion == 2 ? nlohmann::json("SQLite 3")
                       : s.formatVersion == 1 ? nlohmann::json("SQLite 2") : nlohmann::json(nullptr);
  detected["headerOffset"] = s.startOffset == 0 ? 0 : s.startOffset - 1;
  detected["encoding"] = s.utf16 ? nlohmann::json("UTF-16") : s.utf8 ? nlohmann::json("UTF-8") : nlohmann::json(nullptr);
  detected["pageSize"] = s.pageSize;
  detected["pageCount"] = session.pageCount;
  detected["fileSize"] = observer.description.fileSize;
  // What the pages told because the header could not.
  const FileDescription& d = observer.description;
  if (d.pageSizeInferred || d.startInferred || d.encodingInferred) {
    nlohmann::json inferred = nlohmann::json::array();
    if (d.pageSizeInferred) inferred.push_back("pageSize");
    if (d.startInferred) inferred.push_back("headerOffset");
    if (d.encodingInferred) inferred.push_back("encoding");
    detected["inferred"] = inferred;
    detected["inferredText"] = d.inferredText;
  }
  if (!s.utf8 && !s.utf16 && (d.encoding == 3 || s.textEncoding == 3)) detected["encoding"] = "UTF-16be";
  doc["detected"] = detected;
  const char* outcome = "not started";
  switch (session.lastScan) {
    case ScanOutcome::Completed: outcome = "completed"; break;
    case ScanOutcome::EndedEarly: outcome = "ended early"; break;
    case ScanOutcome::NoParser: outcome = "format not handled"; break;
    default: break;
  }
  doc["scan"] = outcome;
  nlohmann::json objects = nlohmann::json::array();
  if (session.parser) {
    for (TreeItemId group : {session.tablesRoot, session.indexesRoot, session.viewsRoot, session.triggersRoot}) {
      const int32_t kind = session.tree.Data(group);
      for (TreeItemId item : session.tree.Children(group)) {
        const std::string label = session.tree.Text(item);
        const int32_t data = session.tree.Data(item);
        nlohmann::json o;
        o["kind"] = KindOf(kind);
        o["name"] = ObjectNameOf(label, kind == -3);
        o["label"] = label;
        if (kind == -2) {
          const TableView t = ViewOfTable(*session.parser, data);
          o["columns"] = t.columnNames;
          o["types"] = t.types;
          o["rootPage"] = t.rootPage;
          o["rowCount"] = CountTableRows(session, t);
        } else {
          o["sql"] = CompleteStatement(*session.parser, kind, data);
        }
        objects.push_back(o);
      }
    }
  }
  doc["objects"] = objects;
  return doc;
}

void PrintTree(const ObjectTree& tree, TreeItemId item, int depth, std::string& out) {
  for (TreeItemId child : tree.Children(item)) {
    const std::string text(Trim(tree.Text(child)));
    out += std::string(depth * 2, ' ') + text + "  [" + std::to_string(tree.Data(child)) + "]\n";
    PrintTree(tree, child, depth + 1, out);
  }
}

int ScanStatus(const RecoverySession& session) {
  return session.lastScan == ScanOutcome::Completed ? kExitOk : kExitFailed;
}

FileOutcome RunScan(RecoverySession& session, ConsoleObserver& observer, const Options& options) {
  FileOutcome outcome;
  outcome.status = ScanStatus(session);
  if (options.json) {
    Console::Get().Write(stdout, Dump(ScanJson(session, observer)) + "\n");
  } else if (session.fileItem != kTreeRoot) {
    std::string tree = options.files.size() > 1 ? "== " + observer.path + "\n" : "";
    PrintTree(session.tree, kTreeRoot, 0, tree);
    Console::Get().Write(stdout, tree);
  }
  if (session.lastScan == ScanOutcome::NoParser)
    Console::Get().Line(stderr, "veltrane-recover: the format of " + observer.path + " is not handled");
  size_t objects = 0;
  for (TreeItemId g : {session.tablesRoot, session.indexesRoot, session.viewsRoot, session.triggersRoot})
    objects += session.tree.ChildCount(g);
  outcome.summary = observer.path + (outcome.status == kExitOk
                                         ? ": scanned, " + std::to_string(objects) + " objects found"
                                         : ": not recovered: " + observer.LastMessage());
  return outcome;
}

// ---- show ----

FileOutcome RunShow(RecoverySession& session, ConsoleObserver& observer, const Options& options) {
  FileOutcome outcome;
  const TreeItemId item = FindObject(session, options.name);
  if (item == kTreeRoot) {
    Console::Get().Line(stderr, "veltrane-recover: no object named '" + options.name + "' was recovered from " +
                                    observer.path);
    outcome.status = kExitFailed;
    return outcome;
  }
  const int32_t group = session.tree.Data(session.tree.Parent(item));
  const int32_t data = session.tree.Data(item);
  Console& console = Console::Get();

  if (group != -2) {
    const std::string sql = CompleteStatement(*session.parser, group, data);
    if (options.json) {
      nlohmann::json o = {{"kind", KindOf(group)},
                          {"name", ObjectNameOf(session.tree.Text(item), group == -3)},
                          {"sql", sql}};
      console.Write(stdout, Dump(o) + "\n");
    } else {
      session.StartPreview(item);
      session.WaitForWorker();
      console.Write(stdout, session.records.Text() + "\n");
    }
    return outcome;
  }

  const TableView table = ViewOfTable(*session.parser, data);
  if (options.csv || options.json) {
    // Typed values, straight from the decoder.
    if (options.csv) {
      CsvWriter writer(stdout);
      writer.WriteHeader(table.columnNames);
      RunJob(session, [&] { session.RecoverTableInto(data, writer); });
    } else {
      nlohmann::json head = {{"file", observer.path}, {"table", table.name}, {"columns", table.columnNames},
                             {"types", table.types}};
      std::string text = head.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
      text.pop_back();  // the closing brace: the rows follow
      while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
      console.Write(stdout, text + ",\n  \"rows\": [");
      JsonRowsWriter writer(stdout, table.columnNames.size());
      RunJob(session, [&] { session.RecoverTableInto(data, writer); });
      console.Write(stdout, std::string(writer.rows() ? "\n  ]" : "]") + "\n}\n");
    }
  } else {
    // The preview's value texts, printed as they are decoded and not kept.
    auto escape = [](const std::string& text) {
      std::string out;
      out.reserve(text.size());
      for (char ch : text) {
        switch (ch) {
          case '\t': out += "\\t"; break;
          case '\n': out += "\\n"; break;
          case '\r': out += "\\r"; break;
          case '\\': out += "\\\\"; break;
          default: out.push_back(ch);
        }
      }
      return out;
    };
    auto line = [&](const std::vector<std::string>& fields) {
      std::string text;
      for (size_t i = 0; i < fields.size(); ++i) text += (i ? "\t" : "") + escape(fields[i]);
      console.Write(stdout, text + "\n");
    };
    bool headerDone = false;
    auto header = [&] {
      if (!headerDone) line(session.records.ColumnHeadings());
      headerDone = true;
    };
    session.records.SetKeepRows(false);
    session.records.SetRowTap([&](const RecordRow& row) {
      header();
      std::vector<std::string> fields;
      for (const RecordCell& cell : row) fields.push_back(cell.text);
      line(fields);
    });
    session.StartPreview(item);
    session.WaitForWorker();
    session.records.SetRowTap(nullptr);
    session.records.SetKeepRows(true);
    header();
  }
  return outcome;
}

// ---- save ----

FileOutcome RunSave(RecoverySession& session, ConsoleObserver& observer, const Options& options) {
  FileOutcome outcome;
  std::vector<TreeItemId> items;
  if (!SelectedItems(session, options.only, items, observer.path)) {
    outcome.status = kExitFailed;
    outcome.summary = observer.path + ": not saved: an object named with --only was not recovered";
    return outcome;
  }
  for (TreeItemId item : items) session.tree.SetChecked(item, true);
  session.outputPathOverride = options.output;
  session.StartSave();
  session.WaitForWorker();
  const SaveReport& report = session.lastSave;
  if (report.declined) {
    Console::Get().Line(stderr, "veltrane-recover: " + session.OutputPath() + " exists; not replaced (use --overwrite)");
    outcome.status = kExitFailed;
    outcome.summary = observer.path + ": not saved: " + session.OutputPath() + " exists";
  } else if (!report.ran || report.failed) {
    outcome.status = kExitFailed;
    outcome.summary = observer.path + ": not saved: " + observer.LastMessage();
  } else {
    size_t tables = 0;
    for (TreeItemId item : session.tree.Children(session.tablesRoot)) tables += session.tree.IsChecked(item);
    outcome.summary = Format("%s: saved %zu tables, %llu rows to %s", observer.path.c_str(), tables,
                             static_cast<unsigned long long>(report.rowsWritten), report.outputPath.c_str());
    if (report.rowsFailed)
      outcome.summary += Format(" (%llu rows failed)", static_cast<unsigned long long>(report.rowsFailed));
  }
  return outcome;
}

// ---- dump ----

FileOutcome RunDump(RecoverySession& session, ConsoleObserver& observer, const Options& options) {
  FileOutcome outcome;
  std::vector<TreeItemId> items;
  if (!SelectedItems(session, options.only, items, observer.path)) {
    outcome.status = kExitFailed;
    return outcome;
  }
  Console& console = Console::Get();
  std::vector<std::pair<int32_t, int32_t>> tables, others;  // (group, position)
  for (TreeItemId item : items) {
    const int32_t group = session.tree.Data(session.tree.Parent(item));
    (group == -2 ? tables : others).emplace_back(group, session.tree.Data(item));
  }
  std::string head = "BEGIN;\nPRAGMA foreign_keys = off;\n";
  for (const auto& [group, k] : tables) {
    const std::string sql = CompleteStatement(*session.parser, group, k);
    if (!sql.empty()) head += sql + ";\n";
  }
  console.Write(stdout, head);
  SqlDumpWriter writer(stdout);
  RunJob(session, [&] {
    for (const auto& [group, k] : tables) {
      if (session.stopRequested) break;
      const TableView t = ViewOfTable(*session.parser, k);
      const TableShape shape = AnalyseTableShape(CompleteStatement(*session.parser, -2, k));
      writer.BeginTable(t.sqlName, t.sqlColumns, !shape.withoutRowid && shape.rowidAlias < 0);
      session.RecoverTableInto(k, writer);
    }
  });
  std::string tail;
  std::set<std::string> done;  // an index whose name the scan cut up has several items
  for (const auto& [group, k] : others) {
    const std::string sql = CompleteStatement(*session.parser, group, k);
    if (!sql.empty() && done.insert(sql).second) tail += sql + ";\n";
  }
  console.Write(stdout, tail + "COMMIT;\n");
  return outcome;
}

// ---- export ----

// A file name for a table: its name with "/" and control characters replaced.
std::string CsvFileName(const std::string& table, std::set<std::string>& used) {
  std::string base;
  for (unsigned char c : table) base.push_back(c == '/' || c < 32 ? '_' : static_cast<char>(c));
  if (base.empty() || base == "." || base == "..") base = "table";
  std::string name = base + ".csv";
  for (int n = 2; used.count(name); ++n) name = base + "_" + std::to_string(n) + ".csv";
  used.insert(name);
  return name;
}

FileOutcome RunExport(RecoverySession& session, ConsoleObserver& observer, const Options& options) {
  FileOutcome outcome;
  std::vector<TreeItemId> items;
  if (!SelectedItems(session, options.only, items, observer.path)) {
    outcome.status = kExitFailed;
    return outcome;
  }
  std::error_code ec;
  std::filesystem::create_directories(options.csvDir, ec);
  if (ec) {
    Console::Get().Line(stderr, "veltrane-recover: cannot create " + options.csvDir + ": " + ec.message());
    outcome.status = kExitFailed;
    return outcome;
  }
  std::set<std::string> used;
  RunJob(session, [&] {
    for (TreeItemId item : items) {
      if (session.stopRequested) break;
      if (session.tree.Data(session.tree.Parent(item)) != -2) continue;
      const TableView t = ViewOfTable(*session.parser, session.tree.Data(item));
      const std::string path = options.csvDir + "/" + CsvFileName(t.name, used);
      FILE* f = std::fopen(path.c_str(), "wb");
      if (f == nullptr) {
        observer.ShowMessage("Error: cannot write " + path + ": " + std::strerror(errno), kAppTitle,
                             MessageStyle::Plain);
        outcome.status = kExitFailed;
        continue;
      }
      CsvWriter writer(f);
      writer.WriteHeader(t.columnNames);
      session.RecoverTableInto(t.position, writer);
      const bool written = std::fclose(f) == 0;
      if (!written) outcome.status = kExitFailed;
      session.AddLogLine(Format("%s: %llu rows", path.c_str(), static_cast<unsigned long long>(writer.rows())));
    }
  });
  return outcome;
}

// ---- one file ----

FileOutcome RunOne(const Options& options, const std::string& file) {
  const bool batch = options.files.size() > 1;
  const bool dataOnStdout = options.command == "show" || options.command == "dump" || options.json;
  ConsoleObserver observer;
  observer.path = file;
  observer.manual = options.manual;
  observer.overwrite = options.overwrite;
  observer.prefix = batch ? file + ": " : "";
  observer.logStream = options.quiet ? nullptr : dataOnStdout ? stderr : stdout;

  RecoverySession session(observer, MakeParser);
  session.useWal = !options.noWal;
  g_jobs.Add(&session, &observer);
  FileOutcome outcome;
  session.OpenFile();
  session.WaitForWorker();

  if (g_interrupted) {
    outcome.status = kExitInterrupted;
    outcome.summary = file + ": stopped";
  } else if (options.command == "scan") {
    outcome = RunScan(session, observer, options);
  } else if (!session.parser) {
    outcome.status = kExitFailed;
    if (session.lastScan == ScanOutcome::NoParser)
      Console::Get().Line(stderr, "veltrane-recover: the format of " + file + " is not handled");
    outcome.summary = file + ": not recovered: " + observer.LastMessage();
  } else if (options.command == "show") {
    outcome = RunShow(session, observer, options);
  } else if (options.command == "save") {
    outcome = RunSave(session, observer, options);
  } else if (options.command == "dump") {
    outcome = RunDump(session, observer, options);
  } else {
    outcome = RunExport(session, observer, options);
  }
  if (g_interrupted && outcome.status == kExitOk) outcome.status = kExitInterrupted;
  g_jobs.Remove(&session);
  return outcome;
}

}  // namespace

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
}

int RunCommand(const Options& options) {
  Ticker ticker;
  std::vector<FileOutcome> outcomes(options.files.size());
  const unsigned workers = std::min<unsigned>(options.jobs, static_cast<unsigned>(options.files.size()));
  if (workers <= 1) {
    for (size_t i = 0; i < options.files.size() && !g_interrupted; ++i) outcomes[i] = RunOne(options, options.files[i]);
  } else {
    std::atomic<size_t> next{0};
    std::vector<std::thread> pool;
    for (unsigned w = 0; w < workers; ++w)
      pool.emplace_back([&] {
        for (size_t i; (i = next++) < options.files.size() && !g_interrupted;) outcomes[i] = RunOne(options, options.files[i]);
      });
    for (auto& t : pool) t.join();
  }
  int worst = kExitOk;
  for (size_t i = 0; i < outcomes.size(); ++i) {
    if (outcomes[i].summary.empty() && g_interrupted) outcomes[i] = {kExitInterrupted, options.files[i] + ": stopped"};
    worst = std::max(worst, outcomes[i].status);
  }
  if (options.files.size() > 1)
    for (const FileOutcome& o : outcomes) Console::Get().Line(stdout, o.summary);
  return worst;
}

}  // namespace veltrane
