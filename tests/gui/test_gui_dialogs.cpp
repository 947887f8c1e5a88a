// The three dialogs: "Select Database file" over the real format detection
// (fixture files), "Column Mapping" over a made-up parser's model, and About.
#include <QComboBox>
#include <QGroupBox>
#include <QTest>

#include "app/about_dlg.h"
#include "app/bars.h"
#include "app/file_setting_dlg.h"
#include "app/mapping_dlg.h"
#include "app/object_tree_model.h"
#include "app/panes.h"
#include "tests/gui/fake_parser.h"
#include "tests/gui/gui_support.h"

using namespace veltrane;
using namespace veltrane::guitest;

Q_DECLARE_METATYPE(std::string)

class DialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void fileDialogStartsEmpty();
  void browsingDescribesTheFile_data();
  void browsingDescribesTheFile();
  void aDestroyedHeaderCanBeParsedWithTheUsersChoice();
  void aZeroedHeaderIsInferredAndTheDialogSaysSo();
  void typedPageSizeReplacesTheHeaders();
  void radioButtonsWorkInPairs();
  void missingFilesAndCancelledBrowsingAreRefused();
  void cancelLeavesThePreviousResultsAlone();
  void aFileOnTheCommandLineOpensAtOnceWhenRecognised();
  void mappingDialogChangesATypeAndSavesTheStatement();
  void mappingDialogForAnythingButATableIsEmpty();
  void mappingDialogRefusesAnEmptyTypeChoice();
  void aboutDialogKeepsOpenOnEnterAndEscape();
};

namespace {

// A dialog over a throw-away observer that records its boxes.
struct FileDialog {
  Answers answers;
  UiHooks hooks;
  test::RecordingObserver inform;
  std::unique_ptr<CQorvixFileSettingDlg> dialog;
  FileDialog() {
    answers.Install(hooks);
    dialog = std::make_unique<CQorvixFileSettingDlg>(hooks, inform);
    dialog->show();
  }
  void Browse(const QString& path) {
    answers.pickedFiles.push_back(path);
    QTest::mouseClick(dialog->browseButton(), Qt::LeftButton);
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& m : inform.Messages()) texts.push_back(m.text);
    return texts;
  }
};

QString Fixture(const char* relative) { return QString::fromStdString(test::FixturePath(relative)); }

}  // namespace

void DialogsTest::fileDialogStartsEmpty() {
  FileDialog f;
  CQorvixFileSettingDlg& d = *f.dialog;
  QCOMPARE(d.windowTitle(), QStringLiteral("Select Database file"));
  QVERIFY(!(d.windowFlags() & Qt::WindowCloseButtonHint));
  QVERIFY(d.version2()->isChecked());
  QVERIFY(!d.version3()->isChecked());
  QVERIFY(d.utf8()->isChecked());
  QVERIFY(!d.utf16()->isChecked());
  QVERIFY(d.pathEdit()->text().isEmpty());
  QVERIFY(d.pathEdit()->isReadOnly());
  QVERIFY(d.pageSizeEdit()->text().isEmpty());
  QStringList groups;
  for (QGroupBox* g : d.findChildren<QGroupBox*>()) groups << g->title();
  groups.sort();
  QCOMPARE(groups, (QStringList{"Data stored format:", "File Information:", "File Version", "Select file path:"}));
  // Escape ends it with Cancel.
  QTest::keyClick(&d, Qt::Key_Escape);
  QCOMPARE(d.result(), static_cast<int>(QDialog::Rejected));
}

void DialogsTest::browsingDescribesTheFile_data() {
  QTest::addColumn<QString>("file");
  QTest::addColumn<bool>("version3");
  QTest::addColumn<int>("encoding");  // 0 none, 1 UTF-8, 2 UTF-16
  QTest::addColumn<QString>("pageSize");
  QTest::addColumn<qulonglong>("startOffset");
  QTest::newRow("sqlite3 utf8") << Fixture("sqlite3/ps512_utf8.db") << true << 1 << "512" << 1ull;
  QTest::newRow("sqlite3 utf16le") << Fixture("sqlite3/ps1024_utf16le.db") << true << 2 << "1024" << 1ull;
  QTest::newRow("sqlite3 utf16be") << Fixture("sqlite3/ps4096_utf16be.db") << true << 0 << "4096" << 1ull;
  QTest::newRow("sqlite2") << Fixture("sqlite2/basic.db") << false << 1 << "1024" << 0ull;
  // No header: the page size, the start and the encoding come from the pages.
  QTest::newRow("sqlite3 header destroyed") << Fixture("sqlite3/ps512_utf8__zero_header.db") << true << 1 << "512"
                                            << 1ull;
}

