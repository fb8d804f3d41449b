#include "detections/detection_intake.h"
#include "detections/piece_format.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "foundation/app_settings.h"
#include "foundation/clock.h"
#include "foundation/events.h"
#include "foundation/log.h"
#include "foundation/sound.h"
#include "foundation/text.h"
#include "resources/messages_detections.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

using testing::ReadFile;
using testing::TempDir;

constexpr const char* kConnection = "[10.0.0.5:10000 FIN]";

// The results link's side of the intake: keeps what was offered, and what the incoming file
// held at that moment.
class KeepingPusher : public DetectionPusher {
 public:
  explicit KeepingPusher(std::string filePath) : m_filePath(std::move(filePath)) {}
  void PushDetection(const CKolResult& record) override {
    std::lock_guard lock(m_mutex);
    m_pushed.push_back(record);
    m_fileAtPush.push_back(ReadFile(m_filePath));
  }
  std::vector<CKolResult> Pushed() {
    std::lock_guard lock(m_mutex);
    return m_pushed;
  }
  std::vector<std::string> FileAtPush() {
    std::lock_guard lock(m_mutex);
    return m_fileAtPush;
  }

 private:
  std::string m_filePath;
  std::mutex m_mutex;
  std::vector<CKolResult> m_pushed;
  std::vector<std::string> m_fileAtPush;
};

// No audio device on a test machine: the sounds asked for are kept instead.
class KeepingSound : public SoundPlayer {
 public:
  bool PlaySoundResource(int soundId) override {
    played.push_back(soundId);
    return true;
  }
  std::vector<int> played;
};

// "2012-05-13_10:23:45.120,chip" with the time moved by offsetMs.
std::string DetectionText(const std::string& chip, int offsetMs = 0,
                          const std::string& date = "2012-05-13") {
  int total = 37425120 + offsetMs;
  return StrF("%s_%02d:%02d:%02d.%03d,%s", date.c_str(), total / 3600000, total / 60000 % 60,
              total / 1000 % 60, total % 1000, chip.c_str());
}

class DetectionIntakeTest : public ::testing::Test {
 protected:
  DetectionIntakeTest() {
    m_log.SetPostingEnabled(true);
    m_settings.SetRaceDayDates({"20120513", "20120514", "20120515", "20120516"});
    EXPECT_TRUE(m_chips.AddChipEntry("E2003412", 123));
    m_records.OpenDetectionFile(m_filePath);
    Drain();
  }

  // Parses and records one detection text: 1 recorded, 0 ignored, -1 invalid.
  int Feed(const std::string& text) {
    std::string chip;
    std::string bib;
    std::string message;
    CChrono absTime;
    CChrono raceTime;
    if (!m_intake.ParseDetection(text, chip, bib, absTime, raceTime, message)) {
      m_lastMessage = message;
      return -1;
    }
    return m_intake.RecordDetection(m_box, chip, bib, absTime, raceTime);
  }

  // Handles the pending events, keeping them by kind, once the recorded lines are written.
  void Drain() {
    EXPECT_TRUE(m_records.FlushDetectionFile());
    m_events.Dispatch([&](const Event& event) {
      if (const auto* line = std::get_if<LogLineEvent>(&event)) {
        m_logs.push_back(*line);
      } else if (const auto* item = std::get_if<DetectionItemEvent>(&event)) {
        m_items.push_back(item->item);
      } else if (std::holds_alternative<RefreshRequestEvent>(event)) {
        ++m_refreshes;
      }
    });
  }
  bool Logged(int level, const std::string& text) {
    Drain();
    for (const LogLineEvent& line : m_logs) {
      if (line.level == level && line.text == text) {
        return true;
      }
    }
    return false;
  }
  std::string Label() const { return StrF(Tr(kMsgIntakeBoxLabel).c_str(), 1, kConnection); }

