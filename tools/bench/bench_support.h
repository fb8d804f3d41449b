// What the box-link benchmarks share: the box simulator and its arguments, a fresh temporary
// folder, the send and receive stamps the simulators log, and the delays between them. For the
// benchmark's main thread.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace lapora::bench {

inline const std::string kBoxSim = LAPORA_BINARY_DIR "/tools/boxsim/boxsim";

// A box simulator of count race lines on a free TCP port, with no heartbeat nor status lines;
// rate (lines/s) and sendLog (its send stamps) when not empty.
inline std::vector<std::string> BoxSimArgs(long long count, const std::string& rate,
                                           const std::string& sendLog) {
  std::vector<std::string> args = {"--tcp",
                                   "0",
                                   "--race",
                                   "--runners",
                                   "50000",
                                   "--count",
                                   std::to_string(count),
                                   "--start-delay-ms",
                                   "300",
                                   "--heartbeat-ms",
                                   "0",
                                   "--status-ms",
                                   "0"};
  if (!rate.empty()) {
    args.insert(args.end(), {"--rate", rate});
  }
  if (!sendLog.empty()) {
    args.insert(args.end(), {"--send-log", sendLog});
  }
  return args;
}

// A fresh folder under the temporary folder, named from prefix; empty when none could be made.
inline std::string MakeBenchFolder(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
  char* made = mkdtemp(pattern.data());
  return made != nullptr ? std::string(made) : std::string();
}

// The stamps (µs) that start the lines of a simulator's log, of the lines that contain
// `containing` when it is not empty.
inline std::vector<std::int64_t> ReadStamps(const std::string& path,
                                            const std::string& containing = {}) {
  std::vector<std::int64_t> stamps;
  std::ifstream in(path);
  long long stamp;
  std::string rest;
  while (in >> stamp && std::getline(in, rest)) {
    if (containing.empty() || rest.find(containing) != std::string::npos) {
      stamps.push_back(stamp);
    }
  }
  return stamps;
}

struct Delays {
  std::size_t count = 0;  // the pairs of stamps timed
  double median = 0;      // ms
  double p99 = 0;         // ms
};

// The delays from each stamp of `from` to the stamp of the same rank in `to`; none when there
// is no pair.
inline std::optional<Delays> DelaysBetween(const std::vector<std::int64_t>& from,
                                           const std::vector<std::int64_t>& to) {
  std::size_t n = std::min(from.size(), to.size());
  std::vector<double> delays;
  for (std::size_t i = 0; i < n; ++i) {
    delays.push_back(static_cast<double>(to[i] - from[i]) / 1000.0);
  }
  if (delays.empty()) {
    return std::nullopt;
  }
  std::sort(delays.begin(), delays.end());
  return Delays{n, delays[delays.size() / 2],
                delays[std::min(delays.size() - 1, delays.size() * 99 / 100)]};
}

}  // namespace lapora::bench
