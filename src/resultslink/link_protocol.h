// The request and reply protocol of the direct connection: the requests sent to the results
// software (initial burst, keep-alive, detections) and the decoding of each reply line into log
// texts, detections information entries, the detector list, spoken names and the version
// check. Main thread only, except the request texts (pure) and what CResultsLink allows.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/kol_result.h"
#include "foundation/text.h"
#include "resultslink/runner_result.h"

namespace lapora {

class CResourceMutex;
class CResultsLink;
class Logger;

// What decoding hands to the rest of the program; every hook may be empty.
struct LinkProtocolHooks {
  // Adds an entry to the detections information list; called while the "Summary" lock is
  // held (or after waiting for it in vain).
  std::function<void(const CSummaryItem&)> addSummaryEntry;
  // Speaks a credited runner's name when speech is on (CSpeechEngine::SayRunnerName: trims,
  // skips a repeat of the last name spoken).
  std::function<void(const std::string& firstName, const std::string& lastName)> sayRunnerName;
  // The results software is too old: start the one-shot refusal timer (kRefusalDelayMs).
  std::function<void()> startRefusalTimer;
};

// How a reply line was taken.
enum class LinkReplyKind {
  kError,        // "ERR:" with a status code
  kInfo,         // "NFO:" with a command code
  kResult,       // a runner result made a detections information entry
  kControlTime,  // a runner result with the control-time status: nothing shown
  kUndecodable,  // reported in the log, nothing else changed
};

class CLinkProtocol {
 public:
  static constexpr int kTimerInitialRequests = 34146;  // one-shot, kInitialRequestsDelayMs
  static constexpr int kTimerPing = 34137;             // repeating, kPingPeriodMs
  static constexpr int kTimerRefusal = 8583;           // one-shot, kRefusalDelayMs
  static constexpr int kInitialRequestsDelayMs = 300;
  static constexpr int kPingPeriodMs = 30000;
  static constexpr int kRefusalDelayMs = 1000;
  static constexpr int kSummaryLockTimeoutMs = 2000;
  static constexpr int kLinkLineLogLevel = 60;

  // The requests sent right after connecting, in order.
  static const std::vector<std::string>& InitialRequests();

  // Every reference must outlive the protocol. summaryLock is the named lock "Summary".
  CLinkProtocol(CResultsLink& link, Logger& log, CResourceMutex& summaryLock,
                LinkProtocolHooks hooks);

  // For each received line (LinkLineEvent): posts ">>> " + line at level 60, then decodes it.
  LinkReplyKind HandleLinkLine(const std::string& line);
  // Decodes one reply line (without the log echo).
  LinkReplyKind DecodeLinkReply(const std::string& line);

  // The initial requests (on expiry of kTimerInitialRequests), when connected.
  void SendInitialRequests();
  // "Ping()" (on each expiry of kTimerPing); nothing goes out while not connected.
  void SendPing();

  // The detector identifiers last listed by the results software (empty while not connected).
  const std::vector<std::string>& DetectorList() const { return m_detectors; }
  void ClearDetectorList() { m_detectors.clear(); }

  // The entry a runner result makes: "%-30s" name, bib, time (blank for "00:00:00"), pass
  // ("." or "p%d"), ranks or the status text with the error flag.
  static CSummaryItem MakeSummaryEntry(const CRunnerResult& result);
  // The rank text: "12ème - 1ère F - 3ème SEN", or "F - Senior" without an overall rank.
  static std::string RankText(const CRunnerResult& result, Language language = BuildLanguage());

 private:
  LinkReplyKind DecodeError(const std::string& line);
  LinkReplyKind DecodeInfo(const std::string& line);
  LinkReplyKind HandleRunnerResult(const CRunnerResult& result);

  CResultsLink& m_link;
  Logger& m_log;
  CResourceMutex& m_summaryLock;
  LinkProtocolHooks m_hooks;
  std::vector<std::string> m_detectors;
};

}  // namespace lapora
