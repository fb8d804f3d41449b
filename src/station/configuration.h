// The configuration dialog and the advanced configuration dialog without their widgets: the
// working copy of the four box slots, the values the fields open with, the application of a
// slot's fields, the Dorix Classic compatibility check, the checks and results of both OKs,
// and the settings writes once the configuration is confirmed. Main thread only.
#pragma once

#include <array>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "boxlink/box_slots.h"
#include "foundation/text.h"

namespace lapora {

struct AppSettings;
class CChipTable;
class Logger;
class SettingsStore;

// One box slot as the dialog edits it.
struct ConfigSlot {
  std::string address;
  int port = 0;
  std::string detectorId{"31"};
  // The box is connected or reconnecting (or its box thread runs): its fields are locked and
  // its values are kept.
  bool active = false;
};
using ConfigSlots = std::array<ConfigSlot, kBoxSlotCount>;

// The working copy of the four slots, as they are now.
ConfigSlots TakeWorkingSlots(const CBoxSlots& boxSlots);
// Copies the working slots back into the box slots (the transport kind follows the address).
// Slots that were active when copied, or whose box thread runs now, are left alone. Returns
// the number of slots copied.
int CopyWorkingSlots(const ConfigSlots& working, CBoxSlots& boxSlots);

// The choices of the lost-connection list: the value of GBoxReconnectSeconds and its text.
struct LostConnectionChoice {
  int seconds;
  const Message* text;
};
const std::array<LostConnectionChoice, 5>& LostConnectionChoices();
// The entry whose value equals seconds; the second entry when none does.
int LostConnectionIndexFor(int seconds);
// The long-race entries (build language); GDaysToAdd is the position in that list.
std::vector<std::string> LongRaceEntries();
// The entry at GDaysToAdd; a value outside 0..3 selects the nearest end of the list.
int LongRaceIndexFor(int daysToAdd);
// The entries of a slot's "Box Id." list: "31     CLASSIC", then "10     " to "30     ".
const std::vector<std::string>& DetectorIdEntries();
// The first blank-separated word of the text (empty when there is none).
std::string FirstWord(std::string_view text);
// The entry whose first word equals the identifier; the first entry when none does.
int DetectorIdIndexFor(std::string_view detectorId);

// Reads a whole decimal integer: blanks around it and a sign allowed, nothing else ("10001abc"
// is not one). False when the text is not one or does not fit an int.
bool ParseWholeInteger(std::string_view text, int* value);

// The result of an integer field's range check; message is the refusal to show.
struct IntegerCheck {
  bool ok = false;
  int value = 0;
  std::string message;
};
// "Tapez un nombre entier." when the text is not a whole integer (or overflows), "Tapez un
// nombre entier compris entre <minimum> et <maximum>." when it lies outside the range.
IntegerCheck CheckIntegerField(std::string_view text, int minimum, int maximum);

// The fields of one slot as the dialog shows them.
struct SlotFields {
  std::string address;
  std::string port;       // empty when the slot's port is 0
  int detectorIndex = 0;  // into DetectorIdEntries()
  bool identifierEnabled = false;
  bool editable = true;  // false while the box is active
};

// The fields of the configuration dialog.
struct ConfigurationFields {
  std::array<SlotFields, kBoxSlotCount> boxSlots;
  std::string exportFile;
  std::string host;
  std::string port;
  std::string reconnectSeconds;
  bool catchUp = true;
  int lostConnectionIndex = 1;
  int longRaceIndex = 0;
  bool ignoreUnknownTags = false;
  bool beepDetections = true;
  bool beepWhenQuit = true;
};

enum class SlotApplyError { kNone, kInvalidPort, kComSpeed };

struct SlotApplyResult {
  bool ok = true;
  SlotApplyError error = SlotApplyError::kNone;
  std::string message;             // empty when silent or ok
  bool identifierEnabled = false;  // the state of the slot's identifier list after a success
};

// Which field a refused OK puts the focus on.
enum class ConfigField { kNone, kDirectPort, kReconnectSeconds, kSlotPort };

struct ConfigurationOkResult {
  bool accepted = false;
  std::string message;  // the refusal to show
  ConfigField field = ConfigField::kNone;
  int slotIndex = -1;  // 0..3 for the slot fields
};

// The values of the advanced dialog: three numbers and the two check boxes (sync of the
// incoming-detections file, replay of a box's reads after a lost connection).
struct AdvancedValues {
  int ignoreInputMsDelta = 50;
  int ignoreOutputMsDelta = 300;
  int readMsDelta = 1;
  bool syncDetections = true;
  bool autoRecover = true;
  bool operator==(const AdvancedValues&) const = default;
};

struct AdvancedOkResult {
  bool accepted = false;
  std::string message;
  int field = -1;  // 0, 1 or 2: the refused field
};

// Limits of the range checks.
inline constexpr int kDirectPortMin = 1024;
inline constexpr int kDirectPortMax = 65535;
inline constexpr int kReconnectSecondsMin = 10;
inline constexpr int kReconnectSecondsMax = 180;
inline constexpr int kTcpPortMax = 65535;
inline constexpr int kSerialSpeed = 9600;
inline constexpr int kIgnoreInputMin = 0;
inline constexpr int kIgnoreInputMax = 5000;
inline constexpr int kIgnoreOutputMin = 50;
inline constexpr int kIgnoreOutputMax = 5000;
inline constexpr int kReadDeltaMin = 1;
inline constexpr int kReadDeltaMax = 20;

// The advanced dialog's opening values, its factory values and its OK, which stores the values
// in the settings at once when the three numbers pass their range checks (the settings file
// gets them when the configuration is confirmed). texts are the three fields in table order.
AdvancedValues AdvancedOpeningValues(const AppSettings& settings);
AdvancedValues AdvancedFactoryValues();
AdvancedOkResult AdvancedOk(AppSettings& settings, const std::array<std::string, 3>& texts,
                            bool syncDetections, bool autoRecover);

// The export file chosen in the save dialog, with ".kol" appended unless it already ends so
// (letter case ignored).
std::string WithKolExtension(const std::string& fileName);
// The folder part of a path ("" when it has none).
std::string FolderOfPath(const std::string& path);

// "Reload chip table": reloads under the name "OstraTable.dtb", posts the result text at
// level 0. ok chooses the message box's icon (information, or exclamation on failure).
struct ChipReloadResult {
  bool ok = false;
  std::string message;
};
ChipReloadResult ReloadChipTableFromDialog(CChipTable& table, const std::string& dataFolder,
                                           const std::string& programFolder, Logger& log);

// One opening of the configuration dialog: the working slots and the settings it confirms.
// lastExportFolder is the folder of the export file chosen last in this run (it outlives the
// session; may be null).
class ConfigurationSession {
 public:
  ConfigurationSession(AppSettings& settings, ConfigSlots working,
                       std::string* lastExportFolder = nullptr);

