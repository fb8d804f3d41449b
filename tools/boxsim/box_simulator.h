// The simulated box: one event loop that serves one PC connection at a time (TCP or a
// pseudo-terminal), answers its commands and sends reports and detections. Everything runs on
// the thread that calls Run(), except the optional HTTP service, which only reads the last
// packed data under m_packMutex.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "box_clock.h"
#include "boxsim_options.h"
#include "race_source.h"

namespace httplib {
class Server;
}

namespace lapora::boxsim {

class CBoxSimulator {
 public:
  explicit CBoxSimulator(const Options& options);
  ~CBoxSimulator();
  CBoxSimulator(const CBoxSimulator&) = delete;
  CBoxSimulator& operator=(const CBoxSimulator&) = delete;

  // Sets everything up, serves until the end condition, returns the process exit code.
  int Run();

 private:
  struct OutLine {
    uint64_t start = 0;  // stream offsets of the line in this connection's output
    uint64_t end = 0;
    bool isRead = false;  // a live read: goes to the data file, the store and the send log
    bool whole = false;   // written as the source gave it
    uint32_t payloadPos = 0;
  };
  struct PendingPack {
    int64_t due = 0;
    std::string sequence;
    std::string csv;
  };

  bool Setup();
  // Binds the port; listens at once, or after refuseSeconds (refused meanwhile).
  bool OpenListener(double refuseSeconds);
  bool OpenPty();
  void StartHttp();
  void StopHttp();
  void Loop();

  void StartSession(int fd, const std::string& peer);
  void EndSession(const std::string& reason, bool dropped);
  void LogSession(const char* what, const std::string& detail);
  void AcceptConnections();
  void ReadCommands();
  void HandleCommand(const std::string& raw);
  void Reply(const std::string& command, const std::string& sequence, const std::string& payload);

  void Produce(int64_t now);
  void ProduceDetections(int64_t now);
  bool QueueNextRead();
  // Keeps a read in the box's store (and the data file).
  void StoreRead(const char* payload, size_t length);
  // Makes and stores the reads due while no PC is connected (--store-offline).
  void ProduceOffline();
  void QueueReport(const std::string& keyword, const std::string& payload);
  void QueueLine(const std::string& text, bool isRead, bool whole, uint32_t payloadPos);
  void QueueGarbage();
  void QueueStatus();
  void WriteOutput(int64_t now);
  void LineWritten(const OutLine& line);
  int64_t NextWake(int64_t now) const;

  std::string NextSequence();
  bool Stalled(int64_t now) const { return now < m_stallUntil; }
  void BeginPendingStall(int64_t now);
  bool AnyChannelOpen() const;
  bool InRange(const std::string& payload, const std::string& from, const std::string& to) const;
  [[nodiscard]] bool ParseRange(const std::string& parameter, std::string& from,
                                std::string& to) const;
  void CheckRaceDone();

  const Options& m_o;
  CBoxClock m_clock;
  std::unique_ptr<CDetectionSource> m_source;
  bool m_stop = false;
  int m_signalPipe[2] = {-1, -1};

  // Transport.
  int m_listenFd = -1;
  bool m_listening = false;
  bool m_refusing = false;
  int m_port = 0;
  int64_t m_acceptFrom = 0;
  int m_ptyMaster = -1;
  std::string m_ptyPath;
  int64_t m_nextPeerCheck = 0;

  // Session.
  int m_fd = -1;
  bool m_connected = false;
  int64_t m_sessionStart = 0;
  int64_t m_connReads = 0;
  bool m_dropPending = false;
  int m_dropsDone = 0;
  int m_connections = 0;
  std::string m_in;
  std::string m_out;
  uint64_t m_outBase = 0;     // stream offset of m_out[0]
  uint64_t m_streamDone = 0;  // stream offset written so far
  std::deque<OutLine> m_lines;
  int64_t m_unwrittenReads = 0;
  int64_t m_nextWriteAt = 0;
  std::deque<SourceItem> m_backlog;

  // Box state.
  int m_sequence = 0;
  bool m_channels[4] = {true, true, true, true};
  std::string m_gateTime = "1.0";
  std::string m_stored;  // every read kept by the box, one payload per line
  int64_t m_storedCount = 0;
  int64_t m_offlineReads = 0;  // stored since the last connection ended
  std::deque<PendingPack> m_packs;

  // Timers and counters.
  int64_t m_nextHeartbeat = 0;
  int64_t m_nextStatus = 0;
  bool m_raceStarted = false;
  int64_t m_raceStartSys = 0;
  int64_t m_rateStart = 0;
  int64_t m_rateQueued = 0;
  int64_t m_liveQueued = 0;
  int64_t m_readsSent = 0;
  int64_t m_linesSent = 0;
  int64_t m_garbageSent = 0;
  int m_garbageKind = 0;
  int64_t m_stallUntil = 0;
  bool m_stallDone = false;
  // The stall waits for its last line to be written: the peer gets every line before it.
  bool m_stallPending = false;
  uint64_t m_stallAfterStream = 0;  // stream offset at the end of that line
  bool m_stallShown = false;
  bool m_raceDoneShown = false;
  int64_t m_exitAt = 0;

  // Files.
  FILE* m_dataFile = nullptr;
  FILE* m_sendLog = nullptr;
  FILE* m_sessionLog = nullptr;
  SourceItem m_item;

  // HTTP service.
  std::unique_ptr<httplib::Server> m_http;
  std::thread m_httpThread;
  std::mutex m_packMutex;
  std::string m_packedCsv;     // GUARDED_BY m_packMutex
  bool m_packedReady = false;  // GUARDED_BY m_packMutex
};

}  // namespace lapora::boxsim
