#include "foundation/folders.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/system_folders.h"
#include "support/env_override.h"
#include "support/local_time.h"
#include "support/read_only_folder.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

namespace fs = std::filesystem;

using testing::EnvOverride;

using testing::LocalTime;

class FoldersTest : public ::testing::Test {
 protected:
  testing::TempDir m_dir;
  std::string m_program = m_dir.File("bin");
  EnvOverride m_xdgData{"XDG_DATA_HOME", m_dir.File("xdg")};
  EnvOverride m_home{"HOME", m_dir.File("home")};
  EnvOverride m_config{"XDG_CONFIG_HOME", m_dir.File("config")};

  void SetUp() override {
    fs::create_directories(m_program);
    fs::create_directories(m_dir.File("home"));
  }
};

TEST_F(FoldersTest, DefaultDataFolderIsUnderXdgDataHome) {
  Folders folders(m_program, "");
  const std::string data = m_dir.File("xdg") + "/Orvane/Lapora";
  EXPECT_FALSE(folders.UsesLegacyFolders());
  EXPECT_FALSE(folders.HasExplicitDataFolder());
  EXPECT_EQ(folders.GetDataFolder(), data);
  EXPECT_TRUE(fs::is_directory(data));
  EXPECT_EQ(folders.GetSettingsFilePath(), data + "/Lapora.ini");
  EXPECT_EQ(folders.GetFtpServersFilePath(), data + "/FtpServers.dat");
  EXPECT_EQ(folders.GetLogFolder(), data + "/logfiles");
  EXPECT_TRUE(fs::is_directory(data + "/logfiles"));
  EXPECT_EQ(folders.GetLogFilePath(), data + "/logfiles/Lapora.log");
  EXPECT_EQ(folders.GetIncomingDetectionsFilePath(LocalTime(2012, 5, 3, 9, 7, 5)),
            data + "/logfiles/Lapora-20120503-090705.dat");
  EXPECT_EQ(folders.GetHelpDocumentPath(), m_program + "/Lapora.pdf");
  EXPECT_EQ(folders.GetSpecialFolder(Folders::kCommonAppData), m_dir.File("xdg"));
  EXPECT_EQ(folders.GetSpecialFolder(12), "");
  EXPECT_EQ(folders.GetLockFolder(), RuntimeFolder());
  EXPECT_GE(Folders::GetOsGeneration(), 7);
}

TEST_F(FoldersTest, LegacyMarkerKeepsEverythingBesideTheExecutable) {
  testing::WriteFile(m_program + "/_useXPdirs", "");
  Folders folders(m_program, "");
  EXPECT_TRUE(folders.UsesLegacyFolders());
  EXPECT_EQ(folders.GetDataFolder(), m_program);
  EXPECT_EQ(folders.GetSettingsFilePath(), m_program + "/Lapora.ini");
  EXPECT_EQ(folders.GetLogFolder(), m_program + "/logfiles");
  EXPECT_EQ(folders.GetFtpServersFilePath(), m_program + "/FtpServers.dat");
  EXPECT_FALSE(fs::exists(m_dir.File("xdg")));

  // The marker is looked at once, when the folders are set up.
  fs::remove(m_program + "/_useXPdirs");
  EXPECT_EQ(folders.GetDataFolder(), m_program);
}

// A system package puts the program in .../bin and its own files in .../share/lapora; a
// program anywhere else, or with the legacy marker, keeps them beside itself.
TEST_F(FoldersTest, InstalledProgramFindsItsOwnFilesUnderShare) {
  const std::string share = m_dir.File("share/lapora");
  fs::create_directories(share);
  Folders installed(m_program, "");
  EXPECT_EQ(installed.GetSharedFolder(), share);
  EXPECT_EQ(installed.GetHelpDocumentPath(), share + "/Lapora.pdf");
  EXPECT_EQ(installed.GetProgramFolder(), m_program);
  // Only the files that come with the program move: the data stay in the user's folder.
  EXPECT_EQ(installed.GetDataFolder(), m_dir.File("xdg") + "/Orvane/Lapora");
  // The system's folders cannot be written: exports go to the data folder by default.
  EXPECT_EQ(installed.GetDefaultExportFolder(), installed.GetDataFolder());

  const std::string buildTree = m_dir.File("build");
  fs::create_directories(buildTree);
  EXPECT_EQ(Folders(buildTree, "").GetSharedFolder(), buildTree);

  testing::WriteFile(m_program + "/_useXPdirs", "");
  Folders legacy(m_program, "");
  EXPECT_EQ(legacy.GetSharedFolder(), m_program);
  EXPECT_EQ(legacy.GetHelpDocumentPath(), m_program + "/Lapora.pdf");
  EXPECT_EQ(legacy.GetDefaultExportFolder(), m_program);
}