  TempDir m_dir;
  std::string m_filePath = m_dir.File("incoming.dat");
  EventQueue m_events;
  Logger m_log{m_events};
  AppSettings m_settings;
  KeepingSound m_sound;
  ManualClock m_clock{0, 1000};
  CChipTable m_chips;
  CRecordedDetections m_records{m_log};
  KeepingPusher m_pusher{m_filePath};
  DetectionIntake m_intake{m_log,   m_events, m_settings, &m_sound,
                           m_clock, m_chips,  m_records,  &m_pusher};
  CTemporaryIntakeBox m_box{1, kConnection, "FIN"};

  std::string m_lastMessage;
  std::vector<LogLineEvent> m_logs;
  std::vector<CLogDetectionItem> m_items;
  int m_refreshes = 0;
};

TEST_F(DetectionIntakeTest, TranslatedDetectionIsRecordedEverywhere) {
  std::string chip;
  std::string bib;
  std::string message;
  CChrono absTime;
  CChrono raceTime;
  ASSERT_TRUE(m_intake.ParseDetection("2012-05-13_10:23:45.120,E2003412", chip, bib, absTime,
                                      raceTime, message));
  EXPECT_EQ(chip, "E2003412");
  EXPECT_EQ(bib, "123");
  EXPECT_EQ(raceTime, CChrono(37425, 120));
  EXPECT_TRUE(absTime.IsSet());
  EXPECT_EQ(absTime.Millis(), 120);
  EXPECT_TRUE(message.empty());

  EXPECT_EQ(m_intake.RecordDetection(m_box, chip, bib, absTime, raceTime), 1);
  EXPECT_TRUE(Logged(
      0, StrF(Tr(kMsgDetectionRecved).c_str(), Label().c_str(), "10:23:45.12", "123", "E2003412")));
  std::vector<CKolResult> records = m_records.Snapshot();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].bibText, "123");
  EXPECT_EQ(records[0].timeText, "10:23:45.12");
  EXPECT_EQ(records[0].detectorLabel, "FIN");
  EXPECT_EQ(m_pusher.Pushed(), records);
  // Offered to the results software only once its line was in the file.
  EXPECT_EQ(m_pusher.FileAtPush(), std::vector<std::string>{"1\tFIN\t123\t1\t10:23:45.12\t1\r\n"});
  EXPECT_EQ(ReadFile(m_filePath), "1\tFIN\t123\t1\t10:23:45.12\t1\r\n");
  EXPECT_EQ(m_refreshes, 1);
  ASSERT_EQ(m_items.size(), 1u);
  EXPECT_EQ(m_items[0].text, std::string("10:23:46\t") + kConnection + "\t# 123");
  EXPECT_EQ(m_items[0].record, records[0]);
  EXPECT_EQ(m_sound.played, std::vector<int>{kSoundDetection});
}

TEST_F(DetectionIntakeTest, RaceDaysAddTwentyFourHoursEach) {
  EXPECT_EQ(Feed(DetectionText("E2003412", 0, "2012-05-14")), 1);
  EXPECT_EQ(Feed(DetectionText("E2003412", 0, "2012-5-16")), 1);
  std::vector<CKolResult> records = m_records.Snapshot();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].timeText, "34:23:45.12");
  EXPECT_EQ(records[1].timeText, "82:23:45.12");
  Drain();
  ASSERT_GE(m_items.size(), 1u);
  EXPECT_EQ(m_items[0].text, std::string("+24h 10:23:46\t") + kConnection + "\t# 123");
}

TEST_F(DetectionIntakeTest, DateOfNoRaceDayIsCautionedAndRecorded) {
  EXPECT_EQ(Feed(DetectionText("E2003412", 0, "2012-06-01")), 1);
  EXPECT_TRUE(Logged(0, StrF(Tr(kMsgDatesIncompatible).c_str(), "20120601")));
  EXPECT_EQ(m_records.Snapshot().at(0).timeText, "10:23:45.12");
}

