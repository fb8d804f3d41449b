#include "boxlink/box_protocol.h"

#include <gtest/gtest.h>

#include <ctime>

#include "boxlink/ostra_box.h"
#include "foundation/chrono.h"
#include "support/boxlink_support.h"
#include "support/local_time.h"

namespace lapora {
namespace {

using testing::BoxLinkHarness;
using testing::LoopbackPeer;
using namespace std::chrono_literals;

// A box connected to a loopback peer.
class ConnectedBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    box.ConfigureTransport("31", "127.0.0.1", peer.Port());
    std::string error;
    ASSERT_TRUE(box.Transport()->Connect(&error)) << error;
    ASSERT_TRUE(peer.Accept());
  }
  BoxLinkHarness h;
  LoopbackPeer peer;
  COstraBox box{h.services, 1};
};

TEST_F(ConnectedBoxTest, CommandBytesAndTheSequenceWrap) {
  box.SetDeviceId("57");
  std::string error;
  for (int i = 0; i < 10000; ++i) {
    ASSERT_TRUE(SendCommand(box, "getGunTime", "", &error)) << error;
  }
  std::string sent = peer.ReceiveCommands(10000);
  EXPECT_EQ(sent.substr(0, 20), "57@getGunTime@0000@;");
  EXPECT_EQ(sent.size(), 200000u);
  EXPECT_EQ(sent.substr(sent.size() - 20), "57@getGunTime@9999@;");
  peer.ClearReceived();
  // The 10 001st command wraps to 0000, the next one uses 0001; no line end follows.
  ASSERT_TRUE(SendCommand(box, "readerOpen", "3", &error));
  ASSERT_TRUE(SendCommand(box, "readerOpen", "4", &error));
  EXPECT_EQ(peer.ReceiveCommands(2), "57@readerOpen@0000@3;57@readerOpen@0001@4;");
  EXPECT_TRUE(error.empty());
  EXPECT_TRUE(h.PumpUntil([&] { return h.HasLog(">>->> 57@readerOpen@0001@4;"); }));
}

TEST_F(ConnectedBoxTest, WithoutDeviceIdTheLineStartsWithTheSeparator) {
  for (int i = 0; i < 12; ++i) {
    (void)box.TakeCommandSequence();
  }
  std::string error;
  ASSERT_TRUE(SendCommand(box, "getGunTime", "", &error));
  EXPECT_EQ(peer.ReceiveCommands(1), "@getGunTime@0012@;");
}

TEST(SendCommandTest, NotConnectedUsesNoSequenceNumber) {
  BoxLinkHarness h;
  COstraBox box(h.services, 2);
  std::string error = "old";
  EXPECT_FALSE(SendCommand(box, "readerOpen", "1", &error));
  EXPECT_EQ(error, "Connexion non ouverte");
  EXPECT_EQ(box.CommandSequence(), 0);
  box.SetTransport(nullptr);
  EXPECT_FALSE(SendCommand(box, "readerOpen", "1", &error));
  EXPECT_EQ(box.CommandSequence(), 0);
}

TEST(SendCommandTest, AWriteErrorClosesTheTransportAndStillUsesTheNumber) {
  BoxLinkHarness h;
  COstraBox box(h.services, 1);
  LoopbackPeer peer;
  box.ConfigureTransport("31", "127.0.0.1", peer.Port());
  ASSERT_TRUE(box.Transport()->Connect(nullptr));
  ASSERT_TRUE(peer.Accept());
  peer.CloseClient();
  std::string error;
  // The first writes after the peer's close may still be accepted by the system; a write
  // error comes within a few.
  bool failed = false;
  for (int i = 0; i < 50 && !failed; ++i) {
    failed = !SendCommand(box, "setGateTime", "1.0", &error);
    if (!failed) {
      std::this_thread::sleep_for(10ms);
    }
  }
  ASSERT_TRUE(failed);
  EXPECT_EQ(error, Utf8ToCp1252("Erreur envoi de commande (setGateTime) au boîtier"));
  EXPECT_FALSE(box.Transport()->IsConnected());
  EXPECT_GT(box.CommandSequence(), 0);
}

