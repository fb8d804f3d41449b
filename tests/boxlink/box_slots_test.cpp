// The four box slots against real sockets: settings in a real file, loopback peers that play
// the boxes (or refuse them), the toggle button, the box menu and the clock buttons.
#include "boxlink/box_slots.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <deque>
#include <thread>

#include "boxlink/com_box.h"
#include "foundation/clock.h"
#include "foundation/settings_store.h"
#include "resources/messages_boxlink.h"
#include "resources/messages_boxslots.h"
#include "resources/messages_station.h"
#include "support/boxlink_support.h"
#include "support/local_time.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

using testing::BoxLinkHarness;
using testing::LoopbackPeer;
using testing::RefusedPort;
using testing::TempDir;
using namespace std::chrono_literals;

// A peer that accepts one connection and resets it (close with linger 0).
class ResettingPeer {
 public:
  ResettingPeer() {
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(m_listen, 4);
    socklen_t length = sizeof address;
    ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
  }
  ~ResettingPeer() { ::close(m_listen); }
  int Port() const { return m_port; }
  bool AcceptAndReset() {
    int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      return false;
    }
    linger reset{1, 0};
    ::setsockopt(client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::close(client);
    return true;
  }

 private:
  int m_listen = -1;
  int m_port = 0;
};

class BoxSlotsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    h.settings.GVarnexConnectionTimeout = 1;
    BoxSlotsHooks hooks;
    hooks.askYesNo = [this](const std::string& question) {
      questions.push_back(question);
      if (answers.empty()) {
        return true;
      }
      bool answer = answers.front();
      answers.pop_front();
      return answer;
    };
    hooks.showConnectButton = [this](bool pressed) { buttonStates.push_back(pressed); };
    hooks.bringToFront = [this] { ++broughtToFront; };
    hooks.setWaitCursor = [this](bool waiting) { waitCursor.push_back(waiting); };
    hooks.restartRefreshTimer = [this] { ++refreshTimerRestarts; };
    hooks.refreshCounter = [this] { ++counterRefreshes; };
    hooks.pumpEvents = [this] { h.Pump(); };
    hooks.updateBoxStatus = [this](int) { ++statusUpdates; };
    hooks.say = [this](const std::string& text) { said.push_back(text); };
    hooks.connectAllFinished = [this](const ToggleResult& result) { finished.push_back(result); };
    slots.SetHooks(std::move(hooks));
    h.onStatus = [this](int number, int failed) { slots.OnBoxStatus(number, failed); };
    h.onInitDone = [this](int number, int round, bool initialised) {
      slots.OnBoxInitDone(number, round, initialised);
    };
  }
  void TearDown() override {
    h.onStatus = nullptr;
    h.onInitDone = nullptr;
    for (int number = 1; number <= kBoxSlotCount; ++number) {
      slots.StopBoxThread(number);
    }
  }

  void DeclareSlot(int index, const std::string& host, int port, const std::string& id = "31") {
    ASSERT_TRUE(store.WriteSettingText(kBoxSlotsSection, "BoxHost" + std::to_string(index), host));
    ASSERT_TRUE(store.WriteSettingInt(kBoxSlotsSection, "BoxPort" + std::to_string(index), port));
    ASSERT_TRUE(
        store.WriteSettingText(kBoxSlotsSection, "BoxIdDetector" + std::to_string(index), id));
  }

  // Connects box `number` through its menu's Connect item: the peer accepts, gives the device
  // id and takes the four readerOpen of the initialisation.
  void ConnectThroughMenu(int number, LoopbackPeer& peer, const std::string& deviceId) {
    int sequence = slots.Box(number)->CommandSequence();
    ASSERT_TRUE(slots.RunBoxMenuAction(number, BoxMenuId::kConnect).performed);
    ASSERT_TRUE(peer.Accept());
    peer.Send(deviceId + "@heartBeat@0001@10:00:00;");
    std::string opened;
    for (int channel = 1; channel <= 4; ++channel) {
      opened += StrF("%s@readerOpen@%04d@%d;", deviceId.c_str(), sequence++, channel);
    }
    ASSERT_EQ(peer.ReceiveCommands(4), opened);
    CComBox* transport = slots.Box(number)->Transport();
    // The box thread counts the connection just after the link reports it: wait for both, or
    // the figures may not be there yet.
    ASSERT_TRUE(h.PumpUntil([&] {
      return transport->IsConnected() && !transport->IsReconnecting() &&
             slots.Figures(number).everConnected;
    })) << h.AllLogs();
    peer.ClearReceived();
  }

  // Starts box `number` on a port that refuses it: its thread keeps trying (the test clock's
  // tick never moves, so the attempts never time out).
  void StartReconnecting(int number) {
    ASSERT_TRUE(slots.RunBoxMenuAction(number, BoxMenuId::kConnect).performed);
    CComBox* transport = slots.Box(number)->Transport();
    ASSERT_TRUE(h.PumpUntil([&] { return transport->IsReconnecting(); }));
  }

  // A box thread's log text without the thread number that the French prefix starts with:
  // the prefix's "%d %s" (box number, label), then the message after its prefix.
  static std::string Tail(const Message& message) {
    std::string format = Tr(message);
    std::string tail = format.substr(format.find("%s") + 2);
    return tail.substr(0, tail.find('%'));
  }
  std::string ThreadText(int number, const Message& message) {
    std::string format = Tr(message);
    std::string tail = format.substr(format.find("%s") + 2);
    return StrF("%d %s", number, slots.Box(number)->Transport()->GetLabel().c_str()) + tail;
  }

  std::string Title(int number) {
    return StrF(Tr(kMsgBoxSlotTitle).c_str(), number,
                slots.Box(number)->Transport()->GetLabel().c_str()) +
           "\n";
  }

  BoxLinkHarness h;
  ManualClock clock{SystemClock().NowUnixMs(), 0};
  BoxLinkServices services{h.log, h.events, h.settings, clock, h.intake, h.shared, &h.sound};
  TempDir dir;
  SettingsStore store{dir.File("Lapora.ini")};
  LoopbackPeer peerA;
  LoopbackPeer peerB;
  std::string detectionFile = dir.File("Lapora-20121231-120000.dat");
  CBoxSlots slots{services, store, h.records, detectionFile};

  std::deque<bool> answers;
  std::vector<std::string> questions;
  std::vector<bool> buttonStates;
  std::vector<bool> waitCursor;
  std::vector<std::string> said;
  std::vector<ToggleResult> finished;  // reports of "connect all boxes"
  int broughtToFront = 0;
  int refreshTimerRestarts = 0;
  int counterRefreshes = 0;
  int statusUpdates = 0;
};