void DialogsTest::browsingDescribesTheFile() {
  QFETCH(QString, file);
  QFETCH(bool, version3);
  QFETCH(int, encoding);
  QFETCH(QString, pageSize);
  QFETCH(qulonglong, startOffset);
  FileDialog f;
  f.Browse(file);
  CQorvixFileSettingDlg& d = *f.dialog;
  QCOMPARE(d.pathEdit()->text(), file);
  QCOMPARE(d.version3()->isChecked(), version3);
  QCOMPARE(d.version2()->isChecked(), !version3);
  QCOMPARE(d.utf8()->isChecked(), encoding == 1);
  QCOMPARE(d.utf16()->isChecked(), encoding == 2);
  QCOMPARE(d.pageSizeEdit()->text(), pageSize);
  QVERIFY(f.inform.Messages().empty());

  QTest::mouseClick(d.okButton(), Qt::LeftButton);
  QCOMPARE(d.result(), static_cast<int>(QDialog::Accepted));
  const FileSelection& s = d.selection();
  QCOMPARE(QString::fromStdString(s.path), file);
  QCOMPARE(s.formatVersion, version3 ? 2 : 1);
  QCOMPARE(s.startOffset, static_cast<uint64_t>(startOffset));
  QCOMPARE(s.pageSize, pageSize.toULongLong());
  QCOMPARE(s.pageCount, static_cast<uint64_t>(QFileInfo(file).size()) / pageSize.toULongLong());
  QCOMPARE(s.utf8, encoding == 1);
  QCOMPARE(s.utf16, encoding == 2);
}

void DialogsTest::aDestroyedHeaderCanBeParsedWithTheUsersChoice() {
  FileDialog f;
  CQorvixFileSettingDlg& d = *f.dialog;
  test::TempDir dir;
  const QString file = CopyWithoutStructure("sqlite3/ps512_utf8__zero_header.db", dir.path(), 512);
  f.Browse(file);
  QCOMPARE(f.Texts(), (std::vector<std::string>{"The Database content is not in its appropriate form",
                                                "Version cannot be detected.Please select the version to continue"}));
  for (QRadioButton* r : {d.version2(), d.version3(), d.utf8(), d.utf16()}) QVERIFY(!r->isChecked());
  QCOMPARE(d.pathEdit()->text(), file);

  // Without a version the dialog asks for one and stays open.
  QTest::mouseClick(d.okButton(), Qt::LeftButton);
  QVERIFY(d.isVisible());
  QCOMPARE(f.Texts().back(), std::string("Version cannot be detected.Please select the version to continue"));
  // With a version but no page size it asks for the page size.
  QTest::mouseClick(d.version3(), Qt::LeftButton);
  QTest::mouseClick(d.okButton(), Qt::LeftButton);
  QVERIFY(d.isVisible());
  QCOMPARE(f.Texts().back(), std::string("Please enter the page size as a number of bytes from 1 to 65536."));

  QTest::mouseClick(d.utf8(), Qt::LeftButton);
  QTest::keyClicks(d.pageSizeEdit(), QStringLiteral("512"));
  QTest::mouseClick(d.okButton(), Qt::LeftButton);
  QCOMPARE(d.result(), static_cast<int>(QDialog::Accepted));
  const FileSelection& s = d.selection();
  QCOMPARE(s.formatVersion, 2);
  QCOMPARE(s.pageSize, uint64_t{512});
  QCOMPARE(s.startOffset, uint64_t{0});  // from the first byte
  QCOMPARE(s.pageCount, static_cast<uint64_t>(QFileInfo(file).size()) / 512);
  QVERIFY(s.utf8);
  QVERIFY(!s.utf16);
}

