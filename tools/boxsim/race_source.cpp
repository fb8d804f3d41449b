#include "race_source.h"

#include <strings.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace lapora::boxsim {

CRaceSource::CRaceSource(const Options& o) {
  const int runners = o.runners;
  const int chips = o.chipsPerRunner;
  const int reads = o.readsPerCrossing;
  m_chips.reserve(static_cast<size_t>(runners) * chips);
  for (int r = 0; r < runners; ++r) {
    for (int c = 0; c < chips; ++c) {
      m_chips.push_back(ChipId(o.chipPrefix, o.firstBib + r, c));
      m_bibs.push_back(o.firstBib + r);
    }
  }
  // A mass start sends the whole field over the line within two seconds; a finish spreads
  // the runners evenly over the spread.
  const double windowMs = o.massStart ? 2000.0 : o.spreadSeconds * 1000.0;
  int64_t lastOffset = 0;
  m_lap.reserve(static_cast<size_t>(runners) * chips * reads);
  for (int r = 0; r < runners; ++r) {
    int64_t runnerOffset = static_cast<int64_t>(windowMs * r / runners);
    for (int c = 0; c < chips; ++c) {
      for (int k = 0; k < reads; ++k) {
        int64_t offset = runnerOffset + static_cast<int64_t>(c) * o.chipGapMs +
                         static_cast<int64_t>(k) * o.readGapMs;
        m_lap.push_back({offset, r * chips + c});
        lastOffset = std::max(lastOffset, offset);
      }
    }
  }
  std::stable_sort(m_lap.begin(), m_lap.end(),
                   [](const Entry& a, const Entry& b) { return a.offsetMs < b.offsetMs; });
  m_lapMs = o.lapSeconds > 0 ? static_cast<int64_t>(o.lapSeconds * 1000.0) : lastOffset + 1000;
  const int64_t perLap = static_cast<int64_t>(m_lap.size());
  if (o.laps > 0) {
    m_total = perLap * o.laps;
  } else {
    m_total = o.count > 0 ? o.count : perLap;
  }
  if (o.count > 0) {
    m_total = std::min(m_total, o.count);
  }
}

std::string CRaceSource::ChipId(const std::string& prefix, int bib, int chipNumber) {
  char hex[32];
  unsigned long long value =
      (static_cast<unsigned long long>(chipNumber) << 32) | static_cast<unsigned>(bib);
  std::snprintf(hex, sizeof hex, "%016llX", value);
  return prefix + hex;
}

int64_t CRaceSource::OffsetOf(int64_t index) const {
  const int64_t perLap = static_cast<int64_t>(m_lap.size());
  return (index / perLap) * m_lapMs + m_lap[static_cast<size_t>(index % perLap)].offsetMs;
}

int64_t CRaceSource::NextOffsetMs() const {
  return Done() ? -1 : OffsetOf(m_next);
}

void CRaceSource::Next(int64_t raceStartBoxMs, SourceItem& out) {
  const int64_t perLap = static_cast<int64_t>(m_lap.size());
  const Entry& entry = m_lap[static_cast<size_t>(m_next % perLap)];
  out.wholeLine = false;
  out.isRead = true;
  out.text.clear();
  m_formatter.Format(raceStartBoxMs + OffsetOf(m_next), out.text);
  out.text.push_back(',');
  out.text.append(m_chips[static_cast<size_t>(entry.chipIndex)]);
  out.payload = out.text;
  ++m_next;
}

bool CRaceSource::WriteChipTable(const std::string& path, std::string& error) const {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  bool ok = true;
  for (size_t i = 0; i < m_chips.size() && ok; ++i) {
    ok = std::fprintf(file, "%d %s\r\n", m_bibs[i], m_chips[i].c_str()) > 0;
  }
  if (std::fclose(file) != 0) {
    ok = false;
  }
  if (!ok) {
    error = "cannot write " + path + ": " + std::strerror(errno);
  }
  return ok;
}

bool CPlaySource::Load(const std::string& path, int64_t count, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
      line.pop_back();
    }
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') {
      continue;
    }
    line.erase(0, first);
    SourceItem item;
    if (line.find('@') != std::string::npos) {
      // A whole box line: the simulator adds its own line end.
      while (!line.empty() && line.back() == ';') {
        line.pop_back();
      }
      item.wholeLine = true;
      item.text = line;
      size_t a = line.find('@');
      size_t b = line.find('@', a + 1);
      size_t c = b == std::string::npos ? b : line.find('@', b + 1);
      item.isRead =
          c != std::string::npos && strncasecmp(line.c_str() + a + 1, "epc", 3) == 0 && b == a + 4;
      if (item.isRead) {
        item.payload = line.substr(c + 1);
      }
    } else {
      item.text = line;
      item.payload = line;
    }
    m_items.push_back(std::move(item));
    if (count > 0 && static_cast<int64_t>(m_items.size()) >= count) {
      break;
    }
  }
  if (in.bad()) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

void CPlaySource::Next(int64_t, SourceItem& out) {
  out = m_items[m_next++];
}

}  // namespace lapora::boxsim
