#include "core/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace veltrane {

std::string InstanceLockFileName() {
  std::string name = kInstanceName;
  for (char& c : name)
    if (c == '\\') c = '-';
  return name + ".lock";
}

SingleInstanceLock::~SingleInstanceLock() { Release(); }

SingleInstanceLock::State SingleInstanceLock::Acquire(const std::string& folder) {
  Release();
  path_ = folder;
  if (path_.empty() || path_.back() != '/') path_.push_back('/');
  path_ += InstanceLockFileName();

  // Readable and writable by every user of the machine, so that the lock
  // works across user sessions; a file made by another user may only be
  // readable to us, which is enough for flock. O_CLOEXEC keeps programs we
  // start (a browser for the help page) from inheriting the lock.
  const mode_t old = ::umask(0);
  fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  ::umask(old);
  if (fd_ < 0) fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd_ < 0) return State::Unavailable;

  int rc;
  do {
    rc = ::flock(fd_, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return State::Acquired;
  const bool busy = errno == EWOULDBLOCK;
  ::close(fd_);
  fd_ = -1;
  return busy ? State::AlreadyRunning : State::Unavailable;
}

void SingleInstanceLock::Release() {
  if (fd_ >= 0) ::close(fd_);  // closing the descriptor drops the lock
  fd_ = -1;
}

}  // namespace veltrane
