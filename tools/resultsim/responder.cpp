#include "responder.h"

#include "wire_text.h"

namespace lapora::resultsim {

namespace {

// "NFO:" + code, and a blank and the text when there is one.
std::string Information(int code, const std::string& text) {
  std::string line = "NFO:" + std::to_string(code);
  if (!text.empty()) {
    line += ' ';
    line += text;
  }
  return line;
}

bool IsInteger(const std::string& text) {
  size_t start = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
  return text.size() > start && text.find_first_not_of("0123456789", start) == std::string::npos;
}

}  // namespace

std::vector<std::string> CResponder::Answer(const std::string& request, std::string& note) {
  struct InfoRequest {
    const char* name;
    int code;
    const std::string CInfoTexts::*text;
  };
  static const InfoRequest kInfoRequests[] = {
      {"GetMode()", 24, &CInfoTexts::mode},
      {"GetUserName()", 25, &CInfoTexts::user},
      {"GetCompetitionName()", 5, &CInfoTexts::competition},
      {"GetFilename()", 6, &CInfoTexts::file},
      {"GetVersion()", 27, &CInfoTexts::version},
      {"GetPrintableVersion()", 28, &CInfoTexts::printableVersion},
      {"GetDetectorList()", 7, &CInfoTexts::detectors},
  };
  if (request.empty()) {
    note = "empty line";
    return {};
  }
  for (const InfoRequest& info : kInfoRequests) {
    if (request == info.name) {
      note = "information request";
      return {Information(info.code, m_texts.*info.text)};
    }
  }
  if (request == "Ping()") {
    note = "ping";
    return {"NFO:20"};
  }
  static const std::string kDetection = "AddKolClock(";
  if (request.compare(0, kDetection.size(), kDetection) != 0) {
    note = "unknown request";
    return {"ERR:103"};
  }
  // "AddKolClock(" 1 TAB detector TAB bib TAB 1 TAB time ")"
  const std::vector<std::string> fields =
      request.back() == ')' ? Split(std::string_view(request).substr(
                                        kDetection.size(), request.size() - kDetection.size() - 1),
                                    '\t')
                            : std::vector<std::string>{};
  CDetection detection;
  if (fields.size() != 5 || !IsInteger(fields[0]) || !IsInteger(fields[3]) || fields[1].empty() ||
      fields[2].empty() || !ParseDetectionTime(fields[4], detection.time)) {
    note = "invalid detection";
    return {"ERR:104"};
  }
  detection.detector = fields[1];
  detection.bibText = fields[2];
  const CRunnerResult result = m_book.Credit(detection);
  note = "detection";
  return {FormatResult(result, m_layout, m_reserved, m_fillEmpty)};
}

}  // namespace lapora::resultsim
