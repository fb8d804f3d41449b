#include "station/station.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>
#include <type_traits>
#include <variant>

#include "boxlink/box_protocol.h"
#include "boxlink/box_slots.h"
#include "boxlink/ostra_box.h"
#include "detections/chip_table.h"
#include "detections/detection_intake.h"
#include "detections/detection_list_operations.h"
#include "detections/recorded_detections.h"
#include "export/detection_lines_export.h"
#include "export/export_lines_dialog_model.h"
#include "export/export_run.h"
#include "export/ftp_jobs.h"
#include "export/ftp_servers.h"
#include "foundation/chrono.h"
#include "foundation/clock.h"
#include "foundation/progress_job.h"
#include "foundation/resource_mutex.h"
#include "foundation/settings_store.h"
#include "foundation/sound.h"
#include "foundation/speech.h"
#include "foundation/version.h"
#include "platform/system_folders.h"
#include "resources/messages_detections.h"
#include "resources/messages_export.h"
#include "resources/messages_foundation.h"
#include "resources/messages_station.h"
#include "resources/messages_ui.h"
#include "resultslink/link_protocol.h"
#include "resultslink/link_reactions.h"
#include "resultslink/results_link.h"
#include "station/configuration.h"

namespace lapora {

namespace {

constexpr const char* kSettings = kSettingsSection;
// Shown at the default log level, but not at the operational minimum: a detail.
constexpr int kPopFrontLogLevel = 25;

// The leading integer of a text (blanks first allowed); false when it has none.
bool LeadingInteger(const std::string& text, int* value) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
    ++i;
  }
  std::size_t start = i;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    ++i;
  }
  std::size_t digits = i;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0) {
    ++i;
  }
  if (i == digits || i - digits > 9) {
    return false;
  }
  *value = std::atoi(text.substr(start, i - start).c_str());
  return true;
}

}  // namespace

Station::Station(StationParts parts, FrontEnd& front)
    : m_parts(std::move(parts)), m_front(front), m_logList(m_parts.log) {
  m_summaryLock = std::make_unique<CResourceMutex>(
      "Summary", m_parts.lockFolder.empty() ? m_parts.dataFolder : m_parts.lockFolder);
  m_link = std::make_unique<CResultsLink>(m_parts.events, m_parts.log, &m_parts.records);
  LinkProtocolHooks hooks;
  hooks.addSummaryEntry = [this](const CSummaryItem& entry) { AddSummaryEntry(entry); };
  hooks.sayRunnerName = [this](const std::string& firstName, const std::string& lastName) {
    if (m_speech != nullptr && m_front.IsScrollLockOn()) {
      m_speech->SayRunnerName(firstName, lastName);
    }
  };
  hooks.startRefusalTimer = [this] {
    m_front.StartTimer(kTimerLinkRefusal, CLinkProtocol::kRefusalDelayMs, true);
  };
  m_linkProtocol =
      std::make_unique<CLinkProtocol>(*m_link, m_parts.log, *m_summaryLock, std::move(hooks));
  m_linkReactions = std::make_unique<CLinkReactions>(*m_link, *m_linkProtocol, m_parts.log);

  m_incomingPath = m_parts.incomingDetectionsPath;
  // Every recorded detection is offered to the direct connection.
  m_intake = std::make_unique<DetectionIntake>(m_parts.log, m_parts.events, m_parts.settings,
                                               &m_parts.sound, m_parts.clock, m_parts.chipTable,
                                               m_parts.records, m_link.get());
  m_boxShared = std::make_unique<CBoxLinkShared>();
  m_boxServices = std::make_unique<BoxLinkServices>(
      BoxLinkServices{m_parts.log, m_parts.events, m_parts.settings, m_parts.clock, *m_intake,
                      *m_boxShared, &m_parts.sound});
  BoxSlotsHooks boxHooks;
  boxHooks.askYesNo = [this](const std::string& question) {
    return m_front.AskYesNo(question, MessageIcon::kQuestion, true);
  };
  boxHooks.showConnectButton = [this](bool pressed) {
    m_connectPressed = pressed;
    m_front.SetButtonState(Button::kConnectBoxes, true, pressed);
  };
  boxHooks.bringToFront = [this] { m_front.BringToFront(); };
  boxHooks.setWaitCursor = [this](bool waiting) { m_front.SetWaitCursor(waiting); };
  boxHooks.restartRefreshTimer = [this] { m_front.StartTimer(kTimerRefresh, kRefreshMs, true); };
  boxHooks.refreshCounter = [this] { RefreshBoxStatesAndCounter(); };
  boxHooks.pumpEvents = [this] { PumpWhileWaiting(); };
  boxHooks.updateBoxStatus = [this](int boxNumber) { UpdateBoxStatus(boxNumber - 1); };
  // The connection phrase is spoken whenever there is a voice: Scroll Lock only silences
  // runner names.
  boxHooks.say = [this](const std::string& text) {
    if (m_speech != nullptr) {
      (void)m_speech->Speak(text, kSpeakAsync);
    }
  };
  m_boxSlots = std::make_unique<CBoxSlots>(*m_boxServices, m_parts.store, m_parts.records,
                                           m_incomingPath, std::move(boxHooks));
  m_ftpWorker = std::make_unique<CFtpWorker>(m_parts.events, m_parts.ftpPort);
  m_backgroundExport = std::make_unique<CBackgroundExport>(&m_parts.log);
}

