#include "console/console_front_end.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "boxlink/box_slots.h"
#include "export/export_lines_dialog_model.h"
#include "foundation/events.h"
#include "foundation/text.h"
#include "platform/open_document.h"
#include "resources/messages_ui.h"
#include "station/station.h"

namespace lapora {

namespace {

using SteadyClock = std::chrono::steady_clock;

const char* DiscName(BoxDisc disc) {
  switch (disc) {
    case BoxDisc::kGrey:
      return "grey";
    case BoxDisc::kRed:
      return "red";
    case BoxDisc::kOrange:
      return "orange";
    case BoxDisc::kGreen:
      return "green";
  }
  return "?";
}

const char* DirectStateName(DirectState state) {
  switch (state) {
    case DirectState::kNotConnected:
      return "not connected";
    case DirectState::kConnecting:
      return "connecting";
    case DirectState::kConnected:
      return "connected";
  }
  return "?";
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while ((at = text.find_first_not_of(" \t", at)) != std::string::npos) {
    std::size_t end = text.find_first_of(" \t", at);
    words.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end;
  }
  return words;
}

// A whole decimal integer (sign allowed) that fits an int.
bool WholeNumber(const std::string& word, int* value) {
  if (word.empty() || word.size() > 10) {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  long parsed = std::strtol(word.c_str(), &end, 10);
  if (errno != 0 || end == word.c_str() || *end != '\0' || parsed < INT_MIN || parsed > INT_MAX) {
    return false;
  }
  *value = static_cast<int>(parsed);
  return true;
}

sigset_t TerminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

ConsoleFrontEnd::ConsoleFrontEnd(EventQueue& events, int input, std::FILE* out)
    : m_events(events), m_input(input), m_out(out) {
  if (pipe2(m_wakePipe, O_NONBLOCK | O_CLOEXEC) != 0) {
    m_wakePipe[0] = m_wakePipe[1] = -1;
  }
  sigset_t set = TerminationSignals();
  m_signalFd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  int writeEnd = m_wakePipe[1];
  // Any thread: one byte makes the loop's poll return; a full pipe already means "wake up".
  m_events.SetWakeCallback([writeEnd] {
    if (writeEnd >= 0) {
      char byte = 1;
      ssize_t ignored = write(writeEnd, &byte, 1);
      (void)ignored;
    }
  });
  if (m_input < 0) {
    m_inputOpen = false;
  }
}

ConsoleFrontEnd::~ConsoleFrontEnd() {
  RestoreInputFlags();
  m_events.SetWakeCallback(nullptr);
  for (int fd : {m_wakePipe[0], m_wakePipe[1], m_signalFd}) {
    if (fd >= 0) {
      close(fd);
    }
  }
}

bool ConsoleFrontEnd::BlockTerminationSignals() {
  sigset_t set = TerminationSignals();
  return pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
}

void ConsoleFrontEnd::Attach(Station& station) {
  m_station = &station;
  RegisterBuiltInCommands();
}

void ConsoleFrontEnd::AddCommand(const std::string& name, const std::string& arguments,
                                 const std::string& description, CommandHandler handler) {
  m_commands[name] = Command{arguments, description, std::move(handler)};
}

void ConsoleFrontEnd::RegisterDetectionCommands() {
  AddCommand("connect", "", "toggle \"Connect to boxes\": connect all boxes, or disconnect them",
             [this](const std::string& args) {
               RunBoxSlotsCommand(std::string(TrimSpace("connect " + args)));
             });
  AddCommand("box",
             "N connect|disconnect|open C|stop C|accept|dismiss|clear|gate S|gun|pack-today|"
             "pack-all|rewind-today|rewind-all",
             "box N's menu (N 1..4, channel C 1..4, gate S 1|2|3|5|10|15|30 seconds)",
             [this](const std::string& args) { RunBoxSlotsCommand("box " + args); });
  AddCommand("sync-clocks", "", "set the clocks of the connected boxes to this computer's clock",
             [this](const std::string& args) {
               RunBoxSlotsCommand(std::string(TrimSpace("sync-clocks " + args)));
             });
  AddCommand("show-clocks", "", "log the next date and time reports of the connected boxes",
             [this](const std::string& args) {
               RunBoxSlotsCommand(std::string(TrimSpace("show-clocks " + args)));
             });
  AddCommand("insert", "BIB TIME DETECTOR [HOURS]",
             "record a detection by hand (HOURS 0|24|48|72 added to the time)",
             [this](const std::string& args) { InsertTyped(args); });
  AddCommand("remove", "ID...", "remove the detections with these record ids",
             [this](const std::string& args) { RemoveRestoreTyped(args, false); });
  AddCommand("restore", "ID...", "restore the detections with these record ids",
             [this](const std::string& args) { RemoveRestoreTyped(args, true); });
  AddCommand("export", "", "export the detection lines now, with the settings of the export dialog",
             [this](const std::string&) { m_station->OpenExportDetectionLinesDialog(); });
  AddCommand("export-all", "", "write every recorded detection to the export file",
             [this](const std::string&) { m_station->Command(Button::kExportAll); });
  AddCommand("import", "FILE YYYY-MM-DD FROM TO BOXID replay|import|save [OUT]",
             "search a box data file (or an http address) for a day and a time span, then replay, "
             "import or save what it found",
             [this](const std::string& args) { ImportTyped(args); });
  AddCommand("forget-all", "", "forget every recorded detection and start a new incoming file",
             [this](const std::string&) { m_station->Command(Button::kForget); });
}

void ConsoleFrontEnd::RunBoxSlotsCommand(const std::string& typed) {
  BoxSlotsCommand command;
  std::string error;
  if (!ParseBoxSlotsCommand(typed, &command, &error)) {
    Print(error.empty() ? "usage: " + typed.substr(0, typed.find(' ')) + " (no arguments)" : error);
    return;
  }
  switch (command.kind) {
    case BoxSlotsCommand::Kind::kToggleConnections:
      m_station->Command(Button::kConnectBoxes);
      break;
    case BoxSlotsCommand::Kind::kSyncClocks:
      m_station->Command(Button::kSyncClocks);
      break;
    case BoxSlotsCommand::Kind::kShowClocks:
      m_station->Command(Button::kShowClocks);
      break;
    case BoxSlotsCommand::Kind::kBoxMenu:
      (void)m_station->BoxSlots().RunConsoleBoxCommand(command.box, command.item, typed);
      break;
  }
}

void ConsoleFrontEnd::InsertTyped(const std::string& arguments) {
  std::vector<std::string> words = Words(arguments);
  if (words.size() != 3 && words.size() != 4) {
    Print("usage: insert BIB TIME DETECTOR [HOURS]");
    return;
  }
  ManualEntryInput input;
  input.bibText = words[0];
  input.timeText = words[1];
  std::vector<std::string> detectors = m_station->BoxSlots().ManualEntryDetectors();
  auto found = std::find(detectors.begin(), detectors.end(), words[2]);
  input.detectorIndex = found == detectors.end() ? -1 : static_cast<int>(found - detectors.begin());
  if (words.size() == 4) {
    int hours = -1;
    if (!WholeNumber(words[3], &hours) || hours < 0 || hours % 24 != 0 ||
        hours / 24 >= kTimeCorrectionCount) {
      Print("insert: HOURS is 0, 24, 48 or 72, not \"" + words[3] + "\"");
      return;
    }
    input.correctionIndex = hours / 24;
  }
  ManualEntryCheckResult checked = m_station->CheckManualEntry(input);
  if (!checked.accepted) {
    Print("message: " + checked.message);
    return;
  }
  CKolResult record = m_station->InsertManualEntry(checked.entry);
  Print(StrF("inserted: id %d", record.id));
}

void ConsoleFrontEnd::ImportTyped(const std::string& arguments) {
  const char* usage = "usage: import FILE YYYY-MM-DD FROM TO BOXID replay|import|save [OUT]";
  std::vector<std::string> words = Words(arguments);
  if (words.size() != 6 && words.size() != 7) {
    Print(usage);
    return;
  }
  PendingImport pending;
  pending.input.fileField = words[0];
  if (std::sscanf(words[1].c_str(), "%4d-%2d-%2d", &pending.input.year, &pending.input.month,
                  &pending.input.day) != 3) {
    Print("import: the date is YYYY-MM-DD, not \"" + words[1] + "\"");
    return;
  }
  pending.input.startText = words[2];
  pending.input.endText = words[3];
  pending.input.showAbnormal = true;  // the console shows every rejected line
  pending.boxId = words[4];
  const std::map<std::string, ImportAction> actions = {{"replay", ImportAction::kReplay},
                                                       {"import", ImportAction::kImport},
                                                       {"save", ImportAction::kSave}};
  auto action = actions.find(words[5]);
  if (action == actions.end() || (action->second == ImportAction::kSave) != (words.size() == 7)) {
    Print(usage);
    return;
  }
  pending.action = action->second;
  pending.output = words.size() == 7 ? words[6] : std::string();
  m_pendingImport = std::move(pending);
  m_station->Command(Button::kImport);
  m_pendingImport.reset();
}

ImportRequest ConsoleFrontEnd::RunImportDialog(ImportDialogSetup& setup) {
  if (!m_pendingImport) {
    return {};
  }
  PendingImport pending = std::move(*m_pendingImport);
  m_pendingImport.reset();
  // As in the window, the download and the scan run beside the loop, which prints how far
  // they got.
  ImportSearchOutcome outcome;
  std::vector<std::string> alerts;
  CProgressJob job(ImportScanCaption(), [&](CProgressJob& worker) {
    ImportSearchServices services{setup.chipTable, setup.settings, setup.tempFiles, setup.download,
                                  setup.sound};
    services.callbacks.info = [&worker](const std::string& text) { worker.AddLine(text); };
    services.callbacks.progress = [&worker](const std::string& text) {
      return worker.Report(text);
    };
    services.callbacks.alert = [&alerts](const std::string& text) { alerts.push_back(text); };
    outcome = RunImportSearch(pending.input, services);
  });
  job.Start();
  WaitForJob(job, [this](const std::string& line) { Print(line); });
  job.Join();
  for (const std::string& alert : alerts) {
    Print("message: " + alert);
  }
  if (!outcome.check.ok) {
    Print("message: " + outcome.check.message);
    return {};
  }
  ImportRequest request;
  if (pending.action == ImportAction::kSave) {
    ImportSaveCheck save = CheckImportSave(pending.output);
    if (!save.ok) {
      Print("message: " + save.message);
      return {};
    }
    if (save.exists) {
      // A typed command does not replace a file: the question's safe answer.
      Print("question: " + save.overwriteQuestion + " -> No");
      return {};
    }
    request.outputPath = save.path;
  }
  request.action = pending.action;
  request.found = std::move(outcome.scan.found);
  request.headers = outcome.headers;
  request.boxId = pending.boxId;
  request.correctionIndex = outcome.check.correctionIndex;
  return request;
}

void ConsoleFrontEnd::RemoveRestoreTyped(const std::string& arguments, bool valid) {
  const char* name = valid ? "restore" : "remove";
  std::vector<int> ids;
  for (const std::string& word : Words(arguments)) {
    int id = 0;
    if (!WholeNumber(word, &id)) {
      Print(StrF("usage: %s ID... (record ids, not \"%s\")", name, word.c_str()));
      return;
    }
    ids.push_back(id);
  }
  if (ids.empty()) {
    Print(StrF("usage: %s ID...", name));
    return;
  }
  RemoveRestoreOutcome outcome = m_station->SetDetectionsValid(ids, valid);
  for (int id : outcome.unknownIds) {
    Print(StrF("unknown detection id: %d", id));
  }
  Print(StrF("%s: %d recorded detection%s", valid ? "restored" : "removed", outcome.recordsChanged,
             outcome.recordsChanged > 1 ? "s" : ""));
}

void ConsoleFrontEnd::RegisterBuiltInCommands() {
  RegisterDetectionCommands();
  AddCommand("help", "", "list the commands", [this](const std::string&) {
    for (const auto& [name, command] : m_commands) {
      std::string usage = command.arguments.empty() ? name : name + " " + command.arguments;
      Print(StrF("  %-28s %s", usage.c_str(), command.description.c_str()));
    }
  });
  AddCommand("quit", "", "leave the program (button \"Exit\")",
             [this](const std::string&) { (void)m_station->Close(); });
  AddCommand("exit", "", "same as quit", [this](const std::string&) { (void)m_station->Close(); });
  AddCommand("clear", "detections|results|log", "clear one of the three lists",
             [this](const std::string& args) {
               if (args == "detections") {
                 m_station->ClearList(ListId::kDetections);
               } else if (args == "results") {
                 m_station->ClearList(ListId::kSummary);
               } else if (args == "log") {
                 m_station->ClearList(ListId::kLog);
               } else {
                 Print("usage: clear detections|results|log");
               }
             });
  AddCommand("detections", "on|off", "check box \"Detections\": list each detection",
             [this](const std::string& args) {
               if (args == "on" || args == "off") {
                 m_station->SetLogDetections(args == "on");
               } else {
                 Print("usage: detections on|off");
               }
             });
  AddCommand("scroll", "on|off", "check box \"Scroll\": follow new detections",
             [this](const std::string& args) {
               if (args == "on" || args == "off") {
                 m_station->SetScrollDetections(args == "on");
               } else {
                 Print("usage: scroll on|off");
               }
             });
  AddCommand("direct", "on|off", "toggle \"Direct Dorix-Pro connection\"",
             [this](const std::string& args) {
               if (args == "on" || args == "off") {
                 m_station->SetDirectConnection(args == "on");
               } else {
                 Print("usage: direct on|off");
               }
             });
  AddCommand(
      "level", "0|25|50|75|100", "log level (the level selector)", [this](const std::string& args) {
        std::vector<std::string> entries = Station::LevelEntries();
        for (std::size_t i = 0; i < entries.size(); ++i) {
          if (!args.empty() && std::string(TrimSpace(entries[i])).rfind(args + " ", 0) == 0) {
            m_station->SelectLogLevel(static_cast<int>(i));
            // The window's selector shows the operator's choice by itself; so does status.
            SelectLevelEntry(static_cast<int>(i));
            return;
          }
        }
        Print("usage: level 0|25|50|75|100");
      });
  AddCommand("manual", "", "open the help document Lapora.pdf",
             [this](const std::string&) { m_station->OpenHelpDocument(); });
  AddCommand("boxes", "",
             "per box: reads/s over 10 s, detections recorded, ignored and invalid, age of the "
             "last read, reconnections, clock offset",
             [this](const std::string&) {
               for (const std::string& line : m_station->BoxSlots().FiguresTable()) {
                 Print(line);
               }
             });
  AddCommand("status", "", "counter, box slots and their figures, long-race indicator, check boxes",
             [this](const std::string&) {
               m_station->RefreshBoxStatesAndCounter();
               Print("version: " + m_versionText);
               Print("counter: " + m_counterText);
               for (int i = 0; i < 4; ++i) {
                 std::string tooltip = m_boxTooltips[i];
                 std::replace(tooltip.begin(), tooltip.end(), '\n', ' ');
                 Print(StrF("box %d: %s %s", i + 1, DiscName(m_boxDiscs[i]), tooltip.c_str()));
               }
               Print(StrF("connect to boxes: %s, clock buttons: %s",
                          m_boxesConnected ? "pressed" : "released",
                          m_clockButtonsEnabled ? "enabled" : "disabled"));
               std::string direct =
                   StrF("direct connection: %s, %s", m_directPressed ? "pressed" : "released",
                        DirectStateName(m_directState));
               if (!m_directTooltip.empty()) {
                 direct += ", " + m_directTooltip;
               }
               Print(direct);
               Print(std::string("long race: ") + (m_longRaceShown ? m_longRaceText : "-"));
               Print(StrF("detections: %s, scroll: %s", m_logDetections ? "on" : "off",
                          m_scrollDetections ? "on" : "off"));
               // The level that filters, and the selector's entry (the second one when no
               // entry starts with that level).
               std::string line = StrF("log level: %d", m_station->Settings().LogWinLevel.load());
               std::vector<std::string> entries = Station::LevelEntries();
               if (m_levelEntry >= 0 && static_cast<std::size_t>(m_levelEntry) < entries.size()) {
                 line += " (selector: " +
                         std::string(TrimSpace(entries[static_cast<std::size_t>(m_levelEntry)])) +
                         ")";
               }
               Print(line);
             });
}

void ConsoleFrontEnd::Print(const std::string& text) {
  std::string line = Cp1252ToUtf8(text);
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), m_out);
  std::fflush(m_out);
}

void ConsoleFrontEnd::AppendLogLines(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    Print(line);
  }
}

