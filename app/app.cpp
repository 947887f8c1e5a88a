#include "app/app.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include "sqlite3/parser_factory.h"

namespace veltrane {

QUrl UserGuideUrl() {
  const QString installed =
      QCoreApplication::applicationDirPath() + QStringLiteral("/../share/doc/veltrane-recover/help.html");
  if (QFileInfo::exists(installed)) return QUrl::fromLocalFile(QFileInfo(installed).canonicalFilePath());
  return QUrl::fromLocalFile(QStringLiteral(VELTRANE_DOCS_DIR "/help.html"));
}

QString DesktopFolder() {
  const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  return desktop.isEmpty() ? QDir::homePath() + QStringLiteral("/Desktop") : desktop;
}

CQorvixDunmereProjApp::CQorvixDunmereProjApp(AppOptions options) : options_(std::move(options)) {}

bool CQorvixDunmereProjApp::InitInstance(const QStringList& arguments) {
  // The settings store.
  if (options_.settingsFile.isEmpty())
    settings_ = std::make_unique<QSettings>(QString::fromLatin1(kSettingsKey), QStringLiteral("veltrane-recover-gui"));
  else
    settings_ = std::make_unique<QSettings>(options_.settingsFile, QSettings::IniFormat);

  // One copy per machine.
  const QString lockFolder = options_.lockFolder.isEmpty() ? QDir::tempPath() : options_.lockFolder;
  if (instance_.Acquire(lockFolder.toStdString()) == SingleInstanceLock::State::AlreadyRunning) {
    ShowMessageBox(options_.hooks, nullptr, "Another instance of application is already running", kAppTitle,
                   MessageStyle::Information);
    return false;
  }

  FrameEnvironment environment;
  environment.logFolder = options_.logFolder.isEmpty() ? DesktopFolder() : options_.logFolder;
  environment.settings = settings_.get();
  environment.guideUrl = UserGuideUrl();
  environment.parsers = options_.parsers ? options_.parsers : RecoverySession::ParserFactory(MakeParser);
  environment.hooks = options_.hooks;
  frame_ = std::make_unique<CMainFrame>(std::move(environment));
  if (options_.showWindow) {
    // Without a window manager (a bare X server) "maximized" means nothing:
    // take the screen's size first.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) frame_->setGeometry(screen->availableGeometry());
    frame_->showMaximized();
  }

  if (!arguments.isEmpty()) {
    const QString file = QFileInfo(arguments.front()).absoluteFilePath();
    CMainFrame* frame = frame_.get();
    // Once the window is up, so that its messages have an owner on screen.
    QTimer::singleShot(0, frame, [frame, file] { frame->OpenPath(file); });
  }
  return true;
}

}  // namespace veltrane