TEST_F(DetectionIntakeTest, MalformedTextsAreInvalid) {
  struct Case {
    std::string text;
    std::string message;
  };
  const std::string format = Tr(kMsgInvalidDetectionFormat);
  const std::string date = Tr(kMsgInvalidDateFormat);
  const std::string longChip = "2012-05-13_10:23:45.120," + std::string(256, 'E');
  const Case cases[] = {
      {"2012-05-13 10:23:45.120,E2003412",
       StrF(format.c_str(), "2012-05-13 10:23:45.120,E2003412")},
      {"2012-05-13_10:23:45.120 E2003412",
       StrF(format.c_str(), "2012-05-13_10:23:45.120 E2003412")},
      {"_10:23:45.120,E1", StrF(format.c_str(), "_10:23:45.120,E1")},
      {"2012-05-13_,E1", StrF(format.c_str(), "2012-05-13_,E1")},
      {"2012-05-13_10:23:45.120,  ", StrF(format.c_str(), "2012-05-13_10:23:45.120,  ")},
      {longChip, StrF(format.c_str(), longChip.c_str())},
      {"2012-05_10:23:45.120,E1", StrF(date.c_str(), "2012 05")},
      {"ab-cd-ef_10:23:45.120,E1", StrF(date.c_str(), "ab cd ef")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Feed(c.text), -1);
    EXPECT_EQ(m_lastMessage, c.message);
  }
  EXPECT_EQ(m_records.RecordCount(), 0u);
}

TEST_F(DetectionIntakeTest, ChipRunsToTheFirstBlankAndBadTimesStayUnset) {
  std::string chip;
  std::string bib;
  std::string message;
  CChrono absTime;
  CChrono raceTime(5, 5);
  ASSERT_TRUE(m_intake.ParseDetection("2012-05-13_nonsense,A,B trailing", chip, bib, absTime,
                                      raceTime, message));
  EXPECT_EQ(chip, "A,B");
  EXPECT_EQ(bib, "A,B");
  EXPECT_FALSE(absTime.IsSet());
  EXPECT_FALSE(raceTime.IsSet());
}

TEST_F(DetectionIntakeTest, UnknownChips) {
  // Table holding entries, unknown chips kept: the chip is the bib.
  EXPECT_EQ(Feed(DetectionText("FFFF")), 1);
  EXPECT_EQ(m_records.Snapshot().back().bibText, "FFFF");

  m_settings.GVarnexIgnoreUnknownTags = 1;
  EXPECT_EQ(Feed(DetectionText("EEEE", 100)), -1);
  EXPECT_EQ(m_lastMessage, StrF(Tr(kMsgUnknownChip).c_str(), "EEEE"));
  EXPECT_EQ(Feed(DetectionText("e2003412", 200)), 1);  // found without regard to case
  EXPECT_EQ(m_records.Snapshot().back().bibText, "123");

  // Empty table: nothing is unknown.
  m_chips.ClearChipTable();
  EXPECT_EQ(Feed(DetectionText("EEEE", 300)), 1);
  EXPECT_EQ(m_records.Snapshot().back().bibText, "EEEE");
}

TEST_F(DetectionIntakeTest, RepeatsWithinTheDelayAreIgnoredAndRenewTheTime) {
  m_settings.GVarnexIgnoreInputMsDelta = 50;
  EXPECT_EQ(Feed(DetectionText("E2003412", 0)), 1);
  EXPECT_EQ(Feed(DetectionText("E2003412", 0)), 0);   // same absolute time
  EXPECT_EQ(Feed(DetectionText("E2003412", 30)), 0);  // 30 ms later
  EXPECT_EQ(Feed(DetectionText("E2003412", 70)), 0);  // 40 ms after the previous read
  EXPECT_EQ(Feed(DetectionText("E2003412", 120)), 1);
  EXPECT_EQ(Feed(DetectionText("E2003412", -5000)), 1);  // box clock set back
  EXPECT_EQ(Feed(DetectionText("OTHER", -4990)), 1);     // another bib
  EXPECT_EQ(m_records.RecordCount(), 4u);
  EXPECT_TRUE(Logged(75, StrF(Tr(kMsgDetectionIgnored).c_str(), Label().c_str())));
  int ignoredLines = 0;
  for (const LogLineEvent& line : m_logs) {
    ignoredLines += line.text == StrF(Tr(kMsgDetectionIgnored).c_str(), Label().c_str()) ? 1 : 0;
  }
  EXPECT_EQ(ignoredLines, 3);
}