TEST_F(BoxSlotsTest, NoBoxSectionGivesFourUndeclaredSlotsAndTheToggleAlert) {
  testing::WriteFile(store.SettingsFile(), "[Settings]\r\nGBoxReconnectSeconds=30\r\n");
  slots.LoadBoxConfigs();
  for (int number = 1; number <= kBoxSlotCount; ++number) {
    const CComBox* transport = slots.Box(number)->Transport();
    EXPECT_EQ(slots.Box(number)->BoxNumber(), number);
    EXPECT_FALSE(transport->IsConfigured());
    EXPECT_FALSE(transport->IsSerial());
    EXPECT_EQ(transport->DetectorId(), "31");
    EXPECT_EQ(transport->Address(), "");
    EXPECT_EQ(transport->PortValue(), 0);
    BoxSlotView view = slots.SlotView(number);
    EXPECT_EQ(view.state, BoxSlotState::kUndefined);
    EXPECT_EQ(view.tooltip, Tr(kMsgBoxUndefined));
    // No menu opens on an undeclared slot, and nothing can be run from it.
    EXPECT_TRUE(slots.BuildBoxMenu(number, false).empty());
    EXPECT_FALSE(slots.RunBoxMenuAction(number, BoxMenuId::kConnect).performed);
    EXPECT_FALSE(slots.Box(number)->IsThreadRunning());
  }
  EXPECT_EQ(refreshTimerRestarts, 0);
  EXPECT_TRUE(slots.ManualEntryDetectors().empty());
  EXPECT_FALSE(slots.ClockButtonsEnabled());

  // The speech comes before the count of declared boxes.
  ToggleResult result = slots.ToggleBoxConnections(false);
  EXPECT_EQ(result.outcome, ToggleOutcome::kNoneDeclared);
  EXPECT_TRUE(questions.empty());
  EXPECT_EQ(said, std::vector<std::string>{Tr(kMsgLetUsGo)});
  EXPECT_EQ(broughtToFront, 1);
  EXPECT_EQ(buttonStates, std::vector<bool>{false});
  h.Pump();
  EXPECT_TRUE(h.HasLog("######## " + Tr(kMsgNoBoxDeclared))) << h.AllLogs();
  EXPECT_FALSE(h.records.IsDetectionFileOpen());

  // With no box connected the clock buttons do nothing visible.
  std::size_t logged = h.logs.size();
  slots.ShowBoxClocks();
  EXPECT_TRUE(slots.SynchronizeBoxClocks());
  h.Pump();
  EXPECT_EQ(h.logs.size(), logged) << h.AllLogs();
}

TEST_F(BoxSlotsTest, SettingsChooseTheTransportAndSaveBack) {
  DeclareSlot(0, "192.168.1.21", 10000);
  DeclareSlot(1, "com3", 9600);
  DeclareSlot(2, "COM12", 9600, "C31");
  DeclareSlot(3, "timing.example.com", 10001, "12");
  slots.LoadBoxConfigs();

  const CComBox* tcp = slots.Box(1)->Transport();
  EXPECT_FALSE(tcp->IsSerial());
  EXPECT_EQ(tcp->GetLabel(), "[21:10000 31]");
  EXPECT_TRUE(tcp->IsConfigured());
  const CComBox* com3 = slots.Box(2)->Transport();
  EXPECT_TRUE(com3->IsSerial());  // letter case does not matter
  EXPECT_EQ(SerialDevicePath(com3->Address()), "/dev/ttyS2");
  const CComBox* com12 = slots.Box(3)->Transport();
  EXPECT_TRUE(com12->IsSerial());
  EXPECT_EQ(SerialDevicePath(com12->Address()), "/dev/ttyS11");
  EXPECT_EQ(com12->GetLabel(), "[COM12:9600 C31]");
  // A host name ending in ".com" is a TCP host, not a serial port.
  const CComBox* host = slots.Box(4)->Transport();
  EXPECT_FALSE(host->IsSerial());
  EXPECT_EQ(host->PortValue(), 10001);
  EXPECT_EQ(slots.DeclaredCount(), 4);
  EXPECT_EQ(slots.ManualEntryDetectors(), (std::vector<std::string>{"31", "31", "C31", "12"}));

  // The configuration dialog changes the transports' settings; the kind stays until the next
  // start, and the save writes what the transports hold.
  slots.Box(1)->Transport()->SetConfig("", "COM4", 9600);
  slots.Box(4)->Transport()->SetConfig("15", "10.0.0.7", 0);
  EXPECT_FALSE(slots.Box(1)->Transport()->IsSerial());
  // Both a detector label and a host are needed to be offered for a manual entry; a slot
  // with port 0 still has them.
  EXPECT_EQ(slots.ManualEntryDetectors(), (std::vector<std::string>{"31", "C31", "15"}));
  slots.SaveAllBoxConfigs();
  EXPECT_EQ(store.ReadSettingText(kBoxSlotsSection, "BoxHost0", "?"), "COM4");
  EXPECT_EQ(store.ReadSettingText(kBoxSlotsSection, "BoxIdDetector0", "?"), "");
  EXPECT_EQ(store.ReadSettingInt(kBoxSlotsSection, "BoxPort3", -1), 0);
  EXPECT_EQ(store.ReadSettingText(kBoxSlotsSection, "BoxHost2", "?"), "COM12");

  // The next start picks the kinds from the saved addresses.
  CBoxSlots next{services, store, h.records, detectionFile};
  next.LoadBoxConfigs();
  EXPECT_TRUE(next.Box(1)->Transport()->IsSerial());
  EXPECT_EQ(next.Box(1)->Transport()->DetectorId(), "");
  EXPECT_FALSE(next.Box(4)->Transport()->IsSerial());
  EXPECT_FALSE(next.Box(4)->Transport()->IsConfigured());
  EXPECT_EQ(next.Box(4)->Transport()->Address(), "10.0.0.7");
  EXPECT_EQ(next.Box(3)->Transport()->GetLabel(), "[COM12:9600 C31]");
  EXPECT_FALSE(next.LoadBoxConfig(4));
  EXPECT_FALSE(next.SaveBoxConfig(-1));
}

