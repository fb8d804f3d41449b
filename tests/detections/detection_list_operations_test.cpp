// The operator's operations on the recorded detections: manual entry checks and recording,
// remove/restore, forget all, and the list reset (also while four box threads record).
#include "detections/detection_list_operations.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <variant>

#include "detections/chip_table.h"
#include "detections/detection_intake.h"
#include "detections/recorded_detections.h"
#include "foundation/app_settings.h"
#include "foundation/clock.h"
#include "foundation/events.h"
#include "foundation/log.h"
#include "foundation/sound.h"
#include "resources/messages_detections.h"
#include "resources/messages_listops.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

using testing::ReadFile;
using testing::TempDir;

// The sounds asked for, in order (no audio device is needed to know what was asked).
class KeepingSound : public SoundPlayer {
 public:
  bool PlaySoundResource(int soundId) override {
    std::lock_guard lock(m_mutex);
    played.push_back(soundId);
    return true;
  }
  std::vector<int> played;

 private:
  std::mutex m_mutex;
};

// Local noon of 13 May 2012, so that "today" is a known date whatever the time zone.
std::int64_t LocalNoonMs(int year, int month, int day) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = 12;
  tm.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&tm)) * 1000;
}

std::vector<std::string> Lines(const std::string& content) {
  std::vector<std::string> lines;
  std::istringstream in(content);
  std::string line;
  while (std::getline(in, line)) {
    lines.push_back(line);
  }
  return lines;
}

class ListOperationsTest : public ::testing::Test {
 protected:
  ListOperationsTest()
      : log(events),
        clock(LocalNoonMs(2012, 5, 13) + 345),
        records(log),
        intake(log, events, settings, &sound, clock, chips, records, nullptr) {
    log.SetPostingEnabled(true);
    log.SetLogFilePath(dir.File("Lapora.log"));
    settings.SetRaceDayDates({"20120513", "20120514", "20120515", "20120516"});
  }

  // Handles the posted events: log texts, items and refresh requests.
  // Handles the posted events once the recorded lines are in their files.
  void Drain() {
    EXPECT_TRUE(records.FlushDetectionFile());
    events.Dispatch([this](const Event& event) {
      if (const auto* line = std::get_if<LogLineEvent>(&event)) {
        logTexts.push_back(line->text);
      } else if (const auto* item = std::get_if<DetectionItemEvent>(&event)) {
        items.push_back(item->item);
      } else if (std::holds_alternative<RefreshRequestEvent>(event)) {
        ++refreshRequests;
      }
    });
  }

  ManualEntry Accepted(const std::string& bib, const std::string& time, int correction) {
    ManualEntryCheckResult result =
        ManualEntryCheck({bib, time, 0, correction}, {"FIN", "MID"}, clock);
    EXPECT_TRUE(result.accepted) << bib << " " << time;
    return result.entry;
  }

  ManualDetectionServices Services() { return {intake, events, settings, log, &sound}; }

  TempDir dir;
  EventQueue events;
  Logger log;
  AppSettings settings;
  ManualClock clock;
  KeepingSound sound;
  CChipTable chips;
  CRecordedDetections records;
  DetectionIntake intake;

  std::vector<std::string> logTexts;
  std::deque<CLogDetectionItem> items;
  int refreshRequests = 0;
};

TEST_F(ListOperationsTest, BibIsAPositiveNumberWrittenWithoutZerosOrTrailingText) {
  struct Case {
    const char* typed;
    bool accepted;
    const char* kept;
  };
  const Case cases[] = {
      {"007", true, "7"}, {" 12 ", true, "12"},       {"12abc", true, "12"}, {"+3", true, "3"},
      {"0", false, ""},   {"-5", false, ""},          {"abc", false, ""},    {"", false, ""},
      {"   ", false, ""}, {"99999999999", false, ""},  // beyond the int range: refused, not wrapped
  };
  for (const Case& c : cases) {
    ManualEntryCheckResult result = ManualEntryCheck({c.typed, "10:05:30.5", 0, 0}, {"FIN"}, clock);
    EXPECT_EQ(result.accepted, c.accepted) << c.typed;
    if (c.accepted) {
      EXPECT_EQ(result.entry.bibText, c.kept);
      EXPECT_EQ(result.entry.bibNumber, std::stoi(c.kept));
    } else {
      EXPECT_EQ(result.message, Tr(kMsgInvalidBib)) << c.typed;
      EXPECT_EQ(result.faultyField, ManualEntryField::kBib);
      EXPECT_TRUE(result.emptyField);
    }
  }
  EXPECT_EQ(TrIn(Language::kEnglish, kMsgInvalidBib), "Empty or invalid runner bib!");
}

