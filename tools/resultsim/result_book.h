// What the simulated results software does with a detection: find the runner, count the pass
// at that detector, rank the pass by time, and write the runner result in one reply layout.
// Not thread-safe; the simulator uses it from its one thread.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "start_list.h"

namespace lapora::resultsim {

enum class Layout { kNq04, kNq05, kNq06, kRes1 };

[[nodiscard]] bool ParseLayout(const std::string& name, Layout& layout);

struct CBookSettings {
  int64_t raceStart = 0;  // hundredths subtracted from the detection time to give TIME
  int creditedStatus = 3;
  int unknownStatus = -5;
  int controlStatus = -8;
  std::set<std::string> controlDetectors;
  std::map<std::string, double> distances;  // by detector label, default 0
};

// One detection as the request carried it.
struct CDetection {
  std::string detector;
  std::string bibText;
  int64_t time = 0;  // hundredths of the time of day
};

struct CRunnerResult {
  std::string detector;  // the two leading fields of the split layout
  std::string bibText;
  int pass = 0;
  double distance = 0;
  std::string nation;
  std::string race;
  int rankOverall = 0;
  int rankCategory = 0;
  int rankSex = 0;
  int number = 0;
  std::string lastName;
  std::string firstName;
  std::string sex;
  std::string category;
  std::string categoryName;
  std::string team;
  std::string time;
  int status = 0;
};

class CResultBook {
 public:
  CResultBook(const CStartList& runners, CBookSettings settings)
      : m_runners(runners), m_settings(std::move(settings)) {}

  // Credits one detection and returns the result the results software answers.
  CRunnerResult Credit(const CDetection& detection);

 private:
  struct RankedPass {
    int64_t time;
    std::string sex;
    std::string category;
  };

  const CStartList& m_runners;
  CBookSettings m_settings;
  std::map<std::pair<std::string, std::string>, int> m_passCount;           // (detector, bib text)
  std::map<std::pair<std::string, int>, std::vector<RankedPass>> m_ranked;  // (detector, pass)
};

// The reply line (without its line end). In the tagged layouts an empty text field is written
// as fillEmpty, because those layouts cannot carry an empty field; an empty fillEmpty keeps it.
std::string FormatResult(const CRunnerResult& result, Layout layout, const std::string& reserved,
                         const std::string& fillEmpty);

}  // namespace lapora::resultsim