TEST_F(DetectionIntakeTest, NoDelayRecordsEveryRead) {
  m_settings.GVarnexIgnoreInputMsDelta = 0;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Feed(DetectionText("E2003412", 0)), 1);
  }
}

TEST_F(DetectionIntakeTest, DelaysOfASecondOrMoreCountTheirWholeLength) {
  m_settings.GVarnexIgnoreInputMsDelta = 1500;
  EXPECT_EQ(Feed(DetectionText("E2003412", 0)), 1);
  EXPECT_EQ(Feed(DetectionText("E2003412", 1200)), 0);
  EXPECT_EQ(Feed(DetectionText("E2003412", 2800)), 1);  // 1.6 s after the previous read
  EXPECT_EQ(Feed(DetectionText("E2003412", 3600)), 0);  // 0.8 s
  EXPECT_EQ(Feed(DetectionText("E2003412", 5100)), 1);  // exactly the delay
}

TEST_F(DetectionIntakeTest, FiftyFirstBibPushesTheOldestOut) {
  m_chips.ClearChipTable();
  m_settings.GVarnexIgnoreInputMsDelta = 5000;
  for (int i = 1; i <= 51; ++i) {
    ASSERT_EQ(Feed(DetectionText("B" + std::to_string(i), i)), 1);
  }
  EXPECT_EQ(m_box.LastDetections().Count(), 50u);
  EXPECT_EQ(Feed(DetectionText("B1", 100)), 1);  // forgotten: recorded whatever the delay
  EXPECT_EQ(Feed(DetectionText("B3", 101)), 0);  // still remembered
}

TEST_F(DetectionIntakeTest, AbsoluteClockRecords) {
  m_settings.BAbsClock = 1;
  std::string chip;
  std::string bib;
  std::string message;
  CChrono absTime;
  CChrono raceTime;
  ASSERT_TRUE(m_intake.ParseDetection("2012-05-13_10:23:45.050,E2003412", chip, bib, absTime,
                                      raceTime, message));
  ASSERT_EQ(m_intake.RecordDetection(m_box, chip, bib, absTime, raceTime), 1);
  std::string timeText = std::to_string(absTime.Seconds()) + ".5";
  EXPECT_EQ(m_records.Snapshot().at(0).timeText, timeText);
  EXPECT_EQ(m_records.Snapshot().at(0).kindMarker, 1);
  ASSERT_TRUE(m_records.FlushDetectionFile());
  EXPECT_EQ(ReadFile(m_filePath), "1\tFIN\t123\t1\t" + timeText + "\t2\r\n");
}

TEST_F(DetectionIntakeTest, SwitchesAndMissingPartsAreHonoured) {
  m_settings.BLogDetections = 0;
  m_settings.GVarnexBeepDetections = 0;
  EXPECT_EQ(Feed(DetectionText("E2003412", 0)), 1);
  Drain();
  EXPECT_TRUE(m_items.empty());
  EXPECT_TRUE(m_sound.played.empty());
  EXPECT_EQ(m_refreshes, 1);

  // Neither sound nor results link: recording still works.
  m_settings.GVarnexBeepDetections = 1;
  DetectionIntake bare(m_log, m_events, m_settings, nullptr, m_clock, m_chips, m_records, nullptr);
  std::string chip;
  std::string bib;
  std::string message;
  CChrono absTime;
  CChrono raceTime;
  ASSERT_TRUE(
      bare.ParseDetection(DetectionText("E2003412", 500), chip, bib, absTime, raceTime, message));
  EXPECT_EQ(bare.RecordDetection(m_box, chip, bib, absTime, raceTime), 1);
  EXPECT_EQ(m_records.RecordCount(), 2u);
  EXPECT_EQ(m_pusher.Pushed().size(), 1u);
}

