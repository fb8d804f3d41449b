// The start-up sequence of the application, up to the moment the caller starts the FTP worker
// and opens the main window: socket layer, time locale, settings file, log and
// incoming-detections paths, start-up settings, race-day dates, instance lock and the
// program's location. Runs on the main thread before any other thread exists.
#pragma once

#include <functional>
#include <string>
#include <utility>

namespace lapora {

class CInstanceLock;
class Clock;
class Folders;
class Logger;
class SettingsStore;
struct AppSettings;

struct StartupResult {
  // False: start-up ended and the process must exit with a non-zero status, after showing
  // errorText.
  bool ok = false;
  std::string errorText;
  // True when another instance holds the instance lock (ok may still be true when the
  // operator chose to start regardless).
  bool alreadyStarted = false;
  // Why the instance lock could not be had (held elsewhere, or no lock file), for the log.
  std::string instanceLockError;
  std::string settingsFilePath;
  std::string logFilePath;
  std::string incomingDetectionsFilePath;
};

class Startup {
 public:
  // Shows the "already started" text and returns true to start regardless (the operator held
  // Ctrl when dismissing it). Without a handler, start-up ends. The running instance has been
  // asked to bring its window to the front just before.
  using AlreadyStartedHandler = std::function<bool(const std::string& text)>;

  Startup(SettingsStore& store, AppSettings& settings, const Folders& folders, Logger& log,
          CInstanceLock& instanceLock, const Clock& clock)
      : m_store(store),
        m_settings(settings),
        m_folders(folders),
        m_log(log),
        m_instanceLock(instanceLock),
        m_clock(clock) {}

  void SetAlreadyStartedHandler(AlreadyStartedHandler handler) {
    m_alreadyStarted = std::move(handler);
  }

  // Runs the sequence; the instance lock stays held in instanceLock when it was taken.
  StartupResult Run();

 private:
  SettingsStore& m_store;
  AppSettings& m_settings;
  const Folders& m_folders;
  Logger& m_log;
  CInstanceLock& m_instanceLock;
  const Clock& m_clock;
  AlreadyStartedHandler m_alreadyStarted;
};

}  // namespace lapora
