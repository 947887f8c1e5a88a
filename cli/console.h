// The terminal shared by every job of one command: whole lines on stdout and
// stderr, and a progress line on stderr while it is a terminal. Thread-safe.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace veltrane {

class Console {
 public:
  static Console& Get();

  // Writes text and a line feed to stream, clearing the progress line first.
  void Line(FILE* stream, const std::string& text);
  // Writes raw bytes to stream (rows of data).
  void Write(FILE* stream, const std::string& bytes);
  // Shows text as the progress line (only when stderr is a terminal).
  void Progress(const std::string& text);
  void ClearProgress();
  bool progressEnabled() const { return progressEnabled_; }

 private:
  Console();
  void ClearLocked();
  std::mutex mutex_;
  bool progressEnabled_ = false;
  bool progressShown_ = false;
};

}  // namespace veltrane
