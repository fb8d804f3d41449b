#include "boxlink/box_slots.h"

#include <cctype>
#include <chrono>
#include <thread>

#include "boxlink/box_protocol.h"
#include "detections/recorded_detections.h"
#include "foundation/app_settings.h"
#include "foundation/chrono.h"
#include "foundation/clock.h"
#include "foundation/log.h"
#include "foundation/settings_store.h"
#include "foundation/sound.h"
#include "resources/messages_boxlink.h"
#include "resources/messages_boxslots.h"
#include "resources/messages_station.h"

namespace lapora {
namespace {

constexpr int kDisconnectPauseMs = 1000;
constexpr int kPumpSliceMs = 5;

// The clock synchronisation reads these again with lower defaults; the commands follow one
// another at once whatever they hold.
constexpr int kSyncPauseAfterStartDefault = 300;
constexpr int kSyncPauseAfterStopDefault = 300;
constexpr int kSyncPauseAfterSetTimeDefault = 1000;

struct GateEntry {
  BoxMenuId id;
  int seconds;
};
constexpr GateEntry kGateEntries[] = {
    {BoxMenuId::kGate1s, 1},   {BoxMenuId::kGate2s, 2},   {BoxMenuId::kGate3s, 3},
    {BoxMenuId::kGate5s, 5},   {BoxMenuId::kGate10s, 10}, {BoxMenuId::kGate15s, 15},
    {BoxMenuId::kGate30s, 30},
};

std::string Key(const char* name, int index) {
  return StrF("%s%d", name, index);
}

// Channel items go open 1, stop 1, open 2, ... : channel 1..4 and whether it opens.
int ChannelOf(BoxMenuId item) {
  return (static_cast<int>(item) - static_cast<int>(BoxMenuId::kOpenChannel1)) / 2 + 1;
}
bool IsOpenItem(BoxMenuId item) {
  return (static_cast<int>(item) - static_cast<int>(BoxMenuId::kOpenChannel1)) % 2 == 0;
}
BoxMenuId ChannelItem(int channel, bool open) {
  return static_cast<BoxMenuId>(static_cast<int>(BoxMenuId::kOpenChannel1) + (channel - 1) * 2 +
                                (open ? 0 : 1));
}
int GateSecondsOf(BoxMenuId item) {
  for (const GateEntry& entry : kGateEntries) {
    if (entry.id == item) {
      return entry.seconds;
    }
  }
  return 0;
}

BoxMenuItem Item(BoxMenuId id, std::string label, bool enabled) {
  BoxMenuItem item;
  item.id = id;
  item.label = std::move(label);
  item.enabled = enabled;
  return item;
}
BoxMenuItem Separator() {
  return Item(BoxMenuId::kSeparator, "", false);
}

std::vector<std::string> SplitWords(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      if (!word.empty()) {
        words.push_back(ToLowerAscii(word));
        word.clear();
      }
    } else {
      word += c;
    }
  }
  if (!word.empty()) {
    words.push_back(ToLowerAscii(word));
  }
  return words;
}

// A whole decimal number of at most two digits, or -1.
int SmallNumber(const std::string& word) {
  if (word.empty() || word.size() > 2) {
    return -1;
  }
  int value = 0;
  for (char c : word) {
    if (!std::isdigit(static_cast<unsigned char>(c))) {
      return -1;
    }
    value = value * 10 + (c - '0');
  }
  return value;
}