struct ClassifyCase {
  const char* line;
  bool recognised;
  BoxMessageKind kind;
  const char* deviceId;
  const char* payload;
  const char* logged;  // the log text it gives at level 0, if any
};

TEST(ClassifyBoxLineTest, FormsAndKeywords) {
  const std::string longField(256, 'x');
  const std::string maxField(255, 'x');
  const ClassifyCase cases[] = {
      {" 57@heartBeat@0103@12:00:01;\r", true, BoxMessageKind::kHeartBeat, "57", "12:00:01",
       nullptr},
      {"57@HEARTBEAT@1@x", true, BoxMessageKind::kHeartBeat, "57", "x", nullptr},
      {"57@heartbeats@1@x", false, BoxMessageKind::kNone, "", "",
       ".. Unknown command: 57@heartbeats@1@x"},
      {"57@epc@1@;", true, BoxMessageKind::kEpc, "57", "", nullptr},
      {"57@epc@1@", false, BoxMessageKind::kNone, "", "", ".. Unknown command format: 57@epc@1@"},
      {"57@@1@x", false, BoxMessageKind::kNone, "", "", ".. Unknown command format: 57@@1@x"},
      {"57@epc@1@a b", true, BoxMessageKind::kEpc, "57", "a", nullptr},
      {"57@epc@1@  x;;;", true, BoxMessageKind::kEpc, "57", "x", nullptr},
      {"57@epc_rewind_done@9@ok", true, BoxMessageKind::kEpcRewindDone, "57", "ok", nullptr},
      {"57@channelState@9@ok", true, BoxMessageKind::kChannelState, "57", "ok", nullptr},
      {"nothing", false, BoxMessageKind::kNone, "", "", ".. Unknown command format: nothing"},
  };
  for (const ClassifyCase& c : cases) {
    BoxLinkHarness h;
    std::string line = c.line;
    BoxMessageKind kind = BoxMessageKind::kSetTime;
    std::string deviceId;
    std::string keyword;
    std::string payload;
    EXPECT_EQ(ClassifyBoxLine(h.log, line, &kind, &deviceId, &keyword, &payload), c.recognised)
        << c.line;
    EXPECT_EQ(kind, c.kind) << c.line;
    EXPECT_EQ(deviceId, c.deviceId) << c.line;
    EXPECT_EQ(payload, c.payload) << c.line;
    h.Pump();
    if (c.logged != nullptr) {
      EXPECT_TRUE(h.HasLog(c.logged)) << h.AllLogs();
      EXPECT_EQ(h.logs.back().level, 0);
    }
  }
  {
    // The line is trimmed in place and its raw form logged at level 100.
    BoxLinkHarness h;
    std::string line = " \t57@heartBeat@0103@12:00:01; \r\n";
    BoxMessageKind kind;
    std::string id, keyword, payload;
    ASSERT_TRUE(ClassifyBoxLine(h.log, line, &kind, &id, &keyword, &payload));
    EXPECT_EQ(line, "57@heartBeat@0103@12:00:01;");
    EXPECT_EQ(keyword, "heartBeat");
    h.Pump();
    EXPECT_EQ(h.logs.front().text, "<<-<< 57@heartBeat@0103@12:00:01;");
    EXPECT_EQ(h.logs.front().level, 100);
  }
  // Fields of 255 characters are accepted; one of 256 makes the form unknown.
  for (const std::string& line : {longField + "@epc@1@x", "57@" + longField + "@1@x",
                                  "57@epc@" + longField + "@x", "57@epc@1@" + longField}) {
    BoxLinkHarness h;
    std::string copy = line;
    BoxMessageKind kind;
    std::string id, keyword, payload;
    EXPECT_FALSE(ClassifyBoxLine(h.log, copy, &kind, &id, &keyword, &payload));
    h.Pump();
    EXPECT_TRUE(h.HasLog(".. Unknown command format: ")) << line.size();
  }
  {
    BoxLinkHarness h;
    std::string line = maxField + "@epc@" + maxField + "@" + maxField;
    BoxMessageKind kind;
    std::string id, keyword, payload;
    EXPECT_TRUE(ClassifyBoxLine(h.log, line, &kind, &id, &keyword, &payload));
    EXPECT_EQ(payload, maxField);
  }
}

