// The results software's replies: the fuzz input is what it sends on the direct connection,
// cut into lines as the link thread cuts them. Each line is handled as the main window handles
// a posted link line (log echo, decoding of NFO, ERR, RES:1 and the tagged layouts, the
// detector list, the detections information entry under the "Summary" lock, the spoken name,
// the version refusal); the decoders' results are checked against their promises.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "foundation/events.h"
#include "foundation/log.h"
#include "foundation/resource_mutex.h"
#include "foundation/speech.h"
#include "fuzz_support.h"
#include "platform/text_to_speech.h"
#include "resultslink/link_codes.h"
#include "resultslink/link_protocol.h"
#include "resultslink/results_link.h"
#include "resultslink/runner_result.h"

namespace {

using namespace lapora;
using namespace lapora::fuzz;

// A voice that only counts what it is given.
class CountingVoice final : public TextToSpeech {
 public:
  bool Speak(std::string_view, bool) override {
    ++spoken;
    return true;
  }
  void Cancel() override {}
  void WaitUntilDone() override {}
  int spoken = 0;
};

struct ReplyRig {
  ReplyRig()
      : log(events),
        summaryLock("Summary", folder.Path()),
        link(events, log),
        speech(std::make_unique<CountingVoice>()),
        protocol(link, log, summaryLock,
                 LinkProtocolHooks{[this](const CSummaryItem&) { ++entries; },
                                   [this](const std::string& first, const std::string& last) {
                                     speech.SayRunnerName(first, last);
                                   },
                                   [this] { ++refusals; }}) {
    log.SetPostingEnabled(true);
    log.SetLevel(100);
  }
  ScratchFolder folder;
  EventQueue events;
  Logger log;
  CResourceMutex summaryLock;
  CResultsLink link;
  CSpeechEngine speech;
  int entries = 0;
  int refusals = 0;
  CLinkProtocol protocol;
};

void CheckResult(const CRunnerResult& result) {
  for (const std::string* text : {&result.nation, &result.race, &result.lastName, &result.firstName,
                                  &result.team, &result.time}) {
    Check(text->size() <= CRunnerResult::kTextMax, "a decoded text beyond its length");
  }
  Check(result.category.size() <= CRunnerResult::kCatMax, "a decoded category beyond its length");
  for (const std::string* code : {&result.sex, &result.categoryCode, &result.reserved}) {
    Check(code->size() <= CRunnerResult::kCodeMax, "a decoded code beyond its length");
  }
  (void)CLinkProtocol::MakeSummaryEntry(result);
  (void)CLinkProtocol::RankText(result, Language::kEnglish);
  (void)CLinkProtocol::RankText(result, Language::kFrench);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ReplyRig rig;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t start = 0;
  while (start < input.size()) {
    std::size_t end = input.find('\n', start);
    if (end == std::string_view::npos) {
      break;  // a line the connection ended in the middle of is never handled
    }
    std::string line(input.substr(start, end - start));
    start = end + 1;
    if (line.size() > CResultsLink::kMaxLineChars) {
      line.resize(CResultsLink::kMaxLineChars);
    }
    while (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (line.empty()) {
      continue;
    }

    const int entriesBefore = rig.entries;
    LinkReplyKind kind = rig.protocol.HandleLinkLine(line);
    Check((kind == LinkReplyKind::kResult) == (rig.entries == entriesBefore + 1),
          "a runner result without its entry, or an entry without one");
    int fields = 0;
    if (std::optional<CRunnerResult> split = DecodeSplitResult(line, &fields)) {
      CheckResult(*split);
    }
    int nq06 = 0;
    if (std::optional<CRunnerResult> tagged = DecodeTaggedResult(line, &nq06)) {
      CheckResult(*tagged);
    }
    for (const std::string& detector : rig.protocol.DetectorList()) {
      Check(!detector.empty() && detector.find('\\') == std::string::npos,
            "a detector identifier is empty or holds a separator");
    }
    const std::string_view text = std::string_view(line).substr(line.size() > 7 ? 7 : line.size());
    if (IsVersionRefused(text)) {
      std::optional<std::array<int, 4>> numbers = ParseVersionNumbers(text);
      Check(numbers.has_value() && *numbers < std::array<int, 4>{4, 4, 0, 0},
            "a refused version that is not older than 4,4,0,0");
    }
    (void)ConvertVersion(text);
    (void)ParseDecimal(text, true);
    (void)ParseDecimal(text, false);
    DrainEvents(rig.events, rig.log);
  }
  return 0;
}
