// Fuzz target: the scan, then the save of everything into a temporary folder.
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
  if (session->fileItem == kTreeRoot) return 0;
  session->tree.SetChecked(session->fileItem, true);
  session->outputPathOverride = input.folder() + "/repaired.db";
  session->StartSave();
  session->WaitForWorker();
  return 0;
}