TEST_F(BoxSlotsTest, FourSlotStatesAndTheMenuRules) {
  int refused = RefusedPort();
  DeclareSlot(0, "127.0.0.1", peerA.Port());
  DeclareSlot(1, "127.0.0.1", refused);
  DeclareSlot(2, "127.0.0.1", refused);
  slots.LoadBoxConfigs();
  ConnectThroughMenu(1, peerA, "57");
  StartReconnecting(3);

  BoxSlotView green = slots.SlotView(1);
  EXPECT_EQ(green.state, BoxSlotState::kConnected);
  // A connected box shows its figures between its state and the menu hint.
  EXPECT_EQ(green.tooltip, Title(1) + Tr(kMsgBoxSlotConnected) +
                               BoxFiguresText(slots.Figures(1), 1000) +
                               Tr(kMsgBoxSlotClickForMenu));
  EXPECT_EQ(Title(1), StrF("%s 1 [1:%d 31]\n", Utf8ToCp1252("Boîtier").c_str(), peerA.Port()));
  BoxSlotView red = slots.SlotView(2);
  EXPECT_EQ(red.state, BoxSlotState::kNotConnected);
  EXPECT_EQ(red.tooltip, Title(2) + Tr(kMsgBoxSlotNotConnected));
  BoxSlotView orange = slots.SlotView(3);
  EXPECT_EQ(orange.state, BoxSlotState::kReconnecting);
  EXPECT_EQ(orange.tooltip, Title(3) + Tr(kMsgBoxSlotReconnecting));
  EXPECT_EQ(slots.SlotView(4).state, BoxSlotState::kUndefined);
  EXPECT_EQ(slots.ConnectedCount(), 1);
  EXPECT_EQ(slots.ActiveCount(), 2);
  EXPECT_TRUE(slots.ClockButtonsEnabled());

  // An active box without Ctrl: everything but Connect, accept and dismiss after the
  // separator, the gate times in a sub-menu.
  std::vector<BoxMenuItem> menu = slots.BuildBoxMenu(1, false);
  std::vector<BoxMenuId> ids;
  std::vector<std::string> labels;
  for (const BoxMenuItem& item : menu) {
    ids.push_back(item.id);
    labels.push_back(item.label);
    EXPECT_EQ(item.enabled, item.id != BoxMenuId::kConnect && item.id != BoxMenuId::kSeparator)
        << item.label;
  }
  using enum BoxMenuId;
  EXPECT_EQ(ids, (std::vector<BoxMenuId>{kConnect, kDisconnect, kSeparator, kAccept, kDismiss,
                                         kSeparator, kClearBox, kSeparator, kGateTime, kGunTime,
                                         kPackToday, kPackAll, kRewindToday, kRewindAll}));
  EXPECT_EQ(labels,
            (std::vector<std::string>{
                Tr(kMsgMenuConnect), Tr(kMsgMenuDisconnect), "", Tr(kMsgMenuAccept),
                Tr(kMsgMenuDismiss), "", Tr(kMsgMenuClearBox), "", "varnex: setGateTime",
                "varnex: getGunTime", "varnex: packDataSection" + Tr(kMsgMenuToday),
                "varnex: packDataSection" + Tr(kMsgMenuAll),
                "varnex: rewindData" + Tr(kMsgMenuToday), "varnex: rewindData" + Tr(kMsgMenuAll)}));
  std::vector<std::string> gates;
  for (const BoxMenuItem& entry : menu[8].submenu) {
    gates.push_back(entry.label);
    EXPECT_TRUE(entry.enabled);
  }
  EXPECT_EQ(gates, (std::vector<std::string>{"1s", "2s", "3s", "5s", "10s", "15s", "30s"}));

  // With Ctrl held: the eight channel items in place of accept and dismiss.
  std::vector<BoxMenuItem> ctrlMenu = slots.BuildBoxMenu(1, true);
  ASSERT_EQ(ctrlMenu.size(), menu.size() + 6);
  std::vector<std::string> channels;
  for (std::size_t i = 3; i < 11; ++i) {
    channels.push_back(ctrlMenu[i].label);
    EXPECT_TRUE(ctrlMenu[i].enabled);
  }
  EXPECT_EQ(channels, (std::vector<std::string>{"varnex: readerOpen,1", "varnex: readerStop,1",
                                                "varnex: readerOpen,2", "varnex: readerStop,2",
                                                "varnex: readerOpen,3", "varnex: readerStop,3",
                                                "varnex: readerOpen,4", "varnex: readerStop,4"}));
  EXPECT_EQ(ctrlMenu[3].id, kOpenChannel1);
  EXPECT_EQ(ctrlMenu[10].id, kStopChannel4);
  EXPECT_EQ(ctrlMenu[11].id, kSeparator);
  for (const BoxMenuItem& item : ctrlMenu) {
    EXPECT_NE(item.id, kAccept);
    EXPECT_NE(item.id, kDismiss);
  }

  // A red slot: only Connect; the Ctrl menu as well.
  for (bool ctrl : {false, true}) {
    for (const BoxMenuItem& item : slots.BuildBoxMenu(2, ctrl)) {
      EXPECT_EQ(item.enabled, item.id == kConnect) << item.label;
      for (const BoxMenuItem& entry : item.submenu) {
        EXPECT_FALSE(entry.enabled);
      }
    }
  }
  // A reconnecting slot is active: Connect is off, Disconnect on.
  EXPECT_FALSE(slots.IsBoxMenuItemEnabled(3, kConnect));
  EXPECT_TRUE(slots.IsBoxMenuItemEnabled(3, kDisconnect));
  EXPECT_TRUE(slots.IsBoxMenuItemEnabled(3, kOpenChannel2));
  EXPECT_FALSE(slots.IsBoxMenuItemEnabled(2, kGate5s));

  // Disconnect of a reconnecting box stops its attempts at once, without a question.
  slots.RunBoxMenuAction(3, kDisconnect);
  EXPECT_TRUE(questions.empty());
  EXPECT_FALSE(slots.Box(3)->IsThreadRunning());
  EXPECT_EQ(slots.SlotView(3).state, BoxSlotState::kNotConnected);
  EXPECT_TRUE(h.WaitForLog(ThreadText(3, kMsgThreadStoppedNoConnect)));
  // A connected box asks first; No leaves it connected.
  answers = {false, true};
  slots.RunBoxMenuAction(1, kDisconnect);
  ASSERT_EQ(questions, std::vector<std::string>{Tr(kMsgDisconnectBoxQuestion)});
  EXPECT_TRUE(slots.Box(1)->Transport()->IsConnected());
  slots.RunBoxMenuAction(1, kDisconnect);
  EXPECT_FALSE(slots.Box(1)->IsThreadRunning());
  EXPECT_TRUE(peerA.WaitForClose());
  EXPECT_EQ(slots.SlotView(1).state, BoxSlotState::kNotConnected);
  // Every choice restarts the refresh timer (two Connect, three Disconnect), and so does the
  // handling of the ended threads' reports.
  EXPECT_GE(refreshTimerRestarts, 5);
}