TEST_F(DetectionIntakeTest, MeanTimeEveryTwoHundredLines) {
  m_settings.GVarnexIgnoreInputMsDelta = 50;
  const std::string prefix = "Box 1 [10.0.0.5:10000 FIN]";
  const std::string mean = Tr(kMsgMeanTime).substr(0, 6);
  BoxThreadCounters counters;
  std::uint64_t sum = 0;
  int invalid = 0;
  int ignored = 0;
  auto meanLines = [&] {
    Drain();
    std::vector<std::string> lines;
    for (const LogLineEvent& line : m_logs) {
      if (line.text.compare(0, mean.size(), mean) == 0) {
        lines.push_back(line.text);
      }
    }
    return lines;
  };
  for (int i = 1; i <= 400; ++i) {
    std::string payload;
    if (i % 10 == 0) {
      payload = "garbage";
      ++invalid;
    } else if (i % 10 == 5) {
      payload = DetectionText("E2003412", (i - 1) * 100 + 1);  // 1 ms after the previous read
      ++ignored;
    } else {
      payload = DetectionText("E2003412", i * 100);
    }
    std::uint64_t readTick = m_clock.TickMs();
    std::uint64_t elapsed = static_cast<std::uint64_t>(i % 7);
    m_clock.SetTickMs(readTick + elapsed);
    sum += elapsed;
    m_intake.HandleDetectionLine(m_box, prefix, payload, "raw " + payload, readTick, counters);
    if (i == 199) {
      EXPECT_TRUE(meanLines().empty());
    }
    if (i == 200 || i == 400) {
      EXPECT_EQ(counters.windowCount, 0u);
      EXPECT_EQ(counters.windowSumMs, 0u);
      std::vector<std::string> lines = meanLines();
      ASSERT_EQ(lines.size(), static_cast<std::size_t>(i / 200));
      EXPECT_EQ(lines.back(),
                StrF(Tr(kMsgMeanTime).c_str(), 200, static_cast<int>(sum / 200), ignored, invalid));
      sum = 0;
    }
  }
  EXPECT_EQ(counters.handled, 400);
  EXPECT_EQ(counters.invalid, 40);
  EXPECT_EQ(counters.ignored, 40);
  EXPECT_EQ(counters.recorded, 320);
  EXPECT_TRUE(Logged(0, StrF(Tr(kMsgPrefixedMessage).c_str(), prefix.c_str(),
                             StrF(Tr(kMsgInvalidDetectionFormat).c_str(), "garbage").c_str())));
  counters.Reset();
  EXPECT_EQ(counters.handled, 0);
}

// A box slot's intake: every read goes to the box's history, and while the box replays what it
// stored during a lost connection, the reads it delivered before count as replayed and nothing
// else: not recorded, not reported again (an unknown chip included), yet the repeat filter
// hears of them.
TEST_F(DetectionIntakeTest, AReplayAfterALossTakesOnlyWhatWasMissed) {
  class SlotBox : public CTemporaryIntakeBox {
   public:
    SlotBox() : CTemporaryIntakeBox(1, kConnection, "FIN") {}
    CBoxReadHistory* ReadHistory() override { return &history; }
    CBoxReadHistory history;
  } box;
  m_settings.GVarnexIgnoreInputMsDelta = 50;
  m_settings.GVarnexIgnoreUnknownTags = 1;
  BoxThreadCounters counters;
  auto handle = [&](const std::string& text) {
    m_intake.HandleDetectionLine(box, "P", text, "57@epc@0001@" + text, 1000, counters);
  };
  handle(DetectionText("E2003412", 0));
  handle(DetectionText("E2003412", -5000));  // the box clock was set back
  handle(DetectionText("EEEE", 100));        // unknown chip: reported, not recorded
  ASSERT_EQ(m_records.RecordCount(), 2u);
  EXPECT_EQ(box.history.Count(), 3u);
  CChrono firstRead;
  ASSERT_TRUE(firstRead.ParseBoxDateTime("20120513", "10:23:45.120"));
  EXPECT_EQ(box.history.LastRecorded(), firstRead - CChrono(5, 0));

  // A new connection starts with an empty repeat memory.
  box.LastDetections().ClearLast();
  box.history.ExpectReplay();
  ASSERT_TRUE(box.history.BeginReplay());
  handle(DetectionText("E2003412", -5000));
  handle(DetectionText("E2003412", 0));
  handle(DetectionText("E2003412", 30));  // missed, but a repeat of the read before
  handle(DetectionText("EEEE", 100));
  handle(DetectionText("E2003412", 200));  // missed
  handle("unreadable");
  int recovered = -1;
  int replayed = -1;
  ASSERT_TRUE(box.history.EndReplay(&recovered, &replayed));
  EXPECT_EQ(recovered, 1);
  EXPECT_EQ(replayed, 6);
  ASSERT_EQ(m_records.RecordCount(), 3u);
  EXPECT_EQ(m_records.Snapshot().back().timeText, "10:23:45.32");
  EXPECT_EQ(box.history.LastRecorded(), firstRead + CChrono(0, 200));
  Drain();
  int unknownReports = 0;
  for (const LogLineEvent& line : m_logs) {
    unknownReports += line.text.find("[EEEE]") != std::string::npos ? 1 : 0;
  }
  EXPECT_EQ(unknownReports, 1);
  EXPECT_FALSE(box.history.EndReplay(&recovered, &replayed));  // one end per replay
}