TEST_F(ListOperationsTest, ChecksRunInOrderBibTimeDetector) {
  // Everything wrong: the bib message comes first.
  ManualEntryCheckResult result = ManualEntryCheck({"abc", "", -1, 0}, {}, clock);
  EXPECT_EQ(result.faultyField, ManualEntryField::kBib);

  result = ManualEntryCheck({"7", "", -1, 0}, {}, clock);
  EXPECT_FALSE(result.accepted);
  EXPECT_EQ(result.message, Tr(kMsgInvalidManualTime));
  EXPECT_EQ(result.faultyField, ManualEntryField::kTime);
  EXPECT_FALSE(result.emptyField);
  EXPECT_FALSE(ManualEntryCheck({"7", "soon", 0, 0}, {"FIN"}, clock).accepted);

  // No box configured: an empty detector list ends with the detector message.
  result = ManualEntryCheck({"7", "10:05:30.5", -1, 0}, {}, clock);
  EXPECT_FALSE(result.accepted);
  EXPECT_EQ(result.message, Tr(kMsgNoDetectorId));
  EXPECT_EQ(result.faultyField, ManualEntryField::kDetector);
  EXPECT_EQ(TrIn(Language::kEnglish, kMsgNoDetectorId), "No Detector Id.!");
  EXPECT_FALSE(ManualEntryCheck({"7", "10:05:30.5", 2, 0}, {"FIN", "MID"}, clock).accepted);

  // Only a time of day: days are added with the correction list, never by overflowing a field.
  for (const char* impossible : {"25:00:00", "24:00:00", "10:60:00", "10:05:60", "-1:05:30",
                                 "10:-5:30", "10:05:30.123", "99.99.99"}) {
    result = ManualEntryCheck({"7", impossible, 0, 0}, {"FIN"}, clock);
    EXPECT_FALSE(result.accepted) << impossible;
    EXPECT_EQ(result.faultyField, ManualEntryField::kTime) << impossible;
  }
  for (const char* possible : {"23:59:59.99", "00:00:00", "7.5.3", "10:05:30.5"}) {
    EXPECT_TRUE(ManualEntryCheck({"7", possible, 0, 0}, {"FIN"}, clock).accepted) << possible;
  }

  // Blanks inside the time are dropped.
  result = ManualEntryCheck({"7", " 10 : 05 : 30.5 ", 1, 0}, {"FIN", "MID"}, clock);
  ASSERT_TRUE(result.accepted);
  EXPECT_EQ(result.entry.detectorLabel, "MID");
  EXPECT_EQ(result.entry.detectorIndex, 1);
  EXPECT_EQ(ManualEntryRaceTime(result.entry).FormatHundredths(), "10:05:30.05");
}

TEST_F(ListOperationsTest, CorrectionAddsADayPerStep) {
  ManualEntry entry = Accepted("7", "10:05:30.5", 1);
  // The absolute time is today's date at the typed time.
  CChrono today(static_cast<std::int32_t>(clock.NowUnix()), 0);
  EXPECT_EQ(entry.absTime.FormatClockHundredths(), "10:05:30.05");
  EXPECT_LT(std::abs(entry.absTime.Seconds() - today.Seconds()), 24 * 3600);

  CChrono race = ManualEntryRaceTime(entry);
  EXPECT_EQ(race.Seconds(), 34 * 3600 + 5 * 60 + 30);
  EXPECT_EQ(race.Millis(), 50);
  EXPECT_EQ(race.FormatHundredths(), "34:05:30.05");
  EXPECT_EQ(ManualEntryRaceTime(Accepted("7", "10:05:30.5", 3)).FormatHundredths(), "82:05:30.05");
  EXPECT_EQ(ManualEntryRaceTime(Accepted("7", "10:05:30.5", 0)).FormatHundredths(), "10:05:30.05");
}

