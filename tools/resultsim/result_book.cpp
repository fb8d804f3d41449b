#include "result_book.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "wire_text.h"

namespace lapora::resultsim {

namespace {

// The bib as a number when the text is all digits, else 0 (not a runner of the list).
int BibNumber(const std::string& text) {
  if (text.empty() || text.size() > 9 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return 0;
  }
  return static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
}

std::string NoBackslash(std::string text) {
  for (char& c : text) {
    if (c == '\\') {
      c = '/';
    }
  }
  return text;
}

}  // namespace

bool ParseLayout(const std::string& name, Layout& layout) {
  if (name == "nq04") {
    layout = Layout::kNq04;
  } else if (name == "nq05") {
    layout = Layout::kNq05;
  } else if (name == "nq06") {
    layout = Layout::kNq06;
  } else if (name == "res1" || name == "RES:1") {
    layout = Layout::kRes1;
  } else {
    return false;
  }
  return true;
}

CRunnerResult CResultBook::Credit(const CDetection& detection) {
  CRunnerResult result;
  result.detector = detection.detector;
  result.bibText = detection.bibText;
  result.pass = ++m_passCount[{detection.detector, detection.bibText}];
  result.number = BibNumber(detection.bibText);
  result.time = FormatClock(detection.time - m_settings.raceStart);
  const auto distance = m_settings.distances.find(detection.detector);
  result.distance = distance == m_settings.distances.end() ? 0.0 : distance->second;

  const CRunner* runner = result.number > 0 ? m_runners.Find(result.number) : nullptr;
  if (runner == nullptr) {
    result.status = m_settings.unknownStatus;
    return result;
  }
  result.nation = runner->nation;
  result.race = runner->race;
  result.lastName = runner->lastName;
  result.firstName = runner->firstName;
  result.sex = runner->sex;
  result.category = runner->category;
  result.categoryName = runner->categoryName;
  result.team = runner->team;
  if (m_settings.controlDetectors.count(detection.detector) != 0) {
    result.status = m_settings.controlStatus;  // a control time is not ranked
    return result;
  }
  result.status = m_settings.creditedStatus;

  // Ranks among the runners already credited with the same pass at this detector; a runner
  // credited later with an earlier time still takes the better rank.
  std::vector<RankedPass>& others = m_ranked[{detection.detector, result.pass}];
  const int64_t elapsed = detection.time - m_settings.raceStart;
  result.rankOverall = result.rankSex = result.rankCategory = 1;
  for (const RankedPass& other : others) {
    if (other.time < elapsed) {
      ++result.rankOverall;
      result.rankSex += other.sex == runner->sex ? 1 : 0;
      result.rankCategory += other.category == runner->category ? 1 : 0;
    }
  }
  others.push_back({elapsed, runner->sex, runner->category});
  return result;
}

std::string FormatResult(const CRunnerResult& result, Layout layout, const std::string& reserved,
                         const std::string& fillEmpty) {
  const bool tagged = layout != Layout::kRes1;
  std::string line;
  const auto text = [&](const std::string& value) {
    line += '\\';
    line += tagged && value.empty() ? fillEmpty : NoBackslash(value);
  };
  const auto number = [&](long long value) {
    line += '\\';
    line += std::to_string(value);
  };
  const auto decimal = [&](double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2f", value);
    line += '\\';
    line += buffer;
  };
  switch (layout) {
    case Layout::kNq04:
      line = "nq04";
      break;
    case Layout::kNq05:
      line = "nq05";
      break;
    case Layout::kNq06:
      line = "nq06";
      break;
    case Layout::kRes1:
      // "RES:1", the separator, then the two leading fields the reader skips.
      line = "RES:1\\" + NoBackslash(result.detector) + "\\" + NoBackslash(result.bibText);
      break;
  }
  number(result.pass);
  if (layout != Layout::kNq04) {
    decimal(result.distance);
    text(result.nation);
  }
  if (layout == Layout::kNq06 || layout == Layout::kRes1) {
    text(result.race);
  }
  number(result.rankOverall);
  number(result.rankCategory);
  number(result.rankSex);
  number(result.number);
  text(result.lastName);
  text(result.firstName);
  text(result.sex);
  text(result.category);
  text(result.categoryName);
  text(result.team);
  text(result.time);
  text(reserved);
  number(result.status);
  return line;
}

}  // namespace lapora::resultsim