void ConsoleFrontEnd::AppendDetectionItems(const std::vector<CLogDetectionItem>& items) {
  for (const CLogDetectionItem& item : items) {
    Print("detection: " + item.text);
  }
}

std::string ConsoleFrontEnd::SummaryColumns(const CSummaryItem& entry) {
  std::string bib = entry.bib != 0 ? std::to_string(entry.bib) : std::string();
  return bib + "\t" + entry.nameText + "\t" + entry.timeText + "\t" + entry.passText + "\t" +
         entry.resultText;
}

void ConsoleFrontEnd::AppendSummaryEntries(const std::vector<CSummaryItem>& entries) {
  for (const CSummaryItem& entry : entries) {
    Print("result: " + SummaryColumns(entry));
  }
}

std::size_t ConsoleFrontEnd::ListTopIndex(ListId list) const {
  return m_topIndex[static_cast<int>(list)];
}

void ConsoleFrontEnd::SetListTopIndex(ListId list, std::size_t index) {
  m_topIndex[static_cast<int>(list)] = index;
}

void ConsoleFrontEnd::SetBoxState(int index, BoxDisc disc, const std::string& tooltip) {
  if (index >= 0 && index < 4) {
    m_boxDiscs[index] = disc;
    m_boxTooltips[index] = tooltip;
  }
}

