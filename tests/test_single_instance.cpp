#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/single_instance.h"
#include "tests/support.h"

namespace veltrane {
namespace {

TEST(SingleInstance, LockFileIsNamedAfterTheInstanceName) {
  EXPECT_EQ(InstanceLockFileName(), "Global-{VeltraneSQLITERECV1.0_EXE_RUNNING1}.lock");
}

TEST(SingleInstance, SecondHolderIsRefusedUntilTheFirstLetsGo) {
  test::TempDir dir;
  SingleInstanceLock first, second;
  EXPECT_EQ(first.Acquire(dir.path()), SingleInstanceLock::State::Acquired);
  EXPECT_EQ(first.path(), dir.File(InstanceLockFileName()));
  EXPECT_EQ(second.Acquire(dir.path()), SingleInstanceLock::State::AlreadyRunning);
  first.Release();
  EXPECT_EQ(second.Acquire(dir.path()), SingleInstanceLock::State::Acquired);
}

TEST(SingleInstance, AKilledHolderDoesNotBlockTheNextStart) {
  test::TempDir dir;
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SingleInstanceLock held;
    const char ok = held.Acquire(dir.path()) == SingleInstanceLock::State::Acquired ? '1' : '0';
    (void)!::write(ready[1], &ok, 1);
    for (;;) ::pause();  // killed below, without any clean-up
  }
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, '1');
  SingleInstanceLock mine;
  EXPECT_EQ(mine.Acquire(dir.path()), SingleInstanceLock::State::AlreadyRunning);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_EQ(mine.Acquire(dir.path()), SingleInstanceLock::State::Acquired);
  ::close(ready[0]);
  ::close(ready[1]);
}

TEST(SingleInstance, AFolderWithoutAccessLeavesTheProgramUnguarded) {
  test::TempDir dir;
  SingleInstanceLock lock;
  EXPECT_EQ(lock.Acquire(dir.File("missing/folder")), SingleInstanceLock::State::Unavailable);
}

}  // namespace
}  // namespace veltrane
