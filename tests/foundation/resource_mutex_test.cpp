#include "foundation/resource_mutex.h"

#include <atomic>
#include <filesystem>
#include <future>
#include <thread>

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace lapora {
namespace {

// Waits up to 10 s for one byte on fd; true when it came.
bool WaitForByte(int fd) {
  pollfd entry{fd, POLLIN, 0};
  if (poll(&entry, 1, 10000) != 1) {
    return false;
  }
  char byte = 0;
  return read(fd, &byte, 1) == 1;
}

TEST(ResourceMutexTest, TimesOutWhileAnotherThreadHoldsItAndIsFreeAfterwards) {
  testing::TempDir dir;
  CResourceMutex mutex("Summary", dir.path());
  EXPECT_TRUE(mutex.IsSystemWide());
  EXPECT_TRUE(std::filesystem::exists(dir.File("Summary.mtx")));

  std::promise<void> locked;
  std::promise<void> release;
  std::thread holder([&] {
    ASSERT_TRUE(mutex.Lock(CResourceMutex::kInfinite));
    locked.set_value();
    release.get_future().wait();
    mutex.Unlock();
  });
  locked.get_future().wait();

  EXPECT_FALSE(mutex.Lock(30));
  EXPECT_FALSE(mutex.Lock(0));
  mutex.Unlock();  // not the owner: nothing happens
  release.set_value();
  EXPECT_TRUE(mutex.Lock(10000));
  mutex.Unlock();
  holder.join();
}

TEST(ResourceMutexTest, OwnerMayLockAgainAndOthersWaitForTheLastUnlock) {
  testing::TempDir dir;
  CResourceMutex mutex("Detections", dir.path());
  ASSERT_TRUE(mutex.Lock(0));
  ASSERT_TRUE(mutex.Lock(0));
  mutex.Unlock();
  bool otherGotIt = true;
  std::thread([&] { otherGotIt = mutex.Lock(20); }).join();
  EXPECT_FALSE(otherGotIt);
  mutex.Unlock();
  std::thread([&] {
    otherGotIt = mutex.Lock(10000);
    mutex.Unlock();
  }).join();
  EXPECT_TRUE(otherGotIt);
}

TEST(ResourceMutexTest, ThreadsExcludeEachOther) {
  testing::TempDir dir;
  CResourceMutex mutex("LogWin", dir.path());
  int counter = 0;  // plain on purpose: the lock alone guards it
  auto work = [&] {
    for (int i = 0; i < 50; ++i) {
      ASSERT_TRUE(mutex.Lock(CResourceMutex::kInfinite));
      int seen = counter;
      std::this_thread::yield();
      counter = seen + 1;
      mutex.Unlock();
    }
  };
  std::thread a(work);
  std::thread b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 100);
}

TEST(ResourceMutexTest, ExcludesAnotherProcessUntilItDies) {
  testing::TempDir dir;
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CResourceMutex mine("Summary", dir.path());
    char byte = mine.Lock(0) ? 'y' : 'n';
    (void)!write(pipeFds[1], &byte, 1);
    for (;;) {
      pause();
    }
  }
  close(pipeFds[1]);
  ASSERT_TRUE(WaitForByte(pipeFds[0]));

  CResourceMutex mutex("Summary", dir.path());
  EXPECT_FALSE(mutex.Lock(30));
  // Another name is another lock.
  CResourceMutex other("PushIncomingDetection", dir.path());
  EXPECT_TRUE(other.Lock(0));
  other.Unlock();

  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  close(pipeFds[0]);
  EXPECT_TRUE(mutex.Lock(10000));
  mutex.Unlock();
}

TEST(ResourceMutexTest, WithoutALockFileItStillExcludesThreads) {
  CResourceMutex mutex("Summary", "/nonexistent-folder-for-lapora-test");
  EXPECT_FALSE(mutex.IsSystemWide());
  ASSERT_TRUE(mutex.Lock(0));
  bool otherGotIt = true;
  std::thread([&] { otherGotIt = mutex.Lock(10); }).join();
  EXPECT_FALSE(otherGotIt);
  mutex.Unlock();
}

TEST(ResourceMutexTest, TheFourNamedLocksHaveTheirFiles) {
  testing::TempDir dir;
  NamedLocks locks(dir.path());
  EXPECT_EQ(locks.summary.Name(), "Summary");
  for (const char* name : {"Detections", "Summary", "LogWin", "PushIncomingDetection"}) {
    EXPECT_TRUE(std::filesystem::exists(dir.File(std::string(name) + ".mtx"))) << name;
  }
}

}  // namespace
}  // namespace lapora