void ConsoleFrontEnd::SetButtonState(Button button, bool enabled, bool pressed) {
  if (button == Button::kConnectBoxes) {
    m_boxesConnected = pressed;
  } else if (button == Button::kSyncClocks) {
    m_clockButtonsEnabled = enabled;
  } else if (button == Button::kDirect) {
    m_directPressed = pressed;
  }
}

std::optional<ManualEntry> ConsoleFrontEnd::RunManualEntryDialog(const ManualEntryRequest&) {
  Print("manual entry: type insert BIB TIME DETECTOR [HOURS]");
  return std::nullopt;
}

void ConsoleFrontEnd::RunExportDetectionLinesDialog(CExportLinesDialogModel& model) {
  const ExportSettings& saved = model.Opened();
  // The rows and the files are computed on a worker; meanwhile the posted events (detections,
  // log lines) go on being printed, and so does the progress.
  JobWait pumping = [this](CProgressJob& job) { WaitForJob(job, {}); };
  CExportLinesDialogModel::FilterResult filtered = model.Filter(saved.delta, pumping);
  if (!filtered.warning.empty()) {
    ShowMessage(filtered.warning, MessageIcon::kExclamation);
    return;
  }
  Print("export: " + model.DataToExportText());
  CExportLinesDialogModel::ExportNowResult result = model.ExportNow(
      saved.delta, saved.exportPath, saved.genericFilename, saved.zip, saved.ftpExport, pumping);
  if (!result.warning.empty()) {
    ShowMessage(result.warning, MessageIcon::kExclamation);
    return;
  }
  for (const std::string& error : result.outcome.errors) {
    ShowMessage(error, MessageIcon::kError);
  }
  if (!result.outcome.message.empty()) {
    ShowMessage(result.outcome.message,
                result.outcome.failed ? MessageIcon::kExclamation : MessageIcon::kInformation);
  }
}

