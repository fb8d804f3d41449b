// The configuration dialogs below their widgets: opening values, slot application, the Dorix
// Classic check, both OKs and the settings file after a confirmed configuration, with real box
// slots (one connected to a loopback peer) and a real settings file in a temporary folder.
#include "station/configuration.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "boxlink/com_box.h"
#include "foundation/app_settings.h"
#include "foundation/chrono.h"
#include "foundation/settings_store.h"
#include "resources/messages_config.h"
#include "resources/messages_detections.h"
#include "support/boxlink_support.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

using testing::BoxLinkHarness;
using testing::LoopbackPeer;
using testing::ReadFile;
using testing::TempDir;

ConfigSlot Slot(std::string address, int port, std::string id, bool active = false) {
  ConfigSlot slot;
  slot.address = std::move(address);
  slot.port = port;
  slot.detectorId = std::move(id);
  slot.active = active;
  return slot;
}

SlotFields Fields(std::string address, std::string port, int detectorIndex = 0) {
  SlotFields fields;
  fields.address = std::move(address);
  fields.port = std::move(port);
  fields.detectorIndex = detectorIndex;
  return fields;
}

std::string Range(int minimum, int maximum) {
  return "Tapez un nombre entier compris entre " + std::to_string(minimum) + " et " +
         std::to_string(maximum) + ".";
}

TEST(ConfigurationListsTest, EntriesAndTheirSelectionRules) {
  const auto& ids = DetectorIdEntries();
  ASSERT_EQ(ids.size(), 22u);
  EXPECT_EQ(ids.front(), "31     CLASSIC");
  EXPECT_EQ(ids[1], "10     ");
  EXPECT_EQ(ids.back(), "30     ");
  EXPECT_EQ(FirstWord(ids.front()), "31");
  EXPECT_EQ(FirstWord(ids[3]), "12");
  EXPECT_EQ(FirstWord("   "), "");
  EXPECT_EQ(DetectorIdIndexFor("12"), 3);
  EXPECT_EQ(DetectorIdIndexFor("31"), 0);
  // Not in the list: the first entry.
  EXPECT_EQ(DetectorIdIndexFor("C31"), 0);
  EXPECT_EQ(DetectorIdIndexFor("9"), 0);

  EXPECT_EQ(LostConnectionIndexFor(0), 0);
  EXPECT_EQ(LostConnectionIndexFor(90), 3);
  EXPECT_EQ(LostConnectionIndexFor(120), 4);
  EXPECT_EQ(LostConnectionIndexFor(45), 1);  // none matches: the second entry
  EXPECT_EQ(Tr(*LostConnectionChoices()[3].text), "Essayer de se reconnecter pendant 1mn30");

  EXPECT_EQ(LongRaceEntries().size(), 4u);
  EXPECT_EQ(LongRaceIndexFor(2), 2);
  // A hand-edited value outside the list selects its nearest end rather than nothing.
  EXPECT_EQ(LongRaceIndexFor(7), 3);
  EXPECT_EQ(LongRaceIndexFor(-1), 0);
}

TEST(ConfigurationChecksTest, IntegerFieldsAndTheirMessages) {
  int value = 0;
  EXPECT_TRUE(ParseWholeInteger(" 10001 ", &value));
  EXPECT_EQ(value, 10001);
  EXPECT_TRUE(ParseWholeInteger("-2147483648", &value));
  EXPECT_EQ(value, -2147483647 - 1);
  EXPECT_FALSE(ParseWholeInteger("10001abc", &value));
  EXPECT_FALSE(ParseWholeInteger("", &value));
  EXPECT_FALSE(ParseWholeInteger("-", &value));
  EXPECT_FALSE(ParseWholeInteger("2147483648", &value));
  EXPECT_FALSE(ParseWholeInteger("1 2", &value));

  // The two messages exist in French only: the same in both languages.
  EXPECT_EQ(TrIn(Language::kEnglish, kMsgTypeInteger), TrIn(Language::kFrench, kMsgTypeInteger));
  EXPECT_EQ(TrIn(Language::kEnglish, kMsgTypeIntegerBetween),
            TrIn(Language::kFrench, kMsgTypeIntegerBetween));
  EXPECT_EQ(CheckIntegerField("12x", 10, 180).message, "Tapez un nombre entier.");
  EXPECT_EQ(CheckIntegerField("", 10, 180).message, "Tapez un nombre entier.");
  EXPECT_EQ(CheckIntegerField("9", 10, 180).message, Range(10, 180));
  EXPECT_EQ(CheckIntegerField("-50", 10, 180).message, Range(10, 180));
  // Too many digits for an int is still a number out of range.
  EXPECT_EQ(CheckIntegerField("99999999999", 1024, 65535).message, Range(1024, 65535));
  IntegerCheck ok = CheckIntegerField("180", 10, 180);
  EXPECT_TRUE(ok.ok);
  EXPECT_EQ(ok.value, 180);
}

