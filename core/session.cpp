#include "core/session.h"

#include "core/text.h"

namespace veltrane {

namespace {
constexpr const char* kPleaseWait = "Please wait for the running process.";
constexpr const char* kCompleted = "Scanning process for selected file has been completed successfully.";
constexpr const char* kEndedEarly = "Scanning process for selected file ended early: the file could not be parsed completely.";
constexpr const char* kNothingToSave = "There is no recovered data to save. Please open a database file first.";
constexpr const char* kFileChanged =
    "The database file was changed by another program while it was being read; what was read after that is missing.";
constexpr const char* kNothingChecked = "No object is checked for saving. Please check the objects to save.";
}  // namespace

std::string MakeOutputPath(const std::string& sourcePath) {
  const size_t slash = sourcePath.rfind('/');
  const size_t cut = slash == std::string::npos ? 0 : slash + 1;
  return sourcePath.substr(0, cut) + "Repaired_" + sourcePath.substr(cut);
}

std::string RecoverySession::OutputPath() const {
  return outputPathOverride.empty() ? MakeOutputPath(filePath) : outputPathOverride;
}

RecoverySession::RecoverySession(SessionObserver& observer, ParserFactory factory)
    : observer_(observer), factory_(std::move(factory)) {
  tree.SetListener(&observer_);
  records.SetListener(&observer_);
}

RecoverySession::~RecoverySession() {
  stopRequested = true;
  WaitForWorker();
  tree.SetListener(nullptr);
  records.SetListener(nullptr);
}

// ---- reporting ----

void RecoverySession::AddLogLine(const std::string& text) {
  int32_t row;
  {
    std::lock_guard lock(messagesMutex_);
    row = logLineCount++;
  }
  observer_.AddLogLine(text, row);
}

void RecoverySession::SetStatusText(const std::string& text) { observer_.SetStatusText(text); }
void RecoverySession::ShowProgress(bool show) { observer_.ShowProgress(show); }
void RecoverySession::SetProgressRange(uint32_t upper) { observer_.SetProgressRange(upper); }
void RecoverySession::SetProgressPos(uint32_t position) { observer_.SetProgressPos(position); }

void RecoverySession::BeginJobMessages() {
  std::lock_guard lock(messagesMutex_);
  shownMessages_.clear();
}

MessageResult RecoverySession::ShowMessage(const std::string& text, const std::string& caption,
                                           MessageStyle style) {
  const bool question = style == MessageStyle::YesNo || style == MessageStyle::YesNoQuestion;
  if (!question && std::this_thread::get_id() == workerId_.load()) {
    bool repeat;
    {
      std::lock_guard lock(messagesMutex_);
      repeat = !shownMessages_.insert(text).second;
    }
    if (repeat) {
      AddLogLine(text);
      return MessageResult::Ok;
    }
  }
  return observer_.ShowMessage(text, caption, style);
}

void RecoverySession::ClearObjectTree() {
  tree.Clear();
  previewItem = kTreeRoot;
}

TreeItemId RecoverySession::AddTreeItem(const std::string& text, TreeItemId parent, TreePosition position) {
  return tree.AddItem(text, parent, position);
}

void RecoverySession::SetTreeItemData(TreeItemId item, int32_t data) { tree.SetData(item, data); }
void RecoverySession::ExpandTreeItem(TreeItemId item) { tree.Expand(item); }

void RecoverySession::ClearRecordList() {
  records.ClearRows();
  records.SetText("");
}

void RecoverySession::RemoveRecordColumn(size_t position) { records.RemoveColumn(position); }

void RecoverySession::AddRecordRow(const RecordRow& row) {
  if (suppressListRows) return;
  records.AppendRow(row);
  ++previewRows_;
}

void RecoverySession::ReportParseFailure() { parseFailed_ = true; }

bool RecoverySession::FileUnchanged() {
  if (!reader || !reader->FileChanged()) return true;
  if (!fileChangeReported_) {
    fileChangeReported_ = true;
    ShowMessage(kFileChanged, kAppTitle, MessageStyle::Information);
    AddLogLine(kFileChanged);
  }
  return false;
}

// ---- workers ----

void RecoverySession::StartWorker(std::function<void()> body) {
  if (worker_.joinable()) worker_.join();
  if (parser) ++parser->job;
  workerAlive_ = true;
  worker_ = std::thread([this, body = std::move(body)] {
    workerId_ = std::this_thread::get_id();
    BeginJobMessages();
    body();
    workerId_ = std::thread::id{};
    workerAlive_ = false;
  });
}

void RecoverySession::WaitForWorker() {
  if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
}

// ---- Open ----

void RecoverySession::OpenFile() {
  if (processRunning == 1 || WorkerAlive()) {
    ShowMessage(kPleaseWait, kAppTitle, MessageStyle::Information);
    return;
  }
  if (!observer_.ChooseDatabaseFile(fileSelection)) return;
  ResetSession();
  processRunning = 1;

  filePath = fileSelection.path;
  recordColumnCount = 0;
  logLineCount = 0;
  suppressListRows = false;
  formatVersion = fileSelection.formatVersion;
  parser.reset();
  startOffset = fileSelection.startOffset;
  stopRequested = false;
  reader.reset();
  pageSize = fileSelection.pageSize;
  pageCount = fileSelection.pageCount;
  objectCount = 0;
  parseActive = false;
  fileItem = tablesRoot = indexesRoot = viewsRoot = triggersRoot = kTreeRoot;
  lastScan = ScanOutcome::None;
  lastSave = {};
  fileChangeReported_ = false;

  ClearObjectTree();
  ClearRecordList();
  statusText = filePath;
  SetStatusText(statusText);
  ShowProgress(true);
  AddLogLine(filePath + " File is selected for recovery....");
  StartWorker([this] { RunRecovery(); });
}

void RecoverySession::ResetSession() {
  if (parser) {
    parser->ResetModel();
    parser.reset();
  }
  reader.reset();
  tableLabels.clear();
  indexLabels.clear();
  viewLabels.clear();
  triggerLabels.clear();
}

void RecoverySession::PrepareScan() {
  while (recordColumnCount > 0) {
    --recordColumnCount;
    RemoveRecordColumn(static_cast<size_t>(recordColumnCount));
  }
  if (parser) {
    parser->ResetModel();
    recordColumnCount = 0;
    ClearObjectTree();
  }
}

int RecoverySession::RunRecovery() {
  PrepareScan();
  objectCount = 0;
  reader.reset();

  reader = readerFactory ? readerFactory(filePath) : makeReader(filePath);
  if (!reader) {
    ShowProgress(false);
    ShowMessage("The Database file used in another prog", "File_LOCKED", MessageStyle::Plain);
    lastScan = ScanOutcome::NotStarted;
    processRunning = 0;
    return 0;
  }
  records.ClearRows();
  if (pageSize == 0) {
    ShowProgress(false);
    ShowMessage("There is an error to open Database file", "Can't be parsed", MessageStyle::Plain);
    lastScan = ScanOutcome::NotStarted;
    processRunning = 0;
    return 0;
  }

  uint64_t usable = reader->size;
  if (startOffset != 0) usable = usable + 1 >= startOffset ? usable + 1 - startOffset : 0;
  pageCount = usable / pageSize;

  fileItem = AddTreeItem(filePath, kTreeRoot, TreePosition::Last);
  SetTreeItemData(fileItem, -1);
  const char* groups[] = {"TABLES  ", "INDEXES  ", "VIEWS  ", "TRIGGERS  "};
  TreeItemId* roots[] = {&tablesRoot, &indexesRoot, &viewsRoot, &triggersRoot};
  for (int g = 0; g < 4; ++g) {
    *roots[g] = AddTreeItem(groups[g], fileItem, TreePosition::Last);
    SetTreeItemData(*roots[g], -2 - g);
  }

  parser.reset();
  if (formatVersion == 1 || formatVersion == 2) parser = factory_(formatVersion);
  if (parser) {
    parser->utf8Mode = fileSelection.utf8;
    parser->utf16Mode = fileSelection.utf16;
    parser->owner = this;

    AddLogLine(" File is Parsing ");
    parseFailed_ = false;
    parseActive = true;
    parser->ParseFile(filePath);
    parseActive = false;
    stopRequested = false;

    if (!FileUnchanged() || parseFailed_) {
      // The parser has told the user why; a success box would contradict it.
      AddLogLine(kEndedEarly);
      lastScan = ScanOutcome::EndedEarly;
    } else {
      ShowMessage(kCompleted, kAppTitle, MessageStyle::Information);
      AddLogLine(kCompleted);
      lastScan = ScanOutcome::Completed;
    }
    ShowProgress(false);
    ExpandTreeItem(fileItem);
  } else {
    ShowProgress(false);
    lastScan = ScanOutcome::NoParser;
  }

  formatVersion = 0;
  processRunning = 0;
  return 1;
}

// ---- Stop ----

void RecoverySession::RequestStop() {
  if (processRunning != 1) return;
  if (ShowMessage("Are you sure to stop the running process?", kAppTitle, MessageStyle::YesNo) ==
      MessageResult::Yes) {
    processRunning = 0;
    stopRequested = true;
  }
}

// ---- Preview ----

void RecoverySession::StartPreview(TreeItemId item) {
  if (processRunning == 1 || WorkerAlive()) {
    ShowMessage(kPleaseWait, kAppTitle, MessageStyle::Information);
    return;
  }
  processRunning = 1;
  previewItem = item;
  ClearRecordList();
  const std::string text = tree.Text(item);
  SetStatusText(text);
  AddLogLine("Please wait while " + text + " folder is scanning.");
  ShowProgress(true);
  SetProgressPos(0);
  StartWorker([this] { PreviewWorker(); });
}

void RecoverySession::PreviewWorker() {
  if (parser) {
    parser->rowProgress = 0;
    parser->saveStarted = false;
  }
  ClearRecordList();
  columnNames.clear();
  columnTypes.clear();
  while (recordColumnCount > 0) {
    --recordColumnCount;
    RemoveRecordColumn(static_cast<size_t>(recordColumnCount));
  }
  records.ShowList(false);
  records.SetText("");
  previewRows_ = 0;

  const TreeItemId item = previewItem;
  const std::string text = tree.Text(item);
  const TreeItemId parent = tree.Parent(item);
  const int32_t data = tree.Data(item);

  auto endJob = [this] {
    ShowProgress(false);
    processRunning = 0;
  };
  // A group, the file item, or a scan that found no parser: nothing to show.
  if (parent == kTreeRoot || !parser || !tree.IsValid(item)) {
    endJob();
    return;
  }

  const int32_t kind = tree.Data(parent);
  if (kind == -2) {
    records.ShowList(true);
    if (data >= 0 && static_cast<size_t>(data) < parser->tableDescriptors.size()) {
      const TableDescriptorParts parts = ParseTableDescriptor(parser->tableDescriptors[data]);
      for (const std::string& entry : parts.columns) {
        records.InsertColumn(static_cast<size_t>(recordColumnCount), entry);
        ++recordColumnCount;
      }
      insertRowsMode = false;
      parser->currentTable = data;
      parser->RecoverRows(filePath, static_cast<int32_t>(parts.rootPage),
                          static_cast<int>(parts.columns.size()), parts.name, parts.keyMark);
      parser->currentTable = -1;
      stopRequested = false;
      FileUnchanged();
    }
  } else if (kind == -3 || kind == -4 || kind == -5) {
    const auto& narrow = kind == -3 ? parser->indexStatements
                         : kind == -4 ? parser->viewStatements
                                      : parser->triggerStatements;
    const auto& wide = kind == -3 ? parser->wideIndexStatements
                       : kind == -4 ? parser->wideViewStatements
                                    : parser->wideTriggerStatements;
    // Without an encoding choice the parser followed the file's header; take
    // the list it filled.
    const bool useNarrow = fileSelection.utf8 || (!fileSelection.utf16 && !narrow.empty());
    const bool useWide = !useNarrow && (fileSelection.utf16 || !wide.empty());
    if (useNarrow && data >= 0 && static_cast<size_t>(data) < narrow.size())
      records.SetText(narrow[data]);
    else if (useWide && data >= 0 && static_cast<size_t>(data) < wide.size())
      records.SetText(Utf16ToUtf8(wide[data]));
  } else {
    endJob();
    return;
  }

  const uint64_t n = previewRows_;
  statusText = n >= 1 ? Format("%s[%llu]", text.c_str(), static_cast<unsigned long long>(n)) : text;
  SetStatusText(statusText);
  AddLogLine("Scanning process completed for folder: " + text);
  endJob();
}

// ---- Save ----

void RecoverySession::StartSave() {
  if (processRunning == 1 || WorkerAlive()) {
    ShowMessage(kPleaseWait, kAppTitle, MessageStyle::Information);
    return;
  }
  if (!parser) {
    ShowMessage(kNothingToSave, kAppTitle, MessageStyle::Information);
    lastSave = {};
    lastSave.failed = true;
    return;
  }
  bool anyChecked = false;
  for (TreeItemId group : {tablesRoot, indexesRoot, viewsRoot, triggersRoot})
    for (TreeItemId child : tree.Children(group))
      if (tree.IsChecked(child)) anyChecked = true;
  if (!anyChecked) {
    ShowMessage(kNothingChecked, kAppTitle, MessageStyle::Information);
    lastSave = {};
    lastSave.failed = true;
    return;
  }
  processRunning = 1;
  stopRequested = false;
  ShowProgress(true);
  StartWorker([this] { SaveWorker(); });
}

bool RecoverySession::StartJob(std::function<void()> body) {
  if (processRunning == 1 || WorkerAlive()) {
    ShowMessage(kPleaseWait, kAppTitle, MessageStyle::Information);
    return false;
  }
  processRunning = 1;
  stopRequested = false;
  StartWorker([this, body = std::move(body)] {
    body();
    FileUnchanged();
    insertRowsMode = false;
    stopRequested = false;
    processRunning = 0;
  });
  return true;
}

void RecoverySession::RecoverTableInto(int32_t table, RowSink& sink) {
  if (!parser || table < 0 || static_cast<size_t>(table) >= parser->tableDescriptors.size()) return;
  const TableDescriptorParts parts = ParseTableDescriptor(parser->tableDescriptors[table]);
  insertRowsMode = true;
  parser->rowSink = &sink;
  parser->currentTable = table;
  parser->RecoverRows(filePath, static_cast<int32_t>(parts.rootPage), static_cast<int>(parts.columns.size()),
                      parts.name, parts.keyMark);
  parser->rowSink = nullptr;
  parser->currentTable = -1;
  insertRowsMode = false;
}

void RecoverySession::SaveWorker() {
  lastSave = {};
  lastSave.ran = true;
  const bool written = parser->SaveDatabase("");
  lastSave.declined = !written;
  if (!FileUnchanged()) lastSave.failed = true;
  if (written && !lastSave.failed && !lastSave.outputPath.empty())
    ShowMessage("The repaired database has been saved as " + lastSave.outputPath, kAppTitle,
                MessageStyle::Information);
  // Later previews must never write into the repaired database.
  insertRowsMode = false;
  stopRequested = false;
  ShowProgress(false);
  processRunning = 0;
}

}  // namespace veltrane
