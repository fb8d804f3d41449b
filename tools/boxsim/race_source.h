// Where the simulator's detections come from: a generated race or a file to play.
// A source is used by the simulator's event-loop thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "box_clock.h"
#include "boxsim_options.h"

namespace lapora::boxsim {

// One line to send. Either a detection text (the simulator frames it as an "epc" line) or a
// whole box line written as given; `isRead` marks lines that carry a read, `payload` its text.
struct SourceItem {
  bool wholeLine = false;
  std::string text;
  bool isRead = true;
  std::string payload;
};

class CDetectionSource {
 public:
  virtual ~CDetectionSource() = default;
  virtual bool Done() const = 0;
  virtual int64_t Total() const = 0;
  // Milliseconds after the race start at which the next read happens; -1 when the source has
  // no timing of its own.
  virtual int64_t NextOffsetMs() const = 0;
  // Fills the next item; `raceStartBoxMs` is the box clock time of the race start.
  virtual void Next(int64_t raceStartBoxMs, SourceItem& out) = 0;
};

// Runners crossing a line lap after lap; every read of a lap is sent in time order.
class CRaceSource : public CDetectionSource {
 public:
  explicit CRaceSource(const Options& options);

  bool Done() const override { return m_next >= m_total; }
  int64_t Total() const override { return m_total; }
  int64_t NextOffsetMs() const override;
  void Next(int64_t raceStartBoxMs, SourceItem& out) override;

  // Writes "bib chip" lines, one per chip. False with a reason when the file cannot be written.
  [[nodiscard]] bool WriteChipTable(const std::string& path, std::string& error) const;

  static std::string ChipId(const std::string& prefix, int bib, int chipNumber);

 private:
  struct Entry {
    int64_t offsetMs;
    int chipIndex;  // into m_chips
  };
  int64_t OffsetOf(int64_t index) const;

  std::vector<std::string> m_chips;
  std::vector<int> m_bibs;
  std::vector<Entry> m_lap;
  int64_t m_lapMs = 0;
  int64_t m_total = 0;
  int64_t m_next = 0;
  CDetectionTimeFormatter m_formatter;
};

// The lines of a file, in order.
class CPlaySource : public CDetectionSource {
 public:
  // False with a reason when the file cannot be read.
  [[nodiscard]] bool Load(const std::string& path, int64_t count, std::string& error);

  bool Done() const override { return m_next >= m_items.size(); }
  int64_t Total() const override { return static_cast<int64_t>(m_items.size()); }
  int64_t NextOffsetMs() const override { return -1; }
  void Next(int64_t raceStartBoxMs, SourceItem& out) override;

 private:
  std::vector<SourceItem> m_items;
  size_t m_next = 0;
};

}  // namespace lapora::boxsim
