#include "foundation/instance_lock.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "foundation/folders.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

using Take = CInstanceLock::TakeResult;

TEST(InstanceLockTest, SecondTakeIsHeldElsewhereUntilTheFirstIsReleased) {
  testing::TempDir dir;
  CInstanceLock first;
  CInstanceLock second;
  ASSERT_EQ(first.Take(dir.path()), Take::kTaken);
  EXPECT_TRUE(first.IsHeld());
  EXPECT_EQ(first.Take(dir.path()), Take::kTaken) << "taking it again is harmless";
  std::string error;
  EXPECT_EQ(second.Take(dir.path(), &error), Take::kHeldElsewhere);
  EXPECT_NE(error.find("Lapora.mtx"), std::string::npos) << error;
  EXPECT_FALSE(second.IsHeld());
  first.Release();
  EXPECT_EQ(second.Take(dir.path()), Take::kTaken);
}

TEST(InstanceLockTest, ALockFileThatCannotBeMadeIsAFailureNotAnotherInstance) {
  testing::TempDir dir;
  CInstanceLock lock;
  std::string error;
  EXPECT_EQ(lock.Take("", &error), Take::kFailed);
  EXPECT_FALSE(error.empty());
  // A folder in the way of the lock file, and a folder under a regular file: both refuse the
  // file whoever runs the test (root included).
  ASSERT_TRUE(MakePath(dir.File("Lapora.mtx")));
  EXPECT_EQ(lock.Take(dir.path(), &error), Take::kFailed);
  EXPECT_EQ(error, dir.File("Lapora.mtx") + ": " + std::strerror(EISDIR));
  testing::WriteFile(dir.File("file"), "x");
  EXPECT_EQ(lock.Take(dir.File("file/locks"), &error), Take::kFailed);
  EXPECT_EQ(error, dir.File("file/locks/Lapora.mtx") + ": " + std::strerror(ENOTDIR));
  EXPECT_FALSE(lock.IsHeld());
}

TEST(InstanceLockTest, LockOfAKilledInstanceIsFreeAgain) {
  testing::TempDir dir;
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CInstanceLock running;
    char byte = running.Take(dir.path()) == Take::kTaken ? 'y' : 'n';
    (void)!write(pipeFds[1], &byte, 1);
    for (;;) {
      pause();
    }
  }
  close(pipeFds[1]);
  pollfd entry{pipeFds[0], POLLIN, 0};
  ASSERT_EQ(poll(&entry, 1, 10000), 1);
  char byte = 0;
  ASSERT_EQ(read(pipeFds[0], &byte, 1), 1);
  close(pipeFds[0]);
  ASSERT_EQ(byte, 'y');

  CInstanceLock second;
  EXPECT_EQ(second.Take(dir.path()), Take::kHeldElsewhere);

  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(second.Take(dir.path()), Take::kTaken);
}

}  // namespace
}  // namespace lapora
