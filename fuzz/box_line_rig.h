// What the two box-line targets share: the byte stream a box sends, decoded from the fuzz
// input with the points where the transport receives it cut, the framing each transport must
// give (checked against every line it returns), and a box slot whose reading-loop step
// (classify, then act on the kind) every returned line goes through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "boxlink/box_protocol.h"
#include "boxlink/com_box.h"
#include "boxlink/ostra_box.h"
#include "detections/chip_table.h"
#include "detections/detection_intake.h"
#include "detections/recorded_detections.h"
#include "foundation/app_settings.h"
#include "foundation/chrono.h"
#include "foundation/clock.h"
#include "foundation/events.h"
#include "foundation/log.h"
#include "fuzz_support.h"

namespace lapora::fuzz {

// The input is a control byte, a seed byte and the stream. Control bits: 0-1 the log level
// (0, 50, 75, 100), 2 expand every 0x7F byte of the stream into 4096 'x' (reaches the
// overlong-line rules from small inputs), 3 the repeat filter off, 4 unknown chips refused.
// The seed sets how the stream is cut into the pieces the peer writes.
struct BoxStream {
  // Past this, 0x7F bytes stay as they are (three overlong lines fit below it).
  static constexpr std::size_t kMostExpanded = 3 * 2 * kMaxBoxLineBytes + 8192;

  int logLevel = 50;
  bool ignoreUnknownChips = false;
  bool repeatFilter = true;
  std::string bytes;
  std::vector<std::size_t> pieces;  // lengths, adding up to bytes.size()

  static BoxStream Decode(const std::uint8_t* data, std::size_t size) {
    BoxStream stream;
    if (size < 2) {
      return stream;
    }
    const std::uint8_t control = data[0];
    const std::uint8_t seed = data[1];
    static constexpr int kLevels[4] = {0, 50, 75, 100};
    stream.logLevel = kLevels[control & 3];
    const bool expand = (control & 4) != 0;
    stream.repeatFilter = (control & 8) == 0;
    stream.ignoreUnknownChips = (control & 16) != 0;
    for (std::size_t i = 2; i < size; ++i) {
      char c = static_cast<char>(data[i]);
      if (expand && data[i] == 0x7F && stream.bytes.size() < kMostExpanded) {
        stream.bytes.append(4096, 'x');
      } else {
        stream.bytes.push_back(c);
      }
    }
    // Piece lengths from 1 to 2^(seed % 16), drawn by a small generator of the seed.
    std::uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    const std::size_t most = std::size_t{1} << (seed % 16);
    std::size_t left = stream.bytes.size();
    while (left > 0) {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      std::size_t piece = 1 + static_cast<std::size_t>(state % most);
      piece = piece < left ? piece : left;
      stream.pieces.push_back(piece);
      left -= piece;
    }
    return stream;
  }
};

// The lines a transport must return for a stream that ends with the connection, each as the
// transport hands it over, and whether the transport may drop it for its length.
struct ExpectedLine {
  std::string text;
  bool mayBeDropped = false;
  bool mustBeDropped = false;
};

// TCP: a line ends at a line feed (dropped) or a ";" (kept); an unfinished last line is lost
// with the connection. A line longer than the limit may be skipped (depending on where the
// receives cut it), one beyond twice the limit always is.
inline std::vector<ExpectedLine> ExpectedTcpLines(const std::string& bytes) {
  std::vector<ExpectedLine> lines;
  std::string current;
  for (char c : bytes) {
    if (c != '\n' && c != ';') {
      current.push_back(c);
      continue;
    }
    ExpectedLine line;
    line.mayBeDropped = current.size() > kMaxBoxLineBytes;
    line.mustBeDropped = current.size() > 2 * kMaxBoxLineBytes;
    if (c == ';') {
      current.push_back(';');
    }
    line.text = std::move(current);
    current.clear();
    lines.push_back(std::move(line));
  }
  return lines;
}

// Serial: only a line feed ends a line, and it stays in the line; a line whose characters
// before the line feed are more than the limit is skipped whole, wherever the pieces fall.
inline std::vector<ExpectedLine> ExpectedSerialLines(const std::string& bytes) {
  std::vector<ExpectedLine> lines;
  std::string current;
  for (char c : bytes) {
    if (c != '\n') {
      current.push_back(c);
      continue;
    }
    ExpectedLine line;
    line.mustBeDropped = line.mayBeDropped = current.size() > kMaxBoxLineBytes;
    current.push_back('\n');
    line.text = std::move(current);
    current.clear();
    lines.push_back(std::move(line));
  }
  return lines;
}

// Follows the lines a transport returns through the expected ones.
class FramingCheck {
 public:
  explicit FramingCheck(std::vector<ExpectedLine> expected) : m_expected(std::move(expected)) {}