void ConsoleFrontEnd::SetLongRaceIndicator(bool shown, const std::string& text) {
  if (shown != m_longRaceShown || (shown && text != m_longRaceText)) {
    Print(std::string("long race: ") + (shown ? text : "-"));
  }
  m_longRaceShown = shown;
  m_longRaceText = text;
}

void ConsoleFrontEnd::SetCheckBoxes(bool logDetections, bool scrollDetections) {
  m_logDetections = logDetections;
  m_scrollDetections = scrollDetections;
}

bool ConsoleFrontEnd::AskYesNo(const std::string& text, MessageIcon, bool defaultYes) {
  // A typed command is its own confirmation; anything else takes the default answer.
  bool answer = m_commandDepth > 0 ? true : defaultYes;
  Print("question: " + text);
  Print(answer ? "answer: Yes" : "answer: No");
  return answer;
}

void ConsoleFrontEnd::ShowMessage(const std::string& text, MessageIcon) {
  Print("message: " + text);
}

void ConsoleFrontEnd::StartTimer(int id, int periodMs, bool oneShot) {
  m_timers[id] = Timer{SteadyClock::now() + std::chrono::milliseconds(periodMs), periodMs, oneShot};
}

void ConsoleFrontEnd::StopTimer(int id) {
  m_timers.erase(id);
}

