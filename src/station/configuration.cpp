#include "station/configuration.h"

#include <algorithm>
#include <cctype>
#include <climits>

#include "boxlink/com_box.h"
#include "boxlink/ostra_box.h"
#include "detections/chip_table.h"
#include "foundation/app_settings.h"
#include "foundation/folders.h"
#include "foundation/log.h"
#include "foundation/settings_store.h"
#include "foundation/text.h"
#include "resources/messages_config.h"

namespace lapora {

namespace {

// Replaces the first "%1" and "%2" of the French-only range message by the limits.
std::string RangeMessage(int minimum, int maximum) {
  std::string text = Tr(kMsgTypeIntegerBetween);
  for (auto [marker, value] : {std::pair{"%1", minimum}, std::pair{"%2", maximum}}) {
    std::size_t at = text.find(marker);
    if (at != std::string::npos) {
      text.replace(at, 2, std::to_string(value));
    }
  }
  return text;
}

}  // namespace

ConfigSlots TakeWorkingSlots(const CBoxSlots& slots) {
  ConfigSlots working;
  for (int index = 0; index < kBoxSlotCount; ++index) {
    const COstraBox* box = slots.Box(index + 1);
    const CComBox* transport = box != nullptr ? box->Transport() : nullptr;
    if (transport == nullptr) {
      continue;
    }
    ConfigSlot& slot = working[static_cast<std::size_t>(index)];
    transport->GetConfig(&slot.detectorId, &slot.address, &slot.port);
    slot.active = transport->IsActive() || box->IsThreadRunning();
  }
  return working;
}

int CopyWorkingSlots(const ConfigSlots& working, CBoxSlots& slots) {
  int copied = 0;
  for (int index = 0; index < kBoxSlotCount; ++index) {
    const ConfigSlot& slot = working[static_cast<std::size_t>(index)];
    COstraBox* box = slots.Box(index + 1);
    if (box == nullptr || slot.active || box->IsThreadRunning() ||
        (box->Transport() != nullptr && box->Transport()->IsActive())) {
      // A transport is only reconfigured while no box thread uses it.
      continue;
    }
    box->ConfigureTransport(slot.detectorId, slot.address, slot.port);
    ++copied;
  }
  return copied;
}

const std::array<LostConnectionChoice, 5>& LostConnectionChoices() {
  static const std::array<LostConnectionChoice, 5> kChoices{{
      {0, &kMsgLostJustAlert},
      {30, &kMsgLostRetry30s},
      {60, &kMsgLostRetry1mn},
      {90, &kMsgLostRetry1mn30},
      {120, &kMsgLostRetry2mn},
  }};
  return kChoices;
}

int LostConnectionIndexFor(int seconds) {
  const auto& choices = LostConnectionChoices();
  for (std::size_t i = 0; i < choices.size(); ++i) {
    if (choices[i].seconds == seconds) {
      return static_cast<int>(i);
    }
  }
  return 1;
}

std::vector<std::string> LongRaceEntries() {
  return {Tr(kMsgConfigLongRaceToday), Tr(kMsgConfigLongRace24h), Tr(kMsgConfigLongRace48h),
          Tr(kMsgConfigLongRace72h)};
}

int LongRaceIndexFor(int daysToAdd) {
  return std::clamp(daysToAdd, 0, 3);
}

const std::vector<std::string>& DetectorIdEntries() {
  static const std::vector<std::string> kEntries = [] {
    std::vector<std::string> entries{"31     CLASSIC"};
    for (int id = 10; id <= 30; ++id) {
      entries.push_back(std::to_string(id) + "     ");
    }
    return entries;
  }();
  return kEntries;
}

std::string FirstWord(std::string_view text) {
  text = TrimSpace(text);
  std::size_t end = 0;
  while (end < text.size() && !IsSpace(text[end])) {
    ++end;
  }
  return std::string(text.substr(0, end));
}

int DetectorIdIndexFor(std::string_view detectorId) {
  const auto& entries = DetectorIdEntries();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (FirstWord(entries[i]) == detectorId) {
      return static_cast<int>(i);
    }
  }
  return 0;
}