Station::~Station() {
  // Records cleared last are still being freed: that ends before anything else goes.
  m_disposal.reset();
  // A background export still running ends before the upload worker it queues jobs to.
  m_backgroundExport.reset();
  // A notification on its way is handled so that the worker can end (after Close the worker is
  // idle and silent already).
  m_ftpWorker->Shutdown([this] { DrainEvents(); });
  // The box threads end before the parts they use; nothing is shown any more meanwhile.
  m_boxSlots.reset();
  // Texts posted once the window is gone are dropped.
  m_parts.log.SetPostingEnabled(false);
}

std::vector<std::string> Station::LevelEntries() {
  return {Tr(kMsgLevelMinimum), Tr(kMsgLevelLow), Tr(kMsgLevelMedium), Tr(kMsgLevelHigh),
          Tr(kMsgLevelMaximum)};
}

int Station::LevelEntryFor(int level) {
  std::vector<std::string> entries = LevelEntries();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    int entryLevel = 0;
    if (LeadingInteger(entries[i], &entryLevel) && entryLevel == level) {
      return static_cast<int>(i);
    }
  }
  return 1;
}

void Station::Open() {
  AppSettings& s = m_parts.settings;
  m_ftpWorker->Start();
  m_front.PrepareWindow();
  m_parts.log.SetPostingEnabled(true);
  if (m_front.IsScrollLockOn() && m_parts.makeSpeech) {
    m_speech = m_parts.makeSpeech();
  }
  ReadWindowSettings();
  m_front.SetDirectState(DirectState::kNotConnected);
  m_link->SetCatchUp(s.BCatchUp != 0);
  RefreshBoxStatesAndCounter();
  m_boxSlots->LoadBoxConfigs();
  m_parts.log.WriteLogText("\n");
  m_parts.log.WriteLogText(StrF(Tr(kMsgStartBanner).c_str(), m_parts.versionText.c_str()));
  m_parts.log.PostLog(0, StrF(Tr(kMsgIncomingDetectionsSaved).c_str(), m_incomingPath.c_str()));
  KeepFtpServersPrivate(FtpServersFilePath(), m_parts.log);
  // Nothing reads the earlier files back, so a line cut by a crash or a power cut in the last
  // run is reported here rather than taken for a detection by whoever reads that file.
  if (std::optional<TornDetectionFile> torn =
          FindTornEarlierDetectionFile(FolderOfPath(m_incomingPath), m_incomingPath)) {
    m_parts.log.PostLog(0, StrF(Tr(kMsgTornDetectionLine).c_str(), torn->path.c_str(),
                                static_cast<unsigned long>(torn->bytes)));
  }
  m_parts.records.SetSyncLines(s.GSyncDetections != 0);
  m_parts.records.OpenDetectionFile(m_incomingPath);
  m_front.SetVersionText(m_parts.versionText);
  std::string tableMessage;
  (void)m_parts.chipTable.LoadChipTable("VarnexTable.dtb", m_parts.dataFolder,
                                        m_parts.programFolder, &tableMessage);
  if (!tableMessage.empty()) {
    m_parts.log.PostLog(0, tableMessage);
  }
  m_front.SelectLevelEntry(LevelEntryFor(s.LogWinLevel));
  UpdateLongRaceIndicator();
  m_front.StartTimer(kTimerDayTracking, kDayTrackingMs, false);
  m_front.StartTimer(kTimerExportStep, kExportStepMs, true);
  RefreshBoxStatesAndCounter();
  m_front.StartTimer(kTimerConfigDialog, kConfigDialogMs, true);
  m_front.StartTimer(kTimerPing, kPingMs, false);
  m_open = true;
  if (m_parts.connectBoxesAtStart || m_parts.directConnectionAtStart) {
    // Once the window runs, so that it shows while the boxes connect.
    m_front.StartTimer(kTimerStartCommands, 0, true);
  }
}

void Station::RunStartCommands() {
  if (m_parts.connectBoxesAtStart) {
    Command(Button::kConnectBoxes);
  }
  if (m_parts.directConnectionAtStart) {
    SetDirectConnection(true);
  }
}

void Station::ReadWindowSettings() {
  AppSettings& s = m_parts.settings;
  ReadMainWindowSettings(m_parts.store, s);
  m_parts.log.SetLevel(s.LogWinLevel);
  m_front.SetCheckBoxes(s.BLogDetections != 0, s.BScrollDetections != 0);
}

bool Station::Close() {
  if (!m_open) {
    return true;
  }
  if (IsBusy()) {
    return false;  // the command that waits finishes first
  }
  CommandScope scope(*this);
  return CloseSequence();
}

bool Station::CloseSequence() {
  FlushBatches();
  if (!m_front.IsCtrlDown()) {
    if (m_parts.settings.GVarnexBeepWhenQuit != 0) {
      (void)m_parts.sound.PlaySoundResource(kSoundExit);
    }
    if (!m_front.AskYesNo(Tr(kMsgExitQuestion), MessageIcon::kQuestion, true)) {
      return false;
    }
  }
  // A background export still running ends first (with the window alive), and none starts
  // again; then the running upload, whose notification, if already on its way, is handled.
  m_front.StopTimer(kTimerExportStep);
  m_backgroundExport->WaitForRun([this] { PumpWhileWaiting(); });
  m_ftpWorker->StopFtpJobs([this] { PumpWhileWaiting(); });
  m_front.StopTimer(kTimerConfigDialog);
  StopBoxThreads();
  // Released as by the operator, so that the end of the connection is logged as a
  // disconnection, not as a lost connection.
  SetDirectConnection(false);
  m_link->StopLink();
  m_parts.records.CloseDetectionFile();
  m_front.StartTimer(kTimerRefresh, kRefreshMs, true);
  m_parts.chipTable.ClearChipTable();
  if (m_parts.records.CountValidRecords() > 0) {
    m_parts.records.ClearRecords();
    DisposeClearedRecords();
  }
  m_parts.log.PostLog(0, "+ Sortie du module d'acquisition...");
  // The farewell line is still shown and written: what is queued is handled before the window
  // goes. After a burst that can be a race's worth of lines: a turn at a time, the window
  // repainting in between (it takes no input: the closing command runs).
  while (DrainEventsPaced().eventsLeft) {
    m_front.PumpEvents();
  }
  FlushBatches();
  m_parts.log.WriteLogText(kExitBannerText);
  m_parts.log.SetPostingEnabled(false);
  for (int id : {kTimerDayTracking, kTimerExportStep, kTimerPing, kTimerRefresh, kTimerLinkRequests,
                 kTimerLinkRefusal}) {
    m_front.StopTimer(id);
  }
  m_open = false;
  m_closed = true;
  m_front.CloseWindow();
  return true;
}

