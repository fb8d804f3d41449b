// The TCP side of the simulator: accepts one client at a time, cuts its bytes into lines, logs
// each line with its receive time, and sends the answers of the responder or of the script.
// Single-threaded: Run() is a poll loop; construct, Start and Run on the same thread.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "reply_script.h"
#include "responder.h"

namespace lapora::resultsim {

struct CServerSettings {
  std::string bindAddress = "0.0.0.0";
  int port = 8283;
  int receiveBuffer = 0;     // SO_RCVBUF of accepted sockets, 0: the system's
  int stopReadingAfter = 0;  // stop reading after this line of a connection, 0: never
  int resumeAfterMs = 0;     // when stopped, read again after this long, 0: never
  int closeAfter = 0;        // close the connection after answering this line, 0: never
  int replyDelayMs = 0;      // every answer goes out this much later (order kept)
  int clients = 0;           // end after this many connections, 0: never
  bool quiet = false;        // no "received"/"sent" event lines
  std::string logPath;       // receive log, empty: none
  std::string recordPath;    // every detection request received, appended; empty: none
};

class CServer {
 public:
  CServer(CServerSettings settings, CResponder& responder, CReplyScript& script)
      : m_settings(std::move(settings)), m_responder(responder), m_script(script) {}
  ~CServer();
  CServer(const CServer&) = delete;
  CServer& operator=(const CServer&) = delete;

  // Opens the log and the listening socket and announces "listening on PORT".
  [[nodiscard]] bool Start(std::string& error);

  // Serves clients until stopFd becomes readable or the client count is reached. On a stop,
  // the lines already in the connection's buffers are read and logged first: the client's
  // system acknowledged them, so they count as received. Returns the process exit code.
  int Run(int stopFd);

 private:
  enum class Phase { kNone, kServing, kClosing, kDraining };
  struct Pending {
    int64_t dueUs = 0;
    std::string bytes;
    std::string shown;  // the event text
    bool close = false;
  };

  void Accept();
  // Reads what the client sent; false when the connection ended.
  bool ReadClient();
  void HandleLine(const std::string& raw);
  void Queue(int64_t dueUs, std::string bytes, std::string shown, bool close);
  void Pump();
  void Drain();
  void EndClient(const char* how);
  int NextLimit() const;
  int PollTimeoutMs() const;

  CServerSettings m_settings;
  CResponder& m_responder;
  CReplyScript& m_script;
  int m_listenFd = -1;
  int m_logFd = -1;
  int m_recordFd = -1;

  // The current connection.
  int m_client = -1;
  Phase m_phase = Phase::kNone;
  std::string m_input;  // bytes after the last line end
  int m_lines = 0;
  bool m_reading = true;
  bool m_stoppedOnce = false;
  int64_t m_resumeAtUs = 0;
  std::deque<Pending> m_pending;
  std::string m_output;
  bool m_closeReady = false;
  int64_t m_drainDeadlineUs = 0;
  int m_finishedClients = 0;
};

}  // namespace lapora::resultsim
