#include "station/station.h"

#include <array>
#include <cctype>
#include <cstdlib>
#include <type_traits>
#include <variant>

#include "detections/chip_table.h"
#include "detections/detection_intake.h"
#include "detections/recorded_detections.h"
#include "foundation/chrono.h"
#include "foundation/clock.h"
#include "foundation/settings_store.h"
#include "foundation/sound.h"
#include "foundation/speech.h"
#include "foundation/version.h"
#include "platform/special_folders.h"
#include "resources/messages_detections.h"
#include "resources/messages_foundation.h"
#include "resources/messages_station.h"

namespace lapora {

namespace {

constexpr const char* kSettings = kSettingsSection;

// The leading integer of a text (blanks first allowed); false when it has none.
bool LeadingInteger(const std::string& text, int* value) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
    ++i;
  }
  std::size_t start = i;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    ++i;
  }
  std::size_t digits = i;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0) {
    ++i;
  }
  if (i == digits || i - digits > 9) {
    return false;
  }
  *value = std::atoi(text.substr(start, i - start).c_str());
  return true;
}

}  // namespace

Station::Station(StationParts parts, FrontEnd& front)
    : m_parts(std::move(parts)), m_front(front), m_logList(m_parts.log) {}

Station::~Station() {
  // Texts posted once the window is gone are dropped.
  m_parts.log.SetPostingEnabled(false);
}

std::vector<std::string> Station::LevelEntries() {
  return {Tr(kMsgLevelMinimum), Tr(kMsgLevelLow), Tr(kMsgLevelMedium), Tr(kMsgLevelHigh),
          Tr(kMsgLevelMaximum)};
}

int Station::LevelEntryFor(int level) {
  std::vector<std::string> entries = LevelEntries();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    int entryLevel = 0;
    if (LeadingInteger(entries[i], &entryLevel) && entryLevel == level) {
      return static_cast<int>(i);
    }
  }
  return 1;
}

void Station::Open() {
  AppSettings& s = m_parts.settings;
  m_front.PrepareWindow();
  m_parts.log.SetPostingEnabled(true);
  if (m_front.IsScrollLockOn() && m_parts.makeSpeech) {
    m_speech = m_parts.makeSpeech();
  }
  ReadWindowSettings();
  m_front.SetDirectState(DirectState::kNotConnected);
  RefreshBoxStatesAndCounter();
  m_parts.log.WriteLogText("\n");
  m_parts.log.WriteLogText(StrF(Tr(kMsgStartBanner).c_str(), m_parts.versionText.c_str()));
  m_parts.log.PostLog(
      0, StrF(Tr(kMsgIncomingDetectionsSaved).c_str(), m_parts.incomingDetectionsPath.c_str()));
  m_parts.records.OpenDetectionFile(m_parts.incomingDetectionsPath);
  m_front.SetVersionText(m_parts.versionText);
  std::string tableMessage;
  (void)m_parts.chipTable.LoadChipTable("VarnexTable.dtb", m_parts.dataFolder,
                                        m_parts.programFolder, &tableMessage);
  if (!tableMessage.empty()) {
    m_parts.log.PostLog(0, tableMessage);
  }
  m_front.SelectLevelEntry(LevelEntryFor(s.LogWinLevel));
  UpdateLongRaceIndicator();
  m_front.StartTimer(kTimerDayTracking, kDayTrackingMs, false);
  m_front.StartTimer(kTimerExportStep, kExportStepMs, true);
  RefreshBoxStatesAndCounter();
  m_front.StartTimer(kTimerConfigDialog, kConfigDialogMs, true);
  m_front.StartTimer(kTimerPing, kPingMs, false);
  m_open = true;
}

void Station::ReadWindowSettings() {
  AppSettings& s = m_parts.settings;
  ReadMainWindowSettings(m_parts.store, s);
  m_parts.log.SetLevel(s.LogWinLevel);
  m_front.SetCheckBoxes(s.BLogDetections != 0, s.BScrollDetections != 0);
}