void Station::StopBoxThreads() {
  // With no box thread running there is nothing to wait for, so the stop with its one-second
  // pause is only made when some thread runs.
  bool running = m_boxSlots->IsConnectingAll();  // its end must not be reported any more
  for (int number = 1; number <= kBoxSlots; ++number) {
    running = running || m_boxSlots->Box(number)->IsThreadRunning();
  }
  if (running) {
    m_boxSlots->DisconnectAllBoxes();
  }
}

std::size_t Station::DrainEvents(std::size_t maxEvents) {
  ++m_drainDepth;
  std::size_t handled =
      m_parts.events.Dispatch([this](const Event& event) { HandleEvent(event); }, maxEvents);
  --m_drainDepth;
  FlushBatches();
  return handled;
}

Station::PacedDrain Station::DrainEventsPaced(std::chrono::milliseconds turn,
                                              std::chrono::milliseconds frame) {
  using Clock = std::chrono::steady_clock;
  // Small slices, so that the turn ends soon after its time is up whatever the events cost.
  constexpr std::size_t kSlice = 50;
  const Clock::time_point start = Clock::now();
  PacedDrain result;
  ++m_drainDepth;
  // The turn's log lines go to the file in one write.
  m_parts.log.BeginFileBatch();
  do {
    m_parts.events.Dispatch([this](const Event& event) { HandleEvent(event); }, kSlice);
    result.eventsLeft = m_parts.events.PendingCount() > 0;
  } while (result.eventsLeft && Clock::now() - start < turn);
  m_parts.log.EndFileBatch();
  --m_drainDepth;
  if (Clock::now() - m_lastShown >= frame) {
    ShowPending();
  }
  result.unshown = HasUnshown();
  return result;
}

bool Station::HasUnshown() const {
  return !m_pendingLog.empty() || !m_pendingDetections.empty() || !m_pendingSummary.empty() ||
         m_refreshPending;
}

void Station::ShowPending() {
  FlushBatches();
  m_lastShown = std::chrono::steady_clock::now();
}

void Station::HandleEvent(const Event& event) {
  std::visit(
      [this](const auto& e) {
        using T = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<T, LogLineEvent>) {
          HandleLogLine(e);
        } else if constexpr (std::is_same_v<T, AlertEvent>) {
          FlushBatches();
          m_front.BringToFront();
          m_front.ShowMessage(e.text, MessageIcon::kExclamation);
        } else if constexpr (std::is_same_v<T, DetectionItemEvent>) {
          // An item of a record that a reset forgot while the item was on its way.
          if (m_dropItemsUpTo <= 0 || e.item.record.id > m_dropItemsUpTo) {
            m_pendingDetections.push_back(e.item);
          }
        } else if constexpr (std::is_same_v<T, RefreshRequestEvent>) {
          m_refreshPending = true;
        } else if constexpr (std::is_same_v<T, PopFrontEvent>) {
          m_parts.log.PostLog(kPopFrontLogLevel, Tr(kMsgBringToFrontRequested));
          m_front.BringToFront();
        } else if constexpr (std::is_same_v<T, LinkLineEvent>) {
          m_linkProtocol->HandleLinkLine(e.line);
        } else if constexpr (std::is_same_v<T, LinkStateEvent>) {
          ApplyLinkReaction(m_linkReactions->OnLinkState(e.state));
        } else if constexpr (std::is_same_v<T, BoxStatusEvent>) {
          FlushBatches();
          m_boxSlots->OnBoxStatus(e.box, e.failed);
        } else if constexpr (std::is_same_v<T, BoxInitDoneEvent>) {
          FlushBatches();
          m_boxSlots->OnBoxInitDone(e.box, e.round, e.initialised);
          // The toggle and the clock buttons follow the boxes as they come up.
          RefreshBoxStatesAndCounter();
        } else if constexpr (std::is_same_v<T, BoxPingErrorEvent>) {
          FlushBatches();
          m_boxSlots->OnBoxPingError(e.box);
        } else {
          static_assert(std::is_same_v<T, FtpJobStatusEvent>);
          HandleFtpJobStatus(e);
        }
      },
      event);
}

void Station::HandleLogLine(const LogLineEvent& event) {
  std::string windowLine;
  if (m_parts.log.HandlePostedText(event.level, event.text, &windowLine)) {
    m_pendingLog.push_back(std::move(windowLine));
  }
}

void Station::HandleFtpJobStatus(const FtpJobStatusEvent& event) {
  switch (event.status) {
    case CFtpJob::kStatusStarted:
      m_parts.log.PostLog(0, StrF(Tr(kMsgFtpJobStarted).c_str(), event.remoteName.c_str()));
      break;
    case CFtpJob::kStatusDone:
      m_parts.log.PostLog(0, StrF(Tr(kMsgFtpJobDone).c_str(), event.remoteName.c_str()));
      break;
    case CFtpJob::kStatusError:
      m_parts.log.PostLog(
          0, StrF(Tr(kMsgFtpJobFailed).c_str(), event.remoteName.c_str(), event.errorText.c_str()));
      break;
    default:
      break;
  }
}

