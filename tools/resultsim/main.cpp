// resultsim: a results-software simulator for Lapora's direct connection. It listens on TCP,
// answers each request line and logs every line it receives with its receive time.
// Options and reply shapes: README.md beside this file.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "reply_script.h"
#include "responder.h"
#include "result_book.h"
#include "sim_server.h"
#include "start_list.h"
#include "wire_text.h"

namespace lapora::resultsim {
namespace {

constexpr const char* kUsage = R"(usage: resultsim [options]
  --port N                 TCP port (default 8283; 0 picks a free one)
  --bind ADDR              IPv4 address to listen on (default 0.0.0.0)
  --log FILE               receive log: "<unix us> <line as received, escaped>" per line
  --record FILE            every AddKolClock line received, as it came without its CR LF,
                           appended (a simulator started again adds to the same file)
  --quiet                  no "received"/"sent" lines on stdout
  --layout L               runner results as nq04, nq05, nq06 (default) or res1
  --mode TEXT              answer to GetMode(): NFO:24 TEXT (default Chrono)
  --user TEXT              answer to GetUserName(): NFO:25 TEXT (default Demo)
  --competition TEXT       answer to GetCompetitionName(): NFO:5 TEXT (default "Demo race")
  --file TEXT              answer to GetFilename(): NFO:6 TEXT (default demo.dxp)
  --version TEXT           answer to GetVersion(): NFO:27 TEXT (default 4,4,0,1)
  --printable-version TEXT answer to GetPrintableVersion(): NFO:28 TEXT (default 4.40a)
  --detectors LIST         answer to GetDetectorList(): NFO:7 with the comma-separated
                           pieces joined by backslashes (default: none, "NFO:7")
  --start-list FILE        runners: bib;last;first;sex;category;category name[;team[;nation[;race]]]
  --generate N             N generated runners, bibs 1..N (default 100 without --start-list)
  --seed N                 seed of the generated runners (default 1)
  --race-start TIME        HH:MM:SS[.hh] taken off detection times to give TIME (default 0)
  --distance DET=KM        DIST of results at detector DET (repeatable; default 0)
  --control-detectors LIST comma-separated detectors whose results get the control status
  --control-status N       status at control detectors (default -8)
  --unknown-status N       status of bibs not in the start list (default -5)
  --status N               status of credited detections (default 3)
  --fill-empty TEXT        written for empty text fields in tagged layouts (default "-";
                           "" keeps them empty)
  --reserved TEXT          the reserved field (default 0)
  --script FILE            scripted answers (see README.md)
  --reply-delay MS         every answer goes out MS later (default 0)
  --stop-reading-after N   stop reading the connection after its N-th line
  --resume-after MS        then read again after MS (default: never)
  --close-after N          close the connection after answering its N-th line
  --rcvbuf BYTES           SO_RCVBUF of the connections (small: a stalled reader blocks soon)
  --clients N              end after N connections (default: run until SIGINT/SIGTERM)
  Texts given as options or in files may be UTF-8 or Windows-1252; they go out as Windows-1252.
)";

int g_stopPipe[2] = {-1, -1};

void OnStopSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t ignored = write(g_stopPipe[1], &byte, 1);
}

bool ParseInt(const std::string& text, long minimum, long maximum, int& value) {
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || parsed < minimum || parsed > maximum) {
    return false;
  }
  value = static_cast<int>(parsed);
  return true;
}

struct Options {
  CServerSettings server;
  CBookSettings book;
  CInfoTexts texts;
  Layout layout = Layout::kNq06;
  std::string startList;
  int generate = -1;
  int seed = 1;
  std::string fillEmpty = "-";
  std::string reserved = "0";
  std::string script;
};