bool ParseBoxItem(const std::vector<std::string>& words, BoxMenuId* item) {
  struct Plain {
    const char* word;
    BoxMenuId id;
  };
  static constexpr Plain kPlain[] = {
      {"connect", BoxMenuId::kConnect},
      {"disconnect", BoxMenuId::kDisconnect},
      {"accept", BoxMenuId::kAccept},
      {"dismiss", BoxMenuId::kDismiss},
      {"clear", BoxMenuId::kClearBox},
      {"gun", BoxMenuId::kGunTime},
      {"pack-today", BoxMenuId::kPackToday},
      {"pack-all", BoxMenuId::kPackAll},
      {"rewind-today", BoxMenuId::kRewindToday},
      {"rewind-all", BoxMenuId::kRewindAll},
  };
  // words: "box", N, action, [argument]
  const std::string& action = words[2];
  if (words.size() == 3) {
    for (const Plain& plain : kPlain) {
      if (action == plain.word) {
        *item = plain.id;
        return true;
      }
    }
    return false;
  }
  if (words.size() != 4) {
    return false;
  }
  if (action == "open" || action == "stop") {
    int channel = SmallNumber(words[3]);
    if (channel < 1 || channel > 4) {
      return false;
    }
    *item = ChannelItem(channel, action == "open");
    return true;
  }
  if (action == "gate") {
    std::string seconds = words[3];
    if (!seconds.empty() && seconds.back() == 's') {
      seconds.pop_back();
    }
    int value = SmallNumber(seconds);
    for (const GateEntry& entry : kGateEntries) {
      if (entry.seconds == value) {
        *item = entry.id;
        return true;
      }
    }
  }
  return false;
}

}  // namespace

bool ParseBoxSlotsCommand(std::string_view text, BoxSlotsCommand* command, std::string* errorText) {
  std::string ignored;
  std::string& error = errorText != nullptr ? *errorText : ignored;
  error.clear();
  std::vector<std::string> words = SplitWords(text);
  if (words.empty()) {
    return false;
  }
  BoxSlotsCommand parsed;
  if (words.size() == 1 && words[0] == "connect") {
    parsed.kind = BoxSlotsCommand::Kind::kToggleConnections;
  } else if (words.size() == 1 && words[0] == "sync-clocks") {
    parsed.kind = BoxSlotsCommand::Kind::kSyncClocks;
  } else if (words.size() == 1 && words[0] == "show-clocks") {
    parsed.kind = BoxSlotsCommand::Kind::kShowClocks;
  } else if (words[0] == "box") {
    int box = words.size() >= 2 ? SmallNumber(words[1]) : -1;
    BoxMenuId item = BoxMenuId::kNone;
    if (box < 1 || box > kBoxSlotCount || words.size() < 3 || !ParseBoxItem(words, &item)) {
      error = StrF(Tr(kMsgConsoleBoxUsage).c_str(), std::string(text).c_str());
      return false;
    }
    parsed.kind = BoxSlotsCommand::Kind::kBoxMenu;
    parsed.box = box;
    parsed.item = item;
  } else {
    return false;
  }
  if (command != nullptr) {
    *command = parsed;
  }
  return true;
}

CBoxSlots::CBoxSlots(BoxLinkServices& services, SettingsStore& store, CRecordedDetections& records,
                     std::string detectionFilePath, BoxSlotsHooks hooks)
    : m_services(services),
      m_store(store),
      m_records(records),
      m_detectionFilePath(std::move(detectionFilePath)),
      m_hooks(std::move(hooks)),
      // The hooks are looked up at each call so that SetHooks reaches the supervisor too.
      m_supervisor(services, {[this](int number) { return Box(number); },
                              [this](int number) {
                                if (m_hooks.updateBoxStatus) {
                                  m_hooks.updateBoxStatus(number);
                                }
                              },
                              [this] {
                                if (m_hooks.restartRefreshTimer) {
                                  m_hooks.restartRefreshTimer();
                                }
                              },
                              [this] { Pump(); }}) {
  for (int i = 0; i < kBoxSlotCount; ++i) {
    m_boxes[i] = std::make_unique<COstraBox>(services, i + 1);
  }
}

CBoxSlots::~CBoxSlots() = default;

COstraBox* CBoxSlots::Box(int boxNumber) {
  return boxNumber >= 1 && boxNumber <= kBoxSlotCount ? m_boxes[boxNumber - 1].get() : nullptr;
}

const COstraBox* CBoxSlots::Box(int boxNumber) const {
  return boxNumber >= 1 && boxNumber <= kBoxSlotCount ? m_boxes[boxNumber - 1].get() : nullptr;
}

void CBoxSlots::LoadBoxConfigs() {
  for (int index = 0; index < kBoxSlotCount; ++index) {
    (void)LoadBoxConfig(index);
  }
}