TEST_F(BoxSlotsTest, ToggleWithOneBoxConnectedAndOneReconnectingDisconnectsBoth) {
  DeclareSlot(0, "127.0.0.1", peerA.Port());
  DeclareSlot(3, "127.0.0.1", RefusedPort());
  slots.LoadBoxConfigs();
  h.records.OpenDetectionFile(detectionFile);
  ConnectThroughMenu(1, peerA, "57");
  StartReconnecting(4);

  // The operator releases the pressed button and answers No: nothing changes.
  answers = {false};
  EXPECT_EQ(slots.ToggleBoxConnections(true).outcome, ToggleOutcome::kCancelled);
  EXPECT_EQ(questions, std::vector<std::string>{Tr(kMsgDisconnectBoxesQuestion)});
  EXPECT_EQ(buttonStates, std::vector<bool>{true});
  EXPECT_TRUE(said.empty());
  EXPECT_EQ(slots.ActiveCount(), 2);

  answers = {true};
  ToggleResult result = slots.ToggleBoxConnections(true);
  EXPECT_EQ(result.outcome, ToggleOutcome::kDisconnected);
  EXPECT_EQ(result.declared, 2);
  for (int number : {1, 4}) {
    EXPECT_FALSE(slots.Box(number)->IsThreadRunning());
    EXPECT_FALSE(slots.Box(number)->Transport()->IsActive());
    EXPECT_EQ(slots.SlotView(number).state, BoxSlotState::kNotConnected);
  }
  EXPECT_TRUE(peerA.WaitForClose());
  EXPECT_FALSE(h.records.IsDetectionFileOpen());
  EXPECT_EQ(buttonStates, (std::vector<bool>{true, false}));
  EXPECT_EQ(waitCursor, (std::vector<bool>{true, false}));
  EXPECT_EQ(said, std::vector<std::string>{Tr(kMsgLetUsGo)});
  // The Connect items, DisconnectAllBoxes and the toggle each restart the refresh timer.
  EXPECT_GE(refreshTimerRestarts, 2 + 2);
  h.Pump();
  EXPECT_TRUE(h.HasLog(ThreadText(1, kMsgDisconnectionRequested))) << h.AllLogs();
  EXPECT_TRUE(h.HasLog(ThreadText(4, kMsgThreadStoppedNoConnect)));
  EXPECT_FALSE(h.HasLog("APP FOUND UNEXPECTED"));
  EXPECT_EQ(h.sound.Count(kSoundBoxError), 0);
}