bool Station::Close() {
  if (!m_open) {
    return true;
  }
  FlushBatches();
  if (!m_front.IsCtrlDown()) {
    if (m_parts.settings.GVarnexBeepWhenQuit != 0) {
      (void)m_parts.sound.PlaySoundResource(kSoundExit);
    }
    if (!m_front.AskYesNo(Tr(kMsgExitQuestion), MessageIcon::kQuestion, true)) {
      return false;
    }
  }
  m_front.StopTimer(kTimerConfigDialog);
  StopBoxThreads();
  m_parts.records.CloseDetectionFile();
  m_front.StartTimer(kTimerRefresh, kRefreshMs, true);
  m_parts.chipTable.ClearChipTable();
  if (m_parts.records.CountValidRecords() > 0) {
    m_parts.records.ClearRecords();
  }
  m_parts.log.PostLog(0, "+ Sortie du module d'acquisition...");
  // The farewell line is still shown and written: handle what is queued before the window goes.
  DrainEvents(SIZE_MAX);
  m_parts.log.WriteLogText(kExitBannerText);
  m_parts.log.SetPostingEnabled(false);
  for (int id : {kTimerDayTracking, kTimerExportStep, kTimerPing, kTimerRefresh}) {
    m_front.StopTimer(id);
  }
  m_open = false;
  m_closed = true;
  m_front.CloseWindow();
  return true;
}

void Station::StopBoxThreads() {
  // The box slots own the box threads; with none running there is nothing to wait for, so the
  // one-second pause that lets stopped threads finish is only taken when a thread was stopped.
}

std::size_t Station::DrainEvents(std::size_t maxEvents) {
  ++m_drainDepth;
  std::size_t handled =
      m_parts.events.Dispatch([this](const Event& event) { HandleEvent(event); }, maxEvents);
  --m_drainDepth;
  FlushBatches();
  return handled;
}

void Station::HandleEvent(const Event& event) {
  std::visit(
      [this](const auto& e) {
        using T = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<T, LogLineEvent>) {
          HandleLogLine(e);
        } else if constexpr (std::is_same_v<T, AlertEvent>) {
          FlushBatches();
          m_front.BringToFront();
          m_front.ShowMessage(e.text, MessageIcon::kExclamation);
        } else if constexpr (std::is_same_v<T, DetectionItemEvent>) {
          m_pendingDetections.push_back(e.item);
        } else if constexpr (std::is_same_v<T, RefreshRequestEvent>) {
          m_refreshPending = true;
        } else {
          // Link lines and states, box states and FTP job results belong to the results
          // link, the box slots and the FTP worker; no part of this build posts them.
          static_assert(std::is_same_v<T, LinkLineEvent> || std::is_same_v<T, LinkStateEvent> ||
                        std::is_same_v<T, BoxStatusEvent> || std::is_same_v<T, BoxPingErrorEvent> ||
                        std::is_same_v<T, FtpJobStatusEvent>);
        }
      },
      event);
}

void Station::HandleLogLine(const LogLineEvent& event) {
  std::string windowLine;
  if (m_parts.log.HandlePostedText(event.level, event.text, &windowLine)) {
    m_pendingLog.push_back(std::move(windowLine));
  }
}

void Station::FlushBatches() {
  FlushLog();
  FlushDetections();
  FlushSummary();
  if (m_refreshPending) {
    m_refreshPending = false;
    RefreshBoxStatesAndCounter();
  }
}

void Station::FlushLog() {
  if (m_pendingLog.empty()) {
    return;
  }
  std::vector<std::string> batch;
  batch.swap(m_pendingLog);
  std::size_t top = m_front.ListTopIndex(ListId::kLog);
  std::size_t purged = 0;
  for (const std::string& line : batch) {
    purged += m_logList.Add(line);
  }
  if (purged > 0) {
    m_front.PurgeListFront(ListId::kLog, purged);
  }
  m_front.AppendLogLines(batch);
  top += batch.size();
  m_front.SetListTopIndex(ListId::kLog, top > purged ? top - purged : 0);
}

