#include "foundation/startup.h"

#include "foundation/app_settings.h"
#include "foundation/clock.h"
#include "foundation/folders.h"
#include "foundation/instance_lock.h"
#include "foundation/log.h"
#include "foundation/pop_front.h"
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

  // The data and log folders must take files: without them there would be no settings, no
  // log and no incoming-detections file, and nobody would know.
  std::string reason;
  const std::string dataFolder = m_folders.DataFolderPath();
  if (dataFolder.empty()) {
    result.errorText =
        StrF(Tr(kMsgDataFolderRefused).c_str(), "neither XDG_DATA_HOME nor HOME names a folder");
    return result;
  }
  if (!MakeWritableFolder(dataFolder, &reason)) {
    result.errorText = StrF(Tr(kMsgDataFolderRefused).c_str(), reason.c_str());
    return result;
  }
  if (!MakeWritableFolder(m_folders.LogFolderPath(), &reason)) {
    result.errorText = StrF(Tr(kMsgLogFolderRefused).c_str(), reason.c_str());
    return result;
  }

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
  switch (m_instanceLock.Take(m_folders.GetLockFolder(), &result.instanceLockError)) {
    case CInstanceLock::TakeResult::kTaken:
      break;
    case CInstanceLock::TakeResult::kHeldElsewhere: {
      result.alreadyStarted = true;
      // The operator is looking for the running window: it comes in front of the others
      // before the text is shown. No instance answering changes nothing here.
      (void)RequestPopFront(m_folders.GetLockFolder());
      std::string text = Tr(kMsgAlreadyStarted);
      if (!m_alreadyStarted || !m_alreadyStarted(text)) {
        result.errorText = text;
        return result;
      }
      break;
    }
    case CInstanceLock::TakeResult::kFailed:
      // Not a second instance: nothing would keep a second one out, so none may start.
      result.errorText =
          StrF(Tr(kMsgInstanceLockRefused).c_str(), result.instanceLockError.c_str());
      return result;
  }

  // 12. Where the program lives, for other programs to find.
  m_store.WriteSettingText(kApplicationSection, "SoftwareLocation", m_folders.GetProgramFolder());

  result.ok = true;
  return result;
}

}  // namespace lapora
