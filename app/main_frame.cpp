#include "app/main_frame.h"

#include <unistd.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QThread>
#include <QVBoxLayout>
#include <cstdio>
#include <ctime>

#include "app/about_dlg.h"
#include "app/bars.h"
#include "app/file_setting_dlg.h"
#include "app/icons.h"
#include "app/mapping_dlg.h"
#include "app/object_tree_model.h"
#include "app/panes.h"
#include "app/record_pane.h"
#include "app/visual_style.h"

namespace veltrane {

namespace {

constexpr const char* kSelectFileText = "Select database file to continue the recovery process.";
constexpr const char* kStopToContinue = "Please stop the running process to continue the process.";
constexpr int kSyncIntervalMs = 40;

bool IsQuestion(MessageStyle style) { return style == MessageStyle::YesNo || style == MessageStyle::YesNoQuestion; }

}  // namespace

// A message box a worker waits for.
struct CMainFrame::PendingMessage {
  std::string text, caption;
  MessageStyle style = MessageStyle::Plain;
  bool answered = false;
  MessageResult result = MessageResult::Ok;
};

CMainFrame::CMainFrame(FrameEnvironment environment, QWidget* parent)
    : QMainWindow(parent), env_(std::move(environment)) {
  setObjectName(QStringLiteral("CMainFrame"));
  setWindowTitle(QString::fromLatin1(kAppTitle));
  setWindowIcon(MakeIcon(IconKind::Application));
  session_ = std::make_unique<RecoverySession>(*this, env_.parsers);

  // The command bar and the caption bar under it, across the whole window.
  auto* top = new QWidget(this);
  auto* topLayout = new QVBoxLayout(top);
  topLayout->setContentsMargins(0, 0, 0, 0);
  topLayout->setSpacing(0);
  ribbon_ = new RibbonBar(top);
  captionBar_ = new CMyCaptionBar(top);
  topLayout->addWidget(ribbon_);
  topLayout->addWidget(captionBar_);
  setMenuWidget(top);

  statusBar_ = new CRibbonStatusBarCls(this);
  setStatusBar(statusBar_);

  setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowNestedDocks | QMainWindow::AllowTabbedDocks);
  setCorner(Qt::BottomLeftCorner, Qt::LeftDockWidgetArea);
  fileView_ = new CFileView(this);
  outputWnd_ = new COutputWnd(this);
  addDockWidget(Qt::LeftDockWidgetArea, fileView_);
  addDockWidget(Qt::BottomDockWidgetArea, outputWnd_);
  resizeDocks({fileView_}, {200}, Qt::Horizontal);
  resizeDocks({outputWnd_}, {100}, Qt::Vertical);

  view_ = new CQorvixDunmereProjView(session_->records, this);
  setCentralWidget(view_);

  treeModel_ = new ObjectTreeModel(session_->tree, fileView_);
  objectTree()->setModel(treeModel_);
  connect(treeModel_, &ObjectTreeModel::expandRequested, objectTree(), &QTreeView::expand);
  connect(objectTree(), &CXHtmlTree::labelClicked, this,
          [this](const QModelIndex& index) { OnTreeLabelClick(treeModel_->IdOf(index)); });
  connect(ribbon_, &RibbonBar::commandTriggered, this, &CMainFrame::OnCommand);
  connect(ribbon_, &RibbonBar::lookChosen, this, &CMainFrame::ApplyLook);
  connect(statusBar_, &CRibbonStatusBarCls::linkActivated, this, [this] { OpenUrl(env_.hooks, env_.guideUrl); });

  about_ = new CQorvixAboutDlg(env_.hooks, env_.guideUrl, this);

  const int stored = env_.settings ? env_.settings->value(kLookSetting, kDefaultLook).toInt() : kDefaultLook;
  ApplyLook(stored);

  SetStatusText(kSelectFileText);
  statusBar_->progress()->hide();
  ribbon_->button(kCommandStop)->setEnabled(false);

  connect(&syncTimer_, &QTimer::timeout, this, &CMainFrame::SyncNow);
  syncTimer_.start(kSyncIntervalMs);

  OpenLogFile();
}

CMainFrame::~CMainFrame() {
  Shutdown();
  syncTimer_.stop();
  // The views read the session's models: take them down before the session.
  session_->tree.SetListener(nullptr);
  session_->records.SetListener(nullptr);
  delete about_;
  delete view_;
  delete fileView_;
  delete outputWnd_;
  session_.reset();
}

