#include "foundation/temp_files.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/chrono.h"
#include "foundation/events.h"
#include "foundation/folders.h"
#include "foundation/log.h"
#include "foundation/text.h"
#include "resources/messages_foundation.h"
#include "support/env_override.h"
#include "support/read_only_folder.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

namespace fs = std::filesystem;

// What lstat says of a path: its type, rights and owner.
struct stat Lstat(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info;
}

bool IsOwnPrivateFolder(const std::string& path) {
  struct stat info = Lstat(path);
  return S_ISDIR(info.st_mode) && (info.st_mode & 0777) == 0700 && info.st_uid == geteuid();
}

class TempFilesTest : public ::testing::Test {
 protected:
  void SetUp() override { m_log.SetPostingEnabled(true); }
  // The alerts and log lines posted so far.
  void Collect() {
    m_events.Dispatch([&](const Event& event) {
      if (const auto* alert = std::get_if<AlertEvent>(&event)) {
        m_alerts.push_back(alert->text);
      } else if (const auto* line = std::get_if<LogLineEvent>(&event)) {
        m_lines.push_back(line->text);
      }
    });
  }
  std::string Stamp() const { return TodayCompact(m_now) + NowCompactTime(m_now); }
  // Where this user's temporary folder is expected in the test's system temporary folder.
  std::string Wanted() const { return m_dir.File("tmp/Dorix-" + std::to_string(geteuid())); }

  testing::TempDir m_dir;
  // The runtime folder is left out unless a test names one.
  testing::EnvOverride m_runtime{"XDG_RUNTIME_DIR", ""};
  EventQueue m_events;
  Logger m_log{m_events};
  Folders m_folders{m_dir.File("bin"), m_dir.File("data")};
  const std::time_t m_now = 1336901025;  // any fixed instant
  std::vector<std::string> m_alerts;
  std::vector<std::string> m_lines;
};

TEST_F(TempFilesTest, FilesAreMadeNewAndPrivateWithACounterWithinTheSecond) {
  fs::create_directories(m_dir.File("tmp"));
  TempFiles temp(m_folders, m_log, m_dir.File("tmp"));
  const std::string root = Wanted();
  EXPECT_EQ(temp.GetTempRoot(), root);
  EXPECT_TRUE(IsOwnPrivateFolder(root));

  const std::string first = temp.MakeTempFileName("csv", "import", m_now);
  EXPECT_EQ(first, root + "/DORIX-import-" + Stamp() + "-00.csv");
  EXPECT_EQ(temp.MakeTempFileName("csv", "import", m_now),
            root + "/DORIX-import-" + Stamp() + "-01.csv");
  // No tag: the tag and its dash are left out; the counter is shared.
  EXPECT_EQ(temp.MakeTempFileName("zip", "", m_now), root + "/DORIX-" + Stamp() + "-02.zip");
  struct stat info = Lstat(first);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(info.st_size, 0);
  Collect();
  EXPECT_TRUE(m_alerts.empty());
  EXPECT_TRUE(m_lines.empty());
}

TEST_F(TempFilesTest, NothingPlantedUnderAFileNameIsWrittenThrough) {
  fs::create_directories(Wanted());
  fs::permissions(Wanted(), fs::perms::owner_all, fs::perm_options::replace);
  const std::string stem = Wanted() + "/DORIX-data-" + Stamp();
  // A link to nowhere (writing through it would create its target), a link to a file, and a
  // file of another run in the same second.
  const std::string nowhere = m_dir.File("created-through-link");
  const std::string victim = m_dir.File("victim");
  testing::WriteFile(victim, "keep");
  ASSERT_EQ(symlink(nowhere.c_str(), (stem + "-00.csv").c_str()), 0);
  ASSERT_EQ(symlink(victim.c_str(), (stem + "-01.csv").c_str()), 0);
  testing::WriteFile(stem + "-02.csv", "another run's");

  TempFiles temp(m_folders, m_log, m_dir.File("tmp"));
  const std::string name = temp.MakeTempFileName("csv", "data", m_now);
  EXPECT_EQ(name, stem + "-03.csv");
  testing::WriteFile(name, "downloaded");  // as the download does
  EXPECT_FALSE(fs::exists(nowhere));
  EXPECT_EQ(testing::ReadFile(victim), "keep");
  EXPECT_EQ(testing::ReadFile(stem + "-02.csv"), "another run's");
}

