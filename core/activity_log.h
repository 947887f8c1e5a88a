// The activity log file: every log line of a run, kept on the user's desktop
// so that the record of a recovery outlives the program.
//
// File name: folder + "/" (unless the folder already ends in one) +
// "VeltraneSQLite_log_" + day-month-year-hour-minute-second of the start time
// (local time, no leading zeros, e.g. 9-12-2026-16-5-3) + ".txt".
//
// Layout (UTF-16 little-endian, two bytes per code unit, no terminator):
//
//   | part           | bytes                                   | when                      |
//   |----------------|-----------------------------------------|---------------------------|
//   | byte-order mark| FF FE                                   | only when the file is new |
//   | run header     | "\r\n" + 80 x "*" + "\r\n"              | every program start       |
//   | one log line   | the line's code units, then "\r\n"      | every AddLogLine          |
//
// Every line is written at once (no buffering in the program). A file that
// cannot be opened leaves the log without a file: writes are then dropped and
// the lines live in the log pane only.
#pragma once

#include <ctime>
#include <mutex>
#include <string>

namespace veltrane {

// "VeltraneSQLite_log_" + "%d-%d-%d-%d-%d-%d" of the time + ".txt".
std::string LogFileName(const std::tm& local);
// The folder joined with the file name.
std::string LogFilePath(const std::string& folder, const std::tm& local);

// One log file for the whole run; safe to write from several threads.
class ActivityLog {
 public:
  ActivityLog() = default;
  ~ActivityLog();
  ActivityLog(const ActivityLog&) = delete;
  ActivityLog& operator=(const ActivityLog&) = delete;

  // Opens (appending) or creates the file for the given start time in folder,
  // creating the folder when it is missing, and writes the run header. Returns
  // false when the file cannot be opened; path() is set either way.
  bool Open(const std::string& folder, const std::tm& local);
  // Appends one line (UTF-8 in, UTF-16LE in the file) followed by "\r\n".
  void Write(const std::string& text);
  void Close();

  bool IsOpen() const;
  std::string path() const;

 private:
  bool WriteAllLocked(const std::string& bytes);

  mutable std::mutex mutex_;
  int fd_ = -1;
  std::string path_;
};

}  // namespace veltrane