TEST(ConfigurationChecksTest, ExportFileNamesGetTheKolExtension) {
  EXPECT_EQ(WithKolExtension("/tmp/race"), "/tmp/race.kol");
  EXPECT_EQ(WithKolExtension("/tmp/race.KOL"), "/tmp/race.KOL");
  EXPECT_EQ(WithKolExtension("/tmp/race.kol.txt"), "/tmp/race.kol.txt.kol");
  EXPECT_EQ(WithKolExtension("kol"), "kol.kol");

  AppSettings settings;
  std::string remembered;
  ConfigurationSession session(settings, {}, &remembered);
  EXPECT_EQ(session.ExportStartPath("/home/op/Lapora.kol"), "/home/op/Lapora.kol");
  session.RememberExportFolder("/media/key/day1.kol");
  EXPECT_EQ(remembered, "/media/key");
  // A later opening starts in the folder used last, with the current file name.
  ConfigurationSession next(settings, {}, &remembered);
  EXPECT_EQ(next.ExportStartPath("/home/op/Lapora.kol"), "/media/key/Lapora.kol");
}

class ConfigurationSessionTest : public ::testing::Test {
 protected:
  ConfigurationFields Opened(const ConfigSlots& slots) {
    m_session = std::make_unique<ConfigurationSession>(settings, slots);
    return m_session->OpeningFields();
  }
  ConfigurationSession& session() { return *m_session; }

  AppSettings settings;
  std::unique_ptr<ConfigurationSession> m_session;
};

TEST_F(ConfigurationSessionTest, OpeningFieldsComeFromTheSettingsAndTheSlots) {
  settings.GVarnexExportFile = "/data/Lapora.kol";
  settings.Host = "results.local";
  settings.Port = 9000;
  settings.ReconnectSeconds = 20;
  settings.BCatchUp = 0;
  settings.GBoxReconnectSeconds = 60;
  settings.GDaysToAdd = 1;
  settings.GVarnexIgnoreUnknownTags = 1;
  settings.GVarnexBeepDetections = 0;
  settings.GVarnexBeepWhenQuit = 1;
  ConfigSlots slots{Slot("192.168.0.10", 10000, "12"), Slot("10.0.0.2", 0, "31"),
                    Slot("", 10000, "C31"), Slot("192.168.0.40", 10000, "15", true)};
  ConfigurationFields fields = Opened(slots);

  EXPECT_EQ(fields.exportFile, "/data/Lapora.kol");
  EXPECT_EQ(fields.host, "results.local");
  EXPECT_EQ(fields.port, "9000");
  EXPECT_EQ(fields.reconnectSeconds, "20");
  EXPECT_FALSE(fields.catchUp);
  EXPECT_EQ(fields.lostConnectionIndex, 2);
  EXPECT_EQ(fields.longRaceIndex, 1);
  EXPECT_TRUE(fields.ignoreUnknownTags);
  EXPECT_FALSE(fields.beepDetections);
  EXPECT_TRUE(fields.beepWhenQuit);

  EXPECT_EQ(fields.boxSlots[0].port, "10000");
  EXPECT_EQ(fields.boxSlots[0].detectorIndex, 3);
  EXPECT_TRUE(fields.boxSlots[0].identifierEnabled);
  EXPECT_TRUE(fields.boxSlots[0].editable);
  // Port 0 shows as an empty field; the identifier needs an address and a port.
  EXPECT_EQ(fields.boxSlots[1].port, "");
  EXPECT_FALSE(fields.boxSlots[1].identifierEnabled);
  EXPECT_FALSE(fields.boxSlots[2].identifierEnabled);
  EXPECT_EQ(fields.boxSlots[2].detectorIndex, 0);
  EXPECT_FALSE(fields.boxSlots[3].editable);
  EXPECT_TRUE(session().IsIncompatible());
}

