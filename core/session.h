// The recovery session: one recovery from the chosen path to a filled object
// tree, and the jobs that follow it (table preview, save).
//
// Commands (OpenFile, RequestStop, StartPreview, StartSave) run on the front
// end's own thread; each job runs on one worker thread, and a new job starts
// only after the previous worker has ended. The worker reports through
// SessionObserver; the parsers reach the session through their owner pointer.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/object_tree.h"
#include "core/observer.h"
#include "core/parser.h"
#include "core/reader.h"
#include "core/record_list.h"

namespace veltrane {

// How the last scan ended.
enum class ScanOutcome {
  None,        // no scan yet
  Completed,   // the parser reached the end of the file
  EndedEarly,  // the parser gave up with one of its error boxes
  NotStarted,  // no reader, no page size: nothing was parsed
  NoParser     // the format was not recognised
};

// What the last save did.
struct SaveReport {
  bool ran = false;        // SaveDatabase was called
  bool declined = false;   // the user kept the existing output file
  bool failed = false;     // the repaired database could not be written
  std::string outputPath;  // where it went
  uint64_t rowsWritten = 0;
  uint64_t rowsFailed = 0;
};

// The source's folder + "Repaired_" + the source's file name.
std::string MakeOutputPath(const std::string& sourcePath);

class RecoverySession {
 public:
  using ParserFactory = std::function<std::unique_ptr<sqlite_base>(int32_t formatVersion)>;

  RecoverySession(SessionObserver& observer, ParserFactory factory);
  ~RecoverySession();  // stops and joins a running worker
  RecoverySession(const RecoverySession&) = delete;
  RecoverySession& operator=(const RecoverySession&) = delete;

  // ---- Commands, called on the front end's thread ----

  // Open: file choice, reset, then the scan on a worker thread.
  void OpenFile();
  // Stop: asks, then sets stopRequested for the running job.
  void RequestStop();
  // A click on an item's label: previews a table's rows or shows a statement.
  void StartPreview(TreeItemId item);
  // Save: writes the checked objects into the repaired database on a worker.
  void StartSave();
  // Runs body as a job of its own on the worker thread, with processRunning
  // set and the stop request cleared; false (after the "please wait" box)
  // while another job runs.
  bool StartJob(std::function<void()> body);
  // Blocks until the current worker has ended (for front ends without a loop).
  void WaitForWorker();
  // True while a worker thread has not yet finished.
  bool WorkerAlive() const { return workerAlive_.load(); }

  // ---- What the parsers and writers call (any thread) ----

  void AddLogLine(const std::string& text);
  void SetStatusText(const std::string& text);
  void ShowProgress(bool show);
  void SetProgressRange(uint32_t upper);
  void SetProgressPos(uint32_t position);
  // Within one job a box whose text was shown already goes to the log instead
  // (questions are always asked).
  MessageResult ShowMessage(const std::string& text, const std::string& caption = kAppTitle,
                            MessageStyle style = MessageStyle::Plain);
  void ClearObjectTree();
  TreeItemId AddTreeItem(const std::string& text, TreeItemId parent, TreePosition position);
  void SetTreeItemData(TreeItemId item, int32_t data);
  void ExpandTreeItem(TreeItemId item);
  void ClearRecordList();  // rows and the text box
  void RemoveRecordColumn(size_t position);
  // Appends a decoded row to the record list unless suppressListRows is set.
  void AddRecordRow(const RecordRow& row);
  // The parser ended the scan with one of its error boxes.
  void ReportParseFailure();
  // Decodes the rows of table k (its position in tableDescriptors) and hands
  // them to sink, as the save does: insert mode, no record-list rows. Runs on
  // the calling thread, inside a job.
  void RecoverTableInto(int32_t table, RowSink& sink);

  // ---- The steps of a recovery (public for the tests) ----

  int RunRecovery();
  void ResetSession();
  void PrepareScan();

  SessionObserver& observer() { return observer_; }

  // ---- Process-wide items ----
  FileSelection fileSelection;
  std::atomic<int32_t> processRunning{0};
  int32_t recordColumnCount = 0;
  std::atomic<bool> insertRowsMode{false};
  // Read the committed pages of FILE-wal beside the source (the command
  // line's --no-wal switches it off).
  bool useWal = true;

  // ---- Session items ----
  std::string statusText;
  std::map<std::string, std::vector<int32_t>> tableLabels, indexLabels, viewLabels, triggerLabels;
  uint16_t objectCount = 0;
  std::string filePath;
  int32_t logLineCount = 0;
  bool suppressListRows = false;
  uint64_t startOffset = 0;
  std::atomic<bool> stopRequested{false};
  uint64_t progressCounter = 0;
  std::atomic<bool> parseActive{false};
  std::string mappingTableName;
  std::vector<std::string> columnNames;
  std::vector<std::string> columnTypes;
  int32_t selectedColumn = -1;
  TreeItemId previewItem = kTreeRoot;
  TreeItemId fileItem = kTreeRoot;
  TreeItemId tablesRoot = kTreeRoot, indexesRoot = kTreeRoot, viewsRoot = kTreeRoot,
             triggersRoot = kTreeRoot;
  int32_t formatVersion = 0;
  uint64_t pageCount = 0;
  uint64_t pageSize = 0;
  uint64_t entryCount = 0;
  std::unique_ptr<sqlite_base> parser;
  std::unique_ptr<Reader> reader;
  // Makes the scan's reader; empty: makeReader (a test hands in a reader
  // that counts what is read).
  std::function<std::unique_ptr<Reader>(const std::string& path)> readerFactory;

  // The models that the window mirrors.
  ObjectTree tree;
  RecordList records;

  // Where the save writes; empty: next to the source as "Repaired_" + its name.
  std::string outputPathOverride;
  // The path of the repaired database for the current file.
  std::string OutputPath() const;

  // Outcomes for front ends that report them (the command line's exit status).
  ScanOutcome lastScan = ScanOutcome::None;
  SaveReport lastSave;

 private:
  // Starts body on a worker thread after the previous worker has been joined.
  void StartWorker(std::function<void()> body);
  void PreviewWorker();
  void SaveWorker();
  void BeginJobMessages();
  // False (after telling the user, once per file) when the reader found the
  // file changed by another program while it was read.
  bool FileUnchanged();

  SessionObserver& observer_;
  ParserFactory factory_;
  std::thread worker_;
  std::atomic<bool> workerAlive_{false};
  std::mutex messagesMutex_;
  std::set<std::string> shownMessages_;
  std::atomic<std::thread::id> workerId_{};
  bool parseFailed_ = false;
  bool fileChangeReported_ = false;
  uint64_t previewRows_ = 0;
};

}  // namespace veltrane
