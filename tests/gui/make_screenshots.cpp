// Takes the screenshots of the documentation: the main window after a scan
// with a table previewed, the "Select Database file" dialog, the "Column
// Mapping" dialog and the About dialog. Run under a display (Xvfb):
//
//   xvfb-run -s "-screen 0 1280x800x24" make_screenshots DOCS_FOLDER [FIXTURE]
#include <QApplication>
#include <QDir>
#include <filesystem>

#include "app/about_dlg.h"
#include "app/file_setting_dlg.h"
#include "app/mapping_dlg.h"
#include "app/object_tree_model.h"
#include "app/panes.h"
#include "core/text.h"
#include "tests/gui/gui_support.h"

using namespace veltrane;
using namespace veltrane::guitest;

namespace {

bool Save(QWidget& widget, const QString& path) {
  QCoreApplication::processEvents();
  const bool ok = widget.grab().save(path, "PNG");
  std::fprintf(stderr, "%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
  return ok;
}

TreeItemId FindTrimmed(RecoverySession& s, TreeItemId group, const std::string& label) {
  for (TreeItemId child : s.tree.Children(group))
    if (Trim(s.tree.Text(child)) == label) return child;
  return s.tree.FirstChild(group);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_screenshots DOCS_FOLDER [FIXTURE [TABLE]]\n");
    return 2;
  }
  const QString docs = QString::fromLocal8Bit(argv[1]);
  const std::string fixture = argc > 2 ? argv[2] : "sqlite3/ps512_utf8.db";
  const std::string table = argc > 3 ? argv[3] : "people";
  QDir().mkpath(docs);

  Window w;
  CMainFrame& frame = w.frame();
  frame.resize(1180, 760);
  frame.move(0, 0);
  // The copy the reader sees, under a plain folder name.
  std::filesystem::create_directories("/tmp/recovery");
  const QString shownCopy = CopyFixture(fixture, "/tmp/recovery");
  frame.resizeDocks({frame.fileView()}, {250}, Qt::Horizontal);

  // The file dialog, as it looks after the file was chosen.
  {
    CQorvixFileSettingDlg dialog(frame.hooks(), frame, &frame);
    dialog.BrowsePath(shownCopy);
    dialog.show();
    dialog.move(100, 100);
    Save(dialog, docs + "/file_dialog.png");
  }

  if (!w.OpenThroughDialog(shownCopy)) return 1;
  RecoverySession& s = w.session();
  const TreeItemId item = FindTrimmed(s, s.tablesRoot, table);
  // Check a few objects, as before a save.
  s.tree.SetChecked(item, true);
  s.tree.SetChecked(s.indexesRoot, true);
  frame.objectTree()->expand(frame.treeModel()->IndexOf(s.tablesRoot));
  frame.objectTree()->expand(frame.treeModel()->IndexOf(s.indexesRoot));
  w.ClickLabel(item);
  if (!w.WaitIdle()) return 1;
  Save(frame, docs + "/main_window.png");

  {
    frame.objectTree()->setCurrentIndex(frame.treeModel()->IndexOf(item));
    MappingDlg dialog(s, item, &frame);
    dialog.OnListClick(1);
    dialog.list()->selectRow(1);
    dialog.show();
    dialog.move(100, 100);
    Save(dialog, docs + "/mapping_dialog.png");
  }
  {
    CQorvixAboutDlg* about = frame.aboutDialog();
    about->show();
    Save(*about, docs + "/about_dialog.png");
    about->hide();
  }
  return 0;
}