void DialogsTest::aZeroedHeaderIsInferredAndTheDialogSaysSo() {
  FileDialog f;
  CQorvixFileSettingDlg& d = *f.dialog;
  f.Browse(Fixture("sqlite3/ps512_utf8__zero_header.db"));
  QVERIFY(f.Texts().empty());
  QVERIFY(d.version3()->isChecked());
  QVERIFY(d.utf8()->isChecked());
  QCOMPARE(d.pageSizeEdit()->text(), QStringLiteral("512"));
  QVERIFY(d.inferredLabel()->text().startsWith(QStringLiteral("Inferred from the pages: ")));
  QVERIFY(d.inferredLabel()->text().contains(QStringLiteral("512")));
  QTest::mouseClick(d.okButton(), Qt::LeftButton);
  QCOMPARE(d.result(), static_cast<int>(QDialog::Accepted));
  QCOMPARE(d.selection().pageSize, uint64_t{512});
  // A sound file says nothing of the kind.
  d.BrowsePath(Fixture("sqlite3/ps512_utf8.db"));
  QVERIFY(d.inferredLabel()->text().isEmpty());
}

void DialogsTest::typedPageSizeReplacesTheHeaders() {
  FileDialog f;
  CQorvixFileSettingDlg& d = *f.dialog;
  f.Browse(Fixture("sqlite3/ps512_utf8.db"));
  d.pageSizeEdit()->selectAll();
  QTest::keyClicks(d.pageSizeEdit(), QStringLiteral("abc"));
  QTest::mouseClick(d.okButton(), Qt::LeftButton);
  QVERIFY(d.isVisible());
  QCOMPARE(f.Texts().back(), std::string("Please enter the page size as a number of bytes from 1 to 65536."));
  d.pageSizeEdit()->selectAll();
  QTest::keyClicks(d.pageSizeEdit(), QStringLiteral("1024"));
  QTest::mouseClick(d.okButton(), Qt::LeftButton);
  QCOMPARE(d.result(), static_cast<int>(QDialog::Accepted));
  QCOMPARE(d.selection().pageSize, uint64_t{1024});
  QCOMPARE(d.selection().formatVersion, 2);
  QVERIFY(d.selection().utf8);
}

void DialogsTest::radioButtonsWorkInPairs() {
  FileDialog f;
  CQorvixFileSettingDlg& d = *f.dialog;
  QTest::mouseClick(d.version3(), Qt::LeftButton);
  QVERIFY(d.version3()->isChecked() && !d.version2()->isChecked());
  QTest::mouseClick(d.version3(), Qt::LeftButton);  // clicking it again keeps it
  QVERIFY(d.version3()->isChecked() && !d.version2()->isChecked());
  QTest::mouseClick(d.utf16(), Qt::LeftButton);
  QVERIFY(d.utf16()->isChecked() && !d.utf8()->isChecked());
  QTest::mouseClick(d.version2(), Qt::LeftButton);
  QVERIFY(d.version2()->isChecked() && !d.version3()->isChecked());
  QVERIFY(d.utf16()->isChecked());  // the other pair is left alone
}

void DialogsTest::missingFilesAndCancelledBrowsingAreRefused() {
  FileDialog f;
  CQorvixFileSettingDlg& d = *f.dialog;
  f.Browse(QStringLiteral("/no/such/file.db"));
  QCOMPARE(f.Texts(), std::vector<std::string>{"Please select valid database file."});
  QVERIFY(d.pathEdit()->text().isEmpty());

  f.Browse(Fixture("sqlite3/ps512_utf8.db"));
  QVERIFY(!d.pathEdit()->text().isEmpty());
  f.Browse(QString());  // the file-open dialog cancelled: the findings are cleared
  QVERIFY(d.pathEdit()->text().isEmpty());
  QVERIFY(d.pageSizeEdit()->text().isEmpty());
  for (QRadioButton* r : {d.version2(), d.version3(), d.utf8(), d.utf16()}) QVERIFY(!r->isChecked());
  QTest::mouseClick(d.okButton(), Qt::LeftButton);
  QVERIFY(d.isVisible());
  QCOMPARE(f.Texts().back(), std::string("Please select valid database file."));
}