void ConsoleFrontEnd::WaitForJob(CProgressJob& job,
                                 const std::function<void(const std::string& line)>& onLine) {
  constexpr auto kPrintEvery = std::chrono::seconds(1);
  constexpr int kPollMs = 50;
  auto deliver = [&job, &onLine] {
    for (const std::string& line : job.TakeLines()) {
      if (onLine) {
        onLine(line);
      }
    }
  };
  Print("progress: " + job.Caption());
  std::string printed;
  std::optional<SteadyClock::time_point> printedAt;
  bool signalled = false;
  auto printProgress = [&] {
    std::string text = job.ProgressText();
    SteadyClock::time_point now = SteadyClock::now();
    if (!text.empty() && text != printed && (!printedAt || now - *printedAt >= kPrintEvery)) {
      Print("progress: " + text);
      printed = text;
      printedAt = now;
    }
  };
  while (!job.Finished()) {
    pollfd fds[2];
    nfds_t count = 0;
    fds[count++] = {m_wakePipe[0], POLLIN, 0};
    if (!signalled) {
      // Left unread: once the job has ended, the loop closes the program as for any signal.
      fds[count++] = {m_signalFd, POLLIN, 0};
    }
    int ready = poll(fds, count, m_events.PendingCount() > 0 ? 0 : kPollMs);
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
      char drain[256];
      while (read(m_wakePipe[0], drain, sizeof drain) > 0) {
      }
    }
    if (ready > 0 && count > 1 && (fds[1].revents & POLLIN) != 0) {
      signalled = true;
      job.Cancel();
      Print("progress: " + Tr(kMsgProgressCancelling));
    }
    PumpEvents();
    deliver();
    printProgress();
    if (!m_closed) {
      FireDueTimers();
    }
  }
  PumpEvents();
  deliver();
  // A job that ended before its progress was ever shown still says how far it got.
  if (!printedAt) {
    printProgress();
  }
}

