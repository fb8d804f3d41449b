// A peer that vanishes without a word, as behind a pulled cable: the test process moves into a
// network namespace of its own (loopback up), where the peer listens on 127.0.0.2; CutPeer
// routes that address into a black hole, so that nothing reaches the peer any more and no
// closing is ever seen, and RestorePeer brings it back. Needs the right to make a network
// namespace (root, as in CI) and the `ip` tool; Enter says why not when it cannot. Call Enter
// on the test's main thread before it starts any thread: threads made later inherit the
// namespace. For one thread.
#pragma once

#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace lapora::testing {

class VanishingPeerNetwork {
 public:
  static constexpr const char* kPeerAddress = "127.0.0.2";

  VanishingPeerNetwork() = default;
  VanishingPeerNetwork(const VanishingPeerNetwork&) = delete;
  VanishingPeerNetwork& operator=(const VanishingPeerNetwork&) = delete;
  ~VanishingPeerNetwork() {
    if (m_cut) {
      (void)RestorePeer();
    }
  }

  bool Enter(std::string* reason) {
    for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
      if (::access(path, X_OK) == 0) {
        m_ip = path;
        break;
      }
    }
    if (m_ip.empty()) {
      *reason = "no ip tool (iproute2)";
      return false;
    }
    if (::unshare(CLONE_NEWNET) != 0) {
      *reason = std::string("no network namespace of our own: ") + std::strerror(errno);
      return false;
    }
    if (!Ip({"link", "set", "lo", "up"})) {
      *reason = "ip link set lo up failed";
      return false;
    }
    return true;
  }
  bool CutPeer() {
    m_cut = Ip({"route", "add", "table", "local", "blackhole", std::string(kPeerAddress) + "/32"});
    return m_cut;
  }
  bool RestorePeer() {
    bool restored =
        Ip({"route", "del", "table", "local", "blackhole", std::string(kPeerAddress) + "/32"});
    m_cut = m_cut && !restored;
    return restored;
  }

 private:
  bool Ip(std::vector<std::string> args) {
    args.insert(args.begin(), m_ip);
    std::vector<char*> argv;
    for (std::string& arg : args) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, m_ip.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
      return false;
    }
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  std::string m_ip;
  bool m_cut = false;
};

}  // namespace lapora::testing
