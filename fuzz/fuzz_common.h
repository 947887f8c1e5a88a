// Shared harness of the fuzz targets: the headless core run on the fuzzer's
// input as a file.
//
// Input layout: byte 0 chooses how the file is opened (0: detected as the
// file dialog does; 1: forced SQLite 3; 2: forced SQLite 2), byte 1 the
// forced page size (512 << (b % 8)), byte 2 the forced encoding (even: UTF-8,
// odd: UTF-16); the rest is the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/quiet_observer.h"
#include "core/session.h"

namespace veltrane::fuzz {

// The quiet observer, opening the file as the harness bytes say.
class FuzzObserver : public QuietObserver {
 public:
  using QuietObserver::QuietObserver;
  bool ChooseDatabaseFile(FileSelection& selection) override;

  uint8_t mode = 0, pageSizeByte = 0, encodingByte = 0;
};

// A temporary folder of this process with the input written as a file.
class InputFile {
 public:
  InputFile(const uint8_t* data, size_t size);
  ~InputFile();
  const std::string& path() const { return path_; }
  const std::string& folder() const { return folder_; }

 private:
  std::string folder_, path_;
};

// Splits the input into the harness bytes and the file; false when too short.
bool SplitInput(const uint8_t* data, size_t size, FuzzObserver& observer, const uint8_t*& file, size_t& fileSize);

// Opens and scans the file; returns the session (its scan finished).
std::unique_ptr<RecoverySession> Scan(FuzzObserver& observer);

}  // namespace veltrane::fuzz