TEST_F(BoxSlotsTest, ConnectAllInitialisesTheBoxesAtOnceAndReportsWhenAllHaveFinished) {
  DeclareSlot(1, "127.0.0.1", RefusedPort());
  slots.LoadBoxConfigs();
  // Nothing answers: the alert comes once the only box has given up, and the file, opened
  // before its thread started, is closed again.
  ToggleResult none = slots.ToggleBoxConnections(false);
  EXPECT_EQ(none.outcome, ToggleOutcome::kConnecting);
  EXPECT_EQ(none.threadsStarted, 1);
  EXPECT_TRUE(h.records.IsDetectionFileOpen());
  EXPECT_TRUE(slots.IsConnectingAll());
  ASSERT_TRUE(h.PumpUntil([&] { return !finished.empty() && !slots.Box(2)->IsThreadRunning(); }))
      << h.AllLogs();
  EXPECT_EQ(finished[0].outcome, ToggleOutcome::kNoneInitialised);
  EXPECT_EQ(finished[0].declared, 1);
  EXPECT_EQ(finished[0].initialised, 0);
  EXPECT_EQ(broughtToFront, 1);
  EXPECT_EQ(buttonStates, std::vector<bool>{false});
  EXPECT_TRUE(h.HasLog("######## " + Tr(kMsgNoBoxInitialized))) << h.AllLogs();
  EXPECT_TRUE(h.HasLog(StrF(Tr(kMsgConnectAllDone).c_str(), 0, 1)));
  EXPECT_FALSE(h.records.IsDetectionFileOpen());
  EXPECT_FALSE(slots.IsConnectingAll());
  // A box that could not be initialised was never "lost": no alarm, no reconnection.
  EXPECT_FALSE(h.HasLog("APP CNX ERROR"));
  EXPECT_EQ(slots.SlotView(2).state, BoxSlotState::kNotConnected);

  // Box 1 answers, box 2 still refuses, box 3 sends half a line and holds its connection.
  // Box 3's discovery runs on the test's clock: it ends when the test moves the clock past
  // its deadline, never before, however slow the machine.
  h.settings.GBoxDiscoverySeconds = 3;
  DeclareSlot(0, "127.0.0.1", peerA.Port());
  DeclareSlot(2, "127.0.0.1", peerB.Port(), "33");
  slots.LoadBoxConfigs();
  finished.clear();
  buttonStates.clear();
  waitCursor.clear();
  ToggleResult started = slots.ToggleBoxConnections(false);
  // Back before any box was even accepted.
  EXPECT_EQ(started.outcome, ToggleOutcome::kConnecting);
  EXPECT_EQ(started.declared, 3);
  EXPECT_EQ(started.threadsStarted, 3);
  EXPECT_EQ(waitCursor, (std::vector<bool>{true, false}));
  std::string stalled = "58@epc@0001@" + testing::TodayDetection("E2003499") + ";";
  ASSERT_TRUE(peerB.Accept());
  peerB.Send(stalled.substr(0, 20));
  ASSERT_TRUE(peerA.Accept());
  peerA.Send("57@epc@0001@" + testing::TodayDetection("E2003412") + ";");
  EXPECT_EQ(peerA.ReceiveCommands(4),
            "57@readerOpen@0000@1;57@readerOpen@0001@2;57@readerOpen@0002@3;"
            "57@readerOpen@0003@4;");
  // Box 1 reads and records while box 3 still waits for the end of its line.
  ASSERT_TRUE(h.PumpUntil([&] { return h.records.RecordCount() == 1; })) << h.AllLogs();
  EXPECT_TRUE(finished.empty());
  EXPECT_TRUE(slots.IsConnectingAll());
  EXPECT_EQ(slots.SlotView(1).state, BoxSlotState::kConnected);
  EXPECT_EQ(slots.SlotView(3).state, BoxSlotState::kReconnecting);
  EXPECT_FALSE(h.HasLog(StrF(ThreadText(3, kMsgNoDataReceived).c_str(), 3)));

  // Box 3's discovery ends at its deadline; its channels are opened all the same.
  clock.Advance(3000);
  ASSERT_TRUE(h.PumpUntil([&] { return !finished.empty(); })) << h.AllLogs();
  EXPECT_TRUE(h.HasLog(StrF(ThreadText(3, kMsgNoDataReceived).c_str(), 3))) << h.AllLogs();
  EXPECT_EQ(peerB.ReceiveCommands(4),
            "@readerOpen@0000@1;@readerOpen@0001@2;@readerOpen@0002@3;@readerOpen@0003@4;");
  ToggleResult done = finished[0];
  EXPECT_EQ(done.outcome, ToggleOutcome::kConnected);
  EXPECT_EQ(done.declared, 3);
  EXPECT_EQ(done.initialised, 2);
  EXPECT_EQ(done.threadsStarted, 3);
  EXPECT_EQ(buttonStates, std::vector<bool>{true});
  EXPECT_EQ(counterRefreshes, 1);
  EXPECT_EQ(h.sound.Count(kSoundConnected), 1);
  EXPECT_TRUE(h.HasLog(StrF(Tr(kMsgConnectAllDone).c_str(), 2, 3)));
  EXPECT_EQ(h.CountLogs("######## " + Tr(kMsgNoBoxInitialized)), 1);  // the first time only
  EXPECT_TRUE(h.records.IsDetectionFileOpen());
  EXPECT_EQ(h.records.DetectionFilePath(), detectionFile);
  EXPECT_EQ(slots.SlotView(1).state, BoxSlotState::kConnected);
  EXPECT_EQ(slots.SlotView(2).state, BoxSlotState::kNotConnected);
  EXPECT_EQ(slots.SlotView(3).state, BoxSlotState::kConnected);
  EXPECT_TRUE(slots.Box(1)->IsThreadRunning());
  EXPECT_FALSE(slots.Box(2)->IsThreadRunning());
  EXPECT_TRUE(slots.Box(3)->IsThreadRunning());

  // The rest of box 3's line comes: nothing of it was lost.
  peerB.Send(stalled.substr(20));
  ASSERT_TRUE(h.PumpUntil([&] { return h.records.RecordCount() == 2; })) << h.AllLogs();
  EXPECT_EQ(h.records.Snapshot()[1].detectorLabel, "33");
}

TEST_F(BoxSlotsTest, DisconnectingWhileTheBoxesInitialiseGivesTheConnectionUp) {
  DeclareSlot(0, "127.0.0.1", peerA.Port());  // accepts, then says nothing
  slots.LoadBoxConfigs();
  ASSERT_EQ(slots.ToggleBoxConnections(false).outcome, ToggleOutcome::kConnecting);
  ASSERT_TRUE(peerA.Accept());
  ASSERT_TRUE(
      h.WaitForLog(StrF(Tr(kMsgBoxInitialized).c_str(), 1, "127.0.0.1", peerA.Port(), "31")));
  // The slot shows orange, so the operator sees the button pressed and releases it.
  EXPECT_EQ(slots.ToggleBoxConnections(true).outcome, ToggleOutcome::kDisconnected);
  EXPECT_FALSE(slots.IsConnectingAll());
  EXPECT_FALSE(slots.Box(1)->IsThreadRunning());
  EXPECT_TRUE(peerA.WaitForClose());
  EXPECT_EQ(peerA.ReceiveCommands(1, 0ms), "");  // no channel was opened
  h.Pump();
  // The discovery was cut short by the stop, not left to run out its ten seconds, and the
  // given-up connection reports nothing.
  EXPECT_TRUE(h.HasLog(ThreadText(1, kMsgThreadStoppedNoConnect))) << h.AllLogs();
  EXPECT_FALSE(h.HasLog(Tail(kMsgNoDataReceived)));
  EXPECT_TRUE(finished.empty());
  EXPECT_FALSE(h.HasLog(Tr(kMsgNoBoxInitialized)));
  EXPECT_FALSE(h.HasLog(Tr(kMsgConnectAllDone).substr(0, Tr(kMsgConnectAllDone).find('%'))));
  EXPECT_EQ(h.sound.Count(kSoundConnected), 0);
  EXPECT_FALSE(h.records.IsDetectionFileOpen());
}

