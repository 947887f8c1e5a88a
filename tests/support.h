// Shared test helpers: temporary folders, files of exact bytes, an observer
// that records everything, and a way to run the command line.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/observer.h"

namespace veltrane::test {

// A fresh folder under the system temp folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
std::string FixturePath(const std::string& relative);  // under ../shared/fixtures
// Parses a JSON file (a fixture's truth, a command's --json output).
nlohmann::json LoadJson(const std::string& path);

struct ShownMessage {
  std::string text;
  std::string caption;
  MessageStyle style;
};

// Records every call; questions get the answer of `answer`.
class RecordingObserver : public SessionObserver {
 public:
  void AddLogLine(const std::string& text, int32_t row) override;
  void SetStatusText(const std::string& text) override;
  void ShowProgress(bool show) override;
  void SetProgressRange(uint32_t upper) override;
  void SetProgressPos(uint32_t position) override;
  MessageResult ShowMessage(const std::string& text, const std::string& caption,
                            MessageStyle style) override;
  bool ChooseDatabaseFile(FileSelection& selection) override;

  std::vector<std::string> Log() const;
  std::vector<ShownMessage> Messages() const;
  std::vector<uint32_t> Positions() const;
  std::vector<uint32_t> Ranges() const;
  bool HasLog(const std::string& line) const;
  bool HasMessage(const std::string& text) const;

  // The file choice: called by ChooseDatabaseFile; returns false for Cancel.
  std::function<bool(FileSelection&)> choose;
  // Answer to yes/no questions.
  std::function<MessageResult(const std::string& text)> answer = [](const std::string&) {
    return MessageResult::Yes;
  };
  // Called inside ShowMessage, before it returns (lets a test act mid-job).
  std::function<void(const std::string& text)> onMessage;

  std::string status;
  bool progressVisible = false;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> log_;
  std::vector<ShownMessage> messages_;
  std::vector<uint32_t> positions_;
  std::vector<uint32_t> ranges_;
};

struct CommandResult {
  int status = -1;
  std::string out;
  std::string err;
};
// Runs the veltrane-recover binary with the given arguments (shell-quoted here).
CommandResult RunCli(const std::vector<std::string>& args);

}  // namespace veltrane::test
