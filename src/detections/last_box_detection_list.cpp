#include "detections/last_box_detection_list.h"

#include <cstring>

namespace lapora {

std::uint32_t CLastBoxDetectionList::Hash(const std::string& bib) {
  std::uint32_t hash = 2166136261u;
  for (char c : bib) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  }
  return hash;
}

std::size_t CLastBoxDetectionList::Position(const std::string& bib, std::uint32_t hash) const {
  for (std::size_t i = 0; i < m_count; ++i) {
    std::uint8_t slot = m_order[i];
    if (m_hashes[slot] == hash && m_entries[slot].bib == bib) {
      return i;
    }
  }
  return m_count;
}

const CBoxDetection* CLastBoxDetectionList::FindLast(const std::string& bib) const {
  std::size_t position = Position(bib, Hash(bib));
  return position < m_count ? &m_entries[m_order[position]] : nullptr;
}

void CLastBoxDetectionList::RememberLast(const std::string& bib, const CChrono& absTime) {
  // The entry that moves to the head: the bib's own, else a free slot, else the oldest one
  // (pushed out by the 51st bib).
  std::uint32_t hash = Hash(bib);
  std::size_t position = Position(bib, hash);
  std::uint8_t slot;
  if (position < m_count) {
    slot = m_order[position];
  } else if (m_count < kMaxEntries) {
    slot = static_cast<std::uint8_t>(m_count);
    position = m_count++;
  } else {
    position = kMaxEntries - 1;
    slot = m_order[position];
  }
  std::memmove(&m_order[1], &m_order[0], position);
  m_order[0] = slot;
  m_entries[slot].bib.assign(bib);
  m_entries[slot].absTime = absTime;
  m_hashes[slot] = hash;
}

}  // namespace lapora
