// The runners the simulated results software knows: read from a start-list file or generated.
// Not thread-safe; the simulator uses it from its one thread.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

namespace lapora::resultsim {

struct CRunner {
  int bib = 0;
  std::string lastName;
  std::string firstName;
  std::string sex;       // "M", "F" or another code
  std::string category;  // category code, e.g. "SEN" or "V1"
  std::string categoryName;
  std::string team;
  std::string nation;
  std::string race;
};

class CStartList {
 public:
  // Reads "bib;last name;first name;sex;category;category name[;team[;nation[;race]]]" lines.
  // Blank lines and lines starting with '#' are skipped; a bad line or a repeated bib is
  // reported in warnings and skipped. Fails only when the file cannot be read.
  [[nodiscard]] bool Load(const std::string& path, std::vector<std::string>& warnings,
                          std::string& error);

  // Replaces the list by count runners with bibs 1..count, the same for the same seed.
  void Generate(int count, unsigned seed);

  const CRunner* Find(int bib) const;
  size_t Size() const { return m_runners.size(); }

 private:
  bool Add(CRunner runner);

  std::vector<CRunner> m_runners;
  std::unordered_map<int, size_t> m_indexByBib;
};

}  // namespace lapora::resultsim
