// The window and its workers: rows in batches while the window keeps
// running, Stop during a long preview, message boxes asked for by a worker,
// and closing or ending while a worker waits for an answer. A made-up parser
// keeps the timing in the test's hands.
#include <QSet>
#include <QTest>
#include <QThread>
#include <QTimer>

#include "app/bars.h"
#include "app/file_setting_dlg.h"
#include "app/panes.h"
#include "app/record_pane.h"
#include "tests/gui/fake_parser.h"
#include "tests/gui/gui_support.h"

using namespace veltrane;
using namespace veltrane::guitest;

class ThreadsTest : public QObject {
  Q_OBJECT

 private slots:
  void millionRowPreviewKeepsTheWindowRunning();
  void stopEndsALongPreviewAndKeepsItsRows();
  void clicksWhileAPreviewRunsAreRefused();
  void workerBoxesAreShownOnTheWindowThreadOnce();
  void closingWhileAWorkerWaitsInABoxDoesNotDeadlock();
  void endingTheWindowReleasesAWaitingWorker();
};

namespace {

std::string SourceCopy(Window& w) { return CopyFixture("sqlite3/ps512_utf8.db", w.dir.path()).toStdString(); }

}  // namespace

void ThreadsTest::millionRowPreviewKeepsTheWindowRunning() {
  FakeScript script;
  script.rows = 1000000;
  Window w(FakeParsers(script));
  QVERIFY(w.OpenThroughDialog(QString::fromStdString(SourceCopy(w))));
  const TreeItemId big = w.Find(w.session().tablesRoot, "big");
  QVERIFY(big != kTreeRoot);

  // While the worker decodes, a timer of the window keeps firing and the
  // table grows batch by batch.
  int ticksDuringPreview = 0;
  QSet<int> countsSeen;
  RecordTableModel* model = w.frame().recordPane()->model();
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (!w.session().WorkerAlive()) return;
    ++ticksDuringPreview;
    countsSeen.insert(model->rowCount());
  });
  probe.start(1);
  w.ClickLabel(big);
  QVERIFY(w.WaitIdle());
  probe.stop();

  QCOMPARE(model->rowCount(), 1000000);
  QVERIFY2(ticksDuringPreview >= 3, qPrintable(QString::number(ticksDuringPreview)));
  countsSeen.remove(0);
  countsSeen.remove(1000000);
  QVERIFY2(!countsSeen.isEmpty(), "no rows were shown before the preview ended");
  QCOMPARE(w.frame().captionBar()->text(), QStringLiteral(" big[1000000]"));
  QCOMPARE(model->columnCount(), 3);  // id, name, the filler column
  QCOMPARE(model->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("id< P.K >"));
  QCOMPARE(model->data(model->index(999999, 1), Qt::DisplayRole).toString(), QStringLiteral("name 1000000"));
}

void ThreadsTest::stopEndsALongPreviewAndKeepsItsRows() {
  FakeScript script;
  script.rows = 50000000;  // far more than a test waits for
  Window w(FakeParsers(script));
  QVERIFY(w.OpenThroughDialog(QString::fromStdString(SourceCopy(w))));
  QToolButton* stop = w.frame().ribbon()->button(kCommandStop);
  QVERIFY(!stop->isEnabled());

  w.ClickLabel(w.Find(w.session().tablesRoot, "big"));
  RecordTableModel* model = w.frame().recordPane()->model();
  QVERIFY(WaitFor([&] { return model->rowCount() > 0; }));
  QVERIFY(stop->isEnabled());
  QVERIFY(w.frame().statusBarCls()->progress()->isVisible());
  QTest::mouseClick(stop, Qt::LeftButton);
  QVERIFY(w.answers.Saw("Are you sure to stop the running process?"));
  QVERIFY(w.WaitIdle());

  const int rows = model->rowCount();
  QVERIFY(rows > 0);
  QVERIFY(rows < 50000000);
  QCOMPARE(static_cast<size_t>(rows), w.session().records.RowCount());
  QCOMPARE(w.frame().captionBar()->text(), QStringLiteral(" big[%1]").arg(rows));
  QVERIFY(w.LogLines().contains(QStringLiteral("Scanning process completed for folder:  big")));
  QVERIFY(!stop->isEnabled());
  QVERIFY(!w.frame().statusBarCls()->progress()->isVisible());
  QVERIFY(!w.session().stopRequested);  // the next preview shows its rows
}

