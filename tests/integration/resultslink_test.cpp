// The direct connection against the results-software simulator over loopback: the bytes of
// every request, the replies decoded as the main window shows them, the link's states and
// reactions, a lost connection, a stop while trying, four box threads pushing at once, a
// results software that stops reading, and the catch-up over a connection cut without a word.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "detections/recorded_detections.h"
#include "foundation/events.h"
#include "foundation/log.h"
#include "foundation/resource_mutex.h"
#include "foundation/sound.h"
#include "foundation/speech.h"
#include "resources/messages_resultslink.h"
#include "resultslink/link_codes.h"
#include "resultslink/link_protocol.h"
#include "resultslink/link_reactions.h"
#include "resultslink/results_link.h"
#include "support/simulator_process.h"
#include "support/temp_dir.h"
#include "support/vanishing_peer.h"

namespace lapora {
namespace {

using lapora::testing::ReadFile;
using lapora::testing::TempDir;
using lapora::testing::WriteFile;
using Clock = std::chrono::steady_clock;
using Texts = std::vector<std::string>;

constexpr auto kDeadline = std::chrono::seconds(15);

// The results-software simulator as a child process, on a free loopback port.
class CSimulator {
 public:
  bool Start(const Texts& options) {
    Texts args = {"--port", "0", "--bind", "127.0.0.1"};
    args.insert(args.end(), options.begin(), options.end());
    m_process = std::make_unique<testing::SimulatorProcess>(RESULTSIM_PATH, args);
    m_port = std::atoi(m_process->WaitEvent("listening on ", kDeadline).c_str());
    return m_port > 0;
  }
  void Stop() { m_process.reset(); }
  int Port() const { return m_port; }

 private:
  std::unique_ptr<testing::SimulatorProcess> m_process;
  int m_port = 0;
};

class RecordingVoice final : public TextToSpeech {
 public:
  explicit RecordingVoice(Texts* spoken) : m_spoken(spoken) {}
  bool Speak(std::string_view utf8, bool) override {
    m_spoken->emplace_back(utf8);
    return true;
  }
  void Cancel() override {}
  void WaitUntilDone() override {}

 private:
  Texts* m_spoken;
};

CKolResult Detection(const std::string& label, const std::string& bib, const std::string& time) {
  CKolResult record;
  record.detectorLabel = label;
  record.bibText = bib;
  record.timeText = time;
  return record;
}

std::string RankTextOf(int overall, int category, int sex, const char* sexCode,
                       const char* categoryCode) {
  CRunnerResult result;
  result.rankOverall = overall;
  result.rankCategory = category;
  result.rankSex = sex;
  result.sex = sexCode;
  result.categoryCode = categoryCode;
  return CLinkProtocol::RankText(result);
}

// What the main window holds around the link: the link, its protocol and reactions, the
// event handling, and what reached the operator.
class ResultsLinkTest : public ::testing::Test {
 protected:
  ResultsLinkTest()
      : m_log(m_events),
        m_summaryLock("Summary", m_dir.path()),
        m_link(m_events, m_log),
        m_speech(std::make_unique<RecordingVoice>(&m_spoken)),
        m_protocol(
            m_link, m_log, m_summaryLock,
            LinkProtocolHooks{[this](const CSummaryItem& entry) { m_entries.push_back(entry); },
                              [this](const std::string& first, const std::string& last) {
                                m_speech.SayRunnerName(first, last);
                              },
                              [this] { ++m_refusalTimers; }}),
        m_reactions(m_link, m_protocol, m_log) {
    m_log.SetPostingEnabled(true);
  }
  ~ResultsLinkTest() override { m_link.StopLink(); }

  std::string StartList() {
    const std::string path = m_dir.File("start-list.txt");
    WriteFile(path,
              "123;Durand;Marie;F;SEN;Senior;AC Lyon;FRA;10 km\n"
              "7;Petit;Luc;M;V1;Veteran 1;;FRA;10 km\n");
    return path;
  }