TEST_F(FoldersTest, ExplicitDataFolderHoldsFilesAndLocks) {
  ASSERT_EQ(chdir(m_dir.path().c_str()), 0);
  Folders folders(m_program, "given/data/");
  const std::string data = m_dir.File("given/data");
  EXPECT_TRUE(folders.HasExplicitDataFolder());
  EXPECT_EQ(folders.GetDataFolder(), data);
  EXPECT_EQ(folders.GetSettingsFilePath(), data + "/Lapora.ini");
  EXPECT_EQ(folders.GetLockFolder(), data);
  ASSERT_EQ(chdir("/"), 0);
  EXPECT_EQ(folders.GetDataFolder(), data) << "a later change of folder is not noticed";
}

TEST_F(FoldersTest, DataFolderThatCannotBeMadeIsEmpty) {
  testing::WriteFile(m_dir.File("xdg"), "a file where the folder should be");
  Folders folders(m_program, "");
  EXPECT_EQ(folders.GetDataFolder(), "");
  EXPECT_EQ(folders.GetSettingsFilePath(), "/Lapora.ini");
  EXPECT_EQ(folders.GetFtpServersFilePath(), "/FtpServers.dat");
}

TEST_F(FoldersTest, DocumentsFolderComesFromUserDirsElseHome) {
  Folders folders(m_program, "");
  EXPECT_EQ(folders.GetDocumentsFolder(), m_dir.File("home"));

  fs::create_directories(m_dir.File("config"));
  testing::WriteFile(m_dir.File("config/user-dirs.dirs"),
                     "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                     "XDG_DOCUMENTS_DIR=\"$HOME/Mes documents\"\n");
  EXPECT_EQ(folders.GetDocumentsFolder(), m_dir.File("home")) << "named folder does not exist";
  fs::create_directories(m_dir.File("home/Mes documents"));
  EXPECT_EQ(folders.GetDocumentsFolder(), m_dir.File("home/Mes documents"));
  EXPECT_EQ(folders.GetSpecialFolder(Folders::kPersonal), m_dir.File("home/Mes documents"));
}

TEST(UserDirsTest, DocumentsEntryIsParsed) {
  EXPECT_EQ(ParseUserDirsDocuments("XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n", "/h"), "/h/Docs");
  EXPECT_EQ(ParseUserDirsDocuments("  XDG_DOCUMENTS_DIR=\"/srv/d \\\"q\\\"\"", "/h"),
            "/srv/d \"q\"");
  EXPECT_EQ(ParseUserDirsDocuments("#XDG_DOCUMENTS_DIR=\"/x\"\n", "/h"), "");
  EXPECT_EQ(ParseUserDirsDocuments("XDG_DOCUMENTS_DIR=\"relative\"\n", "/h"), "");
  EXPECT_EQ(ParseUserDirsDocuments("XDG_DOCUMENTS_DIR=\"/unclosed\n", "/h"), "");
  EXPECT_EQ(ParseUserDirsDocuments("", "/h"), "");
}

TEST(PathTest, MakePathCreatesEveryMissingLevel) {
  testing::TempDir dir;
  EXPECT_TRUE(MakePath(dir.File("a/b/c/")));
  EXPECT_TRUE(fs::is_directory(dir.File("a/b/c")));
  EXPECT_TRUE(MakePath(dir.File("a/b/c")));
  EXPECT_TRUE(MakePath(dir.File("a")));
  EXPECT_TRUE(MakePath("/"));
  EXPECT_FALSE(MakePath(""));
  testing::WriteFile(dir.File("file"), "x");
  std::string reason;
  EXPECT_FALSE(MakePath(dir.File("file/sub/deeper"), &reason));
  EXPECT_FALSE(fs::exists(dir.File("file/sub")));
  EXPECT_EQ(reason, dir.File("file/sub") + ": " + std::strerror(ENOTDIR));
  EXPECT_FALSE(MakePath(dir.File("file"), &reason));
  EXPECT_EQ(reason, dir.File("file") + ": " + std::strerror(ENOTDIR));
}

