#include "tests/gui/gui_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <filesystem>

#include "app/file_setting_dlg.h"
#include "app/object_tree_model.h"
#include "app/panes.h"
#include "core/text.h"
#include "sqlite3/parser_factory.h"

namespace veltrane::guitest {

void Answers::Install(UiHooks& hooks) {
  hooks.answerMessage = [this](const std::string& text, const std::string& caption, MessageStyle style) {
    messages.push_back({text, caption, style});
    if (onMessage) onMessage(text);
    if (style == MessageStyle::YesNo || style == MessageStyle::YesNoQuestion) return answer(text);
    return MessageResult::Ok;
  };
  hooks.runModal = [this](QDialog& dialog) {
    if (dialogs.empty()) {
      ++unexpectedDialogs;
      return static_cast<int>(QDialog::Rejected);
    }
    auto driver = std::move(dialogs.front());
    dialogs.pop_front();
    return driver(dialog);
  };
  hooks.pickFile = [this](QWidget*) {
    if (pickedFiles.empty()) return QString();
    QString path = pickedFiles.front();
    pickedFiles.pop_front();
    return path;
  };
  hooks.openUrl = [this](const QUrl& url) { openedUrls.push_back(url); };
  hooks.endProcess = [this](int status) { endedWith.push_back(status); };
}

bool Answers::Saw(const std::string& text) const { return Count(text) > 0; }

int Answers::Count(const std::string& text) const {
  return static_cast<int>(std::count_if(messages.begin(), messages.end(), [&](const Shown& m) { return m.text == text; }));
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  return true;
}

Window::Window(RecoverySession::ParserFactory parsers, const QString& logFolder) {
  settings_ = std::make_unique<QSettings>(settingsPath(), QSettings::IniFormat);
  FrameEnvironment env;
  env.logFolder = logFolder.isEmpty() ? QString::fromStdString(dir.File("Desktop")) : logFolder;
  env.settings = settings_.get();
  env.guideUrl = QUrl(QStringLiteral("file:///guide/help.html"));
  env.parsers = parsers ? parsers : RecoverySession::ParserFactory(MakeParser);
  answers.Install(env.hooks);
  frame_ = std::make_unique<CMainFrame>(std::move(env));
  frame_->resize(1100, 700);
  frame_->show();
  QCoreApplication::processEvents();
}

Window::~Window() { frame_.reset(); }

QString Window::settingsPath() const { return QString::fromStdString(dir.File("settings.ini")); }

bool Window::WaitIdle(int timeoutMs) {
  const bool idle = WaitFor(
      [this] { return !session().WorkerAlive() && session().processRunning == 0; }, timeoutMs);
  // Everything the worker posted, then one more batch of rows.
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  frame_->SyncNow();
  QCoreApplication::processEvents();
  return idle;
}

bool Window::OpenThroughDialog(const QString& path) {
  answers.pickedFiles.push_back(path);
  answers.dialogs.push_back([](QDialog& d) {
    auto& dialog = static_cast<CQorvixFileSettingDlg&>(d);
    dialog.show();
    QTest::mouseClick(dialog.browseButton(), Qt::LeftButton);
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    return dialog.result();
  });
  frame_->OnOpen();
  return WaitIdle();
}

TreeItemId Window::Find(TreeItemId group, const std::string& label) {
  for (TreeItemId child : session().tree.Children(group))
    if (Trim(session().tree.Text(child)) == label) return child;
  return kTreeRoot;
}

namespace {
void ShowAndLocate(CMainFrame& frame, TreeItemId item, QModelIndex* index) {
  *index = frame.treeModel()->IndexOf(item);
  frame.objectTree()->scrollTo(*index);
  QCoreApplication::processEvents();
}
}  // namespace

void Window::ClickLabel(TreeItemId item) {
  QModelIndex index;
  ShowAndLocate(*frame_, item, &index);
  QTest::mouseClick(frame_->objectTree()->viewport(), Qt::LeftButton, {},
                    frame_->objectTree()->LabelRect(index).center());
}

void Window::ClickCheckBox(TreeItemId item) {
  QModelIndex index;
  ShowAndLocate(*frame_, item, &index);
  QTest::mouseClick(frame_->objectTree()->viewport(), Qt::LeftButton, {},
                    frame_->objectTree()->CheckBoxRect(index).center());
  QCoreApplication::processEvents();
}

void Window::ClickExpandArrow(TreeItemId item) {
  QModelIndex index;
  ShowAndLocate(*frame_, item, &index);
  const QRect row = frame_->objectTree()->visualRect(index);
  // The arrow sits in the indentation left of the item.
  const QPoint arrow(row.left() - frame_->objectTree()->indentation() / 2, row.center().y());
  QTest::mouseClick(frame_->objectTree()->viewport(), Qt::LeftButton, {}, arrow);
  QCoreApplication::processEvents();
}

QStringList Window::LogLines() {
  QCoreApplication::processEvents();
  return frame_->logList()->Lines();
}

QString CopyFixture(const std::string& relative, const std::string& folder) {
  const std::filesystem::path from = test::FixturePath(relative);
  const std::filesystem::path to = std::filesystem::path(folder) / from.filename();
  std::error_code ec;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
  if (ec) qWarning("cannot copy %s: %s", from.c_str(), ec.message().c_str());
  return QString::fromStdString(to.string());
}

QStringList ReadLogFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QByteArray bytes = file.readAll();
  if (bytes.startsWith("\xFF\xFE")) bytes.remove(0, 2);
  QString text = QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()), bytes.size() / 2);
  return text.split(QStringLiteral("\r\n"));
}

}  // namespace veltrane::guitest
