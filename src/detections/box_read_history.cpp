#include "detections/box_read_history.h"

#include <algorithm>

namespace lapora {

void CBoxReadHistory::Remember(const std::string& chip, const CChrono& boxTime) {
  std::vector<std::int64_t>& keys = m_keysByChip[chip];
  std::int64_t key = Key(boxTime);
  if (keys.empty() || keys.back() < key) {
    keys.push_back(key);
  } else {
    auto at = std::lower_bound(keys.begin(), keys.end(), key);
    if (at != keys.end() && *at == key) {
      return;
    }
    keys.insert(at, key);
  }
  ++m_count;
}

bool CBoxReadHistory::Contains(const std::string& chip, const CChrono& boxTime) const {
  auto found = m_keysByChip.find(chip);
  if (found == m_keysByChip.end()) {
    return false;
  }
  return std::binary_search(found->second.begin(), found->second.end(), Key(boxTime));
}

void CBoxReadHistory::Clear() {
  m_keysByChip.clear();
  m_count = 0;
  m_lastRecorded.Clear();
  m_replay = Replay::kNone;
}

bool CBoxReadHistory::BeginReplay() {
  if (m_replay != Replay::kExpected) {
    return false;
  }
  m_replay = Replay::kRunning;
  m_replayed = 0;
  m_recovered = 0;
  return true;
}

void CBoxReadHistory::CountReplayed(bool recovered) {
  ++m_replayed;
  if (recovered) {
    ++m_recovered;
  }
}

bool CBoxReadHistory::EndReplay(int* recovered, int* replayed) {
  if (m_replay != Replay::kRunning) {
    return false;
  }
  m_replay = Replay::kNone;
  *recovered = m_recovered;
  *replayed = m_replayed;
  return true;
}

}  // namespace lapora
