// One-line requests between programs of this user on this machine, over a local stream socket
// (AF_UNIX) in a private folder: a server that answers them on its own thread, and the client's
// single request. No peer can hold either side: every wait has a deadline, and a client that
// connects and stays silent is dropped. LocalRequestServer: Start and Stop from one thread; the
// handler runs on the server's thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace lapora {

// True when folder is a directory owned by this user that no one else may write to, so no one
// else can put a socket of theirs in place of ours; otherwise errorText says what is wrong.
[[nodiscard]] bool IsPrivateFolder(const std::string& folder, std::string* errorText = nullptr);

class LocalRequestServer {
 public:
  // The reply to one request line (both without their line end).
  using Handler = std::function<std::string(const std::string& request)>;

  // A connected client has this long to send its request line.
  static constexpr std::chrono::milliseconds kRequestDeadline{2000};
  // Clients served at once; more wait in the listen queue until one is done or dropped.
  static constexpr std::size_t kMaxClients = 8;
  // A longer request line is not one of ours: the client is dropped unanswered.
  static constexpr std::size_t kMaxRequestBytes = 256;

  LocalRequestServer() = default;
  LocalRequestServer(const LocalRequestServer&) = delete;
  LocalRequestServer& operator=(const LocalRequestServer&) = delete;
  ~LocalRequestServer();

  // Listens at path (its folder must be private), readable and writable by this user only,
  // and starts the serving thread. A socket already at path is replaced: the caller makes sure
  // it is a leftover (e.g. it holds the lock that the socket's owner held). Anything else at
  // path is left alone and makes Start fail.
  [[nodiscard]] bool Start(const std::string& path, Handler handler, std::string* errorText);
  // Ends the thread, then removes the socket file unless another server has replaced it.
  // Harmless when not started.
  void Stop();
  bool IsRunning() const { return m_thread.joinable(); }

 private:
  void Serve();

  int m_listenFd = -1;
  int m_wakePipe[2] = {-1, -1};
  std::string m_path;
  std::uint64_t m_device = 0;  // the socket file this server made
  std::uint64_t m_inode = 0;
  Handler m_handler;
  std::thread m_thread;
};

enum class LocalRequestResult {
  kAnswered,  // the reply line is in *reply
  kNoServer,  // no socket at path, or nothing listens on it (a leftover)
  kFailed,    // the folder or the socket is not safe, no answer in time, or a call failed
};

// Connects to the socket at path, sends the request line and waits for the reply line, for at
// most timeout in all. errorText says why when the result is not kAnswered.
[[nodiscard]] LocalRequestResult SendLocalRequest(const std::string& path,
                                                  const std::string& request,
                                                  std::chrono::milliseconds timeout,
                                                  std::string* reply, std::string* errorText);

}  // namespace lapora