TEST_F(ListOperationsTest, DialogDefaultsFollowRememberedDetectorAndRaceDay) {
  std::array<std::string, 4> days{"20120512", "20120513", "20120514", "20120515"};
  ManualEntryDefaults defaults = MakeManualEntryDefaults(3, 2, days, clock);
  EXPECT_EQ(defaults.detectorIndex, 2);
  EXPECT_EQ(defaults.correctionIndex, 1);  // today is race day 1
  EXPECT_EQ(defaults.timeText, CChrono(kChronoNow, clock).FormatClockHundredths());
  EXPECT_EQ(defaults.timeText, "12:00:00.34");

  EXPECT_EQ(MakeManualEntryDefaults(2, 5, days, clock).detectorIndex, 0);
  EXPECT_EQ(MakeManualEntryDefaults(0, 0, days, clock).detectorIndex, -1);
  EXPECT_EQ(MakeManualEntryDefaults(1, 0, {"20000101", "", "", ""}, clock).correctionIndex, 0);

  EXPECT_EQ(ManualEntryDetectors(
                {{"FIN", "10.0.0.1"}, {"", "10.0.0.2"}, {"MID", ""}, {"KM5", "/dev/ttyS0"}}),
            (std::vector<std::string>{"FIN", "KM5"}));
}

TEST_F(ListOperationsTest, ManualDetectionIsStoredShownBeepedAndLogged) {
  records.OpenDetectionFile(dir.File("incoming.dat"));
  CKolResult record = InsertManualDetection(Accepted("007", "10:05:30.5", 1), Services());
  records.CloseDetectionFile();
  Drain();

  EXPECT_EQ(record.bibText, "7");
  EXPECT_EQ(record.timeText, "34:05:30.05");
  EXPECT_EQ(record.detectorLabel, "FIN");
  EXPECT_EQ(records.CountValidRecords(), 1);
  EXPECT_EQ(ReadFile(dir.File("incoming.dat")), "1\tFIN\t7\t1\t34:05:30.05\t1\r\n");
  EXPECT_EQ(refreshRequests, 1);
  EXPECT_EQ(sound.played, std::vector<int>{kSoundDetection});
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].text, "+24h 10:05:31\tMan.\t# 7");
  EXPECT_EQ(items[0].record, record);
  EXPECT_EQ(logTexts.back(), StrF(Tr(kMsgAddedManualDetection).c_str(), "FIN", "34:05:30.05", 7));
  EXPECT_EQ(TrIn(Language::kEnglish, kMsgAddedManualDetection),
            "+++ Added manual detecttion for box %s at %s for runner %d");

  // No beep, no list item when those options are off; still stored and logged. The file was
  // closed ("disconnect all"): the entry opens it again and appends.
  settings.GVarnexBeepDetections = 0;
  settings.BLogDetections = 0;
  logTexts.clear();
  InsertManualDetection(Accepted("8", "10:06:00.0", 0), Services());
  Drain();
  EXPECT_EQ(records.CountValidRecords(), 2);
  EXPECT_EQ(sound.played.size(), 1u);
  EXPECT_EQ(items.size(), 1u);
  EXPECT_EQ(refreshRequests, 2);
  EXPECT_EQ(logTexts,
            (std::vector<std::string>{
                StrF(Tr(kMsgOpeningDetectionFile).c_str(), dir.File("incoming.dat").c_str()),
                StrF(Tr(kMsgAddedManualDetection).c_str(), "FIN", "10:06:00.00", 8)}));
  EXPECT_EQ(ReadFile(dir.File("incoming.dat")),
            "1\tFIN\t7\t1\t34:05:30.05\t1\r\n2\tFIN\t8\t1\t10:06:00.00\t1\r\n");
}

TEST_F(ListOperationsTest, MenuEntriesFollowTheSelection) {
  CKolResult valid;
  CKolResult removed;
  removed.valid = 0;
  EXPECT_EQ(ClassifySelection({}), SelectionKind::kEmpty);
  EXPECT_EQ(ClassifySelection({valid, valid}), SelectionKind::kAllValid);
  EXPECT_EQ(ClassifySelection({removed}), SelectionKind::kAllRemoved);
  EXPECT_EQ(ClassifySelection({valid, removed}), SelectionKind::kMixed);

  RemoveRestoreMenu menu = MenuForSelection(SelectionKind::kEmpty);
  EXPECT_FALSE(menu.shown);
  menu = MenuForSelection(SelectionKind::kAllValid);
  EXPECT_TRUE(menu.shown && menu.removeEnabled && !menu.restoreEnabled);
  menu = MenuForSelection(SelectionKind::kAllRemoved);
  EXPECT_TRUE(menu.shown && !menu.removeEnabled && menu.restoreEnabled);
  menu = MenuForSelection(SelectionKind::kMixed);
  EXPECT_TRUE(menu.shown && menu.removeEnabled && menu.restoreEnabled);

  valid.timeText = "10:23:45.12";
  valid.bibText = "123";
  EXPECT_EQ(RemoveRestoreQuestion({valid}, true),
            StrF(Tr(kMsgRemoveOne).c_str(), "10:23:45.12", "123"));
  EXPECT_EQ(RemoveRestoreQuestion({valid}, false),
            StrF(Tr(kMsgRestoreOne).c_str(), "10:23:45.12", "123"));
  EXPECT_EQ(RemoveRestoreQuestion({valid, removed, valid}, true),
            StrF(Tr(kMsgRemoveSeveral).c_str(), 3));
  EXPECT_EQ(TrIn(Language::kEnglish, kMsgRemoveSeveral), "Remove those %d detections?");
  EXPECT_EQ(RemoveRestoreQuestion({}, true), "");
}