bool ParseWholeInteger(std::string_view text, int* value) {
  text = TrimSpace(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) {
    return false;
  }
  long long number = 0;
  for (char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c)) == 0) {
      return false;
    }
    number = number * 10 + (c - '0');
    if (number > static_cast<long long>(INT_MAX) + 1) {
      return false;
    }
  }
  if (negative) {
    number = -number;
  }
  if (number > INT_MAX || number < INT_MIN) {
    return false;
  }
  *value = static_cast<int>(number);
  return true;
}

IntegerCheck CheckIntegerField(std::string_view text, int minimum, int maximum) {
  IntegerCheck check;
  int value = 0;
  if (!ParseWholeInteger(text, &value)) {
    // Digits too many for an int are still a number: the range is what they miss.
    std::string_view digits = TrimSpace(text);
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
      digits.remove_prefix(1);
    }
    bool allDigits = !digits.empty() && std::all_of(digits.begin(), digits.end(), [](char c) {
      return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
    check.message = allDigits ? RangeMessage(minimum, maximum) : Tr(kMsgTypeInteger);
    return check;
  }
  if (value < minimum || value > maximum) {
    check.message = RangeMessage(minimum, maximum);
    return check;
  }
  check.ok = true;
  check.value = value;
  return check;
}

AdvancedValues AdvancedOpeningValues(const AppSettings& settings) {
  return {settings.GVarnexIgnoreInputMsDelta, settings.GVarnexIgnoreOutputMsDelta,
          settings.GVarnexReadMsDelta, settings.GSyncDetections != 0, settings.BAutoRecover != 0};
}

AdvancedValues AdvancedFactoryValues() {
  return {50, 300, 1, true, true};
}

AdvancedOkResult AdvancedOk(AppSettings& settings, const std::array<std::string, 3>& texts,
                            bool syncDetections, bool autoRecover) {
  static constexpr std::array<std::pair<int, int>, 3> kRanges{{
      {kIgnoreInputMin, kIgnoreInputMax},
      {kIgnoreOutputMin, kIgnoreOutputMax},
      {kReadDeltaMin, kReadDeltaMax},
  }};
  AdvancedOkResult result;
  std::array<int, 3> values{};
  for (std::size_t i = 0; i < texts.size(); ++i) {
    IntegerCheck check = CheckIntegerField(texts[i], kRanges[i].first, kRanges[i].second);
    if (!check.ok) {
      result.message = check.message;
      result.field = static_cast<int>(i);
      return result;
    }
    values[i] = check.value;
  }
  settings.GVarnexIgnoreInputMsDelta = values[0];
  settings.GVarnexIgnoreOutputMsDelta = values[1];
  settings.GVarnexReadMsDelta = values[2];
  settings.GSyncDetections = syncDetections ? 1 : 0;
  settings.BAutoRecover = autoRecover ? 1 : 0;
  result.accepted = true;
  return result;
}

std::string WithKolExtension(const std::string& fileName) {
  if (fileName.size() >= 4 &&
      EqualsNoCase(std::string_view(fileName).substr(fileName.size() - 4), ".kol")) {
    return fileName;
  }
  return fileName + ".kol";
}

std::string FolderOfPath(const std::string& path) {
  std::size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) {
    return "";
  }
  return path.substr(0, slash == 0 ? 1 : slash);
}

ChipReloadResult ReloadChipTableFromDialog(CChipTable& table, const std::string& dataFolder,
                                           const std::string& programFolder, Logger& log) {
  ChipReloadResult result;
  result.ok = table.LoadChipTable("OstraTable.dtb", dataFolder, programFolder, &result.message);
  log.PostLog(0, result.message);
  return result;
}

ConfigurationSession::ConfigurationSession(AppSettings& settings, ConfigSlots working,
                                           std::string* lastExportFolder)
    : m_settings(settings), m_working(std::move(working)), m_lastExportFolder(lastExportFolder) {}

