// One job of the headless core on one file, for timing from outside:
//
//   hostile_bench scan FILE           the scan
//   hostile_bench preview FILE        the scan, then the preview of the first
//                                     16 objects of each group, rows kept as
//                                     the window keeps them
//   hostile_bench save FILE OUT       the scan, then the save of everything
//
// Prints the rows previewed or saved; bench/hostile_bench.sh measures time
// and peak memory of each job on hostile files of growing size.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/quiet_observer.h"
#include "core/session.h"
#include "sqlite3/parser_factory.h"

using namespace veltrane;

namespace {
constexpr size_t kPreviewsPerGroup = 16;
std::vector<TreeItemId> FirstFew(std::vector<TreeItemId> items) {
  if (items.size() > kPreviewsPerGroup) items.resize(kPreviewsPerGroup);
  return items;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || (std::strcmp(argv[1], "save") == 0 && argc < 4)) {
    std::fprintf(stderr, "usage: hostile_bench scan|preview FILE | hostile_bench save FILE OUT\n");
    return 2;
  }
  const std::string job = argv[1];
  QuietObserver observer(argv[2]);
  RecoverySession session(observer, MakeParser);
  session.OpenFile();
  session.WaitForWorker();
  uint64_t rows = 0;
  if (job == "preview") {
    for (TreeItemId group : {session.tablesRoot, session.indexesRoot, session.viewsRoot, session.triggersRoot})
      // A preview is one job per object: the first few of each group tell
      // the cost of one (a file of thousands of objects would otherwise
      // time the clicks on all of them).
      for (TreeItemId item : FirstFew(session.tree.Children(group))) {
        session.StartPreview(item);
        session.WaitForWorker();
        rows += session.records.RowCount();
      }
  } else if (job == "save" && session.fileItem != kTreeRoot) {
    session.tree.SetChecked(session.fileItem, true);
    session.outputPathOverride = argv[3];
    session.StartSave();
    session.WaitForWorker();
    rows = session.lastSave.rowsWritten;
  }
  std::printf("%s %s: %llu rows\n", job.c_str(), argv[2], static_cast<unsigned long long>(rows));
  return 0;
}