TEST_F(ListOperationsTest, RemovingTwoValidAndOneRemovedDropsTheCounterByTwo) {
  for (int bib = 1; bib <= 4; ++bib) {
    InsertManualDetection(Accepted(std::to_string(bib), "10:00:00.0", 0), Services());
  }
  Drain();
  ASSERT_EQ(items.size(), 4u);
  ApplyRemoveRestore(records, &items, {items[2].record.id}, false);
  ASSERT_EQ(records.CountValidRecords(), 3);

  std::vector<int> ids{items[0].record.id, items[1].record.id, items[2].record.id};
  std::vector<CKolResult> selected{items[0].record, items[1].record, items[2].record};
  RemoveRestoreMenu menu = MenuForSelection(ClassifySelection(selected));
  EXPECT_TRUE(menu.removeEnabled);
  EXPECT_TRUE(menu.restoreEnabled);

  // The third was removed already: only the first two count as removed now.
  RemoveRestoreOutcome outcome = ApplyRemoveRestore(records, &items, ids, false);
  EXPECT_EQ(outcome.itemsChanged, 2);
  EXPECT_EQ(outcome.recordsChanged, 2);
  EXPECT_TRUE(outcome.unknownIds.empty());
  EXPECT_EQ(records.CountValidRecords(), 1);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(items[static_cast<std::size_t>(i)].record.valid, 0);
    EXPECT_EQ(records.FindRecord(ids[static_cast<std::size_t>(i)])->valid, 0);
  }
  EXPECT_EQ(items[3].record.valid, 1);

  // Restoring brings them back; removed records never left the list.
  EXPECT_EQ(records.RecordCount(), 4u);
  ApplyRemoveRestore(records, &items, ids, true);
  EXPECT_EQ(records.CountValidRecords(), 4);
  EXPECT_EQ(items[0].record.valid, 1);
}

TEST_F(ListOperationsTest, RemoveAfterResetChangesOnlyTheItemAndReportsUnknownIds) {
  InsertManualDetection(Accepted("5", "10:00:00.0", 0), Services());
  Drain();
  std::deque<CLogDetectionItem> oldItems = items;
  records.ClearRecords();
  InsertManualDetection(Accepted("6", "10:00:01.0", 0), Services());

  int oldId = oldItems[0].record.id;
  RemoveRestoreOutcome outcome = ApplyRemoveRestore(records, &oldItems, {oldId, 999}, false);
  EXPECT_EQ(outcome.itemsChanged, 1);
  EXPECT_EQ(outcome.recordsChanged, 0);
  EXPECT_EQ(outcome.unknownIds, std::vector<int>{999});
  EXPECT_EQ(oldItems[0].record.valid, 0);
  EXPECT_EQ(records.CountValidRecords(), 1);

  // Without a detections list (the console), ids reach the records alone.
  outcome = ApplyRemoveRestore(records, nullptr, {oldId + 1, oldId + 1}, false);
  EXPECT_EQ(outcome.recordsChanged, 1);
  EXPECT_EQ(records.CountValidRecords(), 0);
}

