// Start-up and the main frame's shell: one copy per machine, the settings
// store and the visual styles, the parts of the window, the log file, the
// Help and About commands and the close request.
#include <QDockWidget>
#include <QFile>
#include <QMenu>
#include <QSettings>
#include <QTest>

#include "app/app.h"
#include "app/bars.h"
#include "app/panes.h"
#include "app/record_pane.h"
#include "core/text.h"
#include "tests/gui/fake_parser.h"
#include "tests/gui/gui_support.h"

using namespace veltrane;
using namespace veltrane::guitest;

class StartupTest : public QObject {
  Q_OBJECT

 private slots:
  void aSecondCopyIsRefused();
  void aFileOnTheCommandLineIsOpenedOnceTheWindowIsUp();
  void theWindowHasItsParts();
  void theStoredLookIsAppliedAndKept();
  void progressBarFollowsTheStatusBarsWidth();
  void theLogFileHoldsEveryLine();
  void aSecondOpenPutsNewLinesOnTop();
  void aLogFileThatCannotBeOpenedKeepsThePane();
  void helpOpensTheUserGuide();
  void theCloseRequestAsksAndShowsTheLogPath();
};

namespace {

AppOptions Options(test::TempDir& dir, Answers& answers) {
  AppOptions o;
  o.lockFolder = QString::fromStdString(dir.path());
  o.settingsFile = QString::fromStdString(dir.File("settings.ini"));
  o.logFolder = QString::fromStdString(dir.File("Desktop"));
  o.showWindow = false;
  answers.Install(o.hooks);
  return o;
}

}  // namespace

void StartupTest::aSecondCopyIsRefused() {
  test::TempDir dir;
  Answers firstAnswers, secondAnswers, thirdAnswers;
  auto first = std::make_unique<CQorvixDunmereProjApp>(Options(dir, firstAnswers));
  QVERIFY(first->InitInstance({}));
  QVERIFY(first->mainFrame() != nullptr);

  CQorvixDunmereProjApp second(Options(dir, secondAnswers));
  QVERIFY(!second.InitInstance({}));
  QVERIFY(second.mainFrame() == nullptr);
  QCOMPARE(secondAnswers.messages.size(), size_t{1});
  QCOMPARE(secondAnswers.messages[0].text, std::string("Another instance of application is already running"));
  QCOMPARE(secondAnswers.messages[0].caption, std::string(kAppTitle));
  QCOMPARE(secondAnswers.messages[0].style, MessageStyle::Information);

  // Once the first copy has ended the next one starts.
  first.reset();
  CQorvixDunmereProjApp third(Options(dir, thirdAnswers));
  QVERIFY(third.InitInstance({}));
  QVERIFY(thirdAnswers.messages.empty());
}

void StartupTest::aFileOnTheCommandLineIsOpenedOnceTheWindowIsUp() {
  test::TempDir dir;
  Answers answers;
  FakeScript script;
  AppOptions options = Options(dir, answers);
  options.parsers = FakeParsers(script);
  CQorvixDunmereProjApp app(options);
  const QString file = CopyFixture("sqlite3/ps512_utf8.db", dir.path());
  QVERIFY(app.InitInstance({file}));
  QVERIFY(WaitFor([&] { return script.scanDone.load(); }));
  QVERIFY(WaitFor([&] { return !app.mainFrame()->session().WorkerAlive(); }));
  QCOMPARE(app.mainFrame()->session().filePath, file.toStdString());
  QCOMPARE(answers.unexpectedDialogs, 0);
}