TEST_F(ConfigurationSessionTest, DorixClassicCompatibilityFollowsTheAppliedSlots) {
  ConfigurationFields fields = Opened({});
  EXPECT_FALSE(session().IsIncompatible());
  fields.boxSlots[0] = Fields("192.168.0.10", "10001", DetectorIdIndexFor("12"));
  auto results = session().ApplySlotsSilently(fields.boxSlots);
  EXPECT_TRUE(results[0].ok);
  EXPECT_TRUE(results[0].identifierEnabled);
  EXPECT_EQ(session().WorkingSlots()[0].detectorId, "12");
  EXPECT_TRUE(session().IsIncompatible());

  fields.boxSlots[0].detectorIndex = 0;  // "31     CLASSIC"
  session().ApplySlotsSilently(fields.boxSlots);
  EXPECT_EQ(session().WorkingSlots()[0].detectorId, "31");
  EXPECT_FALSE(session().IsIncompatible());

  // A slot without a port, or without an address, does not count.
  fields.boxSlots[0] = Fields("192.168.0.10", "", DetectorIdIndexFor("20"));
  fields.boxSlots[1] = Fields("", "10000", DetectorIdIndexFor("20"));
  results = session().ApplySlotsSilently(fields.boxSlots);
  EXPECT_TRUE(results[0].identifierEnabled);  // an address alone enables the list
  EXPECT_FALSE(session().IsIncompatible());

  // "C31" (kept from the settings of a locked slot) is compatible too.
  Opened({Slot("192.168.0.10", 10000, "C31", true)});
  EXPECT_FALSE(session().IsIncompatible());
}

TEST_F(ConfigurationSessionTest, SlotPortsAndSerialSpeeds) {
  Opened({});
  SlotApplyResult result = session().ApplySlot(0, Fields("COM1", "19200"), false);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, SlotApplyError::kComSpeed);
  EXPECT_EQ(result.message, Tr(kMsgConfigComSpeed));
  EXPECT_EQ(session().WorkingSlots()[0].address, "");  // a refusal stores nothing

  // Silent application refuses the same without a message.
  result = session().ApplySlot(0, Fields("com1", "19200"), true);
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(result.message.empty());
  EXPECT_FALSE(session().ApplySlot(0, Fields("/dev/ttyUSB0", ""), true).ok);

  result = session().ApplySlot(0, Fields("  COM1 ", " 9600 "), false);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(session().WorkingSlots()[0].address, "COM1");
  EXPECT_EQ(session().WorkingSlots()[0].port, 9600);
  // A host name that merely holds "com" is no serial port.
  EXPECT_TRUE(session().ApplySlot(1, Fields("timing.example.com", "19200"), false).ok);

  for (const char* bad : {"10001abc", "-5", "70000", "99999999999", "1e4"}) {
    result = session().ApplySlot(2, Fields("192.168.0.12", bad), false);
    EXPECT_FALSE(result.ok) << bad;
    EXPECT_EQ(result.error, SlotApplyError::kInvalidPort) << bad;
    EXPECT_EQ(result.message, Tr(kMsgConfigInvalidPort)) << bad;
  }
  EXPECT_EQ(session().WorkingSlots()[2].address, "");
  // Emptying both fields undeclares the slot and disables its identifier list.
  result = session().ApplySlot(1, Fields(" ", ""), false);
  EXPECT_TRUE(result.ok);
  EXPECT_FALSE(result.identifierEnabled);
  EXPECT_EQ(session().WorkingSlots()[1].port, 0);
}

