// The command line's SessionObserver: log lines to a stream (stdout, or
// stderr while stdout carries data), message boxes as "Caption: text" on
// stderr with a default answer for questions, progress kept for the
// progress line.
#pragma once

#include <atomic>
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
  // Put in front of every line (the file's name when several run at once).
  std::string prefix;

  void AddLogLine(const std::string& text, int32_t row) override;
  void SetStatusText(const std::string& text) override;
  void ShowProgress(bool show) override;
  void SetProgressRange(uint32_t upper) override;
  void SetProgressPos(uint32_t position) override;
  MessageResult ShowMessage(const std::string& text, const std::string& caption,
                            MessageStyle style) override;
  bool ChooseDatabaseFile(FileSelection& selection) override;

  // What detection found.
  FileDescription description;
  // The text of the last message box (what went wrong, for a summary line).
  std::string LastMessage() const;
  // "label  position/range" for the progress line; empty when no job shows progress.
  std::string ProgressText() const;

 private:
  mutable std::mutex mutex_;
  std::string lastMessage_;
  std::string lastLog_;
  std::atomic<bool> progressVisible_{false};
  std::atomic<uint32_t> range_{0};
  std::atomic<uint32_t> position_{0};
};

}  // namespace veltrane
