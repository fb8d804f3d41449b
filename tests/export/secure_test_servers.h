// Real servers for the secure upload tests, each a child process on a loopback port:
// - FtpsTestServer: pyftpdlib requiring TLS on the control and the data connections, with a
//   certificate that the test makes (openssl) and that no system trusts;
// - SftpTestServer: Debian's OpenSSH server with a host key of its own, a password login for a
//   user made for it alone and removed with it, and SFTP only. A server with password logins
//   must run as root: SftpTestServer::Unavailable says why it cannot start otherwise.
// For one thread; each server is ended (SIGTERM) and reaped when its object goes.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "export/ftp_test_server.h"
#include "support/loopback_peer.h"
#include "support/temp_dir.h"

namespace lapora::testing {

// A loopback port free at this moment, given back at once for a server that binds it itself.
inline int FreeLoopbackPort() {
  int port = 0;
  ::close(BoundLoopbackSocket(&port));
  return port;
}

// Runs a program (searched in PATH) with its arguments; input goes to its standard input, its
// output and errors to outputPath (or nowhere). Its exit status, or -1.
inline int RunProgram(std::vector<std::string> args, const std::string& input = "",
                      const std::string& outputPath = "/dev/null") {
  int in[2];
  if (::pipe(in) != 0) {
    return -1;
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in[0], STDIN_FILENO);
    ::close(in[0]);
    ::close(in[1]);
    int out = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (out >= 0) {
      ::dup2(out, STDOUT_FILENO);
      ::dup2(out, STDERR_FILENO);
      ::close(out);
    }
    std::vector<char*> argv;
    for (std::string& arg : args) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(in[0]);
  if (pid < 0) {
    ::close(in[1]);
    return -1;
  }
  if (!input.empty()) {
    (void)!::write(in[1], input.data(), input.size());
  }
  ::close(in[1]);
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
    return -1;
  }
  return WEXITSTATUS(status);
}

inline bool AcceptsConnections(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  bool accepted =
      fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (fd >= 0) {
    ::close(fd);
  }
  return accepted;
}

// A self-signed certificate for 127.0.0.1 and localhost, with its key, in PEM files.
struct TestCertificate {
  explicit TestCertificate(const TempDir& dir)
      : certificate(dir.File("server-cert.pem")), key(dir.File("server-key.pem")) {
    made = RunProgram({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                       "-subj", "/CN=Lapora test server", "-addext",
                       "subjectAltName=IP:127.0.0.1,DNS:localhost", "-keyout", key, "-out",
                       certificate}) == 0;
  }
  std::string certificate;
  std::string key;
  bool made = false;
};

class FtpsTestServer : public PythonServerProcess {
 public:
  // Serves root to kFtpUser with the certificate; Port() is 0 when it did not start.
  FtpsTestServer(const std::string& root, const TestCertificate& certificate) {
    Start(R"(import logging, os, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer
logging.basicConfig(level=logging.ERROR)
root, cert, key, port_file = sys.argv[1:5]
# libcurl starts TLS on a data connection as soon as it is open, before its transfer command;
# pyftpdlib would take the handshake for a client gone and close the connection.
class EarlyTlsDTPHandler(TLS_DTPHandler):
    def readable(self):
        if not self.receive and not self._initialized and (
                self._ssl_accepting or self._ssl_established):
            return self._ssl_accepting or self._ssl_want_read
        return super().readable()
TLS_FTPHandler.dtp_handler = EarlyTlsDTPHandler
authorizer = DummyAuthorizer()
authorizer.add_user("alice", "secret", root, perm="elradfmwMT")
TLS_FTPHandler.authorizer = authorizer
TLS_FTPHandler.certfile = cert
TLS_FTPHandler.keyfile = key
TLS_FTPHandler.tls_control_required = True
TLS_FTPHandler.tls_data_required = True
TLS_FTPHandler.auth_failed_timeout = 0
server = FTPServer(("127.0.0.1", 0), TLS_FTPHandler)
with open(port_file + ".tmp", "w") as f:
    f.write(str(server.socket.getsockname()[1]))
os.rename(port_file + ".tmp", port_file)
server.serve_forever()
)",
          {root, certificate.certificate, certificate.key, PortFile()});
  }
};

class SftpTestServer {
 public:
  static constexpr char kSshd[] = "/usr/sbin/sshd";

  // Empty when a server can start here; otherwise the reason.
  static std::string Unavailable() {
    if (::geteuid() != 0) {
      return "an SSH server with password logins needs root (CI runs as root)";
    }
    if (::access(kSshd, X_OK) != 0) {
      return std::string(kSshd) + " is missing (package openssh-server, scripts/install-deps)";
    }
    return "";
  }

