#include "resultslink/link_protocol.h"

#include <cstdio>
#include <cstring>

#include "foundation/log.h"
#include "foundation/resource_mutex.h"
#include "resources/messages_resultslink.h"
#include "resultslink/link_codes.h"
#include "resultslink/results_link.h"

namespace lapora {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

const std::vector<std::string>& CLinkProtocol::InitialRequests() {
  static const std::vector<std::string> requests = {
      "GetMode()",    "GetUserName()",         "GetCompetitionName()", "GetFilename()",
      "GetVersion()", "GetPrintableVersion()", "GetDetectorList()"};
  return requests;
}

CLinkProtocol::CLinkProtocol(CResultsLink& link, Logger& log, CResourceMutex& summaryLock,
                             LinkProtocolHooks hooks)
    : m_link(link), m_log(log), m_summaryLock(summaryLock), m_hooks(std::move(hooks)) {}

LinkReplyKind CLinkProtocol::HandleLinkLine(const std::string& line) {
  m_log.PostLog(kLinkLineLogLevel, ">>> " + line);
  return DecodeLinkReply(line);
}

LinkReplyKind CLinkProtocol::DecodeLinkReply(const std::string& line) {
  if (StartsWith(line, "ERR:")) {
    return DecodeError(line);
  }
  if (StartsWith(line, "NFO:")) {
    return DecodeInfo(line);
  }
  if (StartsWith(line, "RES:1")) {
    int fields = 0;
    std::optional<CRunnerResult> result = DecodeSplitResult(line, &fields);
    if (!result) {
      m_log.PostLog(0, StrF(Tr(kMsgLinkDecodeError).c_str(), fields));
      return LinkReplyKind::kUndecodable;
    }
    return HandleRunnerResult(*result);
  }
  int nq06Count = 0;
  std::optional<CRunnerResult> result = DecodeTaggedResult(line, &nq06Count);
  if (!result) {
    m_log.PostLog(0, StrF(Tr(kMsgLinkDecodeError).c_str(), nq06Count));
    return LinkReplyKind::kUndecodable;
  }
  return HandleRunnerResult(*result);
}

LinkReplyKind CLinkProtocol::DecodeError(const std::string& line) {
  int code = 0;
  if (std::sscanf(line.c_str(), "ERR:%d", &code) != 1) {
    m_log.PostLog(0, "$$$ Can't decode " + line);
    return LinkReplyKind::kUndecodable;
  }
  m_log.PostLog(0, "$$$ " + StatusText(code));
  return LinkReplyKind::kError;
}

LinkReplyKind CLinkProtocol::DecodeInfo(const std::string& line) {
  int code = 0;
  if (std::sscanf(line.c_str(), "NFO:%d", &code) != 1) {
    m_log.PostLog(0, "$$$ Can't decode " + line);
    return LinkReplyKind::kUndecodable;
  }
  const std::size_t blank = line.find(' ');
  const bool hasText = blank != std::string::npos;
  const std::string text = hasText ? line.substr(blank + 1) : std::string();

  if (code == 27 && hasText && IsVersionRefused(text)) {
    if (m_hooks.startRefusalTimer) {
      m_hooks.startRefusalTimer();
    }
  }
  if (code == 20) {
    return LinkReplyKind::kInfo;  // keep-alive answers are not worth a log line
  }
  if (code == 7) {
    m_detectors.clear();
    std::size_t start = 0;
    while (start <= text.size()) {
      std::size_t end = text.find('\\', start);
      if (end == std::string::npos) {
        end = text.size();
      }
      if (end > start) {
        m_detectors.push_back(text.substr(start, end - start));
      }
      start = end + 1;
    }
  }
  std::string logged = "$$$ " + CommandName(code);
  if (hasText) {
    logged += ": " + text;
  }
  m_log.PostLog(0, logged);
  return LinkReplyKind::kInfo;
}

std::string CLinkProtocol::RankText(const CRunnerResult& result, Language language) {
  if (result.rankOverall == 0) {
    return result.sex + " - " + result.category;
  }
  return OrdinalTextIn(language, result.rankOverall, result.sex) + " - " +
         OrdinalTextIn(language, result.rankSex, result.sex) + " " + result.sex + " - " +
         OrdinalTextIn(language, result.rankCategory, result.sex) + " " + result.categoryCode;
}

CSummaryItem CLinkProtocol::MakeSummaryEntry(const CRunnerResult& result) {
  CSummaryItem entry;
  entry.nameText = StrF("%-30s", (result.firstName + " " + result.lastName).c_str());
  entry.bib = result.number;
  entry.timeText = result.time == "00:00:00" ? std::string(8, ' ') : result.time;
  entry.passText = result.pass == 1 ? std::string(".") : StrF("p%d", result.pass);
  if (result.status == kStatusCredited) {
    entry.resultText = RankText(result);
    entry.error = 0;
  } else {
    entry.resultText = StatusText(result.status);
    entry.error = 1;
  }
  return entry;
}

LinkReplyKind CLinkProtocol::HandleRunnerResult(const CRunnerResult& result) {
  if (result.status == kStatusControlTime) {
    return LinkReplyKind::kControlTime;
  }
  if (result.status != kStatusCredited) {
    m_log.PostLog(0, "------------------------ " + StatusText(result.status));
  }
  CSummaryItem entry = MakeSummaryEntry(result);
  // The entry goes in even when the lock could not be had: a result is never dropped.
  const bool locked = m_summaryLock.Lock(kSummaryLockTimeoutMs);
  if (m_hooks.addSummaryEntry) {
    m_hooks.addSummaryEntry(entry);
  }
  if (locked) {
    m_summaryLock.Unlock();
  }
  if (m_hooks.sayRunnerName) {
    m_hooks.sayRunnerName(result.firstName, result.lastName);
  }
  return LinkReplyKind::kResult;
}

void CLinkProtocol::SendInitialRequests() {
  for (const std::string& request : InitialRequests()) {
    if (!m_link.IsLinkConnected()) {
      return;
    }
    (void)m_link.SendLinkLine(request);
  }
}

void CLinkProtocol::SendPing() {
  (void)m_link.SendLinkLine("Ping()");
}

}  // namespace lapora
