// The machine-wide "already running" marker of the desktop window: a lock file
// in the system temp folder, named after the instance name, held with flock.
// The system drops the lock when the process ends in any way, so a crashed
// instance never blocks the next start.
#pragma once

#include <string>

namespace veltrane {

inline constexpr const char* kInstanceName = "Global\\{VeltraneSQLITERECV1.0_EXE_RUNNING1}";

// The lock file's name: the instance name with its backslash made a dash,
// plus ".lock" ("Global-{VeltraneSQLITERECV1.0_EXE_RUNNING1}.lock").
std::string InstanceLockFileName();

// Holds the lock for as long as it lives.
class SingleInstanceLock {
 public:
  enum class State {
    Acquired,        // this process is the one instance
    AlreadyRunning,  // another process holds the lock
    Unavailable      // the lock file cannot be made (the program runs unguarded)
  };

  SingleInstanceLock() = default;
  ~SingleInstanceLock();
  SingleInstanceLock(const SingleInstanceLock&) = delete;
  SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

  // Takes the lock in folder (the system temp folder) without waiting.
  State Acquire(const std::string& folder);
  void Release();
  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace veltrane