void Station::QueueFtpJob(std::unique_ptr<CFtpJob> job) {
  m_ftpWorker->QueueFtpJob(std::move(job));
}

std::function<void(std::unique_ptr<CFtpJob>)> Station::UploadQueuer() {
  // Called on an export's thread: straight to the worker, whose queue takes jobs from any.
  return [worker = m_ftpWorker.get()](std::unique_ptr<CFtpJob> job) {
    worker->QueueFtpJob(std::move(job));
  };
}

std::string Station::FtpServersFilePath() const {
  return m_parts.dataFolder + "/FtpServers.dat";
}

std::string Station::DefaultExportFolder() const {
  return m_parts.exportFolder.empty() ? m_parts.programFolder : m_parts.exportFolder;
}

void Station::RunConfigurationDialog() {
  FlushBatches();
  ConfigurationSession session(m_parts.settings, TakeWorkingSlots(*m_boxSlots),
                               &m_lastExportFolder);
  session.SetChipTableReloader([this] {
    return ReloadChipTableFromDialog(m_parts.chipTable, m_parts.dataFolder, m_parts.programFolder,
                                     m_parts.log);
  });
  session.SetLogFolder(FolderOfPath(m_incomingPath));  // the incoming files live there
  if (m_front.RunConfigurationDialog(session) && session.Accepted()) {
    CommitConfiguration(session, *m_boxSlots, m_parts.store, m_parts.settings,
                        static_cast<std::time_t>(m_parts.clock.NowUnixMs() / 1000));
  }
  // The advanced dialog's OK takes effect even when the configuration is cancelled.
  m_parts.records.SetSyncLines(m_parts.settings.GSyncDetections != 0);
  m_link->SetCatchUp(m_parts.settings.BCatchUp != 0);
  RefreshBoxStatesAndCounter();
  UpdateLongRaceIndicator();
}