bool CBoxSlots::LoadBoxConfig(int index) {
  if (index < 0 || index >= kBoxSlotCount) {
    return false;
  }
  COstraBox& box = *m_boxes[index];
  if (box.IsThreadRunning()) {
    // Replacing or reconfiguring the transport under its box thread would pull the
    // connection from under a running read.
    m_services.log.PostLogMsg(0, kMsgBoxConfigWhileRunning, index + 1);
    return false;
  }
  std::string host = m_store.ReadSettingText(kBoxSlotsSection, Key("BoxHost", index), "");
  int port = m_store.ReadSettingInt(kBoxSlotsSection, Key("BoxPort", index), 0);
  std::string detectorId =
      m_store.ReadSettingText(kBoxSlotsSection, Key("BoxIdDetector", index), "31");
  box.SetBoxNumber(index + 1);
  box.ConfigureTransport(detectorId, host, port);
  return true;
}

bool CBoxSlots::SaveBoxConfig(int index) {
  if (index < 0 || index >= kBoxSlotCount) {
    return false;
  }
  const CComBox* transport = m_boxes[index]->Transport();
  if (transport == nullptr) {
    return false;
  }
  std::string detectorId;
  std::string host;
  int port = 0;
  transport->GetConfig(&detectorId, &host, &port);
  bool written = m_store.WriteSettingText(kBoxSlotsSection, Key("BoxHost", index), host);
  written = m_store.WriteSettingInt(kBoxSlotsSection, Key("BoxPort", index), port) && written;
  written = m_store.WriteSettingText(kBoxSlotsSection, Key("BoxIdDetector", index), detectorId) &&
            written;
  return written;
}

void CBoxSlots::SaveAllBoxConfigs() {
  for (int index = 0; index < kBoxSlotCount; ++index) {
    (void)SaveBoxConfig(index);
  }
}

std::string BoxFiguresText(const CBoxHealth::Figures& f, int clockLimitMs) {
  std::string text;
  if (f.silent) {
    text += StrF(Tr(kMsgBoxSlotNoData).c_str(), static_cast<int>(f.silentForMs / 1000));
  }
  text += StrF(Tr(kMsgBoxSlotReads).c_str(), f.readsPerSecond);
  text += StrF(Tr(kMsgBoxSlotDetections).c_str(), static_cast<long long>(f.recorded),
               static_cast<long long>(f.ignored), static_cast<long long>(f.invalid));
  text += f.anyRead
              ? StrF(Tr(kMsgBoxSlotLastRead).c_str(), static_cast<int>(f.lastReadAgeMs / 1000))
              : Tr(kMsgBoxSlotNoRead);
  text += StrF(Tr(kMsgBoxSlotReconnections).c_str(), f.reconnections);
  if (!f.offsetKnown) {
    text += Tr(kMsgBoxSlotClockUnknown);
  } else if (f.clockAlarm) {
    text +=
        StrF(Tr(kMsgBoxSlotClockAlarm).c_str(), OffsetText(f.clockOffsetMs).c_str(), clockLimitMs);
  } else {
    text += StrF(Tr(kMsgBoxSlotClockOffset).c_str(), OffsetText(f.clockOffsetMs).c_str());
  }
  return text;
}

CBoxHealth::Figures CBoxSlots::Figures(int boxNumber) const {
  const COstraBox* box = Box(boxNumber);
  if (box == nullptr) {
    return {};
  }
  const int silenceSeconds = m_services.settings.GBoxSilenceSeconds.load();
  return box->Health().Take(
      m_services.clock.TickMs(),
      silenceSeconds > 0 ? static_cast<std::uint64_t>(silenceSeconds) * 1000 : 0);
}

