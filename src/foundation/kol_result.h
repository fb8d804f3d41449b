// The detection record and the detections-list item: plain value types that cross threads
// (box threads make them, the main thread shows them). Copying is the only way to share them.
#pragma once

#include <cstdint>
#include <string>

namespace lapora {

// One recorded detection. The id is given by the recorded detection list that makes it.
struct CKolResult {
  std::string bibText;
  std::string timeText;
  std::string detectorLabel;
  std::int32_t kindMarker = 0;  // 0: time-of-day time text; non-zero: absolute time text
  std::int32_t reserved1 = 1;
  std::int32_t reserved2 = 0;
  std::int32_t valid = 1;
  std::int32_t id = 0;

  bool operator==(const CKolResult&) const = default;
};

// An entry of the main window's detections list: its display text and a copy of the record.
struct CLogDetectionItem {
  std::string text;
  CKolResult record;
};

// An entry of the main window's detections information list, made from a runner result of
// the results software: error is 1 when the result carries a status text instead of ranks.
struct CSummaryItem {
  std::string nameText;
  std::int32_t bib = 0;
  std::string timeText;
  std::string passText;
  std::string resultText;
  std::int32_t error = 0;

  bool operator==(const CSummaryItem&) const = default;
};

}  // namespace lapora
