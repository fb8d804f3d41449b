// The results-software simulator run as a child process and spoken to over loopback with
// plain sockets: exact reply bytes, pass counting and ranking, scripts, the receive log,
// a reader that stops, and closing after a number of lines.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

extern char** environ;

namespace lapora {
namespace {

using lapora::testing::ReadFile;
using lapora::testing::TempDir;
using lapora::testing::WriteFile;
using Clock = std::chrono::steady_clock;

constexpr auto kDeadline = std::chrono::seconds(10);

int RemainingMs(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

std::vector<std::string> SplitFields(const std::string& text, char separator) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (true) {
    const size_t end = text.find(separator, start);
    fields.push_back(text.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) {
      return fields;
    }
    start = end + 1;
  }
}

// The simulator as a child: stdout through a pipe (its event lines), stderr into a file.
class CSimulator {
 public:
  explicit CSimulator(const TempDir& dir) : m_stderrPath(dir.File("sim-stderr.txt")) {}
  ~CSimulator() { Stop(); }

  // Starts it on a free loopback port and waits for "listening on PORT".
  bool Start(const std::vector<std::string>& options) {
    std::vector<std::string> args = {RESULTSIM_PATH, "--port", "0", "--bind", "127.0.0.1"};
    args.insert(args.end(), options.begin(), options.end());
    if (!Spawn(args)) {
      return false;
    }
    const std::string line = WaitFor("listening on ");
    m_port = line.empty() ? 0 : std::atoi(line.c_str() + std::strlen("listening on "));
    return m_port > 0;
  }

  // Runs it to its end (for option errors); returns the exit code.
  int RunToEnd(const std::vector<std::string>& options) {
    std::vector<std::string> args = {RESULTSIM_PATH};
    args.insert(args.end(), options.begin(), options.end());
    if (!Spawn(args)) {
      return -1;
    }
    return Wait();
  }

  // The next event line starting with prefix (earlier lines are kept in Events()); empty when
  // none came before the deadline.
  std::string WaitFor(const std::string& prefix) {
    const auto deadline = Clock::now() + kDeadline;
    while (true) {
      for (; m_scanned < m_events.size(); ++m_scanned) {
        if (m_events[m_scanned].rfind(prefix, 0) == 0) {
          return m_events[m_scanned++];
        }
      }
      if (!ReadMore(deadline)) {
        ADD_FAILURE() << "no event line starting with '" << prefix << "'";
        return "";
      }
    }
  }

