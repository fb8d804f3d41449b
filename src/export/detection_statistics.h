// Statistics over a snapshot of the recorded detections, for the detection-lines export: work
// copies of the records with their bib number and time read, the grouping by detector, the
// minimum-gap filter with the passage counts, the split by passage number, and the two
// writers of export files. Nothing here keeps state: every operation takes its input and
// returns new values. Only SnapshotDetections touches shared data (under the recorded-detections
// lock); the rest runs on the caller's thread over the snapshot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/chrono.h"
#include "foundation/kol_result.h"

namespace lapora {

class CRecordedDetections;

// A record copied for the statistics (id included), with its bib and time read once.
struct CWorkResult : CKolResult {
  // The bib text read as "%d" reads it (leading blanks, a sign, digits, the rest ignored); 0
  // when the text does not begin with a number (or with one too big for 32 bits).
  std::int32_t bibNumber = 0;
  // The time text read with ParseTimeHundredths; unset when it cannot be read (as the absolute
  // time texts of absolute-clock records).
  CChrono time;

  static CWorkResult FromRecord(const CKolResult& record);

  // What tells runners apart: the number of a bib text that begins with one, in plain digits
  // ("012" and "12" are one runner), else the bib text itself ("A" and "B" are two runners, not
  // one runner 0). For the usual bib texts, plain numbers, it is the bib text.
  const std::string& RunnerKey() const { return m_runnerKey.empty() ? bibText : m_runnerKey; }

 private:
  // Set only when the key differs from the bib text: a snapshot holds a million of these, and
  // a second copy of every bib would cost 32 bytes each.
  std::string m_runnerKey;
};

// The snapshot owns its work detections. It is filled before any pointer into it is taken (a
// vector moves its elements when it grows); every other list holds pointers into it.
using CWorkSnapshot = std::vector<CWorkResult>;
using CWorkResultList = std::vector<const CWorkResult*>;

// One detector's detections, in sorted order.
struct CDetectorResList {
  std::string label;
  CWorkResultList results;
};

// One line per detector.
struct CStatLineEntry {
  std::int32_t count = 0;  // detections at this detector (later: the number the filter kept)
  std::string label;
  std::string bestBib;  // of the earliest detection of this detector
  CChrono bestTime;
  CChrono handicap;            // unset when built
  std::int32_t maxPasses = 0;  // largest number of kept passages of one runner; 0 when built

  bool operator==(const CStatLineEntry&) const = default;
};

// One per passage number of one detector.
struct CStatEntry {
  std::int32_t passNumber = 0;      // 1, 2, 3 ...
  std::int32_t runnersExactly = 0;  // runners with exactly passNumber kept passages
  std::int32_t runnersAtLeast = 0;  // runners with passNumber or more
  std::string bestBib;              // runner whose passNumber-th passage is the earliest
  CChrono bestTime;                 // unset when none

  bool operator==(const CStatEntry&) const = default;
};

// Comparators: negative, zero or positive. Texts compare byte by byte ("10" before "9");
// times with CChrono's order, where an unset time comes after every set one. The runner
// operations below sort by runner key, then time, then bib text: the same order as
// CompareByBibThenTime for plain-number bibs, and one that keeps each runner's detections
// together and in time order when one runner's bib is written in two ways.
int CompareByBibThenTime(const CWorkResult& a, const CWorkResult& b);
int CompareByTimeThenBib(const CWorkResult& a, const CWorkResult& b);
int CompareByDetectorThenTime(const CWorkResult& a, const CWorkResult& b);

// The pointers of every element of the snapshot, in its order.
CWorkResultList ListOf(const CWorkSnapshot& snapshot);

// Appends one work detection per valid record, in recording order, holding the records' lock
// for the whole walk. A filter other than "" and "*" keeps only that detector label (exact).
void SnapshotDetections(CRecordedDetections& records, const std::string& detectorFilter,
                        CWorkSnapshot& out);

// Records copied per taking of the records' lock by SnapshotDetectionsInSlices: a few
// milliseconds' work, so that a box thread or the window thread never waits long for it.
inline constexpr std::size_t kSnapshotSlice = 8192;
// Told after each slice how many of the records there when the walk started have been walked;
// false stops the walk.
using SnapshotProgress = std::function<bool(std::size_t walked, std::size_t total)>;
// As SnapshotDetections, for a snapshot taken beside the window and the box threads: the
// records there when the walk starts are copied slice by slice, each taking of the lock
// copying at most `slice` of them, each with its valid flag as it stands when its slice is
// copied. False, and nothing appended, when the records were reset (emptied) during the walk or
// progress stopped it.
bool SnapshotDetectionsInSlices(CRecordedDetections& records, const std::string& detectorFilter,
                                CWorkSnapshot& out, std::size_t slice = kSnapshotSlice,
                                const SnapshotProgress& progress = {});

// One line per detector, in ascending label order; none for an empty list. When memory for
// sorting cannot be had, *error gets the text to show and the result is empty.
std::vector<CStatLineEntry> GroupByDetector(const CWorkResultList& detections,
                                            std::string* error = nullptr);

struct PassStatistics {
  std::vector<CStatEntry> entries;  // entry i is passage i + 1; as many as maxPasses
  std::int32_t maxPasses = 0;
  std::int32_t runners = 0;
};

// The minimum-gap filter and the passage counts over one detector's detections: within a
// runner, in time order, a detection no later than the previous one (kept or not) plus the gap
// is dropped. The kept detections are appended to `kept` in time order. When memory for sorting
// cannot be had, *error gets the text to show and nothing is appended.
PassStatistics ComputePassStatistics(const CWorkResultList& detections, const CChrono& minimumGap,
                                     CWorkResultList& kept, std::string* error = nullptr);

// Splits one detector's kept detections by passage number in one pass: list i gets the
// (i + 1)-th kept passage of every runner, in time order (a runner with fewer passages is
// absent from the later lists). As many lists as the most passages of one runner; none for an
// empty input. When memory cannot be had, *error gets the text to show and the result is empty.
std::vector<CWorkResultList> ExtractPassages(const CWorkResultList& kept,
                                             std::string* error = nullptr);

// Writes an export file, replacing any file of that name whole (a reader sees the old file or
// the new one, never a part); lines end with CR LF; elements whose valid flag is 0 are skipped
// and the line numbers count the others. Not compact: detection lines with the time text as
// recorded. Compact: the two header lines, then bib, compact time and an empty comment. False
// when the file cannot be written (the old file stays as it was).
bool WriteDetectionLines(const std::string& path, const CWorkResultList& detections, bool compact);
// The same two forms with the time minus the handicap (FormatHundredths, or FormatCompact in
// the compact form). A time text that cannot be read as a time of day is not shifted: the
// detection line keeps the recorded text and the compact line has an empty time.
bool WriteShiftedDetectionLines(const std::string& path, const CWorkResultList& detections,
                                const CChrono& handicap, bool compact);

}  // namespace lapora