void Station::FlushDetections() {
  if (m_pendingDetections.empty()) {
    return;
  }
  std::vector<CLogDetectionItem> batch;
  batch.swap(m_pendingDetections);
  std::size_t top = m_front.ListTopIndex(ListId::kDetections);
  for (const CLogDetectionItem& item : batch) {
    m_detections.push_back(item);
  }
  std::size_t purged = 0;
  while (m_detections.size() >= kDetectionsPurgeAt) {
    m_parts.log.WriteLog("Purge Detections Window content...");
    m_detections.erase(m_detections.begin(), m_detections.begin() + kPurgeCount);
    purged += kPurgeCount;
    m_parts.log.WriteLog("Purge Detections Window done");
  }
  if (purged > 0) {
    m_front.PurgeListFront(ListId::kDetections, purged);
  }
  m_front.AppendDetectionItems(batch);
  if (m_parts.settings.BScrollDetections != 0) {
    std::size_t count = m_detections.size();
    m_front.SetListTopIndex(ListId::kDetections,
                            purged > 0 ? (count > kScrollBackLines ? count - kScrollBackLines : 0)
                                       : top + batch.size());
  }
}

void Station::FlushSummary() {
  if (m_pendingSummary.empty()) {
    return;
  }
  std::vector<CSummaryItem> batch;
  batch.swap(m_pendingSummary);
  std::size_t top = m_front.ListTopIndex(ListId::kSummary);
  for (const CSummaryItem& entry : batch) {
    m_summary.push_back(entry);
  }
  std::size_t purged = 0;
  while (m_summary.size() >= kSummaryPurgeAt) {
    m_parts.log.WriteLog("Purge Summary Window content...");
    m_summary.erase(m_summary.begin(), m_summary.begin() + kPurgeCount);
    purged += kPurgeCount;
    m_parts.log.WriteLog("Purge Summary Window done");
  }
  if (purged > 0) {
    m_front.PurgeListFront(ListId::kSummary, purged);
  }
  m_front.AppendSummaryEntries(batch);
  top += batch.size();
  m_front.SetListTopIndex(ListId::kSummary, top > purged ? top - purged : 0);
}

void Station::AddDetectionItem(const CLogDetectionItem& item) {
  m_pendingDetections.push_back(item);
  if (m_drainDepth == 0) {
    FlushDetections();
  }
}

void Station::AddSummaryEntry(const CSummaryItem& entry) {
  m_pendingSummary.push_back(entry);
  if (m_drainDepth == 0) {
    FlushSummary();
  }
}

void Station::OnTimer(int id) {
  switch (id) {
    case kTimerDayTracking:
      TrackRaceDay();
      break;
    case kTimerExportStep:
      // One step of the periodic export runs here once the export is part of the station;
      // the timer is re-armed after each run so that a long step never piles up.
      m_front.StartTimer(kTimerExportStep, kExportStepMs, true);
      break;
    case kTimerConfigDialog:
      // Opens the configuration dialog once it is part of the station.
      break;
    case kTimerPing:
      // "Ping()" to the results software once the link is part of the station.
      break;
    case kTimerRefresh:
      RefreshBoxStatesAndCounter();
      break;
    default:
      break;
  }
}

void Station::TrackRaceDay() {
  AppSettings& s = m_parts.settings;
  std::string today = TodayCompact(m_parts.clock.NowUnix());
  std::array<std::string, 4> dates = s.RaceDayDates();
  int days = 0;
  for (int k = 0; k < 4; ++k) {
    if (dates[static_cast<std::size_t>(k)] == today) {
      days = k;
      break;
    }
  }
  if (days != s.GDaysToAdd) {
    s.GDaysToAdd = days;
    m_parts.store.WriteSettingInt(kSettings, "GDaysToAdd", days);
  }
  UpdateLongRaceIndicator();
}