  int Wait() {
    if (m_pid <= 0) {
      return -1;
    }
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  void Stop() {
    if (m_pid > 0) {
      kill(m_pid, SIGTERM);
      Wait();
    }
    if (m_stdout >= 0) {
      close(m_stdout);
      m_stdout = -1;
    }
  }

  int Port() const { return m_port; }
  const std::vector<std::string>& Events() const { return m_events; }
  std::string Stderr() const { return ReadFile(m_stderrPath); }

 private:
  bool Spawn(const std::vector<std::string>& args) {
    int fds[2];
    if (pipe(fds) != 0) {
      return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, m_stderrPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (const std::string& arg : args) {
      argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const int failed =
        posix_spawn(&m_pid, args[0].c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    m_stdout = fds[0];
    if (failed != 0) {
      m_pid = -1;
      return false;
    }
    return true;
  }

  bool ReadMore(Clock::time_point deadline) {
    pollfd fd{m_stdout, POLLIN, 0};
    if (poll(&fd, 1, RemainingMs(deadline)) <= 0) {
      return false;
    }
    char buffer[4096];
    const ssize_t n = read(m_stdout, buffer, sizeof buffer);
    if (n <= 0) {
      return false;
    }
    m_partial.append(buffer, static_cast<size_t>(n));
    size_t end;
    while ((end = m_partial.find('\n')) != std::string::npos) {
      m_events.push_back(m_partial.substr(0, end));
      m_partial.erase(0, end + 1);
    }
    return true;
  }

  std::string m_stderrPath;
  pid_t m_pid = -1;
  int m_stdout = -1;
  int m_port = 0;
  std::string m_partial;
  std::vector<std::string> m_events;
  size_t m_scanned = 0;
};

// A plain TCP client, as the acquisition program is one.
class CClient {
 public:
  ~CClient() {
    if (m_fd >= 0) {
      close(m_fd);
    }
  }

  bool Connect(int port, int sendBuffer = 0) {
    m_fd = socket(AF_INET, SOCK_STREAM, 0);
    if (sendBuffer > 0) {
      setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }

  bool Send(const std::string& bytes) {
    return send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }

  // One line with its line end, exactly as received; empty when none came in time.
  std::string ReadLine() {
    const auto deadline = Clock::now() + kDeadline;
    while (true) {
      const size_t end = m_buffer.find('\n');
      if (end != std::string::npos) {
        std::string line = m_buffer.substr(0, end + 1);
        m_buffer.erase(0, end + 1);
        return line;
      }
      if (!ReadMore(deadline)) {
        return "";
      }
    }
  }

  // Everything until the server closes; closed tells whether it did before the deadline.
  std::string ReadToEnd(bool& closed) {
    const auto deadline = Clock::now() + kDeadline;
    closed = false;
    while (!closed && Clock::now() < deadline) {
      closed = !ReadMore(deadline) && m_ended;
    }
    std::string all = m_buffer;
    m_buffer.clear();
    return all;
  }

  int Fd() const { return m_fd; }

  void Close() {
    if (m_fd >= 0) {
      close(m_fd);
      m_fd = -1;
    }
  }

 private:
  bool ReadMore(Clock::time_point deadline) {
    pollfd fd{m_fd, POLLIN, 0};
    if (poll(&fd, 1, RemainingMs(deadline)) <= 0) {
      return false;
    }
    char buffer[4096];
    const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
      m_ended = true;
      return false;
    }
    m_buffer.append(buffer, static_cast<size_t>(n));
    return true;
  }

  int m_fd = -1;
  std::string m_buffer;
  bool m_ended = false;
};

std::string Detection(const std::string& detector, const std::string& bib,
                      const std::string& time) {
  return "AddKolClock(1\t" + detector + "\t" + bib + "\t1\t" + time + ")\r\n";
}

// How many fields the reader's scan of a tagged layout takes from a reply line.
int ScanTagged(const std::string& line, const std::string& tag) {
  char t[256], s[8][256];
  int i[6];
  float dist = 0;
  if (tag == "nq04") {
    return std::sscanf(line.c_str(),
                       "%255[^\\]\\%d\\%d\\%d\\%d\\%d\\%255[^\\]\\%255[^\\]\\%255[^\\]\\%255[^\\]\\"
                       "%255[^\\]\\%255[^\\]\\%255[^\\]\\%255[^\\]\\%d",
                       t, &i[0], &i[1], &i[2], &i[3], &i[4], s[0], s[1], s[2], s[3], s[4], s[5],
                       s[6], s[7], &i[5]);
  }
  char nation[256];
  if (tag == "nq05") {
    return std::sscanf(line.c_str(),
                       "%255[^\\]\\%d\\%f\\%255[^\\]\\%d\\%d\\%d\\%d\\%255[^\\]\\%255[^\\]\\"
                       "%255[^\\]\\%255[^\\]\\%255[^\\]\\%255[^\\]\\%255[^\\]\\%255[^\\]\\%d",
                       t, &i[0], &dist, nation, &i[1], &i[2], &i[3], &i[4], s[0], s[1], s[2], s[3],
                       s[4], s[5], s[6], s[7], &i[5]);
  }
  char race[256];
  return std::sscanf(
      line.c_str(),
      "%255[^\\]\\%d\\%f\\%255[^\\]\\%255[^\\]\\%d\\%d\\%d\\%d\\%255[^\\]\\"
      "%255[^\\]\\%255[^\\]\\%255[^\\]\\%255[^\\]\\%255[^\\]\\%255[^\\]\\%255[^\\]\\%d",
      t, &i[0], &dist, nation, race, &i[1], &i[2], &i[3], &i[4], s[0], s[1], s[2], s[3], s[4], s[5],
      s[6], s[7], &i[5]);
}

class ResultsimTest : public ::testing::Test {
 protected:
  // Starts the simulator and connects one client.
  void StartAndConnect(const std::vector<std::string>& options) {
    ASSERT_TRUE(m_sim.Start(options)) << m_sim.Stderr();
    ASSERT_TRUE(m_client.Connect(m_sim.Port()));
    m_connected = m_sim.WaitFor("client connected 127.0.0.1:");
  }

  std::string StartList(const std::string& content) {
    const std::string path = m_dir.File("start-list.txt");
    WriteFile(path, content);
    return path;
  }

  TempDir m_dir;
  CSimulator m_sim{m_dir};
  std::string m_connected;  // the "client connected" event
  CClient m_client;
};

TEST_F(ResultsimTest, InformationRequestsGetNfoLinesAndOtherRequestsErrors) {
  StartAndConnect({"--mode", "Chrono 2", "--user", "Zo\xC3\xA9", "--competition", "Course du lac",
                   "--file", "", "--version", "4,3,9,0", "--printable-version", "4.39",
                   "--detectors", "D1,D2,,D3"});
  ASSERT_TRUE(m_client.Send(
      "GetMode()\r\nGetUserName()\r\nGetCompetitionName()\r\nGetFilename()\r\nGetVersion()\r\n"
      "GetPrintableVersion()\r\nGetDetectorList()\r\nPing()\r\nGetRaces()\r\n"
      "AddKolClock(1\t31\t5)\r\nAddKolClock(1\t31\t5\t1\tnoon)\r\n\r\nPing()\n"));
  EXPECT_EQ(m_client.ReadLine(), "NFO:24 Chrono 2\r\n");
  EXPECT_EQ(m_client.ReadLine(), "NFO:25 Zo\xE9\r\n");  // UTF-8 option, Windows-1252 wire
  EXPECT_EQ(m_client.ReadLine(), "NFO:5 Course du lac\r\n");
  EXPECT_EQ(m_client.ReadLine(), "NFO:6\r\n");  // an empty text: no blank either
  EXPECT_EQ(m_client.ReadLine(), "NFO:27 4,3,9,0\r\n");
  EXPECT_EQ(m_client.ReadLine(), "NFO:28 4.39\r\n");
  EXPECT_EQ(m_client.ReadLine(), "NFO:7 D1\\D2\\\\D3\r\n");
  EXPECT_EQ(m_client.ReadLine(), "NFO:20\r\n");
  EXPECT_EQ(m_client.ReadLine(), "ERR:103\r\n");
  EXPECT_EQ(m_client.ReadLine(), "ERR:104\r\n");
  EXPECT_EQ(m_client.ReadLine(), "ERR:104\r\n");
  EXPECT_EQ(m_client.ReadLine(), "NFO:20\r\n");  // the empty line got no answer
  EXPECT_EQ(m_sim.WaitFor("received 13 "), "received 13 Ping()");
}

TEST_F(ResultsimTest, EachLayoutCarriesTheRunnerInItsFieldOrder) {
  const std::string list = StartList("12;Durand;Marie;F;SEN;Senior;AC Lyon;FRA;10 km\r\n");
  const struct {
    const char* layout;
    const char* reply;
  } kCases[] = {
      {"nq04", "nq04\\1\\1\\1\\1\\12\\Durand\\Marie\\F\\SEN\\Senior\\AC Lyon\\00:23:45\\0\\3\r\n"},
      {"nq05",
       "nq05\\1\\5.25\\FRA\\1\\1\\1\\12\\Durand\\Marie\\F\\SEN\\Senior\\AC "
       "Lyon\\00:23:45\\0\\3\r\n"},
      {"nq06",
       "nq06\\1\\5.25\\FRA\\10 km\\1\\1\\1\\12\\Durand\\Marie\\F\\SEN\\Senior\\AC "
       "Lyon\\00:23:45\\0\\3\r\n"},
      {"res1",
       "RES:1\\31\\12\\1\\5.25\\FRA\\10 km\\1\\1\\1\\12\\Durand\\Marie\\F\\SEN\\Senior\\AC "
       "Lyon\\00:23:45\\0\\3\r\n"},
  };
  const int kFieldsRead[] = {15, 17, 18};
  for (size_t i = 0; i < std::size(kCases); ++i) {
    SCOPED_TRACE(kCases[i].layout);
    TempDir dir;
    CSimulator sim(dir);
    ASSERT_TRUE(sim.Start({"--start-list", list, "--layout", kCases[i].layout, "--distance",
                           "31=5.25", "--race-start", "10:00:00"}));
    CClient client;
    ASSERT_TRUE(client.Connect(sim.Port()));
    ASSERT_TRUE(client.Send(Detection("31", "12", "10:23:45.12")));
    const std::string reply = client.ReadLine();
    EXPECT_EQ(reply, kCases[i].reply);
    if (i < 3) {
      EXPECT_EQ(ScanTagged(reply.substr(0, reply.size() - 2), kCases[i].layout), kFieldsRead[i]);
    } else {
      EXPECT_EQ(SplitFields(reply.substr(6, reply.size() - 8), '\\').size(), 19u);
    }
  }
}

TEST_F(ResultsimTest, EmptyTextFieldsAreFilledInTaggedLayoutsOnlyWhenAsked) {
  const std::string list = StartList("7;Petit;Luc;M;V1;Veteran 1;\n");
  {
    TempDir dir;
    CSimulator sim(dir);
    ASSERT_TRUE(sim.Start({"--start-list", list, "--layout", "nq04"}));
    CClient client;
    ASSERT_TRUE(client.Connect(sim.Port()));
    ASSERT_TRUE(client.Send(Detection("31", "7", "00:00:00.00")));
    const std::string reply = client.ReadLine();
    EXPECT_EQ(reply, "nq04\\1\\1\\1\\1\\7\\Petit\\Luc\\M\\V1\\Veteran 1\\-\\00:00:00\\0\\3\r\n");
    EXPECT_EQ(ScanTagged(reply, "nq04"), 15);
  }
  {
    // An empty team in nq04 is what a reader cannot decode; the split layout carries it.
    TempDir dir;
    CSimulator sim(dir);
    ASSERT_TRUE(sim.Start({"--start-list", list, "--layout", "nq04", "--fill-empty", ""}));
    CClient client;
    ASSERT_TRUE(client.Connect(sim.Port()));
    ASSERT_TRUE(client.Send(Detection("31", "7", "00:00:00.00")));
    const std::string reply = client.ReadLine();
    EXPECT_EQ(reply, "nq04\\1\\1\\1\\1\\7\\Petit\\Luc\\M\\V1\\Veteran 1\\\\00:00:00\\0\\3\r\n");
    EXPECT_LT(ScanTagged(reply, "nq04"), 15);
  }
  {
    TempDir dir;
    CSimulator sim(dir);
    ASSERT_TRUE(sim.Start({"--start-list", list, "--layout", "res1"}));
    CClient client;
    ASSERT_TRUE(client.Connect(sim.Port()));
    ASSERT_TRUE(client.Send(Detection("31", "7", "00:00:00.00")));
    EXPECT_EQ(client.ReadLine(),
              "RES:1\\31\\7\\1\\0.00\\\\\\1\\1\\1\\7\\Petit\\Luc\\M\\V1\\Veteran "
              "1\\\\00:00:00\\0\\3\r\n");
  }
}

TEST_F(ResultsimTest, PassesAreCountedPerRunnerAndDetectorAndRankedByTime) {
  StartAndConnect({"--layout", "nq04", "--race-start", "10:00:00", "--start-list",
                   StartList("1;A;Al;M;SEN;Senior;T\n2;B;Bea;F;SEN;Senior;T\n"
                             "3;C;Cy;M;V1;Veteran 1;T\n4;D;Di;F;V1;Veteran 1;T\n")});
  struct Expected {
    std::string detector, bib, time;
    int pass, overall, category, sex;
    std::string elapsed;
  };
  // Ranks among the runners credited before with the same pass at the same detector; an
  // earlier time that arrives later still takes the better rank.
  const Expected kCases[] = {
      {"31", "1", "10:05:00.00", 1, 1, 1, 1, "00:05:00"},
      {"31", "3", "10:04:00.50", 1, 1, 1, 1, "00:04:00"},
      {"31", "2", "10:06:00.00", 1, 3, 2, 1, "00:06:00"},
      {"31", "4", "10:03:00.00", 1, 1, 1, 1, "00:03:00"},
      {"31", "2", "10:32:00.00", 2, 1, 1, 1, "00:32:00"},
      {"31", "1", "10:35:00.00", 2, 2, 2, 1, "00:35:00"},
      {"31", "3", "10:34:00.00", 2, 2, 1, 1, "00:34:00"},
      {"31", "4", "10:36:00.00", 2, 4, 2, 2, "00:36:00"},
      {"32", "1", "10:10:00.00", 1, 1, 1, 1, "00:10:00"},
  };
  for (const Expected& c : kCases) {
    SCOPED_TRACE(c.detector + " " + c.bib + " " + c.time);
    ASSERT_TRUE(m_client.Send(Detection(c.detector, c.bib, c.time)));
    const std::string reply = m_client.ReadLine();
    const std::vector<std::string> f = SplitFields(reply.substr(0, reply.size() - 2), '\\');
    ASSERT_EQ(f.size(), 15u) << reply;
    EXPECT_EQ(f[1], std::to_string(c.pass));
    EXPECT_EQ(f[2], std::to_string(c.overall));
    EXPECT_EQ(f[3], std::to_string(c.category));
    EXPECT_EQ(f[4], std::to_string(c.sex));
    EXPECT_EQ(f[5], c.bib);
    EXPECT_EQ(f[12], c.elapsed);
    EXPECT_EQ(f[14], "3");
  }
}

TEST_F(ResultsimTest, UnknownBibsControlDetectorsAndChosenStatuses) {
  const std::string list = StartList("5;Roux;Anne;F;SEN;Senior;RC Nantes\n");
  {
    TempDir dir;
    CSimulator sim(dir);
    ASSERT_TRUE(sim.Start({"--start-list", list, "--layout", "nq04", "--control-detectors", "90,91",
                           "--race-start", "09:00:00"}));
    CClient client;
    ASSERT_TRUE(client.Connect(sim.Port()));
    ASSERT_TRUE(
        client.Send(Detection("31", "99", "09:10:00.00") + Detection("31", "x12", "09:10:00.00") +
                    Detection("91", "5", "09:10:00.00") + Detection("31", "5", "08:59:59.99")));
    EXPECT_EQ(client.ReadLine(), "nq04\\1\\0\\0\\0\\99\\-\\-\\-\\-\\-\\-\\00:10:00\\0\\-5\r\n");
    EXPECT_EQ(client.ReadLine(), "nq04\\1\\0\\0\\0\\0\\-\\-\\-\\-\\-\\-\\00:10:00\\0\\-5\r\n");
    EXPECT_EQ(client.ReadLine(),
              "nq04\\1\\0\\0\\0\\5\\Roux\\Anne\\F\\SEN\\Senior\\RC Nantes\\00:10:00\\0\\-8\r\n");
    // Before the race start the time is written as zero.
    EXPECT_EQ(client.ReadLine(),
              "nq04\\1\\1\\1\\1\\5\\Roux\\Anne\\F\\SEN\\Senior\\RC Nantes\\00:00:00\\0\\3\r\n");
  }
  {
    TempDir dir;
    CSimulator sim(dir);
    ASSERT_TRUE(sim.Start({"--start-list", list, "--layout", "nq04", "--control-detectors", "91",
                           "--control-status", "-4", "--unknown-status", "202", "--status", "2",
                           "--reserved", "R"}));
    CClient client;
    ASSERT_TRUE(client.Connect(sim.Port()));
    ASSERT_TRUE(client.Send(Detection("31", "99", "1700000000.5") +
                            Detection("91", "5", "1700000000.50") +
                            Detection("31", "5", "1700000001.5")));
    // Absolute box times count as their UTC time of day.
    EXPECT_EQ(client.ReadLine(), "nq04\\1\\0\\0\\0\\99\\-\\-\\-\\-\\-\\-\\22:13:20\\R\\202\r\n");
    EXPECT_EQ(client.ReadLine(),
              "nq04\\1\\0\\0\\0\\5\\Roux\\Anne\\F\\SEN\\Senior\\RC Nantes\\22:13:20\\R\\-4\r\n");
    EXPECT_EQ(client.ReadLine(),
              "nq04\\1\\1\\1\\1\\5\\Roux\\Anne\\F\\SEN\\Senior\\RC Nantes\\22:13:21\\R\\2\r\n");
  }
}

TEST_F(ResultsimTest, GeneratedRunnersAreTheSameForTheSameSeedAndDecodable) {
  const auto run = [](const std::string& seed) {
    TempDir dir;
    CSimulator sim(dir);
    std::string replies;
    if (!sim.Start({"--generate", "20", "--seed", seed})) {
      ADD_FAILURE() << "not started";
      return replies;
    }
    CClient client;
    EXPECT_TRUE(client.Connect(sim.Port()));
    for (int bib = 1; bib <= 21; ++bib) {
      EXPECT_TRUE(client.Send(Detection("31", std::to_string(bib), "10:00:00.00")));
      const std::string reply = client.ReadLine();
      const std::vector<std::string> f = SplitFields(reply.substr(0, reply.size() - 2), '\\');
      EXPECT_EQ(ScanTagged(reply, "nq06"), 18) << reply;
      EXPECT_EQ(f.back(), bib <= 20 ? "3" : "-5") << reply;
      if (bib <= 20) {
        EXPECT_TRUE(f[11] == "M" || f[11] == "F") << reply;
      }
      replies += reply;
    }
    return replies;
  };
  const std::string first = run("7");
  EXPECT_EQ(first, run("7"));
  EXPECT_NE(first, run("8"));
}

TEST_F(ResultsimTest, ScriptReplacesChosenAnswers) {
  const std::string script = m_dir.File("script.txt");
  WriteFile(script,
            "# answers for the decoder cases\n"
            "on #2\n"
            "  send ERR:103\n"
            "  send ERR:x\n"
            "on Ping()\n"
            "  silent\n"
            "on GetVersion()\n"
            "  raw NFO:27 10,0,0,0 \\r\\n\n"
            "  default\n"
            "on AddKolClock(1\\t31\\t7\\t*\n"
            "  once\n"
            "  send "
            "nq04\\\\1\\\\0\\\\0\\\\0\\\\7\\\\Petit\\\\Luc\\\\M\\\\V1\\\\V\xC3\xA9t\\\\\\\\00:00:"
            "00\\\\0\\\\3\n"
            "on AddKolClock(*\\t8\\t*\n"
            "  delay 20\n"
            "  default\n"
            "  close\n");
  StartAndConnect({"--script", script, "--layout", "nq04", "--start-list",
                   StartList("7;Petit;Luc;M;V1;Veteran 1;T\n8;Roux;Anne;F;SEN;Senior;T\n")});
  ASSERT_TRUE(m_client.Send("GetMode()\r\nGetUserName()\r\nPing()\r\nGetVersion()\r\n" +
                            Detection("31", "7", "10:00:00.00") +
                            Detection("31", "7", "10:00:01.00") +
                            Detection("31", "8", "10:00:02.00") + "Ping()\r\n"));
  bool closed = false;
  EXPECT_EQ(m_client.ReadToEnd(closed),
            "NFO:24 Chrono\r\n"
            "ERR:103\r\nERR:x\r\n"
            "NFO:27 10,0,0,0 \r\nNFO:27 4,4,0,1\r\n"
            "nq04\\1\\0\\0\\0\\7\\Petit\\Luc\\M\\V1\\V\xE9t\\\\00:00:00\\0\\3\r\n"
            // the scripted answer credited nothing: the next one is the first pass
            "nq04\\1\\1\\1\\1\\7\\Petit\\Luc\\M\\V1\\Veteran 1\\T\\10:00:01\\0\\3\r\n"
            "nq04\\1\\2\\1\\1\\8\\Roux\\Anne\\F\\SEN\\Senior\\T\\10:00:02\\0\\3\r\n");
  EXPECT_TRUE(closed);
  m_client.Close();  // as the acquisition program does when the peer has closed
  EXPECT_FALSE(m_sim.WaitFor("closed after ").empty());
}

TEST_F(ResultsimTest, ScriptErrorsStopTheStart) {
  const std::string script = m_dir.File("bad.txt");
  WriteFile(script, "send ERR:1\n");
  EXPECT_EQ(m_sim.RunToEnd({"--script", script}), 1);
  EXPECT_NE(m_sim.Stderr().find("bad.txt:1: 'send' before the first 'on' line"), std::string::npos)
      << m_sim.Stderr();
  WriteFile(script, "on Ping()\n  send A\\q\n");
  EXPECT_EQ(m_sim.RunToEnd({"--script", script}), 1);
  EXPECT_NE(m_sim.Stderr().find("bad.txt:2: unknown escape \\q"), std::string::npos)
      << m_sim.Stderr();
}

TEST_F(ResultsimTest, ReceiveLogStampsEveryLineInMicrosecondsWithEscapes) {
  const std::string log = m_dir.File("received.log");
  const auto unixUs = [] {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
  };
  StartAndConnect({"--log", log});
  const long long before = unixUs();
  ASSERT_TRUE(m_client.Send(Detection("31", "123", "10:23:45.12")));
  ASSERT_FALSE(m_client.ReadLine().empty());
  ASSERT_TRUE(m_client.Send("Ping()\nA\\B\x01\xE9\r\r\n"));
  EXPECT_EQ(m_client.ReadLine(), "NFO:20\r\n");
  EXPECT_EQ(m_client.ReadLine(), "ERR:103\r\n");
  const long long after = unixUs();
  const std::vector<std::string> lines = SplitFields(ReadFile(log), '\n');
  ASSERT_EQ(lines.size(), 4u);  // three lines and the empty rest after the last line end
  const char* kExpected[] = {"AddKolClock(1\\t31\\t123\\t1\\t10:23:45.12)\\r", "Ping()",
                             "A\\\\B\\x01\xE9\\r\\r"};
  const std::regex shape("([0-9]{16}) (.*)");
  std::smatch connected;
  ASSERT_TRUE(std::regex_match(
      m_connected, connected, std::regex("client connected 127\\.0\\.0\\.1:[0-9]+ at ([0-9]{16})")))
      << m_connected;
  long long previous = std::stoll(connected[1]);
  EXPECT_LE(previous, before);
  for (size_t i = 0; i < 3; ++i) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[i], match, shape)) << lines[i];
    const long long stamp = std::stoll(match[1]);
    EXPECT_GE(stamp, previous);
    EXPECT_LE(stamp, after);
    previous = stamp;
    EXPECT_EQ(match[2].str(), kExpected[i]);
  }
  EXPECT_TRUE(lines[3].empty());
}

TEST_F(ResultsimTest, StoppedReaderLeavesTheRestInTheSocketBuffers) {
  const std::string log = m_dir.File("received.log");
  ASSERT_TRUE(m_sim.Start({"--stop-reading-after", "2", "--rcvbuf", "4096", "--log", log}));
  ASSERT_TRUE(m_client.Connect(m_sim.Port(), 4096));
  ASSERT_TRUE(m_client.Send("Ping()\r\nPing()\r\nGetMode()\r\n"));
  EXPECT_EQ(m_client.ReadLine(), "NFO:20\r\n");
  EXPECT_EQ(m_client.ReadLine(), "NFO:20\r\n");
  m_sim.WaitFor("stopped reading after 2 lines");

  // The sends of the client now fill the buffers and then cannot go on.
  ASSERT_EQ(fcntl(m_client.Fd(), F_SETFL, O_NONBLOCK), 0);
  const std::string chunk(1000, 'x');
  size_t total = 0;
  bool blocked = false;
  const auto deadline = Clock::now() + kDeadline;
  while (!blocked && total < (64u << 20) && Clock::now() < deadline) {
    const ssize_t n = send(m_client.Fd(), chunk.data(), chunk.size(), MSG_NOSIGNAL);
    if (n > 0) {
      total += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd fd{m_client.Fd(), POLLOUT, 0};
      blocked = poll(&fd, 1, 200) == 0;  // still not writable: the peer takes nothing
    } else {
      break;
    }
  }
  EXPECT_TRUE(blocked) << "sent " << total << " bytes";
  const std::vector<std::string> logged = SplitFields(ReadFile(log), '\n');
  EXPECT_EQ(logged.size(), 3u);  // two lines; the third was never taken from the socket

  // The next client takes over from the stalled one.
  CClient second;
  ASSERT_TRUE(second.Connect(m_sim.Port()));
  EXPECT_EQ(m_sim.WaitFor("dropped stalled client"), "dropped stalled client after 2 lines");
  ASSERT_TRUE(second.Send("GetMode()\r\n"));
  EXPECT_EQ(second.ReadLine(), "NFO:24 Chrono\r\n");
}

TEST_F(ResultsimTest, StoppedReaderResumesAfterTheGivenTime) {
  StartAndConnect({"--stop-reading-after", "1", "--resume-after", "50"});
  ASSERT_TRUE(m_client.Send("Ping()\r\nGetMode()\r\n"));
  EXPECT_EQ(m_client.ReadLine(), "NFO:20\r\n");
  EXPECT_EQ(m_client.ReadLine(), "NFO:24 Chrono\r\n");
  const std::vector<std::string>& events = m_sim.Events();
  m_sim.WaitFor("sent NFO:24 Chrono");
  std::string order;
  for (const std::string& event : events) {
    if (event.rfind("stopped reading", 0) == 0 || event.rfind("resumed", 0) == 0 ||
        event.rfind("received", 0) == 0) {
      order += event + "|";
    }
  }
  EXPECT_EQ(order,
            "received 1 Ping()\\r|stopped reading after 1 lines|resumed reading|"
            "received 2 GetMode()\\r|");
}

TEST_F(ResultsimTest, CloseAfterAnswersNLinesThenServesTheNextClient) {
  const std::string log = m_dir.File("received.log");
  ASSERT_TRUE(m_sim.Start({"--close-after", "3", "--clients", "2", "--log", log}));
  ASSERT_TRUE(m_client.Connect(m_sim.Port()));
  ASSERT_TRUE(m_client.Send("Ping()\r\nGetUserName()\r\nGetMode()\r\nGetFilename()\r\nPing()\r\n"));
  bool closed = false;
  EXPECT_EQ(m_client.ReadToEnd(closed), "NFO:20\r\nNFO:25 Demo\r\nNFO:24 Chrono\r\n");
  EXPECT_TRUE(closed);
  m_client.Close();
  EXPECT_EQ(m_sim.WaitFor("closing after"), "closing after 3 lines");
  EXPECT_EQ(m_sim.WaitFor("closed after"), "closed after 3 lines");
  EXPECT_EQ(SplitFields(ReadFile(log), '\n').size(), 4u);

  CClient second;
  ASSERT_TRUE(second.Connect(m_sim.Port()));
  ASSERT_TRUE(second.Send("GetFilename()\r\n"));
  EXPECT_EQ(second.ReadLine(), "NFO:6 demo.dxp\r\n");
  shutdown(second.Fd(), SHUT_WR);
  EXPECT_EQ(m_sim.WaitFor("client left after"), "client left after 1 lines");
  EXPECT_EQ(m_sim.WaitFor("stopped after"), "stopped after 2 clients");
  EXPECT_EQ(m_sim.Wait(), 0);
}

TEST_F(ResultsimTest, BadOptionsAndStartListLinesAreReported) {
  EXPECT_EQ(m_sim.RunToEnd({"--layout", "nq07"}), 2);
  EXPECT_NE(m_sim.Stderr().find("--layout 'nq07': nq04, nq05, nq06 or res1"), std::string::npos);
  EXPECT_EQ(m_sim.RunToEnd({"--frobnicate"}), 2);
  EXPECT_NE(m_sim.Stderr().find("unknown option --frobnicate"), std::string::npos);
  EXPECT_EQ(m_sim.RunToEnd({"--port"}), 2);
  EXPECT_EQ(m_sim.RunToEnd({"--start-list", m_dir.File("missing.txt")}), 1);

  const std::string list = StartList(
      "# bib;last;first;sex;category;name;team\n"
      "3;Moreau;Paul;M;SEN;Senior;AC\\Lyon\n"
      "x;Nobody;No;M;SEN;Senior\n"
      "3;Again;Paul;M;SEN;Senior\n"
      "4;Short;M\n");
  CSimulator sim(m_dir);
  ASSERT_TRUE(sim.Start({"--start-list", list, "--layout", "nq04"}));
  EXPECT_EQ(sim.Events().front(), "runners 1");
  const std::string errors = sim.Stderr();
  EXPECT_NE(errors.find("start-list.txt:2: backslashes replaced"), std::string::npos) << errors;
  EXPECT_NE(errors.find("start-list.txt:3: bib 'x' is not a positive number"), std::string::npos);
  EXPECT_NE(errors.find("start-list.txt:4: bib 3 already listed"), std::string::npos);
  EXPECT_NE(errors.find("start-list.txt:5: expected 6 to 9 fields"), std::string::npos);
  CClient client;
  ASSERT_TRUE(client.Connect(sim.Port()));
  ASSERT_TRUE(client.Send(Detection("31", "3", "10:00:00.00")));
  EXPECT_EQ(client.ReadLine(),
            "nq04\\1\\1\\1\\1\\3\\Moreau\\Paul\\M\\SEN\\Senior\\AC/Lyon\\10:00:00\\0\\3\r\n");
}

}  // namespace
}  // namespace lapora