TEST_F(TempFilesTest, AFolderOfTheExpectedNameThatOthersCouldUseIsNeverUsed) {
  fs::create_directories(m_dir.File("tmp"));
  const std::string elsewhere = m_dir.File("elsewhere");
  struct Planting {
    const char* what;
    std::function<bool()> plant;  // false: cannot be set up by this user
  };
  const std::vector<Planting> plantings = {
      {"a link to a private folder",
       [&] {
         fs::create_directories(elsewhere);
         fs::permissions(elsewhere, fs::perms::owner_all, fs::perm_options::replace);
         return symlink(elsewhere.c_str(), Wanted().c_str()) == 0;
       }},
      {"a folder anybody may write into",
       [&] {
         fs::create_directories(Wanted());
         fs::permissions(Wanted(), fs::perms::all, fs::perm_options::replace);
         return true;
       }},
      {"another user's folder",
       [&] {
         fs::create_directories(Wanted());
         fs::permissions(Wanted(), fs::perms::owner_all, fs::perm_options::replace);
         return geteuid() == 0 && chown(Wanted().c_str(), 4242, 4242) == 0;
       }},
  };
  bool someSkipped = false;
  for (const Planting& planting : plantings) {
    SCOPED_TRACE(planting.what);
    fs::remove_all(Wanted());
    fs::remove_all(elsewhere);
    if (!planting.plant()) {
      someSkipped = true;
      continue;
    }
    const std::string planted = fs::is_symlink(Wanted()) ? elsewhere : Wanted();
    std::string root;
    {
      TempFiles temp(m_folders, m_log, m_dir.File("tmp"));
      root = temp.GetTempRoot();
      EXPECT_EQ(root.rfind(Wanted() + "-", 0), 0u) << root;
      EXPECT_TRUE(IsOwnPrivateFolder(root)) << root;
      const std::string name = temp.MakeTempFileName("csv", "data", m_now);
      EXPECT_EQ(name, root + "/DORIX-data-" + Stamp() + "-00.csv");
      EXPECT_TRUE(fs::is_empty(planted));
      fs::remove(name);
    }
    EXPECT_FALSE(fs::exists(root)) << "the folder made for the run goes with it";
    m_lines.clear();
    Collect();
    EXPECT_EQ(m_lines,
              std::vector<std::string>{StrF(Tr(kMsgTempFolderRefused).c_str(), Wanted().c_str())});
  }
  if (someSkipped) {
    GTEST_SKIP() << "another user's folder needs root to be made";
  }
}

TEST_F(TempFilesTest, RuntimeFolderComesFirstWhenNobodyElseMayEnterIt) {
  fs::create_directories(m_dir.File("tmp"));
  const std::string runtime = m_dir.File("run");
  fs::create_directories(runtime);
  testing::EnvOverride set("XDG_RUNTIME_DIR", runtime);

  fs::permissions(runtime, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec,
                  fs::perm_options::replace);
  EXPECT_EQ(TempFiles(m_folders, m_log, m_dir.File("tmp")).GetTempRoot(), Wanted());

  fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
  TempFiles temp(m_folders, m_log, m_dir.File("tmp"));
  EXPECT_EQ(temp.MakeTempFileName("csv", "data", m_now),
            runtime + "/Dorix/DORIX-data-" + Stamp() + "-00.csv");
  EXPECT_TRUE(IsOwnPrivateFolder(runtime + "/Dorix"));
}

TEST_F(TempFilesTest, NoSystemTemporaryFolderAlertsAndTriesAgainNextTime) {
  TempFiles temp(m_folders, m_log, m_dir.File("tmp"));
  EXPECT_EQ(temp.MakeTempFileName("csv", "import", m_now), "");
  Collect();
  EXPECT_EQ(m_alerts, std::vector<std::string>{
                          "Error #78956412.1\nCan't get any temporary file location..."});
  fs::create_directories(m_dir.File("tmp"));
  EXPECT_EQ(temp.MakeTempFileName("csv", "import", m_now),
            Wanted() + "/DORIX-import-" + Stamp() + "-00.csv");
}

TEST_F(TempFilesTest, UnwritableSystemTemporaryFolderFallsBackToAPrivateOneInTheDataFolder) {
  testing::ReadOnlyFolder tmp(m_dir.File("tmp"));
  if (!tmp.Usable()) {
    GTEST_SKIP() << "no read-only folder can be made here";
  }
  TempFiles temp(m_folders, m_log, tmp.Path());
  EXPECT_EQ(temp.GetTempRoot(), TempFiles::kNoRoot);
  const std::string folder = m_dir.File("data/Temp");
  EXPECT_EQ(temp.MakeTempFileName("csv", "import", m_now),
            folder + "/DORIX-import-" + Stamp() + "-00.csv");
  EXPECT_EQ(temp.MakeTempFileName("csv", "import", m_now),
            folder + "/DORIX-import-" + Stamp() + "-01.csv");
  EXPECT_TRUE(IsOwnPrivateFolder(folder));
  Collect();
  EXPECT_TRUE(m_alerts.empty());
}

}  // namespace
}  // namespace lapora