TEST(QuietCountersTest, OneShownPerPeriodOfAllBoxesTogether) {
  BoxLinkHarness h;
  COstraBox box1(h.services, 1);
  COstraBox box2(h.services, 2);
  BoxThreadCounters counters;
  for (int i = 0; i < 240; ++i) {
    HandleBoxMessage(i % 2 == 0 ? box1 : box2, "P", BoxMessageKind::kHeartBeat, "57@heartBeat@1@t",
                     "t", 0, counters);
  }
  h.Pump();
  EXPECT_EQ(h.CountLogs("+ P : heartBeat"), 2);
  EXPECT_EQ(h.logs.front().level, 75);
  EXPECT_EQ(h.shared.quietCounters.Value(CBoxQuietCounters::kHeartBeat), 0);

  CBoxQuietCounters counters60;
  int shown = 0;
  for (int i = 0; i < 180; ++i) {
    shown += counters60.Advance(CBoxQuietCounters::kMachineState, 60) ? 1 : 0;
  }
  EXPECT_EQ(shown, 3);
}

TEST(HandleBoxMessageTest, PendingFlagsShowTheNextClockReportAtLevelZero) {
  BoxLinkHarness h;
  COstraBox box(h.services, 1);
  BoxThreadCounters counters;
  HandleBoxMessage(box, "P", BoxMessageKind::kMachineDate, "l", "2012-5-3", 0, counters);
  h.Pump();
  EXPECT_TRUE(h.logs.empty());  // level 200: dropped
  HandleBoxMessage(box, "P", BoxMessageKind::kSetDate, "l", "ok", 0, counters);
  EXPECT_TRUE(box.DateShowPending());
  HandleBoxMessage(box, "P", BoxMessageKind::kMachineDate, "l", "2012-5-3", 0, counters);
  HandleBoxMessage(box, "P", BoxMessageKind::kMachineDate, "l", "2012/5/3", 0, counters);
  h.Pump();
  ASSERT_EQ(h.logs.size(), 2u) << h.AllLogs();
  EXPECT_EQ(h.logs[0].level, 75);
  EXPECT_EQ(h.logs[1].level, 0);
  EXPECT_FALSE(box.DateShowPending());
  EXPECT_EQ(h.logs[1].text, TrIn(BuildLanguage(), {"+ P : Box machineDate: 20120503",
                                                   "+ P : machineDate : 20120503"}));
  EXPECT_EQ(h.shared.quietCounters.Value(CBoxQuietCounters::kMachineDate), 3);

  HandleBoxMessage(box, "P", BoxMessageKind::kSetTime, "l", "ok", 0, counters);
  EXPECT_TRUE(box.TimeShowPending());
  h.Pump();
  EXPECT_EQ(h.logs.back().level, 75);
  EXPECT_NE(h.logs.back().text.find("setTime"), std::string::npos);
}

TEST(HandleBoxMessageTest, UndashedDateIsShownWithBlanks) {
  BoxLinkHarness h;
  COstraBox box(h.services, 1);
  BoxThreadCounters counters;
  box.DateShowPending() = true;
  HandleBoxMessage(box, "P", BoxMessageKind::kMachineDate, "l", "x-y", 0, counters);
  h.Pump();
  ASSERT_EQ(h.logs.size(), 1u);
  EXPECT_NE(h.logs[0].text.find(": x y"), std::string::npos) << h.logs[0].text;
}

