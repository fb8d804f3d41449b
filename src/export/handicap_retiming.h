// The re-timing of a detector's handicap from one known passage: the operator sees the clock
// time at which the detector saw a runner and types the race time that passage must have; the
// handicap is the difference. The checks and the result of the re-timing dialog, without Qt.
#pragma once

#include <optional>
#include <string>

#include "foundation/chrono.h"

namespace lapora {

struct HandicapRetiming {
  std::string bib;     // of the passage shown
  int passNumber = 1;  // which passage of that runner it is
  CChrono clockTime;   // time of day at which the passage was detected
  CChrono handicap;    // in: the current one; out: the new one once accepted
};

// The passage time as it currently stands (clock time − handicap), the edit's first text.
std::string RetimingStartText(const HandicapRetiming& retiming);

// OK with the entered passage time: on success the handicap becomes clock time − entered time
// and nothing is returned; otherwise the handicap is kept and the warning to show is returned.
// A passage time later than the clock time gives a negative handicap, accepted as it is.
std::optional<std::string> ApplyRetiming(HandicapRetiming& retiming, const std::string& entered);

}  // namespace lapora