// Returns 0 to go on, otherwise the exit code (help: 0 printed, errors: 2).
int ParseOptions(int argc, char** argv, Options& options, bool& helpShown) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool hasValue = false;
    const size_t equals = name.find('=');
    if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.erase(equals);
      hasValue = true;
    }
    if (name == "--help" || name == "-h") {
      std::fputs(kUsage, stdout);
      helpShown = true;
      return 0;
    }
    if (name == "--quiet") {
      options.server.quiet = true;
      continue;
    }
    static const char* const kWithValue[] = {"--port",
                                             "--bind",
                                             "--log",
                                             "--record",
                                             "--layout",
                                             "--mode",
                                             "--user",
                                             "--competition",
                                             "--file",
                                             "--version",
                                             "--printable-version",
                                             "--detectors",
                                             "--start-list",
                                             "--generate",
                                             "--seed",
                                             "--race-start",
                                             "--distance",
                                             "--control-detectors",
                                             "--control-status",
                                             "--unknown-status",
                                             "--status",
                                             "--fill-empty",
                                             "--reserved",
                                             "--script",
                                             "--reply-delay",
                                             "--stop-reading-after",
                                             "--resume-after",
                                             "--close-after",
                                             "--rcvbuf",
                                             "--clients"};
    bool known = false;
    for (const char* option : kWithValue) {
      known = known || name == option;
    }
    if (!known) {
      std::fprintf(stderr, "resultsim: unknown option %s (--help lists the options)\n",
                   name.c_str());
      return 2;
    }
    if (!hasValue) {
      if (i + 1 >= args.size()) {
        std::fprintf(stderr, "resultsim: %s needs a value (--help lists the options)\n",
                     name.c_str());
        return 2;
      }
      value = args[++i];
    }
    const auto bad = [&](const char* what) {
      std::fprintf(stderr, "resultsim: %s '%s': %s\n", name.c_str(), value.c_str(), what);
      return 2;
    };
    const auto number = [&](long minimum, long maximum, int& target) {
      return ParseInt(value, minimum, maximum, target);
    };
    const std::string text = ToCp1252IfUtf8(value);
    if (name == "--port") {
      if (!number(0, 65535, options.server.port)) {
        return bad("a port from 0 to 65535");
      }
    } else if (name == "--bind") {
      options.server.bindAddress = value;
    } else if (name == "--log") {
      options.server.logPath = value;
    } else if (name == "--record") {
      options.server.recordPath = value;
    } else if (name == "--layout") {
      if (!ParseLayout(value, options.layout)) {
        return bad("nq04, nq05, nq06 or res1");
      }
    } else if (name == "--mode") {
      options.texts.mode = text;
    } else if (name == "--user") {
      options.texts.user = text;
    } else if (name == "--competition") {
      options.texts.competition = text;
    } else if (name == "--file") {
      options.texts.file = text;
    } else if (name == "--version") {
      options.texts.version = text;
    } else if (name == "--printable-version") {
      options.texts.printableVersion = text;
    } else if (name == "--detectors") {
      options.texts.detectors = text;
      for (char& c : options.texts.detectors) {
        c = c == ',' ? '\\' : c;
      }
    } else if (name == "--start-list") {
      options.startList = value;
    } else if (name == "--generate") {
      if (!number(0, 1000000, options.generate)) {
        return bad("a runner count from 0 to 1000000");
      }
    } else if (name == "--seed") {
      if (!number(0, 2147483647, options.seed)) {
        return bad("a seed from 0");
      }
    } else if (name == "--race-start") {
      if (!ParseDetectionTime(value, options.book.raceStart) ||
          value.find(':') == std::string::npos) {
        return bad("a time HH:MM:SS or HH:MM:SS.hh");
      }
    } else if (name == "--distance") {
      const size_t at = value.rfind('=');
      char* end = nullptr;
      const double km = at == std::string::npos ? 0 : std::strtod(value.c_str() + at + 1, &end);
      if (at == std::string::npos || at == 0 || end == value.c_str() + at + 1 || *end != '\0') {
        return bad("DETECTOR=KM, e.g. 31=10.5");
      }
      options.book.distances[text.substr(0, text.rfind('='))] = km;
    } else if (name == "--control-detectors") {
      for (const std::string& detector : Split(text, ',')) {
        if (!detector.empty()) {
          options.book.controlDetectors.insert(detector);
        }
      }
    } else if (name == "--control-status") {
      if (!number(-100000, 100000, options.book.controlStatus)) {
        return bad("a status number");
      }
    } else if (name == "--unknown-status") {
      if (!number(-100000, 100000, options.book.unknownStatus)) {
        return bad("a status number");
      }
    } else if (name == "--status") {
      if (!number(-100000, 100000, options.book.creditedStatus)) {
        return bad("a status number");
      }
    } else if (name == "--fill-empty") {
      options.fillEmpty = text;
    } else if (name == "--reserved") {
      options.reserved = text;
    } else if (name == "--script") {
      options.script = value;
    } else if (name == "--reply-delay") {
      if (!number(0, 3600000, options.server.replyDelayMs)) {
        return bad("milliseconds");
      }
    } else if (name == "--stop-reading-after") {
      if (!number(1, 2147483647, options.server.stopReadingAfter)) {
        return bad("a line count from 1");
      }
    } else if (name == "--resume-after") {
      if (!number(1, 3600000, options.server.resumeAfterMs)) {
        return bad("milliseconds from 1");
      }
    } else if (name == "--close-after") {
      if (!number(1, 2147483647, options.server.closeAfter)) {
        return bad("a line count from 1");
      }
    } else if (name == "--rcvbuf") {
      if (!number(1, 1 << 30, options.server.receiveBuffer)) {
        return bad("a byte count from 1");
      }
    } else if (name == "--clients" && !number(1, 2147483647, options.server.clients)) {
      return bad("a connection count from 1");
    }
  }
  return 0;
}

