#include "platform/named_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/system_folders.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

TEST(FileLockTest, TwoHoldersOfOnePathExcludeEachOther) {
  testing::TempDir dir;
  FileLock first;
  FileLock second;
  EXPECT_FALSE(first.TryLock()) << "not open yet";
  ASSERT_TRUE(first.Open(dir.File("x.mtx")));
  ASSERT_TRUE(second.Open(dir.File("x.mtx")));
  EXPECT_TRUE(first.TryLock());
  EXPECT_TRUE(first.IsLocked());
  EXPECT_FALSE(second.TryLock());
  first.Unlock();
  EXPECT_TRUE(second.TryLock());
  second.Close();
  EXPECT_FALSE(second.IsOpen());
  EXPECT_TRUE(first.TryLock());
  EXPECT_TRUE(FileExists(dir.File("x.mtx"))) << "the lock file stays";

  std::string error;
  FileLock nowhere;
  EXPECT_FALSE(nowhere.Open(dir.File("missing/x.mtx"), &error));
  EXPECT_NE(error.find("missing/x.mtx"), std::string::npos);
}

TEST(RuntimeFolderTest, IsAPrivateFolderOfThisUser) {
  std::string folder = RuntimeFolder();
  ASSERT_FALSE(folder.empty());
  struct stat info {};
  ASSERT_EQ(lstat(folder.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(info.st_uid, geteuid());
  EXPECT_EQ(RuntimeFolder(), folder);
}

}  // namespace
}  // namespace lapora