std::vector<std::string> CBoxSlots::FiguresTable() const {
  std::vector<std::string> lines;
  lines.push_back(StrF("%-3s %-13s %8s %9s %8s %8s %10s %7s %13s", "box", "state", "reads/s",
                       "recorded", "ignored", "invalid", "last read", "reconn.", "clock offset"));
  for (int number = 1; number <= kBoxSlotCount; ++number) {
    const char* state = "undefined";
    switch (SlotView(number).state) {
      case BoxSlotState::kUndefined:
        break;
      case BoxSlotState::kNotConnected:
        state = "not connected";
        break;
      case BoxSlotState::kReconnecting:
        state = "reconnecting";
        break;
      case BoxSlotState::kConnected:
        state = "connected";
        break;
    }
    CBoxHealth::Figures f = Figures(number);
    if (!f.everConnected) {
      lines.push_back(StrF("%-3d %-13s %8s %9s %8s %8s %10s %7s %13s", number, state, "-", "-", "-",
                           "-", "-", "-", "-"));
      continue;
    }
    if (f.silent) {
      state = "silent";
    }
    std::string lastRead =
        f.anyRead ? StrF("%.1f s", static_cast<double>(f.lastReadAgeMs) / 1000.0) : "-";
    std::string offset = f.offsetKnown ? OffsetText(f.clockOffsetMs) : "-";
    if (f.clockAlarm) {
      offset += "!";
    }
    lines.push_back(StrF("%-3d %-13s %8.1f %9lld %8lld %8lld %10s %7d %13s", number, state,
                         f.readsPerSecond, static_cast<long long>(f.recorded),
                         static_cast<long long>(f.ignored), static_cast<long long>(f.invalid),
                         lastRead.c_str(), f.reconnections, offset.c_str()));
  }
  return lines;
}

BoxSlotView CBoxSlots::SlotView(int boxNumber) const {
  BoxSlotView view;
  const COstraBox* box = Box(boxNumber);
  const CComBox* transport = box != nullptr ? box->Transport() : nullptr;
  if (transport == nullptr || !transport->IsConfigured()) {
    view.state = BoxSlotState::kUndefined;
    view.tooltip = Tr(kMsgBoxUndefined);
    return view;
  }
  std::string title =
      StrF(Tr(kMsgBoxSlotTitle).c_str(), box->BoxNumber(), transport->GetLabel().c_str()) + "\n";
  const CBoxHealth::Figures figures = Figures(boxNumber);
  const std::string figuresText =
      figures.everConnected ? BoxFiguresText(figures, m_services.settings.GClockAlarmMs.load())
                            : std::string();
  if (!transport->IsActive()) {
    view.state = BoxSlotState::kNotConnected;
    view.tooltip = title + Tr(kMsgBoxSlotNotConnected);
  } else if (transport->IsReconnecting()) {
    view.state = BoxSlotState::kReconnecting;
    view.tooltip = title + Tr(kMsgBoxSlotReconnecting);
  } else {
    view.state = BoxSlotState::kConnected;
    view.tooltip = title + Tr(kMsgBoxSlotConnected) + figuresText + Tr(kMsgBoxSlotClickForMenu);
    return view;
  }
  if (!figuresText.empty()) {
    view.tooltip += "\n" + figuresText;
    view.tooltip.pop_back();  // no line feed after the last line
  }
  return view;
}

int CBoxSlots::DeclaredCount() const {
  int count = 0;
  for (const auto& box : m_boxes) {
    count += box->Transport() != nullptr && box->Transport()->IsConfigured() ? 1 : 0;
  }
  return count;
}

int CBoxSlots::ActiveCount() const {
  int count = 0;
  for (const auto& box : m_boxes) {
    const CComBox* transport = box->Transport();
    count += transport != nullptr && transport->IsConfigured() && transport->IsActive() ? 1 : 0;
  }
  return count;
}

int CBoxSlots::ConnectedCount() const {
  int count = 0;
  for (const auto& box : m_boxes) {
    count += box->Transport() != nullptr && box->Transport()->IsConnected() ? 1 : 0;
  }
  return count;
}

std::vector<std::string> CBoxSlots::ManualEntryDetectors() const {
  std::vector<std::string> labels;
  for (const auto& box : m_boxes) {
    const CComBox* transport = box->Transport();
    if (transport == nullptr) {
      continue;
    }
    std::string detectorId;
    std::string host;
    int port = 0;
    transport->GetConfig(&detectorId, &host, &port);
    if (!detectorId.empty() && !host.empty()) {
      labels.push_back(detectorId);
    }
  }
  return labels;
}

bool CBoxSlots::Ask(const Message& question) const {
  return m_hooks.askYesNo && m_hooks.askYesNo(Tr(question));
}