  // Handles posted events as the main window does until the condition holds.
  bool PumpUntil(const std::function<bool()>& done) {
    const auto deadline = Clock::now() + kDeadline;
    while (!done()) {
      if (Clock::now() >= deadline) {
        return false;
      }
      m_events.WaitForEvents(std::chrono::milliseconds(20));
      m_events.Dispatch([this](const Event& event) { Handle(event); });
    }
    return true;
  }

  void Handle(const Event& event) {
    if (const auto* state = std::get_if<LinkStateEvent>(&event)) {
      m_states.push_back(state->state);
      m_stateReactions.push_back(m_reactions.OnLinkState(state->state));
    } else if (const auto* line = std::get_if<LinkLineEvent>(&event)) {
      m_lines.push_back(line->line);
      m_protocol.HandleLinkLine(line->line);
    } else if (const auto* log = std::get_if<LogLineEvent>(&event)) {
      m_logs.push_back(log->text);
    }
  }

  bool Logged(const std::string& text) const {
    return std::find(m_logs.begin(), m_logs.end(), text) != m_logs.end();
  }

  // Presses the button and waits until connected; then runs the initial-requests timer.
  bool Connect(int port, bool initialRequests = true) {
    m_reactions.OnDirectButton(true, "127.0.0.1", port, 1);
    if (!PumpUntil([this] {
          return m_link.IsLinkConnected() && !m_states.empty() && m_states.back() == kLinkConnected;
        })) {
      return false;
    }
    if (initialRequests) {
      m_reactions.OnTimer(CLinkProtocol::kTimerInitialRequests);
    }
    return true;
  }

