#include "cli/console_observer.h"

#include "cli/console.h"
#include "core/text.h"

namespace veltrane {

void ConsoleObserver::AddLogLine(const std::string& text, int32_t) {
  {
    std::lock_guard lock(mutex_);
    lastLog_ = text;
  }
  if (logStream != nullptr) Console::Get().Line(logStream, prefix + text);
}

void ConsoleObserver::SetStatusText(const std::string&) {}

void ConsoleObserver::ShowProgress(bool show) {
  progressVisible_ = show;
  if (show) range_ = 0, position_ = 0;
}
void ConsoleObserver::SetProgressRange(uint32_t upper) { range_ = upper; }
void ConsoleObserver::SetProgressPos(uint32_t position) { position_ = position; }

std::string ConsoleObserver::ProgressText() const {
  if (!progressVisible_) return {};
  std::string label;
  {
    std::lock_guard lock(mutex_);
    label = std::string(Trim(lastLog_));
  }
  if (label.size() > 48) label = label.substr(0, 45) + "...";
  const uint32_t range = range_, position = position_;
  std::string text = prefix + label;
  if (range > 0) {
    const unsigned percent = position >= range ? 100u : static_cast<unsigned>(uint64_t{position} * 100 / range);
    text += Format("  %u/%u (%u%%)", position, range, percent);
  } else if (position > 0) {
    text += Format("  %u", position);
  }
  return text;
}

MessageResult ConsoleObserver::ShowMessage(const std::string& text, const std::string& caption,
                                           MessageStyle style) {
  const bool question = style == MessageStyle::YesNo || style == MessageStyle::YesNoQuestion;
  // The only questions are "stop the running process?" (asked when the user
  // interrupts, so yes) and "replace the existing output file?" (--overwrite).
  MessageResult answer = MessageResult::Ok;
  if (question) {
    const bool stopQuestion = text.rfind("Are you sure to stop", 0) == 0;
    answer = (stopQuestion || overwrite) ? MessageResult::Yes : MessageResult::No;
  } else {
    std::lock_guard lock(mutex_);
    lastMessage_ = text;
  }
  std::string line = prefix + caption + ": " + text;
  if (question) line += answer == MessageResult::Yes ? " [yes]" : " [no]";
  if (logStream == stdout) std::fflush(stdout);
  Console::Get().Line(stderr, line);
  return answer;
}

std::string ConsoleObserver::LastMessage() const {
  std::lock_guard lock(mutex_);
  return lastMessage_;
}

bool ConsoleObserver::ChooseDatabaseFile(FileSelection& selection) {
  description = DescribeFile(path, selection, *this);
  if (!description.pathAccepted) return false;
  if (manual.Any()) ApplyManualChoice(manual, selection, description.fileSize);
  return selection.formatVersion == 1 || selection.formatVersion == 2;
}

}  // namespace veltrane