TEST_F(BoxSlotsTest, ALossMetByDisconnectAllNeverRestartsTheBox) {
  DeclareSlot(0, "127.0.0.1", peerA.Port());
  slots.LoadBoxConfigs();
  h.records.OpenDetectionFile(detectionFile);
  ConnectThroughMenu(1, peerA, "57");
  COstraBox& box = *slots.Box(1);

  // The box drops its connection and its thread ends by itself; its failure report is still
  // waiting when the operator disconnects all boxes.
  peerA.CloseClient();
  for (int i = 0; i < 2000 && box.IsThreadRunning(); ++i) {
    std::this_thread::sleep_for(5ms);
  }
  ASSERT_FALSE(box.IsThreadRunning());
  slots.DisconnectAllBoxes();
  h.Pump();
  EXPECT_FALSE(box.IsThreadRunning());
  EXPECT_FALSE(box.Transport()->IsActive());
  EXPECT_FALSE(h.records.IsDetectionFileOpen());
  EXPECT_TRUE(h.HasLog(ThreadText(1, kMsgBoxReceptionFailed))) << h.AllLogs();
  EXPECT_EQ(h.sound.Count(kSoundBoxError), 1);  // the loss was real: its alarm sounds
  EXPECT_TRUE(h.HasLog("APP FOUND UNEXPECTED CNX ERROR for box 1, stopped: no restart"));
  EXPECT_FALSE(h.HasLog("will restart"));

  // Connected again; this time the failure report is handled while the stop waits for the
  // thread it is ending.
  h.records.OpenDetectionFile(detectionFile);
  ConnectThroughMenu(1, peerA, "57");
  h.events.Post(BoxStatusEvent{1, 1});
  slots.DisconnectAllBoxes();
  h.Pump();
  EXPECT_FALSE(box.IsThreadRunning());
  EXPECT_FALSE(box.Transport()->IsActive());
  EXPECT_EQ(h.shared.runningThreads.load(), 0);
  EXPECT_FALSE(h.records.IsDetectionFileOpen());
  EXPECT_EQ(h.CountLogs("APP FOUND UNEXPECTED CNX ERROR for box 1, stopped: no restart"), 2);
  EXPECT_FALSE(h.HasLog("will restart"));
  EXPECT_TRUE(peerA.WaitForClose());

  // Started again by the operator, a box lost on its own is reconnected as usual.
  ConnectThroughMenu(1, peerA, "57");
  peerA.CloseClient();
  EXPECT_TRUE(h.WaitForLog("APP FOUND UNEXPECTED CNX ERROR for box 1 and will restart BoxThread"))
      << h.AllLogs();
}

TEST_F(BoxSlotsTest, MenuCommandsOnTheWire) {
  DeclareSlot(0, "127.0.0.1", peerA.Port());
  slots.LoadBoxConfigs();
  ConnectThroughMenu(1, peerA, "57");
  using enum BoxMenuId;

  slots.RunBoxMenuAction(1, kGate5s);
  EXPECT_EQ(peerA.ReceiveCommands(1), "57@setGateTime@0004@5.0;");
  peerA.ClearReceived();
  slots.RunBoxMenuAction(1, kStopChannel3);
  EXPECT_EQ(peerA.ReceiveCommands(1), "57@readerStop@0005@3;");
  peerA.ClearReceived();
  slots.RunBoxMenuAction(1, kAccept);
  EXPECT_EQ(peerA.ReceiveCommands(4),
            "57@readerOpen@0006@1;57@readerOpen@0007@2;57@readerOpen@0008@3;"
            "57@readerOpen@0009@4;");
  peerA.ClearReceived();
  slots.RunBoxMenuAction(1, kGunTime);
  EXPECT_EQ(peerA.ReceiveCommands(1), "57@getGunTime@0010@;");
  peerA.ClearReceived();
  // Clear box answered No sends nothing: the next command takes the next number.
  answers = {false, true};
  slots.RunBoxMenuAction(1, kClearBox);
  slots.RunBoxMenuAction(1, kPackAll);
  EXPECT_EQ(peerA.ReceiveCommands(1), "57@packDataSection@0011@;");
  peerA.ClearReceived();
  slots.RunBoxMenuAction(1, kClearBox);
  EXPECT_EQ(peerA.ReceiveCommands(1), "57@deleteData@0012@;");
  peerA.ClearReceived();
  slots.RunBoxMenuAction(1, kRewindAll);
  EXPECT_EQ(peerA.ReceiveCommands(1), "57@rewindData@0013@;");
  EXPECT_EQ(questions,
            (std::vector<std::string>{Tr(kMsgClearBoxQuestion), Tr(kMsgClearBoxQuestion)}));

  h.Pump();
  auto with = [](const char* command, const char* parameter) {
    return StrF(Tr(kMsgSendingCommandWithParameter).c_str(), command, parameter);
  };
  auto plain = [](const char* command) { return StrF(Tr(kMsgSendingCommand).c_str(), command); };
  EXPECT_TRUE(h.HasLog(Utf8ToCp1252("+ Envoi commande setGateTime avec le paramètre 5.0")))
      << h.AllLogs();
  EXPECT_TRUE(h.HasLog(with("readerStop", "3")));
  for (const char* channel : {"1", "2", "3", "4"}) {
    EXPECT_EQ(h.CountLogs(with("readerOpen", channel)), 1) << channel;
  }
  EXPECT_TRUE(h.HasLog(plain("getGunTime")));
  EXPECT_TRUE(h.HasLog(plain("packDataSection")));
  EXPECT_TRUE(h.HasLog(plain("rewindData")));
  EXPECT_EQ(h.CountLogs(plain("deleteData")), 1);
  EXPECT_FALSE(h.HasLog("## "));
  EXPECT_EQ(refreshTimerRestarts, 1 + 8);
}

