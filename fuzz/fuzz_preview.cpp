// Fuzz target: the scan, then the preview of every object found.
#include "fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace veltrane;
  using namespace veltrane::fuzz;
  const uint8_t* file;
  size_t fileSize;
  FuzzObserver probe("");
  if (!SplitInput(data, size, probe, file, fileSize)) return 0;
  InputFile input(file, fileSize);
  FuzzObserver observer(input.path());
  SplitInput(data, size, observer, file, fileSize);
  auto session = Scan(observer);
  for (TreeItemId group : {session->tablesRoot, session->indexesRoot, session->viewsRoot, session->triggersRoot}) {
    for (TreeItemId item : session->tree.Children(group)) {
      session->StartPreview(item);
      session->WaitForWorker();
    }
  }
  return 0;
}