void StartupTest::theWindowHasItsParts() {
  Window w;
  CMainFrame& f = w.frame();
  QCOMPARE(f.windowTitle(), QString::fromLatin1(kAppTitle));
  QCOMPARE(f.captionBar()->text(), QStringLiteral("Select database file to continue the recovery process."));
  QCOMPARE(f.fileView()->windowTitle(), QStringLiteral("SQLite Database Objects"));
  QCOMPARE(f.outputWnd()->windowTitle(), QStringLiteral("Output"));
  QCOMPARE(f.dockWidgetArea(f.fileView()), Qt::LeftDockWidgetArea);
  QCOMPARE(f.dockWidgetArea(f.outputWnd()), Qt::BottomDockWidgetArea);
  QCOMPARE(f.statusBarCls()->titlePane()->text(), QString::fromLatin1(kAppTitle));
  QVERIFY(!f.statusBarCls()->progress()->isVisible());

  const struct {
    int id;
    const char* text;
    const char* tip;
  } buttons[] = {{kCommandOpen, "Open", "Open database file"},
                 {kCommandStop, "Stop", "Stop running process"},
                 {kCommandMapColumn, "Map Column", "Map Column"},
                 {kCommandSave, "Save", "Save recovered data"},
                 {kCommandHelp, "Help", "Help for Veltrane SQLite Database Recovery"},
                 {kCommandAbout, "About", "About Veltrane SQLite Database Recovery"}};
  for (const auto& b : buttons) {
    QToolButton* button = f.ribbon()->button(b.id);
    QVERIFY(button);
    QCOMPARE(button->text(), QString::fromLatin1(b.text));
    QCOMPARE(button->toolTip(), QString::fromLatin1(b.tip));
    QCOMPARE(button->isEnabled(), b.id != kCommandStop);  // Stop only while a job runs
    QVERIFY(!button->icon().isNull());
  }

  // The record pane starts with the empty text box; the list is hidden.
  QVERIFY(f.recordPane()->textBox()->isVisible());
  QVERIFY(!f.recordPane()->recordList()->isVisible());
  QVERIFY(f.recordPane()->textBox()->isReadOnly());
  // The list's only column is the filler column with an empty heading.
  QCOMPARE(f.recordPane()->model()->columnCount(), 1);
  QCOMPARE(f.recordPane()->model()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QString());
}

void StartupTest::theStoredLookIsAppliedAndKept() {
  const struct {
    QVariant stored;
    int applied;
  } cases[] = {{QVariant(), kDefaultLook}, {216, 216}, {999, kDefaultLook}, {210, 210}};
  for (const auto& c : cases) {
    test::TempDir dir;
    const QString path = QString::fromStdString(dir.File("settings.ini"));
    if (c.stored.isValid()) QSettings(path, QSettings::IniFormat).setValue(kLookSetting, c.stored);
    Answers answers;
    AppOptions options = Options(dir, answers);
    CQorvixDunmereProjApp app(options);
    QVERIFY(app.InitInstance({}));
    QCOMPARE(app.mainFrame()->look(), c.applied);
    app.settings()->sync();
    QCOMPARE(QSettings(path, QSettings::IniFormat).value(kLookSetting).toInt(), c.applied);
    if (c.applied == 216) QVERIFY(QApplication::palette().color(QPalette::Window).lightness() < 128);
  }

  // Choosing a style in the menu applies it and stores it.
  Window w;
  QAction* black = nullptr;
  for (QAction* a : w.frame().ribbon()->styleMenu()->actions())
    if (a->data().toInt() == 216) black = a;
  QVERIFY(black);
  black->trigger();
  QCOMPARE(w.frame().look(), 216);
  QVERIFY(black->isChecked());
  QSettings(w.settingsPath(), QSettings::IniFormat).sync();
  w.frame().ApplyLook(kDefaultLook);
  QCOMPARE(QSettings(w.settingsPath(), QSettings::IniFormat).value(kLookSetting).toInt(), kDefaultLook);
  QCOMPARE(w.frame().ribbon()->styleMenu()->actions().size(), 9);
}

void StartupTest::progressBarFollowsTheStatusBarsWidth() {
  Window w;
  CRibbonStatusBarCls* bar = w.frame().statusBarCls();
  for (int width : {1200, 900, 500}) {
    w.frame().resize(width, 700);
    QCoreApplication::processEvents();
    const QRect r = bar->progress()->geometry();
    QCOMPARE(r.x(), 250);
    QCOMPARE(r.y(), 3);
    QCOMPARE(r.width(), std::max(0, bar->width() - 560));
    QCOMPARE(r.height(), 17);
  }
}

