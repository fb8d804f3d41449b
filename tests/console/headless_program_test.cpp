// The lapora program itself, run headless on temporary data folders.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/text.h"
#include "resources/messages_boxlink.h"
#include "resources/messages_boxslots.h"
#include "resources/messages_detections.h"
#include "resources/messages_download.h"
#include "resources/messages_foundation.h"
#include "resources/messages_import.h"
#include "resources/messages_resultslink.h"
#include "resources/messages_station.h"
#include "resources/messages_ui.h"
#include "support/loopback_peer.h"
#include "support/read_only_folder.h"
#include "support/simulator_process.h"
#include "support/socket_probes.h"
#include "support/temp_dir.h"

extern char** environ;

namespace lapora {
namespace {

using testing::ReadFile;
using testing::TempDir;
using Clock = std::chrono::steady_clock;

struct ProgramIo {
  int input = -1;               // the program's stdin when given (else a pipe fed by Type)
  bool stderrToOutput = false;  // stderr joins stdout in Output()
};

// One run of the program with its stdin and stdout on pipes.
class Program {
 public:
  explicit Program(const std::vector<std::string>& args, ProgramIo io = {}) {
    int in[2] = {-1, -1};
    int out[2];
    int err[2];
    if (io.input < 0) {
      EXPECT_EQ(pipe(in), 0);
    }
    EXPECT_EQ(pipe(out), 0);
    EXPECT_EQ(pipe(err), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, io.input >= 0 ? io.input : in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, io.stderrToOutput ? out[1] : err[1], 2);
    if (io.input < 0) {
      posix_spawn_file_actions_addclose(&actions, in[1]);
    }
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    std::string program = std::string(LAPORA_BINARY_DIR) + "/lapora";
    std::vector<std::string> all = {program, "--headless"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> envText = {"SDL_AUDIODRIVER=dummy", "LAPORA_SPEECH=0",
                                        "PATH=/usr/bin:/bin"};
    if (const char* home = getenv("HOME")) {
      envText.push_back(std::string("HOME=") + home);
    }
    std::vector<char*> env;
    for (std::string& e : envText) {
      env.push_back(e.data());
    }
    env.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), env.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    if (io.input < 0) {
      close(in[0]);
    }
    close(out[1]);
    close(err[1]);
    m_stdin = in[1];
    m_stdout = out[0];
    m_stderr = err[0];
  }
  ~Program() {
    if (m_pid > 0) {
      kill(m_pid, SIGKILL);
      Wait();
    }
    CloseInput();
    close(m_stdout);
    close(m_stderr);
  }

