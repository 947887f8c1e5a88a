// The command line's SessionObserver: log lines to a stream (stdout, or
// stderr while stdout carries data), message boxes as "Caption: text" on
// stderr with a default answer for questions.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "core/detect.h"
#include "core/observer.h"

namespace veltrane {

class ConsoleObserver : public SessionObserver {
 public:
  // The file to recover and the user's manual choices.
  std::string path;
  ManualChoice manual;
  // Answer to the question whether an existing output file may be replaced.
  bool overwrite = false;
  // Where log lines go; nullptr keeps them quiet.
  FILE* logStream = stdout;

  void AddLogLine(const std::string& text, int32_t row) override;
  void SetStatusText(const std::string& text) override;
  void ShowProgress(bool show) override;
  void SetProgressRange(uint32_t upper) override;
  void SetProgressPos(uint32_t position) override;
  MessageResult ShowMessage(const std::string& text, const std::string& caption,
                            MessageStyle style) override;
  bool ChooseDatabaseFile(FileSelection& selection) override;

  // What detection found (for the summary the command line prints).
  FileDescription description;

 private:
  std::mutex mutex_;
};

}  // namespace veltrane