  // The lines of the simulator's receive log (escaped, without the time stamp), waiting until
  // there are at least count.
  Texts ReceivedLines(const std::string& logPath, size_t count) {
    Texts lines;
    const auto deadline = Clock::now() + kDeadline;
    while (Clock::now() < deadline) {
      lines.clear();
      const std::string content = ReadFile(logPath);
      size_t start = 0;
      size_t end;
      while ((end = content.find('\n', start)) != std::string::npos) {
        const std::string line = content.substr(start, end - start);
        const size_t blank = line.find(' ');
        lines.push_back(blank == std::string::npos ? line : line.substr(blank + 1));
        start = end + 1;
      }
      if (lines.size() >= count) {
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return lines;
  }

  TempDir m_dir;
  EventQueue m_events;
  Logger m_log;
  CResourceMutex m_summaryLock;
  CResultsLink m_link;
  Texts m_spoken;
  CSpeechEngine m_speech;
  std::vector<CSummaryItem> m_entries;
  int m_refusalTimers = 0;
  CLinkProtocol m_protocol;
  CLinkReactions m_reactions;

  std::vector<int> m_states;
  std::vector<LinkReaction> m_stateReactions;
  Texts m_lines;
  Texts m_logs;
};

TEST_F(ResultsLinkTest, RequestsGoOutExactlyAndRepliesAreDecoded) {
  CSimulator sim;
  const std::string log = m_dir.File("received.log");
  ASSERT_TRUE(sim.Start({"--start-list", StartList(), "--log", log, "--detectors", "31,32",
                         "--race-start", "10:00:00"}));
  ASSERT_TRUE(Connect(sim.Port()));
  EXPECT_EQ(m_stateReactions.back().startTimers.at(0).id, CLinkProtocol::kTimerInitialRequests);
  EXPECT_EQ(m_stateReactions.back().startTimers.at(0).periodMs, 300);
  EXPECT_TRUE(Logged(Tr(kMsgLinkConnected)));

  m_link.PushDetection(Detection("31", "123", "10:23:45.12"));
  m_protocol.SendPing();
  const Texts received = ReceivedLines(log, 9);
  EXPECT_EQ(received, (Texts{"GetMode()\\r", "GetUserName()\\r", "GetCompetitionName()\\r",
                             "GetFilename()\\r", "GetVersion()\\r", "GetPrintableVersion()\\r",
                             "GetDetectorList()\\r",
                             "AddKolClock(1\\t31\\t123\\t1\\t10:23:45.12)\\r", "Ping()\\r"}));

  ASSERT_TRUE(PumpUntil([this] { return m_lines.size() >= 9; }));
  EXPECT_EQ(m_protocol.DetectorList(), (Texts{"31", "32"}));
  EXPECT_TRUE(Logged("$$$ " + CommandName(24) + ": Chrono"));
  EXPECT_TRUE(Logged("$$$ Version: 4,4,0,1"));
  EXPECT_TRUE(Logged(">>> NFO:20"));
  EXPECT_FALSE(Logged("$$$ Ping"));
  EXPECT_EQ(m_refusalTimers, 0);
  ASSERT_EQ(m_entries.size(), 1u);
  EXPECT_EQ(m_entries[0].bib, 123);
  EXPECT_EQ(m_entries[0].timeText, "00:23:45");
  EXPECT_EQ(m_entries[0].passText, ".");
  EXPECT_EQ(m_entries[0].error, 0);
  EXPECT_EQ(m_spoken, (Texts{"Marie  Durand"}));
}

TEST_F(ResultsLinkTest, EveryLayoutOfTheSimulatorIsDecoded) {
  for (const char* layout : {"nq04", "nq05", "nq06", "res1"}) {
    SCOPED_TRACE(layout);
    CSimulator sim;
    ASSERT_TRUE(sim.Start({"--start-list", StartList(), "--layout", layout, "--race-start",
                           "11:00:00", "--control-detectors", "99", "--quiet"}));
    m_entries.clear();
    m_logs.clear();
    m_spoken.clear();
    m_speech.ForgetLastName();
    ASSERT_TRUE(Connect(sim.Port(), false));
    m_link.PushDetection(Detection("31", "123", "10:23:45.12"));  // before the start: 00:00:00
    m_link.PushDetection(Detection("31", "123", "11:23:45.12"));  // the same runner again
    m_link.PushDetection(Detection("99", "123", "11:30:00.00"));  // control time: silent
    m_link.PushDetection(Detection("31", "555", "11:31:00.00"));  // unknown runner
    ASSERT_TRUE(PumpUntil([this] { return m_lines.size() >= 4; }));
    m_lines.clear();
    ASSERT_EQ(m_entries.size(), 3u);
    EXPECT_EQ(m_entries[0].timeText, "        ");
    EXPECT_EQ(m_entries[0].nameText, "Marie Durand                  ");
    EXPECT_EQ(m_entries[0].resultText, RankTextOf(1, 1, 1, "F", "SEN"));
    EXPECT_EQ(m_entries[1].passText, "p2");
    EXPECT_EQ(m_entries[1].timeText, "00:23:45");
    EXPECT_EQ(m_entries[2].bib, 555);
    EXPECT_EQ(m_entries[2].error, 1);
    EXPECT_EQ(m_entries[2].resultText, StatusText(-5));
    EXPECT_TRUE(Logged("------------------------ " + StatusText(-5)));
    EXPECT_FALSE(Logged("------------------------ " + StatusText(-8)));
    EXPECT_EQ(m_spoken.front(), "Marie  Durand");
    EXPECT_EQ(std::count(m_spoken.begin(), m_spoken.end(), "Marie  Durand"), 1);
    m_reactions.OnDirectButton(false, "", 0, 0);
    ASSERT_TRUE(PumpUntil([this] { return m_states.back() == kLinkNotConnected; }));
    EXPECT_EQ(m_stateReactions.back().sounds, (std::vector<int>{kSoundDone}));
  }
}

TEST_F(ResultsLinkTest, ScriptedRepliesAsTheOperatorSeesThem) {
  const std::string script = m_dir.File("script.txt");
  WriteFile(
      script,
      "on GetMode()\n"
      "  raw \\n\n"
      "  raw NFO:24 Chrono \\r\\n\n"
      "  send ERR:103\n"
      "  send ERR:x\n"
      "  send NFO:20 still here\n"
      "  send NFO:7 D1\\\\D2\\\\\\\\D3\n"
      "  send "
      "nq04\\\\1\\\\0\\\\0\\\\0\\\\7\\\\Petit\\\\Luc\\\\M\\\\V1\\\\V1\\\\\\\\00:00:00\\\\0\\\\3\n"
      "  send "
      "RES:1\\\\31\\\\7\\\\1\\\\0\\\\\\\\\\\\0\\\\0\\\\0\\\\7\\\\Petit\\\\Luc\\\\M\\\\V1\\\\V1"
      "\\\\\\\\00:00:00\\\\0\\\\3\n"
      "  send nq04\\\\1\\\\12\\\\3\\\\1\\\\123\\\\Durand\\\\Marie\\\\F\\\\SEN\\\\Senior\\\\AC Lyon"
      "\\\\00:23:45\\\\0\\\\2\n"
      "  send nq04\\\\1\\\\12\\\\3\\\\1\\\\123\\\\Durand\\\\Marie\\\\F\\\\SEN\\\\Senior\\\\AC Lyon"
      "\\\\00:23:45\\\\0\\\\3\n");
  CSimulator sim;
  ASSERT_TRUE(sim.Start({"--script", script}));
  ASSERT_TRUE(Connect(sim.Port(), false));
  ASSERT_TRUE(m_link.SendLinkLine("GetMode()"));
  ASSERT_TRUE(PumpUntil([this] { return m_lines.size() >= 9; }))
      << ::testing::PrintToString(m_lines);

  // The bare line end is not passed on; the blank before CR LF is kept.
  EXPECT_EQ(m_lines.front(), "NFO:24 Chrono ");
  EXPECT_TRUE(Logged("$$$ Application: Chrono "));
  EXPECT_TRUE(Logged("$$$ Commande inconnue"));
  EXPECT_TRUE(Logged("$$$ Can't decode ERR:x"));
  EXPECT_FALSE(Logged("$$$ Ping: still here"));
  EXPECT_EQ(m_protocol.DetectorList(), (Texts{"D1", "D2", "D3"}));
  EXPECT_TRUE(Logged("$$$ " + CommandName(7) + ": D1\\D2\\\\D3"));
  EXPECT_TRUE(Logged(StrF(Tr(kMsgLinkDecodeError).c_str(), 6)));  // nq04 with an empty TEAM
  ASSERT_EQ(m_entries.size(), 3u);
  EXPECT_EQ(m_entries[0].bib, 7);  // the same runner in the split layout
  EXPECT_EQ(m_entries[0].timeText, "        ");
  EXPECT_EQ(m_entries[1].error, 1);
  EXPECT_EQ(m_entries[1].resultText, StatusText(2));
  EXPECT_TRUE(Logged("------------------------ " + StatusText(2)));
  EXPECT_EQ(m_entries[2].error, 0);
  EXPECT_EQ(m_entries[2].resultText, RankTextOf(12, 3, 1, "F", "SEN"));
  if (BuildLanguage() == Language::kFrench) {
    EXPECT_EQ(m_entries[2].resultText, Utf8ToCp1252("12ème - 1ère F - 3ème SEN"));
  }
  // Durand after Petit after Petit: each spoken once.
  EXPECT_EQ(m_spoken, (Texts{"Luc  Petit", "Marie  Durand"}));
}

TEST_F(ResultsLinkTest, VersionCheck) {
  struct Case {
    const char* version;
    bool refused;
  };
  for (const Case& c : {Case{"4,3,9,0", true}, Case{"10,0,0,0", false}, Case{"4,4,0,0", false},
                        Case{"4,4,0,1", false}}) {
    SCOPED_TRACE(c.version);
    CSimulator sim;
    ASSERT_TRUE(sim.Start({"--version", c.version, "--quiet"}));
    m_refusalTimers = 0;
    m_logs.clear();
    ASSERT_TRUE(Connect(sim.Port()));
    ASSERT_TRUE(PumpUntil([this] { return Logged("$$$ " + CommandName(28) + ": 4.40a"); }));
    EXPECT_TRUE(Logged(std::string("$$$ Version: ") + c.version));
    EXPECT_EQ(m_refusalTimers, c.refused ? 1 : 0);
    if (c.refused) {
      LinkReaction refusal = m_reactions.OnTimer(CLinkProtocol::kTimerRefusal);
      EXPECT_TRUE(refusal.releaseButton);
      EXPECT_EQ(refusal.messageBox, Tr(kMsgLinkVersionRefused));
      EXPECT_FALSE(m_link.IsLinkConnected());
    } else {
      EXPECT_TRUE(m_link.IsLinkConnected());
      m_reactions.OnDirectButton(false, "", 0, 0);
    }
    ASSERT_TRUE(PumpUntil([this] { return m_states.back() == kLinkNotConnected; }));
    EXPECT_TRUE(Logged(Tr(kMsgLinkDisconnected)));
    EXPECT_FALSE(m_stateReactions.back().balloon);
  }
}

TEST_F(ResultsLinkTest, LostConnectionIsReportedAndNotRetried) {
  CSimulator sim;
  ASSERT_TRUE(sim.Start({"--close-after", "1"}));
  ASSERT_TRUE(Connect(sim.Port(), false));
  m_protocol.DecodeLinkReply("NFO:7 31");
  EXPECT_TRUE(m_link.SendLinkLine("GetMode()"));
  ASSERT_TRUE(PumpUntil([this] { return m_states.back() == kLinkNotConnected; }));
  const LinkReaction& lost = m_stateReactions.back();
  EXPECT_TRUE(lost.releaseButton);
  EXPECT_EQ(lost.sounds, (std::vector<int>{kSoundLinkLost, kSoundWarning}));
  ASSERT_TRUE(lost.balloon);
  EXPECT_EQ(lost.balloon->text, Tr(kMsgLinkLost));
  EXPECT_TRUE(Logged("######## " + Tr(kMsgLinkLost)));
  EXPECT_TRUE(m_protocol.DetectorList().empty());
  EXPECT_FALSE(m_reactions.IsButtonPressed());
  // The thread has ended: nothing tries again, sends go nowhere.
  EXPECT_FALSE(m_link.IsRunning());
  EXPECT_FALSE(m_link.IsLinkConnecting());
  EXPECT_FALSE(m_link.SendLinkLine("Ping()"));
  EXPECT_EQ(m_states, (std::vector<int>{1, 2, 3}));
  // Pressing again connects again.
  ASSERT_TRUE(Connect(sim.Port(), false));
}

TEST_F(ResultsLinkTest, StopWhileTryingEndsTheAttempts) {
  // A port nobody listens on, kept bound so that no other test is given it meanwhile.
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  const int port = ntohs(address.sin_port);

  m_reactions.OnDirectButton(true, "127.0.0.1", port, 1);
  // Two failed attempts a retry interval apart: connecting, not connected, connecting...
  ASSERT_TRUE(PumpUntil([this] { return m_states.size() >= 4; }));
  EXPECT_EQ((std::vector<int>(m_states.begin(), m_states.begin() + 4)),
            (std::vector<int>{1, 3, 1, 3}));
  for (const LinkReaction& reaction : m_stateReactions) {
    EXPECT_FALSE(reaction.releaseButton);
    EXPECT_FALSE(reaction.balloon);
  }
  EXPECT_TRUE(m_link.IsLinkConnecting() || m_link.IsRunning());
  m_reactions.OnDirectButton(false, "", 0, 0);
  EXPECT_FALSE(m_link.IsRunning());
  EXPECT_FALSE(m_link.IsLinkConnecting());
  // The thread ended inside StopLink: whatever it posted is already queued, nothing follows.
  m_events.Dispatch([this](const Event& event) { Handle(event); });
  const size_t seen = m_states.size();
  EXPECT_EQ(m_events.PendingCount(), 0u);
  EXPECT_EQ(m_states.size(), seen);
  EXPECT_FALSE(m_link.SendLinkLine("Ping()"));
  close(fd);
}

TEST_F(ResultsLinkTest, FourBoxThreadsPushingAtOnceKeepLinesWhole) {
  CSimulator sim;
  const std::string log = m_dir.File("received.log");
  ASSERT_TRUE(sim.Start({"--log", log, "--quiet", "--generate", "10"}));
  ASSERT_TRUE(Connect(sim.Port(), false));
  constexpr int kBoxes = 4;
  constexpr int kPerBox = 500;
  std::vector<std::thread> boxes;
  for (int box = 0; box < kBoxes; ++box) {
    boxes.emplace_back([this, box] {
      for (int i = 0; i < kPerBox; ++i) {
        m_link.PushDetection(Detection("D" + std::to_string(box), std::to_string(i),
                                       StrF("10:%02d:%02d.%02d", i / 60 % 60, i % 60, box)));
      }
    });
  }
  // The main thread sends meanwhile too.
  for (int i = 0; i < 50; ++i) {
    m_protocol.SendPing();
  }
  for (std::thread& box : boxes) {
    box.join();
  }
  const Texts received = ReceivedLines(log, kBoxes * kPerBox + 50);
  ASSERT_EQ(received.size(), static_cast<size_t>(kBoxes * kPerBox + 50));
  const std::regex whole(R"(AddKolClock\(1\\tD(\d)\\t(\d+)\\t1\\t10:\d\d:\d\d\.0(\d)\)\\r)");
  std::map<int, int> next;
  int pings = 0;
  for (const std::string& line : received) {
    if (line == "Ping()\\r") {
      ++pings;
      continue;
    }
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, whole)) << line;
    const int box = std::stoi(match[1]);
    EXPECT_EQ(std::stoi(match[3]), box);
    EXPECT_EQ(std::stoi(match[2]), next[box]) << "box " << box;
    next[box] = std::stoi(match[2]) + 1;
  }
  EXPECT_EQ(pings, 50);
  for (int box = 0; box < kBoxes; ++box) {
    EXPECT_EQ(next[box], kPerBox);
  }
}

// A box thread pushing a detection every millisecond until the link is no longer connected
// (or the cap): it must get through whatever the results software does.
class SteadyPusher {
 public:
  static constexpr int kCap = 20000;
  explicit SteadyPusher(CResultsLink& link)
      : m_thread([this, &link] {
          const std::string bib(200, '9');  // long lines fill the peer's buffers sooner
          while (link.IsLinkConnected() && m_pushed < kCap) {
            link.PushDetection(Detection("31", bib, "10:23:45.12"));
            ++m_pushed;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
          m_done = true;
        }) {}
  ~SteadyPusher() { m_thread.join(); }
  bool Done() const { return m_done; }
  int Pushed() const { return m_pushed; }

 private:
  std::atomic<int> m_pushed{0};
  std::atomic<bool> m_done{false};
  std::thread m_thread;
};

TEST_F(ResultsLinkTest, AResultsSoftwareThatStopsReadingIsALostConnection) {
  CSimulator sim;
  ASSERT_TRUE(sim.Start({"--stop-reading-after", "1", "--rcvbuf", "4096", "--quiet"}));
  m_reactions.OnDirectButton(true, "127.0.0.1", sim.Port(), 1, /*stallSeconds=*/1);
  // The link is connected before its state event is even posted: wait for the state, which the
  // wait for the loss below reads.
  ASSERT_TRUE(PumpUntil([this] { return !m_states.empty() && m_states.back() == kLinkConnected; }));
  ASSERT_TRUE(m_link.SendLinkLine("GetMode()"));
  SteadyPusher box(m_link);
  // The lost connection as the operator sees it, while the box thread goes on.
  ASSERT_TRUE(PumpUntil([this] { return m_states.back() == kLinkNotConnected; }));
  const LinkReaction& lost = m_stateReactions.back();
  EXPECT_TRUE(lost.releaseButton);
  EXPECT_EQ(lost.sounds, (std::vector<int>{kSoundLinkLost, kSoundWarning}));
  ASSERT_TRUE(lost.balloon);
  EXPECT_EQ(lost.balloon->text, Tr(kMsgLinkLost));
  EXPECT_TRUE(Logged("######## " + Tr(kMsgLinkLost)));
  EXPECT_TRUE(Logged(StrF(Tr(kMsgLinkStalled).c_str(), 1))) << ::testing::PrintToString(m_logs);
  EXPECT_FALSE(m_reactions.IsButtonPressed());
  EXPECT_FALSE(m_link.IsRunning());
  // The pusher ends by itself: no push is left hanging on the dead connection.
  ASSERT_TRUE(PumpUntil([&box] { return box.Done(); }));
  EXPECT_LT(box.Pushed(), SteadyPusher::kCap);
  m_link.PushDetection(Detection("31", "1", "10:23:45.12"));  // after the end: a no-op
}

TEST_F(ResultsLinkTest, APauseShorterThanTheStallTimeAfterALongIdleKeepsTheConnection) {
  CSimulator sim;
  const std::string log = m_dir.File("received.log");
  // The results software reads the first line, then nothing until 2.5 s later.
  ASSERT_TRUE(sim.Start({"--stop-reading-after", "1", "--resume-after", "2500", "--rcvbuf", "4096",
                         "--log", log, "--quiet"}));
  m_reactions.OnDirectButton(true, "127.0.0.1", sim.Port(), 1, /*stallSeconds=*/2);
  ASSERT_TRUE(PumpUntil([this] { return m_link.IsLinkConnected(); }));
  ASSERT_TRUE(m_link.SendLinkLine("GetMode()"));
  // Idle for longer than the stall time: that is no stall, and the next wait counts afresh.
  const auto idleEnd = Clock::now() + std::chrono::milliseconds(2200);
  ASSERT_TRUE(PumpUntil([idleEnd] { return Clock::now() >= idleEnd; }));
  // Far more than the paused peer's buffers hold: it waits on our side until the peer reads.
  constexpr int kLines = 1500;
  const std::string bib(200, '9');
  for (int i = 0; i < kLines; ++i) {
    ASSERT_TRUE(
        m_link.SendLinkLine(StrF("AddKolClock(1\t31\t%s\t1\t10:00:%02d.00)", bib.c_str(), i % 60)));
  }
  EXPECT_EQ(ReceivedLines(log, kLines + 1).size(), static_cast<size_t>(kLines + 1));
  m_events.Dispatch([this](const Event& event) { Handle(event); });
  EXPECT_TRUE(m_link.IsLinkConnected());
  EXPECT_EQ(m_states, (std::vector<int>{1, 2}));
}

// A results software that takes every connection and keeps, in arrival order, each whole line
// it reads (without its CR LF); a line cut by the end of its connection is not one. Runs on its
// own thread.
class LineCollector {
 public:
  explicit LineCollector(const char* host) {
    m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, host, &address.sin_addr);
    EXPECT_EQ(bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(listen(m_listen, 8), 0);
    socklen_t length = sizeof address;
    getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    EXPECT_EQ(pipe(m_wake), 0);
    m_thread = std::thread([this] { Run(); });
  }
  ~LineCollector() {
    const char byte = 1;
    EXPECT_EQ(write(m_wake[1], &byte, 1), 1);
    m_thread.join();
    for (const Client& client : m_clients) {
      close(client.fd);
    }
    close(m_listen);
    close(m_wake[0]);
    close(m_wake[1]);
  }
  int Port() const { return m_port; }
  Texts Lines() const {
    std::lock_guard lock(m_mutex);
    return m_lines;
  }
  int Connections() const {
    std::lock_guard lock(m_mutex);
    return m_connections;
  }

