#include "foundation/startup.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>

#include <gtest/gtest.h>
#include <stdlib.h>

#include "foundation/app_settings.h"
#include "foundation/chrono.h"
#include "foundation/clock.h"
#include "foundation/events.h"
#include "foundation/folders.h"
#include "foundation/instance_lock.h"
#include "foundation/log.h"
#include "foundation/settings_store.h"
#include "foundation/version.h"
#include "resources/messages_foundation.h"
#include "support/env_override.h"
#include "support/read_only_folder.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

namespace fs = std::filesystem;

using testing::EnvOverride;

// One run of the application's start-up on its own objects.
struct Instance {
  explicit Instance(const Folders& folders, const Clock& clock)
      : startup(store, settings, folders, log, instanceLock, clock) {}

  SettingsStore store;
  AppSettings settings;
  EventQueue events;
  Logger log{events};
  CInstanceLock instanceLock;
  Startup startup;
};

class StartupTest : public ::testing::Test {
 protected:
  std::string Data() const { return m_dir.File("data"); }

  testing::TempDir m_dir;
  EnvOverride m_home{"HOME", m_dir.File("home")};
  EnvOverride m_config{"XDG_CONFIG_HOME", m_dir.File("config")};
  Folders m_folders{m_dir.File("bin"), m_dir.File("data")};
  ManualClock m_clock{1336901025000LL};  // a fixed instant
};

TEST_F(StartupTest, FirstStartWritesEveryKeyWithItsDefaultInOrder) {
  fs::create_directories(m_dir.File("home"));
  Instance app(m_folders, m_clock);
  StartupResult result = app.startup.Run();
  ASSERT_TRUE(result.ok) << result.errorText;
  EXPECT_FALSE(result.alreadyStarted);
  EXPECT_TRUE(app.instanceLock.IsHeld());
  // The main window's keys follow when it opens.
  ReadMainWindowSettings(app.store, app.settings);

  const std::string home = m_dir.File("home");
  EXPECT_EQ(result.settingsFilePath, Data() + "/Lapora.ini");
  EXPECT_EQ(testing::ReadFile(result.settingsFilePath),
            "[Settings]\r\n"
            "GVarnexIgnoreInputMsDelta=50\r\n"
            "GVarnexIgnoreOutputMsDelta=300\r\n"
            "GVarnexReadMsDelta=1\r\n"
            "GVarnexConnectionTimeout=2\r\n"
            "GVarnexEmptyDetectionsActions=-\r\n"
            "GVarnexExportFile=" +
                home +
                "/Lapora.kol\r\n"
                "GVarnexIgnoreUnknownTags=0\r\n"
                "SleepMilliAfterLeadingStart=3000\r\n"
                "SleepMilliAfterLeadingStop=3000\r\n"
                "SleepMilliAfterSetTime=2000\r\n"
                "GBoxReconnectSeconds=30\r\n"
                "GDaysToAdd=0\r\n"
                "GSyncDetections=1\r\n"
                "BAutoRecover=1\r\n"
                "GBoxSilenceSeconds=15\r\n"
                "GClockAlarmMs=1000\r\n"
                "BAbsClock=0\r\n"
                "LogWinLevel=50\r\n"
                "LogFileLevel=75\r\n"
                "BLogDetections=1\r\n"
                "BScrollDetections=1\r\n"
                "[DirectConnection]\r\n"
                "Port=8283\r\n"
                "Host=localhost\r\n"
                "ReconnectSeconds=15\r\n"
                "GLinkStallSeconds=30\r\n"
                "BCatchUp=1\r\n"
                "[Application]\r\n"
                "SoftwareLocation=" +
                m_dir.File("bin") + "\r\n");

  const std::time_t now = m_clock.NowUnix();
  EXPECT_EQ(result.logFilePath, Data() + "/logfiles/Lapora.log");
  EXPECT_EQ(app.log.LogFilePath(), result.logFilePath);
  EXPECT_EQ(result.incomingDetectionsFilePath,
            Data() + "/logfiles/Lapora-" + TodayCompact(now) + "-" + NowCompactTime(now) + ".dat");
  EXPECT_EQ(app.settings.RaceDayDates(),
            (std::array<std::string, 4>{DateFromToday(0, now), DateFromToday(1, now),
                                        DateFromToday(2, now), DateFromToday(3, now)}));
  EXPECT_EQ(app.settings.GVarnexExportFile, home + "/Lapora.kol");
  EXPECT_TRUE(fs::exists(Data() + "/Lapora.mtx"));
}

TEST_F(StartupTest, RestartKeepsTheFileAsItIs) {
  Instance first(m_folders, m_clock);
  ASSERT_TRUE(first.startup.Run().ok);
  first.instanceLock.Release();
  const std::string path = Data() + "/Lapora.ini";
  const std::string afterFirst = testing::ReadFile(path);
  testing::WriteFile(path, afterFirst + "[OstraBoxes]\r\nBox1=x\r\n");

  Instance second(m_folders, m_clock);
  ASSERT_TRUE(second.startup.Run().ok);
  EXPECT_EQ(testing::ReadFile(path), afterFirst + "[OstraBoxes]\r\nBox1=x\r\n");
}