TEST_F(BoxSlotsTest, PackAndRewindTodayOnTheLastDayOfTheYear) {
  DeclareSlot(0, "127.0.0.1", peerA.Port());
  slots.LoadBoxConfigs();
  ConnectThroughMenu(1, peerA, "57");
  clock.SetUnixMs(testing::LocalMs(2012, 12, 31, 23, 59, 59, 0));
  const char* range = "2012-12-31_00:00:00.000,2013-01-01_00:00:00.000";

  slots.RunBoxMenuAction(1, BoxMenuId::kPackToday);
  slots.RunBoxMenuAction(1, BoxMenuId::kRewindToday);
  EXPECT_EQ(peerA.ReceiveCommands(2),
            StrF("57@packDataSection@0004@%s;57@rewindData@0005@%s;", range, range));
  h.Pump();
  EXPECT_TRUE(h.HasLog(StrF(Tr(kMsgSendingCommandWithParameter).c_str(), "packDataSection", range)))
      << h.AllLogs();
  EXPECT_TRUE(h.HasLog(StrF(Tr(kMsgSendingCommandWithParameter).c_str(), "rewindData", range)));
}

TEST_F(BoxSlotsTest, CommandsToABoxThatIsNotConnectedReportTheLastFailure) {
  DeclareSlot(0, "127.0.0.1", RefusedPort());
  slots.LoadBoxConfigs();
  BoxActionResult gun = slots.RunBoxMenuAction(1, BoxMenuId::kGunTime);
  EXPECT_TRUE(gun.sendFailed);
  EXPECT_EQ(gun.command, "getGunTime");
  BoxActionResult accept = slots.RunBoxMenuAction(1, BoxMenuId::kAccept);
  EXPECT_TRUE(accept.sendFailed);
  h.Pump();
  EXPECT_TRUE(
      h.HasLog(StrF(Tr(kMsgErrorSendingCommand).c_str(), "getGunTime", "Connexion non ouverte")))
      << h.AllLogs();
  // Four sendings, one report.
  EXPECT_EQ(
      h.CountLogs(StrF(Tr(kMsgErrorSendingCommand).c_str(), "readerOpen", "Connexion non ouverte")),
      1);
  EXPECT_EQ(slots.Box(1)->CommandSequence(), 0);
  // No choice: only the refresh timer.
  std::size_t logged = h.logs.size();
  EXPECT_TRUE(slots.RunBoxMenuAction(1, BoxMenuId::kNone).performed);
  h.Pump();
  EXPECT_EQ(h.logs.size(), logged);
  EXPECT_EQ(refreshTimerRestarts, 3);
}

TEST_F(BoxSlotsTest, SynchronizeSendsDateThenTimeToEachConnectedBoxInSlotOrder) {
  DeclareSlot(0, "127.0.0.1", peerA.Port());
  DeclareSlot(1, "127.0.0.1", RefusedPort());
  DeclareSlot(2, "127.0.0.1", peerB.Port(), "12");
  // Long pauses in the settings change nothing: the commands follow one another at once.
  ASSERT_TRUE(store.WriteSettingInt(kSettingsSection, "SleepMilliAfterSetTime", 60000));
  slots.LoadBoxConfigs();
  ConnectThroughMenu(1, peerA, "57");
  ConnectThroughMenu(3, peerB, "58");
  clock.SetUnixMs(testing::LocalMs(2012, 12, 31, 9, 5, 7, 0) + 420);

  answers = {false};
  EXPECT_FALSE(slots.SynchronizeBoxClocks());
  EXPECT_EQ(questions, std::vector<std::string>{Tr(kMsgSyncClocksQuestion)});
  EXPECT_TRUE(slots.SynchronizeBoxClocks());
  EXPECT_EQ(peerA.ReceiveCommands(2), "57@setDate@0004@2012,12,31;57@setTime@0005@09,05,07,42;");
  EXPECT_EQ(peerB.ReceiveCommands(2), "58@setDate@0004@2012,12,31;58@setTime@0005@09,05,07,42;");
  h.Pump();
  auto prefix = [&](int number) {
    return StrF(Tr(kMsgInitBoxPrefix).c_str(), number,
                slots.Box(number)->Transport()->GetLabel().c_str());
  };
  int request1 = h.IndexOf(StrF(Tr(kMsgSyncRequest).c_str(), prefix(1).c_str()));
  int time1 = h.IndexOf(StrF(Tr(kMsgSyncSendingSetTime).c_str(), prefix(1).c_str(), "09,05,07,42"));
  int request3 = h.IndexOf(StrF(Tr(kMsgSyncRequest).c_str(), prefix(3).c_str()));
  int time3 = h.IndexOf(StrF(Tr(kMsgSyncSendingSetTime).c_str(), prefix(3).c_str(), "09,05,07,42"));
  EXPECT_GE(request1, 0) << h.AllLogs();
  EXPECT_LT(request1, time1);
  EXPECT_LT(time1, request3);
  EXPECT_LT(request3, time3);
  EXPECT_FALSE(h.HasLog(prefix(2)));
  EXPECT_FALSE(h.HasLog("## "));

  // Show clocks: the connected boxes' next reports are shown; nothing is sent.
  slots.ShowBoxClocks();
  h.Pump();
  EXPECT_TRUE(h.HasLog(StrF(Tr(kMsgShowClocksRequest).c_str(), prefix(1).c_str())));
  EXPECT_TRUE(h.HasLog(StrF(Tr(kMsgShowClocksRequest).c_str(), prefix(3).c_str())));
  EXPECT_FALSE(h.HasLog(StrF(Tr(kMsgShowClocksRequest).c_str(), prefix(2).c_str())));
  EXPECT_TRUE(slots.Box(1)->DateShowPending() && slots.Box(1)->TimeShowPending());
  EXPECT_TRUE(slots.Box(3)->DateShowPending() && slots.Box(3)->TimeShowPending());
  EXPECT_FALSE(slots.Box(2)->DateShowPending() || slots.Box(2)->TimeShowPending());
  peerA.ClearReceived();
  EXPECT_EQ(peerA.ReceiveCommands(1, 100ms), "");
}