  // The values the fields open with.
  ConfigurationFields OpeningFields() const;

  // Applies one slot's fields (trimmed) to the working slot: the port must be a whole number
  // 0..65535, a serial address (COMn, /dev/...) needs the speed 9600. silent: no message.
  // Skipped (ok) for an active slot.
  SlotApplyResult ApplySlot(int index, const SlotFields& fields, bool silent);
  // On every change of a slot or direct-connection field: each slot silently.
  std::array<SlotApplyResult, kBoxSlotCount> ApplySlotsSilently(
      const std::array<SlotFields, kBoxSlotCount>& fields);
  // Some slot with an address, a non-zero port and an identifier other than "31" and "C31".
  bool IsIncompatible() const;

  // OK: the range checks, then the four slots with messages, then the settings. A refusal
  // changes no setting. Once accepted, the working slots are the ones to copy back.
  ConfigurationOkResult Ok(const ConfigurationFields& fields);
  bool Accepted() const { return m_accepted; }

  const ConfigSlots& WorkingSlots() const { return m_working; }
  AppSettings& Settings() { return m_settings; }
  // Where the save dialog starts: the current export file's name in the folder used last in
  // this run, or the current export file itself before any choice.
  std::string ExportStartPath(const std::string& currentExportFile) const;
  void RememberExportFolder(const std::string& chosenFile);

  // What the dialog's buttons reach outside the settings: the chip table reload (see
  // ReloadChipTableFromDialog) and the log folder. Set by the caller before the dialog opens;
  // an empty reloader gives a failure without message.
  void SetChipTableReloader(std::function<ChipReloadResult()> reloader) {
    m_reloadChipTable = std::move(reloader);
  }
  ChipReloadResult ReloadChipTable() const {
    return m_reloadChipTable ? m_reloadChipTable() : ChipReloadResult{};
  }
  void SetLogFolder(std::string folder) { m_logFolder = std::move(folder); }
  const std::string& LogFolder() const { return m_logFolder; }

 private:
  AppSettings& m_settings;
  ConfigSlots m_working;
  std::string* m_lastExportFolder;
  bool m_accepted = false;
  std::function<ChipReloadResult()> m_reloadChipTable;
  std::string m_logFolder;
};

// The settings writes after the configuration dialog was confirmed, in this order:
// GVarnexIgnoreInputMsDelta, GVarnexIgnoreOutputMsDelta, GVarnexReadMsDelta, GSyncDetections,
// BAutoRecover, GVarnexExportFile, BLogDetections, DirectConnection Port, Host, ReconnectSeconds,
// BCatchUp, GBoxReconnectSeconds, GDaysToAdd; then the race-day dates are recomputed for now;
// then GVarnexBeepDetections, GVarnexBeepWhenQuit, GVarnexIgnoreUnknownTags as booleans.
void WriteConfigurationSettings(SettingsStore& store, AppSettings& settings, std::time_t now);
// What follows an accepted session: the working slots copied into the box slots, the settings
// written, the four slots saved.
void CommitConfiguration(const ConfigurationSession& session, CBoxSlots& boxSlots,
                         SettingsStore& store, AppSettings& settings, std::time_t now);

}  // namespace lapora