void ConsoleFrontEnd::PumpEvents() {
  if (m_station != nullptr) {
    m_station->DrainEvents();
  }
}

bool ConsoleFrontEnd::OpenDocument(const std::string& path) {
  Print("open: " + path);
  // A machine without a desktop just reports it.
  std::string error;
  if (!OpenWithDefaultApplication(path, &error)) {
    Print("open: " + error);
    return false;
  }
  return true;
}

void ConsoleFrontEnd::RunCommand(const std::string& rawLine) {
  std::string line = std::string(TrimSpace(Utf8ToCp1252(rawLine)));
  if (line.empty() || m_station == nullptr) {
    return;
  }
  std::size_t space = line.find(' ');
  std::string name = line.substr(0, space);
  std::string arguments =
      space == std::string::npos ? std::string() : std::string(TrimSpace(line.substr(space)));
  auto it = m_commands.find(name);
  if (it == m_commands.end()) {
    Print("unknown command: " + name + " (help lists the commands)");
    return;
  }
  ++m_commandDepth;
  it->second.handler(arguments);
  --m_commandDepth;
}

void ConsoleFrontEnd::FireDueTimers() {
  SteadyClock::time_point now = SteadyClock::now();
  std::vector<int> due;
  for (const auto& [id, timer] : m_timers) {
    if (timer.due <= now) {
      due.push_back(id);
    }
  }
  for (int id : due) {
    auto it = m_timers.find(id);
    if (it == m_timers.end() || it->second.due > now) {
      continue;  // stopped or restarted by an earlier timer of this round
    }
    if (it->second.oneShot) {
      m_timers.erase(it);
    } else {
      it->second.due = now + std::chrono::milliseconds(it->second.periodMs);
    }
    m_station->OnTimer(id);
    if (m_closed) {
      return;
    }
  }
}

