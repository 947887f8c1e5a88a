// Fuzz target: the scan of a file, SQLite 3 or SQLite 2, detected or forced.
#include "fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace veltrane::fuzz;
  const uint8_t* file;
  size_t fileSize;
  FuzzObserver probe("");
  if (!SplitInput(data, size, probe, file, fileSize)) return 0;
  InputFile input(file, fileSize);
  FuzzObserver observer(input.path());
  SplitInput(data, size, observer, file, fileSize);
  Scan(observer);
  return 0;
}
