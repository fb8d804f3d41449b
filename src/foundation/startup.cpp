#include "foundation/startup.h"

#include "foundation/app_settings.h"
#include "foundation/clock.h"
#include "foundation/folders.h"
#include "foundation/instance_lock.h"
#include "foundation/log.h"
#include "foundation/settings_store.h"
#include "foundation/text.h"
#include "platform/process.h"
#include "resources/messages_foundation.h"

namespace lapora {

namespace {

// One language only: it names the socket layer of the original system.
constexpr char kSocketFailureText[] = "Echec de l'initialisation des sockets Windows.";

}  // namespace

StartupResult Startup::Run() {
  StartupResult result;

  // 1. The socket layer.
  if (!InitSocketLayer()) {
    result.errorText = kSocketFailureText;
    return result;
  }
  // 2. Embedded controls need no set-up here.
  // 3. Month names in the log's time stamps follow the user's locale; "C" when it is missing.
  SetUserTimeLocale();

  // 4. The settings file.
  result.settingsFilePath = m_folders.GetSettingsFilePath();
  m_store.SetSettingsFile(result.settingsFilePath);

  // 5. The log file and this run's incoming-detections file.
  const std::time_t now = m_clock.NowUnix();
  result.logFilePath = m_folders.GetLogFilePath();
  m_log.SetLogFilePath(result.logFilePath);
  // A run started within the second of the previous one gets a file of its own.
  result.incomingDetectionsFilePath = FreshFilePath(m_folders.GetIncomingDetectionsFilePath(now));

  // 6 to 10. The start-up keys and the race-day dates.
  ReadStartupSettings(m_store, m_settings, m_folders, now);

  // 11. One instance at a time.
  if (!m_instanceLock.Take(m_folders.GetLockFolder(), &result.instanceLockError)) {
    result.alreadyStarted = true;
    std::string text = Tr(kMsgAlreadyStarted);
    if (!m_alreadyStarted || !m_alreadyStarted(text)) {
      result.errorText = text;
      return result;
    }
  }

  // 12. Where the program lives, for other programs to find.
  m_store.WriteSettingText(kApplicationSection, "SoftwareLocation", m_folders.GetProgramFolder());

  result.ok = true;
  return result;
}

}  // namespace lapora
