// The box thread of COstraBox and the steps that bring a box up (InitBox, DiscoverDeviceId).
#include <chrono>
#include <exception>

#include "boxlink/ostra_box.h"
#include "foundation/app_settings.h"
#include "foundation/clock.h"
#include "foundation/events.h"
#include "foundation/log.h"
#include "foundation/sound.h"
#include "resources/messages_boxlink.h"

namespace lapora {
namespace {

// The box whose box thread is the calling thread (null on every other thread).
thread_local const COstraBox* tBoxOfThisThread = nullptr;

constexpr long kDiscoverySliceMs = 100;
constexpr int kReadWaitMs = 5;
constexpr int kReadLineWaitMs = 100;
constexpr int kConnectRetryPauses = 6;
constexpr int kConnectRetryPauseMs = 500;

bool IsBlankLine(const std::string& line) {
  for (char c : line) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\v' && c != '\f') {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string COstraBox::BoxThreadLogPrefix() const {
  std::string label = ConnectionName();
  if (BuildLanguage() == Language::kFrench) {
    return StrF(Utf8ToCp1252(kBoxThreadPrefixFr).c_str(), CurrentThreadNumber(), m_number,
                label.c_str());
  }
  return StrF(kBoxThreadPrefixEn, m_number, label.c_str());
}

bool COstraBox::OnOwnThread() const {
  return tBoxOfThisThread == this;
}

void COstraBox::PauseMs(int milliseconds) {
  if (milliseconds <= 0) {
    return;
  }
  std::unique_lock lock(m_threadStateMutex);
  m_threadStateChanged.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                [&] { return m_stop.load(); });
}

bool COstraBox::InitBox() {
  CComBox* transport = m_transport.get();
  if (transport == nullptr || !transport->HasPort()) {
    return false;
  }
  Logger& log = m_services.log;
  std::string prefix = StrF(Tr(kMsgInitBoxPrefix).c_str(), m_number, transport->GetLabel().c_str());
  std::string error;
  bool connected = transport->Connect(&error);
  std::string detectorId;
  std::string address;
  int port = 0;
  transport->GetConfig(&detectorId, &address, &port);
  if (!connected) {
    log.PostAlert(StrF(Tr(kMsgCannotConnect).c_str(), prefix.c_str(), address.c_str(), port,
                       detectorId.c_str(), error.c_str()),
                  false);
    return false;
  }
  log.PostLogMsg(20, kMsgBoxInitialized, m_number, address.c_str(), port, detectorId.c_str());
  (void)DiscoverDeviceId();  // the channels are opened whatever it found
  if (m_stop) {
    return true;  // being stopped: the connection is closed or about to be
  }
  for (int channel = 1; channel <= 4; ++channel) {
    if (!SendCommand(*this, "readerOpen", std::to_string(channel), &error)) {
      log.PostLogMsg(0, kMsgErrorSendingReaderOpen, prefix.c_str(), channel, error.c_str());
    }
  }
  return true;
}

bool COstraBox::DiscoverDeviceId() {
  CComBox* transport = m_transport.get();
  if (transport == nullptr) {
    return false;
  }
  Logger& log = m_services.log;
  std::string prefix = StrF(Tr(kMsgDiscoveryPrefix).c_str(), CurrentThreadNumber(), m_number,
                            transport->GetLabel().c_str());
  // Only the main thread clears a stop left from an earlier run: on the box thread a stop
  // set meanwhile by StopBoxThread must be kept, or the thread would never end.
  if (!OnOwnThread()) {
    m_stop = false;
  }
  {
    std::lock_guard lock(m_discoveredMutex);
    m_discovered.reset();
  }
  m_readingPaused = true;
  struct Unpause {
    std::atomic<bool>& flag;
    ~Unpause() { flag = false; }
  } unpause{m_readingPaused};

  // On the services' tick, like the box's other time-outs.
  const int giveUpSeconds = m_services.settings.GBoxDiscoverySeconds.load();
  const std::int64_t deadline = static_cast<std::int64_t>(m_services.clock.TickMs()) +
                                std::int64_t{giveUpSeconds < 0 ? 0 : giveUpSeconds} * 1000;
  for (;;) {
    if (m_stop) {
      return false;
    }
    std::int64_t left = deadline - static_cast<std::int64_t>(m_services.clock.TickMs());
    if (left <= 0) {
      log.PostLogMsg(0, kMsgNoDataReceived, prefix.c_str(), giveUpSeconds);
      return false;
    }
    std::string line;
    long count;
    try {
      // In slices, so that a stop is seen soon even on a transport it cannot wake.
      count = transport->ReadLineWithin(
          line, static_cast<int>(left < kDiscoverySliceMs ? left : kDiscoverySliceMs));
    } catch (const std::exception&) {
      log.PostLogF(0, "+ %s : Exception caught in ReadAvailable", prefix.c_str());
      return false;
    }
    if (count == kNoLineYet) {
      continue;  // a part of a line may have come: it stays for the next read
    }
    std::uint64_t readTick = m_services.clock.TickMs();
    if (count < 0) {
      return false;
    }
    if (count == 0 || IsBlankLine(line)) {
      // An empty line (a line end right after ";") carries nothing: wait for the next one.
      if (transport->IsStopRequested() || m_stop) {
        return false;
      }
      continue;
    }
    BoxMessageKind kind;
    std::string deviceId;
    std::string keyword;
    std::string payload;
    if (!ClassifyBoxLine(log, line, &kind, &deviceId, &keyword, &payload)) {
      log.PostLogMsg(0, kMsgDeviceIdInvalidInput, prefix.c_str(), line.c_str());
      return false;
    }
    SetDeviceId(deviceId);
    log.PostLogMsg(0, kMsgDeviceIdFound, prefix.c_str(), deviceId.c_str());
    // The line is handled by the reading loop like every later one (a detection is recorded).
    std::lock_guard lock(m_discoveredMutex);
    m_discovered = DiscoveredLine{kind, line, payload, readTick};
    return true;
  }
}

bool COstraBox::StartBoxThread() {
  return StartThread(0);
}

bool COstraBox::StartConnectAllThread(int round) {
  return round > 0 && StartThread(round);
}

bool COstraBox::StartThread(int connectRound) {
  if (m_threadRunning || m_stopDepth > 0) {
    return false;
  }
  m_stopWanted = false;
  if (m_thread.joinable()) {
    m_thread.join();  // a thread that has ended but was not joined yet
  }
  m_stop = false;
  // A box that the new thread has to connect is active from now on: a box status posted by
  // an earlier thread and handled before the new thread begins must not find it idle and
  // stop it.
  if (m_transport != nullptr && !m_transport->IsConnected()) {
    m_transport->SetReconnecting(true);
  }
  // Running from now on, so that a StopBoxThread right after this waits for the thread.
  m_threadRunning = true;
  try {
    m_thread = std::thread(&COstraBox::BoxThread, this, connectRound);
  } catch (const std::exception&) {
    m_threadRunning = false;
    return false;
  }
  return true;
}

void COstraBox::StopBoxThread(const std::function<void()>& pump, StopKind kind) {
  if (kind == StopKind::kFinal) {
    m_stopWanted = true;
  }
  struct StopUnderWay {
    int& depth;
    explicit StopUnderWay(int& d) : depth(d) { ++depth; }
    ~StopUnderWay() { --depth; }
  } underWay{m_stopDepth};
  {
    std::lock_guard lock(m_threadStateMutex);
    m_stop = true;
  }
  m_threadStateChanged.notify_all();
  if (m_transport != nullptr && m_transport->IsConnected()) {
    m_transport->RequestStop();
  }
  while (m_threadRunning) {
    if (pump) {
      pump();  // may re-enter StopBoxThread for this box
    }
    std::unique_lock lock(m_threadStateMutex);
    m_threadStateChanged.wait_for(lock, std::chrono::milliseconds(2),
                                  [&] { return !m_threadRunning.load(); });
  }
  if (m_thread.joinable()) {
    m_thread.join();
  }
  if (kind == StopKind::kFinal) {
    // The operator ended the connection: what the box reads meanwhile is not ours to fetch.
    // Taken back once the thread has ended, so that a loss it found last cannot restore it.
    m_replayAfterLoss = false;
    m_lostSinceConnection = false;
  }
}

void COstraBox::RequestClearLast() {
  m_clearLastRequested = true;
  // Only the main thread starts box threads, so none can start meanwhile; a thread that ended
  // after the request was raised has left the list for good (its end is seen through
  // m_threadRunning), and the request is then taken back and carried out here.
  if (!m_threadRunning && m_clearLastRequested.exchange(false)) {
    m_lastDetections.ClearLast();
  }
}

void COstraBox::ClearLastIfRequested() {
  if (m_clearLastRequested.exchange(false)) {
    m_lastDetections.ClearLast();
  }
}

void COstraBox::TakeDiscoveredLine(const std::string& prefix) {
  std::optional<DiscoveredLine> discovered;
  {
    std::lock_guard lock(m_discoveredMutex);
    discovered.swap(m_discovered);
  }
  if (discovered) {
    NoteLineArrived(discovered->readTickMs, prefix);
    ClearLastIfRequested();
    HandleBoxMessage(*this, prefix, discovered->kind, discovered->line, discovered->payload,
                     discovered->readTickMs, m_counters);
  }
}

bool COstraBox::ConnectPhase(const std::string& prefix) {
  Logger& log = m_services.log;
  CComBox* transport = m_transport.get();
  int reconnectSeconds = m_services.settings.GBoxReconnectSeconds.load();
  log.PostLogMsg(0, kMsgAttemptToConnect, prefix.c_str(), reconnectSeconds);
  if (transport != nullptr) {
    transport->SetReconnecting(true);
  }
  auto setReconnecting = [&](bool value) {
    if (transport != nullptr) {
      transport->SetReconnecting(value);
    }
  };
  std::uint64_t start = m_services.clock.TickMs();
  while (!InitBox()) {
    for (int i = 0; i < kConnectRetryPauses; ++i) {
      if (m_stop) {
        setReconnecting(false);
        log.PostLogMsg(0, kMsgThreadStoppedNoConnect, prefix.c_str());
        return false;
      }
      m_services.events.Post(BoxStatusEvent{m_number, 0});
      PauseMs(kConnectRetryPauseMs);
    }
    if (m_services.clock.TickMs() - start >
        static_cast<std::uint64_t>(reconnectSeconds < 0 ? 0 : reconnectSeconds) * 1000) {
      setReconnecting(false);
      m_services.events.Post(BoxStatusEvent{m_number, 0});
      return false;
    }
  }
  if (m_stop) {
    // Stopped while the box was being initialised: as a stop between two attempts.
    transport->Close();
    setReconnecting(false);
    log.PostLogMsg(0, kMsgThreadStoppedNoConnect, prefix.c_str());
    return false;
  }
  // No longer reconnecting before the news goes out: the window redraws the slot when it
  // handles the status, and would otherwise leave it orange until its next refresh.
  setReconnecting(false);
  log.PostLogMsg(0, kMsgConnectionSuccessful, prefix.c_str());
  m_services.events.Post(BoxStatusEvent{m_number, 0});
  if (m_services.sound != nullptr) {
    m_services.sound->PlaySoundResource(kSoundBoxConnected);
  }
  return true;
}

void COstraBox::ReadingLoop(const std::string& prefix) {
  Logger& log = m_services.log;
  CComBox* transport = m_transport.get();
  auto expectedEnd = [&] {
    m_services.events.Post(BoxStatusEvent{m_number, 0});
    log.PostLogMsg(0, kMsgDisconnectionRequested, prefix.c_str());
  };
  // Reused from one line to the next.
  std::string line;
  std::string deviceId;
  std::string keyword;
  std::string payload;
  while (!m_stop) {
    TakeDiscoveredLine(prefix);
    if (m_readingPaused) {
      PauseMs(m_services.settings.GVarnexReadMsDelta.load());
      continue;
    }
    // Pause only while nothing is waiting: a burst of lines is read back to back.
    int ready = transport->WaitForData(0);
    if (ready == 0) {
      CheckSilence(prefix);
      PauseMs(m_services.settings.GVarnexReadMsDelta.load());
      if (m_stop) {
        break;
      }
      ready = transport->WaitForData(kReadWaitMs);
    }
    if (ready == 0) {
      continue;
    }
    line.clear();
    long count;
    try {
      // Within a time: a line left unfinished is waited for between turns of the loop, which
      // keeps seeing the stop flag.
      count = transport->ReadLineWithin(line, kReadLineWaitMs);
    } catch (const std::exception&) {
      log.PostLogF(0, "+ %s : Exception caught in ReadAvailable", prefix.c_str());
      count = -1;
    }
    if (count == kNoLineYet) {
      continue;
    }
    bool stopRequested = transport->IsStopRequested() || m_stop;
    if (count == 0 && !stopRequested) {
      continue;  // an empty line: a line end right after ";"
    }
    if (count < 1) {
      if (stopRequested) {
        expectedEnd();
      } else {
        NoteConnectionLost();  // before the report that has the box started again
        m_services.events.Post(BoxStatusEvent{m_number, 1});
        log.PostAlert(StrF(Tr(kMsgBoxReceptionFailed).c_str(), prefix.c_str()), false);
      }
      return;
    }
    if (IsBlankLine(line)) {
      continue;
    }
    std::uint64_t readTick = m_services.clock.TickMs();
    NoteLineArrived(readTick, prefix);
    BoxMessageKind kind;
    if (ClassifyBoxLine(log, line, &kind, &deviceId, &keyword, &payload)) {
      ClearLastIfRequested();
      HandleBoxMessage(*this, prefix, kind, line, payload, readTick, m_counters);
    }
  }
  // Stopped between two reads: the same end as a read cut by the stop.
  expectedEnd();
}

void COstraBox::NoteLineArrived(std::uint64_t tickMs, const std::string& prefix) {
  std::uint64_t silenceMs = 0;
  if (m_health.NoteLine(tickMs, &silenceMs)) {
    m_services.log.PostLogMsg(0, kMsgBoxDataAgain, prefix.c_str(),
                              static_cast<int>(silenceMs / 1000));
  }
}

void COstraBox::CheckSilence(const std::string& prefix) {
  const int limitSeconds = m_services.settings.GBoxSilenceSeconds.load();
  std::uint64_t silentForMs = 0;
  if (limitSeconds > 0 && m_health.CheckSilence(m_services.clock.TickMs(),
                                                static_cast<std::uint64_t>(limitSeconds) * 1000,
                                                &silentForMs) == CBoxHealth::AlarmChange::kRaised) {
    m_services.log.PostLogMsg(0, kMsgBoxSilent, prefix.c_str(),
                              static_cast<int>(silentForMs / 1000));
  }
}

void COstraBox::AskForMissedReads(const std::string& prefix) {
  m_readHistory.DropReplay();  // one cut short by the loss is not finished on this connection
  if (m_stop || !m_replayAfterLoss.exchange(false) ||
      m_services.settings.BAutoRecover.load() == 0) {
    return;
  }
  Logger& log = m_services.log;
  std::string range =
      RecoveryRangeParameter(m_readHistory.LastRecorded(), m_services.clock.NowUnixMs());
  log.PostLogMsg(0, kMsgAskingForMissedReads, prefix.c_str(), range.c_str());
  // Expected before the command leaves: the box may answer at once.
  m_readHistory.ExpectReplay();
  std::string error;
  if (!SendCommand(*this, "rewindData", range, &error)) {
    m_readHistory.DropReplay();
    log.PostLogMsg(0, kMsgErrorSendingRewindData, prefix.c_str(), error.c_str());
    NoteConnectionLost();  // still missing: asked for on the next connection
  }
}

bool COstraBox::InitialiseForRound(const std::string& prefix, int round) {
  bool initialised = InitBox();
  // A box stopped while it was being initialised does not count as initialised.
  bool stopped = m_stop.load();
  if (initialised && stopped) {
    m_transport->Close();
    initialised = false;
  }
  if (m_transport != nullptr) {
    m_transport->SetReconnecting(false);
  }
  if (stopped) {
    m_services.log.PostLogMsg(0, kMsgThreadStoppedNoConnect, prefix.c_str());
  }
  m_services.events.Post(BoxInitDoneEvent{m_number, round, initialised});
  return initialised;
}

void COstraBox::BoxThread(int connectRound) {
  tBoxOfThisThread = this;
  m_services.shared.runningThreads.fetch_add(1);
  std::string prefix = BoxThreadLogPrefix();
  Logger& log = m_services.log;

  bool reading = true;
  if (connectRound > 0) {
    reading = InitialiseForRound(prefix, connectRound);
  } else if (m_transport == nullptr || !m_transport->IsConnected()) {
    reading = ConnectPhase(prefix);
  }
  if (reading) {
    log.PostLogMsg(80, kMsgStartingThread, prefix.c_str(),
                   m_services.settings.GVarnexReadMsDelta.load());
    m_clearLastRequested = false;  // the list starts empty anyway
    m_lastDetections.ClearLast();
    m_counters.Reset();
    m_health.NoteConnected(m_lostSinceConnection.exchange(false));
    m_readingPaused = false;
    AskForMissedReads(prefix);
    ReadingLoop(prefix);

    m_transport->Close();
    m_health.NoteDisconnected();
    log.PostLogMsg(80, kMsgThreadStopped, prefix.c_str());
    log.PostLogMsg(80, kMsgClearDetectionsCache, prefix.c_str());
    m_lastDetections.ClearLast();
  }

  m_services.shared.runningThreads.fetch_sub(1);
  {
    std::lock_guard lock(m_threadStateMutex);
    m_threadRunning = false;
  }
  m_threadStateChanged.notify_all();
  tBoxOfThisThread = nullptr;
}

}  // namespace lapora
