#include "platform/atomic_file.h"

#include <filesystem>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/temp_dir.h"

namespace lapora {
namespace {

namespace fs = std::filesystem;

TEST(AtomicFileTest, ReplacesWholeFilesAndReportsMissingOnes) {
  testing::TempDir dir;
  const std::string path = dir.File("f.txt");
  std::string content = "stale";
  EXPECT_EQ(ReadWholeFile(path, &content), ReadFileResult::kMissing);
  EXPECT_EQ(content, "");

  ASSERT_TRUE(WriteFileAtomically(path, std::string("a\0b", 3)));
  EXPECT_EQ(ReadWholeFile(path, &content), ReadFileResult::kRead);
  EXPECT_EQ(content, std::string("a\0b", 3));
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);

  const std::string big(1 << 20, 'z');
  ASSERT_TRUE(WriteFileAtomically(path, big));
  EXPECT_EQ(ReadWholeFile(path, &content), ReadFileResult::kRead);
  EXPECT_EQ(content, big);
  EXPECT_TRUE(SyncParentFolder(path));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(AtomicFileTest, FailedReplaceKeepsTheOldFileAndLeavesNothingBehind) {
  testing::TempDir dir;
  // The target is a non-empty folder: the rename fails after the temporary file was written.
  fs::create_directories(dir.File("target/inside"));
  std::string error;
  EXPECT_FALSE(WriteFileAtomically(dir.File("target"), "new", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(fs::is_directory(dir.File("target/inside")));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

  EXPECT_FALSE(WriteFileAtomically(dir.File("missing/f.txt"), "x", &error));
  std::string content;
  EXPECT_EQ(ReadWholeFile(dir.File("target"), &content, &error), ReadFileResult::kFailed);
}

}  // namespace
}  // namespace lapora
