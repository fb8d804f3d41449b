#include "boxsim_options.h"

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>

namespace lapora::boxsim {

namespace {

bool ToInt64(const std::string& text, int64_t min, int64_t& out) {
  if (text.empty()) {
    return false;
  }
  errno = 0;
  char* end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < min) {
    return false;
  }
  out = value;
  return true;
}

bool ToDouble(const std::string& text, double min, double& out) {
  if (text.empty()) {
    return false;
  }
  errno = 0;
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || value < min) {
    return false;
  }
  out = value;
  return true;
}

bool ToLineEnd(const std::string& text, std::string& out) {
  // Built as new strings: assigning short literals trips a false -Wrestrict in GCC 12.
  if (text == ";" || text == "semicolon") {
    out = std::string(1, ';');
  } else if (text == "\\n" || text == "\n" || text == "lf") {
    out = std::string(1, '\n');
  } else if (text == ";\\n" || text == ";\n" || text == "both") {
    out = std::string(";\n", 2);
  } else {
    return false;
  }
  return true;
}

}  // namespace

std::string Usage() {
  return R"(boxsim - plays the timing box side of the box protocol

Transport (one of):
  --tcp PORT                listen on PORT (0: pick a free port); prints "listening on PORT"
  --bind ADDRESS            address to listen on (default 127.0.0.1)
  --pty                     open a pseudo-terminal; prints "pty /dev/pts/N"
  --pty-link PATH           also make PATH a symbolic link to the pseudo-terminal

Box:
  --device-id ID            device id, first field of every line (default 57)
  --line-end END            ';' | '\n' | ';\n' (also: semicolon, lf, both);
                            default ';' on TCP, ';\n' on the pseudo-terminal
  --silent                  send nothing at all (commands are still read and printed)
  --heartbeat-ms MS         heartBeat period (default 1000, 0: none)
  --status-ms MS            machineDate, machineTime, machineState, channelsState period
                            (default 5000, 0: none)
  --date-offset-days D      the box clock runs D days ahead of the system clock
  --clock-offset-ms MS      and MS milliseconds ahead (negative: behind), as a drifted box
  --channels-closed         the four reader channels start stopped (readerOpen starts reading)
  --store-offline           as a real box: every read is stored when made, reads made while no
                            PC is connected (or not yet written when a connection ends) are
                            never sent live, only replayed by rewindData; needs --realtime

Detections (one of):
  --race                    generate a race with the options below
    --runners N             runners (default 10), bibs from --first-bib (default 1)
    --chips-per-runner C    chips per runner (default 1)
    --reads-per-crossing K  reads of one chip at each crossing (default 1), --read-gap-ms apart
                            (default 20); the chips of one runner are --chip-gap-ms apart (5)
    --mass-start            every runner crosses within the first 2 seconds of a lap
    --spread SECONDS        crossings spread evenly over SECONDS (default 60)
    --laps L                crossings per chip (default 1, or as many as --count needs)
    --lap-seconds S         lap duration (default: the spread plus 1 second)
    --chip-prefix HEX       chip identifier prefix (default E2003412); the chip of bib B,
                            chip number k (0-based) is the prefix and %016X of (k<<32 | B)
  --play FILE               send the lines of FILE: detection texts
                            (2012-05-13_10:23:45.120,E20034120000A1) or whole box lines
  --count N                 stop after N detection lines
  --rate LINES_PER_SEC      pace the detection lines (default: as fast as possible)
  --burst N                 send the first N detection lines as fast as possible, then pace
                            the rest with --rate (a race-scale backlog, then a steady flow)
  --realtime                send each generated read when its time comes on the box clock
  --start-delay-ms MS       pause between a connection and the first detection (default 200)

Files:
  --data-file PATH          every read sent is appended (one detection text per line)
  --chip-table PATH         write the chip table of the generated race ("bib chip" lines)
  --send-log PATH           "<unix time in microseconds> <line>" for every detection line,
                            stamped when its last byte was handed to the system
  --session-log PATH        "<unix time in microseconds> connected|disconnected <reads sent so
                            far> <peer or reason>" at the start and end of every connection
  --http-port PORT          serve the last packed data at /currentData.csv (0: pick a port;
                            prints "http on PORT")

Faults:
  --drop-after N            close each connection after N detection lines
  --drops M                 drop only the first M connections (default: every one)
  --refuse-seconds S        refuse connections for S seconds at start and after each drop
                            (SIGUSR1 ends a refusal at once)
  --outage-seconds S        refuse connections for S seconds after each drop only
  --split-writes            write every line in two pieces, --split-pause-ms apart (default 2)
  --garbage-every N         send a malformed line after every N detection lines
  --stall-after N           after N detection lines, send nothing for --stall-seconds S
  --stall-seconds S
  --pack-fail               packDataResult reports "FAILED: disk"
  --pack-delay-ms MS        delay between packDataSection and packDataResult (default 200)

Life:
  --loop                    accept a new connection after one ends (default: exit)
  --exit-after-seconds S    exit after S seconds
  --exit-when-done          exit once every detection line has been written
  --help                    this text

Standard output: one line per event ("listening on PORT", "pty PATH", "http on PORT",
"connected ...", "command: LINE", "unknown command: LINE", "disconnected: ...",
"race done: sent N detections", "done: sent N detections, L lines"), flushed at once.
)";
}