TEST_F(ListOperationsTest, ForgetAllAsksOnlyWhenValidDetectionsExist) {
  int asked = 0;
  int resets = 0;
  int forgotten = 0;
  bool answer = false;
  ForgetAllSteps steps{[&](const std::string& question) {
                         ++asked;
                         EXPECT_EQ(question, Tr(kMsgForgetAllQuestion));
                         return answer;
                       },
                       [&] { ++resets; }, [&] { ++forgotten; }};

  // Only removed detections: nothing asked, nothing changed, the announcer still forgets.
  InsertManualDetection(Accepted("5", "10:00:00.0", 0), Services());
  InsertManualDetection(Accepted("6", "10:00:01.0", 0), Services());
  ApplyRemoveRestore(records, nullptr, {1, 2}, false);
  EXPECT_FALSE(ForgetAllDetections(records, steps));
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(resets, 0);
  EXPECT_EQ(forgotten, 1);
  EXPECT_EQ(records.RecordCount(), 2u);
  EXPECT_FALSE(ForgetAllQuestion(0).has_value());

  ApplyRemoveRestore(records, nullptr, {2}, true);
  EXPECT_FALSE(ForgetAllDetections(records, steps));  // answered No
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(resets, 0);
  answer = true;
  EXPECT_TRUE(ForgetAllDetections(records, steps));
  EXPECT_EQ(resets, 1);
  EXPECT_EQ(forgotten, 3);
  EXPECT_EQ(TrIn(Language::kEnglish, kMsgForgetAllQuestion),
            "Do you really want to clear the list of all recorded detections ?\n\nCAUTION !!!  "
            "ALL RECORDED TIMES WILL BE LOST !!!");
}

TEST_F(ListOperationsTest, ResetStartsANewFileAtLineOneWithTheNextRecordId) {
  std::string first = dir.File("Lapora-20120513-100000.dat");
  records.OpenDetectionFile(first);
  InsertManualDetection(Accepted("5", "10:00:00.0", 0), Services());
  InsertManualDetection(Accepted("6", "10:00:01.0", 0), Services());
  CKolResult removed = InsertManualDetection(Accepted("7", "10:00:02.0", 0), Services());
  ApplyRemoveRestore(records, nullptr, {removed.id}, false);
  Drain();
  std::string firstContent = ReadFile(first);
  logTexts.clear();
  sound.played.clear();

  std::vector<std::string> calls;
  std::string second = dir.File("Lapora-20120513-100500.dat");
  ResetDetectionListSteps steps{[&] { calls.push_back("window"); },
                                [&] { calls.push_back("boxes"); },
                                [&] { calls.push_back("refresh"); },
                                [&] {
                                  calls.push_back("path");
                                  return second;
                                }};
  ResetDetectionListOutcome outcome = ResetDetectionList(records, log, &sound, steps);
  EXPECT_EQ(outcome.forgotten, 2);
  EXPECT_EQ(outcome.incomingPath, second);
  EXPECT_EQ(outcome.lastForgottenId, removed.id);
  EXPECT_EQ(calls, (std::vector<std::string>{"path", "window", "boxes", "refresh"}));
  EXPECT_EQ(records.RecordCount(), 0u);
  EXPECT_EQ(records.DetectionFilePath(), second);
  EXPECT_EQ(sound.played, std::vector<int>{kSoundDone});

  CKolResult next = InsertManualDetection(Accepted("8", "10:06:00.0", 0), Services());
  EXPECT_EQ(next.id, removed.id + 1);
  ASSERT_TRUE(records.FlushDetectionFile());
  EXPECT_EQ(ReadFile(second), "1\tFIN\t8\t1\t10:06:00.00\t1\r\n");
  EXPECT_EQ(ReadFile(first), firstContent);  // the old file is left as it was

  Drain();
  ASSERT_GE(logTexts.size(), 3u);
  EXPECT_EQ(logTexts[0], StrF(Tr(kMsgResetDone).c_str(), 2, "s"));
  EXPECT_EQ(logTexts[1], StrF(Tr(kMsgOpeningDetectionFile).c_str(), second.c_str()));
  EXPECT_EQ(logTexts[2], StrF(Tr(kMsgIncomingDetectionsSaved).c_str(), second.c_str()));
  EXPECT_EQ(TrIn(Language::kEnglish, kMsgResetDone),
            "+ Detection list reset done. (%d detection%s)");
  // The empty line of the log file.
  EXPECT_NE(ReadFile(dir.File("Lapora.log")).find("\r\n"), std::string::npos);

  // One detection: no plural.
  logTexts.clear();
  ResetDetectionList(records, log, nullptr, steps);
  Drain();
  EXPECT_EQ(logTexts[0], StrF(Tr(kMsgResetDone).c_str(), 1, ""));
}

