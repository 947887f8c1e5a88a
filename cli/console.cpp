#include "cli/console.h"

#include <unistd.h>

namespace veltrane {

Console& Console::Get() {
  static Console console;
  return console;
}

Console::Console() : progressEnabled_(::isatty(STDERR_FILENO) == 1) {}

void Console::ClearLocked() {
  if (!progressShown_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  progressShown_ = false;
}

void Console::Line(FILE* stream, const std::string& text) {
  std::lock_guard lock(mutex_);
  ClearLocked();
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fputc('\n', stream);
  if (stream == stderr) std::fflush(stderr);
}

void Console::Write(FILE* stream, const std::string& bytes) {
  std::lock_guard lock(mutex_);
  if (stream == stderr) ClearLocked();
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

void Console::Progress(const std::string& text) {
  if (!progressEnabled_) return;
  std::lock_guard lock(mutex_);
  std::fflush(stdout);
  std::fputs("\r\033[K", stderr);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
  progressShown_ = true;
}

void Console::ClearProgress() {
  std::lock_guard lock(mutex_);
  ClearLocked();
}

}  // namespace veltrane
