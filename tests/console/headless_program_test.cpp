// The lapora program itself, run headless on temporary data folders.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/text.h"
#include "resources/messages_detections.h"
#include "resources/messages_foundation.h"
#include "resources/messages_station.h"
#include "support/simulator_process.h"
#include "support/temp_dir.h"

extern char** environ;

namespace lapora {
namespace {

using testing::ReadFile;
using testing::TempDir;
using Clock = std::chrono::steady_clock;

// One run of the program with its stdin and stdout on pipes.
class Program {
 public:
  explicit Program(const std::vector<std::string>& args) {
    int in[2];
    int out[2];
    EXPECT_EQ(pipe(in), 0);
    EXPECT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
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
    close(in[0]);
    close(out[1]);
    m_stdin = in[1];
    m_stdout = out[0];
  }
  ~Program() {
    if (m_pid > 0) {
      kill(m_pid, SIGKILL);
      Wait();
    }
    CloseInput();
    close(m_stdout);
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

  // Reads stdout until it holds the text or the deadline passes.
  bool WaitForOutput(const std::string& text,
                     std::chrono::seconds limit = std::chrono::seconds(30)) {
    Clock::time_point deadline = Clock::now() + limit;
    while (m_output.find(text) == std::string::npos) {
      if (Clock::now() >= deadline || !ReadSome(deadline)) {
        return m_output.find(text) != std::string::npos;
      }
    }
    return true;
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
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  const std::string& Output() const { return m_output; }

 private:
  bool ReadSome(Clock::time_point deadline) {
    int ms = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    if (ms <= 0) {
      return false;
    }
    pollfd fd{m_stdout, POLLIN, 0};
    if (poll(&fd, 1, ms) <= 0) {
      return false;
    }
    char buffer[4096];
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
  std::string m_output;
};

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
                          "GVarnexIgnoreUnknownTags=0",
                          "SleepMilliAfterLeadingStart=3000",
                          "SleepMilliAfterLeadingStop=3000",
                          "SleepMilliAfterSetTime=2000",
                          "GBoxReconnectSeconds=30",
                          "GDaysToAdd=0",
                          "BAbsClock=0",
                          "LogWinLevel=50",
                          "LogFileLevel=75",
                          "BLogDetections=1",
                          "BScrollDetections=1"}) {
    EXPECT_NE(ini.find(key), std::string::npos) << key;
  }
  EXPECT_EQ(ini.find("GVarnexBeepDetections"), std::string::npos);
  EXPECT_EQ(ini.find("GVarnexBeepWhenQuit"), std::string::npos);

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

TEST(HeadlessProgram, SecondInstanceIsRefusedAndTheFirstQuitsOnCommand) {
  TempDir dir;
  Program first({"--data-dir", dir.path()});
  ASSERT_TRUE(first.WaitForOutput("+ "));  // the opening lines are out: it holds the lock

  Program second({"--data-dir", dir.path(), "--duration", "0"});
  second.CloseInput();
  EXPECT_NE(second.Wait(), 0);
  EXPECT_NE(second.Output().find(Cp1252ToUtf8(Tr(kMsgAlreadyStarted))), std::string::npos);

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

TEST(HeadlessProgram, ConnectOptionConnectsTheDeclaredBoxAtStart) {
  TempDir dir;
  testing::SimulatorProcess sim(LAPORA_BINARY_DIR "/tools/boxsim/boxsim",
                                {"--tcp", "0", "--race", "--runners", "10", "--rate", "20",
                                 "--loop", "--chip-table", dir.File("ChipTable.dtb")});
  ASSERT_FALSE(sim.WaitEvent("chip table ").empty());
  std::string port = sim.WaitEvent("listening on ");
  ASSERT_FALSE(port.empty());
  testing::WriteFile(dir.File("Lapora.ini"), "[OstraBoxes]\r\nBoxHost0=127.0.0.1\r\nBoxPort0=" +
                                                 port + "\r\nBoxIdDetector0=31\r\n");

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
  testing::SimulatorProcess sim(
      LAPORA_BINARY_DIR "/tools/boxsim/boxsim",
      {"--tcp", "0", "--race", "--runners", std::to_string(kRunners), "--rate", "10", "--loop",
       "--start-delay-ms", "0", "--chip-table", dir.File("ChipTable.dtb"), "--data-file",
       dir.File("box-data.txt")});
  ASSERT_FALSE(sim.WaitEvent("chip table ").empty());
  std::string port = sim.WaitEvent("listening on ");
  ASSERT_FALSE(port.empty());
  testing::WriteFile(dir.File("Lapora.ini"), "[OstraBoxes]\r\nBoxHost0=127.0.0.1\r\nBoxPort0=" +
                                                 port + "\r\nBoxIdDetector0=31\r\n");

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

TEST(HeadlessProgram, BadArgumentsAreRefused) {
  TempDir dir;
  Program run({"--data-dir", dir.path(), "--duration", "soon"});
  EXPECT_EQ(run.Wait(), 2);
  EXPECT_FALSE(testing::ReadFile(dir.File("Lapora.ini")).size() > 0);
}

}  // namespace
}  // namespace lapora
