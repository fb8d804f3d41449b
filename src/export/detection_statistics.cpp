#include "export/detection_statistics.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "detections/recorded_detections.h"
#include "foundation/text.h"
#include "platform/atomic_file.h"
#include "resources/messages_export.h"

namespace lapora {

namespace {

int CompareTexts(const std::string& a, const std::string& b) {
  int order = a.compare(b);  // byte order, as strcmp
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

int CompareTimes(const CChrono& a, const CChrono& b) {
  if (a < b) {
    return -1;
  }
  return a > b ? 1 : 0;
}

bool SameRunner(const CWorkResult& a, const CWorkResult& b) {
  return a.RunnerKey() == b.RunnerKey();
}

int CompareByRunnerThenTime(const CWorkResult& a, const CWorkResult& b) {
  int order = CompareTexts(a.RunnerKey(), b.RunnerKey());
  if (order != 0) {
    return order;
  }
  order = CompareTimes(a.time, b.time);
  return order != 0 ? order : CompareTexts(a.bibText, b.bibText);
}

// The sorts below order up to a million detections: comparing through the pointers costs a
// cache miss or two per comparison. They sort copies of the compared fields instead, packed
// into integers that order as the fields do, and read the detections only when two packed
// texts agree but are too long to tell apart. Every comparison gives the comparator's answer,
// so the order is the one the comparator alone would give, ties included.

// The first 7 bytes of a text (unsigned, zero-padded), then its length, or 0xFF when it is
// longer: a text that is a prefix of another packs lower, as it compares. Equal packed values
// are equal texts unless the length byte is 0xFF.
std::uint64_t PackText(const std::string& text) {
  std::uint64_t packed = 0;
  for (std::size_t i = 0; i < 7; ++i) {
    packed = (packed << 8) | (i < text.size() ? static_cast<unsigned char>(text[i]) : 0u);
  }
  return (packed << 8) | (text.size() <= 7 ? text.size() : 0xFFu);
}

bool PackedTextIsWhole(std::uint64_t packed) {
  return (packed & 0xFFu) != 0xFFu;
}

// CChrono's order: set times by seconds then milliseconds, an unset time after them all.
std::int64_t PackTime(const CChrono& time) {
  if (!time.IsSet()) {
    return std::numeric_limits<std::int64_t>::max();
  }
  return static_cast<std::int64_t>(time.Seconds()) * 65536 + time.Millis();
}

// The compared fields of one detection: a first text (the same for all in a time sort), the
// time, then the bib text.
struct SortItem {
  std::uint64_t first;
  std::int64_t time;
  std::uint64_t bib;
  const CWorkResult* work;
};

const std::string& RunnerKeyOf(const CWorkResult& work) {
  return work.RunnerKey();
}

template <int (*Compare)(const CWorkResult&, const CWorkResult&),
          const std::string& (*First)(const CWorkResult&) = nullptr>
void SortBy(CWorkResultList& list) {
  std::vector<SortItem> items;
  items.reserve(list.size());
  for (const CWorkResult* work : list) {
    std::uint64_t first = 0;
    if constexpr (First != nullptr) {
      first = PackText(First(*work));
    }
    items.push_back({first, PackTime(work->time), PackText(work->bibText), work});
  }
  std::sort(items.begin(), items.end(), [](const SortItem& a, const SortItem& b) {
    if (a.first != b.first) {
      return a.first < b.first;
    }
    if (!PackedTextIsWhole(a.first)) {
      return Compare(*a.work, *b.work) < 0;
    }
    if (a.time != b.time) {
      return a.time < b.time;
    }
    if (a.bib != b.bib) {
      return a.bib < b.bib;
    }
    return !PackedTextIsWhole(a.bib) && Compare(*a.work, *b.work) < 0;
  });
  for (std::size_t i = 0; i < items.size(); ++i) {
    list[i] = items[i].work;
  }
}

// Calls fn(begin, end) for each run of consecutive elements of one runner.
template <typename Fn>
void ForEachRunner(const CWorkResultList& sorted, Fn&& fn) {
  std::size_t begin = 0;
  while (begin < sorted.size()) {
    std::size_t end = begin + 1;
    while (end < sorted.size() && SameRunner(*sorted[end - 1], *sorted[end])) {
      ++end;
    }
    fn(begin, end);
    begin = end;
  }
}

void SetError(std::string* error, const Message& message) {
  if (error != nullptr) {
    *error = Tr(message);
  }
}

const CWorkResult& Element(const CWorkResult* work) {
  return *work;
}

// The text of a file is written in pieces of about this size: the export of all detections
// would otherwise hold its whole text, tens of megabytes, beside the detections.
constexpr std::size_t kWritePiece = 1 << 20;

// The writers' common part: composes the header of the compact form, then one line per valid
// element, numbered from 1, and puts the file in place whole: written under a temporary name
// beside it and renamed, so that a reader (an upload of the previous export, another program)
// sees the old file or the new one, never a part. False when the file could not be written
// (the old file is then left as it was, and no temporary file stays).
template <typename List, typename LineFn>
bool WriteExportFile(const std::string& path, const List& detections, bool compact, LineFn&& line) {
  // Export files are made again at every export: readers need them whole, not synced.
  return WriteFileInPieces(
      path,
      [&](const PieceWriter& write) {
        std::string text;
        if (compact) {
          text =
              "dossard\ttemps\tcommentaire\r\n"
              "dossard\tperformancen\tcommentaire\r\n";
        }
        int number = 0;
        for (const auto& element : detections) {
          const auto& detection = Element(element);
          if (detection.valid == 0) {
            continue;
          }
          line(text, ++number, detection);
          if (text.size() >= kWritePiece) {
            if (!write(text)) {
              return false;
            }
            text.clear();
          }
        }
        return write(text);
      },
      nullptr, FileRights::kKeep, FileDurability::kWhole);
}

void AppendCompactLine(std::string& text, const std::string& bib, const std::string& time) {
  text += bib;
  text += '\t';
  text += time;
  text += "\t\r\n";
}

}  // namespace

CWorkResult CWorkResult::FromRecord(const CKolResult& record) {
  CWorkResult work;
  static_cast<CKolResult&>(work) = record;
  std::size_t bibEnd = 0;
  int number = 0;
  if (ScanInt(record.bibText, &bibEnd, &number, IntOverflow::kRefuse)) {
    work.bibNumber = number;
    std::string key = std::to_string(work.bibNumber);
    if (key != record.bibText) {
      work.m_runnerKey = std::move(key);
    }
  } else {
    work.bibNumber = 0;
  }
  CChrono time;
  if (time.ParseTimeHundredths(record.timeText)) {
    work.time = time;
  }
  return work;
}

int CompareByBibThenTime(const CWorkResult& a, const CWorkResult& b) {
  int order = CompareTexts(a.bibText, b.bibText);
  return order != 0 ? order : CompareTimes(a.time, b.time);
}

int CompareByTimeThenBib(const CWorkResult& a, const CWorkResult& b) {
  int order = CompareTimes(a.time, b.time);
  return order != 0 ? order : CompareTexts(a.bibText, b.bibText);
}

int CompareByDetectorThenTime(const CWorkResult& a, const CWorkResult& b) {
  int order = CompareTexts(a.detectorLabel, b.detectorLabel);
  if (order != 0) {
    return order;
  }
  order = CompareTimes(a.time, b.time);
  return order != 0 ? order : CompareTexts(a.bibText, b.bibText);
}

CWorkResultList ListOf(const CWorkSnapshot& snapshot) {
  CWorkResultList list;
  list.reserve(snapshot.size());
  for (const CWorkResult& work : snapshot) {
    list.push_back(&work);
  }
  return list;
}

void SnapshotDetections(CRecordedDetections& records, const std::string& detectorFilter,
                        CWorkSnapshot& out) {
  bool all = detectorFilter.empty() || detectorFilter == "*";
  records.WithLock([&](CRecordedDetections::Locked& locked) {
    if (all) {
      out.reserve(out.size() + static_cast<std::size_t>(locked.CountValidRecords()));
    }
    for (const CKolResult& record : locked.Records()) {
      if (record.valid == 0 || (!all && record.detectorLabel != detectorFilter)) {
        continue;
      }
      out.push_back(CWorkResult::FromRecord(record));
    }
  });
}

bool SnapshotDetectionsInSlices(CRecordedDetections& records, const std::string& detectorFilter,
                                CWorkSnapshot& out, std::size_t slice,
                                const SnapshotProgress& progress) {
  const bool all = detectorFilter.empty() || detectorFilter == "*";
  const std::size_t kept = out.size();
  slice = std::max<std::size_t>(slice, 1);
  std::size_t total = 0;  // the records there when the walk starts
  std::size_t valid = 0;  // the valid ones among them then
  std::size_t next = 0;
  std::int32_t lastId = 0;  // of the record before `next`: it is still there unless reset
  bool reset = false;       // or stopped
  // Under the lock a slice of records is only copied; their bibs and times are read once it
  // is released. A thread waiting for the lock then finds it free while this one reads: were
  // the lock taken again at once, a waiter woken by its release would keep finding it taken.
  std::vector<CKolResult> copied;
  copied.reserve(slice);
  do {
    copied.clear();
    records.WithLock([&](CRecordedDetections::Locked& locked) {
      const std::vector<CKolResult>& list = locked.Records();
      if (next == 0) {
        total = list.size();
        valid = static_cast<std::size_t>(locked.CountValidRecords());
      } else if (list.size() < next || list[next - 1].id != lastId) {
        reset = true;
        return;
      }
      const std::size_t end = std::min(total, next + slice);
      for (; next < end; ++next) {
        const CKolResult& record = list[next];
        if (record.valid != 0 && (all || record.detectorLabel == detectorFilter)) {
          copied.push_back(record);
        }
      }
      if (next > 0) {
        lastId = list[next - 1].id;
      }
    });
    if (reset) {
      break;
    }
    if (out.size() == kept && all) {
      out.reserve(kept + valid);
    }
    for (const CKolResult& record : copied) {
      out.push_back(CWorkResult::FromRecord(record));
    }
    if (progress && !progress(next, total)) {
      reset = true;
      break;
    }
  } while (next < total);
  if (reset) {
    out.erase(out.begin() + static_cast<std::ptrdiff_t>(kept), out.end());
    return false;
  }
  return true;
}

std::vector<CStatLineEntry> GroupByDetector(const CWorkResultList& detections, std::string* error) {
  std::vector<CStatLineEntry> lines;
  if (detections.empty()) {
    return lines;
  }
  try {
    // One pass instead of a sort of the whole list: a detector's line only needs its count and
    // its first detection in (time, bib) order, which is what the sort would put first. Among
    // detections equal in both the sort gave any of them; this gives the first in list order.
    struct Group {
      std::int32_t count = 0;
      const CWorkResult* first = nullptr;
    };
    std::unordered_map<std::string_view, std::size_t> index;
    std::vector<std::pair<std::string_view, Group>> groups;
    std::size_t last = 0;
    for (const CWorkResult* work : detections) {
      // Detections come mostly in runs of one detector, or a few detectors in turn.
      if (groups.empty() || groups[last].first != work->detectorLabel) {
        auto [at, added] = index.try_emplace(work->detectorLabel, groups.size());
        if (added) {
          groups.emplace_back(work->detectorLabel, Group{});
        }
        last = at->second;
      }
      Group& group = groups[last].second;
      ++group.count;
      if (group.first == nullptr || CompareByTimeThenBib(*work, *group.first) < 0) {
        group.first = work;
      }
    }
    std::sort(groups.begin(), groups.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    lines.reserve(groups.size());
    for (const auto& [label, group] : groups) {
      CStatLineEntry line;
      line.count = group.count;
      line.label = std::string(label);
      line.bestBib = group.first->bibText;
      line.bestTime = group.first->time;
      lines.push_back(std::move(line));
    }
  } catch (const std::bad_alloc&) {
    SetError(error, kMsgNoMemoryToGroup);
    lines.clear();
  }
  return lines;
}

PassStatistics ComputePassStatistics(const CWorkResultList& detections, const CChrono& minimumGap,
                                     CWorkResultList& kept, std::string* error) {
  PassStatistics statistics;
  if (detections.empty()) {
    return statistics;
  }
  try {
    CWorkResultList sorted = detections;
    SortBy<CompareByRunnerThenTime, RunnerKeyOf>(sorted);
    // Within a runner, each detection is compared with the one just before it, kept or not:
    // passages 5 s apart under a 6 s gap collapse into the first one.
    std::vector<bool> keep(sorted.size(), true);
    for (std::size_t i = 1; i < sorted.size(); ++i) {
      if (SameRunner(*sorted[i - 1], *sorted[i]) &&
          sorted[i]->time <= sorted[i - 1]->time + minimumGap) {
        keep[i] = false;
      }
    }
    ForEachRunner(sorted, [&](std::size_t begin, std::size_t end) {
      ++statistics.runners;
      auto passes =
          static_cast<std::int32_t>(std::count(keep.begin() + begin, keep.begin() + end, true));
      statistics.maxPasses = std::max(statistics.maxPasses, passes);
    });
    statistics.entries.resize(statistics.maxPasses);
    for (std::int32_t i = 0; i < statistics.maxPasses; ++i) {
      statistics.entries[i].passNumber = i + 1;
    }
    CWorkResultList keptInOrder;
    ForEachRunner(sorted, [&](std::size_t begin, std::size_t end) {
      std::int32_t passes = 0;
      for (std::size_t i = begin; i < end; ++i) {
        if (!keep[i]) {
          continue;
        }
        CStatEntry& entry = statistics.entries[passes++];
        // Ties keep the runner that came first in bib order.
        if (!entry.bestTime.IsSet() || sorted[i]->time < entry.bestTime) {
          entry.bestTime = sorted[i]->time;
          entry.bestBib = sorted[i]->bibText;
        }
        keptInOrder.push_back(sorted[i]);
      }
      ++statistics.entries[passes - 1].runnersExactly;
    });
    std::int32_t atLeast = 0;
    for (std::int32_t i = statistics.maxPasses - 1; i >= 0; --i) {
      atLeast += statistics.entries[i].runnersExactly;
      statistics.entries[i].runnersAtLeast = atLeast;
    }
    SortBy<CompareByTimeThenBib>(keptInOrder);
    kept.insert(kept.end(), keptInOrder.begin(), keptInOrder.end());
  } catch (const std::bad_alloc&) {
    SetError(error, kMsgNoMemoryToSort);
    return PassStatistics{};
  }
  return statistics;
}

std::vector<CWorkResultList> ExtractPassages(const CWorkResultList& kept, std::string* error) {
  std::vector<CWorkResultList> passages;
  if (kept.empty()) {
    return passages;
  }
  try {
    // One sort by runner for all passage numbers: the lists are then filled in runner order
    // and each sorted by time, so every list is the one a sort for its own number would give.
    CWorkResultList sorted = kept;
    SortBy<CompareByRunnerThenTime, RunnerKeyOf>(sorted);
    ForEachRunner(sorted, [&](std::size_t begin, std::size_t end) {
      if (end - begin > passages.size()) {
        passages.resize(end - begin);
      }
      for (std::size_t i = begin; i < end; ++i) {
        passages[i - begin].push_back(sorted[i]);
      }
    });
    for (CWorkResultList& passage : passages) {
      SortBy<CompareByTimeThenBib>(passage);
    }
  } catch (const std::bad_alloc&) {
    SetError(error, kMsgNoMemoryToSort);
    passages.clear();
  }
  return passages;
}

bool WriteDetectionLines(const std::string& path, const CWorkResultList& detections, bool compact) {
  return WriteExportFile(path, detections, compact,
                         [compact](std::string& text, int number, const CWorkResult& work) {
                           if (!compact) {
                             text += FormatDetectionLine(number, work);
                             return;
                           }
                           CChrono time;
                           std::string compactTime;
                           if (time.ParseTimeHundredths(work.timeText)) {
                             compactTime = time.FormatCompact();
                           }
                           AppendCompactLine(text, work.bibText, compactTime);
                         });
}

bool WriteShiftedDetectionLines(const std::string& path, const CWorkResultList& detections,
                                const CChrono& handicap, bool compact) {
  return WriteExportFile(
      path, detections, compact,
      [compact, &handicap](std::string& text, int number, const CWorkResult& work) {
        CChrono time;
        bool read = time.ParseTimeHundredths(work.timeText);
        if (compact) {
          AppendCompactLine(text, work.bibText, read ? (time - handicap).FormatCompact() : "");
          return;
        }
        CKolResult shifted = work;
        if (read) {
          shifted.timeText = (time - handicap).FormatHundredths();
        }
        text += FormatDetectionLine(number, shifted);
      });
}

}  // namespace lapora