void Station::UpdateLongRaceIndicator() {
  int days = m_parts.settings.GDaysToAdd;
  m_front.SetLongRaceIndicator(days > 0, StrF("+%dh", 24 * days));
}

void Station::UpdateBoxStatus(int index) {
  // Until the box slots are configured every slot is undeclared.
  m_front.SetBoxState(index, BoxDisc::kGrey, Tr(kMsgBoxUndefined));
}

void Station::RefreshBoxStatesAndCounter() {
  int connected = 0;
  for (int i = 0; i < kBoxSlots; ++i) {
    UpdateBoxStatus(i);
  }
  m_front.SetButtonState(Button::kConnectBoxes, true, connected > 0);
  m_front.SetButtonState(Button::kSyncClocks, connected > 0, false);
  m_front.SetButtonState(Button::kShowClocks, connected > 0, false);
  int valid = m_parts.records.CountValidRecords();
  m_front.SetButtonState(Button::kExportAll, valid > 0, false);
  m_front.SetButtonState(Button::kForget, valid > 0, false);
  m_front.SetCounterText(DetectionCounterText(valid));
}

void Station::Command(Button button) {
  switch (button) {
    case Button::kExit:
      (void)Close();
      return;
    default:
      // The configuration dialog, the box connection and clock commands, the detection store
      // commands, the import and the direct connection are carried out by their own parts;
      // without them the command changes nothing, and the toggles show the real state again.
      RefreshBoxStatesAndCounter();
      m_front.SetDirectState(DirectState::kNotConnected);
      return;
  }
}

void Station::ClearList(ListId list) {
  FlushBatches();
  if (m_speech != nullptr) {
    m_speech->ForgetLastName();
  }
  switch (list) {
    case ListId::kDetections:
      m_detections.clear();
      break;
    case ListId::kSummary:
      m_summary.clear();
      break;
    case ListId::kLog:
      m_logList.Clear();
      break;
  }
  m_front.ClearList(list);
  (void)m_parts.sound.PlaySoundResource(kSoundDone);
}

void Station::SetLogDetections(bool checked) {
  m_parts.settings.BLogDetections = checked ? 1 : 0;
  m_parts.store.WriteSettingBool(kSettings, "BLogDetections", checked);
}

void Station::SetScrollDetections(bool checked) {
  m_parts.settings.BScrollDetections = checked ? 1 : 0;
  m_parts.store.WriteSettingBool(kSettings, "BScrollDetections", checked);
  if (checked) {
    std::size_t count = m_detections.size();
    m_front.SetListTopIndex(ListId::kDetections,
                            count > kScrollBackLines ? count - kScrollBackLines : 0);
  }
}

void Station::SelectLogLevel(int entryIndex) {
  std::vector<std::string> entries = LevelEntries();
  if (entryIndex < 0 || static_cast<std::size_t>(entryIndex) >= entries.size()) {
    return;
  }
  int level = 0;
  if (!LeadingInteger(entries[static_cast<std::size_t>(entryIndex)], &level)) {
    return;
  }
  m_parts.log.PostLogF(0, "+ Log level set to %d", level);
  m_parts.log.SetLevel(level);
  m_parts.settings.LogWinLevel = level;
  m_parts.store.WriteSettingInt(kSettings, "LogWinLevel", level);
}

void Station::OpenHelpDocument() {
  std::string path = m_parts.programFolder + "/Lapora.pdf";
  if (FileExists(path)) {
    (void)m_front.OpenDocument(path);
    return;
  }
  m_front.ShowMessage(Tr(kMsgHelpNotFound), MessageIcon::kExclamation);
}

void Station::BackgroundMenuClosed() {
  RefreshBoxStatesAndCounter();
}

}  // namespace lapora
