// Recoveries through the window with the real parsers on the shared
// fixtures: open through the dialog, scan, preview tables and statements,
// the linked check boxes, Stop, save the checked objects, Map Column, and a
// million-row preview that keeps the window running.
#include <sqlite3.h>

#include <QSet>
#include <QTest>
#include <QTimer>
#include <set>

#include "app/bars.h"
#include "app/file_setting_dlg.h"
#include "app/mapping_dlg.h"
#include "app/object_tree_model.h"
#include "app/panes.h"
#include "app/record_pane.h"
#include "core/text.h"
#include "tests/gui/gui_support.h"

using namespace veltrane;
using namespace veltrane::guitest;

class RecoveryTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void scanFillsTheTree();
  void clickingATableShowsItsRows();
  void clickingAnIndexShowsItsStatement();
  void checkBoxesArrowsAndGroupsStartNoPreview();
  void checkingAGroupChecksItsObjects();
  void saveWritesTheCheckedObjects();
  void saveWithNothingCheckedWritesNothing();
  void mappedTypesReachTheRepairedTable();
  void sqlite2FilesAreRecoveredToo();
  void aDestroyedHeaderIsParsedWithTheUsersChoice();
  void stopEndsALongPreview();
  void millionRowPreviewKeepsTheWindowRunning();

 private:
  test::TempDir data_;
  QString big_;  // a table of a million rows, made with the SQLite library
};

