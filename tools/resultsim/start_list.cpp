#include "start_list.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "wire_text.h"

namespace lapora::resultsim {

namespace {

// Generated names; the accented ones are Windows-1252 bytes, as the wire carries them.
constexpr const char* kLastNames[] = {
    "Martin", "Bernard",  "Dubois",   "Thomas", "Robert",  "Richard",  "Petit",
    "Durand", "Leroy",    "Moreau",   "Simon",  "Laurent", "Lefebvre", "Michel",
    "Garcia", "David",    "Bertrand", "Roux",   "Vincent", "Fournier", "Lef\xE8vre",
    "Girard", "Andr\xE9", "Mercier",  "Dupont", "Lambert", "Bonnet",   "Fran\xE7ois"};
constexpr const char* kMenFirstNames[] = {"Jean",
                                          "Pierre",
                                          "Luc",
                                          "J\xE9r\xF4me",
                                          "Thomas",
                                          "Nicolas",
                                          "Fran\xE7ois",
                                          "Ga\xEBl",
                                          "Hugo",
                                          "Paul",
                                          "Lo\xEF"
                                          "c",
                                          "Marc"};
constexpr const char* kWomenFirstNames[] = {"Marie",
                                            "H\xE9l\xE8ne",
                                            "Sophie",
                                            "Chlo\xE9",
                                            "Julie",
                                            "Camille",
                                            "Anne",
                                            "L\xE9"
                                            "a",
                                            "Emma",
                                            "Claire",
                                            "Zo\xE9",
                                            "Sarah"};
struct Category {
  const char* code;
  const char* name;
};
constexpr Category kCategories[] = {{"JUN", "Junior"},         {"ESP", "Espoir"},
                                    {"SEN", "Senior"},         {"V1", "V\xE9t\xE9ran 1"},
                                    {"V2", "V\xE9t\xE9ran 2"}, {"V3", "V\xE9t\xE9ran 3"}};
constexpr const char* kTeams[] = {"AC Lyon",           "RC Nantes",  "US Brest",
                                  "Les Foul\xE9\x65s", "ASPTT Metz", "Stade Rennais",
                                  "CA Montreuil",      "Individuel"};
constexpr const char* kRaces[] = {"10 km", "Semi"};

template <typename T, size_t N>
constexpr size_t Count(const T (&)[N]) {
  return N;
}

// A field of the wire may not hold the separator of the reply layouts.
std::string CleanField(std::string_view field, bool& changed) {
  std::string text(TrimBlanks(field));
  for (char& c : text) {
    if (c == '\\') {
      c = '/';
      changed = true;
    }
  }
  return text;
}

}  // namespace

bool CStartList::Add(CRunner runner) {
  if (m_indexByBib.count(runner.bib) != 0) {
    return false;
  }
  m_indexByBib.emplace(runner.bib, m_runners.size());
  m_runners.push_back(std::move(runner));
  return true;
}

bool CStartList::Load(const std::string& path, std::vector<std::string>& warnings,
                      std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read the start list " + path + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream content;
  content << in.rdbuf();
  const std::string text = ToCp1252IfUtf8(content.str());
  m_runners.clear();
  m_indexByBib.clear();
  int lineNumber = 0;
  for (std::string line : Split(text, '\n')) {
    ++lineNumber;
    while (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (TrimBlanks(line).empty() || line[0] == '#') {
      continue;
    }
    const std::string where = path + ":" + std::to_string(lineNumber) + ": ";
    const std::vector<std::string> fields = Split(line, ';');
    if (fields.size() < 6 || fields.size() > 9) {
      warnings.push_back(where + "expected 6 to 9 fields separated by ';', line skipped");
      continue;
    }
    const std::string bibText(TrimBlanks(fields[0]));
    char* end = nullptr;
    errno = 0;
    const long bib = std::strtol(bibText.c_str(), &end, 10);
    if (bibText.empty() || *end != '\0' || errno != 0 || bib <= 0 || bib > 999999999) {
      warnings.push_back(where + "bib '" + bibText + "' is not a positive number, line skipped");
      continue;
    }
    bool changed = false;
    CRunner runner;
    runner.bib = static_cast<int>(bib);
    runner.lastName = CleanField(fields[1], changed);
    runner.firstName = CleanField(fields[2], changed);
    runner.sex = CleanField(fields[3], changed);
    runner.category = CleanField(fields[4], changed);
    runner.categoryName = CleanField(fields[5], changed);
    runner.team = fields.size() > 6 ? CleanField(fields[6], changed) : "";
    runner.nation = fields.size() > 7 ? CleanField(fields[7], changed) : "";
    runner.race = fields.size() > 8 ? CleanField(fields[8], changed) : "";
    if (changed) {
      warnings.push_back(where + "backslashes replaced by '/' (they separate reply fields)");
    }
    if (!Add(std::move(runner))) {
      warnings.push_back(where + "bib " + bibText + " already listed, line skipped");
    }
  }
  return true;
}

void CStartList::Generate(int count, unsigned seed) {
  m_runners.clear();
  m_indexByBib.clear();
  uint32_t state = seed * 2654435761u + 12345u;
  const auto next = [&state](size_t range) {
    state = state * 1664525u + 1013904223u;
    return static_cast<size_t>((state >> 8) % range);
  };
  for (int bib = 1; bib <= count; ++bib) {
    CRunner runner;
    runner.bib = bib;
    const bool woman = next(5) < 2;
    runner.sex = woman ? "F" : "M";
    runner.lastName = kLastNames[next(Count(kLastNames))];
    runner.firstName = woman ? kWomenFirstNames[next(Count(kWomenFirstNames))]
                             : kMenFirstNames[next(Count(kMenFirstNames))];
    const Category& category = kCategories[next(Count(kCategories))];
    runner.category = category.code;
    runner.categoryName = category.name;
    runner.team = kTeams[next(Count(kTeams))];
    runner.nation = next(10) == 0 ? "BEL" : "FRA";
    runner.race = kRaces[next(Count(kRaces))];
    Add(std::move(runner));
  }
}

const CRunner* CStartList::Find(int bib) const {
  const auto found = m_indexByBib.find(bib);
  return found == m_indexByBib.end() ? nullptr : &m_runners[found->second];
}

}  // namespace lapora::resultsim