TEST(HandleBoxMessageTest, MachineTimeLogsTheClockDifference) {
  // The PC reads 10:00:01.250 local time; the box says 10:00:00.500.
  std::tm local{};
  local.tm_year = 2012 - 1900;
  local.tm_mon = 4;
  local.tm_mday = 13;
  local.tm_hour = 10;
  local.tm_min = 0;
  local.tm_sec = 1;
  local.tm_isdst = -1;
  std::int64_t unixMs = static_cast<std::int64_t>(std::mktime(&local)) * 1000 + 250;
  ManualClock clock(unixMs, 0);
  BoxLinkHarness h;
  BoxLinkServices services = h.services;
  BoxLinkServices manual{services.log,    services.events, services.settings, clock,
                         services.intake, services.shared, services.sound};
  COstraBox box(manual, 1);
  BoxThreadCounters counters;
  box.TimeShowPending() = true;
  HandleBoxMessage(box, "P", BoxMessageKind::kMachineTime, "l", "10:00:00.500", 0, counters);
  box.TimeShowPending() = true;
  HandleBoxMessage(box, "P", BoxMessageKind::kMachineTime, "l", "10:00:02.000", 0, counters);
  h.Pump();
  ASSERT_EQ(h.logs.size(), 2u);
  EXPECT_EQ(h.logs[0].level, 0);
  EXPECT_EQ(h.logs[0].text,
            StrF(TrIn(BuildLanguage(), {"+ %s : machineTime %s (command received at %s - diff: %s)",
                                        "+ %s : machineTime %s (commande re\xc3\xa7ue \xc3\xa0 "
                                        "%s - diff: %s)"})
                     .c_str(),
                 "P", "10:00:00.50", "10:00:01.25", "00:00:00.75"));
  EXPECT_NE(h.logs[1].text.find("diff: 00:00:00.75"), std::string::npos) << h.logs[1].text;
}

TEST(HandleBoxMessageTest, PackingStatesAndTheirMarkers) {
  BoxLinkHarness h;
  COstraBox box(h.services, 1);
  BoxThreadCounters counters;
  HandleBoxMessage(box, "P", BoxMessageKind::kPackDataSection, "l", "started", 0, counters);
  EXPECT_EQ(box.PackState(), kPackStateRunning);
  HandleBoxMessage(box, "P", BoxMessageKind::kPackDataResult, "l", "FAILED:", 0, counters);
  EXPECT_EQ(box.PackState(), kPackStateFailed);
  HandleBoxMessage(box, "P", BoxMessageKind::kPackDataResult, "l", "ok", 0, counters);
  EXPECT_EQ(box.PackState(), kPackStateSucceeded);
  HandleBoxMessage(box, "P", BoxMessageKind::kPackDataResult, "l", "Fail", 0, counters);
  EXPECT_EQ(box.PackState(), kPackStateFailed);
  HandleBoxMessage(box, "P", BoxMessageKind::kPackDataResult, "l", "fai", 0, counters);
  EXPECT_EQ(box.PackState(), kPackStateSucceeded);
  h.Pump();
  ASSERT_EQ(h.logs.size(), 5u);
  EXPECT_EQ(h.logs[1].level, 50);
  EXPECT_EQ(h.logs[1].text.rfind("## P : packDataResult", 0), 0u) << h.logs[1].text;
  EXPECT_NE(h.logs[1].text.find("FAILED:"), std::string::npos);
  EXPECT_EQ(h.logs[2].level, 0);
  EXPECT_EQ(h.logs[2].text.rfind("+ P : packDataResult", 0), 0u);
}

TEST(HandleBoxMessageTest, LevelsOfTheReports) {
  struct LevelCase {
    BoxMessageKind kind;
    int level;
  };
  const LevelCase cases[] = {
      {BoxMessageKind::kGunStartTime, 0},    {BoxMessageKind::kEpcLastRead, 0},
      {BoxMessageKind::kReaderPower, 0},     {BoxMessageKind::kSetGateTime, 0},
      {BoxMessageKind::kGetGunTime, 0},      {BoxMessageKind::kActiveSystemState, 100},
      {BoxMessageKind::kReaderChannel, 100}, {BoxMessageKind::kReaderOpen, 50},
      {BoxMessageKind::kReaderStop, 50},     {BoxMessageKind::kGunTime, 75},
      {BoxMessageKind::kRewindData, 75},     {BoxMessageKind::kDeleteData, 75},
      {BoxMessageKind::kEpcRewindStart, 78}, {BoxMessageKind::kEpcRewindDone, 25},
      {BoxMessageKind::kChannelState, 0},
  };
  for (const LevelCase& c : cases) {
    BoxLinkHarness h;
    COstraBox box(h.services, 1);
    BoxThreadCounters counters;
    HandleBoxMessage(box, "P", c.kind, "57@k@1@v", "v", 0, counters);
    h.Pump();
    ASSERT_EQ(h.logs.size(), 1u) << BoxMessageKeyword(c.kind);
    EXPECT_EQ(h.logs[0].level, c.level) << BoxMessageKeyword(c.kind);
    if (c.kind == BoxMessageKind::kChannelState) {
      EXPECT_NE(h.logs[0].text.find("57@k@1@v"), std::string::npos);  // the whole line
    } else {
      EXPECT_NE(h.logs[0].text.find(BoxMessageKeyword(c.kind)), std::string::npos);
    }
  }
}