namespace {

constexpr int kBigRows = 1000000;

bool MakeBigDatabase(const std::string& path, int rows) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return false;
  bool ok = sqlite3_exec(db, "PRAGMA page_size=4096; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
                             "CREATE TABLE big(id INTEGER PRIMARY KEY, name TEXT, n INTEGER); BEGIN;",
                         nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_stmt* insert = nullptr;
  ok = ok && sqlite3_prepare_v2(db, "INSERT INTO big(name, n) VALUES(?, ?)", -1, &insert, nullptr) == SQLITE_OK;
  for (int i = 1; ok && i <= rows; ++i) {
    const std::string name = "row " + std::to_string(i);
    sqlite3_bind_text(insert, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 2, i * 7);
    ok = sqlite3_step(insert) == SQLITE_DONE;
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

// Runs one query on a database and returns the first column of every row.
QStringList Query(const QString& path, const char* sql) {
  QStringList out;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return {QStringLiteral("<cannot open>")};
  }
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK) {
    while (sqlite3_step(stmt) == SQLITE_ROW)
      out << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
  } else {
    out << QStringLiteral("<error> ") + QString::fromUtf8(sqlite3_errmsg(db));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return out;
}

QStringList Labels(RecoverySession& s, TreeItemId group) {
  QStringList labels;
  for (TreeItemId child : s.tree.Children(group)) labels << QString::fromStdString(std::string(Trim(s.tree.Text(child))));
  return labels;
}

// The values of one column of the record list.
QStringList Column(CMainFrame& f, int column) {
  RecordTableModel* m = f.recordPane()->model();
  QStringList values;
  for (int r = 0; r < m->rowCount(); ++r) values << m->data(m->index(r, column), Qt::DisplayRole).toString();
  return values;
}

QStringList TruthColumn(const std::string& fixture, const std::string& table, size_t column) {
  const nlohmann::json truth = test::LoadJson(test::FixturePath(fixture));
  QStringList values;
  for (const auto& row : truth["tables"][table]["rows"])
    values << (row[column].is_string() ? QString::fromStdString(row[column].get<std::string>()) : QString());
  return values;
}

QStringList Sorted(QStringList list) {
  list.sort();
  return list;
}

}  // namespace

void RecoveryTest::initTestCase() {
  big_ = QString::fromStdString(data_.File("big.db"));
  QVERIFY(MakeBigDatabase(big_.toStdString(), kBigRows));
}

void RecoveryTest::scanFillsTheTree() {
  Window w;
  const QString source = CopyFixture("sqlite3/ps512_utf8.db", w.dir.path());
  QVERIFY(w.OpenThroughDialog(source));
  RecoverySession& s = w.session();
  QCOMPARE(s.tree.Children(kTreeRoot).size(), size_t{1});
  QCOMPARE(QString::fromStdString(s.tree.Text(s.fileItem)), source);
  QCOMPARE(s.tree.Data(s.fileItem), -1);
  const std::vector<TreeItemId> groups = s.tree.Children(s.fileItem);
  QCOMPARE(groups.size(), size_t{4});
  const char* names[] = {"TABLES  ", "INDEXES  ", "VIEWS  ", "TRIGGERS  "};
  for (int g = 0; g < 4; ++g) {
    QCOMPARE(s.tree.Text(groups[g]), std::string(names[g]));
    QCOMPARE(s.tree.Data(groups[g]), -2 - g);
  }
  QCOMPARE(Sorted(Labels(s, s.tablesRoot)), Sorted({"items", "log", "docs", "people", "events"}));
  QCOMPARE(Labels(s, s.indexesRoot).size(), 3);
  QCOMPARE(Labels(s, s.viewsRoot).size(), 2);
  QCOMPARE(Labels(s, s.triggersRoot).size(), 2);

  // The window shows the same tree, with the file item expanded.
  ObjectTreeModel* model = w.frame().treeModel();
  QCOMPARE(model->rowCount(), 1);
  const QModelIndex file = model->index(0, 0);
  QCOMPARE(model->rowCount(file), 4);
  QCOMPARE(model->rowCount(model->index(0, 0, file)), 5);
  QVERIFY(w.frame().objectTree()->isExpanded(file));
  QVERIFY(w.answers.Saw("Scanning process for selected file has been completed successfully."));
  QVERIFY(!w.frame().ribbon()->button(kCommandStop)->isEnabled());
  QVERIFY(!w.frame().statusBarCls()->progress()->isVisible());
  QCOMPARE(w.frame().captionBar()->text(), source);
}

void RecoveryTest::clickingATableShowsItsRows() {
  Window w;
  QVERIFY(w.OpenThroughDialog(CopyFixture("sqlite3/ps512_utf8.db", w.dir.path())));
  const TreeItemId people = w.Find(w.session().tablesRoot, "people");
  QVERIFY(people != kTreeRoot);
  w.ClickLabel(people);
  QVERIFY(w.WaitIdle());

  CMainFrame& f = w.frame();
  RecordTableModel* model = f.recordPane()->model();
  QCOMPARE(model->rowCount(), 200);
  QCOMPARE(model->tableColumnCount(), 6);
  QCOMPARE(model->columnCount(), 7);  // and the filler column
  QCOMPARE(model->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString().trimmed(), QStringLiteral("first"));
  QVERIFY(f.recordPane()->recordList()->isVisible());
  QVERIFY(!f.recordPane()->textBox()->isVisible());
  const QString label = QString::fromStdString(w.session().tree.Text(people));
  QCOMPARE(f.captionBar()->text(), label + QStringLiteral("[200]"));
  QCOMPARE(Sorted(Column(f, 1)), Sorted(TruthColumn("sqlite3/ps512_utf8.json", "people", 1)));
  QCOMPARE(Sorted(Column(f, 3)), Sorted(TruthColumn("sqlite3/ps512_utf8.json", "people", 3)));
  QVERIFY(w.LogLines().contains("Please wait while " + label + " folder is scanning."));
  QVERIFY(w.LogLines().contains("Scanning process completed for folder: " + label));

  // The next table starts again from the filler column alone.
  w.ClickLabel(w.Find(w.session().tablesRoot, "log"));
  QVERIFY(w.WaitIdle());
  QCOMPARE(model->tableColumnCount(), 2);
  QCOMPARE(model->rowCount(), 196);
  QCOMPARE(Sorted(Column(f, 1)), Sorted(TruthColumn("sqlite3/ps512_utf8.json", "log", 1)));
}

void RecoveryTest::clickingAnIndexShowsItsStatement() {
  Window w;
  QVERIFY(w.OpenThroughDialog(CopyFixture("sqlite3/ps512_utf8.db", w.dir.path())));
  RecoverySession& s = w.session();
  w.ClickLabel(w.Find(s.tablesRoot, "items"));
  QVERIFY(w.WaitIdle());
  TreeItemId index = kTreeRoot;
  for (TreeItemId child : s.tree.Children(s.indexesRoot))
    if (s.tree.Text(child).find("items_name") != std::string::npos) index = child;
  QVERIFY(index != kTreeRoot);
  w.ClickLabel(index);
  QVERIFY(w.WaitIdle());

  CQorvixStatic* pane = w.frame().recordPane();
  QVERIFY(pane->textBox()->isVisible());
  QVERIFY(!pane->recordList()->isVisible());
  QVERIFY2(pane->textBox()->toPlainText().startsWith(QStringLiteral("CREATE INDEX items_name ON items(name")),
           qPrintable(pane->textBox()->toPlainText()));
  QCOMPARE(pane->model()->tableColumnCount(), 0);
  QCOMPARE(pane->model()->rowCount(), 0);
  QCOMPARE(w.frame().captionBar()->text(), QString::fromStdString(s.tree.Text(index)));

  // A view shows its statement as well.
  const TreeItemId view = s.tree.FirstChild(s.viewsRoot);
  w.ClickLabel(view);
  QVERIFY(w.WaitIdle());
  QVERIFY(pane->textBox()->toPlainText().contains(QStringLiteral("VIEW")));
}

void RecoveryTest::checkBoxesArrowsAndGroupsStartNoPreview() {
  Window w;
  QVERIFY(w.OpenThroughDialog(CopyFixture("sqlite3/ps512_utf8.db", w.dir.path())));
  RecoverySession& s = w.session();
  const TreeItemId people = w.Find(s.tablesRoot, "people");
  w.ClickLabel(people);
  QVERIFY(w.WaitIdle());
  const int linesBefore = w.LogLines().size();

  w.ClickCheckBox(people);
  QVERIFY(s.tree.IsChecked(people));
  const QModelIndex indexes = w.frame().treeModel()->IndexOf(s.indexesRoot);
  const bool wasExpanded = w.frame().objectTree()->isExpanded(indexes);
  w.ClickExpandArrow(s.indexesRoot);
  QCOMPARE(w.frame().objectTree()->isExpanded(indexes), !wasExpanded);
  QVERIFY(w.WaitIdle());
  QCOMPARE(w.LogLines().size(), linesBefore);  // no preview started
  QCOMPARE(w.frame().recordPane()->model()->rowCount(), 200);

  // The group's label: the pane is emptied and stays empty, without the
  // completion line of a preview.
  w.ClickLabel(s.tablesRoot);
  QVERIFY(w.WaitIdle());
  QCOMPARE(w.frame().recordPane()->model()->rowCount(), 0);
  QVERIFY(w.frame().recordPane()->textBox()->isVisible());
  QVERIFY(w.frame().recordPane()->textBox()->toPlainText().isEmpty());
  const QStringList after = w.LogLines();
  QCOMPARE(after.size(), linesBefore + 1);
  QVERIFY(after.back().startsWith(QStringLiteral("Please wait while ")));
  w.ClickLabel(s.fileItem);
  QVERIFY(w.WaitIdle());
  QVERIFY(!w.LogLines().back().startsWith(QStringLiteral("Scanning process completed for folder:")));
}

void RecoveryTest::checkingAGroupChecksItsObjects() {
  Window w;
  QVERIFY(w.OpenThroughDialog(CopyFixture("sqlite3/ps512_utf8.db", w.dir.path())));
  RecoverySession& s = w.session();
  ObjectTreeModel* model = w.frame().treeModel();
  w.ClickCheckBox(s.tablesRoot);
  for (TreeItemId t : s.tree.Children(s.tablesRoot)) QVERIFY(s.tree.IsChecked(t));
  QCOMPARE(model->data(model->IndexOf(s.tablesRoot), Qt::CheckStateRole).toInt(), static_cast<int>(Qt::Checked));
  const TreeItemId log = w.Find(s.tablesRoot, "log");
  w.ClickCheckBox(log);
  QVERIFY(!s.tree.IsChecked(log));
  QVERIFY(!s.tree.IsChecked(s.tablesRoot));
  QCOMPARE(model->data(model->IndexOf(s.tablesRoot), Qt::CheckStateRole).toInt(),
           static_cast<int>(Qt::PartiallyChecked));
  QCOMPARE(model->data(model->IndexOf(log), Qt::CheckStateRole).toInt(), static_cast<int>(Qt::Unchecked));
}

void RecoveryTest::saveWritesTheCheckedObjects() {
  Window w;
  const QString source = CopyFixture("sqlite3/ps512_utf8.db", w.dir.path());
  QVERIFY(w.OpenThroughDialog(source));
  RecoverySession& s = w.session();
  w.ClickCheckBox(w.Find(s.tablesRoot, "people"));
  w.ClickCheckBox(w.Find(s.tablesRoot, "log"));
  TreeItemId index = kTreeRoot;
  for (TreeItemId child : s.tree.Children(s.indexesRoot))
    if (s.tree.Text(child).find("people_name") != std::string::npos) index = child;
  QVERIFY(index != kTreeRoot);
  w.ClickCheckBox(index);

  QTest::mouseClick(w.frame().ribbon()->button(kCommandSave), Qt::LeftButton);
  QVERIFY(w.WaitIdle());
  const QString output = QString::fromStdString(w.dir.File("Repaired_ps512_utf8.db"));
  QVERIFY(w.answers.Saw("The repaired database has been saved as " + output.toStdString()));
  QCOMPARE(Query(output, "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name"),
           (QStringList{"log", "people"}));
  QCOMPARE(Query(output, "SELECT count(*) FROM people"), QStringList{"200"});
  QCOMPARE(Query(output, "SELECT count(*) FROM log"), QStringList{"196"});
  QCOMPARE(Query(output, "SELECT name FROM sqlite_master WHERE type='index'"), QStringList{"people_name"});
  QCOMPARE(Sorted(Query(output, "SELECT first FROM people")),
           Sorted(TruthColumn("sqlite3/ps512_utf8.json", "people", 1)));
  QVERIFY(!w.frame().statusBarCls()->progress()->isVisible());
}

void RecoveryTest::saveWithNothingCheckedWritesNothing() {
  Window w;
  w.frame().OnSave();
  QVERIFY(w.answers.Saw("There is no recovered data to save. Please open a database file first."));
  QVERIFY(w.OpenThroughDialog(CopyFixture("sqlite3/ps512_utf8.db", w.dir.path())));
  w.frame().OnSave();
  QVERIFY(w.WaitIdle());
  QVERIFY(w.answers.Saw("No object is checked for saving. Please check the objects to save."));
  QVERIFY(!QFileInfo::exists(QString::fromStdString(w.dir.File("Repaired_ps512_utf8.db"))));
}

void RecoveryTest::mappedTypesReachTheRepairedTable() {
  Window w;
  QVERIFY(w.OpenThroughDialog(CopyFixture("sqlite3/ps512_utf8.db", w.dir.path())));
  RecoverySession& s = w.session();
  const TreeItemId people = w.Find(s.tablesRoot, "people");
  w.ClickLabel(people);
  QVERIFY(w.WaitIdle());

  const int32_t position = s.tree.Data(people);
  const std::vector<std::string> recovered = s.parser->tableColumnTypes.at(position);
  w.answers.dialogs.push_back(Driver([&](QDialog& d) {
    auto& dialog = static_cast<MappingDlg&>(d);
    dialog.show();
    QCOMPARE(dialog.list()->rowCount(), 6);
    for (int r = 0; r < 6; ++r) QCOMPARE(dialog.list()->item(r, 1)->text().toStdString(), recovered.at(r));
    dialog.OnListClick(5);  // score
    QCOMPARE(dialog.columnLabel()->text(), QStringLiteral("score"));
    dialog.typeCombo()->setCurrentIndex(dialog.typeCombo()->findText(QStringLiteral("double")));
    QTest::mouseClick(dialog.changeButton(), Qt::LeftButton);
    QTest::mouseClick(dialog.saveButton(), Qt::LeftButton);
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
  }));
  w.frame().OnMapColumn();
  QVERIFY(w.answers.Saw("Changes Done"));

  w.ClickCheckBox(people);
  w.frame().OnSave();
  QVERIFY(w.WaitIdle());
  const QString output = QString::fromStdString(w.dir.File("Repaired_ps512_utf8.db"));
  QCOMPARE(Query(output, "SELECT type FROM pragma_table_info('people') WHERE name='score'"), QStringList{"double"});
  QCOMPARE(Query(output, "SELECT count(*) FROM people"), QStringList{"200"});
}

void RecoveryTest::sqlite2FilesAreRecoveredToo() {
  Window w;
  const QString source = CopyFixture("sqlite2/basic.db", w.dir.path());
  QVERIFY(w.OpenThroughDialog(source));
  RecoverySession& s = w.session();
  const TreeItemId people = w.Find(s.tablesRoot, "people");
  QVERIFY(people != kTreeRoot);
  w.ClickLabel(people);
  QVERIFY(w.WaitIdle());
  QCOMPARE(w.frame().recordPane()->model()->rowCount(), 10);
  QVERIFY(Column(w.frame(), 1).contains(QStringLiteral("O'Neil")));

  w.ClickCheckBox(people);
  w.frame().OnSave();
  QVERIFY(w.WaitIdle());
  QCOMPARE(Query(QString::fromStdString(w.dir.File("Repaired_basic.db")), "SELECT count(*) FROM people"),
           QStringList{"10"});
}

void RecoveryTest::aDestroyedHeaderIsParsedWithTheUsersChoice() {
  Window w;
  const QString source = CopyFixture("sqlite3/ps512_utf8__zero_header.db", w.dir.path());
  w.answers.pickedFiles.push_back(source);
  w.answers.dialogs.push_back(Driver([](QDialog& d) {
    auto& dialog = static_cast<CQorvixFileSettingDlg&>(d);
    dialog.show();
    QTest::mouseClick(dialog.browseButton(), Qt::LeftButton);
    QTest::mouseClick(dialog.version3(), Qt::LeftButton);
    QTest::mouseClick(dialog.utf8(), Qt::LeftButton);
    QTest::keyClicks(dialog.pageSizeEdit(), QStringLiteral("512"));
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
  }));
  w.frame().OnOpen();
  QVERIFY(w.WaitIdle());
  QVERIFY(w.answers.Saw("Version cannot be detected.Please select the version to continue"));
  // The scan ran with the user's choice: SQLite 3 from the first byte, 512-byte pages.
  RecoverySession& s = w.session();
  QCOMPARE(s.filePath, source.toStdString());
  QCOMPARE(s.pageSize, uint64_t{512});
  QCOMPARE(s.startOffset, uint64_t{0});
  QCOMPARE(s.pageCount, static_cast<uint64_t>(QFileInfo(source).size()) / 512);
  QVERIFY(s.parser != nullptr);
  QVERIFY(s.parser->utf8Mode);
  QVERIFY(w.LogLines().contains(QStringLiteral(" File is Parsing ")));
}

void RecoveryTest::stopEndsALongPreview() {
  Window w;
  QVERIFY(w.OpenThroughDialog(big_));
  w.ClickLabel(w.Find(w.session().tablesRoot, "big"));
  RecordTableModel* model = w.frame().recordPane()->model();
  QVERIFY(WaitFor([&] { return model->rowCount() > 0 || !w.session().WorkerAlive(); }));
  QVERIFY2(w.session().WorkerAlive(), "the preview ended before Stop");
  QTest::mouseClick(w.frame().ribbon()->button(kCommandStop), Qt::LeftButton);
  QVERIFY(w.WaitIdle());
  QVERIFY(w.answers.Saw("Are you sure to stop the running process?"));
  const int rows = model->rowCount();
  QVERIFY(rows > 0 && rows < kBigRows);
  QCOMPARE(w.frame().captionBar()->text(),
           QString::fromStdString(w.session().tree.Text(w.Find(w.session().tablesRoot, "big"))) +
               QStringLiteral("[%1]").arg(rows));
}

void RecoveryTest::millionRowPreviewKeepsTheWindowRunning() {
  Window w;
  QVERIFY(w.OpenThroughDialog(big_));
  const TreeItemId big = w.Find(w.session().tablesRoot, "big");
  RecordTableModel* model = w.frame().recordPane()->model();
  int ticksDuringPreview = 0;
  QSet<int> countsSeen;
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (!w.session().WorkerAlive()) return;
    ++ticksDuringPreview;
    countsSeen.insert(model->rowCount());
  });
  probe.start(1);
  w.ClickLabel(big);
  QVERIFY(w.WaitIdle(240000));
  probe.stop();
  QCOMPARE(model->rowCount(), kBigRows);
  QVERIFY(ticksDuringPreview >= 3);
  countsSeen.remove(0);
  countsSeen.remove(kBigRows);
  QVERIFY2(!countsSeen.isEmpty(), "no rows were shown before the preview ended");
  QCOMPARE(model->data(model->index(kBigRows - 1, 1), Qt::DisplayRole).toString(), QStringLiteral("row 1000000"));
}

QTEST_MAIN(RecoveryTest)
#include "test_gui_recovery.moc"
