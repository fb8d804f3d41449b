#include "foundation/instance_lock.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace lapora {
namespace {

TEST(InstanceLockTest, SecondTakeFailsUntilTheFirstIsReleased) {
  testing::TempDir dir;
  CInstanceLock first;
  CInstanceLock second;
  ASSERT_TRUE(first.Take(dir.path()));
  EXPECT_TRUE(first.IsHeld());
  EXPECT_TRUE(first.Take(dir.path())) << "taking it again is harmless";
  std::string error;
  EXPECT_FALSE(second.Take(dir.path(), &error));
  EXPECT_NE(error.find("Lapora.mtx"), std::string::npos) << error;
  EXPECT_FALSE(second.IsHeld());
  first.Release();
  EXPECT_TRUE(second.Take(dir.path()));
}

TEST(InstanceLockTest, NoFolderNoLock) {
  CInstanceLock lock;
  std::string error;
  EXPECT_FALSE(lock.Take("", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(lock.Take("/nonexistent-folder-for-lapora-test", &error));
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
    char byte = running.Take(dir.path()) ? 'y' : 'n';
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
  EXPECT_FALSE(second.Take(dir.path()));

  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_TRUE(second.Take(dir.path()));
}

}  // namespace
}  // namespace lapora
