#include "cli/console_observer.h"

namespace veltrane {

void ConsoleObserver::AddLogLine(const std::string& text, int32_t) {
  if (logStream == nullptr) return;
  std::lock_guard lock(mutex_);
  std::fputs(text.c_str(), logStream);
  std::fputc('\n', logStream);
}

void ConsoleObserver::SetStatusText(const std::string&) {}
void ConsoleObserver::ShowProgress(bool) {}
void ConsoleObserver::SetProgressRange(uint32_t) {}
void ConsoleObserver::SetProgressPos(uint32_t) {}

MessageResult ConsoleObserver::ShowMessage(const std::string& text, const std::string& caption,
                                           MessageStyle style) {
  const bool question = style == MessageStyle::YesNo || style == MessageStyle::YesNoQuestion;
  // The only questions are "stop the running process?" (asked when the user
  // interrupts, so yes) and "replace the existing output file?" (--overwrite).
  MessageResult answer = MessageResult::Ok;
  if (question) {
    const bool stopQuestion = text.rfind("Are you sure to stop", 0) == 0;
    answer = (stopQuestion || overwrite) ? MessageResult::Yes : MessageResult::No;
  }
  std::lock_guard lock(mutex_);
  if (logStream == stdout) std::fflush(stdout);
  std::fprintf(stderr, "%s: %s", caption.c_str(), text.c_str());
  if (question) std::fprintf(stderr, " [%s]", answer == MessageResult::Yes ? "yes" : "no");
  std::fputc('\n', stderr);
  return answer;
}

bool ConsoleObserver::ChooseDatabaseFile(FileSelection& selection) {
  description = DescribeFile(path, selection, *this);
  if (!description.pathAccepted) return false;
  if (manual.Any()) ApplyManualChoice(manual, selection, description.fileSize);
  return selection.formatVersion == 1 || selection.formatVersion == 2;
}

}  // namespace veltrane
