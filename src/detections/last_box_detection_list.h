// The last detections of one box: the absolute time of the latest read of each of the 50 most
// recently read bibs, most recent first, used by the repeat filter of the intake.
// Not thread-safe: only the box's own box thread (or a replay into that box) touches it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "foundation/chrono.h"

namespace lapora {

// The latest read of one bib at a box.
struct CBoxDetection {
  CChrono absTime;
  std::string bib;
};

class CLastBoxDetectionList {
 public:
  static constexpr std::size_t kMaxEntries = 50;

  // The entry with exactly this bib text (byte comparison), or null. The pointer stays valid
  // until the next RememberLast or ClearLast.
  const CBoxDetection* FindLast(const std::string& bib) const;
  // Moves (or inserts) the bib to the head with this time; the oldest entry beyond 50 goes.
  void RememberLast(const std::string& bib, const CChrono& absTime);
  void ClearLast() { m_count = 0; }

  std::size_t Count() const { return m_count; }
  // The entry at position i, 0 being the most recent. REQUIRES: i < Count().
  const CBoxDetection& At(std::size_t i) const { return m_entries[m_order[i]]; }

 private:
  // Position of the bib in m_order, or m_count.
  std::size_t Position(const std::string& bib, std::uint32_t hash) const;
  static std::uint32_t Hash(const std::string& bib);

  // Fixed slots reused from one read to the next (the filter runs for every detection and must
  // not allocate); m_order lists the slots from the most recent, so that moving an entry to the
  // head shifts a few bytes instead of strings.
  std::array<CBoxDetection, kMaxEntries> m_entries;
  std::array<std::uint8_t, kMaxEntries> m_order{};
  std::array<std::uint32_t, kMaxEntries> m_hashes{};  // per slot: most bibs differ here already
  std::size_t m_count = 0;
};

}  // namespace lapora
