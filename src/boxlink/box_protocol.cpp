#include "boxlink/box_protocol.h"

#include <cctype>
#include <cstdarg>
#include <ctime>

#include "boxlink/ostra_box.h"
#include "foundation/app_settings.h"
#include "foundation/clock.h"
#include "foundation/log.h"
#include "foundation/sound.h"
#include "foundation/text.h"
#include "resources/messages_boxlink.h"

namespace lapora {
namespace {

// Above every selectable log level: such a text is never shown nor written.
constexpr int kLevelHidden = 200;
constexpr std::size_t kMaxFieldChars = 255;

struct KindName {
  const char* keyword;
  BoxMessageKind kind;
};

// Looked up in this order; the first equal keyword wins.
constexpr KindName kKinds[] = {
    {"epc", BoxMessageKind::kEpc},
    {"heartBeat", BoxMessageKind::kHeartBeat},
    {"gunStartTime", BoxMessageKind::kGunStartTime},
    {"machineDate", BoxMessageKind::kMachineDate},
    {"machineTime", BoxMessageKind::kMachineTime},
    {"packDataResult", BoxMessageKind::kPackDataResult},
    {"activeSystemState", BoxMessageKind::kActiveSystemState},
    {"readerChannel", BoxMessageKind::kReaderChannel},
    {"readerPower", BoxMessageKind::kReaderPower},
    {"epcLastRead", BoxMessageKind::kEpcLastRead},
    {"channelState", BoxMessageKind::kChannelState},
    {"readerOpen", BoxMessageKind::kReaderOpen},
    {"readerStop", BoxMessageKind::kReaderStop},
    {"machineState", BoxMessageKind::kMachineState},
    {"channelsState", BoxMessageKind::kChannelsState},
    {"setDate", BoxMessageKind::kSetDate},
    {"setTime", BoxMessageKind::kSetTime},
    {"setGateTime", BoxMessageKind::kSetGateTime},
    {"getGunTime", BoxMessageKind::kGetGunTime},
    {"gunTime", BoxMessageKind::kGunTime},
    {"packDataSection", BoxMessageKind::kPackDataSection},
    {"rewindData", BoxMessageKind::kRewindData},
    {"deleteData", BoxMessageKind::kDeleteData},
    {"epc_rewind_start", BoxMessageKind::kEpcRewindStart},
    {"epc_rewind_done", BoxMessageKind::kEpcRewindDone},
};

// Posts a catalogue text unless the current level would drop it anyway (saves formatting the
// raw traffic of every line at the usual levels).
void PostBoxLog(Logger& log, int level, Message message, ...) {
  if (level > log.Level()) {
    return;
  }
  std::string format = Tr(message);
  va_list args;
  va_start(args, message);
  std::string text = StrFBounded(Logger::kMaxText, format.c_str(), args);
  va_end(args);
  log.PostLog(level, text);
}

// One field of "%[^@]": at least one character, at most 255; false otherwise.
bool ScanField(const std::string& line, std::size_t* pos, std::string* field) {
  std::size_t at = line.find('@', *pos);
  std::size_t end = at == std::string::npos ? line.size() : at;
  if (end == *pos || end - *pos > kMaxFieldChars || at == std::string::npos) {
    return false;
  }
  field->assign(line, *pos, end - *pos);
  *pos = at + 1;
  return true;
}

// Level of a quietly counted report: its low level once per period, hidden otherwise.
int QuietLevel(CBoxQuietCounters& counters, CBoxQuietCounters::Kind kind, int period,
               int lowLevel) {
  return counters.Advance(kind, period) ? lowLevel : kLevelHidden;
}

}  // namespace

const char* BoxMessageKeyword(BoxMessageKind kind) {
  for (const KindName& entry : kKinds) {
    if (entry.kind == kind) {
      return entry.keyword;
    }
  }
  return "";
}

bool CBoxQuietCounters::Advance(Kind kind, int period) {
  std::atomic<int>& counter = m_counters[kind];
  int current = counter.load();
  int next;
  bool show;
  do {
    next = current + 1;
    show = period > 0 && next % period == 0;
    if (show) {
      next = 0;
    }
  } while (!counter.compare_exchange_weak(current, next));
  return show;
}

bool SendCommand(COstraBox& box, const std::string& command, const std::string& parameter,
                 std::string* errorText) {
  std::string ignored;
  std::string& error = errorText != nullptr ? *errorText : ignored;
  error.clear();
  CComBox* transport = box.Transport();
  if (transport == nullptr || !transport->IsConnected()) {
    error = "Connexion non ouverte";
    return false;
  }
  // The number is used even when the write fails.
  std::string sequence = StrF("%04d", box.TakeCommandSequence());
  std::string line = box.DeviceId() + "@" + command + "@" + sequence + "@" + parameter + ";";
  Logger& log = box.Services().log;
  if (log.Level() >= 100) {
    log.PostLogF(100, ">>->> %s", line.c_str());
  }
  long written = transport->Send(line.data(), line.size());
  if (written < 0) {
    error = StrF(Utf8ToCp1252("Erreur envoi de commande (%s) au boîtier").c_str(), command.c_str());
    transport->Close();
    return false;
  }
  if (static_cast<std::size_t>(written) != line.size()) {
    error = StrF(Utf8ToCp1252("Erreur écriture commande (%s) au boîtier").c_str(), command.c_str());
    return false;
  }
  return true;
}

bool ClassifyBoxLine(Logger& log, std::string& line, BoxMessageKind* kind, std::string* deviceId,
                     std::string* keyword, std::string* payload) {
  *kind = BoxMessageKind::kNone;
  std::size_t first = 0;
  while (first < line.size() && IsSpace(line[first])) {
    ++first;
  }
  std::size_t last = line.size();
  while (last > first && (line[last - 1] == '\r' || line[last - 1] == '\n' ||
                          line[last - 1] == ' ' || line[last - 1] == '\t')) {
    --last;
  }
  // In place: the line's buffer is reused from one line to the next.
  line.erase(last);
  line.erase(0, first);
  if (log.Level() >= 100) {
    log.PostLogF(100, "<<-<< %s", line.c_str());
  }

  thread_local std::string sequence;
  std::size_t pos = 0;
  bool formed = ScanField(line, &pos, deviceId) && ScanField(line, &pos, keyword) &&
                ScanField(line, &pos, &sequence);
  if (formed) {
    while (pos < line.size() && IsSpace(line[pos])) {
      ++pos;
    }
    std::size_t end = pos;
    while (end < line.size() && !IsSpace(line[end])) {
      ++end;
    }
    formed = end > pos && end - pos <= kMaxFieldChars;
    if (formed) {
      payload->assign(line, pos, end - pos);
    }
  }
  if (!formed) {
    deviceId->clear();
    keyword->clear();
    payload->clear();
    log.PostLogF(0, ".. Unknown command format: %s", line.c_str());
    return false;
  }
  while (!payload->empty() && payload->back() == ';') {
    payload->pop_back();
  }
  for (const KindName& entry : kKinds) {
    if (EqualsNoCase(*keyword, entry.keyword)) {
      *kind = entry.kind;
      return true;
    }
  }
  log.PostLogF(0, ".. Unknown command: %s", line.c_str());
  deviceId->clear();
  keyword->clear();
  payload->clear();
  return false;
}

namespace {

// Keeps the box's clock offset and raises or clears its clock alarm.
void NoteClockOffset(COstraBox& box, const std::string& prefix, const CChrono& boxTime,
                     const CChrono& pcTime) {
  BoxLinkServices& services = box.Services();
  auto millisOfDay = [](const CChrono& t) {
    return static_cast<std::int64_t>(t.Seconds()) * 1000 + t.Millis();
  };
  const std::int64_t offset = TimeOfDayOffsetMs(millisOfDay(boxTime), millisOfDay(pcTime));
  const int limit = services.settings.GClockAlarmMs.load();
  switch (box.Health().NoteClockOffset(offset, limit)) {
    case CBoxHealth::AlarmChange::kRaised:
      services.log.PostAlert(
          StrF(Tr(kMsgBoxClockDrift).c_str(), prefix.c_str(), OffsetText(offset).c_str(), limit),
          false);
      if (services.sound != nullptr) {
        services.sound->PlaySoundResource(kSoundWarning);
      }
      break;
    case CBoxHealth::AlarmChange::kCleared:
      services.log.PostLogMsg(0, kMsgBoxClockBack, prefix.c_str(), OffsetText(offset).c_str(),
                              limit);
      break;
    case CBoxHealth::AlarmChange::kNone:
      break;
  }
}

}  // namespace

void HandleBoxMessage(COstraBox& box, const std::string& logPrefix, BoxMessageKind kind,
                      const std::string& line, const std::string& payload, std::uint64_t readTickMs,
                      BoxThreadCounters& counters) {
  BoxLinkServices& services = box.Services();
  Logger& log = services.log;
  CBoxQuietCounters& quiet = services.shared.quietCounters;
  const char* prefix = logPrefix.c_str();
  const char* data = payload.c_str();
  switch (kind) {
    case BoxMessageKind::kEpc: {
      const int recorded = counters.recorded;
      const int ignored = counters.ignored;
      const int invalid = counters.invalid;
      services.intake.HandleDetectionLine(box, logPrefix, payload, line, readTickMs, counters);
      box.Health().NoteRead(readTickMs, counters.recorded - recorded, counters.ignored - ignored,
                            counters.invalid - invalid);
      break;
    }
    case BoxMessageKind::kHeartBeat:
      PostBoxLog(log, QuietLevel(quiet, CBoxQuietCounters::kHeartBeat, 120, 75), kMsgBoxHeartBeat,
                 prefix, data);
      break;
    case BoxMessageKind::kMachineDate: {
      int level = QuietLevel(quiet, CBoxQuietCounters::kMachineDate, 60, 75);
      if (box.DateShowPending().exchange(false)) {
        level = 0;
      }
      std::string shown;
      if (!DashedDateToCompact(payload, shown)) {
        shown = payload;
        for (char& c : shown) {
          if (c == '-') {
            c = ' ';
          }
        }
      }
      PostBoxLog(log, level, kMsgBoxMachineDate, prefix, shown.c_str());
      break;
    }
    case BoxMessageKind::kMachineTime: {
      int level = QuietLevel(quiet, CBoxQuietCounters::kMachineTime, 60, 50);
      if (box.TimeShowPending().exchange(false)) {
        level = 0;
      }
      CChrono pcTime;
      pcTime.SetNowTimeOfDay(services.clock.NowUnixMs());
      CChrono boxTime;
      if (boxTime.ParseTimeMillis(payload)) {
        NoteClockOffset(box, logPrefix, boxTime, pcTime);
      }  // unreadable: stays unset
      if (level > log.Level()) {
        break;
      }
      CChrono difference = boxTime > pcTime ? boxTime - pcTime : pcTime - boxTime;
      PostBoxLog(log, level, kMsgBoxMachineTime, prefix, boxTime.FormatHundredths().c_str(),
                 pcTime.FormatHundredths().c_str(), difference.FormatHundredths().c_str());
      break;
    }
    case BoxMessageKind::kMachineState:
      PostBoxLog(log, QuietLevel(quiet, CBoxQuietCounters::kMachineState, 60, 75),
                 kMsgBoxMachineState, prefix, data);
      break;
    case BoxMessageKind::kChannelsState:
      PostBoxLog(log, QuietLevel(quiet, CBoxQuietCounters::kChannelsState, 120, 75),
                 kMsgBoxChannelsState, prefix, data);
      break;
    case BoxMessageKind::kGunStartTime:
      PostBoxLog(log, 0, kMsgBoxGunStartTime, prefix, data);
      break;
    case BoxMessageKind::kEpcLastRead:
      PostBoxLog(log, 0, kMsgBoxEpcLastRead, prefix, data);
      break;
    case BoxMessageKind::kReaderPower:
      PostBoxLog(log, 0, kMsgBoxReaderPower, prefix, data);
      break;
    case BoxMessageKind::kSetGateTime:
      PostBoxLog(log, 0, kMsgBoxSetGateTime, prefix, data);
      break;
    case BoxMessageKind::kGetGunTime:
      PostBoxLog(log, 0, kMsgBoxGetGunTime, prefix, data);
      break;
    case BoxMessageKind::kActiveSystemState:
      PostBoxLog(log, 100, kMsgBoxActiveSystemState, prefix, data);
      break;
    case BoxMessageKind::kReaderChannel:
      PostBoxLog(log, 100, kMsgBoxReaderChannel, prefix, data);
      break;
    case BoxMessageKind::kReaderOpen:
      PostBoxLog(log, 50, kMsgBoxReaderOpen, prefix, data);
      break;
    case BoxMessageKind::kReaderStop:
      PostBoxLog(log, 50, kMsgBoxReaderStop, prefix, data);
      break;
    case BoxMessageKind::kPackDataSection:
      box.PackState() = kPackStateRunning;
      PostBoxLog(log, 50, kMsgBoxPackDataSection, prefix, data);
      break;
    case BoxMessageKind::kPackDataResult: {
      bool failed = payload.size() >= 4 && EqualsNoCase(payload.substr(0, 4), "fail");
      box.PackState() = failed ? kPackStateFailed : kPackStateSucceeded;
      PostBoxLog(log, failed ? 50 : 0, kMsgBoxPackDataResult, failed ? "##" : "+", prefix, data);
      break;
    }
    case BoxMessageKind::kSetDate:
      box.DateShowPending() = true;
      PostBoxLog(log, 75, kMsgBoxSetDate, prefix, data);
      break;
    case BoxMessageKind::kSetTime: {
      box.TimeShowPending() = true;
      CChrono now;
      now.SetNow(services.clock.NowUnixMs());
      PostBoxLog(log, 75, kMsgBoxSetTime, prefix, data, now.FormatClockHundredths().c_str());
      break;
    }
    case BoxMessageKind::kGunTime:
      PostBoxLog(log, 75, kMsgBoxGunTime, prefix, data);
      break;
    case BoxMessageKind::kRewindData:
      PostBoxLog(log, 75, kMsgBoxRewindData, prefix, data);
      break;
    case BoxMessageKind::kDeleteData:
      PostBoxLog(log, 75, kMsgBoxDeleteData, prefix, data);
      break;
    case BoxMessageKind::kEpcRewindStart:
      PostBoxLog(log, 78, kMsgBoxEpcRewindStart, prefix, data);
      (void)box.ReadHistory()->BeginReplay();
      break;
    case BoxMessageKind::kEpcRewindDone: {
      PostBoxLog(log, 25, kMsgBoxEpcRewindDone, prefix, data);
      int recovered = 0;
      int replayed = 0;
      if (box.ReadHistory()->EndReplay(&recovered, &replayed)) {
        log.PostLogMsg(0, kMsgReadsRecovered, box.BoxNumber(), recovered, replayed);
      }
      break;
    }
    case BoxMessageKind::kChannelState:
      PostBoxLog(log, 0, kMsgBoxInvalidInput, prefix, line.c_str());
      break;
    case BoxMessageKind::kNone:
      break;
  }
}

std::string SetDateParameter(std::time_t now) {
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) {
    return "0,0,0";
  }
  return StrF("%d,%d,%d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

std::string SetTimeParameter(const CChrono& now) {
  std::string text = now.FormatClockHundredths();
  for (char& c : text) {
    if (c == ':' || c == '.') {
      c = ',';
    }
  }
  return text;
}

std::string GateTimeParameter(double seconds) {
  return StrF("%.1f", seconds);
}

std::string TodayRangeParameter(std::time_t now) {
  auto dashed = [](const std::string& compact) {
    if (compact.size() < 8) {
      return compact;
    }
    return compact.substr(0, 4) + "-" + compact.substr(4, 2) + "-" + compact.substr(6, 2);
  };
  return dashed(TodayCompact(now)) + "_00:00:00.000," + dashed(DateFromToday(1, now)) +
         "_00:00:00.000";
}

std::string BoxDateTimeText(std::int64_t unixMs) {
  std::int64_t seconds = unixMs >= 0 ? unixMs / 1000 : (unixMs - 999) / 1000;
  auto millis = static_cast<int>(unixMs - seconds * 1000);
  auto when = static_cast<std::time_t>(seconds);
  std::tm local{};
  if (localtime_r(&when, &local) == nullptr) {
    return "0000-00-00_00:00:00.000";
  }
  return StrF("%04d-%02d-%02d_%02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
              local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, millis);
}

std::string RecoveryRangeParameter(const CChrono& lastRecorded, std::int64_t nowUnixMs) {
  if (!lastRecorded.IsSet()) {
    return TodayRangeParameter(static_cast<std::time_t>(nowUnixMs / 1000));
  }
  std::int64_t last =
      static_cast<std::int64_t>(lastRecorded.Seconds()) * 1000 + lastRecorded.Millis();
  return BoxDateTimeText(last - kReplayLeadMs) + "," + BoxDateTimeText(nowUnixMs + kReplayTailMs);
}

}  // namespace lapora