void CBoxSlots::Pump() const {
  if (m_hooks.pumpEvents) {
    m_hooks.pumpEvents();
  }
}

void CBoxSlots::PauseWhilePumping(int milliseconds) const {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (std::chrono::steady_clock::now() < end) {
    Pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(kPumpSliceMs));
  }
}

ToggleResult CBoxSlots::ToggleBoxConnections(bool releasing) {
  ToggleResult result;
  auto showButton = [&](bool pressed) {
    if (m_hooks.showConnectButton) {
      m_hooks.showConnectButton(pressed);
    }
  };
  auto bringToFront = [&] {
    if (m_hooks.bringToFront) {
      m_hooks.bringToFront();
    }
  };
  auto waitCursor = [&](bool waiting) {
    if (m_hooks.setWaitCursor) {
      m_hooks.setWaitCursor(waiting);
    }
  };

  if (releasing && !Ask(kMsgDisconnectBoxesQuestion)) {
    showButton(true);
    result.outcome = ToggleOutcome::kCancelled;
    return result;
  }
  if (m_hooks.say) {
    m_hooks.say(Tr(kMsgLetUsGo));
  }
  Logger& log = m_services.log;
  result.declared = DeclaredCount();
  if (result.declared == 0) {
    log.PostAlert(Tr(kMsgNoBoxDeclared), true);
    bringToFront();
    showButton(false);
    result.outcome = ToggleOutcome::kNoneDeclared;
    return result;
  }
  if (ActiveCount() > 0) {
    DisconnectAllBoxes();
    showButton(false);
    if (m_hooks.restartRefreshTimer) {
      m_hooks.restartRefreshTimer();
    }
    result.outcome = ToggleOutcome::kDisconnected;
    return result;
  }
  // Every declared box is initialised on its own thread, all at once: a box that is slow,
  // silent or stuck in the middle of a line holds neither the window nor the other boxes.
  // A box that is up reads on at once, so the file is open before any thread starts.
  ConnectRound round;
  round.id = ++m_lastRoundId;
  round.result = result;
  waitCursor(true);
  round.openedFile = !m_records.IsDetectionFileOpen();
  m_records.OpenDetectionFile(m_detectionFilePath);
  for (std::size_t i = 0; i < m_boxes.size(); ++i) {
    COstraBox& box = *m_boxes[i];
    if (box.Transport() != nullptr && box.Transport()->IsConfigured() &&
        box.StartConnectAllThread(round.id)) {
      round.waiting[i] = true;
      ++round.result.threadsStarted;
    }
  }
  waitCursor(false);
  result.threadsStarted = round.result.threadsStarted;
  m_round = round;
  if (result.threadsStarted == 0) {
    return FinishConnectAll();  // nothing to wait for
  }
  result.outcome = ToggleOutcome::kConnecting;
  return result;
}

void CBoxSlots::OnBoxInitDone(int boxNumber, int round, bool initialised) {
  if (!m_round || m_round->id != round || boxNumber < 1 || boxNumber > kBoxSlotCount ||
      !m_round->waiting[static_cast<std::size_t>(boxNumber - 1)]) {
    return;  // a round given up by a disconnection
  }
  m_round->waiting[static_cast<std::size_t>(boxNumber - 1)] = false;
  if (initialised) {
    ++m_round->result.initialised;
  }
  if (m_hooks.updateBoxStatus) {
    m_hooks.updateBoxStatus(boxNumber);
  }
  for (bool waiting : m_round->waiting) {
    if (waiting) {
      return;
    }
  }
  (void)FinishConnectAll();
}

ToggleResult CBoxSlots::FinishConnectAll() {
  ConnectRound round = *m_round;
  m_round.reset();
  ToggleResult& result = round.result;
  m_services.log.PostLogMsg(0, kMsgConnectAllDone, result.initialised, result.declared);
  if (result.initialised == 0) {
    if (round.openedFile) {
      m_records.CloseDetectionFile();  // nothing records: as it was before
    }
    m_services.log.PostAlert(Tr(kMsgNoBoxInitialized), true);
    if (m_hooks.bringToFront) {
      m_hooks.bringToFront();
    }
    if (m_hooks.showConnectButton) {
      m_hooks.showConnectButton(false);
    }
    result.outcome = ToggleOutcome::kNoneInitialised;
  } else {
    if (m_hooks.showConnectButton) {
      m_hooks.showConnectButton(true);
    }
    if (m_hooks.refreshCounter) {
      m_hooks.refreshCounter();
    }
    if (m_services.sound != nullptr) {
      m_services.sound->PlaySoundResource(kSoundConnected);
    }
    result.outcome = ToggleOutcome::kConnected;
  }
  if (m_hooks.connectAllFinished) {
    m_hooks.connectAllFinished(result);
  }
  return result;
}