void DialogsTest::cancelLeavesThePreviousResultsAlone() {
  FakeScript script;
  Window w(FakeParsers(script));
  const QString first = CopyFixture("sqlite3/ps512_utf8.db", w.dir.path());
  QVERIFY(w.OpenThroughDialog(first));
  const size_t items = w.session().tree.ItemCount();
  const FileSelection before = w.session().fileSelection;
  sqlite_base* parser = w.session().parser.get();

  // Browse another file (a UTF-16 one), then cancel.
  w.answers.pickedFiles.push_back(Fixture("sqlite3/ps1024_utf16le.db"));
  w.answers.dialogs.push_back([](QDialog& d) {
    auto& dialog = static_cast<CQorvixFileSettingDlg&>(d);
    QTest::mouseClick(dialog.browseButton(), Qt::LeftButton);
    QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
    return dialog.result();
  });
  w.frame().OnOpen();
  QVERIFY(w.WaitIdle());
  QCOMPARE(w.session().tree.ItemCount(), items);
  QCOMPARE(w.session().parser.get(), parser);
  QCOMPARE(w.session().fileSelection.path, before.path);
  QCOMPARE(w.session().fileSelection.utf16, before.utf16);
  QCOMPARE(w.session().fileSelection.pageSize, before.pageSize);
}

void DialogsTest::aFileOnTheCommandLineOpensAtOnceWhenRecognised() {
  FakeScript script;
  Window w(FakeParsers(script));
  const QString good = CopyFixture("sqlite3/ps512_utf8.db", w.dir.path());
  w.frame().OpenPath(good);
  QVERIFY(w.WaitIdle());
  QCOMPARE(w.answers.unexpectedDialogs, 0);
  QVERIFY(script.scanDone);
  QCOMPARE(w.session().filePath, good.toStdString());

  // A file that tells nothing of its format goes to the dialog, with its path filled in.
  const QString bad = CopyWithoutStructure("sqlite3/ps512_utf8__zero_header.db", w.dir.path(), 512);
  QString shownPath;
  w.answers.dialogs.push_back([&](QDialog& d) {
    auto& dialog = static_cast<CQorvixFileSettingDlg&>(d);
    shownPath = dialog.pathEdit()->text();
    QTest::mouseClick(dialog.version3(), Qt::LeftButton);
    QTest::keyClicks(dialog.pageSizeEdit(), QStringLiteral("512"));
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    return dialog.result();
  });
  w.frame().OpenPath(bad);
  QVERIFY(w.WaitIdle());
  QCOMPARE(shownPath, bad);
  QCOMPARE(w.session().filePath, bad.toStdString());
  QCOMPARE(w.session().pageSize, uint64_t{512});
}

void DialogsTest::mappingDialogChangesATypeAndSavesTheStatement() {
  FakeScript script;
  Window w(FakeParsers(script));
  QVERIFY(w.OpenThroughDialog(CopyFixture("sqlite3/ps512_utf8.db", w.dir.path())));
  const TreeItemId big = w.Find(w.session().tablesRoot, "big");
  w.frame().objectTree()->setCurrentIndex(w.frame().treeModel()->IndexOf(big));

  bool driven = false;
  w.answers.dialogs.push_back(Driver([&](QDialog& d) {
    auto& dialog = static_cast<MappingDlg&>(d);
    dialog.show();
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Column Mapping"));
    QCOMPARE(dialog.tableEdit()->text(), QStringLiteral(" big"));
    QTableWidget* list = dialog.list();
    QCOMPARE(list->columnCount(), 3);
    QCOMPARE(list->horizontalHeaderItem(1)->text(), QStringLiteral("Column DataType"));
    QCOMPARE(list->rowCount(), 2);
    QCOMPARE(list->item(0, 0)->text(), QStringLiteral("id< P.K >"));
    QCOMPARE(list->item(1, 1)->text(), QStringLiteral("TEXT"));
    QCOMPARE(dialog.typeCombo()->count(), 12);
    QCOMPARE(dialog.typeCombo()->itemText(1), QStringLiteral("Memo"));
    QVERIFY(!dialog.changeButton()->isEnabled());
    QCOMPARE(dialog.changeButton()->text(), QStringLiteral("Change Column type"));

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1, 0)).center());
    QCOMPARE(dialog.columnLabel()->text(), QStringLiteral("name"));
    QCOMPARE(dialog.typeCombo()->currentText(), QStringLiteral("TEXT"));
    QVERIFY(dialog.changeButton()->isEnabled());
    // Beside the rows: nothing selected, the button is off again.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(5, list->viewport()->height() - 3));
    QVERIFY(!dialog.changeButton()->isEnabled());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1, 0)).center());

    dialog.typeCombo()->setCurrentIndex(dialog.typeCombo()->findText(QStringLiteral("Memo")));
    QTest::mouseClick(dialog.changeButton(), Qt::LeftButton);
    QCOMPARE(list->item(1, 2)->text(), QStringLiteral("Memo"));
    QCOMPARE(list->item(1, 1)->text(), QStringLiteral("TEXT"));
    QTest::mouseClick(dialog.saveButton(), Qt::LeftButton);
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    driven = true;
  }));
  QTest::mouseClick(w.frame().ribbon()->button(kCommandMapColumn), Qt::LeftButton);
  QVERIFY(driven);
  QVERIFY(w.answers.Saw("Changes Done"));
  QCOMPARE(w.session().parser->createStatements[0], std::string("Create Table [big] (id INTEGER , name Memo )"));
  QCOMPARE(w.session().parser->mappedTables, (std::set<int32_t>{0}));
}

