// Helpers of the window tests: a main window whose message boxes, dialogs,
// file choices, opened documents and end of program are all answered by the
// test, a temporary folder for the log and the settings, and waits that keep
// the event loop running.
#pragma once

#include <QDialog>
#include <QString>
#include <QUrl>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/main_frame.h"
#include "tests/support.h"

namespace veltrane::guitest {

struct Shown {
  std::string text;
  std::string caption;
  MessageStyle style;
};

// What the test answers in place of a human.
class Answers {
 public:
  // Fills hooks so that every box, dialog, file choice, document and end of
  // program comes here.
  void Install(UiHooks& hooks);

  std::vector<Shown> messages;
  // Answer to a Yes/No question (default Yes).
  std::function<MessageResult(const std::string& text)> answer = [](const std::string&) {
    return MessageResult::Yes;
  };
  // Called for every box before it is answered.
  std::function<void(const std::string& text)> onMessage;
  // One driver per modal dialog, used in order; a dialog without a driver is
  // rejected and counted.
  std::deque<std::function<int(QDialog&)>> dialogs;
  int unexpectedDialogs = 0;
  // Paths the file-open dialog returns, in order (empty: Cancel).
  std::deque<QString> pickedFiles;
  std::vector<QUrl> openedUrls;
  std::vector<int> endedWith;

  bool Saw(const std::string& text) const;
  int Count(const std::string& text) const;
};

// A main window on a temporary desktop and settings file.
class Window {
 public:
  explicit Window(RecoverySession::ParserFactory parsers = {}, const QString& logFolder = {});
  ~Window();

  CMainFrame& frame() { return *frame_; }
  RecoverySession& session() { return frame_->session(); }
  Answers answers;
  test::TempDir dir;
  QString settingsPath() const;

  // Opens path through the "Select Database file" dialog (browse, OK) and
  // waits for the scan to end.
  bool OpenThroughDialog(const QString& path);
  // Waits until no job runs and the window shows everything the workers
  // reported.
  bool WaitIdle(int timeoutMs = 60000);
  // The item under group whose text, without the blanks around it, is label.
  TreeItemId Find(TreeItemId group, const std::string& label);
  // Clicks the item's label, check box or expand arrow with the mouse.
  void ClickLabel(TreeItemId item);
  void ClickCheckBox(TreeItemId item);
  void ClickExpandArrow(TreeItemId item);
  // The log pane's lines, top to bottom.
  QStringList LogLines();

 private:
  std::unique_ptr<QSettings> settings_;
  std::unique_ptr<CMainFrame> frame_;
};

// A dialog driver whose body may use the QTest checks (which return void).
inline std::function<int(QDialog&)> Driver(std::function<void(QDialog&)> body) {
  return [body = std::move(body)](QDialog& d) {
    body(d);
    return d.result();
  };
}

// Keeps the event loop running until done() is true or the time is up.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 60000);
// A copy of a fixture in folder (the repaired database goes next to it).
QString CopyFixture(const std::string& relative, const std::string& folder);
// The UTF-16LE log file after its byte-order mark, split at CR LF.
QStringList ReadLogFile(const QString& path);

}  // namespace veltrane::guitest