ConfigurationFields ConfigurationSession::OpeningFields() const {
  ConfigurationFields fields;
  for (std::size_t i = 0; i < m_working.size(); ++i) {
    const ConfigSlot& slot = m_working[i];
    SlotFields& out = fields.boxSlots[i];
    out.address = slot.address;
    out.port = slot.port != 0 ? std::to_string(slot.port) : std::string();
    out.detectorIndex = DetectorIdIndexFor(slot.detectorId);
    out.identifierEnabled = !slot.address.empty() && slot.port != 0;
    out.editable = !slot.active;
  }
  fields.exportFile = m_settings.GVarnexExportFile;
  fields.host = m_settings.Host;
  fields.port = std::to_string(m_settings.Port.load());
  fields.reconnectSeconds = std::to_string(m_settings.ReconnectSeconds.load());
  fields.catchUp = m_settings.BCatchUp != 0;
  fields.lostConnectionIndex = LostConnectionIndexFor(m_settings.GBoxReconnectSeconds);
  fields.longRaceIndex = LongRaceIndexFor(m_settings.GDaysToAdd);
  fields.ignoreUnknownTags = m_settings.GVarnexIgnoreUnknownTags != 0;
  fields.beepDetections = m_settings.GVarnexBeepDetections != 0;
  fields.beepWhenQuit = m_settings.GVarnexBeepWhenQuit != 0;
  return fields;
}

SlotApplyResult ConfigurationSession::ApplySlot(int index, const SlotFields& fields, bool silent) {
  SlotApplyResult result;
  if (index < 0 || index >= kBoxSlotCount) {
    result.ok = false;
    return result;
  }
  ConfigSlot& slot = m_working[static_cast<std::size_t>(index)];
  if (slot.active) {
    result.identifierEnabled = !slot.address.empty() && slot.port != 0;
    return result;
  }
  std::string address(TrimSpace(fields.address));
  std::string_view portText = TrimSpace(fields.port);
  int port = 0;
  // A port is a whole number of a TCP port's range; trailing letters, a sign or an overflow
  // would otherwise reach the connection as some other port.
  if (!portText.empty() &&
      (!ParseWholeInteger(portText, &port) || port < 0 || port > kTcpPortMax)) {
    result.ok = false;
    result.error = SlotApplyError::kInvalidPort;
    if (!silent) {
      result.message = Tr(kMsgConfigInvalidPort);
    }
    return result;
  }
  if (IsSerialAddress(address) && port != kSerialSpeed) {
    result.ok = false;
    result.error = SlotApplyError::kComSpeed;
    if (!silent) {
      result.message = Tr(kMsgConfigComSpeed);
    }
    return result;
  }
  result.identifierEnabled = !(address.empty() && port == 0);
  const auto& entries = DetectorIdEntries();
  int entry = fields.detectorIndex >= 0 && fields.detectorIndex < static_cast<int>(entries.size())
                  ? fields.detectorIndex
                  : 0;
  slot.address = address;
  slot.port = port;
  slot.detectorId = FirstWord(entries[static_cast<std::size_t>(entry)]);
  return result;
}

std::array<SlotApplyResult, kBoxSlotCount> ConfigurationSession::ApplySlotsSilently(
    const std::array<SlotFields, kBoxSlotCount>& fields) {
  std::array<SlotApplyResult, kBoxSlotCount> results;
  for (int index = 0; index < kBoxSlotCount; ++index) {
    results[static_cast<std::size_t>(index)] =
        ApplySlot(index, fields[static_cast<std::size_t>(index)], true);
  }
  return results;
}

bool ConfigurationSession::IsIncompatible() const {
  return std::any_of(m_working.begin(), m_working.end(), [](const ConfigSlot& slot) {
    return !slot.address.empty() && slot.port != 0 && slot.detectorId != "31" &&
           slot.detectorId != "C31";
  });
}