 private:
  struct Client {
    int fd = -1;
    std::string partial;
  };

  void Run() {
    while (true) {
      std::vector<pollfd> fds = {{m_wake[0], POLLIN, 0}, {m_listen, POLLIN, 0}};
      for (const Client& client : m_clients) {
        fds.push_back({client.fd, POLLIN, 0});
      }
      if (poll(fds.data(), fds.size(), -1) < 0 || fds[0].revents != 0) {
        return;
      }
      if (fds[1].revents != 0) {
        m_clients.push_back({accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC), {}});
        std::lock_guard lock(m_mutex);
        ++m_connections;
        continue;  // the poll set changed
      }
      for (std::size_t i = 2; i < fds.size(); ++i) {
        if (fds[i].revents != 0) {
          Read(m_clients[i - 2]);
        }
      }
    }
  }
  void Read(Client& client) {
    char buffer[4096];
    const ssize_t got = recv(client.fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got <= 0) {
      return;  // ended (or reset): whatever came last without a line end is dropped
    }
    client.partial.append(buffer, static_cast<std::size_t>(got));
    std::size_t end;
    while ((end = client.partial.find('\n')) != std::string::npos) {
      std::string line = client.partial.substr(0, end);
      client.partial.erase(0, end + 1);
      while (!line.empty() && line.back() == '\r') {
        line.pop_back();
      }
      std::lock_guard lock(m_mutex);
      m_lines.push_back(line);
    }
  }

