// A real FTP server for the upload tests: pyftpdlib run by the system's Python as a child
// process, serving a folder to two users with write rights on a loopback address, optionally
// holding uploads mid-way. For one thread; the server is ended (SIGTERM) and reaped when the
// object goes.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "export/ftp_servers.h"
#include "support/simulator_process.h"
#include "support/temp_dir.h"

namespace lapora::testing {

// A server entry of FtpServers.dat, fields in the order of its line.
inline CFtpServer Server(std::string label, std::string site, std::string user,
                         std::string password, std::string directory) {
  CFtpServer server;
  server.label = std::move(label);
  server.site = std::move(site);
  server.user = std::move(user);
  server.password = std::move(password);
  server.directory = std::move(directory);
  return server;
}

inline constexpr char kFtpUser[] = "alice";
inline constexpr char kFtpPassword[] = "secret";
inline constexpr char kFtpOtherUser[] = "bob";
inline constexpr char kFtpOtherPassword[] = "hunter2";

// Waits until condition() holds or the deadline passes; returns its last value.
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
  auto end = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) {
      return condition();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// A Python server script run by the system's Python as a child process, writing the port it
// listens on to a file whose path it is given. Ended (SIGTERM) and reaped when the object goes.
class PythonServerProcess {
 public:
  ~PythonServerProcess() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGTERM);
      int status = 0;
      ::waitpid(m_pid, &status, 0);
    }
  }
  PythonServerProcess(const PythonServerProcess&) = delete;
  PythonServerProcess& operator=(const PythonServerProcess&) = delete;

  // 0 when it did not start.
  int Port() const { return m_port; }

 protected:
  PythonServerProcess() = default;

  // Where the script must write its port (whole: through a rename).
  std::string PortFile() const { return m_dir.File("port"); }

  // Writes the script and runs it with its arguments; returns once the port is known or the
  // script has ended.
  void Start(const std::string& scriptText, std::vector<std::string> args) {
    std::string script = m_dir.File("server.py");
    WriteFile(script, scriptText);
    args.insert(args.begin(), {"/usr/bin/python3", script});
    const pid_t parent = ::getpid();
    m_pid = ::fork();
    if (m_pid == 0) {
      DieWithTestProcess(parent);
      std::vector<char*> argv;
      for (std::string& arg : args) {
        argv.push_back(arg.data());
      }
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    std::string portFile = PortFile();
    (void)WaitFor([&] {
      if (std::filesystem::exists(portFile)) {
        m_port = std::stoi(ReadFile(portFile));
        return true;
      }
      int status = 0;
      if (m_pid <= 0 || ::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;  // it ended: no server
        return true;
      }
      return false;
    });
  }

 private:
  TempDir m_dir;
  pid_t m_pid = -1;
  int m_port = 0;
};

class FtpTestServer : public PythonServerProcess {
 public:
  // Serves root on host; port 0 takes a free one. Port() is 0 when it did not start.
  // holdFile not empty: while a file of that path exists, the server reads no upload data
  // (beyond one first chunk of each upload).
  FtpTestServer(const std::string& root, const std::string& host = "127.0.0.1", int port = 0,
                const std::string& holdFile = "") {
    Start(R"(import logging, os, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer
logging.basicConfig(level=logging.ERROR)
root, host, port, port_file = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
hold_path = sys.argv[5]

class HeldDTPHandler(ThrottledDTPHandler):
    # Reads no upload data while the hold file exists: after each chunk read (the throttle's
    # hook), the channel rests until the file is gone. The client's sockets fill up and its
    # upload stops mid-file until the test lets it go on.
    read_limit = 1
    auto_sized_buffers = False

    def _resume_when_released(self):
        if os.path.exists(hold_path):
            self._throttler = self.ioloop.call_later(0.02, self._resume_when_released,
                                                     _errback=self.handle_error)
        else:
            self.add_channel(events=self.ioloop.READ)

    def _throttle_bandwidth(self, len_chunk, max_speed):
        if os.path.exists(hold_path):
            self.del_channel()
            self._cancel_throttler()
            self._resume_when_released()

if hold_path:
    FTPHandler.dtp_handler = HeldDTPHandler
authorizer = DummyAuthorizer()
authorizer.add_user("alice", "secret", root, perm="elradfmwMT")
authorizer.add_user("bob", "hunter2", root, perm="elradfmwMT")
FTPHandler.authorizer = authorizer
FTPHandler.auth_failed_timeout = 0
server = FTPServer((host, port), FTPHandler)
with open(port_file + ".tmp", "w") as f:
    f.write(str(server.socket.getsockname()[1]))
os.rename(port_file + ".tmp", port_file)
server.serve_forever()
)",
          {root, host, std::to_string(port), PortFile(), holdFile});
  }
};

}  // namespace lapora::testing