TEST_F(ConfigurationSessionTest, OkChecksRangesAndSlotsBeforeStoringAnything) {
  settings.Host = "localhost";
  settings.Port = 8283;
  settings.GVarnexExportFile = "/data/Lapora.kol";
  ConfigurationFields fields = Opened({});
  fields.host = " dorix.local ";
  fields.exportFile = "/data/day2.kol";
  fields.lostConnectionIndex = 4;
  fields.longRaceIndex = 2;
  fields.beepWhenQuit = false;
  fields.ignoreUnknownTags = true;

  fields.port = "80";
  ConfigurationOkResult result = session().Ok(fields);
  EXPECT_FALSE(result.accepted);
  EXPECT_EQ(result.field, ConfigField::kDirectPort);
  EXPECT_EQ(result.message, Range(1024, 65535));
  fields.port = "port";
  EXPECT_EQ(session().Ok(fields).message, "Tapez un nombre entier.");
  fields.port = "8300";
  fields.reconnectSeconds = "181";
  result = session().Ok(fields);
  EXPECT_EQ(result.field, ConfigField::kReconnectSeconds);
  EXPECT_EQ(result.message, Range(10, 180));
  fields.reconnectSeconds = "30";

  // A slot refused on OK leaves every setting as it was (Cancel may follow).
  fields.boxSlots[2] = Fields("COM1", "19200");
  result = session().Ok(fields);
  EXPECT_FALSE(result.accepted);
  EXPECT_EQ(result.field, ConfigField::kSlotPort);
  EXPECT_EQ(result.slotIndex, 2);
  EXPECT_EQ(result.message, Tr(kMsgConfigComSpeed));
  EXPECT_EQ(settings.Host, "localhost");
  EXPECT_EQ(settings.Port, 8283);
  EXPECT_EQ(settings.GVarnexExportFile, "/data/Lapora.kol");
  EXPECT_FALSE(session().Accepted());

  fields.boxSlots[2].port = "9600";
  result = session().Ok(fields);
  EXPECT_TRUE(result.accepted);
  EXPECT_TRUE(session().Accepted());
  EXPECT_EQ(settings.Host, "dorix.local");
  EXPECT_EQ(settings.Port, 8300);
  EXPECT_EQ(settings.ReconnectSeconds, 30);
  EXPECT_EQ(settings.GVarnexExportFile, "/data/day2.kol");
  EXPECT_EQ(settings.GBoxReconnectSeconds, 120);
  EXPECT_EQ(settings.GDaysToAdd, 2);
  EXPECT_EQ(settings.GVarnexBeepWhenQuit, 0);
  EXPECT_EQ(settings.GVarnexBeepDetections, 1);
  EXPECT_EQ(settings.GVarnexIgnoreUnknownTags, 1);
  EXPECT_EQ(session().WorkingSlots()[2].address, "COM1");
}

TEST(AdvancedConfigurationTest, FactoryValuesRangesAndStoring) {
  AppSettings settings;
  settings.GVarnexIgnoreInputMsDelta = 120;
  settings.BAutoRecover = 0;
  EXPECT_EQ(AdvancedOpeningValues(settings), (AdvancedValues{120, 300, 1, true, false}));
  EXPECT_EQ(AdvancedFactoryValues(), (AdvancedValues{50, 300, 1, true, true}));

  AdvancedOkResult result = AdvancedOk(settings, {"0", "49", "1"}, false, true);
  EXPECT_FALSE(result.accepted);
  EXPECT_EQ(result.field, 1);
  EXPECT_EQ(result.message, Range(50, 5000));
  result = AdvancedOk(settings, {"0", "50", "21"}, false, true);
  EXPECT_EQ(result.field, 2);
  EXPECT_EQ(result.message, Range(1, 20));
  result = AdvancedOk(settings, {"5001", "50", "1"}, false, true);
  EXPECT_EQ(result.field, 0);
  // Refusals store nothing, the check boxes included.
  EXPECT_EQ(settings.GVarnexIgnoreInputMsDelta, 120);
  EXPECT_EQ(settings.GSyncDetections, 1);
  EXPECT_EQ(settings.BAutoRecover, 0);

  EXPECT_TRUE(AdvancedOk(settings, {"0", "5000", "20"}, false, true).accepted);
  EXPECT_EQ(AdvancedOpeningValues(settings), (AdvancedValues{0, 5000, 20, false, true}));
}

class ConfigurationCommitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store.WriteSettingText(kBoxSlotsSection, "BoxHost0", "127.0.0.1");
    store.WriteSettingInt(kBoxSlotsSection, "BoxPort0", peer.Port());
    store.WriteSettingText(kBoxSlotsSection, "BoxIdDetector0", "12");
    store.WriteSettingText(kBoxSlotsSection, "BoxHost1", "192.168.0.11");
    store.WriteSettingInt(kBoxSlotsSection, "BoxPort1", 10000);
    slots.LoadBoxConfigs();
  }
  void TearDown() override { slots.Box(1)->Transport()->Close(); }

  BoxLinkHarness h;
  LoopbackPeer peer;
  TempDir dir;
  SettingsStore store{dir.File("Lapora.ini")};
  CBoxSlots slots{h.services, store, h.records, dir.File("Lapora-20240101-080000.dat")};
};

TEST_F(ConfigurationCommitTest, ConnectedSlotIsLockedAndKeptWhileOthersChangeKind) {
  std::string error;
  ASSERT_TRUE(slots.Box(1)->Transport()->Connect(&error)) << error;
  ASSERT_TRUE(peer.Accept());

  ConfigurationSession session(h.settings, TakeWorkingSlots(slots));
  ConfigurationFields fields = session.OpeningFields();
  EXPECT_FALSE(fields.boxSlots[0].editable);
  EXPECT_TRUE(fields.boxSlots[1].editable);
  EXPECT_TRUE(session.IsIncompatible());  // the connected box has identifier 12

  // Whatever the locked fields hold, the connected slot keeps its values.
  fields.boxSlots[0] = Fields("10.9.9.9", "1", DetectorIdIndexFor("20"));
  fields.boxSlots[1] = Fields("COM2", "9600", DetectorIdIndexFor("14"));
  ASSERT_TRUE(session.Ok(fields).accepted);
  EXPECT_EQ(session.WorkingSlots()[0].address, "127.0.0.1");
  EXPECT_EQ(session.WorkingSlots()[0].detectorId, "12");

  CommitConfiguration(session, slots, store, h.settings, std::time(nullptr));
  const CComBox* first = slots.Box(1)->Transport();
  EXPECT_TRUE(first->IsConnected());
  EXPECT_EQ(first->Address(), "127.0.0.1");
  EXPECT_EQ(first->PortValue(), peer.Port());
  // The new address names a serial port: the slot gets a serial transport at once, instead of
  // a TCP transport that would look for a host called COM2.
  const CComBox* second = slots.Box(2)->Transport();
  EXPECT_TRUE(second->IsSerial());
  EXPECT_EQ(second->GetLabel(), "[COM2:9600 14]");
  EXPECT_EQ(store.ReadSettingText(kBoxSlotsSection, "BoxHost1", "?"), "COM2");
  EXPECT_EQ(store.ReadSettingText(kBoxSlotsSection, "BoxIdDetector1", "?"), "14");
  EXPECT_EQ(store.ReadSettingText(kBoxSlotsSection, "BoxIdDetector0", "?"), "12");
  EXPECT_EQ(store.ReadSettingInt(kBoxSlotsSection, "BoxPort0", 0), peer.Port());
}

TEST_F(ConfigurationCommitTest, AdvancedOkThenCancelKeepsValuesButWritesNothing) {
  std::string before = ReadFile(store.SettingsFile());
  {
    ConfigurationSession session(h.settings, TakeWorkingSlots(slots));
    ASSERT_TRUE(AdvancedOk(h.settings, {"75", "400", "5"}, true, true).accepted);
    // The configuration dialog is cancelled: nothing is committed.
  }
  EXPECT_EQ(h.settings.GVarnexIgnoreInputMsDelta, 75);
  EXPECT_EQ(h.settings.GVarnexIgnoreOutputMsDelta, 400);
  EXPECT_EQ(h.settings.GVarnexReadMsDelta, 5);
  EXPECT_EQ(ReadFile(store.SettingsFile()), before);
}