void DialogsTest::mappingDialogForAnythingButATableIsEmpty() {
  FakeScript script;
  Window w(FakeParsers(script));
  QVERIFY(w.OpenThroughDialog(CopyFixture("sqlite3/ps512_utf8.db", w.dir.path())));
  const TreeItemId index = w.Find(w.session().indexesRoot, "ix ON big");
  for (TreeItemId item : {index, w.session().tablesRoot, w.session().fileItem, kTreeRoot}) {
    w.frame().objectTree()->setCurrentIndex(w.frame().treeModel()->IndexOf(item));
    w.answers.dialogs.push_back(Driver([&](QDialog& d) {
      auto& dialog = static_cast<MappingDlg&>(d);
      dialog.show();
      QCOMPARE(dialog.list()->rowCount(), 0);
      QVERIFY(dialog.tableEdit()->text().isEmpty());
      QTest::mouseClick(dialog.saveButton(), Qt::LeftButton);
      QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
    }));
    w.frame().OnMapColumn();
  }
  QCOMPARE(w.answers.unexpectedDialogs, 0);
  QVERIFY(w.answers.messages.size() == 1);  // only the scan's completion box
  QVERIFY(w.session().parser->mappedTables.empty());
}

void DialogsTest::mappingDialogRefusesAnEmptyTypeChoice() {
  FakeScript script;
  Window w(FakeParsers(script));
  QVERIFY(w.OpenThroughDialog(CopyFixture("sqlite3/ps512_utf8.db", w.dir.path())));
  MappingDlg dialog(w.session(), w.Find(w.session().tablesRoot, "small"));
  dialog.show();
  dialog.OnListClick(0);
  dialog.typeCombo()->setCurrentIndex(-1);
  QTest::mouseClick(dialog.changeButton(), Qt::LeftButton);
  QVERIFY(w.answers.Saw("please select column type from combo box"));
  QCOMPARE(dialog.list()->item(0, 2)->text(), QStringLiteral("TEXT"));
}

void DialogsTest::aboutDialogKeepsOpenOnEnterAndEscape() {
  FakeScript script;
  Window w(FakeParsers(script));
  CQorvixAboutDlg* about = w.frame().aboutDialog();
  int shown = 0;
  for (int round = 0; round < 2; ++round) {
    w.answers.dialogs.push_back(Driver([&](QDialog& d) {
      QCOMPARE(&d, static_cast<QDialog*>(about));  // one dialog for the whole run
      d.show();
      QCOMPARE(d.windowTitle(), QString::fromLatin1(kAppTitle));
      QCOMPARE(about->titleStatic()->text(), QString::fromLatin1(kAppTitle));
      QTest::keyClick(&d, Qt::Key_Escape);
      QTest::keyClick(about->okButton(), Qt::Key_Return);
      QTest::keyClick(&d, Qt::Key_Enter);
      QVERIFY(d.isVisible());
      QTest::mouseClick(about->okButton(), Qt::LeftButton);
      QVERIFY(!d.isVisible());
      ++shown;
    }));
    w.frame().OnAbout();
  }
  QCOMPARE(shown, 2);
  // The link opens the user guide.
  emit about->guideLink()->linkActivated(QString());
  QCOMPARE(w.answers.openedUrls.size(), size_t{1});
  QCOMPARE(w.answers.openedUrls[0], QUrl(QStringLiteral("file:///guide/help.html")));
}

QTEST_MAIN(DialogsTest)
#include "test_gui_dialogs.moc"
