#include "core/activity_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "core/text.h"

namespace veltrane {

namespace {
constexpr char kByteOrderMark[] = "\xFF\xFE";
}

std::string LogFileName(const std::tm& local) {
  return Format("VeltraneSQLite_log_%d-%d-%d-%d-%d-%d.txt", local.tm_mday, local.tm_mon + 1,
                local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
}

std::string LogFilePath(const std::string& folder, const std::tm& local) {
  std::string path = folder;
  if (path.empty() || path.back() != '/') path.push_back('/');
  return path + LogFileName(local);
}

ActivityLog::~ActivityLog() { Close(); }

bool ActivityLog::Open(const std::string& folder, const std::tm& local) {
  std::lock_guard lock(mutex_);
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  path_ = LogFilePath(folder, local);
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);

  bool created = true;
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
  if (fd_ < 0 && errno == EEXIST) {
    created = false;
    fd_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  }
  if (fd_ < 0) return false;

  std::string header;
  if (created) header.assign(kByteOrderMark, 2);
  header += Utf16ToBytesLE(u"\r\n" + std::u16string(80, u'*') + u"\r\n");
  if (!WriteAllLocked(header)) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

bool ActivityLog::WriteAllLocked(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

void ActivityLog::Write(const std::string& text) {
  const std::string bytes = Utf16ToBytesLE(Utf8ToUtf16(text) + u"\r\n");
  std::lock_guard lock(mutex_);
  if (fd_ < 0) return;
  // A failed write (disk full, file gone) keeps the program going; the line
  // is still in the log pane.
  WriteAllLocked(bytes);
}

void ActivityLog::Close() {
  std::lock_guard lock(mutex_);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool ActivityLog::IsOpen() const {
  std::lock_guard lock(mutex_);
  return fd_ >= 0;
}

std::string ActivityLog::path() const {
  std::lock_guard lock(mutex_);
  return path_;
}

}  // namespace veltrane
