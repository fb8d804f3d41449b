// The box simulator run as a child process and driven over loopback TCP and a pseudo-terminal
// with plain POSIX calls: the bytes it answers, its files and its fault switches.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace lapora {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kDeadline = std::chrono::seconds(10);

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<int64_t>(left.count(), 0));
}

// The simulator process with its standard output read line by line.
class BoxSim {
 public:
  explicit BoxSim(std::vector<std::string> args) {
    int out[2];
    if (pipe(out) != 0) {
      return;
    }
    m_pid = fork();
    if (m_pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive the test
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv;
      static std::string program = LAPORA_BINARY_DIR "/tools/boxsim/boxsim";
      argv.push_back(program.data());
      for (std::string& arg : args) {
        argv.push_back(arg.data());
      }
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    m_out = out[0];
  }
  ~BoxSim() {
    if (m_pid > 0 && !m_exited) {
      kill(m_pid, SIGTERM);
      int status = 0;
      waitpid(m_pid, &status, 0);
    }
    if (m_out >= 0) {
      close(m_out);
    }
  }

  // The first event line starting with `prefix` after the ones already taken; "" at deadline.
  std::string WaitEvent(const std::string& prefix) {
    auto deadline = Clock::now() + kDeadline;
    while (true) {
      while (m_taken < m_events.size()) {
        const std::string& line = m_events[m_taken++];
        if (line.rfind(prefix, 0) == 0) {
          return line;
        }
      }
      if (!ReadMore(deadline)) {
        return "";
      }
    }
  }
  int Port() { return std::atoi(WaitEvent("listening on ").c_str() + 13); }
  // Ends the box's refusal of connections now (SIGUSR1).
  void ComeUp() { kill(m_pid, SIGUSR1); }
  // Exit status, or -1 when the process did not end before the deadline.
  int WaitExit() {
    auto deadline = Clock::now() + kDeadline;
    while (Clock::now() < deadline) {
      int status = 0;
      if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_exited = true;
        while (ReadMore(deadline)) {
        }  // what it printed before it ended
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      pollfd wait{m_out, POLLIN, 0};
      if (poll(&wait, 1, 20) > 0) {
        ReadMore(deadline);
      }
    }
    return -1;
  }
  std::string AllOutput() {
    std::string all;
    for (const std::string& line : m_events) {
      all += line + "\n";
    }
    return all;
  }

 private:
  bool ReadMore(Clock::time_point deadline) {
    pollfd wait{m_out, POLLIN, 0};
    if (poll(&wait, 1, RemainingMs(deadline)) <= 0) {
      return false;
    }
    char buffer[4096];
    ssize_t count = read(m_out, buffer, sizeof buffer);
    if (count <= 0) {
      return false;
    }
    m_partial.append(buffer, static_cast<size_t>(count));
    size_t end;
    while ((end = m_partial.find('\n')) != std::string::npos) {
      m_events.push_back(m_partial.substr(0, end));
      m_partial.erase(0, end + 1);
    }
    return true;
  }

  pid_t m_pid = -1;
  bool m_exited = false;
  int m_out = -1;
  std::string m_partial;
  std::vector<std::string> m_events;
  size_t m_taken = 0;
};

// A PC-side peer: writes commands, cuts the box's lines after `end` (';' or '\n').
class Peer {
 public:
  explicit Peer(int fd, char end = ';') : m_fd(fd), m_end(end) {}
  ~Peer() {
    if (m_fd >= 0) {
      close(m_fd);
    }
  }
  static int ConnectTcp(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close(fd);
      return -1;
    }
    return fd;
  }
  bool ok() const { return m_fd >= 0; }
  void Send(const std::string& bytes) {
    ASSERT_EQ(write(m_fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // The next line with its end character; "" at the deadline or at the end of the stream.
  std::string Line() {
    auto deadline = Clock::now() + kDeadline;
    while (true) {
      size_t end = m_buffer.find(m_end);
      if (end != std::string::npos) {
        std::string line = m_buffer.substr(0, end + 1);
        m_buffer.erase(0, end + 1);
        return line;
      }
      if (!Fill(deadline)) {
        return "";
      }
    }
  }
  // The next line whose keyword (second field) is `keyword`, skipping the others.
  std::string LineOf(const std::string& keyword) {
    while (true) {
      std::string line = Line();
      if (line.empty() || line.find("@" + keyword + "@") != std::string::npos) {
        return line;
      }
    }
  }
  // True when the box closed the stream (after the buffered lines were taken).
  bool AtEnd() {
    if (m_fd < 0) {
      return true;
    }
    auto deadline = Clock::now() + kDeadline;
    while (m_buffer.empty() && !m_closed && Fill(deadline)) {
    }
    return m_buffer.empty() && m_closed;
  }
  bool HasData() {
    pollfd wait{m_fd, POLLIN, 0};
    return !m_buffer.empty() || poll(&wait, 1, 0) > 0;
  }
  int reads() const { return m_reads; }
  int partialReads() const { return m_partialReads; }

 private:
  bool Fill(Clock::time_point deadline) {
    pollfd wait{m_fd, POLLIN, 0};
    if (m_closed || poll(&wait, 1, RemainingMs(deadline)) <= 0) {
      return false;
    }
    char buffer[65536];
    ssize_t count = read(m_fd, buffer, sizeof buffer);
    if (count <= 0) {
      m_closed = true;
      return false;
    }
    ++m_reads;
    if (buffer[count - 1] != m_end) {
      ++m_partialReads;
    }
    m_buffer.append(buffer, static_cast<size_t>(count));
    return true;
  }

  int m_fd;
  char m_end;
  bool m_closed = false;
  std::string m_buffer;
  int m_reads = 0;
  int m_partialReads = 0;
};

// Splits "id@keyword@sequence@payload;" into its four fields.
std::vector<std::string> Fields(std::string line) {
  while (!line.empty() && (line.back() == ';' || line.back() == '\n')) {
    line.pop_back();
  }
  std::vector<std::string> fields;
  size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    size_t at = line.find('@', start);
    if (at == std::string::npos) {
      break;
    }
    fields.push_back(line.substr(start, at - start));
    start = at + 1;
  }
  fields.push_back(line.substr(start));
  fields.resize(4);  // a short line leaves empty fields rather than missing ones
  return fields;
}

bool IsDetectionText(const std::string& text) {
  // 2012-05-13_10:23:45.120,CHIP
  if (text.size() < 25 || text[4] != '-' || text[7] != '-' || text[10] != '_' || text[13] != ':' ||
      text[16] != ':' || text[19] != '.' || text[23] != ',') {
    return false;
  }
  return text.find_first_of(" ;@", 24) == std::string::npos;
}

std::string LocalDate(time_t when) {
  struct tm parts {};
  localtime_r(&when, &parts);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &parts);
  return text;
}

std::vector<std::string> FileLines(const std::string& path) {
  std::vector<std::string> lines;
  std::string content = testing::ReadFile(path);
  size_t start = 0;
  size_t end;
  while ((end = content.find('\n', start)) != std::string::npos) {
    std::string line = content.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::string HttpBody(int port, const std::string& path, int& status) {
  int fd = Peer::ConnectTcp(port);
  std::string request = "GET " + path + " HTTP/1.0\r\nHost: localhost\r\nConnection: close\r\n\r\n";
  EXPECT_EQ(write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
  std::string response;
  char buffer[4096];
  auto deadline = Clock::now() + kDeadline;
  while (true) {
    pollfd wait{fd, POLLIN, 0};
    if (poll(&wait, 1, RemainingMs(deadline)) <= 0) {
      break;
    }
    ssize_t count = read(fd, buffer, sizeof buffer);
    if (count <= 0) {
      break;
    }
    response.append(buffer, static_cast<size_t>(count));
  }
  close(fd);
  status = response.size() > 12 ? std::atoi(response.c_str() + 9) : 0;
  size_t body = response.find("\r\n\r\n");
  return body == std::string::npos ? "" : response.substr(body + 4);
}

TEST(BoxSimTest, UsageIsDocumentedAndBadOptionsAreRefused) {
  BoxSim help({"--help"});
  EXPECT_EQ(help.WaitExit(), 0);
  std::string text = help.AllOutput();
  for (const char* option :
       {"--tcp", "--pty", "--race", "--play", "--drop-after", "--loop", "--send-log",
        "--chip-table", "--line-end", "--silent", "--store-offline", "--outage-seconds"}) {
    EXPECT_NE(text.find(option), std::string::npos) << option;
  }
  EXPECT_EQ(BoxSim({"--tcp", "0", "--no-such-option"}).WaitExit(), 2);
  EXPECT_EQ(BoxSim({"--tcp", "0", "--pty"}).WaitExit(), 2);
  EXPECT_EQ(BoxSim({"--tcp", "0", "--line-end", "x"}).WaitExit(), 2);
  EXPECT_EQ(BoxSim({"--tcp", "0", "--race", "--store-offline"}).WaitExit(), 2);
}

TEST(BoxSimTest, FirstLineIsAHeartBeatCarryingTheDeviceId) {
  BoxSim sim({"--tcp", "0", "--device-id", "88", "--status-ms", "0"});
  int port = sim.Port();
  Peer pc(Peer::ConnectTcp(port));
  ASSERT_TRUE(pc.ok());
  std::string first = pc.Line();
  auto f = Fields(first);
  ASSERT_EQ(f.size(), 4u) << first;
  EXPECT_EQ(f[0], "88");
  EXPECT_EQ(f[1], "heartBeat");
  EXPECT_EQ(f[2], "0000");
  EXPECT_EQ(f[3].size(), 8u) << first;  // hh:mm:ss
  EXPECT_EQ(first.back(), ';');
  // A second PC is turned away while the first is served.
  Peer other(Peer::ConnectTcp(port));
  ASSERT_TRUE(other.ok());
  EXPECT_TRUE(other.AtEnd());
  EXPECT_NE(sim.WaitEvent("refused extra connection from 127.0.0.1:"), "");
  pc.Send("88@readerOpen@0001@1;");
  EXPECT_EQ(pc.LineOf("readerOpen"), "88@readerOpen@0001@1;");
}

TEST(BoxSimTest, EveryCommandGetsItsReplyWithTheSequenceEchoed) {
  testing::TempDir dir;
  BoxSim sim({"--tcp", "0", "--heartbeat-ms", "0", "--status-ms", "0"});
  Peer pc(Peer::ConnectTcp(sim.Port()));
  ASSERT_TRUE(pc.ok());
  // Before the device id is known the PC leaves the first field empty.
  pc.Send("@readerOpen@0000@1;");
  EXPECT_EQ(pc.Line(), "57@readerOpen@0000@1;");
  pc.Send("57@readerStop@0001@4;");
  EXPECT_EQ(pc.Line(), "57@readerStop@0001@4;");
  pc.Send("57@setGateTime@0002@5.0;");
  EXPECT_EQ(pc.Line(), "57@setGateTime@0002@5.0;");
  pc.Send("57@getGunTime@0003@;");
  EXPECT_EQ(pc.Line(), "57@getGunTime@0003@00:00:00.000;");
  pc.Send("57@setDate@0004@2012,5,13;");
  EXPECT_EQ(pc.Line(), "57@setDate@0004@2012,5,13;");
  auto date = Fields(pc.Line());
  EXPECT_EQ(date[1], "machineDate");
  EXPECT_EQ(date[3], "2012-05-13");
  pc.Send("57@setTime@0005@14,05,09,37;");
  EXPECT_EQ(pc.Line(), "57@setTime@0005@14,05,09,37;");
  auto time = Fields(pc.Line());
  EXPECT_EQ(time[1], "machineTime");
  EXPECT_EQ(time[3].rfind("14:05:", 0), 0u) << time[3];
  pc.Send("57@deleteData@0006@;");
  EXPECT_EQ(pc.Line(), "57@deleteData@0006@ok;");
  // An unknown command and a malformed one get no reply; two commands in one write and one
  // command in two writes are all answered in order.
  pc.Send("57@noSuchCommand@0007@;garbage;57@readerOpen@9999@2;57@readerOpen@00");
  EXPECT_EQ(pc.Line(), "57@readerOpen@9999@2;");
  pc.Send("10@3;");
  EXPECT_EQ(pc.Line(), "57@readerOpen@0010@3;");
  EXPECT_NE(sim.WaitEvent("unknown command: 57@noSuchCommand@0007@;"), "");
  EXPECT_NE(sim.WaitEvent("bad command: garbage;"), "");
  pc.Send("57@setDate@0011@2012,13,40;");
  EXPECT_EQ(pc.Line(), "57@setDate@0011@error;");
}

TEST(BoxSimTest, StatusReportsAndLineEnds) {
  {
    BoxSim sim({"--tcp", "0", "--line-end", "\\n", "--status-ms", "100000"});
    Peer pc(Peer::ConnectTcp(sim.Port()), '\n');
    ASSERT_TRUE(pc.ok());
    auto heartBeat = pc.Line();
    EXPECT_EQ(heartBeat.find(';'), std::string::npos) << heartBeat;
    EXPECT_EQ(Fields(heartBeat)[1], "heartBeat");
    EXPECT_EQ(Fields(pc.Line())[1], "machineDate");
    EXPECT_EQ(Fields(pc.Line())[1], "machineTime");
    EXPECT_EQ(pc.Line().rfind("57@machineState@0003@reading", 0), 0u);
    EXPECT_EQ(pc.Line(), "57@channelsState@0004@1:on,2:on,3:on,4:on\n");
  }
  {
    time_t before = std::time(nullptr);
    BoxSim sim(
        {"--tcp", "0", "--line-end", ";\\n", "--date-offset-days", "1", "--channels-closed"});
    Peer pc(Peer::ConnectTcp(sim.Port()), '\n');
    ASSERT_TRUE(pc.ok());
    EXPECT_EQ(pc.Line().substr(0, 14), "57@heartBeat@0");
    std::string date = pc.Line();
    EXPECT_EQ(date.substr(date.size() - 2), ";\n");
    std::string day = Fields(date)[3];
    time_t after = std::time(nullptr);
    EXPECT_TRUE(day == LocalDate(before + 86400) || day == LocalDate(after + 86400)) << day;
    pc.LineOf("machineState");
    EXPECT_EQ(pc.Line(), "57@channelsState@0004@1:off,2:off,3:off,4:off;\n");
  }
}

TEST(BoxSimTest, RaceMatchesItsChipTableAndDataFile) {
  testing::TempDir dir;
  BoxSim sim({"--tcp", "0", "--race", "--runners", "5", "--chips-per-runner", "2",
              "--reads-per-crossing", "2", "--laps", "2", "--first-bib", "100", "--data-file",
              dir.File("data.txt"), "--chip-table", dir.File("table.txt"), "--start-delay-ms",
              "0"});
  Peer pc(Peer::ConnectTcp(sim.Port()));
  ASSERT_TRUE(pc.ok());
  std::vector<std::string> payloads;
  while (payloads.size() < 40) {
    std::string line = pc.LineOf("epc");
    ASSERT_FALSE(line.empty());
    auto f = Fields(line);
    ASSERT_EQ(f[0], "57");
    ASSERT_TRUE(IsDetectionText(f[3])) << line;
    payloads.push_back(f[3]);
  }
  EXPECT_NE(sim.WaitEvent("race done: sent 40 detections"), "");
  auto table = FileLines(dir.File("table.txt"));
  ASSERT_EQ(table.size(), 10u);
  EXPECT_EQ(table[0], "100 E20034120000000000000064");
  EXPECT_EQ(table[1], "100 E20034120000000100000064");
  std::set<std::string> tableChips;
  for (const std::string& row : table) {
    tableChips.insert(row.substr(row.find(' ') + 1));
  }
  std::map<std::string, int> readsPerChip;
  for (size_t i = 0; i < payloads.size(); ++i) {
    std::string chip = payloads[i].substr(24);
    EXPECT_TRUE(tableChips.count(chip)) << chip;
    ++readsPerChip[chip];
    if (i > 0) {
      EXPECT_LE(payloads[i - 1].substr(0, 23), payloads[i].substr(0, 23));  // time order
    }
  }
  EXPECT_EQ(readsPerChip.size(), 10u);
  for (const auto& [chip, reads] : readsPerChip) {
    EXPECT_EQ(reads, 4) << chip;  // two reads at each of two crossings
  }
  EXPECT_EQ(FileLines(dir.File("data.txt")), payloads);
}

TEST(BoxSimTest, PlayedFileIsFramedAndPacedWithASendLog) {
  testing::TempDir dir;
  testing::WriteFile(dir.File("play.txt"),
                     "# comment\r\n2012-05-13_10:23:45.120,E20034120000A1\r\n\r\n"
                     "31@epc@0042@2012-05-13_10:23:46.000,E20034120000A2;\n"
                     "31@gunTime@0043@10:00:00.000\n2012-05-13_10:23:47.500,E20034120000A3\n");
  BoxSim sim({"--tcp", "0", "--play", dir.File("play.txt"), "--rate", "200", "--heartbeat-ms", "0",
              "--status-ms", "0", "--start-delay-ms", "0", "--send-log", dir.File("send.log"),
              "--data-file", dir.File("data.txt")});
  Peer pc(Peer::ConnectTcp(sim.Port()));
  ASSERT_TRUE(pc.ok());
  EXPECT_EQ(pc.Line(), "57@epc@0000@2012-05-13_10:23:45.120,E20034120000A1;");
  EXPECT_EQ(pc.Line(), "31@epc@0042@2012-05-13_10:23:46.000,E20034120000A2;");
  EXPECT_EQ(pc.Line(), "31@gunTime@0043@10:00:00.000;");
  EXPECT_EQ(pc.Line(), "57@epc@0001@2012-05-13_10:23:47.500,E20034120000A3;");
  EXPECT_NE(sim.WaitEvent("race done: sent 3 detections"), "");
  EXPECT_EQ(FileLines(dir.File("data.txt")),
            (std::vector<std::string>{"2012-05-13_10:23:45.120,E20034120000A1",
                                      "2012-05-13_10:23:46.000,E20034120000A2",
                                      "2012-05-13_10:23:47.500,E20034120000A3"}));
  auto log = FileLines(dir.File("send.log"));
  ASSERT_EQ(log.size(), 3u);
  long long previous = 0;
  for (const std::string& entry : log) {
    long long stamp = std::atoll(entry.c_str());
    EXPECT_GT(stamp, 1000000000000000LL) << entry;  // microseconds since 1970
    EXPECT_GE(stamp, previous);
    previous = stamp;
  }
  EXPECT_EQ(log[1].substr(log[1].find(' ') + 1),
            "31@epc@0042@2012-05-13_10:23:46.000,E20034120000A2");
}

TEST(BoxSimTest, PackServesTheStoredReadsAndRewindReplaysThem) {
  BoxSim sim({"--tcp", "0", "--race", "--runners", "3", "--heartbeat-ms", "0", "--status-ms", "0",
              "--start-delay-ms", "0", "--http-port", "0", "--pack-delay-ms", "10"});
  int httpPort = std::atoi(sim.WaitEvent("http on ").c_str() + 8);
  Peer pc(Peer::ConnectTcp(sim.Port()));
  ASSERT_TRUE(pc.ok());
  std::vector<std::string> reads;
  for (int i = 0; i < 3; ++i) {
    reads.push_back(Fields(pc.LineOf("epc"))[3]);
  }
  EXPECT_NE(sim.WaitEvent("race done"), "");
  int status = 0;
  HttpBody(httpPort, "/currentData.csv", status);
  EXPECT_EQ(status, 404);  // nothing packed yet

  pc.Send("57@packDataSection@0100@;");
  EXPECT_EQ(pc.Line(), "57@packDataSection@0100@ok;");
  EXPECT_EQ(pc.Line(), "57@packDataResult@0100@ok;");
  std::string csv = HttpBody(httpPort, "/currentData.csv", status);
  EXPECT_EQ(status, 200);
  std::string expected;
  for (const std::string& read : reads) {
    // chip, "date time", filler, filler: the four-field form of the box data files
    expected +=
        read.substr(24) + "," + read.substr(0, 10) + " " + read.substr(11, 12) + ",1,-60\r\n";
  }
  EXPECT_EQ(csv, expected);

  pc.Send("57@rewindData@0101@;");
  EXPECT_EQ(pc.Line(), "57@rewindData@0101@ok;");
  auto start = Fields(pc.Line());
  EXPECT_EQ(start[1], "epc_rewind_start");
  EXPECT_EQ(start[3], "3");
  for (const std::string& read : reads) {
    auto replayed = Fields(pc.Line());
    EXPECT_EQ(replayed[1], "epc");
    EXPECT_EQ(replayed[3], read);
  }
  auto done = Fields(pc.Line());
  EXPECT_EQ(done[1], "epc_rewind_done");
  EXPECT_EQ(done[3], "3");

  // A range keeps the reads from its start up to, not including, its end.
  pc.Send("57@rewindData@0102@" + reads[0].substr(0, 23) + "," + reads[2].substr(0, 23) + ";");
  EXPECT_EQ(Fields(pc.LineOf("epc_rewind_start"))[3], "2");
  EXPECT_EQ(Fields(pc.Line())[3], reads[0]);
  EXPECT_EQ(Fields(pc.Line())[3], reads[1]);
  EXPECT_EQ(Fields(pc.Line())[1], "epc_rewind_done");
}

TEST(BoxSimTest, RewindRangeDeleteAndPackFailure) {
  BoxSim sim({"--tcp", "0", "--race", "--runners", "2", "--heartbeat-ms", "0", "--status-ms", "0",
              "--start-delay-ms", "0", "--pack-fail", "--pack-delay-ms", "0"});
  Peer pc(Peer::ConnectTcp(sim.Port()));
  ASSERT_TRUE(pc.ok());
  pc.LineOf("epc");
  pc.LineOf("epc");
  EXPECT_NE(sim.WaitEvent("race done"), "");
  pc.Send("57@rewindData@0001@2001-01-01_00:00:00.000,2001-01-02_00:00:00.000;");
  EXPECT_EQ(pc.Line(), "57@rewindData@0001@2001-01-01_00:00:00.000,2001-01-02_00:00:00.000;");
  EXPECT_EQ(Fields(pc.Line())[3], "0");
  EXPECT_EQ(Fields(pc.Line())[1], "epc_rewind_done");
  pc.Send("57@rewindData@0002@nonsense;");
  EXPECT_EQ(pc.Line(), "57@rewindData@0002@error;");
  pc.Send("57@deleteData@0003@;");
  EXPECT_EQ(pc.Line(), "57@deleteData@0003@ok;");
  pc.Send("57@rewindData@0004@;");
  pc.Line();
  EXPECT_EQ(Fields(pc.Line())[3], "0");
  pc.Line();
  pc.Send("57@packDataSection@0005@;");
  EXPECT_EQ(pc.Line(), "57@packDataSection@0005@ok;");
  EXPECT_EQ(pc.Line(), "57@packDataResult@0005@FAILED: disk;");
}

TEST(BoxSimTest, DroppedConnectionResumesWithTheUnsentReadsAfterRefusal) {
  testing::TempDir dir;
  // The refusals last longer than the test: each ends when the test brings the box up.
  BoxSim sim({"--tcp", "0", "--race", "--runners", "10", "--drop-after", "4", "--drops", "1",
              "--refuse-seconds", "600", "--loop", "--start-delay-ms", "0", "--data-file",
              dir.File("data.txt")});
  int port = sim.Port();
  // Refused while the box is "not up", accepted once it says so.
  EXPECT_EQ(Peer::ConnectTcp(port), -1);
  sim.ComeUp();
  ASSERT_NE(sim.WaitEvent("accepting connections"), "");
  std::vector<std::string> received;
  {
    Peer pc(Peer::ConnectTcp(port));
    ASSERT_TRUE(pc.ok());
    std::string line;
    while (!(line = pc.Line()).empty()) {
      if (Fields(line)[1] == "epc") {
        received.push_back(Fields(line)[3]);
      }
    }
    EXPECT_EQ(received.size(), 4u);
    EXPECT_TRUE(pc.AtEnd());
  }
  ASSERT_NE(sim.WaitEvent("disconnected: dropped after 4 detections"), "");
  ASSERT_NE(sim.WaitEvent("refusing connections for 600 s"), "");
  EXPECT_EQ(Peer::ConnectTcp(port), -1);
  sim.ComeUp();
  ASSERT_NE(sim.WaitEvent("accepting connections"), "");
  Peer again(Peer::ConnectTcp(port));
  ASSERT_TRUE(again.ok());
  while (received.size() < 10) {
    std::string line = again.LineOf("epc");
    ASSERT_FALSE(line.empty());
    received.push_back(Fields(line)[3]);
  }
  EXPECT_NE(sim.WaitEvent("race done: sent 10 detections"), "");
  EXPECT_EQ(std::set<std::string>(received.begin(), received.end()).size(), 10u);
  EXPECT_EQ(FileLines(dir.File("data.txt")), received);
}

// A box that stores its reads as it makes them: the race goes on through an outage, what was
// made meanwhile is never sent live, and a rewind replays every read of the data file.
TEST(BoxSimTest, ReadsMadeWhileNoPcListensComeOnlyThroughARewind) {
  testing::TempDir dir;
  BoxSim sim({"--tcp",
              "0",
              "--race",
              "--runners",
              "10",
              "--spread",
              "4",
              "--realtime",
              "--store-offline",
              "--drop-after",
              "3",
              "--drops",
              "1",
              "--outage-seconds",
              "1",
              "--loop",
              "--start-delay-ms",
              "0",
              "--heartbeat-ms",
              "0",
              "--status-ms",
              "0",
              "--data-file",
              dir.File("data.txt")});
  int port = sim.Port();
  std::vector<std::string> live;
  {
    // Accepted at once: the outage follows a drop, not the start.
    Peer pc(Peer::ConnectTcp(port));
    ASSERT_TRUE(pc.ok());
    std::string line;
    while (!(line = pc.Line()).empty()) {
      if (Fields(line)[1] == "epc") {
        live.push_back(Fields(line)[3]);
      }
    }
    ASSERT_EQ(live.size(), 3u);
  }
  ASSERT_NE(sim.WaitEvent("refusing connections for 1 s"), "");
  ASSERT_NE(sim.WaitEvent("accepting connections"), "");
  Peer again(Peer::ConnectTcp(port));
  ASSERT_TRUE(again.ok());
  std::string stored = sim.WaitEvent("stored while disconnected: ");
  ASSERT_NE(stored, "") << sim.AllOutput();
  int offline = std::atoi(stored.c_str() + std::strlen("stored while disconnected: "));
  // The reads due during the second of outage at least (one every 400 ms).
  EXPECT_GE(offline, 2);
  std::string done = sim.WaitEvent("race done: sent ");
  ASSERT_NE(done, "");

  again.Send("57@rewindData@0100@;");
  std::string line;
  while (!(line = again.Line()).empty() && Fields(line)[1] != "rewindData") {
    if (Fields(line)[1] == "epc") {
      live.push_back(Fields(line)[3]);
    }
  }
  again.LineOf("epc_rewind_start");
  std::vector<std::string> replayed;
  while ((line = again.Line()).find("@epc_rewind_done@") == std::string::npos) {
    ASSERT_EQ(Fields(line)[1], "epc") << line;
    replayed.push_back(Fields(line)[3]);
  }

  std::vector<std::string> made = FileLines(dir.File("data.txt"));
  EXPECT_EQ(made.size(), 10u);
  EXPECT_EQ(replayed, made);
  EXPECT_EQ(done, "race done: sent " + std::to_string(live.size()) + " detections");
  // Every read sent live once, the others only stored.
  std::set<std::string> sent(live.begin(), live.end());
  EXPECT_EQ(sent.size(), live.size());
  EXPECT_EQ(live.size() + static_cast<std::size_t>(offline), made.size());
}

TEST(BoxSimTest, GarbageSplitWritesAndStall) {
  BoxSim sim({"--tcp",
              "0",
              "--race",
              "--runners",
              "6",
              "--garbage-every",
              "2",
              "--split-writes",
              "--split-pause-ms",
              "30",
              "--stall-after",
              "3",
              "--stall-seconds",
              "0.3",
              "--heartbeat-ms",
              "0",
              "--status-ms",
              "0",
              "--start-delay-ms",
              "0"});
  Peer pc(Peer::ConnectTcp(sim.Port()));
  ASSERT_TRUE(pc.ok());
  int reads = 0;
  int garbage = 0;
  while (reads + garbage < 9) {
    std::string line = pc.Line();
    ASSERT_FALSE(line.empty());
    auto f = Fields(line);
    if (f[1] == "epc" && IsDetectionText(f[3])) {
      ++reads;
    } else {
      EXPECT_EQ(reads, 2 * (garbage + 1)) << "garbage after every second detection: " << line;
      ++garbage;
    }
  }
  EXPECT_EQ(garbage, 3);
  EXPECT_GT(pc.partialReads(), 0);  // pieces of a line arrived on their own
  EXPECT_NE(sim.WaitEvent("stall for 0.3 s after 3 detections"), "");
  EXPECT_NE(sim.WaitEvent("stall end"), "");
}

TEST(BoxSimTest, SilentBoxSendsNothing) {
  BoxSim sim({"--tcp", "0", "--silent", "--race", "--start-delay-ms", "0"});
  Peer pc(Peer::ConnectTcp(sim.Port()));
  ASSERT_TRUE(pc.ok());
  pc.Send("@readerOpen@0000@1;");
  ASSERT_NE(sim.WaitEvent("command: @readerOpen@0000@1;"), "");
  pc.Send("@readerOpen@0001@2;");
  ASSERT_NE(sim.WaitEvent("command: @readerOpen@0001@2;"), "");
  // Anything the box had answered to the first command would be here by now.
  EXPECT_FALSE(pc.HasData());
}

TEST(BoxSimTest, PseudoTerminalEndsLinesWithLineFeeds) {
  testing::TempDir dir;
  std::string link = dir.File("box-serial");
  BoxSim sim({"--pty", "--pty-link", link, "--status-ms", "0"});
  std::string event = sim.WaitEvent("pty ");
  ASSERT_NE(event, "");
  std::string path = event.substr(4);
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(path, target);
  int fd = open(link.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0) << std::strerror(errno);
  struct termios settings {};
  ASSERT_EQ(tcgetattr(fd, &settings), 0);
  cfmakeraw(&settings);
  ASSERT_EQ(tcsetattr(fd, TCSANOW, &settings), 0);
  {
    Peer pc(fd, '\n');
    EXPECT_NE(sim.WaitEvent("connected " + path), "");
    std::string first = pc.Line();
    EXPECT_EQ(first.substr(0, 15), "57@heartBeat@00") << first;
    EXPECT_EQ(first.substr(first.size() - 2), ";\n");
    pc.Send("57@getGunTime@0001@;");
    EXPECT_EQ(pc.LineOf("getGunTime"), "57@getGunTime@0001@00:00:00.000;\n");
  }
  EXPECT_NE(sim.WaitEvent("disconnected: pty closed by peer"), "");
  EXPECT_EQ(sim.WaitExit(), 0);  // without --loop the box serves one connection
}

}  // namespace
}  // namespace lapora
