// An observer for headless runs that nobody watches (benchmarks, fuzzing):
// it shows nothing, answers every question with Yes, and opens the file it
// was made for as the file dialog would, with what detection found.
#pragma once

#include <string>

#include "core/session.h"

namespace veltrane {

class QuietObserver : public SessionObserver {
 public:
  explicit QuietObserver(std::string path) : path_(std::move(path)) {}
  void AddLogLine(const std::string&, int32_t) override {}
  void SetStatusText(const std::string&) override {}
  void ShowProgress(bool) override {}
  void SetProgressRange(uint32_t) override {}
  void SetProgressPos(uint32_t) override {}
  MessageResult ShowMessage(const std::string& text, const std::string& caption, MessageStyle style) override;
  bool ChooseDatabaseFile(FileSelection& selection) override;

 protected:
  std::string path_;
};

}  // namespace veltrane