TEST_F(ListOperationsTest, ResetWithinTheSameSecondStillStartsAFileOfItsOwn) {
  std::string path = dir.File("Lapora-20120513-100000.dat");
  records.OpenDetectionFile(path);
  InsertManualDetection(Accepted("5", "10:00:00.0", 0), Services());
  ResetDetectionListSteps steps;
  steps.newIncomingPath = [&] { return path; };
  ResetDetectionListOutcome outcome = ResetDetectionList(records, log, nullptr, steps);
  EXPECT_EQ(outcome.incomingPath, dir.File("Lapora-20120513-100000-2.dat"));
  InsertManualDetection(Accepted("6", "10:00:01.0", 0), Services());
  outcome = ResetDetectionList(records, log, nullptr, steps);
  EXPECT_EQ(outcome.incomingPath, dir.File("Lapora-20120513-100000-3.dat"));
  // Even before the writer has made the file of a reset, the next reset does not reuse it.
  outcome = ResetDetectionList(records, log, nullptr, steps);
  EXPECT_EQ(outcome.incomingPath, dir.File("Lapora-20120513-100000-4.dat"));

  ASSERT_TRUE(records.FlushDetectionFile());
  EXPECT_EQ(ReadFile(path), "1\tFIN\t5\t1\t10:00:00.00\t1\r\n");
  EXPECT_EQ(ReadFile(dir.File("Lapora-20120513-100000-2.dat")), "1\tFIN\t6\t1\t10:00:01.00\t1\r\n");
}

// Four box threads store detections while the main thread resets the list several times: each
// detection is in exactly one file, each file numbered from 1 with consecutive record ids, and
// each reset forgot exactly what its file holds.
TEST_F(ListOperationsTest, ResetRacingFourBoxThreadsLosesNoDetection) {
  constexpr int kPerThread = 2000;
  constexpr int kResets = 6;
  settings.GVarnexBeepDetections = 0;
  std::vector<std::string> paths{dir.File("incoming-0.dat")};
  records.OpenDetectionFile(paths[0]);

  std::atomic<int> stored{0};
  std::vector<std::vector<CKolResult>> made(4);
  std::vector<std::thread> boxes;
  for (int t = 0; t < 4; ++t) {
    boxes.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        made[static_cast<std::size_t>(t)].push_back(
            intake.StoreDetection(std::to_string(t * 100000 + i), "D" + std::to_string(t + 1),
                                  CChrono(), CChrono(36000 + i, 0)));
        ++stored;
      }
    });
  }
  std::vector<int> forgotten;
  ResetDetectionListSteps steps;
  steps.newIncomingPath = [&] {
    paths.push_back(dir.File("incoming-" + std::to_string(paths.size()) + ".dat"));
    return paths.back();
  };
  for (int r = 0; r < kResets; ++r) {
    // Spread the resets over the run (a condition, not a sleep).
    int target = (r + 1) * 4 * kPerThread / (kResets + 1);
    while (stored.load() < target) {
      std::this_thread::yield();
    }
    forgotten.push_back(ResetDetectionList(records, log, nullptr, steps).forgotten);
  }
  for (std::thread& box : boxes) {
    box.join();
  }
  std::vector<CKolResult> last = records.Snapshot();
  records.CloseDetectionFile();
  ASSERT_TRUE(records.FlushDetectionFile());

  std::map<std::string, std::int32_t> idOfBib;
  for (const auto& list : made) {
    for (const CKolResult& record : list) {
      idOfBib[record.bibText] = record.id;
    }
  }
  ASSERT_EQ(idOfBib.size(), 4u * kPerThread);

  std::map<std::string, int> seen;
  std::int32_t expectedId = 1;
  ASSERT_EQ(paths.size(), static_cast<std::size_t>(kResets) + 1);
  for (std::size_t f = 0; f < paths.size(); ++f) {
    std::vector<std::string> lines = Lines(ReadFile(paths[f]));
    if (f < forgotten.size()) {
      EXPECT_EQ(static_cast<int>(lines.size()), forgotten[f]) << paths[f];
    } else {
      ASSERT_EQ(lines.size(), last.size());
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
      std::istringstream fields(lines[i]);
      int number = 0;
      std::string label;
      std::string bib;
      fields >> number >> label >> bib;
      ASSERT_EQ(number, static_cast<int>(i + 1)) << paths[f];
      ++seen[bib];
      // The files, one after the other, hold the ids 1, 2, 3... with no gap.
      ASSERT_EQ(idOfBib.at(bib), expectedId++) << paths[f] << " line " << i + 1;
      if (f + 1 == paths.size()) {
        EXPECT_EQ(bib, last[i].bibText);
        EXPECT_EQ(label, last[i].detectorLabel);
      }
    }
  }
  EXPECT_EQ(seen.size(), idOfBib.size());
  for (const auto& [bib, count] : seen) {
    ASSERT_EQ(count, 1) << bib;
  }
}

}  // namespace
}  // namespace lapora