ConfigurationOkResult ConfigurationSession::Ok(const ConfigurationFields& fields) {
  ConfigurationOkResult result;
  IntegerCheck port = CheckIntegerField(fields.port, kDirectPortMin, kDirectPortMax);
  if (!port.ok) {
    result.message = port.message;
    result.field = ConfigField::kDirectPort;
    return result;
  }
  IntegerCheck retry =
      CheckIntegerField(fields.reconnectSeconds, kReconnectSecondsMin, kReconnectSecondsMax);
  if (!retry.ok) {
    result.message = retry.message;
    result.field = ConfigField::kReconnectSeconds;
    return result;
  }
  // The slots are checked before any setting is stored, so that a refused OK followed by
  // Cancel leaves the settings as they were.
  for (int index = 0; index < kBoxSlotCount; ++index) {
    SlotApplyResult applied =
        ApplySlot(index, fields.boxSlots[static_cast<std::size_t>(index)], false);
    if (!applied.ok) {
      result.message = applied.message;
      result.field = ConfigField::kSlotPort;
      result.slotIndex = index;
      return result;
    }
  }
  AppSettings& s = m_settings;
  s.GVarnexExportFile = fields.exportFile;
  s.Port = port.value;
  s.Host = std::string(TrimSpace(fields.host));
  s.ReconnectSeconds = retry.value;
  s.BCatchUp = fields.catchUp ? 1 : 0;
  const auto& choices = LostConnectionChoices();
  if (fields.lostConnectionIndex >= 0 &&
      fields.lostConnectionIndex < static_cast<int>(choices.size())) {
    s.GBoxReconnectSeconds = choices[static_cast<std::size_t>(fields.lostConnectionIndex)].seconds;
  }
  s.GVarnexBeepWhenQuit = fields.beepWhenQuit ? 1 : 0;
  s.GVarnexBeepDetections = fields.beepDetections ? 1 : 0;
  s.GVarnexIgnoreUnknownTags = fields.ignoreUnknownTags ? 1 : 0;
  if (fields.longRaceIndex >= 0 && fields.longRaceIndex <= 3) {
    s.GDaysToAdd = fields.longRaceIndex;
  }
  m_accepted = true;
  result.accepted = true;
  return result;
}

std::string ConfigurationSession::ExportStartPath(const std::string& currentExportFile) const {
  if (m_lastExportFolder == nullptr || m_lastExportFolder->empty()) {
    return currentExportFile;
  }
  return *m_lastExportFolder + "/" + FileNameOfPath(currentExportFile);
}

void ConfigurationSession::RememberExportFolder(const std::string& chosenFile) {
  if (m_lastExportFolder != nullptr) {
    *m_lastExportFolder = FolderOfPath(chosenFile);
  }
}

void WriteConfigurationSettings(SettingsStore& store, AppSettings& s, std::time_t now) {
  const char* settings = kSettingsSection;
  const char* direct = kDirectConnectionSection;
  (void)store.WriteSettingInt(settings, "GVarnexIgnoreInputMsDelta", s.GVarnexIgnoreInputMsDelta);
  (void)store.WriteSettingInt(settings, "GVarnexIgnoreOutputMsDelta", s.GVarnexIgnoreOutputMsDelta);
  (void)store.WriteSettingInt(settings, "GVarnexReadMsDelta", s.GVarnexReadMsDelta);
  (void)store.WriteSettingBool(settings, "GSyncDetections", s.GSyncDetections != 0);
  (void)store.WriteSettingBool(settings, "BAutoRecover", s.BAutoRecover != 0);
  (void)store.WriteSettingText(settings, "GVarnexExportFile", s.GVarnexExportFile);
  (void)store.WriteSettingInt(settings, "BLogDetections", s.BLogDetections);
  (void)store.WriteSettingInt(direct, "Port", s.Port);
  (void)store.WriteSettingText(direct, "Host", s.Host);
  (void)store.WriteSettingInt(direct, "ReconnectSeconds", s.ReconnectSeconds);
  (void)store.WriteSettingBool(direct, "BCatchUp", s.BCatchUp != 0);
  (void)store.WriteSettingInt(settings, "GBoxReconnectSeconds", s.GBoxReconnectSeconds);
  (void)store.WriteSettingInt(settings, "GDaysToAdd", s.GDaysToAdd);
  UpdateRaceDayDates(s, now);
  (void)store.WriteSettingBool(settings, "GVarnexBeepDetections", s.GVarnexBeepDetections != 0);
  (void)store.WriteSettingBool(settings, "GVarnexBeepWhenQuit", s.GVarnexBeepWhenQuit != 0);
  (void)store.WriteSettingBool(settings, "GVarnexIgnoreUnknownTags",
                               s.GVarnexIgnoreUnknownTags != 0);
}

void CommitConfiguration(const ConfigurationSession& session, CBoxSlots& slots,
                         SettingsStore& store, AppSettings& settings, std::time_t now) {
  (void)CopyWorkingSlots(session.WorkingSlots(), slots);
  WriteConfigurationSettings(store, settings, now);
  slots.SaveAllBoxConfigs();
}

}  // namespace lapora