TEST(DetectionTexts, CounterAndItem) {
  if (BuildLanguage() == Language::kFrench) {
    EXPECT_EQ(DetectionCounterText(0), Utf8ToCp1252("Aucune détection enregistrée"));
    EXPECT_EQ(DetectionCounterText(1), Utf8ToCp1252("1 détection enregistrée"));
    EXPECT_EQ(DetectionCounterText(2), Utf8ToCp1252("2 détections enregistrées"));
  } else {
    EXPECT_EQ(DetectionCounterText(0), "No recorded detection");
    EXPECT_EQ(DetectionCounterText(1), "1 detection recorded");
    EXPECT_EQ(DetectionCounterText(2), "2 detections recorded");
  }
  EXPECT_EQ(DetectionItemText(CChrono(37425, 0), "Man.", "1\r\n2"), "10:23:45\tMan.\t# 1<CR><LF>2");
}

TEST(DetectionTexts, PieceFormatsMatchPrintfInBothLanguages) {
  for (Language language : {Language::kEnglish, Language::kFrench}) {
    std::string recved = TrIn(language, kMsgDetectionRecved);
    CPieceFormat recvedPieces(recved);
    EXPECT_TRUE(recvedPieces.Supported());
    EXPECT_EQ(recvedPieces.Format({"Box 1 [x]", "10:23:45.12", "123", "E2003412"}),
              StrF(recved.c_str(), "Box 1 [x]", "10:23:45.12", "123", "E2003412"));
    std::string label = TrIn(language, kMsgIntakeBoxLabel);
    EXPECT_EQ(CPieceFormat(label).Format({-4, "[a:1 b]"}), StrF(label.c_str(), -4, "[a:1 b]"));
    std::string ignored = TrIn(language, kMsgDetectionIgnored);
    EXPECT_EQ(CPieceFormat(ignored).Format({"L"}), StrF(ignored.c_str(), "L"));
  }
  CPieceFormat other("100%% %u %s");
  EXPECT_FALSE(other.Supported());
  EXPECT_EQ(other.Format({"x"}), "100% %u x");
}

TEST(LastBoxDetectionList, MostRecentFirstAndCapped) {
  CLastBoxDetectionList list;
  EXPECT_EQ(list.FindLast("1"), nullptr);
  list.RememberLast("1", CChrono(10, 0));
  list.RememberLast("2", CChrono(20, 0));
  list.RememberLast("1", CChrono(30, 0));
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.At(0).bib, "1");
  EXPECT_EQ(list.At(0).absTime, CChrono(30, 0));
  EXPECT_EQ(list.At(1).bib, "2");
  EXPECT_EQ(list.FindLast("2")->absTime, CChrono(20, 0));
  for (int i = 3; i <= 52; ++i) {
    list.RememberLast(std::to_string(i), CChrono(i, 0));
  }
  EXPECT_EQ(list.Count(), 50u);
  EXPECT_EQ(list.FindLast("1"), nullptr);
  EXPECT_EQ(list.FindLast("2"), nullptr);
  EXPECT_EQ(list.At(0).bib, "52");
  EXPECT_EQ(list.At(49).bib, "3");
  list.ClearLast();
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(list.FindLast("52"), nullptr);
}

}  // namespace
}  // namespace lapora