TEST_F(BoxSlotsTest, SynchronizeGoesOnWithSetTimeWhenSetDateFails) {
  ResettingPeer peer;
  DeclareSlot(0, "127.0.0.1", peer.Port());
  slots.LoadBoxConfigs();
  // Connected without a box thread; the peer then resets the connection.
  CComBox* transport = slots.Box(1)->Transport();
  std::string error;
  ASSERT_TRUE(transport->Connect(&error)) << error;
  ASSERT_TRUE(peer.AcceptAndReset());
  ASSERT_EQ(transport->WaitForData(5000), 1);
  clock.SetUnixMs(testing::LocalMs(2012, 5, 13, 14, 5, 9, 0) + 370);

  EXPECT_TRUE(slots.SynchronizeBoxClocks());
  h.Pump();
  std::string prefix = StrF(Tr(kMsgInitBoxPrefix).c_str(), 1, transport->GetLabel().c_str());
  int dateError =
      h.IndexOf(StrF(Tr(kMsgSyncSetDateError).c_str(), prefix.c_str(),
                     Utf8ToCp1252("Erreur envoi de commande (setDate) au boîtier").c_str()));
  int timeSent = h.IndexOf(StrF(Tr(kMsgSyncSendingSetTime).c_str(), prefix.c_str(), "14,05,09,37"));
  int timeError =
      h.IndexOf(StrF(Tr(kMsgSyncSetTimeError).c_str(), prefix.c_str(), "Connexion non ouverte"));
  EXPECT_GE(dateError, 0) << h.AllLogs();
  EXPECT_LT(dateError, timeSent);
  EXPECT_LT(timeSent, timeError);
  // setDate used a sequence number; setTime, refused before writing, did not.
  EXPECT_EQ(slots.Box(1)->CommandSequence(), 1);
}

TEST_F(BoxSlotsTest, ConsoleCommands) {
  struct Case {
    const char* text;
    BoxSlotsCommand::Kind kind;
    int box;
    BoxMenuId item;
  };
  using K = BoxSlotsCommand::Kind;
  using enum BoxMenuId;
  const Case cases[] = {
      {"connect", K::kToggleConnections, 0, kNone},
      {"  Sync-Clocks ", K::kSyncClocks, 0, kNone},
      {"show-clocks", K::kShowClocks, 0, kNone},
      {"box 1 connect", K::kBoxMenu, 1, kConnect},
      {"box 4 disconnect", K::kBoxMenu, 4, kDisconnect},
      {"box 2 open 3", K::kBoxMenu, 2, kOpenChannel3},
      {"box 2 stop 4", K::kBoxMenu, 2, kStopChannel4},
      {"BOX 3 accept", K::kBoxMenu, 3, kAccept},
      {"box 3 dismiss", K::kBoxMenu, 3, kDismiss},
      {"box 1 clear", K::kBoxMenu, 1, kClearBox},
      {"box 1 gate 5s", K::kBoxMenu, 1, kGate5s},
      {"box 1 gate 30", K::kBoxMenu, 1, kGate30s},
      {"box 1 gun", K::kBoxMenu, 1, kGunTime},
      {"box 1 pack-today", K::kBoxMenu, 1, kPackToday},
      {"box 1 pack-all", K::kBoxMenu, 1, kPackAll},
      {"box 1 rewind-today", K::kBoxMenu, 1, kRewindToday},
      {"box 1 rewind-all", K::kBoxMenu, 1, kRewindAll},
  };
  for (const Case& c : cases) {
    BoxSlotsCommand command;
    std::string error = "x";
    ASSERT_TRUE(ParseBoxSlotsCommand(c.text, &command, &error)) << c.text;
    EXPECT_EQ(command.kind, c.kind) << c.text;
    EXPECT_EQ(command.box, c.box) << c.text;
    EXPECT_EQ(command.item, c.item) << c.text;
    EXPECT_EQ(error, "");
  }
  for (const char* bad : {"box", "box 5 connect", "box 0 gun", "box 1", "box 1 gate 4",
                          "box 1 open 5", "box 1 open", "box 1 gun now", "box x gun"}) {
    BoxSlotsCommand command;
    std::string error;
    EXPECT_FALSE(ParseBoxSlotsCommand(bad, &command, &error)) << bad;
    EXPECT_EQ(error, StrF(Tr(kMsgConsoleBoxUsage).c_str(), bad)) << bad;
  }
  // Other console commands are not ours: no error text.
  std::string error = "x";
  EXPECT_FALSE(ParseBoxSlotsCommand("export", nullptr, &error));
  EXPECT_EQ(error, "");
  EXPECT_FALSE(ParseBoxSlotsCommand("connect now", nullptr, &error));

  // A console command on an item the menu would grey is refused with a log line.
  DeclareSlot(0, "127.0.0.1", RefusedPort());
  slots.LoadBoxConfigs();
  EXPECT_FALSE(slots.RunConsoleBoxCommand(1, kGunTime, "box 1 gun"));
  h.Pump();
  EXPECT_TRUE(h.HasLog(StrF(Tr(kMsgConsoleBoxItemDisabled).c_str(), 1, "box 1 gun")));
  EXPECT_EQ(refreshTimerRestarts, 0);
}

}  // namespace
}  // namespace lapora