void ThreadsTest::clicksWhileAPreviewRunsAreRefused() {
  FakeScript script;
  script.rows = 50000000;
  Window w(FakeParsers(script));
  QVERIFY(w.OpenThroughDialog(QString::fromStdString(SourceCopy(w))));
  const TreeItemId big = w.Find(w.session().tablesRoot, "big");
  const TreeItemId small = w.Find(w.session().tablesRoot, "small");
  w.ClickLabel(big);
  QVERIFY(WaitFor([&] { return w.session().records.RowCount() > 0; }));

  w.ClickLabel(small);
  QCOMPARE(w.answers.Count("Please wait for the running process."), 1);
  QCOMPARE(w.frame().treeModel()->IdOf(w.frame().objectTree()->currentIndex()), big);
  w.frame().OnOpen();
  QCOMPARE(w.answers.Count("Please wait for the running process."), 2);
  w.frame().OnHelp();
  w.frame().OnAbout();
  QCOMPARE(w.answers.Count("Please stop the running process to continue the process."), 2);
  QVERIFY(w.answers.openedUrls.empty());
  QVERIFY(!w.frame().OnCloseRequest());
  QVERIFY(w.answers.Saw("Please stop the running process to close the application."));
  QVERIFY(w.answers.endedWith.empty());
  QCOMPARE(w.answers.unexpectedDialogs, 0);

  w.answers.answer = [](const std::string&) { return MessageResult::Yes; };
  w.frame().OnStop();
  QVERIFY(w.WaitIdle());
}

void ThreadsTest::workerBoxesAreShownOnTheWindowThreadOnce() {
  FakeScript script;
  script.scanMessage = "File is corrupted";
  script.scanMessageTimes = 3;
  Window w(FakeParsers(script));
  bool onWindowThread = true;
  w.answers.onMessage = [&](const std::string&) {
    onWindowThread = onWindowThread && QThread::currentThread() == w.frame().thread();
  };
  QVERIFY(w.OpenThroughDialog(QString::fromStdString(SourceCopy(w))));
  QVERIFY(onWindowThread);
  QCOMPARE(w.answers.Count("File is corrupted"), 1);
  const auto it = std::find_if(w.answers.messages.begin(), w.answers.messages.end(),
                               [](const Shown& m) { return m.text == "File is corrupted"; });
  QCOMPARE(it->caption, std::string("File_Corrupted"));
  // The repeats of the same job went to the log instead.
  QCOMPARE(w.LogLines().count(QStringLiteral("File is corrupted")), 2);
}

void ThreadsTest::closingWhileAWorkerWaitsInABoxDoesNotDeadlock() {
  FakeScript script;
  script.scanMessage = "File is corrupted";
  Window w(FakeParsers(script));
  // While the worker's box is up, the user stops the scan and closes.
  w.answers.onMessage = [&](const std::string& text) {
    if (text != "File is corrupted") return;
    w.frame().OnStop();
    QVERIFY(w.frame().OnCloseRequest());
  };
  QVERIFY(w.OpenThroughDialog(QString::fromStdString(SourceCopy(w))));
  QVERIFY(script.scanDone);
  QCOMPARE(w.answers.endedWith, std::vector<int>{0});
  QVERIFY(w.answers.Saw("Do you want to close the application?"));
  QVERIFY(w.answers.Saw("Log file path: " + w.frame().logFilePath().toStdString()));
}

void ThreadsTest::endingTheWindowReleasesAWaitingWorker() {
  FakeScript script;
  script.scanMessage = "File is corrupted";
  auto w = std::make_unique<Window>(FakeParsers(script));
  const QString source = QString::fromStdString(SourceCopy(*w));
  w->answers.pickedFiles.push_back(source);
  w->answers.dialogs.push_back([](QDialog& d) {
    auto& dialog = static_cast<CQorvixFileSettingDlg&>(d);
    dialog.BrowseForFile();
    dialog.ConfirmSelection();
    return dialog.result();
  });
  w->frame().OnOpen();
  // The worker now waits for a box the window thread never gets to show.
  QVERIFY(WaitFor([&] { return script.asking.load(); }, 30000));
  QThread::msleep(20);
  w.reset();  // returns only if the waiting worker was released
  QVERIFY(script.scanDone);
}

QTEST_MAIN(ThreadsTest)
#include "test_gui_threads.moc"