TEST(HandleBoxMessageTest, ADetectionGoesToTheIntake) {
  BoxLinkHarness h;
  COstraBox box(h.services, 1);
  BoxThreadCounters counters;
  CChrono now;
  now.SetNow();
  std::string today = TodayCompact();
  std::string payload = today.substr(0, 4) + "-" + today.substr(4, 2) + "-" + today.substr(6, 2) +
                        "_10:23:45.120,E2003412";
  HandleBoxMessage(box, "P", BoxMessageKind::kEpc, "57@epc@1@" + payload, payload, 0, counters);
  EXPECT_EQ(counters.handled, 1);
  EXPECT_EQ(counters.recorded, 1);
  EXPECT_EQ(h.records.RecordCount(), 1u);
  HandleBoxMessage(box, "P", BoxMessageKind::kEpc, "57@epc@1@;", "", 0, counters);
  EXPECT_EQ(counters.invalid, 1);
}

TEST(CommandParametersTest, DatesTimesAndTheRangeOfToday) {
  std::tm local{};
  local.tm_year = 2012 - 1900;
  local.tm_mon = 4;
  local.tm_mday = 13;
  local.tm_hour = 14;
  local.tm_min = 5;
  local.tm_sec = 9;
  local.tm_isdst = -1;
  std::time_t now = std::mktime(&local);
  EXPECT_EQ(SetDateParameter(now), "2012,5,13");
  EXPECT_EQ(TodayRangeParameter(now), "2012-05-13_00:00:00.000,2012-05-14_00:00:00.000");
  EXPECT_EQ(SetTimeParameter(CChrono(static_cast<std::int32_t>(now), 370)), "14,05,09,37");
  EXPECT_EQ(GateTimeParameter(2), "2.0");
  EXPECT_EQ(GateTimeParameter(15), "15.0");
  local.tm_mon = 11;
  local.tm_mday = 31;
  EXPECT_EQ(TodayRangeParameter(std::mktime(&local)),
            "2012-12-31_00:00:00.000,2013-01-01_00:00:00.000");
}

// The replay asked for after a loss: 5 s before the last recorded read, a minute past now, in
// the box's own date-time form, across midnight and the year's end.
TEST(CommandParametersTest, RangeOfTheReplayAfterALoss) {
  auto at = [](int year, int month, int day, int hour, int minute, int second) {
    return static_cast<std::int64_t>(testing::LocalTime(year, month, day, hour, minute, second));
  };
  std::int64_t lastRead = at(2012, 5, 13, 10, 23, 45);
  EXPECT_EQ(RecoveryRangeParameter(CChrono(static_cast<std::int32_t>(lastRead), 120),
                                   at(2012, 5, 13, 10, 30, 0) * 1000 + 5),
            "2012-05-13_10:23:40.120,2012-05-13_10:31:00.005");
  lastRead = at(2013, 1, 1, 0, 0, 3);
  EXPECT_EQ(RecoveryRangeParameter(CChrono(static_cast<std::int32_t>(lastRead), 0),
                                   at(2012, 12, 31, 23, 59, 30) * 1000 + 999),
            "2012-12-31_23:59:58.000,2013-01-01_00:00:30.999");
  // Nothing recorded yet from the box: today.
  std::int64_t now = at(2012, 5, 13, 14, 5, 9);
  EXPECT_EQ(RecoveryRangeParameter(CChrono(), now * 1000),
            TodayRangeParameter(static_cast<std::time_t>(now)));
}

}  // namespace
}  // namespace lapora