void CBoxSlots::DisconnectAllBoxes() {
  // The boxes still initialising are stopped below; their reports are no longer awaited.
  m_round.reset();
  if (m_hooks.setWaitCursor) {
    m_hooks.setWaitCursor(true);
  }
  for (int number = 1; number <= kBoxSlotCount; ++number) {
    StopBoxThread(number);
  }
  PauseWhilePumping(kDisconnectPauseMs);
  m_records.CloseDetectionFile();
  if (m_hooks.restartRefreshTimer) {
    m_hooks.restartRefreshTimer();
  }
  if (m_hooks.setWaitCursor) {
    m_hooks.setWaitCursor(false);
  }
}

void CBoxSlots::StopBoxThread(int boxNumber) {
  if (COstraBox* box = Box(boxNumber)) {
    m_supervisor.StopBoxThread(*box);
  }
}

void CBoxSlots::OnBoxStatus(int boxNumber, int failed) {
  m_supervisor.OnBoxStatus(boxNumber, failed);
}

void CBoxSlots::OnBoxPingError(int boxNumber) {
  m_supervisor.OnBoxPingError(boxNumber);
}

std::vector<BoxMenuItem> CBoxSlots::BuildBoxMenu(int boxNumber, bool ctrlHeld) const {
  std::vector<BoxMenuItem> menu;
  const COstraBox* box = Box(boxNumber);
  const CComBox* transport = box != nullptr ? box->Transport() : nullptr;
  if (transport == nullptr || !transport->IsConfigured()) {
    return menu;
  }
  bool active = transport->IsActive();
  menu.push_back(Item(BoxMenuId::kConnect, Tr(kMsgMenuConnect), !active));
  menu.push_back(Item(BoxMenuId::kDisconnect, Tr(kMsgMenuDisconnect), active));
  menu.push_back(Separator());
  if (ctrlHeld) {
    for (int channel = 1; channel <= 4; ++channel) {
      menu.push_back(
          Item(ChannelItem(channel, true), StrF("varnex: readerOpen,%d", channel), active));
      menu.push_back(
          Item(ChannelItem(channel, false), StrF("varnex: readerStop,%d", channel), active));
    }
  } else {
    menu.push_back(Item(BoxMenuId::kAccept, Tr(kMsgMenuAccept), active));
    menu.push_back(Item(BoxMenuId::kDismiss, Tr(kMsgMenuDismiss), active));
  }
  menu.push_back(Separator());
  menu.push_back(Item(BoxMenuId::kClearBox, Tr(kMsgMenuClearBox), active));
  menu.push_back(Separator());
  BoxMenuItem gate = Item(BoxMenuId::kGateTime, "varnex: setGateTime", active);
  for (const GateEntry& entry : kGateEntries) {
    gate.submenu.push_back(Item(entry.id, StrF("%ds", entry.seconds), active));
  }
  menu.push_back(std::move(gate));
  menu.push_back(Item(BoxMenuId::kGunTime, "varnex: getGunTime", active));
  menu.push_back(
      Item(BoxMenuId::kPackToday, "varnex: packDataSection" + Tr(kMsgMenuToday), active));
  menu.push_back(Item(BoxMenuId::kPackAll, "varnex: packDataSection" + Tr(kMsgMenuAll), active));
  menu.push_back(Item(BoxMenuId::kRewindToday, "varnex: rewindData" + Tr(kMsgMenuToday), active));
  menu.push_back(Item(BoxMenuId::kRewindAll, "varnex: rewindData" + Tr(kMsgMenuAll), active));
  return menu;
}