  void Type(const std::string& text) {
    ASSERT_EQ(write(m_stdin, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  void CloseInput() {
    if (m_stdin >= 0) {
      close(m_stdin);
      m_stdin = -1;
    }
  }
  void Signal(int signal) { kill(m_pid, signal); }

  // Reads stdout until it holds the text (count times) or the deadline passes.
  bool WaitForOutput(const std::string& text, std::size_t count = 1,
                     std::chrono::seconds limit = std::chrono::seconds(30)) {
    Clock::time_point deadline = Clock::now() + limit;
    while (Occurrences(text) < count) {
      if (Clock::now() >= deadline || !ReadSome(deadline)) {
        return Occurrences(text) >= count;
      }
    }
    return true;
  }
  // Reads stdout until it holds the text at or after `from`, or the deadline passes.
  bool WaitForOutputAfter(const std::string& text, std::size_t from,
                          std::chrono::seconds limit = std::chrono::seconds(30)) {
    Clock::time_point deadline = Clock::now() + limit;
    while (m_output.find(text, from) == std::string::npos) {
      if (Clock::now() >= deadline || !ReadSome(deadline)) {
        return m_output.find(text, from) != std::string::npos;
      }
    }
    return true;
  }
  std::size_t Occurrences(const std::string& text) const {
    std::size_t count = 0;
    for (std::size_t at = m_output.find(text); at != std::string::npos;
         at = m_output.find(text, at + text.size())) {
      ++count;
    }
    return count;
  }
  // Waits for the end; returns the exit status (-1 on a signal or after the deadline).
  int Wait() {
    Clock::time_point deadline = Clock::now() + std::chrono::seconds(60);
    while (ReadSome(deadline)) {
    }
    int status = 0;
    if (waitpid(m_pid, &status, 0) != m_pid) {
      return -1;
    }
    m_pid = -1;
    char buffer[4096];
    ssize_t n;
    while (m_stderrOpen && (n = read(m_stderr, buffer, sizeof buffer)) > 0) {
      m_errors.append(buffer, static_cast<std::size_t>(n));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  const std::string& Output() const { return m_output; }
  const std::string& Errors() const { return m_errors; }

 private:
  bool ReadSome(Clock::time_point deadline) {
    int ms = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    if (ms <= 0) {
      return false;
    }
    // Standard error is read along, so that neither pipe can fill up and block the program.
    pollfd fds[2] = {{m_stdout, POLLIN, 0}, {m_stderrOpen ? m_stderr : -1, POLLIN, 0}};
    if (poll(fds, 2, ms) <= 0) {
      return false;
    }
    char buffer[4096];
    if (fds[1].revents != 0) {
      ssize_t n = read(m_stderr, buffer, sizeof buffer);
      if (n > 0) {
        m_errors.append(buffer, static_cast<std::size_t>(n));
      } else {
        m_stderrOpen = false;
      }
    }
    if (fds[0].revents == 0) {
      return true;
    }
    ssize_t n = read(m_stdout, buffer, sizeof buffer);
    if (n <= 0) {
      return false;
    }
    m_output.append(buffer, static_cast<std::size_t>(n));
    return true;
  }

  pid_t m_pid = -1;
  int m_stdin = -1;
  int m_stdout = -1;
  int m_stderr = -1;
  bool m_stderrOpen = true;
  std::string m_output;
  std::string m_errors;
};

bool IsSocket(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::is_socket(std::filesystem::symlink_status(path, ignored));
}

std::string StartBanner() {
  return StrF(Tr(kMsgStartBanner).c_str(), "Version 1.40 - 9 jun 2o26");
}

TEST(HeadlessProgram, FirstRunCreatesTheSettingsAndTheLogThenExits) {
  TempDir dir;
  Program run({"--data-dir", dir.path(), "--duration", "0"});
  run.CloseInput();
  EXPECT_EQ(run.Wait(), 0);

  std::string ini = ReadFile(dir.File("Lapora.ini"));
  for (const char* key : {"GVarnexIgnoreInputMsDelta=50",
                          "GVarnexIgnoreOutputMsDelta=300",
                          "GVarnexReadMsDelta=1",
                          "GVarnexConnectionTimeout=2",
                          "GVarnexEmptyDetectionsActions=-",
                          "GVarnexExportFile=",
                          "Port=8283",
                          "Host=localhost",
                          "ReconnectSeconds=15",
                          "GLinkStallSeconds=30",
                          "BCatchUp=1",
                          "GVarnexIgnoreUnknownTags=0",
                          "SleepMilliAfterLeadingStart=3000",
                          "SleepMilliAfterLeadingStop=3000",
                          "SleepMilliAfterSetTime=2000",
                          "GBoxReconnectSeconds=30",
                          "GDaysToAdd=0",
                          "BAutoRecover=1",
                          "BAbsClock=0",
                          "LogWinLevel=50",
                          "LogFileLevel=75",
                          "BLogDetections=1",
                          "BScrollDetections=1"}) {
    EXPECT_NE(ini.find(key), std::string::npos) << key;
  }
  EXPECT_EQ(ini.find("GVarnexBeepDetections"), std::string::npos);
  EXPECT_EQ(ini.find("GVarnexBeepWhenQuit"), std::string::npos);
  EXPECT_EQ(ini.find("GBoxDiscoverySeconds"), std::string::npos);

  std::string log = ReadFile(dir.File("logfiles/Lapora.log"));
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log.substr(0, 2), "\r\n");
  std::size_t banner = log.find(" : " + StartBanner() + "\r\n");
  std::size_t exit = log.find(" : ------------------------ Sortie Lapora\r\n");
  ASSERT_NE(banner, std::string::npos);
  ASSERT_NE(exit, std::string::npos);
  EXPECT_LT(banner, exit);
  EXPECT_EQ(log.size(), exit + std::string(" : ------------------------ Sortie Lapora\r\n").size());

  // The log lines of the window on stdout, in UTF-8.
  EXPECT_NE(run.Output().find(Cp1252ToUtf8(Tr(Message{"+++ Incoming detections saved in ",
                                                      "+++ Détections sauvegardées sous "}))),
            std::string::npos);
  EXPECT_NE(run.Output().find("+ Sortie du module d'acquisition..."), std::string::npos);
}

// A second start and `lapora --popfront` both bring the running window to the front: the
// running instance logs each request. A client that connects and says nothing holds no one.
TEST(HeadlessProgram, SecondStartAndPopFrontReachTheRunningInstance) {
  TempDir dir;
  const std::string requested = Cp1252ToUtf8(Tr(kMsgBringToFrontRequested));
  Program first({"--data-dir", dir.path()});
  ASSERT_TRUE(first.WaitForOutput("+ "));  // the opening lines are out: it holds the lock

  Program popFront({"--data-dir", dir.path(), "--popfront"}, {.stderrToOutput = true});
  EXPECT_EQ(popFront.Wait(), 0);
  EXPECT_EQ(popFront.Output(), "");
  EXPECT_TRUE(first.WaitForOutput(requested, 1));

  int silent = testing::ConnectLocalSocket(dir.File("Lapora.sock"));
  ASSERT_GE(silent, 0);
  Program whileSilent({"--data-dir", dir.path(), "--popfront"}, {.stderrToOutput = true});
  EXPECT_EQ(whileSilent.Wait(), 0) << whileSilent.Output();
  EXPECT_TRUE(first.WaitForOutput(requested, 2));
  // The silent client is dropped in the end, unanswered.
  pollfd dropped{silent, POLLIN, 0};
  char byte = 0;
  EXPECT_EQ(poll(&dropped, 1, 30000), 1);
  EXPECT_EQ(read(silent, &byte, 1), 0);
  close(silent);

  Program second({"--data-dir", dir.path(), "--duration", "0"});
  second.CloseInput();
  EXPECT_EQ(second.Wait(), 1);
  EXPECT_NE(second.Output().find(Cp1252ToUtf8(Tr(kMsgAlreadyStarted))), std::string::npos);
  EXPECT_TRUE(first.WaitForOutput(requested, 3)) << first.Output();

  // The first one is untouched: it still answers its commands.
  first.Type("status\n");
  ASSERT_TRUE(first.WaitForOutput("counter: "));
  first.Type("quit\n");
  EXPECT_EQ(first.Wait(), 0);
  EXPECT_NE(first.Output().find("answer: Yes"), std::string::npos);
  std::string log = ReadFile(dir.File("logfiles/Lapora.log"));
  // One run, one start banner and one exit banner: the refused instance wrote neither.
  EXPECT_EQ(log.find(StartBanner()), log.rfind(StartBanner()));
  EXPECT_NE(log.find("------------------------ Sortie Lapora"), std::string::npos);

  // Gone with its instance: nobody answers any more.
  EXPECT_FALSE(IsSocket(dir.File("Lapora.sock")));
  Program nobody({"--data-dir", dir.path(), "--popfront"}, {.stderrToOutput = true});
  EXPECT_EQ(nobody.Wait(), 1);
  EXPECT_NE(nobody.Output().find("lapora: no running Lapora to bring to the front"),
            std::string::npos)
      << nobody.Output();
}

// The socket of a killed run stays behind: it answers nobody and the next start takes it over.
TEST(HeadlessProgram, SocketLeftByAKilledRunIsTakenOver) {
  TempDir dir;
  {
    Program killed({"--data-dir", dir.path()});
    ASSERT_TRUE(killed.WaitForOutput("+ "));
    killed.Signal(SIGKILL);
    EXPECT_EQ(killed.Wait(), -1);
  }
  ASSERT_TRUE(IsSocket(dir.File("Lapora.sock")));
  Program nobody({"--data-dir", dir.path(), "--popfront"}, {.stderrToOutput = true});
  EXPECT_EQ(nobody.Wait(), 1);
  EXPECT_NE(nobody.Output().find("no running Lapora"), std::string::npos) << nobody.Output();

  Program next({"--data-dir", dir.path()});
  ASSERT_TRUE(next.WaitForOutput("+ "));
  Program popFront({"--data-dir", dir.path(), "--popfront"}, {.stderrToOutput = true});
  EXPECT_EQ(popFront.Wait(), 0) << popFront.Output();
  EXPECT_TRUE(next.WaitForOutput(Cp1252ToUtf8(Tr(kMsgBringToFrontRequested))));
  next.Signal(SIGTERM);
  EXPECT_EQ(next.Wait(), 0);
}

// Typed on a terminal: the status shows the level last chosen, remove and restore count what
// they changed, and the terminal is left blocking as it was found.
TEST(HeadlessProgram, ConsoleOnATerminal) {
  TempDir dir;
  testing::WriteFile(dir.File("Lapora.ini"),
                     "[OstraBoxes]\r\nBoxHost0=127.0.0.1\r\nBoxPort0=1\r\nBoxIdDetector0=31\r\n");
  int terminal = -1;
  int programSide = -1;
  ASSERT_EQ(openpty(&terminal, &programSide, nullptr, nullptr, nullptr), 0);
  ASSERT_EQ(fcntl(programSide, F_GETFL) & O_NONBLOCK, 0);
  Program run({"--data-dir", dir.path()}, {.input = programSide});
  std::string typed =
      "insert 7 10:00:00 31\ninsert 8 10:00:01 31\nlevel 75\nlevel 80\nstatus\n"
      "remove 1 1 99\nremove 1\nrestore 1 2\n";
  ASSERT_EQ(write(terminal, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
  ASSERT_TRUE(run.WaitForOutput("restored: "));
  EXPECT_NE(fcntl(programSide, F_GETFL) & O_NONBLOCK, 0);  // the loop's own setting meanwhile
  ASSERT_EQ(write(terminal, "quit\n", 5), 5);
  EXPECT_EQ(run.Wait(), 0);
  EXPECT_EQ(fcntl(programSide, F_GETFL) & O_NONBLOCK, 0);

  const std::string& text = run.Output();
  EXPECT_NE(text.find("inserted: id 2\n"), std::string::npos) << text;
  EXPECT_NE(text.find("usage: level 0|25|50|75|100\n"), std::string::npos);
  EXPECT_NE(text.find("log level: 75 (selector: " +
                      Cp1252ToUtf8(std::string(TrimSpace(Tr(kMsgLevelHigh)))) + ")\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("unknown detection id: 99\nremoved: 1 recorded detection\n"),
            std::string::npos);
  EXPECT_NE(text.find("\nremoved: 0 recorded detection\n"), std::string::npos);
  EXPECT_NE(text.find("restored: 1 recorded detection\n"), std::string::npos);
  close(terminal);
  close(programSide);
}

TEST(HeadlessProgram, SigtermClosesLikeCtrlExit) {
  TempDir dir;
  Program run({"--data-dir", dir.path()});
  ASSERT_TRUE(run.WaitForOutput("+ "));
  run.Signal(SIGTERM);
  EXPECT_EQ(run.Wait(), 0);
  EXPECT_EQ(run.Output().find("question:"), std::string::npos);
  EXPECT_NE(
      ReadFile(dir.File("logfiles/Lapora.log")).find("------------------------ Sortie Lapora"),
      std::string::npos);
}

// A box simulator running one race of `runners` at `rate` lines a second, its chip table in the
// data folder and what it sent in box-data.txt there.
std::vector<std::string> RaceBoxArgs(const TempDir& dir, int runners, int rate) {
  return {"--tcp",
          "0",
          "--race",
          "--runners",
          std::to_string(runners),
          "--rate",
          std::to_string(rate),
          "--loop",
          "--start-delay-ms",
          "0",
          "--chip-table",
          dir.File("ChipTable.dtb"),
          "--data-file",
          dir.File("box-data.txt")};
}

// Declares the simulator as box 1 (detector 31) in a fresh settings file, followed by the
// sections of `more`.
void DeclareRaceBox(testing::SimulatorProcess& sim, const TempDir& dir,
                    const std::string& more = "") {
  ASSERT_FALSE(sim.WaitEvent("chip table ").empty());
  std::string port = sim.WaitEvent("listening on ");
  ASSERT_FALSE(port.empty());
  testing::WriteFile(dir.File("Lapora.ini"), "[OstraBoxes]\r\nBoxHost0=127.0.0.1\r\nBoxPort0=" +
                                                 port + "\r\nBoxIdDetector0=31\r\n" + more);
}

TEST(HeadlessProgram, ConnectOptionConnectsTheDeclaredBoxAtStart) {
  TempDir dir;
  testing::SimulatorProcess sim(LAPORA_BINARY_DIR "/tools/boxsim/boxsim",
                                {"--tcp", "0", "--race", "--runners", "10", "--rate", "20",
                                 "--loop", "--chip-table", dir.File("ChipTable.dtb")});
  ASSERT_NO_FATAL_FAILURE(DeclareRaceBox(sim, dir));

  Program run({"--data-dir", dir.path(), "--connect"});
  ASSERT_TRUE(run.WaitForOutput("\t# 1\n")) << run.Output();
  EXPECT_NE(run.Output().find("detection: "), std::string::npos);
  EXPECT_EQ(run.Output().find("question:"), std::string::npos);  // connecting asks nothing
  run.Type("status\n");
  ASSERT_TRUE(run.WaitForOutput("connect to boxes: pressed"));
  EXPECT_NE(run.Output().find("box 1: green "), std::string::npos);
  run.Type("quit\n");
  EXPECT_EQ(run.Wait(), 0);
  EXPECT_FALSE(sim.WaitEvent("disconnected").empty());

  // The detections are in this run's incoming-detections file.
  std::string incoming;
  for (const auto& entry : std::filesystem::directory_iterator(dir.File("logfiles"))) {
    if (entry.path().extension() == ".dat") {
      incoming = ReadFile(entry.path().string());
    }
  }
  EXPECT_EQ(incoming.rfind("1\t31\t1\t1\t", 0), 0u) << incoming;
}

// The seconds of the first signed offset ("+2.003") in the text; 0 when there is none.
double SignedSeconds(const std::string& text) {
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if ((text[i] == '+' || text[i] == '-') &&
        std::isdigit(static_cast<unsigned char>(text[i + 1]))) {
      return std::strtod(text.c_str() + i, nullptr);
    }
  }
  return 0.0;
}

// The words of the line of output that starts with prefix, looked for from position from.
std::vector<std::string> WordsOfLine(const std::string& output, const std::string& prefix,
                                     std::size_t from) {
  std::size_t at = output.find("\n" + prefix, from);
  if (at == std::string::npos) {
    return {};
  }
  std::istringstream line(output.substr(at + 1, output.find('\n', at + 1) - at - 1));
  std::vector<std::string> words;
  for (std::string word; line >> word;) {
    words.push_back(word);
  }
  return words;
}

// A box whose clock runs 2 s ahead: one alarm naming the box and its offset, the figures in
// the status and in the boxes table, the command listed by help.
TEST(HeadlessProgram, BoxFiguresInStatusAndTableAndOneClockAlarm) {
  TempDir dir;
  testing::SimulatorProcess sim(
      LAPORA_BINARY_DIR "/tools/boxsim/boxsim",
      {"--tcp", "0", "--race", "--runners", "10", "--count", "10", "--rate", "50", "--status-ms",
       "200", "--clock-offset-ms", "2000", "--chip-table", dir.File("ChipTable.dtb")});
  ASSERT_NO_FATAL_FAILURE(DeclareRaceBox(sim, dir));

  Program run({"--data-dir", dir.path(), "--connect"});
  ASSERT_TRUE(run.WaitForOutput("\t# 10\n")) << run.Output();
  const std::string alarm = Cp1252ToUtf8(Tr(kMsgBoxClockDrift));
  const std::string alarmWords = alarm.substr(5, alarm.find('%', 5) - 5);  // after "%s : "
  ASSERT_TRUE(run.WaitForOutput(alarmWords)) << run.Output();
  std::size_t alarmAt = run.Output().find(alarmWords);
  std::size_t lineStart = run.Output().rfind('\n', alarmAt) + 1;
  std::string alarmLine =
      run.Output().substr(lineStart, run.Output().find('\n', alarmAt) - lineStart);
  EXPECT_NE(alarmLine.find("######## "), std::string::npos) << alarmLine;
  EXPECT_NE(alarmLine.find(" 1 ["), std::string::npos) << alarmLine;  // the box's number
  // Stamped by the box as it queued its report: the delivery takes from the offset, a few
  // hundred ms at worst on a loaded machine under TSan.
  EXPECT_NEAR(SignedSeconds(alarmLine.substr(alarmAt - lineStart)), 1.85, 0.35) << alarmLine;
  EXPECT_NE(alarmLine.find("1000 ms"), std::string::npos) << alarmLine;

  // Figures settle once the ten detections are in and counted. The box thread counts a read
  // just after storing it, so the tenth may be shown before it is counted: asked again until then.
  const std::string detections =
      Cp1252ToUtf8(StrF(Tr(kMsgBoxSlotDetections).c_str(), 10LL, 0LL, 0LL));
  const std::string detectionsLine = detections.substr(0, detections.size() - 1);
  std::size_t from = 0;
  std::string status;
  const Clock::time_point settled = Clock::now() + std::chrono::seconds(30);
  do {
    from = run.Output().size();
    run.Type("status\n");
    ASSERT_TRUE(run.WaitForOutputAfter("log level: ", from)) << run.Output();
    status = run.Output().substr(from);
  } while (status.find(detectionsLine) == std::string::npos && Clock::now() < settled);
  EXPECT_FALSE(WordsOfLine(run.Output(), "box 1: green ", from - 1).empty());
  EXPECT_NE(status.find(detectionsLine), std::string::npos) << status;
  const std::string reconnections = Cp1252ToUtf8(StrF(Tr(kMsgBoxSlotReconnections).c_str(), 0));
  EXPECT_NE(status.find(reconnections.substr(0, reconnections.size() - 1)), std::string::npos)
      << status;
  const std::string offsetLine = Cp1252ToUtf8(Tr(kMsgBoxSlotClockAlarm));
  EXPECT_NE(status.find(offsetLine.substr(0, offsetLine.find('%'))), std::string::npos) << status;

  from = run.Output().size();
  run.Type("boxes\n");
  ASSERT_TRUE(run.WaitForOutputAfter("\n4 ", from)) << run.Output();
  std::vector<std::string> header = WordsOfLine(run.Output(), "box ", from - 1);
  ASSERT_GE(header.size(), 2u);
  EXPECT_EQ(header[1], "state");
  std::vector<std::string> row = WordsOfLine(run.Output(), "1 ", from);
  // 1 connected reads/s recorded ignored invalid <age> s reconnections <offset> s!
  ASSERT_EQ(row.size(), 11u) << run.Output().substr(from);
  EXPECT_EQ(row[1], "connected");
  EXPECT_EQ(row[3], "10");
  EXPECT_EQ(row[4], "0");
  EXPECT_EQ(row[5], "0");
  EXPECT_EQ(row[8], "0");
  EXPECT_NEAR(SignedSeconds(row[9]), 1.85, 0.35) << row[9];
  EXPECT_EQ(row[10], "s!");  // beyond the alarm limit
  std::vector<std::string> undeclared = WordsOfLine(run.Output(), "2 ", from);
  ASSERT_GE(undeclared.size(), 3u);
  EXPECT_EQ(undeclared[1], "undefined");
  EXPECT_EQ(undeclared[2], "-");

  from = run.Output().size();
  run.Type("help\n");
  ASSERT_TRUE(run.WaitForOutputAfter("  boxes ", from)) << run.Output();

  run.Type("quit\n");
  EXPECT_EQ(run.Wait(), 0);
  // One alarm for a clock that stayed off all along.
  std::size_t alarms = 0;
  for (std::size_t at = run.Output().find(alarmWords); at != std::string::npos;
       at = run.Output().find(alarmWords, at + 1)) {
    ++alarms;
  }
  EXPECT_EQ(alarms, 1u);
}

TEST(HeadlessProgram, FoldersAndLockThatCannotBeMadeStopItAtStartWithPathAndReason) {
  TempDir dir;
  testing::WriteFile(dir.File("file"), "x");
  ASSERT_TRUE(std::filesystem::create_directories(dir.File("locked/Lapora.mtx")));
  struct Case {
    std::string dataDir;
    Message message;
    std::string pathAndReason;
  };
  std::vector<Case> cases = {
      {dir.File("file/data"), kMsgDataFolderRefused,
       dir.File("file/data") + ": " + std::strerror(ENOTDIR)},
      {dir.File("file"), kMsgDataFolderRefused, dir.File("file") + ": " + std::strerror(ENOTDIR)},
      {dir.File("locked"), kMsgInstanceLockRefused,
       dir.File("locked/Lapora.mtx") + ": " + std::strerror(EISDIR)},
  };
  testing::ReadOnlyFolder readOnly(dir.File("ro"));
  if (readOnly.Usable()) {
    cases.push_back({readOnly.Path() + "/data", kMsgDataFolderRefused,
                     readOnly.Path() + "/data: " + std::strerror(geteuid() == 0 ? EROFS : EACCES)});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dataDir);
    Program run({"--data-dir", c.dataDir, "--duration", "0"});
    run.CloseInput();
    EXPECT_EQ(run.Wait(), 1);
    EXPECT_EQ(run.Errors(),
              Cp1252ToUtf8(StrF(Tr(c.message).c_str(), c.pathAndReason.c_str())) + "\n");
    EXPECT_EQ(run.Output().find(Cp1252ToUtf8(Tr(kMsgAlreadyStarted))), std::string::npos);
  }
}

// A results software that accepts the connection and never reads a byte, with a small
// receive buffer so that what it does not read is soon waiting on our side.
class SilentResultsSoftware {
 public:
  SilentResultsSoftware() {
    m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int small = 4096;
    setsockopt(m_listen, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(listen(m_listen, 1), 0);
    socklen_t length = sizeof address;
    getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
  }
  ~SilentResultsSoftware() {
    if (m_client >= 0) {
      close(m_client);
    }
    close(m_listen);
  }
  int Port() const { return m_port; }
  bool Accept() {
    pollfd waited{m_listen, POLLIN, 0};
    if (poll(&waited, 1, 30000) != 1) {
      return false;
    }
    m_client = accept(m_listen, nullptr, nullptr);
    return m_client >= 0;
  }

 private:
  int m_listen = -1;
  int m_client = -1;
  int m_port = 0;
};

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

TEST(HeadlessProgram, AResultsSoftwareThatNeverReadsIsALostConnectionAndRecordingGoesOn) {
  TempDir dir;
  SilentResultsSoftware results;
  testing::SimulatorProcess sim(LAPORA_BINARY_DIR "/tools/boxsim/boxsim",
                                {"--tcp", "0", "--race", "--runners", "5000", "--rate", "400",
                                 "--chip-table", dir.File("ChipTable.dtb")});
  ASSERT_NO_FATAL_FAILURE(DeclareRaceBox(
      sim, dir,
      "[Settings]\r\nGVarnexIgnoreInputMsDelta=0\r\n[DirectConnection]\r\nHost=127.0.0.1\r\nPort=" +
          std::to_string(results.Port()) + "\r\nGLinkStallSeconds=1\r\n"));

  Program run({"--data-dir", dir.path(), "--connect", "--direct"});
  ASSERT_TRUE(results.Accept());
  const std::string alert = Cp1252ToUtf8("######## " + Tr(kMsgLinkLost));
  ASSERT_TRUE(run.WaitForOutput(alert)) << run.Output().substr(0, 2000);
  EXPECT_NE(run.Output().find(Cp1252ToUtf8(StrF(Tr(kMsgLinkStalled).c_str(), 1))),
            std::string::npos);
  // The box goes on being read and recorded, and the console still answers.
  ASSERT_TRUE(run.WaitForOutputAfter("detection: ", run.Output().find(alert)));
  run.Type("status\n");
  ASSERT_TRUE(run.WaitForOutput("counter: "));
  run.Type("quit\n");
  EXPECT_EQ(run.Wait(), 0);

  // Every detection shown is in this run's incoming-detections file.
  std::string incoming;
  for (const auto& entry : std::filesystem::directory_iterator(dir.File("logfiles"))) {
    if (entry.path().extension() == ".dat") {
      incoming = ReadFile(entry.path().string());
    }
  }
  EXPECT_GT(Count(run.Output(), "detection: "), 0u);
  EXPECT_EQ(Count(incoming, "\n"), Count(run.Output(), "detection: "));
}

std::string Utf8(const std::string& cp1252) {
  return Cp1252ToUtf8(cp1252);
}

// The log text of a box's discovery that gave up after `seconds`, without its prefix.
std::string DiscoveryGaveUp(int seconds) {
  std::string format = Tr(kMsgNoDataReceived);
  return Utf8(StrF(format.substr(format.find("%s") + 2).c_str(), seconds));
}

// Box 1 is the simulator, box 2 a peer that accepts, sends half a line and then holds the
// connection: "connect" returns at once, the console answers, box 1's detections flow, and
// box 2, held for as long as the test likes, holds no one. Its discovery waits far longer
// than the test, so the hold ends when the peer finishes its line, never by the machine's
// speed.
TEST(HeadlessProgram, ConnectingAllBoxesWaitsForNoStalledBox) {
  TempDir dir;
  testing::SimulatorProcess sim(
      LAPORA_BINARY_DIR "/tools/boxsim/boxsim",
      {"--tcp", "0", "--race", "--runners", "20", "--rate", "20", "--start-delay-ms", "0", "--loop",
       "--chip-table", dir.File("ChipTable.dtb")});
  ASSERT_FALSE(sim.WaitEvent("chip table ").empty());
  std::string port = sim.WaitEvent("listening on ");
  ASSERT_FALSE(port.empty());
  testing::LoopbackPeer stalled;
  testing::WriteFile(dir.File("Lapora.ini"),
                     "[Settings]\r\nGBoxDiscoverySeconds=600\r\n[OstraBoxes]\r\n"
                     "BoxHost0=127.0.0.1\r\nBoxPort0=" +
                         port +
                         "\r\nBoxIdDetector0=31\r\n"
                         "BoxHost1=127.0.0.1\r\nBoxPort1=" +
                         std::to_string(stalled.Port()) + "\r\nBoxIdDetector1=32\r\n");

  Program run({"--data-dir", dir.path()});
  ASSERT_TRUE(run.WaitForOutput("+ "));
  run.Type("connect\n");
  ASSERT_TRUE(stalled.Accept());
  stalled.Send("58@heartBe");  // and nothing more until box 1 has been seen recording
  run.Type("status\n");
  ASSERT_TRUE(run.WaitForOutput("connect to boxes: ")) << run.Output();
  ASSERT_TRUE(run.WaitForOutput("detection: ")) << run.Output();
  // The console answered, showing box 2 still coming up, and box 1 recorded, all while box 2
  // was held: the connection of all boxes has not ended.
  const std::string allDone = Utf8(StrF(Tr(kMsgConnectAllDone).c_str(), 2, 2));
  std::string out = run.Output();
  EXPECT_NE(out.find("box 2: orange "), std::string::npos) << out;
  EXPECT_EQ(out.find(allDone), std::string::npos) << out;
  // The rest of box 2's line ends its discovery; then the connection of all boxes reports its
  // end, and box 2 got its channels opened.
  stalled.Send("at@0001@10:00:00;");
  EXPECT_TRUE(run.WaitForOutput(allDone)) << run.Output();
  EXPECT_EQ(stalled.ReceiveCommands(4),
            "58@readerOpen@0000@1;58@readerOpen@0001@2;58@readerOpen@0002@3;"
            "58@readerOpen@0003@4;");
  EXPECT_EQ(run.Output().find(DiscoveryGaveUp(600)), std::string::npos) << run.Output();
  EXPECT_EQ(run.Output().find("question:"), std::string::npos);
  run.Type("quit\n");
  EXPECT_EQ(run.Wait(), 0);
}

TEST(HeadlessProgram, QuitEndsAConnectionThatAStalledBoxHolds) {
  TempDir dir;
  testing::LoopbackPeer stalled;
  testing::WriteFile(dir.File("Lapora.ini"), "[OstraBoxes]\r\nBoxHost0=127.0.0.1\r\nBoxPort0=" +
                                                 std::to_string(stalled.Port()) +
                                                 "\r\nBoxIdDetector0=31\r\n");
  Program run({"--data-dir", dir.path(), "--connect"});
  ASSERT_TRUE(stalled.Accept());
  stalled.Send("57@heartBe");
  ASSERT_TRUE(run.WaitForOutput(
      Utf8(StrF(Tr(kMsgBoxInitialized).c_str(), 1, "127.0.0.1", stalled.Port(), "31"))))
      << run.Output();
  run.Type("quit\n");
  EXPECT_EQ(run.Wait(), 0);
  // Ended by the stop, not by the box's ten seconds running out: the discovery never gave up
  // by itself, and the given-up connection reported nothing.
  EXPECT_EQ(run.Output().find(DiscoveryGaveUp(10)), std::string::npos) << run.Output();
  EXPECT_EQ(run.Output().find(Utf8(Tr(kMsgNoBoxInitialized))), std::string::npos);
  EXPECT_NE(run.Output().find("+ Sortie du module d'acquisition..."), std::string::npos);
  EXPECT_TRUE(stalled.WaitForClose());
}

// The lines of this run's incoming-detections files in the log folder.
std::size_t IncomingLines(const std::string& logFolder) {
  std::size_t lines = 0;
  for (const auto& entry : std::filesystem::directory_iterator(logFolder)) {
    if (entry.path().extension() == ".dat") {
      std::string text = ReadFile(entry.path().string());
      lines += static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    }
  }
  return lines;
}

// "Connect to boxes", pressed again (every box stopped, the file closed), then box 1 connected
// from its menu: every detection the box sends is in the incoming file.
TEST(HeadlessProgram, MenuConnectAfterDisconnectAllWritesEveryDetection) {
  constexpr int kRunners = 20;
  TempDir dir;
  testing::SimulatorProcess sim(LAPORA_BINARY_DIR "/tools/boxsim/boxsim",
                                RaceBoxArgs(dir, kRunners, 10));
  ASSERT_NO_FATAL_FAILURE(DeclareRaceBox(sim, dir));

  Program run({"--data-dir", dir.path()});
  ASSERT_TRUE(run.WaitForOutput("+ ")) << run.Output();
  run.Type("connect\n");
  ASSERT_TRUE(run.WaitForOutput("\t# 2\n")) << run.Output();
  run.Type("connect\n");  // released: disconnect all
  ASSERT_FALSE(sim.WaitEvent("disconnected").empty());
  ASSERT_TRUE(run.WaitForOutput("answer: Yes")) << run.Output();
  run.Type("box 1 connect\n");
  ASSERT_FALSE(sim.WaitEvent("race done: sent ", std::chrono::seconds(30)).empty());
  ASSERT_TRUE(run.WaitForOutput(StrF("\t# %d\n", kRunners))) << run.Output();
  run.Type("quit\n");
  EXPECT_EQ(run.Wait(), 0);

  std::string sent = ReadFile(dir.File("box-data.txt"));
  EXPECT_EQ(std::count(sent.begin(), sent.end(), '\n'), kRunners);
  EXPECT_EQ(IncomingLines(dir.File("logfiles")), static_cast<std::size_t>(kRunners))
      << run.Output();
}

// The detection requests of this run's incoming-detections files, in file order, as the results
// software should get them ("AddKolClock(1<TAB>detector<TAB>bib<TAB>1<TAB>time)"), leaving out
// the record ids in `removed` (a line's number is its record id in a run without a reset).
std::vector<std::string> IncomingRequests(const std::string& logFolder,
                                          const std::set<int>& removed) {
  std::vector<std::string> requests;
  for (const auto& entry : std::filesystem::directory_iterator(logFolder)) {
    if (entry.path().extension() != ".dat") {
      continue;
    }
    std::istringstream lines(ReadFile(entry.path().string()));
    std::string line;
    while (std::getline(lines, line)) {
      std::istringstream fields(line);
      std::string number;
      std::string detector;
      std::string bib;
      std::string one;
      std::string time;
      std::getline(fields, number, '\t');
      std::getline(fields, detector, '\t');
      std::getline(fields, bib, '\t');
      std::getline(fields, one, '\t');
      std::getline(fields, time, '\t');
      if (removed.count(std::atoi(number.c_str())) == 0) {
        requests.push_back("AddKolClock(1\t" + detector + "\t" + bib + "\t1\t" + time + ")");
      }
    }
  }
  return requests;
}

std::vector<std::string> FileLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream text(ReadFile(path));
  for (std::string line; std::getline(text, line);) {
    lines.push_back(line);
  }
  return lines;
}

// The results software is away for 10 s in the middle of a race (shut down, then started again
// on the same port). The program makes the connection again by itself, and in the end the results
// software holds every recorded detection exactly once, in record order, except the one the
// operator removed while it was away; the count of detections to send goes back to none.
TEST(HeadlessProgram, ResultsSoftwareAwayMidRaceEndsWithEveryDetectionReceivedOnce) {
  constexpr int kRunners = 400;
  constexpr int kRate = 20;  // reads a second: the race lasts 20 s
  TempDir dir;
  const std::string record = dir.File("results-record.txt");
  testing::SimulatorProcess box(LAPORA_BINARY_DIR "/tools/boxsim/boxsim",
                                RaceBoxArgs(dir, kRunners, kRate));
  ASSERT_FALSE(box.WaitEvent("chip table ").empty());
  const std::string boxPort = box.WaitEvent("listening on ");
  ASSERT_FALSE(boxPort.empty());
  const std::vector<std::string> resultsArgs = {"--bind", "127.0.0.1", "--quiet", "--record",
                                                record};
  std::vector<std::string> firstArgs = {"--port", "0"};
  firstArgs.insert(firstArgs.end(), resultsArgs.begin(), resultsArgs.end());
  auto results = std::make_unique<testing::SimulatorProcess>(
      LAPORA_BINARY_DIR "/tools/resultsim/resultsim", firstArgs);
  const std::string resultsPort = results->WaitEvent("listening on ");
  ASSERT_FALSE(resultsPort.empty());
  testing::WriteFile(dir.File("Lapora.ini"),
                     "[OstraBoxes]\r\nBoxHost0=127.0.0.1\r\nBoxPort0=" + boxPort +
                         "\r\nBoxIdDetector0=31\r\n[DirectConnection]\r\nHost=127.0.0.1\r\n"
                         "Port=" +
                         resultsPort + "\r\nReconnectSeconds=1\r\n");
  const std::string none = Utf8(Tr(kMsgNoDetectionToSend));

  Program run({"--data-dir", dir.path(), "--connect", "--direct"});
  ASSERT_FALSE(results->WaitEvent("client connected ").empty());
  ASSERT_TRUE(run.WaitForOutput("detection: ", 4 * kRate)) << run.Output();

  results.reset();  // shut down: SIGTERM
  const std::string alert = Utf8("######## " + Tr(kMsgLinkLost));
  ASSERT_TRUE(run.WaitForOutput(alert)) << run.Output();
  const std::size_t shownAtLoss = run.Occurrences("detection: ");
  // The operator enters two detections by hand meanwhile and removes the first.
  run.Type("insert 9001 10:00:00 31\n");
  ASSERT_TRUE(run.WaitForOutput("inserted: id ", 1));
  const std::size_t idAt = run.Output().find("inserted: id ") + 13;
  const int removedId = std::atoi(run.Output().c_str() + idAt);
  run.Type("remove " + std::to_string(removedId) + "\n");
  ASSERT_TRUE(run.WaitForOutput("removed: 1 recorded detection"));
  run.Type("insert 9002 10:00:01 31\n");
  ASSERT_TRUE(run.WaitForOutput("inserted: id ", 2));
  // Ten seconds of the race go by while it is away.
  ASSERT_TRUE(run.WaitForOutput("detection: ", shownAtLoss + 10 * kRate)) << run.Output();
  std::size_t from = run.Output().size();
  run.Type("status\n");
  const std::string waitingPrefix = "direct connection: pressed, connecting, ";
  ASSERT_TRUE(run.WaitForOutputAfter(waitingPrefix, from)) << run.Output().substr(from);
  const int waiting = std::atoi(run.Output().c_str() + run.Output().find(waitingPrefix, from) +
                                waitingPrefix.size());
  // Every detection shown since the loss waits (the removed one counts until it is skipped).
  EXPECT_GE(waiting, 10 * kRate) << run.Output().substr(from);

  std::vector<std::string> againArgs = {"--port", resultsPort};
  againArgs.insert(againArgs.end(), resultsArgs.begin(), resultsArgs.end());
  results = std::make_unique<testing::SimulatorProcess>(
      LAPORA_BINARY_DIR "/tools/resultsim/resultsim", againArgs);
  ASSERT_FALSE(results->WaitEvent("client connected ").empty());
  ASSERT_FALSE(box.WaitEvent("race done: sent ", std::chrono::seconds(40)).empty());
  ASSERT_TRUE(run.WaitForOutput("detection: ", kRunners + 2)) << run.Output();
  // The status shows the count going back to none.
  bool allSent = false;
  for (int attempt = 0; attempt < 100 && !allSent; ++attempt) {
    from = run.Output().size();
    run.Type("status\n");
    ASSERT_TRUE(run.WaitForOutputAfter("log level: ", from));
    allSent = run.Output().find("direct connection: pressed, connected, " + none + "\n", from) !=
              std::string::npos;
    if (!allSent) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  EXPECT_TRUE(allSent) << run.Output().substr(from);
  const std::vector<std::string> expected = IncomingRequests(dir.File("logfiles"), {removedId});
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (FileLines(record).size() < expected.size() && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  run.Type("quit\n");
  EXPECT_EQ(run.Wait(), 0);

  // The ledger: the incoming file against what the results software recorded.
  const std::vector<std::string> received = FileLines(record);
  EXPECT_EQ(expected.size(), static_cast<std::size_t>(kRunners + 1));
  EXPECT_EQ(received, expected);
  std::set<std::string> distinct(received.begin(), received.end());
  std::printf(
      "[ figures  ] recorded %zu (+1 removed), received %zu (%zu distinct), waiting when "
      "the results software came back %d\n",
      expected.size(), received.size(), distinct.size(), waiting);
}

// The disk under the incoming file fills up mid-race: the operator is alerted once, recording
// goes on, and once space is back every detection the box sent is in the file, once.
TEST(HeadlessProgram, FullDiskMidRaceAlertsOnceThenCatchesUp) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "mounting a small tmpfs needs root";
  }
  // More lines than fill the page the file already has: a small disk refuses only new pages.
  constexpr int kRunners = 400;
  TempDir dir;
  const std::string logs = dir.File("logfiles");
  ASSERT_TRUE(std::filesystem::create_directory(logs));
  ASSERT_EQ(mount("tmpfs", logs.c_str(), "tmpfs", 0, "size=256k"), 0) << std::strerror(errno);
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{logs};
  testing::SimulatorProcess sim(LAPORA_BINARY_DIR "/tools/boxsim/boxsim",
                                RaceBoxArgs(dir, kRunners, 50));
  ASSERT_NO_FATAL_FAILURE(DeclareRaceBox(sim, dir));
  const std::string refused = Tr(kMsgDetectionFileRefused);
  const std::string alertTail = Cp1252ToUtf8(refused.substr(refused.find("(%s)") + 4));
  const std::string resumed = Tr(kMsgDetectionFileResumed);
  const std::string resumedTail = Cp1252ToUtf8(resumed.substr(resumed.rfind("%lu") + 3));

  Program run({"--data-dir", dir.path()});
  ASSERT_TRUE(run.WaitForOutput("+ ")) << run.Output();
  run.Type("connect\n");
  ASSERT_TRUE(run.WaitForOutput("\t# 5\n")) << run.Output();

  // Every block left goes to a filler file.
  const std::string filler = logs + "/filler";
  {
    std::ofstream out(filler, std::ios::binary);
    std::string block(1024, 'x');
    while (out.write(block.data(), static_cast<std::streamsize>(block.size())) && out.flush()) {
    }
  }
  ASSERT_TRUE(run.WaitForOutput("message: ")) << run.Output();
  ASSERT_TRUE(run.WaitForOutput(alertTail)) << run.Output();
  // Recording goes on while the file refuses lines.
  const std::size_t shownAtAlert = run.Occurrences("detection: ");
  ASSERT_TRUE(run.WaitForOutput("detection: ", shownAtAlert + 5)) << run.Output();

  std::filesystem::remove(filler);
  ASSERT_TRUE(run.WaitForOutput(resumedTail)) << run.Output();
  ASSERT_FALSE(sim.WaitEvent("race done: sent ", std::chrono::seconds(30)).empty());
  ASSERT_TRUE(run.WaitForOutput(StrF("\t# %d\n", kRunners))) << run.Output();
  run.Type("quit\n");
  EXPECT_EQ(run.Wait(), 0);

  EXPECT_EQ(run.Occurrences("message: "), 1u) << run.Output();
  std::string sent = ReadFile(dir.File("box-data.txt"));
  EXPECT_EQ(std::count(sent.begin(), sent.end(), '\n'), kRunners);
  EXPECT_EQ(IncomingLines(logs), static_cast<std::size_t>(kRunners)) << run.Output();
  // Whole lines, each bib once.
  std::set<std::string> bibs;
  for (const auto& entry : std::filesystem::directory_iterator(logs)) {
    if (entry.path().extension() != ".dat") {
      continue;
    }
    std::istringstream lines(ReadFile(entry.path().string()));
    std::string line;
    while (std::getline(lines, line)) {
      ASSERT_FALSE(line.empty());
      ASSERT_EQ(line.back(), '\r') << line;
      std::istringstream fields(line);
      std::string number;
      std::string detector;
      std::string bib;
      std::getline(fields, number, '\t');
      std::getline(fields, detector, '\t');
      std::getline(fields, bib, '\t');
      EXPECT_TRUE(bibs.insert(bib).second) << "bib " << bib << " twice";
    }
  }
  EXPECT_EQ(bibs.size(), static_cast<std::size_t>(kRunners));
}

// The lines of a text file without their line ends.
std::vector<std::string> TextLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(path));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    lines.push_back(line);
  }
  return lines;
}

// The link to the box breaks for ten seconds in the middle of a race while the box goes on
// reading, storing what it reads and sending none of it when the link is back, as a real box
// does. The ledger: every read the box made (its data file) is in the incoming-detections
// file exactly once, though the replay asked for after the reconnection repeats reads that
// were recorded before the break; the operator's own disconnection later asks for no replay.
TEST(HeadlessProgram, ABoxOutageMidRaceEndsWithEveryReadRecordedOnce) {
  constexpr int kRunners = 20;
  constexpr int kReads = 2 * kRunners;  // two laps
  TempDir dir;
  testing::SimulatorProcess sim(LAPORA_BINARY_DIR "/tools/boxsim/boxsim",
                                {"--tcp",
                                 "0",
                                 "--race",
                                 "--runners",
                                 std::to_string(kRunners),
                                 "--spread",
                                 "10",
                                 "--laps",
                                 "2",
                                 "--realtime",
                                 "--store-offline",
                                 "--loop",
                                 "--start-delay-ms",
                                 "0",
                                 "--drop-after",
                                 "8",
                                 "--drops",
                                 "1",
                                 "--outage-seconds",
                                 "10",
                                 "--chip-table",
                                 dir.File("ChipTable.dtb"),
                                 "--data-file",
                                 dir.File("box-data.txt"),
                                 "--session-log",
                                 dir.File("sessions.txt")});
  ASSERT_NO_FATAL_FAILURE(DeclareRaceBox(sim, dir));

  Program run({"--data-dir", dir.path(), "--connect"});
  ASSERT_FALSE(sim.WaitEvent("disconnected: dropped after 8 detections").empty()) << run.Output();
  std::string rewind = sim.WaitEvent("rewind: ", std::chrono::seconds(40));
  ASSERT_FALSE(rewind.empty()) << run.Output();
  const int replayed = std::atoi(rewind.c_str());
  ASSERT_FALSE(sim.WaitEvent("race done: sent ", std::chrono::seconds(30)).empty());
  ASSERT_TRUE(run.WaitForOutput("detection: ", kReads)) << run.Output();

  // The operator's disconnection and connection: the box is back without a replay.
  run.Type("box 1 disconnect\n");
  ASSERT_FALSE(sim.WaitEvent("disconnected: closed by peer").empty());
  run.Type("box 1 connect\n");
  ASSERT_EQ(sim.WaitEvent("command: 57@readerOpen@0012@"), "4;")
      << testing::JoinLines(sim.Lines()) << run.Output();
  run.Type("quit\n");
  EXPECT_EQ(run.Wait(), 0);
  ASSERT_FALSE(sim.WaitEvent("disconnected: closed by peer").empty());
  EXPECT_EQ(std::count_if(sim.Lines().begin(), sim.Lines().end(),
                          [](const std::string& line) {
                            return line.rfind("command: ", 0) == 0 &&
                                   line.find("@rewindData@") != std::string::npos;
                          }),
            1);

  // What the box made, and how much of it went out live (the count at the last disconnection).
  std::map<std::string, std::string> bibOfChip;
  for (const std::string& line : TextLines(dir.File("ChipTable.dtb"))) {
    std::istringstream fields(line);
    std::string bib;
    std::string chip;
    fields >> bib >> chip;
    bibOfChip[chip] = bib;
  }
  std::multiset<std::string> made;  // "bib time" with the time in hundredths, as recorded
  for (const std::string& read : TextLines(dir.File("box-data.txt"))) {
    ASSERT_EQ(read.size(), 24 + bibOfChip.begin()->first.size()) << read;
    made.insert(bibOfChip[read.substr(24)] + " " + read.substr(11, 11));
  }
  std::vector<std::string> sessions = TextLines(dir.File("sessions.txt"));
  ASSERT_EQ(sessions.size(), 6u);  // three connections
  std::istringstream last(sessions.back());
  std::string stamp;
  std::string what;
  int sentLive = 0;
  last >> stamp >> what >> sentLive;
  ASSERT_EQ(what, "disconnected");

  std::multiset<std::string> recorded;
  for (const auto& entry : std::filesystem::directory_iterator(dir.File("logfiles"))) {
    if (entry.path().extension() != ".dat") {
      continue;
    }
    for (const std::string& line : TextLines(entry.path().string())) {
      std::istringstream fields(line);
      std::vector<std::string> field(5);
      for (std::string& f : field) {
        std::getline(fields, f, '\t');
      }
      recorded.insert(field[2] + " " + field[4]);
    }
  }
  EXPECT_EQ(made.size(), static_cast<std::size_t>(kReads));
  EXPECT_EQ(recorded, made);
  // Some reads reached the program only through the replay, and the replay repeated reads it
  // had already recorded.
  const int recovered = kReads - sentLive;
  EXPECT_GT(recovered, 0);
  EXPECT_GT(replayed, recovered);
  EXPECT_TRUE(run.WaitForOutput(Utf8(StrF(Tr(kMsgReadsRecovered).c_str(), 1, recovered, replayed))))
      << run.Output();
  RecordProperty("reads_made", kReads);
  RecordProperty("reads_sent_live", sentLive);
  RecordProperty("reads_replayed", replayed);
  RecordProperty("reads_recovered", recovered);
}

// A run that stopped in the middle of a line (a power cut) left a torn last line: the next
// start says so.
TEST(HeadlessProgram, TornLastLineOfTheLastRunIsReportedAtStart) {
  TempDir dir;
  std::filesystem::create_directories(dir.File("logfiles"));
  std::string earlier = dir.File("logfiles/Lapora-20260608-180000.dat");
  testing::WriteFile(earlier, "1\t31\t7\t1\t17:59:58.00\t1\r\n2\t31\t8\t1\t17:5");
  Program run({"--data-dir", dir.path(), "--duration", "0"});
  run.CloseInput();
  EXPECT_EQ(run.Wait(), 0);
  EXPECT_NE(run.Output().find(
                Cp1252ToUtf8(StrF(Tr(kMsgTornDetectionLine).c_str(), earlier.c_str(), 13ul))),
            std::string::npos)
      << run.Output();
}

// A typed import tells how far it got: the search's lines parsed and the command's detections
// added come as "progress: " lines beside the information lines.
TEST(HeadlessProgram, ImportPrintsItsProgress) {
  constexpr int kLines = 300;
  TempDir dir;
  std::string content;
  for (int i = 0; i < kLines; ++i) {
    content += StrF("C%03d,2012-05-13 10:%02d:%02d.000,x,y\n", i, i / 60, i % 60);
  }
  testing::WriteFile(dir.File("box.csv"), content);
  Program run({"--data-dir", dir.path()});
  run.Type("import " + dir.File("box.csv") + " 2012-05-13 00:00:00 23:59:59 12 import\n");
  ASSERT_TRUE(run.WaitForOutput(Cp1252ToUtf8(Tr(kMsgImportDoneImport)))) << run.Output();
  run.Type("quit\n");
  EXPECT_EQ(run.Wait(), 0);

  const std::string& out = run.Output();
  auto printed = [&out](const std::string& text) {
    return out.find("progress: " + Cp1252ToUtf8(text) + "\n") != std::string::npos;
  };
  EXPECT_TRUE(printed(Tr(kMsgImportScanCaption))) << out;
  EXPECT_TRUE(printed(Tr(kMsgImportCaptionImport))) << out;
  // Every line of the file is in the span: at line n, n - 1 detections were found before it.
  bool scanShown = false;
  for (int n = 100; n <= kLines; n += 100) {
    scanShown = scanShown || printed(StrF(Tr(kMsgImportScanProgress).c_str(), n, n - 1, "s", "s"));
  }
  EXPECT_TRUE(scanShown) << out;
  bool commandShown = false;
  for (int n = 10; n <= kLines; n += 10) {
    commandShown =
        commandShown || printed(StrF(Tr(kMsgImportProgressImport).c_str(), n, kLines, "s", "s"));
  }
  EXPECT_TRUE(commandShown) << out;
  EXPECT_NE(out.find(Cp1252ToUtf8(StrF(Tr(kMsgImportToImport).c_str(), kLines, "12"))),
            std::string::npos);
}

// An interrupt while an import waits on a server that has stopped sending cancels the transfer
// at once, then closes the program as any interrupt does.
TEST(HeadlessProgram, InterruptCancelsAnImportStuckOnItsDownload) {
  constexpr const char* kSilentServer = R"(
import http.server, time
class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass
    def do_GET(self):
        self.send_response(200)
        self.send_header('Content-Length', '100000')
        self.end_headers()
        self.wfile.write(b'E1,2012-05-13 ')
        self.wfile.flush()
        time.sleep(600)
class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
server = Server(('127.0.0.1', 0), Handler)
print('port', server.server_address[1], flush=True)
server.serve_forever()
)";
  testing::SimulatorProcess server("/usr/bin/python3", {"-c", kSilentServer});
  std::string port = server.WaitEvent("port ");
  ASSERT_FALSE(port.empty());
  TempDir dir;
  Program run({"--data-dir", dir.path()});
  std::string url = "http://127.0.0.1:" + port + "/currentData.csv";
  run.Type("import " + url + " 2012-05-13 00:00:00 23:59:59 12 import\n");
  // The transfer has begun: its first bytes are counted.
  ASSERT_TRUE(run.WaitForOutput(
      "progress: " + Cp1252ToUtf8(StrF(Tr(kMsgDownloadProgress).c_str(), url.c_str(), 0))))
      << run.Output();
  run.Signal(SIGINT);
  EXPECT_EQ(run.Wait(), 0);
  const std::string& out = run.Output();
  EXPECT_NE(out.find("progress: " + Cp1252ToUtf8(Tr(kMsgProgressCancelling))), std::string::npos)
      << out;
  EXPECT_NE(out.find("_GetInternetFile: cancelled\n"), std::string::npos) << out;
  EXPECT_NE(
      out.find("message: " + Cp1252ToUtf8(StrF(Tr(kMsgImportFileMissing).c_str(), url.c_str()))),
      std::string::npos)
      << out;
  EXPECT_EQ(out.find(Cp1252ToUtf8(Tr(kMsgImportDoneImport))), std::string::npos) << out;
}

TEST(HeadlessProgram, BadArgumentsAreRefused) {
  TempDir dir;
  Program run({"--data-dir", dir.path(), "--duration", "soon"});
  EXPECT_EQ(run.Wait(), 2);
  EXPECT_FALSE(testing::ReadFile(dir.File("Lapora.ini")).size() > 0);
}

}  // namespace
}  // namespace lapora