TEST_F(StartupTest, RestartWithinTheSameSecondGetsAnIncomingFileOfItsOwn) {
  Instance first(m_folders, m_clock);
  StartupResult one = first.startup.Run();
  ASSERT_TRUE(one.ok);
  first.instanceLock.Release();
  testing::WriteFile(one.incomingDetectionsFilePath, "1\tFIN\t7\t1\t10:00:00.00\t1\r\n");

  Instance second(m_folders, m_clock);
  StartupResult two = second.startup.Run();
  ASSERT_TRUE(two.ok);
  std::string stem =
      one.incomingDetectionsFilePath.substr(0, one.incomingDetectionsFilePath.size() - 4);
  EXPECT_EQ(two.incomingDetectionsFilePath, stem + "-2.dat");
}

TEST_F(StartupTest, SecondStartEndsWithTheAlreadyStartedText) {
  Instance first(m_folders, m_clock);
  ASSERT_TRUE(first.startup.Run().ok);

  Instance second(m_folders, m_clock);
  StartupResult refused = second.startup.Run();
  EXPECT_FALSE(refused.ok);
  EXPECT_TRUE(refused.alreadyStarted);
  EXPECT_EQ(refused.errorText, Tr(kMsgAlreadyStarted));
  EXPECT_FALSE(refused.instanceLockError.empty());
  EXPECT_TRUE(first.instanceLock.IsHeld());
  EXPECT_FALSE(second.instanceLock.IsHeld());

  // Ctrl held when the message is dismissed: start-up goes on.
  std::string shown;
  Instance third(m_folders, m_clock);
  third.startup.SetAlreadyStartedHandler([&](const std::string& text) {
    shown = text;
    return true;
  });
  StartupResult forced = third.startup.Run();
  EXPECT_TRUE(forced.ok);
  EXPECT_TRUE(forced.alreadyStarted);
  EXPECT_EQ(shown, Tr(kMsgAlreadyStarted));

  // Another data folder is another installation: it starts.
  Folders elsewhere(m_dir.File("bin"), m_dir.File("other"));
  Instance fourth(elsewhere, m_clock);
  EXPECT_TRUE(fourth.startup.Run().ok);
}

TEST_F(StartupTest, FoldersAndLockThatCannotBeMadeEndStartUpNamingPathAndReason) {
  testing::WriteFile(m_dir.File("file"), "x");
  struct Case {
    const char* name;
    std::string dataFolder;
    std::function<void()> prepare;
    std::string expected;
  };
  const std::string notDir = std::strerror(ENOTDIR);
  const Case cases[] = {
      {"data folder under a file", m_dir.File("file/data"), [] {},
       StrF(Tr(kMsgDataFolderRefused).c_str(), (m_dir.File("file/data") + ": " + notDir).c_str())},
      {"a file in the way of the data folder", m_dir.File("file"), [] {},
       StrF(Tr(kMsgDataFolderRefused).c_str(), (m_dir.File("file") + ": " + notDir).c_str())},
      {"a file in the way of the log folder", m_dir.File("d1"),
       [this] {
         fs::create_directories(m_dir.File("d1"));
         testing::WriteFile(m_dir.File("d1/logfiles"), "x");
       },
       StrF(Tr(kMsgLogFolderRefused).c_str(), (m_dir.File("d1/logfiles") + ": " + notDir).c_str())},
      {"a folder in the way of the lock file", m_dir.File("d2"),
       [this] { fs::create_directories(m_dir.File("d2/Lapora.mtx")); },
       StrF(Tr(kMsgInstanceLockRefused).c_str(),
            (m_dir.File("d2/Lapora.mtx") + ": " + std::strerror(EISDIR)).c_str())},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.prepare();
    Folders folders(m_dir.File("bin"), c.dataFolder);
    Instance app(folders, m_clock);
    bool asked = false;
    app.startup.SetAlreadyStartedHandler([&](const std::string&) { return asked = true; });
    StartupResult result = app.startup.Run();
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.alreadyStarted);
    EXPECT_FALSE(asked) << "not another instance: Ctrl cannot override it";
    EXPECT_EQ(result.errorText, c.expected);
    EXPECT_FALSE(app.instanceLock.IsHeld());
  }
}

TEST_F(StartupTest, ReadOnlyDataFolderEndsStartUp) {
  testing::ReadOnlyFolder readOnly(m_dir.File("ro"));
  if (!readOnly.Usable()) {
    GTEST_SKIP() << "no read-only folder can be set up here";
  }
  Folders folders(m_dir.File("bin"), readOnly.Path());
  Instance app(folders, m_clock);
  StartupResult result = app.startup.Run();
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(
      result.errorText,
      StrF(Tr(kMsgDataFolderRefused).c_str(),
           (readOnly.Path() + ": " + std::strerror(geteuid() == 0 ? EROFS : EACCES)).c_str()));
}

TEST(VersionTest, BannerTextsInBothLanguages) {
  EXPECT_STREQ(kVersionText, "Version 1.40 - 9 jun 2o26");
  EXPECT_EQ(StrF(TrIn(Language::kEnglish, kMsgStartBanner).c_str(), kVersionText),
            "------------------------ Starting Lapora version Version 1.40 - 9 jun 2o26");
  EXPECT_EQ(StrF(TrIn(Language::kFrench, kMsgStartBanner).c_str(), kVersionText),
            "------------------------ Lancement Lapora version Version 1.40 - 9 jun 2o26");
  EXPECT_EQ(StartBannerText(), StrF(Tr(kMsgStartBanner).c_str(), kVersionText));
  EXPECT_EQ(TrIn(Language::kFrench, kMsgAlreadyStarted),
            "D\xE9sol\xE9...\nLapora est d\xE9j\xE0 lanc\xE9 et ne peut \xEAtre lanc\xE9 "
            "plusieurs fois...");
}

}  // namespace
}  // namespace lapora