bool ParseOptions(int argc, char** argv, Options& o, bool& helpShown, std::string& error) {
  helpShown = false;
  using Handler = std::function<bool(const std::string&)>;
  auto intOpt = [](int& field, int64_t min) {
    return Handler([&field, min](const std::string& v) {
      int64_t value = 0;
      if (!ToInt64(v, min, value) || value > 2000000000) {
        return false;
      }
      field = static_cast<int>(value);
      return true;
    });
  };
  auto int64Opt = [](int64_t& field, int64_t min) {
    return Handler([&field, min](const std::string& v) { return ToInt64(v, min, field); });
  };
  auto doubleOpt = [](double& field, double min) {
    return Handler([&field, min](const std::string& v) { return ToDouble(v, min, field); });
  };
  auto textOpt = [](std::string& field) {
    return Handler([&field](const std::string& v) {
      field = v;
      return !v.empty();
    });
  };
  std::map<std::string, Handler> withValue = {
      {"--tcp",
       [&o](const std::string& v) {
         int64_t port = 0;
         o.useTcp = ToInt64(v, 0, port) && port <= 65535;
         o.tcpPort = static_cast<int>(port);
         return o.useTcp;
       }},
      {"--bind", textOpt(o.bindAddress)},
      {"--pty-link", textOpt(o.ptyLink)},
      {"--device-id", textOpt(o.deviceId)},
      {"--line-end", [&o](const std::string& v) { return ToLineEnd(v, o.lineEnd); }},
      {"--heartbeat-ms", intOpt(o.heartbeatMs, 0)},
      {"--status-ms", intOpt(o.statusMs, 0)},
      {"--date-offset-days", intOpt(o.dateOffsetDays, -100000)},
      {"--clock-offset-ms", int64Opt(o.clockOffsetMs, -86400000)},
      {"--runners", intOpt(o.runners, 1)},
      {"--chips-per-runner", intOpt(o.chipsPerRunner, 1)},
      {"--reads-per-crossing", intOpt(o.readsPerCrossing, 1)},
      {"--read-gap-ms", intOpt(o.readGapMs, 0)},
      {"--chip-gap-ms", intOpt(o.chipGapMs, 0)},
      {"--spread", doubleOpt(o.spreadSeconds, 0.0)},
      {"--laps", intOpt(o.laps, 1)},
      {"--lap-seconds", doubleOpt(o.lapSeconds, 0.0)},
      {"--first-bib", intOpt(o.firstBib, 0)},
      {"--chip-prefix", textOpt(o.chipPrefix)},
      {"--play", textOpt(o.playFile)},
      {"--count", int64Opt(o.count, 1)},
      {"--rate", doubleOpt(o.rate, 0.0)},
      {"--burst", int64Opt(o.burst, 1)},
      {"--start-delay-ms", intOpt(o.startDelayMs, 0)},
      {"--data-file", textOpt(o.dataFile)},
      {"--chip-table", textOpt(o.chipTable)},
      {"--send-log", textOpt(o.sendLog)},
      {"--session-log", textOpt(o.sessionLog)},
      {"--http-port",
       [&o](const std::string& v) {
         int64_t port = 0;
         o.http = ToInt64(v, 0, port) && port <= 65535;
         o.httpPort = static_cast<int>(port);
         return o.http;
       }},
      {"--drop-after", int64Opt(o.dropAfter, 1)},
      {"--drops", intOpt(o.drops, 1)},
      {"--refuse-seconds", doubleOpt(o.refuseSeconds, 0.0)},
      {"--outage-seconds", doubleOpt(o.outageSeconds, 0.0)},
      {"--split-pause-ms", intOpt(o.splitPauseMs, 0)},
      {"--garbage-every", int64Opt(o.garbageEvery, 1)},
      {"--stall-after", int64Opt(o.stallAfter, 1)},
      {"--stall-seconds", doubleOpt(o.stallSeconds, 0.0)},
      {"--pack-delay-ms", intOpt(o.packDelayMs, 0)},
      {"--exit-after-seconds", doubleOpt(o.exitAfterSeconds, 0.0)},
  };
  std::map<std::string, bool*> flags = {
      {"--pty", &o.usePty},
      {"--race", &o.race},
      {"--mass-start", &o.massStart},
      {"--realtime", &o.realtime},
      {"--silent", &o.silent},
      {"--channels-closed", &o.channelsClosed},
      {"--split-writes", &o.splitWrites},
      {"--pack-fail", &o.packFail},
      {"--store-offline", &o.storeOffline},
      {"--exit-when-done", &o.exitWhenDone},
      {"--loop", &o.loop},
  };
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      helpShown = true;
      return true;
    }
    if (auto flag = flags.find(arg); flag != flags.end()) {
      *flag->second = true;
      continue;
    }
    auto handler = withValue.find(arg);
    if (handler == withValue.end()) {
      error = "unknown option " + arg;
      return false;
    }
    if (i + 1 >= argc) {
      error = "option " + arg + " needs a value";
      return false;
    }
    std::string value = argv[++i];
    if (!handler->second(value)) {
      error = "bad value for " + arg + ": " + value;
      return false;
    }
  }
  if (o.useTcp == o.usePty) {
    error = "give exactly one of --tcp PORT and --pty";
    return false;
  }
  if (o.race && !o.playFile.empty()) {
    error = "--race and --play exclude each other";
    return false;
  }
  if (o.realtime && !o.race) {
    error = "--realtime needs --race";
    return false;
  }
  if (o.storeOffline && !o.realtime) {
    error = "--store-offline needs --realtime";
    return false;
  }
  if (!o.chipTable.empty() && !o.race) {
    error = "--chip-table needs --race";
    return false;
  }
  if (o.chipPrefix.find_first_of("@;, \t\r\n") != std::string::npos) {
    error = "--chip-prefix must not hold separators";
    return false;
  }
  if (o.deviceId.find_first_of("@;\r\n") != std::string::npos) {
    error = "--device-id must not hold '@', ';' or line ends";
    return false;
  }
  if (o.lineEnd.empty()) {
    o.lineEnd = o.usePty ? ";\n" : ";";
  }
  return true;
}

}  // namespace lapora::boxsim
