#include "tests/support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace veltrane::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "veltrane-test-XXXXXX").string();
  char* made = ::mkdtemp(pattern.data());
  path_ = made ? made : pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string FixturePath(const std::string& relative) {
  return std::string(VELTRANE_FIXTURES_DIR) + "/" + relative;
}

nlohmann::json LoadJson(const std::string& path) { return nlohmann::json::parse(ReadFile(path)); }

void RecordingObserver::AddLogLine(const std::string& text, int32_t) {
  std::lock_guard lock(mutex_);
  log_.push_back(text);
}
void RecordingObserver::SetStatusText(const std::string& text) {
  std::lock_guard lock(mutex_);
  status = text;
}
void RecordingObserver::ShowProgress(bool show) {
  std::lock_guard lock(mutex_);
  progressVisible = show;
}
void RecordingObserver::SetProgressRange(uint32_t upper) {
  std::lock_guard lock(mutex_);
  ranges_.push_back(upper);
}
void RecordingObserver::SetProgressPos(uint32_t position) {
  std::lock_guard lock(mutex_);
  positions_.push_back(position);
}

MessageResult RecordingObserver::ShowMessage(const std::string& text, const std::string& caption,
                                             MessageStyle style) {
  {
    std::lock_guard lock(mutex_);
    messages_.push_back({text, caption, style});
  }
  if (onMessage) onMessage(text);
  if (style == MessageStyle::YesNo || style == MessageStyle::YesNoQuestion) return answer(text);
  return MessageResult::Ok;
}

bool RecordingObserver::ChooseDatabaseFile(FileSelection& selection) {
  return choose ? choose(selection) : false;
}

std::vector<std::string> RecordingObserver::Log() const {
  std::lock_guard lock(mutex_);
  return log_;
}
std::vector<ShownMessage> RecordingObserver::Messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}
std::vector<uint32_t> RecordingObserver::Positions() const {
  std::lock_guard lock(mutex_);
  return positions_;
}
std::vector<uint32_t> RecordingObserver::Ranges() const {
  std::lock_guard lock(mutex_);
  return ranges_;
}
bool RecordingObserver::HasLog(const std::string& line) const {
  std::lock_guard lock(mutex_);
  return std::find(log_.begin(), log_.end(), line) != log_.end();
}
bool RecordingObserver::HasMessage(const std::string& text) const {
  std::lock_guard lock(mutex_);
  return std::any_of(messages_.begin(), messages_.end(), [&](const ShownMessage& m) { return m.text == text; });
}

namespace {
std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out.push_back(c);
  }
  return out + "'";
}
}  // namespace

CommandResult RunCli(const std::vector<std::string>& args) {
  TempDir dir;
  std::string command = ShellQuote(VELTRANE_CLI_PATH);
  for (const auto& a : args) command += " " + ShellQuote(a);
  command += " >" + ShellQuote(dir.File("out")) + " 2>" + ShellQuote(dir.File("err")) + " </dev/null";
  CommandResult r;
  const int raw = std::system(command.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + (WIFSIGNALED(raw) ? WTERMSIG(raw) : 0);
  r.out = ReadFile(dir.File("out"));
  r.err = ReadFile(dir.File("err"));
  return r;
}

}  // namespace veltrane::test