  void Returned(const std::string& line) {
    while (m_next < m_expected.size() && m_expected[m_next].text != line) {
      Check(m_expected[m_next].mayBeDropped, "a line was lost: expected \"" +
                                                 Shown(m_expected[m_next].text) + "\", got \"" +
                                                 Shown(line) + "\"");
      ++m_next;
    }
    Check(m_next < m_expected.size(), "a line came that was never sent: \"" + Shown(line) + "\"");
    Check(!m_expected[m_next].mustBeDropped, "an overlong line was returned");
    ++m_next;
  }

  void Ended() {
    for (; m_next < m_expected.size(); ++m_next) {
      Check(m_expected[m_next].mayBeDropped,
            "a line was never returned: \"" + Shown(m_expected[m_next].text) + "\"");
    }
  }

  std::size_t Count() const { return m_expected.size(); }

 private:
  static std::string Shown(const std::string& text) {
    return text.size() > 80 ? text.substr(0, 80) + "..." : text;
  }

  std::vector<ExpectedLine> m_expected;
  std::size_t m_next = 0;
};

// A box slot with the real intake, chip table and recorded detections behind it.
class BoxLineRig {
 public:
  BoxLineRig()
      : m_log(m_events),
        m_records(m_log),
        m_intake(m_log, m_events, m_settings, nullptr, SystemClock(), m_chipTable, m_records,
                 nullptr),
        m_services{m_log, m_events, m_settings, SystemClock(), m_intake, m_shared, nullptr} {
    m_log.SetPostingEnabled(true);
    // The table of the seeds' chips: some reads are translated, others are not.
    (void)m_chipTable.AddChipEntry("E2003412000000000000007B", 123);
    (void)m_chipTable.AddChipEntry("E20034120000000000000001", 1);
    (void)m_chipTable.AddChipEntry("abc", 7);
    // The seeds' race days: today and the day their detections were made on.
    m_settings.SetRaceDayDates({TodayCompact(), "20120513", "20120514", DateFromToday(3)});
  }

  void Configure(const BoxStream& stream) {
    m_log.SetLevel(stream.logLevel);
    m_settings.GVarnexIgnoreInputMsDelta = stream.repeatFilter ? 50 : 0;
    m_settings.GVarnexIgnoreUnknownTags = stream.ignoreUnknownChips ? 1 : 0;
    m_settings.GVarnexBeepDetections = 0;
  }

  // A new box slot on this transport (its own protocol state and last detections).
  std::unique_ptr<COstraBox> NewBox(std::unique_ptr<CComBox> transport) {
    auto box = std::make_unique<COstraBox>(m_services, 1);
    box->SetTransport(std::move(transport));
    box->SetDeviceId("57");
    m_counters.Reset();
    return box;
  }

  // One step of the box thread's reading loop for a line the transport returned.
  void HandleLine(COstraBox& box, std::string& line) {
    if (line.find_first_not_of(" \t\r\n\v\f") == std::string::npos) {
      return;  // a blank line carries nothing
    }
    BoxMessageKind kind;
    if (ClassifyBoxLine(m_log, line, &kind, &m_deviceId, &m_keyword, &m_payload)) {
      Check(kind != BoxMessageKind::kNone, "a recognised line without a kind");
      Check(EqualsNoCase(m_keyword, BoxMessageKeyword(kind)), "the kind is not the keyword's");
      HandleBoxMessage(box, "Box 1 [fuzz]", kind, line, m_payload, SystemClock().TickMs(),
                       m_counters);
    } else {
      Check(m_deviceId.empty() && m_keyword.empty() && m_payload.empty(),
            "a refused line left its fields behind");
    }
    DrainEvents(m_events, m_log);
  }

  // Forgets what the lines recorded, so that nothing grows from one input to the next.
  void Reset() {
    DrainEvents(m_events, m_log);
    m_records.ClearRecords();
  }

  Logger& Log() { return m_log; }
  AppSettings& Settings() { return m_settings; }

 private:
  EventQueue m_events;
  Logger m_log;
  AppSettings m_settings;
  CChipTable m_chipTable;
  CRecordedDetections m_records;
  DetectionIntake m_intake;
  CBoxLinkShared m_shared;
  BoxLinkServices m_services;
  BoxThreadCounters m_counters;
  std::string m_deviceId;
  std::string m_keyword;
  std::string m_payload;
};

}  // namespace lapora::fuzz
