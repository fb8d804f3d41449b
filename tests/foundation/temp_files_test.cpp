#include "foundation/temp_files.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "foundation/chrono.h"
#include "foundation/events.h"
#include "foundation/folders.h"
#include "foundation/log.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

namespace fs = std::filesystem;

class TempFilesTest : public ::testing::Test {
 protected:
  // The alerts posted so far.
  std::vector<std::string> Alerts() {
    std::vector<std::string> texts;
    m_events.Dispatch([&](const Event& event) {
      if (const auto* alert = std::get_if<AlertEvent>(&event)) {
        texts.push_back(alert->text);
      }
    });
    return texts;
  }
  std::string Stamp() const { return TodayCompact(m_now) + NowCompactTime(m_now); }

  testing::TempDir m_dir;
  EventQueue m_events;
  Logger m_log{m_events};
  Folders m_folders{m_dir.File("bin"), m_dir.File("data")};
  const std::time_t m_now = 1336901025;  // any fixed instant
};

TEST_F(TempFilesTest, TwoNamesInOneSecondDifferOnlyByTheCounter) {
  fs::create_directories(m_dir.File("tmp"));
  TempFiles temp(m_folders, m_log, m_dir.File("tmp"));
  const std::string root = m_dir.File("tmp/Dorix");
  EXPECT_EQ(temp.GetTempRoot(), root);
  EXPECT_TRUE(fs::is_directory(root));

  EXPECT_EQ(temp.MakeTempFileName("csv", "import", m_now),
            root + "/DORIX-import-" + Stamp() + "-00.csv");
  EXPECT_EQ(temp.MakeTempFileName("csv", "import", m_now),
            root + "/DORIX-import-" + Stamp() + "-01.csv");
  // No tag: the tag and its dash are left out; the counter is shared.
  EXPECT_EQ(temp.MakeTempFileName("zip", "", m_now), root + "/DORIX-" + Stamp() + "-02.zip");
  EXPECT_FALSE(fs::exists(root + "/DORIX-import-" + Stamp() + "-00.csv")) << "names only";
  EXPECT_TRUE(Alerts().empty());
}

TEST_F(TempFilesTest, NameTakenByAnotherProcessIsSkipped) {
  fs::create_directories(m_dir.File("tmp/Dorix"));
  TempFiles temp(m_folders, m_log, m_dir.File("tmp"));
  const std::string stem = m_dir.File("tmp/Dorix/DORIX-data-") + Stamp();
  testing::WriteFile(stem + "-00.csv", "someone else's");
  EXPECT_EQ(temp.MakeTempFileName("csv", "data", m_now), stem + "-01.csv");
  EXPECT_EQ(temp.MakeTempFileName("csv", "data", m_now), stem + "-02.csv");
}

TEST_F(TempFilesTest, NoSystemTemporaryFolderAlertsAndTriesAgainNextTime) {
  TempFiles temp(m_folders, m_log, m_dir.File("tmp"));
  EXPECT_EQ(temp.MakeTempFileName("csv", "import", m_now), "");
  EXPECT_EQ(Alerts(), std::vector<std::string>{
                          "Error #78956412.1\nCan't get any temporary file location..."});
  fs::create_directories(m_dir.File("tmp"));
  EXPECT_EQ(temp.MakeTempFileName("csv", "import", m_now),
            m_dir.File("tmp/Dorix/DORIX-import-") + Stamp() + "-00.csv");
}

TEST_F(TempFilesTest, UnusableRootFallsBackToAUniqueBaseInTheDataFolder) {
  fs::create_directories(m_dir.File("tmp"));
  testing::WriteFile(m_dir.File("tmp/Dorix"), "a file, not a folder");
  TempFiles temp(m_folders, m_log, m_dir.File("tmp"));
  EXPECT_EQ(temp.GetTempRoot(), TempFiles::kNoRoot);

  std::string first = temp.MakeTempFileName("csv", "import", m_now);
  std::string second = temp.MakeTempFileName("csv", "import", m_now);
  const std::string prefix = m_dir.File("data/Temp/DORIX-");
  ASSERT_EQ(first.rfind(prefix, 0), 0u) << first;
  EXPECT_NE(first.find("-import-" + Stamp() + "-00.csv"), std::string::npos) << first;
  EXPECT_NE(second.find("-import-" + Stamp() + "-01.csv"), std::string::npos) << second;
  EXPECT_TRUE(fs::is_empty(m_dir.File("data/Temp"))) << "the unique base is not left behind";
  EXPECT_TRUE(Alerts().empty());
}

}  // namespace
}  // namespace lapora