  SftpTestServer() {
    static std::atomic<int> made{0};
    m_user = "lapora-sftp-" + std::to_string(::getpid()) + "-" + std::to_string(made++);
    m_password = "pw-" + std::to_string(::getpid()) + "-" + std::to_string(::time(nullptr));
    // The user's home lies in this folder: the user must be able to walk through it.
    ::chmod(m_dir.path().c_str(), 0755);
    std::filesystem::create_directories(Home());
    if (!MakeUser()) {
      m_error = "could not make the user " + m_user;
      return;
    }
    passwd* entry = ::getpwnam(m_user.c_str());
    if (entry == nullptr || ::chown(Home().c_str(), entry->pw_uid, entry->pw_gid) != 0) {
      m_error = "could not give the home folder to " + m_user;
      return;
    }
    ::mkdir("/run/sshd", 0755);  // the server's own empty folder for its unprivileged part
    if (RunProgram({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C", "", "-f", HostKeyPath()},
                   "", Log()) != 0) {
      m_error = "ssh-keygen failed";
      return;
    }
    std::string publicKey = ReadFile(HostKeyPath() + ".pub");
    m_hostKey = publicKey.substr(0, publicKey.find_last_not_of(" \r\n") + 1);
    // Another process may take the free port before the server binds it: try a few.
    for (int attempt = 0; attempt < 5 && m_port == 0; ++attempt) {
      Start(FreeLoopbackPort());
    }
    if (m_port == 0) {
      m_error = "sshd did not start: " + ReadFile(Log());
    }
  }
  ~SftpTestServer() {
    Stop();
    if (m_userMade) {
      // userdel waits for nobody: retry while another test holds the user files' lock.
      for (int attempt = 0; attempt < 50; ++attempt) {
        if (RunProgram({"userdel", m_user}) == 0) {
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    }
  }
  SftpTestServer(const SftpTestServer&) = delete;
  SftpTestServer& operator=(const SftpTestServer&) = delete;

  // 0 when it did not start; Error() then says why.
  int Port() const { return m_port; }
  const std::string& Error() const { return m_error; }
  const std::string& User() const { return m_user; }
  const std::string& Password() const { return m_password; }
  // The login folder, where relative remote folders start.
  std::string Home() const { return m_dir.File("home"); }
  // Makes a folder and everything in it the server user's, as its own uploads would have left
  // them.
  bool GiveToUser(const std::string& path) const {
    passwd* entry = ::getpwnam(m_user.c_str());
    if (entry == nullptr || ::chown(path.c_str(), entry->pw_uid, entry->pw_gid) != 0) {
      return false;
    }
    for (const auto& item : std::filesystem::recursive_directory_iterator(path)) {
      if (::chown(item.path().c_str(), entry->pw_uid, entry->pw_gid) != 0) {
        return false;
      }
    }
    return true;
  }
  // The server's public key as a known_hosts line writes it after the host: "type base64".
  const std::string& HostKey() const { return m_hostKey; }
  // The known_hosts line for this server on 127.0.0.1.
  std::string KnownHostsLine() const {
    return "[127.0.0.1]:" + std::to_string(m_port) + " " + m_hostKey + "\n";
  }

 private:
  std::string HostKeyPath() const { return m_dir.File("host_key"); }
  std::string Log() const { return m_dir.File("sshd.log"); }

  bool MakeUser() {
    // useradd and chpasswd refuse while another process holds the user files' lock.
    for (int attempt = 0; attempt < 50; ++attempt) {
      if (!m_userMade) {
        m_userMade =
            RunProgram({"useradd", "-M", "-N", "-d", Home(), "-s", "/usr/sbin/nologin", m_user}, "",
                       Log()) == 0;
      }
      if (m_userMade && RunProgram({"chpasswd"}, m_user + ":" + m_password + "\n", Log()) == 0) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

  void Start(int port) {
    std::string config = m_dir.File("sshd_config");
    WriteFile(config, "Port " + std::to_string(port) +
                          "\n"
                          "ListenAddress 127.0.0.1\n"
                          "HostKey " +
                          HostKeyPath() +
                          "\n"
                          "PidFile none\n"
                          "UsePAM no\n"
                          "PasswordAuthentication yes\n"
                          "KbdInteractiveAuthentication no\n"
                          "PubkeyAuthentication no\n"
                          "AuthorizedKeysFile none\n"
                          "PermitRootLogin no\n"
                          "AllowUsers " +
                          m_user +
                          "\n"
                          "Subsystem sftp internal-sftp\n"
                          "ForceCommand internal-sftp\n"
                          "UseDNS no\n"
                          "LogLevel ERROR\n");
    std::string log = Log();
    const pid_t parent = ::getpid();
    m_pid = ::fork();
    if (m_pid == 0) {
      DieWithTestProcess(parent);
      int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      if (out >= 0) {
        ::dup2(out, STDERR_FILENO);
        ::close(out);
      }
      ::execl(kSshd, kSshd, "-D", "-e", "-f", config.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    bool ended = false;
    bool listening = WaitFor([&] {
      int status = 0;
      ended = m_pid <= 0 || ::waitpid(m_pid, &status, WNOHANG) == m_pid;
      return ended || AcceptsConnections(port);
    });
    if (ended) {
      m_pid = -1;
    } else if (listening) {
      m_port = port;
    } else {
      Stop();
    }
  }

  void Stop() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGTERM);
      int status = 0;
      ::waitpid(m_pid, &status, 0);
      m_pid = -1;
    }
  }

  TempDir m_dir;
  std::string m_user;
  std::string m_password;
  std::string m_hostKey;
  std::string m_error;
  bool m_userMade = false;
  pid_t m_pid = -1;
  int m_port = 0;
};

}  // namespace lapora::testing