int Main(int argc, char** argv) {
  Options options;
  bool helpShown = false;
  if (const int code = ParseOptions(argc, argv, options, helpShown); code != 0 || helpShown) {
    return code;
  }
  CStartList runners;
  if (!options.startList.empty()) {
    std::vector<std::string> warnings;
    std::string error;
    const bool loaded = runners.Load(options.startList, warnings, error);
    for (const std::string& warning : warnings) {
      std::fprintf(stderr, "resultsim: %s\n", warning.c_str());
    }
    if (!loaded) {
      std::fprintf(stderr, "resultsim: %s\n", error.c_str());
      return 1;
    }
  }
  if (options.generate >= 0 || options.startList.empty()) {
    CStartList generated;
    generated.Generate(options.generate >= 0 ? options.generate : 100,
                       static_cast<unsigned>(options.seed));
    if (options.startList.empty()) {
      runners = std::move(generated);
    } else {
      std::fprintf(stderr, "resultsim: --generate ignored: --start-list given\n");
    }
  }
  CReplyScript script;
  if (!options.script.empty()) {
    std::string error;
    if (!script.Load(options.script, error)) {
      std::fprintf(stderr, "resultsim: %s\n", error.c_str());
      return 1;
    }
  }
  CResultBook book(runners, options.book);
  CResponder responder(options.texts, book, options.layout, options.reserved, options.fillEmpty);

  if (pipe(g_stopPipe) != 0 || fcntl(g_stopPipe[1], F_SETFL, O_NONBLOCK) != 0) {
    std::fprintf(stderr, "resultsim: pipe: %s\n", std::strerror(errno));
    return 1;
  }
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::printf("runners %zu\n", runners.Size());
  std::fflush(stdout);
  CServer server(options.server, responder, script);
  std::string error;
  if (!server.Start(error)) {
    std::fprintf(stderr, "resultsim: %s\n", error.c_str());
    return 1;
  }
  return server.Run(g_stopPipe[0]);
}

}  // namespace
}  // namespace lapora::resultsim

int main(int argc, char** argv) {
  return lapora::resultsim::Main(argc, argv);
}
