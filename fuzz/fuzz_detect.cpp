// Fuzz target: format detection of the file dialog.
#include "core/detect.h"
#include "fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  veltrane::fuzz::InputFile input(data, size);
  veltrane::fuzz::FuzzObserver observer(input.path());
  veltrane::FileSelection selection;
  veltrane::DescribeFile(input.path(), selection, observer);
  return 0;
}
