// The application object: one per process. It makes sure one copy of the
// window runs on the machine, selects the settings store, creates the main
// window and opens a file named on the command line.
#pragma once

#include <QSettings>
#include <QStringList>
#include <QUrl>
#include <memory>

#include "app/main_frame.h"
#include "core/single_instance.h"

namespace veltrane {

inline constexpr const char* kSettingsKey = "VeltraneSQLITERepv17";

// Where things go; the defaults are the machine's own places.
struct AppOptions {
  QString lockFolder;    // empty: the system temp folder
  QString settingsFile;  // empty: the per-user settings store
  QString logFolder;     // empty: the desktop folder
  bool showWindow = true;
  UiHooks hooks;
  RecoverySession::ParserFactory parsers;  // empty: both real parsers
};

// The user guide shipped with the program: next to the installed program,
// else in the source tree it was built from.
QUrl UserGuideUrl();
// The desktop folder (created by the log file when it is missing).
QString DesktopFolder();

class CQorvixDunmereProjApp {
 public:
  explicit CQorvixDunmereProjApp(AppOptions options = {});
  CQorvixDunmereProjApp(const CQorvixDunmereProjApp&) = delete;
  CQorvixDunmereProjApp& operator=(const CQorvixDunmereProjApp&) = delete;

  // Start-up; false ends the program (another copy runs). arguments are the
  // program's arguments without the program name: at most one FILE.
  bool InitInstance(const QStringList& arguments);

  CMainFrame* mainFrame() const { return frame_.get(); }
  QSettings* settings() const { return settings_.get(); }

 private:
  AppOptions options_;
  SingleInstanceLock instance_;
  std::unique_ptr<QSettings> settings_;
  std::unique_ptr<CMainFrame> frame_;
};

}  // namespace veltrane