CXHtmlTree* CMainFrame::objectTree() const { return fileView_->tree(); }
CQorvixListCtrl* CMainFrame::logList() const { return outputWnd_->list(); }
CQorvixStatic* CMainFrame::recordPane() const { return view_->pane(); }

void CMainFrame::OpenLogFile() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  // A log file that cannot be opened leaves the lines in the pane only.
  log_.Open(env_.logFolder.toStdString(), local);
}

void CMainFrame::Post(std::function<void()> work) {
  QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void CMainFrame::Shutdown() {
  {
    std::lock_guard lock(handoverMutex_);
    abandoned_ = true;
  }
  handoverDone_.notify_all();
  if (session_) {
    session_->stopRequested = true;
    session_->WaitForWorker();
  }
}

// ---- the look ----

void CMainFrame::ApplyLook(int look) {
  look_ = ValidLook(look);
  ApplyLookToApplication(look_);
  ribbon_->SetLook(look_);
  captionBar_->SetLook(look_);
  if (env_.settings) env_.settings->setValue(kLookSetting, look_);
}

// ---- SessionObserver ----

void CMainFrame::AddLogLine(const std::string& text, int32_t row) {
  log_.Write(text);
  bool first;
  {
    std::lock_guard lock(logMutex_);
    first = pendingLines_.empty();
    pendingLines_.emplace_back(row, QString::fromStdString(text));
  }
  if (first) Post([this] { FlushLogLines(); });
}

void CMainFrame::FlushLogLines() {
  std::vector<std::pair<int32_t, QString>> lines;
  {
    std::lock_guard lock(logMutex_);
    lines.swap(pendingLines_);
  }
  CQorvixListCtrl* list = logList();
  for (auto& [row, text] : lines) list->InsertLine(row, text);
  if (!lines.empty()) list->scrollToItem(list->item(std::min(lines.back().first, list->count() - 1)));
}

void CMainFrame::SetStatusText(const std::string& text) {
  Post([this, t = QString::fromStdString(text)] { captionBar_->SetText(t); });
}

void CMainFrame::ShowProgress(bool show) {
  Post([this, show] {
    if (show) SyncNow();
    statusBar_->progress()->setVisible(show);
  });
}

void CMainFrame::SetProgressRange(uint32_t upper) {
  progressRange_.store(upper, std::memory_order_relaxed);
  progressPos_.store(0, std::memory_order_relaxed);
  progressChanged_.store(true, std::memory_order_release);
}

void CMainFrame::SetProgressPos(uint32_t position) {
  progressPos_.store(position, std::memory_order_relaxed);
  progressChanged_.store(true, std::memory_order_release);
}

MessageResult CMainFrame::ShowMessage(const std::string& text, const std::string& caption, MessageStyle style) {
  if (QThread::currentThread() == thread()) return ShowMessageBox(env_.hooks, this, text, caption, style);

  // A worker: hand the box to the window thread and wait for the answer.
  auto request = std::make_shared<PendingMessage>();
  request->text = text;
  request->caption = caption;
  request->style = style;
  {
    std::lock_guard lock(handoverMutex_);
    if (abandoned_) return IsQuestion(style) ? MessageResult::No : MessageResult::Ok;
  }
  Post([this, request] { AnswerPending(request); });
  std::unique_lock lock(handoverMutex_);
  handoverDone_.wait(lock, [&] { return request->answered || abandoned_; });
  if (request->answered) return request->result;
  return IsQuestion(style) ? MessageResult::No : MessageResult::Ok;
}

void CMainFrame::AnswerPending(const std::shared_ptr<PendingMessage>& request) {
  {
    std::lock_guard lock(handoverMutex_);
    if (abandoned_) return;
  }
  // Lines logged before the box was asked for are shown before it.
  FlushLogLines();
  const MessageResult result = ShowMessageBox(env_.hooks, this, request->text, request->caption, request->style);
  {
    std::lock_guard lock(handoverMutex_);
    request->result = result;
    request->answered = true;
  }
  handoverDone_.notify_all();
}

bool CMainFrame::ChooseDatabaseFile(FileSelection& selection) {
  CQorvixFileSettingDlg dialog(env_.hooks, *this, this);
  dialog.SetSelection(selection);
  if (!startPath_.isEmpty()) {
    dialog.BrowsePath(startPath_);
    if (dialog.Recognised()) {
      selection = dialog.selection();
      return true;
    }
  }
  if (RunModal(env_.hooks, dialog) != QDialog::Accepted) return false;
  selection = dialog.selection();
  return true;
}

void CMainFrame::TreeChanged(const TreeChange& change) {
  Post([this, change] { treeModel_->Apply(change); });
}

void CMainFrame::RecordListChanged(const RecordListChange& change) {
  recordPane()->model()->Note(change);
  if (change.kind == RecordListChange::Kind::TextChanged || change.kind == RecordListChange::Kind::ViewChanged)
    Post([this] { recordPane()->ShowFromModel(); });
}

// ---- the timer ----

void CMainFrame::SyncNow() {
  recordPane()->model()->Sync();
  ribbon_->button(kCommandStop)->setEnabled(session_->processRunning.load() != 0);
  if (progressChanged_.exchange(false, std::memory_order_acquire)) {
    QProgressBar* bar = statusBar_->progress();
    const uint32_t upper = progressRange_.load(std::memory_order_relaxed);
    const uint32_t pos = progressPos_.load(std::memory_order_relaxed);
    const int max = static_cast<int>(std::min<uint32_t>(upper, INT32_MAX));
    // An empty range shows an empty bar, not a busy one.
    bar->setRange(0, std::max(max, 1));
    bar->setValue(static_cast<int>(std::min<uint32_t>(std::min<uint32_t>(pos, upper), INT32_MAX)));
  }
}

// ---- commands ----

void CMainFrame::OnCommand(int command) {
  switch (command) {
    case kCommandOpen:
      OnOpen();
      break;
    case kCommandStop:
      OnStop();
      break;
    case kCommandMapColumn:
      OnMapColumn();
      break;
    case kCommandSave:
      OnSave();
      break;
    case kCommandHelp:
      OnHelp();
      break;
    case kCommandAbout:
      OnAbout();
      break;
    default:
      break;
  }
}

void CMainFrame::OnOpen() { session_->OpenFile(); }

void CMainFrame::OnStop() { session_->RequestStop(); }

TreeItemId CMainFrame::SelectedTreeItem() const { return treeModel_->IdOf(objectTree()->currentIndex()); }

void CMainFrame::OnMapColumn() {
  MappingDlg dialog(*session_, SelectedTreeItem(), this);
  RunModal(env_.hooks, dialog);
}

void CMainFrame::OnSave() { session_->StartSave(); }

void CMainFrame::OnHelp() {
  if (session_->processRunning == 1) {
    ShowMessage(kStopToContinue, kAppTitle, MessageStyle::Information);
    return;
  }
  OpenUrl(env_.hooks, env_.guideUrl);
}

void CMainFrame::OnAbout() {
  if (session_->processRunning == 1) {
    ShowMessage(kStopToContinue, kAppTitle, MessageStyle::Information);
    return;
  }
  RunModal(env_.hooks, *about_);
}

void CMainFrame::OnTreeLabelClick(TreeItemId item) {
  if (session_->processRunning == 1 || session_->WorkerAlive()) {
    // The item being previewed stays the selected one.
    const QModelIndex previewed = treeModel_->IndexOf(session_->previewItem);
    if (previewed.isValid()) objectTree()->setCurrentIndex(previewed);
  }
  // Refuses with "Please wait for the running process." while a job runs.
  session_->StartPreview(item);
}

void CMainFrame::OpenPath(const QString& path) {
  startPath_ = path;
  session_->OpenFile();
  startPath_.clear();
}

bool CMainFrame::OnCloseRequest() {
  if (session_->processRunning == 1) {
    ShowMessage("Please stop the running process to close the application.", kAppTitle, MessageStyle::Information);
    return false;
  }
  if (ShowMessage("Do you want to close the application?", kAppTitle, MessageStyle::YesNoQuestion) !=
      MessageResult::Yes)
    return false;

  session_->stopRequested = true;
  {
    // A worker still waiting for an answer gets No and goes on to its end.
    std::lock_guard lock(handoverMutex_);
    abandoned_ = true;
  }
  handoverDone_.notify_all();
  // A worker after Stop may still use the parser and the reader; the end of
  // the process releases them then.
  if (!session_->WorkerAlive()) {
    session_->WaitForWorker();
    session_->ResetSession();
  }
  log_.Close();
  ShowMessage("Log file path: " + log_.path(), kAppTitle, MessageStyle::Information);
  if (env_.settings) env_.settings->sync();

  if (env_.hooks.endProcess) {
    env_.hooks.endProcess(0);
  } else if (session_->WorkerAlive()) {
    // A scan does not look at the stop request; end without waiting for it.
    std::fflush(nullptr);
    ::_exit(0);
  } else {
    QCoreApplication::exit(0);
  }
  return true;
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  event->ignore();
  OnCloseRequest();
}

}  // namespace veltrane
