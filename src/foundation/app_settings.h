// The start-up settings held for the whole run (fields carry the settings key names).
// Written by the main thread only. Integer fields are atomics so that worker threads (box
// threads, link thread) may read them at any time; the race-day dates, read by the box
// threads for every detection, sit behind a mutex. The other texts are main-thread only.
#pragma once

#include <array>
#include <atomic>
#include <ctime>
#include <mutex>
#include <string>

namespace lapora {

class Folders;
class SettingsStore;

// Sections of the settings file used here.
inline constexpr char kSettingsSection[] = "Settings";
inline constexpr char kDirectConnectionSection[] = "DirectConnection";
inline constexpr char kApplicationSection[] = "Application";

struct AppSettings {
  // [Settings]
  std::atomic<int> GVarnexIgnoreInputMsDelta{50};
  std::atomic<int> GVarnexIgnoreOutputMsDelta{300};
  std::atomic<int> GVarnexReadMsDelta{1};
  std::atomic<int> GVarnexConnectionTimeout{2};
  std::string GVarnexEmptyDetectionsActions{"-"};
  std::string GVarnexExportFile;  // default: documents folder + "/Lapora.kol"
  std::atomic<int> GVarnexIgnoreUnknownTags{0};
  std::atomic<int> SleepMilliAfterLeadingStart{3000};
  std::atomic<int> SleepMilliAfterLeadingStop{3000};
  std::atomic<int> SleepMilliAfterSetTime{2000};
  std::atomic<int> GBoxReconnectSeconds{30};
  std::atomic<int> GDaysToAdd{0};
  std::atomic<int> GVarnexBeepDetections{1};
  std::atomic<int> GVarnexBeepWhenQuit{1};
  // How long the device-id discovery after a box's connection waits for a whole line.
  std::atomic<int> GBoxDiscoverySeconds{10};
  // Each group commit of the incoming-detections file ends with fdatasync (advanced dialog).
  std::atomic<int> GSyncDetections{1};
  // A box found again after a lost connection is asked to replay the reads it stored
  // meanwhile (advanced dialog).
  std::atomic<int> BAutoRecover{1};
  // A connected box that has sent nothing at all for this long is reported silent (0: never).
  std::atomic<int> GBoxSilenceSeconds{15};
  // A box whose clock is further than this from the PC's raises an alert (0: never).
  std::atomic<int> GClockAlarmMs{1000};
  // [DirectConnection]
  std::atomic<int> Port{8283};
  std::string Host{"localhost"};
  std::atomic<int> ReconnectSeconds{15};
  // A results software that takes none of the data waiting for it this long is lost.
  std::atomic<int> GLinkStallSeconds{30};
  // Detections recorded while the connection was down are sent once it is back, and a lost
  // connection is made again by itself.
  std::atomic<int> BCatchUp{1};
  // Main-window keys, read when the main window opens.
  std::atomic<int> BAbsClock{0};
  std::atomic<int> LogWinLevel{50};
  std::atomic<int> LogFileLevel{75};
  std::atomic<int> BLogDetections{1};
  std::atomic<int> BScrollDetections{1};

  // The calendar dates (YYYYMMDD) of race days 0 to 3.
  std::array<std::string, 4> RaceDayDates() const {
    std::lock_guard lock(m_datesMutex);
    return m_raceDayDates;
  }
  void SetRaceDayDates(const std::array<std::string, 4>& dates) {
    std::lock_guard lock(m_datesMutex);
    m_raceDayDates = dates;
  }

 private:
  mutable std::mutex m_datesMutex;
  std::array<std::string, 4> m_raceDayDates;
};

// Start-up: reads the start-up keys, each written back at once (the two sound keys and
// GBoxDiscoverySeconds are only read), in the order that fixes their order in a new file, and
// computes the race-day dates for the local date of now. Main thread.
void ReadStartupSettings(SettingsStore& store, AppSettings& settings, const Folders& folders,
                         std::time_t now);
// The main window's keys (BAbsClock, LogWinLevel, LogFileLevel, BLogDetections,
// BScrollDetections), read and written back in that order when the window opens. Main thread.
void ReadMainWindowSettings(SettingsStore& store, AppSettings& settings);

// The dates YYYYMMDD of race days 0 to 3: day k is today + k - daysToAdd when daysToAdd >= 1,
// today + k otherwise.
std::array<std::string, 4> ComputeRaceDayDates(int daysToAdd, std::time_t now);
// Recomputes the dates from GDaysToAdd (start-up, and after the configuration dialog).
void UpdateRaceDayDates(AppSettings& settings, std::time_t now);

}  // namespace lapora