TEST(PathTest, MakeWritableFolderProvesAFileCanBeMadeThere) {
  testing::TempDir dir;
  std::string reason;
  ASSERT_TRUE(MakeWritableFolder(dir.File("a/b"), &reason)) << reason;
  EXPECT_TRUE(fs::is_empty(dir.File("a/b"))) << "the proof leaves nothing behind";

  testing::WriteFile(dir.File("file"), "x");
  EXPECT_FALSE(MakeWritableFolder(dir.File("file"), &reason));
  EXPECT_EQ(reason, dir.File("file") + ": " + std::strerror(ENOTDIR));

  testing::ReadOnlyFolder readOnly(dir.File("ro"));
  if (!readOnly.Usable()) {
    GTEST_SKIP() << "no read-only folder can be set up here";
  }
  EXPECT_FALSE(MakeWritableFolder(readOnly.Path(), &reason));
  EXPECT_EQ(reason, readOnly.Path() + ": " + std::strerror(geteuid() == 0 ? EROFS : EACCES));
  EXPECT_FALSE(MakeWritableFolder(readOnly.Path() + "/sub", &reason));
  EXPECT_EQ(reason, readOnly.Path() + "/sub: " + std::strerror(geteuid() == 0 ? EROFS : EACCES));
}

TEST(PathTest, FileNameOfPathTakesTheLastBackslashElseTheLastSlash) {
  EXPECT_EQ(FileNameOfPath("C:\\Races\\day1.csv"), "day1.csv");
  EXPECT_EQ(FileNameOfPath("/srv/races/day1.csv"), "day1.csv");
  EXPECT_EQ(FileNameOfPath("a\\b/c.txt"), "b/c.txt");
  EXPECT_EQ(FileNameOfPath("folder/"), "");
  EXPECT_EQ(FileNameOfPath("plain.txt"), "");
  EXPECT_EQ(LongPathOf("/x/PROGRA~1"), "/x/PROGRA~1");
}

TEST(PathTest, FreshFilePathSkipsExistingAndGivenOutNames) {
  testing::TempDir dir;
  std::string path = dir.File("Lapora-20260609-100000.dat");
  EXPECT_EQ(FreshFilePath(path), path);
  testing::WriteFile(path, "");
  EXPECT_EQ(FreshFilePath(path), dir.File("Lapora-20260609-100000-2.dat"));
  // A name given out whose file is not made yet is taken all the same.
  EXPECT_EQ(FreshFilePath(path, {dir.File("Lapora-20260609-100000-2.dat")}),
            dir.File("Lapora-20260609-100000-3.dat"));
  EXPECT_EQ(FreshFilePath(dir.File("other.dat"), {path}), dir.File("other.dat"));
}

TEST(PathTest, ClearFolderSparesDotFoldersAndNeverFollowsLinks) {
  testing::TempDir dir;
  const std::string folder = dir.File("export");
  fs::create_directories(folder + "/sub/deeper");
  fs::create_directories(folder + "/.keep");
  fs::create_directories(dir.File("outside"));
  testing::WriteFile(dir.File("outside/precious.txt"), "x");
  testing::WriteFile(folder + "/a.txt", "a");
  testing::WriteFile(folder + "/.hidden", "h");
  testing::WriteFile(folder + "/readonly.txt", "r");
  chmod((folder + "/readonly.txt").c_str(), 0444);
  testing::WriteFile(folder + "/sub/deeper/b.txt", "b");
  testing::WriteFile(folder + "/.keep/c.txt", "c");
  fs::create_directory_symlink(dir.File("outside"), folder + "/link");

  EXPECT_TRUE(ClearFolder(folder, false));
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(folder)) {
    left.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(left, std::vector<std::string>{".keep"});
  EXPECT_TRUE(fs::exists(folder + "/.keep/c.txt"));
  EXPECT_TRUE(fs::exists(dir.File("outside/precious.txt")));

  // With a dot folder inside, the folder itself cannot go.
  EXPECT_FALSE(ClearFolder(folder, true));
  fs::remove_all(folder + "/.keep");
  EXPECT_TRUE(ClearFolder(folder, true));
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_FALSE(ClearFolder(folder, true));
}

}  // namespace
}  // namespace lapora