bool CBoxSlots::IsBoxMenuItemEnabled(int boxNumber, BoxMenuId item) const {
  if (item == BoxMenuId::kNone || item == BoxMenuId::kSeparator) {
    return false;
  }
  // Both menus together hold every item once (channels with Ctrl, accept/dismiss without).
  for (bool ctrl : {false, true}) {
    for (const BoxMenuItem& entry : BuildBoxMenu(boxNumber, ctrl)) {
      if (entry.id == item) {
        return entry.enabled;
      }
      for (const BoxMenuItem& sub : entry.submenu) {
        if (sub.id == item) {
          return sub.enabled && entry.enabled;
        }
      }
    }
  }
  return false;
}

std::string CBoxSlots::BoxPrefix(const COstraBox& box) const {
  const CComBox* transport = box.Transport();
  return StrF(Tr(kMsgInitBoxPrefix).c_str(), box.BoxNumber(),
              transport != nullptr ? transport->GetLabel().c_str() : "");
}

bool CBoxSlots::SendForAction(COstraBox& box, const std::string& command,
                              const std::string& parameter, BoxActionResult* result) {
  result->command = command;
  result->sendFailed = !SendCommand(box, command, parameter, &result->error);
  return !result->sendFailed;
}

BoxActionResult CBoxSlots::RunBoxMenuAction(int boxNumber, BoxMenuId item) {
  BoxActionResult result;
  COstraBox* box = Box(boxNumber);
  CComBox* transport = box != nullptr ? box->Transport() : nullptr;
  if (transport == nullptr || !transport->IsConfigured()) {
    return result;
  }
  result.performed = true;
  Logger& log = m_services.log;
  auto logWithParameter = [&](const char* command, const std::string& parameter) {
    log.PostLogMsg(0, kMsgSendingCommandWithParameter, command, parameter.c_str());
  };
  auto logPlain = [&](const char* command) { log.PostLogMsg(0, kMsgSendingCommand, command); };
  std::time_t now = m_services.clock.NowUnix();

  switch (item) {
    case BoxMenuId::kConnect:
      // A box that runs can record: after "disconnect all" the run's file opens again, so that
      // a refusal is reported now rather than at the first detection.
      m_records.EnsureDetectionFileOpen();
      (void)box->StartBoxThread();
      break;
    case BoxMenuId::kDisconnect:
      if (transport->IsConnected()) {
        if (Ask(kMsgDisconnectBoxQuestion) && transport->IsConnected()) {
          StopBoxThread(boxNumber);
        }
      } else {
        // Reconnecting: nothing to confirm, the attempts just stop.
        StopBoxThread(boxNumber);
      }
      break;
    case BoxMenuId::kOpenChannel1:
    case BoxMenuId::kStopChannel1:
    case BoxMenuId::kOpenChannel2:
    case BoxMenuId::kStopChannel2:
    case BoxMenuId::kOpenChannel3:
    case BoxMenuId::kStopChannel3:
    case BoxMenuId::kOpenChannel4:
    case BoxMenuId::kStopChannel4: {
      const char* command = IsOpenItem(item) ? "readerOpen" : "readerStop";
      std::string channel = std::to_string(ChannelOf(item));
      logWithParameter(command, channel);
      SendForAction(*box, command, channel, &result);
      break;
    }
    case BoxMenuId::kAccept:
    case BoxMenuId::kDismiss: {
      const char* command = item == BoxMenuId::kAccept ? "readerOpen" : "readerStop";
      for (int channel = 1; channel <= 4; ++channel) {
        logWithParameter(command, std::to_string(channel));
        // Only the outcome of the fourth sending is reported.
        SendForAction(*box, command, std::to_string(channel), &result);
      }
      break;
    }
    case BoxMenuId::kClearBox:
      if (Ask(kMsgClearBoxQuestion)) {
        SendForAction(*box, "deleteData", "", &result);
        logPlain("deleteData");
      }
      break;
    case BoxMenuId::kGate1s:
    case BoxMenuId::kGate2s:
    case BoxMenuId::kGate3s:
    case BoxMenuId::kGate5s:
    case BoxMenuId::kGate10s:
    case BoxMenuId::kGate15s:
    case BoxMenuId::kGate30s: {
      std::string parameter = GateTimeParameter(GateSecondsOf(item));
      // This text exists in French only.
      log.PostLogF(
          0, "%s",
          (Utf8ToCp1252("+ Envoi commande setGateTime avec le paramètre ") + parameter).c_str());
      SendForAction(*box, "setGateTime", parameter, &result);
      break;
    }
    case BoxMenuId::kGunTime:
      logPlain("getGunTime");
      SendForAction(*box, "getGunTime", "", &result);
      break;
    case BoxMenuId::kPackAll:
      logPlain("packDataSection");
      SendForAction(*box, "packDataSection", "", &result);
      break;
    case BoxMenuId::kPackToday: {
      std::string range = TodayRangeParameter(now);
      logWithParameter("packDataSection", range);
      SendForAction(*box, "packDataSection", range, &result);
      break;
    }
    case BoxMenuId::kRewindAll:
      logPlain("rewindData");
      SendForAction(*box, "rewindData", "", &result);
      break;
    case BoxMenuId::kRewindToday: {
      std::string range = TodayRangeParameter(now);
      logWithParameter("rewindData", range);
      SendForAction(*box, "rewindData", range, &result);
      break;
    }
    case BoxMenuId::kNone:
    case BoxMenuId::kSeparator:
    case BoxMenuId::kGateTime:
      break;
  }

  if (m_hooks.restartRefreshTimer) {
    m_hooks.restartRefreshTimer();
  }
  if (result.sendFailed) {
    log.PostLogMsg(0, kMsgErrorSendingCommand, result.command.c_str(), result.error.c_str());
  }
  return result;
}