void ConsoleFrontEnd::ReadInput() {
  char buffer[4096];
  for (;;) {
    ssize_t n = read(m_input, buffer, sizeof buffer);
    if (n > 0) {
      m_inputBuffer.append(buffer, static_cast<std::size_t>(n));
      if (static_cast<std::size_t>(n) < sizeof buffer) {
        break;
      }
      continue;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n == 0 || errno != EAGAIN) {
      // End of input: the program goes on until a signal or the duration ends it.
      m_inputOpen = false;
      if (!m_inputBuffer.empty()) {
        m_inputBuffer.push_back('\n');
      }
    }
    break;
  }
  std::size_t newline;
  while (!m_closed && (newline = m_inputBuffer.find('\n')) != std::string::npos) {
    std::string line = m_inputBuffer.substr(0, newline);
    m_inputBuffer.erase(0, newline + 1);
    RunCommand(line);
  }
}

void ConsoleFrontEnd::CloseAsWithCtrl() {
  m_ctrlHeld = true;
  (void)m_station->Close();
  m_ctrlHeld = false;
}

int ConsoleFrontEnd::PollTimeoutMs(std::optional<SteadyClock::time_point> end) const {
  SteadyClock::time_point now = SteadyClock::now();
  SteadyClock::time_point next = now + std::chrono::seconds(60);
  for (const auto& [id, timer] : m_timers) {
    next = std::min(next, timer.due);
  }
  if (end) {
    next = std::min(next, *end);
  }
  if (next <= now) {
    return 0;
  }
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1;
  return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

int ConsoleFrontEnd::Run(std::optional<std::chrono::milliseconds> duration) {
  if (m_station == nullptr) {
    return 1;
  }
  if (m_inputOpen) {
    // The flag belongs to the open terminal or pipe, shared with the shell that started us:
    // it is put back at the end, or the shell would find its terminal non-blocking.
    int flags = fcntl(m_input, F_GETFL);
    if (flags < 0 || fcntl(m_input, F_SETFL, flags | O_NONBLOCK) != 0) {
      m_inputOpen = false;
    } else if (m_savedInputFlags < 0) {
      m_savedInputFlags = flags;
    }
  }
  std::optional<SteadyClock::time_point> end;
  if (duration) {
    end = SteadyClock::now() + *duration;
  }
  m_station->DrainEvents();
  while (!m_closed) {
    if (end && SteadyClock::now() >= *end) {
      m_station->DrainEvents(SIZE_MAX);
      CloseAsWithCtrl();
      break;
    }
    pollfd fds[3];
    nfds_t count = 0;
    fds[count++] = {m_wakePipe[0], POLLIN, 0};
    fds[count++] = {m_signalFd, POLLIN, 0};
    if (m_inputOpen) {
      fds[count++] = {m_input, POLLIN, 0};
    }
    int ready = poll(fds, count, m_events.PendingCount() > 0 ? 0 : PollTimeoutMs(end));
    if (ready < 0 && errno != EINTR) {
      Print(StrF("## poll: %s", std::strerror(errno)));
      CloseAsWithCtrl();
      break;
    }
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
      char drain[256];
      while (read(m_wakePipe[0], drain, sizeof drain) > 0) {
      }
    }
    m_station->DrainEvents();
    if (ready > 0 && (fds[1].revents & POLLIN) != 0) {
      signalfd_siginfo info;
      while (read(m_signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      }
      m_station->DrainEvents(SIZE_MAX);
      CloseAsWithCtrl();
      break;
    }
    if (ready > 0 && m_inputOpen && (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      ReadInput();
    }
    if (!m_closed) {
      FireDueTimers();
    }
  }
  RestoreInputFlags();
  return 0;
}

void ConsoleFrontEnd::RestoreInputFlags() {
  if (m_savedInputFlags >= 0) {
    (void)fcntl(m_input, F_SETFL, m_savedInputFlags);
    m_savedInputFlags = -1;
  }
}

}  // namespace lapora
