#include "foundation/app_settings.h"

#include <algorithm>

#include "foundation/chrono.h"
#include "foundation/folders.h"
#include "foundation/settings_store.h"

namespace lapora {

namespace {

// Reads one integer key with the field's current value as default and writes it back.
void ReadBack(SettingsStore& store, const char* section, const char* key, std::atomic<int>& field) {
  int value = store.ReadSettingInt(section, key, field.load());
  field = value;
  store.WriteSettingInt(section, key, value);
}

}  // namespace

void ReadStartupSettings(SettingsStore& store, AppSettings& s, const Folders& folders,
                         std::time_t now) {
  const char* settings = kSettingsSection;
  // The first six are all read, then all written back.
  s.GVarnexIgnoreInputMsDelta =
      store.ReadSettingInt(settings, "GVarnexIgnoreInputMsDelta", s.GVarnexIgnoreInputMsDelta);
  s.GVarnexIgnoreOutputMsDelta =
      store.ReadSettingInt(settings, "GVarnexIgnoreOutputMsDelta", s.GVarnexIgnoreOutputMsDelta);
  s.GVarnexReadMsDelta = store.ReadSettingInt(settings, "GVarnexReadMsDelta", s.GVarnexReadMsDelta);
  s.GVarnexConnectionTimeout =
      store.ReadSettingInt(settings, "GVarnexConnectionTimeout", s.GVarnexConnectionTimeout);
  s.GVarnexEmptyDetectionsActions = store.ReadSettingText(settings, "GVarnexEmptyDetectionsActions",
                                                          s.GVarnexEmptyDetectionsActions);
  s.GVarnexExportFile = store.ReadSettingText(settings, "GVarnexExportFile",
                                              folders.GetDocumentsFolder() + "/Lapora.kol");
  store.WriteSettingInt(settings, "GVarnexIgnoreInputMsDelta", s.GVarnexIgnoreInputMsDelta);
  store.WriteSettingInt(settings, "GVarnexIgnoreOutputMsDelta", s.GVarnexIgnoreOutputMsDelta);
  store.WriteSettingInt(settings, "GVarnexReadMsDelta", s.GVarnexReadMsDelta);
  store.WriteSettingInt(settings, "GVarnexConnectionTimeout", s.GVarnexConnectionTimeout);
  store.WriteSettingText(settings, "GVarnexEmptyDetectionsActions",
                         s.GVarnexEmptyDetectionsActions);
  store.WriteSettingText(settings, "GVarnexExportFile", s.GVarnexExportFile);

  // The direct connection: the defaults are the values already held.
  const char* direct = kDirectConnectionSection;
  s.Port = store.ReadSettingInt(direct, "Port", s.Port);
  s.Host = store.ReadSettingText(direct, "Host", s.Host);
  s.ReconnectSeconds = store.ReadSettingInt(direct, "ReconnectSeconds", s.ReconnectSeconds);
  s.GLinkStallSeconds = store.ReadSettingInt(direct, "GLinkStallSeconds", s.GLinkStallSeconds);
  s.BCatchUp = store.ReadSettingBool(direct, "BCatchUp", s.BCatchUp != 0) ? 1 : 0;
  store.WriteSettingInt(direct, "Port", s.Port);
  store.WriteSettingText(direct, "Host", s.Host);
  store.WriteSettingInt(direct, "ReconnectSeconds", s.ReconnectSeconds);
  store.WriteSettingInt(direct, "GLinkStallSeconds", s.GLinkStallSeconds);
  store.WriteSettingBool(direct, "BCatchUp", s.BCatchUp != 0);

  ReadBack(store, settings, "GVarnexIgnoreUnknownTags", s.GVarnexIgnoreUnknownTags);
  ReadBack(store, settings, "SleepMilliAfterLeadingStart", s.SleepMilliAfterLeadingStart);
  ReadBack(store, settings, "SleepMilliAfterLeadingStop", s.SleepMilliAfterLeadingStop);
  ReadBack(store, settings, "SleepMilliAfterSetTime", s.SleepMilliAfterSetTime);
  ReadBack(store, settings, "GBoxReconnectSeconds", s.GBoxReconnectSeconds);
  ReadBack(store, settings, "GDaysToAdd", s.GDaysToAdd);
  ReadBack(store, settings, "GSyncDetections", s.GSyncDetections);
  ReadBack(store, settings, "BAutoRecover", s.BAutoRecover);
  ReadBack(store, settings, "GBoxSilenceSeconds", s.GBoxSilenceSeconds);
  ReadBack(store, settings, "GClockAlarmMs", s.GClockAlarmMs);

  UpdateRaceDayDates(s, now);

  // Read only: these two are written by the configuration dialog, not here.
  s.GVarnexBeepDetections =
      store.ReadSettingBool(settings, "GVarnexBeepDetections", s.GVarnexBeepDetections != 0);
  s.GVarnexBeepWhenQuit =
      store.ReadSettingBool(settings, "GVarnexBeepWhenQuit", s.GVarnexBeepWhenQuit != 0);
  // Read only: a key for tests and odd boxes, not one to offer in every settings file.
  s.GBoxDiscoverySeconds =
      std::max(0, store.ReadSettingInt(settings, "GBoxDiscoverySeconds", s.GBoxDiscoverySeconds));
}

void ReadMainWindowSettings(SettingsStore& store, AppSettings& s) {
  const char* settings = kSettingsSection;
  ReadBack(store, settings, "BAbsClock", s.BAbsClock);
  ReadBack(store, settings, "LogWinLevel", s.LogWinLevel);
  ReadBack(store, settings, "LogFileLevel", s.LogFileLevel);
  ReadBack(store, settings, "BLogDetections", s.BLogDetections);
  ReadBack(store, settings, "BScrollDetections", s.BScrollDetections);
}

std::array<std::string, 4> ComputeRaceDayDates(int daysToAdd, std::time_t now) {
  std::array<std::string, 4> dates;
  for (int day = 0; day < 4; ++day) {
    dates[static_cast<size_t>(day)] = DateFromToday(daysToAdd >= 1 ? day - daysToAdd : day, now);
  }
  return dates;
}

void UpdateRaceDayDates(AppSettings& settings, std::time_t now) {
  settings.SetRaceDayDates(ComputeRaceDayDates(settings.GDaysToAdd, now));
}

}  // namespace lapora
