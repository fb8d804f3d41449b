#include "foundation/app_settings.h"

#include <gtest/gtest.h>

#include <ctime>
#include <memory>

#include "foundation/folders.h"
#include "foundation/settings_store.h"
#include "support/env_override.h"
#include "support/local_time.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

// Local noon of a day, so that adding whole days never crosses a clock change.
std::time_t LocalNoon(int year, int month, int day) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = 12;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

TEST(RaceDayDatesTest, DaysToAddShiftsDayZeroBack) {
  const std::time_t now = LocalNoon(2024, 2, 28);
  using Dates = std::array<std::string, 4>;
  EXPECT_EQ(ComputeRaceDayDates(0, now), (Dates{"20240228", "20240229", "20240301", "20240302"}));
  EXPECT_EQ(ComputeRaceDayDates(1, now), (Dates{"20240227", "20240228", "20240229", "20240301"}));
  EXPECT_EQ(ComputeRaceDayDates(3, now), (Dates{"20240225", "20240226", "20240227", "20240228"}));
  // A negative offset counts as none.
  EXPECT_EQ(ComputeRaceDayDates(-2, now), ComputeRaceDayDates(0, now));

  AppSettings settings;
  settings.GDaysToAdd = 1;
  UpdateRaceDayDates(settings, LocalNoon(2023, 12, 31));
  EXPECT_EQ(settings.RaceDayDates(), (Dates{"20231230", "20231231", "20240101", "20240102"}));
}

// Europe/Paris for one test; the zone in force before comes back afterwards.
class ParisTimeZone {
 public:
  ParisTimeZone() { tzset(); }
  ~ParisTimeZone() {
    m_tz.reset();
    tzset();
  }

 private:
  std::unique_ptr<testing::EnvOverride> m_tz =
      std::make_unique<testing::EnvOverride>("TZ", "Europe/Paris");
};

using testing::LocalTime;

TEST(RaceDayDatesTest, FourDistinctCalendarDaysAcrossBothClockChanges) {
  ParisTimeZone paris;
  using Dates = std::array<std::string, 4>;
  struct Row {
    std::time_t now;
    int daysToAdd;
    Dates expected;
  };
  const Row rows[] = {
      // Spring 2012: 25 March has 23 hours.
      {LocalTime(2012, 3, 24, 23, 30), 0, {"20120324", "20120325", "20120326", "20120327"}},
      {LocalTime(2012, 3, 25, 0, 30), 0, {"20120325", "20120326", "20120327", "20120328"}},
      {LocalTime(2012, 3, 26, 0, 30), 1, {"20120325", "20120326", "20120327", "20120328"}},
      {LocalTime(2012, 3, 27, 0, 30), 3, {"20120324", "20120325", "20120326", "20120327"}},
      // Autumn 2012: 28 October has 25 hours.
      {LocalTime(2012, 10, 27, 23, 30), 0, {"20121027", "20121028", "20121029", "20121030"}},
      {LocalTime(2012, 10, 28, 0, 30), 0, {"20121028", "20121029", "20121030", "20121031"}},
      {LocalTime(2012, 10, 28, 23, 30), 1, {"20121027", "20121028", "20121029", "20121030"}},
      {LocalTime(2012, 10, 29, 23, 30), 2, {"20121027", "20121028", "20121029", "20121030"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.now << ", GDaysToAdd " << row.daysToAdd);
    EXPECT_EQ(ComputeRaceDayDates(row.daysToAdd, row.now), row.expected);
  }
}

class StartupSettingsTest : public ::testing::Test {
 protected:
  std::string Content() const { return testing::ReadFile(m_store.SettingsFile()); }

  testing::TempDir m_dir;
  Folders m_folders{m_dir.path(), m_dir.File("data")};
  SettingsStore m_store{m_dir.File("Lapora.ini")};
  AppSettings m_settings;
};

TEST_F(StartupSettingsTest, StoredValuesAreReadAndWrittenBackNormalised) {
  testing::WriteFile(m_store.SettingsFile(),
                     "[Settings]\r\n"
                     "GVarnexIgnoreInputMsDelta=120ms\r\n"
                     "GVarnexExportFile=/srv/race.kol\r\n"
                     "GDaysToAdd=1\r\n"
                     "GVarnexBeepDetections=0\r\n"
                     "GVarnexBeepWhenQuit=junk\r\n"
                     "GBoxDiscoverySeconds=3\r\n"
                     "LogWinLevel=100\r\n"
                     "[DirectConnection]\r\n"
                     "Port=9000\r\n"
                     "Host=results.local\r\n"
                     "GLinkStallSeconds=3\r\n"
                     "BCatchUp=0\r\n");
  ReadStartupSettings(m_store, m_settings, m_folders, LocalNoon(2024, 3, 1));
  ReadMainWindowSettings(m_store, m_settings);

  EXPECT_EQ(m_settings.GVarnexIgnoreInputMsDelta, 120);
  EXPECT_EQ(m_settings.GVarnexExportFile, "/srv/race.kol");
  EXPECT_EQ(m_settings.GDaysToAdd, 1);
  EXPECT_EQ(m_settings.GVarnexBeepDetections, 0);
  EXPECT_EQ(m_settings.GVarnexBeepWhenQuit, 0);
  EXPECT_EQ(m_settings.GBoxDiscoverySeconds, 3);
  EXPECT_EQ(m_settings.Port, 9000);
  EXPECT_EQ(m_settings.Host, "results.local");
  EXPECT_EQ(m_settings.ReconnectSeconds, 15);
  EXPECT_EQ(m_settings.GLinkStallSeconds, 3);
  EXPECT_EQ(m_settings.BCatchUp, 0);
  EXPECT_EQ(m_settings.LogWinLevel, 100);
  EXPECT_EQ(m_settings.RaceDayDates()[0], "20240229");

  EXPECT_EQ(m_store.ReadSettingText("Settings", "GVarnexIgnoreInputMsDelta", ""), "120");
  // The sound keys are read only: their text stays as it was.
  EXPECT_EQ(m_store.ReadSettingText("Settings", "GVarnexBeepWhenQuit", ""), "junk");
  EXPECT_EQ(m_store.ReadSettingText("DirectConnection", "ReconnectSeconds", ""), "15");
}

TEST_F(StartupSettingsTest, DirectConnectionDefaultsAreTheValuesAlreadyHeld) {
  m_settings.Port = 7000;
  m_settings.Host = "elsewhere";
  ReadStartupSettings(m_store, m_settings, m_folders, LocalNoon(2024, 3, 1));
  EXPECT_EQ(m_store.ReadSettingInt("DirectConnection", "Port", 0), 7000);
  EXPECT_EQ(m_store.ReadSettingText("DirectConnection", "Host", ""), "elsewhere");
}

}  // namespace
}  // namespace lapora
