// The program: the command line, the start-up sequence, the instance lock, then the Station
// shown by the window or, headless, by the console; the process ends when it closes.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "console/console_front_end.h"
#include "detections/chip_table.h"
#include "detections/recorded_detections.h"
#include "foundation/app_settings.h"
#include "foundation/clock.h"
#include "foundation/events.h"
#include "foundation/folders.h"
#include "foundation/instance_lock.h"
#include "foundation/log.h"
#include "foundation/pop_front.h"
#include "foundation/settings_store.h"
#include "foundation/speech.h"
#include "foundation/startup.h"
#include "foundation/temp_files.h"
#include "foundation/text.h"
#include "foundation/version.h"
#include "platform/process.h"
#include "platform/sdl_sound_player.h"
#include "platform/text_to_speech.h"
#include "resources/messages_app.h"
#include "station/station.h"
#if defined(LAPORA_WITH_QT)
#include "ui/qt_session.h"
#endif

namespace lapora {
namespace {

struct Options {
  bool headless = false;
  bool connect = false;
  bool direct = false;
  bool popFront = false;
  bool help = false;
  bool version = false;
  std::string dataDir;
  std::optional<std::chrono::milliseconds> duration;
};

// False (with the reason on stderr) when the command line is not understood.
bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "lapora: %s needs a value\n", name);
        return nullptr;
      }
      return argv[++i];
    };
    if (arg == "--headless") {
      options->headless = true;
    } else if (arg == "--connect") {
      options->connect = true;
    } else if (arg == "--direct") {
      options->direct = true;
    } else if (arg == "--popfront") {
      options->popFront = true;
    } else if (arg == "--data-dir") {
      const char* dir = value("--data-dir");
      if (dir == nullptr || *dir == '\0') {
        return false;
      }
      options->dataDir = dir;
    } else if (arg == "--duration") {
      const char* text = value("--duration");
      if (text == nullptr) {
        return false;
      }
      char* end = nullptr;
      double seconds = std::strtod(text, &end);
      if (end == text || *end != '\0' || !(seconds >= 0) || seconds > 1e7) {
        std::fprintf(stderr, "lapora: --duration wants a number of seconds, not \"%s\"\n", text);
        return false;
      }
      options->duration = std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    } else if (arg == "--help" || arg == "-h") {
      options->help = true;
    } else if (arg == "--version") {
      options->version = true;
    } else {
      std::fprintf(stderr, "lapora: unknown argument \"%s\"\n", arg.c_str());
      return false;
    }
  }
  return true;
}

[[maybe_unused]] bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') {
      return true;
    }
  }
  return false;
}

void PrintUtf8(std::FILE* out, const std::string& cp1252, const char* end = "\n") {
  std::string text = Cp1252ToUtf8(cp1252) + end;
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
}

void PrintUsage(std::FILE* out) {
  PrintUtf8(out, Tr(kMsgUsage), "");
}

// --help: the options, then where this installation's manual is.
void PrintHelp() {
  PrintUsage(stdout);
  std::string manual = Folders::ForThisProgram().GetHelpDocumentPath();
  PrintUtf8(stdout, StrF(Tr(kMsgUsageManual).c_str(), manual.c_str()), "");
}

std::unique_ptr<CSpeechEngine> MakeSpeechEngine() {
  auto voice =
      std::make_unique<CEspeakTextToSpeech>(BuildLanguage() == Language::kFrench ? "fr" : "en");
  if (!voice->IsReady()) {
    return std::make_unique<CSpeechEngine>(nullptr);
  }
  return std::make_unique<CSpeechEngine>(std::move(voice));
}

// --popfront: asks the instance running on the same lock folder to show its window.
int PopFront(const Options& options) {
  std::string lockFolder = Folders::ForThisProgram(options.dataDir).GetLockFolder();
  std::string error;
  switch (RequestPopFront(lockFolder, &error)) {
    case PopFrontResult::kBroughtToFront:
      return 0;
    case PopFrontResult::kNoInstance:
      std::fprintf(stderr, "lapora: no running Lapora to bring to the front (looked in %s)\n",
                   lockFolder.c_str());
      return 1;
    case PopFrontResult::kFailed:
      break;
  }
  std::fprintf(stderr, "lapora: the running Lapora could not be asked to come to the front: %s\n",
               error.c_str());
  return 1;
}