void Station::RunImport() {
  FlushBatches();
  constexpr char kSection[] = "ImportDetections";
  m_importMemory.parseDir =
      m_parts.store.ReadSettingText(kSection, "CurrentParseDir", m_importMemory.parseDir);
  m_importMemory.saveDir =
      m_parts.store.ReadSettingText(kSection, "CurrentSaveDir", m_importMemory.saveDir);
  auto connectedBox = [this](int number) -> COstraBox* {
    COstraBox* box = m_boxSlots->Box(number);
    return box != nullptr && box->Transport() != nullptr && box->Transport()->IsConnected()
               ? box
               : nullptr;
  };
  ImportDialogSetup setup{m_parts.chipTable, m_parts.settings, m_importMemory, m_parts.tempFiles,
                          &m_parts.sound};
  setup.store = &m_parts.store;  // the detection server's address
  setup.announcedIds = ResultsDetectorList();
  setup.boxConnected = [connectedBox](int number) { return connectedBox(number) != nullptr; };
  setup.fetchFromBox = [this, connectedBox](int number) -> ImportBoxFetch {
    COstraBox* box = connectedBox(number);
    if (box == nullptr) {
      return {};
    }
    PackWaitSteps steps;
    steps.packState = &box->PackState();
    steps.running = kPackStateRunning;
    steps.failed = kPackStateFailed;
    steps.idle = kPackStateUnknown;
    steps.send = [box] {
      std::string error;
      return SendCommand(*box, "packDataSection", "", &error);
    };
    // The box thread sets the pack state when the box answers; the window stays alive.
    steps.pumpAndSleep = [this] {
      PumpWhileWaiting();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    steps.connected = [connectedBox, number] { return connectedBox(number) != nullptr; };
    if (WaitForBoxPack(steps) != PackWaitResult::kSucceeded) {
      return {};
    }
    return {true,
            BoxCurrentDataUrl(box->Transport()->Address()),
            {number, box->ConnectionName(), box->DetectorLabel()}};
  };
  ImportRequest request = m_front.RunImportDialog(setup);
  (void)m_parts.store.WriteSettingText(kSection, "CurrentParseDir", m_importMemory.parseDir);
  (void)m_parts.store.WriteSettingText(kSection, "CurrentSaveDir", m_importMemory.saveDir);
  FlushBatches();
  ImportCommandOutcome outcome;
  if (request.action != ImportAction::kNone) {
    // The detections go in on a worker: the window keeps drawing what they produce and its
    // Cancel stops them between two detections.
    ImportCommandServices services{m_parts.log, *m_intake, m_parts.records, m_parts.settings};
    CProgressJob job(ImportCommandCaption(request.action), [&](CProgressJob& worker) {
      services.progress = [&worker](const std::string& text) { return worker.Report(text); };
      outcome = RunImportCommand(request, services);
    });
    job.Start();
    m_front.WaitForJob(job, {});
    job.Join();
  }
  FlushBatches();
  if (outcome.failed && !outcome.errorMessage.empty()) {
    m_front.ShowMessage(outcome.errorMessage, MessageIcon::kError);
  }
  RefreshBoxStatesAndCounter();
  (void)m_parts.sound.PlaySoundResource(kSoundDone);
}

void Station::OpenExportDetectionLinesDialog() {
  if (IsBusy()) {
    return;
  }
  CommandScope scope(*this);
  FlushBatches();
  CExportLinesDialogModel model(
      m_parts.records, ExportEnvironment{m_parts.store, DefaultExportFolder(), FtpServersFilePath(),
                                         UploadQueuer(), &m_exportTurn});
  // The snapshot is taken on a worker while the window goes on; its Cancel opens nothing.
  if (!model.TakeSnapshot([this](CProgressJob& job) { m_front.WaitForJob(job, {}); })) {
    return;
  }
  m_front.RunExportDetectionLinesDialog(model);
}

void Station::BackgroundExportTick() {
  (void)m_backgroundExport->BackgroundExportTick(
      m_parts.store, m_parts.clock, [this]() -> CBackgroundExport::Start {
        // The settings are read here, on the window thread; the snapshot, the files, the
        // archive and the queueing of the uploads are the export thread's.
        BackgroundExportPlan plan = PlanBackgroundExport(
            ExportEnvironment{m_parts.store, DefaultExportFolder(), FtpServersFilePath(),
                              UploadQueuer(), &m_exportTurn});
        if (!plan.error.empty()) {
          return {plan.error, {}};
        }
        return {{}, [plan = std::move(plan), &records = m_parts.records] {
                  return RunPlannedExport(records, plan);
                }};
      });
}

bool Station::ExportAllRecordedDetections() {
  // A race's detections take longer to write than the window may wait: the file is written on a
  // worker (the records' lock taken slice by slice) while the window handles its events.
  std::string caption = Tr(kMsgButtonExportAll);
  std::replace(caption.begin(), caption.end(), '\n', ' ');
  bool written = false;
  CProgressJob job(caption, [&](CProgressJob&) {
    written = lapora::ExportAllRecordedDetections(
        m_parts.records, m_parts.settings.GVarnexExportFile, m_parts.log, &m_parts.sound);
  });
  job.Start();
  m_front.WaitForJob(job, {});
  job.Join();
  return written;
}

void Station::DisposeClearedRecords() {
  auto cleared =
      std::make_shared<std::vector<ClearedRecords>>(m_parts.records.TakeClearedRecords());
  if (cleared->empty()) {
    return;
  }
  // Freeing a race's records takes a quarter of a second: on a thread of its own. The one
  // before has long ended (a clear follows a question to the operator).
  m_disposal.reset();
  m_disposal = std::make_unique<CExportRun>([cleared] { cleared->clear(); });
}

void Station::FlushBatches() {
  // What the file holds never lags what the window shows, nor a message box that may block.
  m_parts.log.WriteFileBatch();
  FlushLog();
  FlushDetections();
  FlushSummary();
  if (m_refreshPending) {
    m_refreshPending = false;
    RefreshBoxStatesAndCounter();
  }
}

void Station::FlushLog() {
  if (m_pendingLog.empty()) {
    return;
  }
  std::vector<std::string> batch;
  batch.swap(m_pendingLog);
  std::size_t top = m_front.ListTopIndex(ListId::kLog);
  std::size_t purged = 0;
  for (const std::string& line : batch) {
    purged += m_logList.Add(line);
  }
  if (purged > 0) {
    m_front.PurgeListFront(ListId::kLog, purged);
  }
  m_front.AppendLogLines(batch);
  top += batch.size();
  m_front.SetListTopIndex(ListId::kLog, top > purged ? top - purged : 0);
}

void Station::FlushDetections() {
  if (m_pendingDetections.empty()) {
    return;
  }
  std::vector<CLogDetectionItem> batch;
  batch.swap(m_pendingDetections);
  std::size_t top = m_front.ListTopIndex(ListId::kDetections);
  // The purges the batch brings, counted first: a burst's items that would be purged at once
  // are never copied into the list.
  std::size_t size = m_detections.size() + batch.size();
  std::size_t purged = 0;
  while (size >= kDetectionsPurgeAt) {
    m_parts.log.WriteLog("Purge Detections Window content...");
    size -= kPurgeCount;
    purged += kPurgeCount;
    m_parts.log.WriteLog("Purge Detections Window done");
  }
  const std::size_t fromList = std::min(purged, m_detections.size());
  m_detections.erase(m_detections.begin(),
                     m_detections.begin() + static_cast<std::ptrdiff_t>(fromList));
  for (std::size_t i = purged - fromList; i < batch.size(); ++i) {
    m_detections.push_back(batch[i]);
  }
  if (purged > 0) {
    m_front.PurgeListFront(ListId::kDetections, purged);
  }
  m_front.AppendDetectionItems(batch);
  if (m_parts.settings.BScrollDetections != 0) {
    std::size_t count = m_detections.size();
    m_front.SetListTopIndex(ListId::kDetections,
                            purged > 0 ? (count > kScrollBackLines ? count - kScrollBackLines : 0)
                                       : top + batch.size());
  }
}

void Station::FlushSummary() {
  if (m_pendingSummary.empty()) {
    return;
  }
  std::vector<CSummaryItem> batch;
  batch.swap(m_pendingSummary);
  std::size_t top = m_front.ListTopIndex(ListId::kSummary);
  for (const CSummaryItem& entry : batch) {
    m_summary.push_back(entry);
  }
  std::size_t purged = 0;
  while (m_summary.size() >= kSummaryPurgeAt) {
    m_parts.log.WriteLog("Purge Summary Window content...");
    m_summary.erase(m_summary.begin(), m_summary.begin() + kPurgeCount);
    purged += kPurgeCount;
    m_parts.log.WriteLog("Purge Summary Window done");
  }
  if (purged > 0) {
    m_front.PurgeListFront(ListId::kSummary, purged);
  }
  m_front.AppendSummaryEntries(batch);
  top += batch.size();
  m_front.SetListTopIndex(ListId::kSummary, top > purged ? top - purged : 0);
}

void Station::AddDetectionItem(const CLogDetectionItem& item) {
  m_pendingDetections.push_back(item);
  if (m_drainDepth == 0) {
    FlushDetections();
  }
}

void Station::AddSummaryEntry(const CSummaryItem& entry) {
  m_pendingSummary.push_back(entry);
  if (m_drainDepth == 0) {
    FlushSummary();
  }
}

void Station::OnTimer(int id) {
  switch (id) {
    case kTimerDayTracking:
      TrackRaceDay();
      UpdateDirectTooltip();
      RefreshChangedBoxStatus();
      break;
    case kTimerExportStep:
      BackgroundExportTick();
      // Re-armed after each run so that a long export never piles up steps.
      m_front.StartTimer(kTimerExportStep, kExportStepMs, true);
      break;
    case kTimerConfigDialog:
      if (IsBusy()) {
        // Not inside a command that waits: the dialog opens once it is done.
        m_front.StartTimer(kTimerConfigDialog, kConfigDialogMs, true);
        break;
      }
      RunConfigurationDialog();
      break;
    case kTimerPing:
    case kTimerLinkRequests:
    case kTimerLinkRefusal:
      ApplyLinkReaction(m_linkReactions->OnTimer(id));
      break;
    case kTimerRefresh:
      RefreshBoxStatesAndCounter();
      break;
    case kTimerStartCommands:
      if (IsBusy()) {
        m_front.StartTimer(kTimerStartCommands, kConfigDialogMs, true);
        break;
      }
      RunStartCommands();
      break;
    default:
      break;
  }
}

void Station::TrackRaceDay() {
  AppSettings& s = m_parts.settings;
  std::string today = TodayCompact(m_parts.clock.NowUnix());
  std::array<std::string, 4> dates = s.RaceDayDates();
  int days = 0;
  for (int k = 0; k < 4; ++k) {
    if (dates[static_cast<std::size_t>(k)] == today) {
      days = k;
      break;
    }
  }
  if (days != s.GDaysToAdd) {
    s.GDaysToAdd = days;
    m_parts.store.WriteSettingInt(kSettings, "GDaysToAdd", days);
  }
  UpdateLongRaceIndicator();
}

void Station::UpdateLongRaceIndicator() {
  int days = m_parts.settings.GDaysToAdd;
  m_front.SetLongRaceIndicator(days > 0, StrF("+%dh", 24 * days));
}

void Station::UpdateBoxStatus(int index) {
  if (index < 0 || index >= kBoxSlots) {
    return;
  }
  BoxSlotView view = m_boxSlots->SlotView(index + 1);
  m_boxViews[static_cast<std::size_t>(index)] = view;
  BoxDisc disc = BoxDisc::kGrey;
  switch (view.state) {
    case BoxSlotState::kUndefined:
      disc = BoxDisc::kGrey;
      break;
    case BoxSlotState::kNotConnected:
      disc = BoxDisc::kRed;
      break;
    case BoxSlotState::kReconnecting:
      disc = BoxDisc::kOrange;
      break;
    case BoxSlotState::kConnected:
      disc = BoxDisc::kGreen;
      break;
  }
  m_front.SetBoxState(index, disc, view.tooltip);
}

void Station::RefreshChangedBoxStatus() {
  for (int i = 0; i < kBoxSlots; ++i) {
    const std::optional<BoxSlotView>& shown = m_boxViews[static_cast<std::size_t>(i)];
    BoxSlotView view = m_boxSlots->SlotView(i + 1);
    if (!shown || shown->state != view.state || shown->tooltip != view.tooltip) {
      UpdateBoxStatus(i);
    }
  }
}

void Station::RefreshBoxStatesAndCounter() {
  for (int i = 0; i < kBoxSlots; ++i) {
    UpdateBoxStatus(i);
  }
  m_connectPressed = m_boxSlots->AnyBoxConnected();
  m_front.SetButtonState(Button::kConnectBoxes, true, m_connectPressed);
  bool clocks = m_boxSlots->ClockButtonsEnabled();
  m_front.SetButtonState(Button::kSyncClocks, clocks, false);
  m_front.SetButtonState(Button::kShowClocks, clocks, false);
  int valid = m_parts.records.CountValidRecords();
  m_front.SetButtonState(Button::kExportAll, valid > 0, false);
  m_front.SetButtonState(Button::kForget, valid > 0, false);
  m_front.SetCounterText(DetectionCounterText(valid));
  UpdateDirectTooltip();
}

void Station::UpdateDirectTooltip() {
  std::string text = CLinkReactions::DirectTooltip(m_link->CatchUp(), m_link->DetectionsToSend());
  if (text != m_directTooltip) {
    m_directTooltip = text;
    m_front.SetDirectTooltip(m_directTooltip);
  }
}

void Station::SetDirectConnection(bool on) {
  if (on == m_linkReactions->IsButtonPressed()) {
    m_front.SetButtonState(Button::kDirect, true, on);
    return;
  }
  const AppSettings& s = m_parts.settings;
  m_front.SetButtonState(Button::kDirect, true, on);
  m_link->SetCatchUp(s.BCatchUp != 0);
  ApplyLinkReaction(
      m_linkReactions->OnDirectButton(on, s.Host, s.Port, s.ReconnectSeconds, s.GLinkStallSeconds));
}

bool Station::IsDirectConnectionOn() const {
  return m_linkReactions->IsButtonPressed();
}

const std::vector<std::string>& Station::ResultsDetectorList() const {
  return m_linkProtocol->DetectorList();
}

void Station::ApplyLinkReaction(const LinkReaction& reaction) {
  for (int id : reaction.stopTimers) {
    m_front.StopTimer(id);
  }
  switch (reaction.image) {
    case LinkImage::kConnected:
      m_front.SetDirectState(DirectState::kConnected);
      break;
    case LinkImage::kConnecting:
      m_front.SetDirectState(DirectState::kConnecting);
      break;
    case LinkImage::kNotConnected:
      m_front.SetDirectState(DirectState::kNotConnected);
      break;
    case LinkImage::kUnchanged:
      break;
  }
  if (reaction.releaseButton) {
    m_front.SetButtonState(Button::kDirect, true, false);
  }
  for (const LinkTimerStart& timer : reaction.startTimers) {
    m_front.StartTimer(timer.id, timer.periodMs, timer.oneShot);
  }
  for (int sound : reaction.sounds) {
    (void)m_parts.sound.PlaySoundResource(sound);
  }
  if (reaction.balloon) {
    const LinkBalloon& b = *reaction.balloon;
    m_front.ShowBalloon(Button::kDirect, b.title, b.text, b.icon, b.durationMs, b.xFraction,
                        b.yFraction);
  }
  if (!reaction.messageBox.empty()) {
    FlushBatches();
    m_front.ShowMessage(reaction.messageBox, MessageIcon::kExclamation);
  }
}

Station::CommandScope::CommandScope(Station& station) : m_station(station) {
  ++m_station.m_commandDepth;
}

Station::CommandScope::~CommandScope() {
  if (m_station.m_commandDepth == 1 && m_station.m_pumpedInCommand) {
    // Input that reached the window during the last slice of the wait is read and dropped
    // while the command still counts as running.
    m_station.m_front.PumpEvents();
    m_station.m_pumpedInCommand = false;
  }
  --m_station.m_commandDepth;
}

void Station::PumpWhileWaiting() {
  if (m_commandDepth > 0) {
    m_pumpedInCommand = true;
  }
  m_front.PumpEvents();
  DrainEvents();
}

void Station::Command(Button button) {
  if (IsBusy()) {
    return;
  }
  CommandScope scope(*this);
  switch (button) {
    case Button::kExit:
      (void)CloseSequence();
      return;
    case Button::kDirect:
      SetDirectConnection(!m_linkReactions->IsButtonPressed());
      return;
    case Button::kConnectBoxes:
      // The click releases the button when it was shown pressed.
      ToggleBoxConnections(m_connectPressed);
      return;
    case Button::kSyncClocks:
      FlushBatches();
      (void)m_boxSlots->SynchronizeBoxClocks();
      return;
    case Button::kShowClocks:
      m_boxSlots->ShowBoxClocks();
      return;
    case Button::kInsertDetection:
      RunManualEntryDialog();
      return;
    case Button::kForget:
      Forget();
      return;
    case Button::kExportAll:
      FlushBatches();
      (void)ExportAllRecordedDetections();
      RefreshBoxStatesAndCounter();
      return;
    case Button::kConfiguration:
      RunConfigurationDialog();
      return;
    case Button::kImport:
      RunImport();
      return;
  }
}

void Station::ToggleBoxConnections(bool releasing) {
  FlushBatches();
  (void)m_boxSlots->ToggleBoxConnections(releasing);
  // The toggle and the pictures follow the boxes, whatever the outcome.
  RefreshBoxStatesAndCounter();
}

void Station::BoxDiscClicked(int index) {
  if (IsBusy()) {
    return;
  }
  CommandScope scope(*this);
  if (index < 0 || index >= kBoxSlots) {
    return;
  }
  FlushBatches();
  std::vector<BoxMenuItem> menu = m_boxSlots->BuildBoxMenu(index + 1, m_front.IsCtrlDown());
  if (menu.empty()) {
    return;  // an undeclared slot has no menu
  }
  BoxMenuId choice = m_front.ShowBoxMenu(index, menu);
  (void)m_boxSlots->RunBoxMenuAction(index + 1, choice);
}

void Station::RunManualEntryDialog() {
  FlushBatches();
  ManualEntryRequest request;
  request.detectors = m_boxSlots->ManualEntryDetectors();
  request.rememberedDetectorIndex = m_manualDetectorIndex;
  request.raceDayDates = m_parts.settings.RaceDayDates();
  request.clock = &m_parts.clock;
  std::optional<ManualEntry> entry = m_front.RunManualEntryDialog(request);
  if (!entry) {
    return;
  }
  m_manualDetectorIndex = entry->detectorIndex;
  (void)InsertManualEntry(*entry);
}

CKolResult Station::InsertManualEntry(const ManualEntry& entry) {
  // After "disconnect all" the recorded detections reopen the run's file themselves.
  return InsertManualDetection(
      entry, ManualDetectionServices{*m_intake, m_parts.events, m_parts.settings, m_parts.log,
                                     &m_parts.sound});
}

ManualEntryCheckResult Station::CheckManualEntry(const ManualEntryInput& input) const {
  return ManualEntryCheck(input, m_boxSlots->ManualEntryDetectors(), m_parts.clock);
}

void Station::DetectionsContextMenu() {
  if (IsBusy()) {
    return;
  }
  CommandScope scope(*this);
  FlushBatches();
  std::vector<CKolResult> selected;
  for (std::size_t row : m_front.SelectedDetectionRows()) {
    if (row < m_detections.size()) {
      selected.push_back(m_detections[row].record);
    }
  }
  RemoveRestoreMenu menu = MenuForSelection(ClassifySelection(selected));
  if (!menu.shown) {
    return;
  }
  RemoveRestoreChoice choice =
      m_front.ShowRemoveRestoreMenu(menu.removeEnabled, menu.restoreEnabled);
  bool remove = choice == RemoveRestoreChoice::kRemove;
  if (choice == RemoveRestoreChoice::kNone || (remove && !menu.removeEnabled) ||
      (!remove && !menu.restoreEnabled)) {
    return;
  }
  if (!m_front.AskYesNo(RemoveRestoreQuestion(selected, remove), MessageIcon::kQuestion, true)) {
    return;
  }
  std::vector<int> ids;
  ids.reserve(selected.size());
  for (const CKolResult& record : selected) {
    ids.push_back(record.id);
  }
  (void)SetDetectionsValid(ids, !remove);
}

RemoveRestoreOutcome Station::SetDetectionsValid(const std::vector<int>& ids, bool valid) {
  FlushBatches();
  RemoveRestoreOutcome outcome = ApplyRemoveRestore(m_parts.records, &m_detections, ids, valid);
  m_front.RefreshList(ListId::kDetections);
  RefreshBoxStatesAndCounter();
  return outcome;
}

void Station::Forget() {
  FlushBatches();
  ForgetAllSteps steps;
  steps.askStopDefaultNo = [this](const std::string& question) {
    return m_front.AskYesNo(question, MessageIcon::kError, false);
  };
  steps.resetDetectionList = [this] { ResetDetectionList(); };
  steps.forgetLastAnnounced = [this] {
    if (m_speech != nullptr) {
      m_speech->ForgetLastName();
    }
  };
  (void)ForgetAllDetections(m_parts.records, steps);
}

std::string Station::NewIncomingPath() const {
  std::string folder = m_incomingPath;
  std::size_t slash = folder.find_last_of('/');
  folder = slash == std::string::npos ? std::string(".") : folder.substr(0, slash);
  std::time_t now = m_parts.clock.NowUnix();
  return folder + "/Lapora-" + TodayCompact(now) + "-" + NowCompactTime(now) + ".dat";
}

void Station::ResetDetectionList() {
  FlushBatches();
  ResetDetectionListSteps steps;
  steps.emptyWindowList = [this] {
    m_detections.clear();
    m_front.ClearList(ListId::kDetections);
  };
  steps.clearBoxesLastDetections = [this] {
    for (int number = 1; number <= kBoxSlots; ++number) {
      m_boxSlots->Box(number)->RequestClearLast();
    }
  };
  steps.refreshBoxStatesAndCounter = [this] { RefreshBoxStatesAndCounter(); };
  // Runs under the recorded-detections lock: only the Station's own fields are used.
  std::string newPath = NewIncomingPath();
  steps.newIncomingPath = [newPath] { return newPath; };
  ResetDetectionListOutcome outcome =
      lapora::ResetDetectionList(m_parts.records, m_parts.log, &m_parts.sound, steps);
  DisposeClearedRecords();
  m_incomingPath = outcome.incomingPath;
  m_boxSlots->SetDetectionFilePath(m_incomingPath);
  m_dropItemsUpTo = std::max(m_dropItemsUpTo, outcome.lastForgottenId);
  if (outcome.lastForgottenId != 0) {
    // Cleared before the results software got them: no longer waited for.
    m_link->ForgetDetectionsUpTo(outcome.lastForgottenId);
  }
  UpdateDirectTooltip();
}

void Station::ClearList(ListId list) {
  if (IsBusy()) {
    return;
  }
  CommandScope scope(*this);
  FlushBatches();
  if (m_speech != nullptr) {
    m_speech->ForgetLastName();
  }
  switch (list) {
    case ListId::kDetections:
      m_detections.clear();
      break;
    case ListId::kSummary:
      m_summary.clear();
      break;
    case ListId::kLog:
      m_logList.Clear();
      break;
  }
  m_front.ClearList(list);
  (void)m_parts.sound.PlaySoundResource(kSoundDone);
}

void Station::SetLogDetections(bool checked) {
  if (IsBusy()) {
    return;
  }
  CommandScope scope(*this);
  m_parts.settings.BLogDetections = checked ? 1 : 0;
  m_parts.store.WriteSettingBool(kSettings, "BLogDetections", checked);
}

void Station::SetScrollDetections(bool checked) {
  if (IsBusy()) {
    return;
  }
  CommandScope scope(*this);
  m_parts.settings.BScrollDetections = checked ? 1 : 0;
  m_parts.store.WriteSettingBool(kSettings, "BScrollDetections", checked);
  if (checked) {
    std::size_t count = m_detections.size();
    m_front.SetListTopIndex(ListId::kDetections,
                            count > kScrollBackLines ? count - kScrollBackLines : 0);
  }
}

void Station::SelectLogLevel(int entryIndex) {
  if (IsBusy()) {
    return;
  }
  CommandScope scope(*this);
  std::vector<std::string> entries = LevelEntries();
  if (entryIndex < 0 || static_cast<std::size_t>(entryIndex) >= entries.size()) {
    return;
  }
  int level = 0;
  if (!LeadingInteger(entries[static_cast<std::size_t>(entryIndex)], &level)) {
    return;
  }
  m_parts.log.PostLogF(0, "+ Log level set to %d", level);
  m_parts.log.SetLevel(level);
  m_parts.settings.LogWinLevel = level;
  m_parts.store.WriteSettingInt(kSettings, "LogWinLevel", level);
}

void Station::OpenHelpDocument() {
  if (IsBusy()) {
    return;
  }
  CommandScope scope(*this);
  std::string path = m_parts.programFolder + "/Lapora.pdf";
  if (FileExists(path)) {
    if (!m_front.OpenDocument(path)) {
      m_parts.log.PostLog(0, StrF(Tr(kMsgHelpNotOpened).c_str(), path.c_str()));
    }
    return;
  }
  m_front.ShowMessage(Tr(kMsgHelpNotFound), MessageIcon::kExclamation);
}

void Station::BackgroundMenuClosed() {
  RefreshBoxStatesAndCounter();
}

}  // namespace lapora