void StartupTest::theLogFileHoldsEveryLine() {
  FakeScript script;
  Window w(FakeParsers(script));
  QVERIFY(w.frame().logFileOpen());
  const QString logPath = w.frame().logFilePath();
  QVERIFY(logPath.startsWith(QString::fromStdString(w.dir.File("Desktop/VeltraneSQLite_log_"))));
  QVERIFY(logPath.endsWith(QStringLiteral(".txt")));
  const QString source = CopyFixture("sqlite3/ps512_utf8.db", w.dir.path());
  QVERIFY(w.OpenThroughDialog(source));
  w.ClickLabel(w.Find(w.session().tablesRoot, "small"));
  QVERIFY(w.WaitIdle());

  const QStringList expected = {source + " File is selected for recovery....",
                                " File is Parsing ",
                                "Scanning process for selected file has been completed successfully.",
                                "Please wait while  small folder is scanning.",
                                "Scanning process completed for folder:  small"};
  QCOMPARE(w.LogLines(), expected);

  QFile raw(logPath);
  QVERIFY(raw.open(QIODevice::ReadOnly));
  QCOMPARE(raw.read(2), QByteArray("\xFF\xFE", 2));
  QStringList file = ReadLogFile(logPath);
  // After the mark, the run header: an empty line, then 80 asterisks.
  QCOMPARE(file.value(0), QString());
  QCOMPARE(file.value(1), QString(80, QLatin1Char('*')));
  QCOMPARE(file.mid(2, expected.size()), expected);
  QCOMPARE(file.last(), QString());  // every line ends with CR LF
}

void StartupTest::aSecondOpenPutsNewLinesOnTop() {
  FakeScript script;
  Window w(FakeParsers(script));
  const QString first = CopyFixture("sqlite3/ps512_utf8.db", w.dir.path());
  const QString second = CopyFixture("sqlite2/basic.db", w.dir.path());
  QVERIFY(w.OpenThroughDialog(first));
  QVERIFY(w.OpenThroughDialog(second));
  const QStringList lines = w.LogLines();
  QCOMPARE(lines.size(), 6);
  QCOMPARE(lines[0], second + " File is selected for recovery....");
  QCOMPARE(lines[3], first + " File is selected for recovery....");
  QCOMPARE(w.session().fileItem, w.session().tree.TopItem());
  QCOMPARE(w.session().tree.Text(w.session().fileItem), second.toStdString());
}

void StartupTest::aLogFileThatCannotBeOpenedKeepsThePane() {
  test::TempDir elsewhere;
  const std::string notAFolder = elsewhere.File("plain-file");
  test::WriteFile(notAFolder, "x");
  FakeScript script;
  Window w(FakeParsers(script), QString::fromStdString(notAFolder));
  QVERIFY(!w.frame().logFileOpen());
  QVERIFY(w.OpenThroughDialog(CopyFixture("sqlite3/ps512_utf8.db", w.dir.path())));
  QCOMPARE(w.LogLines().size(), 3);
  QVERIFY(w.frame().OnCloseRequest());
  QVERIFY(w.answers.messages.back().text.rfind("Log file path: ", 0) == 0);
}

void StartupTest::helpOpensTheUserGuide() {
  Window w;
  QTest::mouseClick(w.frame().ribbon()->button(kCommandHelp), Qt::LeftButton);
  QCOMPARE(w.answers.openedUrls, std::vector<QUrl>{QUrl(QStringLiteral("file:///guide/help.html"))});
  emit w.frame().statusBarCls()->link()->linkActivated(QStringLiteral("help"));
  QCOMPARE(w.answers.openedUrls.size(), size_t{2});
  // The guide the program is built with exists.
  QVERIFY(QFile::exists(UserGuideUrl().toLocalFile()));
}

void StartupTest::theCloseRequestAsksAndShowsTheLogPath() {
  Window w;
  w.answers.answer = [](const std::string&) { return MessageResult::No; };
  QVERIFY(!w.frame().OnCloseRequest());
  QCOMPARE(w.answers.messages.back().text, std::string("Do you want to close the application?"));
  QCOMPARE(w.answers.messages.back().style, MessageStyle::YesNoQuestion);
  QVERIFY(w.answers.endedWith.empty());
  QVERIFY(w.frame().logFileOpen());

  // The window's close box asks the same question.
  w.answers.answer = [](const std::string&) { return MessageResult::Yes; };
  w.frame().close();
  QCOMPARE(w.answers.messages.back().text, "Log file path: " + w.frame().logFilePath().toStdString());
  QCOMPARE(w.answers.messages.back().style, MessageStyle::Information);
  QCOMPARE(w.answers.endedWith, std::vector<int>{0});
  QVERIFY(!w.frame().logFileOpen());
  QVERIFY(w.frame().isVisible());  // the hook ended nothing; the window stays for the test
}

QTEST_MAIN(StartupTest)
#include "test_gui_startup.moc"