int Main(int argc, char** argv) {
  // Before any thread starts, the toolkit's included: the time zone is read once, here.
  PinLocalTimeZone();
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    PrintUsage(stderr);
    return 2;
  }
  if (options.help) {
    PrintHelp();
    return 0;
  }
  if (options.version) {
    std::printf("Lapora %s\n", kVersionText);
    return 0;
  }
  if (options.popFront) {
    return PopFront(options);
  }
#if defined(LAPORA_WITH_QT)
  bool headless = options.headless || !HasDisplay();
#else
  bool headless = true;
#endif
  if (headless && !ConsoleFrontEnd::BlockTerminationSignals()) {
    std::fputs("lapora: cannot take SIGINT and SIGTERM\n", stderr);
    return 1;
  }

#if defined(LAPORA_WITH_QT)
  std::unique_ptr<QtSession> qt;
  if (!headless) {
    qt = std::make_unique<QtSession>(argc, argv);
  }
#endif

  EventQueue events;
  Logger log(events);
  SettingsStore store;
  AppSettings settings;
  Folders folders = Folders::ForThisProgram(options.dataDir);
  CInstanceLock instanceLock;
  Startup startup(store, settings, folders, log, instanceLock, SystemClock());
  startup.SetAlreadyStartedHandler([&](const std::string& text) {
#if defined(LAPORA_WITH_QT)
    if (qt) {
      return qt->AskStartRegardless(text);
    }
#endif
    // Nobody holds Ctrl on a console: a second instance ends here.
    PrintUtf8(stdout, text);
    return false;
  });
  StartupResult started = startup.Run();
  if (!started.ok) {
#if defined(LAPORA_WITH_QT)
    if (qt && !started.alreadyStarted) {
      qt->ShowError(started.errorText);
    }
#endif
    if (!started.alreadyStarted) {
      PrintUtf8(stderr, started.errorText);
    }
    return 1;
  }

  // Other programs' requests for the window; a crashed run's socket is replaced, the lock being
  // ours now. Without them the program runs all the same.
  PopFrontListener popFront(events);
  std::string popFrontError;
  if (instanceLock.IsHeld() && !popFront.Start(folders.GetLockFolder(), &popFrontError)) {
    std::fprintf(stderr, "lapora: bring-to-front requests not available: %s\n",
                 popFrontError.c_str());
  }

  // A machine without sound says so once, rather than at every sound.
  SetNoAudioOutputNotice([&log](const std::string& reason) {
    std::string text = StrF(Tr(kMsgSoundsOff).c_str(), reason.c_str());
    PrintUtf8(stderr, text);
    log.PostLog(0, text);
  });
  CRecordedDetections records(log);
  CChipTable chipTable;
  CSdlSoundPlayer sound;
  StationParts parts{settings,
                     store,
                     log,
                     events,
                     SystemClock(),
                     sound,
                     records,
                     chipTable,
                     folders.GetSharedFolder(),
                     folders.GetDataFolder(),
                     started.incomingDetectionsFilePath,
                     kVersionText,
                     MakeSpeechEngine,
                     folders.GetLockFolder()};
  TempFiles tempFiles(folders, log);
  parts.tempFiles = &tempFiles;
  parts.exportFolder = folders.GetDefaultExportFolder();
  // Pressed as by the operator once the window (or the console) runs.
  parts.connectBoxesAtStart = options.connect;
  parts.directConnectionAtStart = options.direct;

  int status = 0;
#if defined(LAPORA_WITH_QT)
  if (qt) {
    status = qt->Run(std::move(parts), options.duration);
  } else
#endif
  {
    ConsoleFrontEnd console(events, STDIN_FILENO, stdout);
    Station station(std::move(parts), console);
    console.Attach(station);
    station.Open();
    status = console.Run(options.duration);
  }
  popFront.Stop();
  SetNoAudioOutputNotice(nullptr);
  events.Close();
  instanceLock.Release();
  return status;
}

}  // namespace
}  // namespace lapora

int main(int argc, char** argv) {
  return lapora::Main(argc, argv);
}
