// Command-line settings of the box simulator and their parser.
// Plain values, filled once at start-up on the main thread.
#pragma once

#include <cstdint>
#include <string>

namespace lapora::boxsim {

struct Options {
  // Transport: exactly one of TCP or pseudo-terminal.
  bool useTcp = false;
  int tcpPort = 0;  // 0: the system picks a free port
  std::string bindAddress = "127.0.0.1";
  bool usePty = false;
  std::string ptyLink;  // symbolic link made to the slave path

  std::string deviceId = "57";
  std::string lineEnd;  // empty: ";" on TCP, ";\n" on the pseudo-terminal

  // Race generation.
  bool race = false;
  int runners = 10;
  int chipsPerRunner = 1;
  int readsPerCrossing = 1;
  bool massStart = false;
  double spreadSeconds = 60.0;
  int laps = 0;  // 0: one lap, or as many as --count needs
  double lapSeconds = 0.0;
  int firstBib = 1;
  std::string chipPrefix = "E2003412";
  int readGapMs = 20;
  int chipGapMs = 5;
  int64_t count = 0;  // 0: no limit besides the race itself
  double rate = 0.0;  // detection lines per second, 0: as fast as possible
  int64_t burst = 0;  // detection lines sent as fast as possible before the rate applies
  bool realtime = false;
  int startDelayMs = 200;
  std::string playFile;

  // Files.
  std::string dataFile;
  std::string chipTable;
  std::string sendLog;
  std::string sessionLog;

  // HTTP service of packed data.
  bool http = false;
  int httpPort = 0;

  // Periodic reports.
  bool silent = false;
  int heartbeatMs = 1000;
  int statusMs = 5000;
  int dateOffsetDays = 0;
  int64_t clockOffsetMs = 0;
  bool channelsClosed = false;

  // Faults.
  int64_t dropAfter = 0;
  int drops = 0;  // 0: every connection is dropped after dropAfter
  double refuseSeconds = 0.0;
  double outageSeconds = 0.0;  // refused after a drop only
  bool storeOffline = false;
  bool splitWrites = false;
  int splitPauseMs = 2;
  int64_t garbageEvery = 0;
  int64_t stallAfter = 0;
  double stallSeconds = 0.0;
  bool packFail = false;
  int packDelayMs = 200;

  // Life.
  double exitAfterSeconds = 0.0;
  bool exitWhenDone = false;
  bool loop = false;
};

// Parses argv. Returns false with a message in `error` on bad usage; sets `helpShown`
// when --help was asked (the caller prints Usage() and exits 0).
[[nodiscard]] bool ParseOptions(int argc, char** argv, Options& options, bool& helpShown,
                                std::string& error);

std::string Usage();

}  // namespace lapora::boxsim