  int m_listen = -1;
  int m_port = 0;
  int m_wake[2] = {-1, -1};
  std::vector<Client> m_clients;  // the collector's thread only
  mutable std::mutex m_mutex;     // guards the two fields below
  Texts m_lines;
  int m_connections = 0;
  std::thread m_thread;
};

// Catch-up over a connection cut without a word (a pulled cable): what the results software's
// system acknowledged is not sent again; everything else is, once, in record order, over the
// connection the link makes again by itself; a detection removed meanwhile is not.
TEST(ResultsLinkCatchUpTest, WhatWasNotAcknowledgedBeforeACutIsSentOnceAfterIt) {
  testing::VanishingPeerNetwork network;
  std::string why;
  if (!network.Enter(&why)) {
    GTEST_SKIP() << why;
  }
  EventQueue events;
  Logger log(events);
  log.SetPostingEnabled(true);
  CRecordedDetections records(log);
  LineCollector peer(testing::VanishingPeerNetwork::kPeerAddress);
  CResultsLink link(events, log, &records);
  link.SetCatchUp(true);
  std::vector<int> states;
  const auto pumpUntil = [&](const std::function<bool()>& done,
                             std::chrono::seconds limit = kDeadline) {
    const auto deadline = Clock::now() + limit;
    while (!done() && Clock::now() < deadline) {
      events.WaitForEvents(std::chrono::milliseconds(20));
      events.Dispatch([&](const Event& event) {
        if (const auto* state = std::get_if<LinkStateEvent>(&event)) {
          states.push_back(state->state);
        }
      });
    }
    return done();
  };
  Texts expected;
  // Recorded and offered, as the intake does once a detection's line is in the file.
  const auto record = [&](int bib) {
    CKolResult stored = records.AddDetectionRecord("31", std::to_string(bib), CChrono(),
                                                   CChrono(36000 + bib, 0), 0, false);
    link.PushDetection(stored);
    return stored;
  };

  ASSERT_TRUE(link.StartLink(testing::VanishingPeerNetwork::kPeerAddress, peer.Port(), 1,
                             /*stallSeconds=*/1));
  ASSERT_TRUE(pumpUntil([&] { return link.IsLinkConnected(); }));
  for (int bib = 1; bib <= 20; ++bib) {
    expected.push_back(CResultsLink::AddKolClockRequest(record(bib)));
  }
  ASSERT_TRUE(pumpUntil([&] { return peer.Lines().size() == 20 && link.DetectionsToSend() == 0; }))
      << link.DetectionsToSend();

  ASSERT_TRUE(network.CutPeer());
  for (int bib = 21; bib <= 50; ++bib) {
    CKolResult stored = record(bib);
    if (bib == 30) {
      ASSERT_TRUE(records.SetValid(stored.id, 0));  // removed by the operator
    } else {
      expected.push_back(CResultsLink::AddKolClockRequest(stored));
    }
  }
  // Nothing is acknowledged any more: the link finds the connection lost and keeps trying.
  ASSERT_TRUE(pumpUntil([&] {
    return std::count(states.begin(), states.end(), static_cast<int>(kLinkLostRetrying)) == 1;
  }));
  EXPECT_GE(link.DetectionsToSend(), 29u);
  EXPECT_TRUE(link.IsRunning());

  ASSERT_TRUE(network.RestorePeer());
  // The state reaches the window through its queue, possibly after the catch-up went out.
  ASSERT_TRUE(pumpUntil(
      [&] {
        return link.DetectionsToSend() == 0 && peer.Lines().size() >= expected.size() &&
               states.back() == kLinkConnected;
      },
      std::chrono::seconds(30)))
      << link.DetectionsToSend() << " " << peer.Lines().size() << " " << states.back();
  EXPECT_EQ(peer.Lines(), expected);
  EXPECT_EQ(peer.Connections(), 2);
  link.StopLink();
}

}  // namespace
}  // namespace lapora
