#include "platform/atomic_file.h"

#include <filesystem>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
  // The target is a folder: it can neither be replaced nor written to.
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

// A pipe (or a device) is written to, never replaced by a plain file.
TEST(AtomicFileTest, PipeIsWrittenToNotReplaced) {
  testing::TempDir dir;
  const std::string path = dir.File("pipe");
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_TRUE(
      WriteFileAtomically(path, "through", nullptr, FileRights::kKeep, FileDurability::kWhole));
  char buffer[16] = {};
  EXPECT_EQ(read(reader, buffer, sizeof buffer), 7);
  EXPECT_STREQ(buffer, "through");
  close(reader);
  EXPECT_TRUE(fs::is_fifo(path));
  EXPECT_TRUE(CreateTemporaryBeside(path).empty());  // nothing may be renamed over it
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace lapora