bool CBoxSlots::RunConsoleBoxCommand(int boxNumber, BoxMenuId item, const std::string& typed) {
  if (!IsBoxMenuItemEnabled(boxNumber, item)) {
    m_services.log.PostLogMsg(0, kMsgConsoleBoxItemDisabled, boxNumber, typed.c_str());
    return false;
  }
  return RunBoxMenuAction(boxNumber, item).performed;
}

bool CBoxSlots::SynchronizeBoxClocks() {
  if (!Ask(kMsgSyncClocksQuestion)) {
    return false;
  }
  (void)m_store.ReadSettingInt(kSettingsSection, "SleepMilliAfterLeadingStart",
                               kSyncPauseAfterStartDefault);
  (void)m_store.ReadSettingInt(kSettingsSection, "SleepMilliAfterLeadingStop",
                               kSyncPauseAfterStopDefault);
  (void)m_store.ReadSettingInt(kSettingsSection, "SleepMilliAfterSetTime",
                               kSyncPauseAfterSetTimeDefault);
  Logger& log = m_services.log;
  for (auto& box : m_boxes) {
    CComBox* transport = box->Transport();
    if (transport == nullptr || !transport->IsConfigured() || !transport->IsConnected()) {
      continue;
    }
    std::string prefix = BoxPrefix(*box);
    log.PostLogMsg(0, kMsgSyncRequest, prefix.c_str());
    std::string error;
    if (!SendCommand(*box, "setDate", SetDateParameter(m_services.clock.NowUnix()), &error)) {
      log.PostLogMsg(0, kMsgSyncSetDateError, prefix.c_str(), error.c_str());
    }
    CChrono now;
    now.SetNow(m_services.clock.NowUnixMs());
    std::string time = SetTimeParameter(now);
    log.PostLogMsg(0, kMsgSyncSendingSetTime, prefix.c_str(), time.c_str());
    if (!SendCommand(*box, "setTime", time, &error)) {
      log.PostLogMsg(0, kMsgSyncSetTimeError, prefix.c_str(), error.c_str());
    }
  }
  return true;
}

void CBoxSlots::ShowBoxClocks() {
  Logger& log = m_services.log;
  for (auto& box : m_boxes) {
    CComBox* transport = box->Transport();
    if (transport == nullptr || !transport->IsConnected()) {
      continue;
    }
    log.PostLogMsg(0, kMsgShowClocksRequest, BoxPrefix(*box).c_str());
    box->DateShowPending() = true;
    box->TimeShowPending() = true;
  }
}

}  // namespace lapora