TEST_F(ConfigurationCommitTest, SettingsFileAfterOkInItsOrder) {
  TempDir fresh;
  SettingsStore file{fresh.File("Lapora.ini")};
  AppSettings& s = h.settings;
  ASSERT_TRUE(AdvancedOk(s, {"60", "350", "2"}, false, false).accepted);
  ConfigurationSession session(s, TakeWorkingSlots(slots));
  ConfigurationFields fields = session.OpeningFields();
  fields.exportFile = "/data/race.kol";
  fields.host = "10.0.0.5";
  fields.port = "8284";
  fields.reconnectSeconds = "25";
  fields.catchUp = false;
  fields.lostConnectionIndex = 0;
  fields.longRaceIndex = 1;
  fields.beepDetections = false;
  fields.beepWhenQuit = true;
  fields.ignoreUnknownTags = true;
  ASSERT_TRUE(session.Ok(fields).accepted);
  s.BLogDetections = 0;
  s.SetRaceDayDates({"x", "x", "x", "x"});

  std::time_t now = std::time(nullptr);
  WriteConfigurationSettings(file, s, now);
  EXPECT_EQ(ReadFile(file.SettingsFile()),
            "[Settings]\r\n"
            "GVarnexIgnoreInputMsDelta=60\r\n"
            "GVarnexIgnoreOutputMsDelta=350\r\n"
            "GVarnexReadMsDelta=2\r\n"
            "GSyncDetections=0\r\n"
            "BAutoRecover=0\r\n"
            "GVarnexExportFile=/data/race.kol\r\n"
            "BLogDetections=0\r\n"
            "GBoxReconnectSeconds=0\r\n"
            "GDaysToAdd=1\r\n"
            "GVarnexBeepDetections=0\r\n"
            "GVarnexBeepWhenQuit=1\r\n"
            "GVarnexIgnoreUnknownTags=1\r\n"
            "[DirectConnection]\r\n"
            "Port=8284\r\n"
            "Host=10.0.0.5\r\n"
            "ReconnectSeconds=25\r\n"
            "BCatchUp=0\r\n");
  // One long-race day: today is race day 1.
  EXPECT_EQ(s.RaceDayDates()[1], TodayCompact(now));
  EXPECT_EQ(s.RaceDayDates()[0], DateFromToday(-1, now));
}

TEST(ChipTableReloadTest, ReloadsOstraTableAndPostsItsResult) {
  BoxLinkHarness h;
  TempDir data;
  TempDir program;
  ChipReloadResult missing =
      ReloadChipTableFromDialog(h.chipTable, data.path(), program.path(), h.log);
  EXPECT_FALSE(missing.ok);
  EXPECT_EQ(missing.message, StrF(Tr(kMsgChipTableNotFound).c_str(), "OstraTable.dtb"));

  testing::WriteFile(program.File("OstraTable.dtb"), "E2003412 57\r\nE2003413 58\r\n");
  ChipReloadResult loaded =
      ReloadChipTableFromDialog(h.chipTable, data.path(), program.path(), h.log);
  EXPECT_TRUE(loaded.ok);
  EXPECT_EQ(h.chipTable.ChipTableCount(), 2u);
  EXPECT_EQ(loaded.message,
            StrF(Tr(kMsgChipTableLoaded).c_str(), 2, program.File("OstraTable.dtb").c_str()));
  h.Pump();
  ASSERT_EQ(h.logs.size(), 2u) << h.AllLogs();
  EXPECT_EQ(h.logs[0].level, 0);
  EXPECT_EQ(h.logs[0].text, missing.message);
  EXPECT_EQ(h.logs[1].text, loaded.message);
}

}  // namespace
}  // namespace lapora
