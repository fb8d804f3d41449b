// A simulator (tools/boxsim, tools/resultsim) run as a child process, its standard output read
// line by line. For one thread, which must outlive it; the process is ended (SIGTERM) and reaped
// when the object goes, and killed if the test process dies first.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace lapora::testing {

// The lines, each with its line end: the output of a simulator shown in a failure.
inline std::string JoinLines(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& line : lines) {
    all += line + "\n";
  }
  return all;
}

// In a child just forked from the test process `parent`: the child is killed when the test
// process ends, even by a crash. A child left behind would hold the test's standard error, and
// with it the test runner waiting for its end.
inline void DieWithTestProcess(pid_t parent) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) {
    ::_exit(127);  // the test ended before the child asked
  }
}

class SimulatorProcess {
 public:
  SimulatorProcess(const std::string& program, std::vector<std::string> args) {
    int out[2];
    if (::pipe(out) != 0) {
      return;
    }
    const pid_t parent = ::getpid();
    m_pid = ::fork();
    if (m_pid == 0) {
      DieWithTestProcess(parent);
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      std::vector<char*> argv;
      std::string path = program;
      argv.push_back(path.data());
      for (std::string& arg : args) {
        argv.push_back(arg.data());
      }
      argv.push_back(nullptr);
      ::execv(path.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    m_out = out[0];
  }
  ~SimulatorProcess() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGTERM);
      int status = 0;
      ::waitpid(m_pid, &status, 0);
    }
    if (m_out >= 0) {
      ::close(m_out);
    }
  }
  SimulatorProcess(const SimulatorProcess&) = delete;
  SimulatorProcess& operator=(const SimulatorProcess&) = delete;

  // The rest of the first output line, after the lines already taken, that starts with
  // prefix; "" when none came before the deadline.
  std::string WaitEvent(const std::string& prefix,
                        std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
    auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
      while (m_taken < m_lines.size()) {
        const std::string& line = m_lines[m_taken++];
        if (line.rfind(prefix, 0) == 0) {
          return line.substr(prefix.size());
        }
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !ReadMore(static_cast<int>(left.count()))) {
        return "";
      }
    }
  }
  // Every output line read so far.
  const std::vector<std::string>& Lines() const { return m_lines; }

 private:
  bool ReadMore(int timeoutMs) {
    pollfd waited{m_out, POLLIN, 0};
    if (::poll(&waited, 1, timeoutMs) <= 0) {
      return false;
    }
    char buffer[4096];
    ssize_t got = ::read(m_out, buffer, sizeof buffer);
    if (got <= 0) {
      return false;
    }
    m_partial.append(buffer, static_cast<std::size_t>(got));
    std::size_t at;
    while ((at = m_partial.find('\n')) != std::string::npos) {
      m_lines.push_back(m_partial.substr(0, at));
      m_partial.erase(0, at + 1);
    }
    return true;
  }

  pid_t m_pid = -1;
  int m_out = -1;
  std::string m_partial;
  std::vector<std::string> m_lines;
  std::size_t m_taken = 0;
};

}  // namespace lapora::testing
