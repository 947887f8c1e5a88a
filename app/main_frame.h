// The main window: command bar, caption bar, the object tree and log panes,
// the record pane and the status bar. It holds the recovery session and is
// its SessionObserver.
//
// Threads: the session's workers call the observer from their own thread.
// Log lines, status texts, progress visibility, tree changes and the record
// pane's view changes are queued to the window thread in the order they
// come; rows and progress values are only noted (atomics) and picked up by a
// timer in batches; a message box from a worker is handed to the window
// thread and the worker waits for the answer. The window thread never waits
// for a worker while one may be waiting for it: at the end of the program
// every waiting worker is released with a safe answer (No) first.
#pragma once

#include <QMainWindow>
#include <QSettings>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "app/ui_hooks.h"
#include "core/activity_log.h"
#include "core/session.h"

namespace veltrane {

class CFileView;
class COutputWnd;
class CMyCaptionBar;
class CQorvixAboutDlg;
class CQorvixDunmereProjView;
class CQorvixListCtrl;
class CQorvixStatic;
class CRibbonStatusBarCls;
class CXHtmlTree;
class ObjectTreeModel;
class RibbonBar;

// What the main window is given by the application object.
struct FrameEnvironment {
  QString logFolder;                        // where the log file goes (the desktop)
  QSettings* settings = nullptr;            // "ApplicationLook"; nullptr: nothing is stored
  QUrl guideUrl;                            // the user guide shipped with the program
  RecoverySession::ParserFactory parsers;   // the parser of a format version
  UiHooks hooks;
};

class CMainFrame : public QMainWindow, public SessionObserver {
  Q_OBJECT

 public:
  explicit CMainFrame(FrameEnvironment environment, QWidget* parent = nullptr);
  ~CMainFrame() override;

  RecoverySession& session() { return *session_; }
  UiHooks& hooks() { return env_.hooks; }

  RibbonBar* ribbon() const { return ribbon_; }
  CMyCaptionBar* captionBar() const { return captionBar_; }
  CRibbonStatusBarCls* statusBarCls() const { return statusBar_; }
  CFileView* fileView() const { return fileView_; }
  COutputWnd* outputWnd() const { return outputWnd_; }
  CXHtmlTree* objectTree() const;
  CQorvixListCtrl* logList() const;
  ObjectTreeModel* treeModel() const { return treeModel_; }
  CQorvixStatic* recordPane() const;
  CQorvixAboutDlg* aboutDialog() const { return about_; }
  QString logFilePath() const { return QString::fromStdString(log_.path()); }
  bool logFileOpen() const { return log_.IsOpen(); }
  int look() const { return look_; }

  // ---- Commands (window thread) ----
  void OnCommand(int command);
  void OnOpen();
  void OnStop();
  void OnMapColumn();
  void OnSave();
  void OnHelp();
  void OnAbout();
  // The close request; true when the program is ending.
  bool OnCloseRequest();
  // A click on an item's label in the object tree.
  void OnTreeLabelClick(TreeItemId item);
  // Opens a file named on the command line through the dialog's logic: a
  // recognised file is scanned at once, any other goes to the dialog.
  void OpenPath(const QString& path);
  void ApplyLook(int look);
  // Brings rows, progress and the Stop button up to date now (the timer does
  // it every few milliseconds).
  void SyncNow();
  // Releases every worker waiting for an answer and waits for the worker to
  // end. Called at the end of the program.
  void Shutdown();

  // ---- SessionObserver (any thread) ----
  void AddLogLine(const std::string& text, int32_t row) override;
  void SetStatusText(const std::string& text) override;
  void ShowProgress(bool show) override;
  void SetProgressRange(uint32_t upper) override;
  void SetProgressPos(uint32_t position) override;
  MessageResult ShowMessage(const std::string& text, const std::string& caption, MessageStyle style) override;
  bool ChooseDatabaseFile(FileSelection& selection) override;
  void TreeChanged(const TreeChange& change) override;
  void RecordListChanged(const RecordListChange& change) override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  struct PendingMessage;
  void Post(std::function<void()> work);
  void FlushLogLines();
  void AnswerPending(const std::shared_ptr<PendingMessage>& request);
  void OpenLogFile();
  TreeItemId SelectedTreeItem() const;

  FrameEnvironment env_;
  std::unique_ptr<RecoverySession> session_;
  ActivityLog log_;
  int look_ = 0;
  QString startPath_;  // the command line's file while it is being opened

  RibbonBar* ribbon_ = nullptr;
  CMyCaptionBar* captionBar_ = nullptr;
  CRibbonStatusBarCls* statusBar_ = nullptr;
  CFileView* fileView_ = nullptr;
  COutputWnd* outputWnd_ = nullptr;
  CQorvixDunmereProjView* view_ = nullptr;
  ObjectTreeModel* treeModel_ = nullptr;
  CQorvixAboutDlg* about_ = nullptr;
  QTimer syncTimer_;

  // Progress, as the workers last reported it.
  std::atomic<uint32_t> progressRange_{0};
  std::atomic<uint32_t> progressPos_{0};
  std::atomic<bool> progressChanged_{false};

  // Log lines on their way to the log pane.
  std::mutex logMutex_;
  std::vector<std::pair<int32_t, QString>> pendingLines_;

  // Message boxes asked for by workers.
  std::mutex handoverMutex_;
  std::condition_variable handoverDone_;
  bool abandoned_ = false;
};

}  // namespace veltrane
