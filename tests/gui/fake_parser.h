// A parser for the window's own tests: a fixed schema and rows made up as
// they are asked for, so that the test controls the timing (a preview of a
// million rows, a message box asked for by a worker).
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "core/parser.h"
#include "core/session.h"

namespace veltrane::guitest {

struct FakeScript {
  uint64_t rows = 10;             // rows of the table "big"
  std::string scanMessage;        // a box the scan asks for from the worker
  int scanMessageTimes = 1;       // how often the scan asks for it
  std::atomic<bool> asking{false};  // set right before that box is asked for
  std::atomic<bool> scanDone{false};
};

// Tables "big" (id, name) and "small" (a), index "ix" (utf8 file).
class FakeParser : public sqlite_base {
 public:
  explicit FakeParser(FakeScript& script) : script_(script) {}
  void ParseFile(const std::string& path) override;
  void RecoverRows(std::string path, int32_t rootPage, int columnCount, const std::string& tableName,
                   int keyMark) override;
  std::string CleanIdentifier(const std::string& name) override { return veltrane::CleanIdentifier(name); }

 private:
  FakeScript& script_;
};

inline RecoverySession::ParserFactory FakeParsers(FakeScript& script) {
  return [&script](int32_t) { return std::make_unique<FakeParser>(script); };
}

}  // namespace veltrane::guitest
