#include "detections/box_data_import.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "detections/chip_table.h"
#include "detections/detection_intake.h"
#include "detections/recorded_detections.h"
#include "foundation/app_settings.h"
#include "foundation/clock.h"
#include "foundation/events.h"
#include "foundation/folders.h"
#include "foundation/log.h"
#include "foundation/sound.h"
#include "foundation/temp_files.h"
#include "foundation/text.h"
#include "resources/messages_import.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class KeepingSound : public SoundPlayer {
 public:
  bool PlaySoundResource(int soundId) override {
    played.push_back(soundId);
    return true;
  }
  std::vector<int> played;
};

CChrono BoxTime(const char* date, const char* time) {
  CChrono value;
  EXPECT_TRUE(value.ParseBoxDateTime(date, time));
  return value;
}

// ---------------------------------------------------------------------------------------------
// Line parser.

TEST(BoxDataLineTest, TheFourFormsGiveTheSameDetection) {
  const char* lines[] = {
      "E2003412,2012-05-13 10:23:45.120,x,y",
      "a,b,c,E2003412,2012-05-13,10:23:45.120",
      "E2003412:2012-05-13_10:23:45.120,port=1,rssi=-60",
      "1;E2003412;x;2012-05-13;10:23:45.120;x;x;rssi=-60;port=1",
      "E2003412,2012-05-13 10:23:45.120,x,y,",  // a last separator adds no field
      // The compact time keeps its time of day, read from the fields of the absolute time.
      "E2003412,2012-05-13 102345.120,x,y",
      "1;E2003412;x;2012-05-13;102345.120;x;x;rssi=-60;port=1",
  };
  const CChrono expectedAbs = BoxTime("20120513", "10:23:45.120");
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    std::string chip;
    CChrono absTime;
    CChrono timeOfDay;
    std::string reason;
    ASSERT_TRUE(ParseBoxDataLine(line, &chip, &absTime, &timeOfDay, &reason)) << reason;
    EXPECT_EQ(chip, "E2003412");
    EXPECT_EQ(absTime, expectedAbs);
    EXPECT_EQ(timeOfDay, CChrono(37425, 120));
  }
}

TEST(BoxDataLineTest, RefusedLinesGiveTheirReasonAndChangeNothing) {
  struct Case {
    std::string line;
    std::string reason;
  };
  const Case cases[] = {
      {"a,b,c,d,e", Tr(kMsgImportUnknownFormat)},
      {"a;b;c;d;e;f;g;h", Tr(kMsgImportUnknownFormat)},
      {"", Tr(kMsgImportUnknownFormat)},
      {"a,,b", Tr(kMsgImportF2NoColon)},
      {"E1:2012-05-13_10:00:00.000,prt=1,rssi=-6", Tr(kMsgImportF2NoPort)},
      {"E1:2012-05-13_10:00:00.000,port=1,rsi=-6", Tr(kMsgImportF2NoRssi)},
      {"1;E1;x;2012-05-13;10:00:00.000;x;x;rsi=-6;port=1", Tr(kMsgImportF3NoRssi)},
      {"1;E1;x;2012-05-13;10:00:00.000;x;x;rssi=-6;prt=1", Tr(kMsgImportF3NoPort)},
      {"E1,2012-05-13 10:00:00.000 z,x,y",
       StrF(Tr(kMsgImportInvalidChrono).c_str(), "2012-05-13_10:00:00.000_z")},
      {"E1,2012-05-13,x,y", StrF(Tr(kMsgImportInvalidChrono).c_str(), "2012-05-13")},
      {"E1,2012-ab 10:00:00.000,x,y", StrF(Tr(kMsgImportInvalidDate).c_str(), "2012 ab")},
      // An unreadable time would give an unset instant: refused too.
      {"E1,2012-05-13 noon,x,y", StrF(Tr(kMsgImportInvalidChrono).c_str(), "2012-05-13_noon")},
      {std::string(600, 'x'), StrF(Tr(kMsgImportLineTooLong).c_str(), 511)},
      // No chip in any of the four forms.
      {",2012-05-13 10:00:00.000,x,y", Tr(kMsgImportUnknownFormat)},
      {"a,b,c,,2012-05-13,10:00:00.000", Tr(kMsgImportUnknownFormat)},
      {":2012-05-13_10:00:00.000,port=1,rssi=-6", Tr(kMsgImportUnknownFormat)},
      {"1;;x;2012-05-13;10:00:00.000;x;x;rssi=-6;port=1", Tr(kMsgImportUnknownFormat)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::string chip = "unchanged";
    CChrono absTime(7, 7);
    CChrono timeOfDay(8, 8);
    std::string reason;
    EXPECT_FALSE(ParseBoxDataLine(c.line, &chip, &absTime, &timeOfDay, &reason));
    EXPECT_EQ(reason, c.reason);
    EXPECT_EQ(chip, "unchanged");
    EXPECT_EQ(absTime, CChrono(7, 7));
    EXPECT_EQ(timeOfDay, CChrono(8, 8));
  }
}

TEST(BoxDataLineTest, FieldsSplitAtEverySeparator) {
  EXPECT_EQ(SplitBoxDataFields("a,,b,", ','), (std::vector<std::string_view>{"a", "", "b"}));
  EXPECT_EQ(SplitBoxDataFields(",a", ','), (std::vector<std::string_view>{"", "a"}));
  EXPECT_EQ(SplitBoxDataFields("a,,", ','), (std::vector<std::string_view>{"a", ""}));
  EXPECT_TRUE(SplitBoxDataFields("", ',').empty());
}

// ---------------------------------------------------------------------------------------------
// Line reader.

struct ReadLine {
  std::string text;
  bool tooLong = false;
};

std::vector<ReadLine> ReadAllLines(const std::string& path) {
  std::vector<ReadLine> lines;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  EXPECT_NE(file, nullptr);
  if (file == nullptr) {
    return lines;
  }
  CBoxDataLineReader reader(file);
  ReadLine line;
  while (reader.Next(&line.text, &line.tooLong)) {
    lines.push_back(line);
  }
  std::fclose(file);
  return lines;
}

TEST(BoxDataLineReaderTest, LinesComeBackWholeAcrossBlocksAndLongOnesAreMarked) {
  TempDir dir;
  std::string content;
  std::vector<ReadLine> expected;
  auto add = [&](const std::string& text, const char* end, bool tooLong) {
    content += text + end;
    expected.push_back({tooLong ? text.substr(0, kBoxDataMaxLine) : text, tooLong});
  };
  add(std::string(511, 'a'), "\r\n", false);  // the carriage return is no character of the line
  add(std::string(512, 'b'), "\n", true);
  add(std::string(512, 'c'), "\r\n", true);
  add("", "\n", false);
  // Enough lines of every length to cross several read blocks.
  for (int i = 0; i < 1200; ++i) {
    std::size_t length = static_cast<std::size_t>(i % 530);
    add(std::string(length, static_cast<char>('d' + i % 20)), i % 2 != 0 ? "\r\n" : "\n",
        length > kBoxDataMaxLine);
  }
  add("last line, no end", "", false);
  WriteFile(dir.File("lines.csv"), content);
  ASSERT_GT(content.size(), 3u * 64 * 1024);

  std::vector<ReadLine> lines = ReadAllLines(dir.File("lines.csv"));
  ASSERT_EQ(lines.size(), expected.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(lines[i].text, expected[i].text);
    EXPECT_EQ(lines[i].tooLong, expected[i].tooLong);
  }
}

TEST(BoxDataLineReaderTest, AFileWithoutLineEndsIsReadInBoundedMemory) {
  TempDir dir;
  std::string path = dir.File("endless.csv");
  constexpr std::size_t kMegabytes = 64;
  {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::string block(1u << 20, 'x');
    for (std::size_t i = 0; i < kMegabytes; ++i) {
      ASSERT_EQ(std::fwrite(block.data(), 1, block.size(), file), block.size());
    }
    ASSERT_EQ(std::fclose(file), 0);
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  CBoxDataLineReader reader(file);
  std::string line;
  bool tooLong = false;
  ASSERT_TRUE(reader.Next(&line, &tooLong));
  EXPECT_TRUE(tooLong);
  EXPECT_EQ(line, std::string(kBoxDataMaxLine, 'x'));
  // The whole file went through, and the line never grew with it.
  EXPECT_EQ(reader.BytesRead(), kMegabytes << 20);
  EXPECT_LT(line.capacity(), 4096u);
  EXPECT_FALSE(reader.Next(&line, &tooLong));
  std::fclose(file);
}

// ---------------------------------------------------------------------------------------------
// Purge.

std::vector<CDetection> Reads(const std::string& chip, std::initializer_list<int> msAfterTen) {
  std::vector<CDetection> found;
  for (int ms : msAfterTen) {
    CChrono abs = BoxTime("20120513", "10:00:00.000") + CChrono(ms / 1000, ms % 1000);
    found.emplace_back(CChrono(36000 + ms / 1000, ms % 1000), abs, chip, chip);
  }
  return found;
}

TEST(PurgeTest, CloseReadsChainFromTheLastVisited) {
  std::vector<CDetection> found = Reads("A", {0, 30, 60});
  ASSERT_TRUE(PurgeRepeatedDetections(found, 50));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].timeOfDay, CChrono(36000, 0));

  found = Reads("A", {0, 30, 60});
  ASSERT_TRUE(PurgeRepeatedDetections(found, 25));
  EXPECT_EQ(found.size(), 3u);

  found = Reads("A", {60, 0, 0, 30});
  ASSERT_TRUE(PurgeRepeatedDetections(found, 0));
  EXPECT_EQ(found.size(), 4u);
}

// Found by fuzzing: reads 79 years apart (a box clock set to 1933) overflowed the difference
// of their times, and the later read was purged as a repeat of the earlier one.
TEST(PurgeTest, ReadsDecadesApartAreNeverRepeats) {
  std::vector<CDetection> found = Reads("A", {0, 5000, 5020});
  found[0].absTime = BoxTime("19330513", "10:00:02.074");
  ASSERT_TRUE(PurgeRepeatedDetections(found, 50));
  ASSERT_TRUE(SortDetectionsByTime(found));
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[1].timeOfDay, CChrono(36005, 0));  // its 20 ms repeat is still one
}

TEST(PurgeTest, OtherChipsAndLongDelaysAreComparedAsDurations) {
  std::vector<CDetection> found = Reads("B", {0, 1200});
  std::vector<CDetection> other = Reads("A", {10});
  found.insert(found.end(), other.begin(), other.end());
  // 1.2 s apart with a 1.5 s delay: a repeat.
  ASSERT_TRUE(PurgeRepeatedDetections(found, 1500));
  ASSERT_TRUE(SortDetectionsByTime(found));
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].chip, "B");
  EXPECT_EQ(found[1].chip, "A");
}

// ---------------------------------------------------------------------------------------------
// Scan and search.

class ImportSearchTest : public ::testing::Test {
 protected:
  ImportSearchTest() {
    m_settings.SetRaceDayDates({"20120512", "20120513", "20120514", "20120515"});
    m_settings.GVarnexIgnoreInputMsDelta = 50;
  }

  ImportSearchOutcome Search(const std::string& content, const std::string& from,
                             const std::string& to, bool showAbnormal = false) {
    WriteFile(m_file, content);
    ImportSearchInput input;
    input.year = 2012;
    input.month = 5;
    input.day = 13;
    input.startText = from;
    input.endText = to;
    input.fileField = m_file;
    input.showAbnormal = showAbnormal;
    ImportSearchServices services{m_chips, m_settings};
    services.sound = &m_sound;
    services.callbacks.info = [this](const std::string& text) { m_info.push_back(text); };
    services.callbacks.progress = [this](const std::string& text) {
      m_progress.push_back(text);
      return !m_cancel;
    };
    return RunImportSearch(input, services);
  }

  bool Shown(const std::string& text) const {
    for (const std::string& line : m_info) {
      if (line == text) {
        return true;
      }
    }
    return false;
  }

  TempDir m_dir;
  std::string m_file = m_dir.File("data.csv");
  AppSettings m_settings;
  CChipTable m_chips;
  KeepingSound m_sound;
  std::vector<std::string> m_info;
  std::vector<std::string> m_progress;
  bool m_cancel = false;
};

TEST_F(ImportSearchTest, StartEqualToEndKeepsOnlyThatInstant) {
  ImportSearchOutcome outcome = Search(
      "C1,2012-05-13 09:59:59.999,x,y\n"
      "C2,2012-05-13 10:00:00.000,x,y\r\n"
      "C3,2012-05-13 10:00:00.001,x,y\n",
      "10:00:00", "10:00:00");
  ASSERT_TRUE(outcome.check.ok) << outcome.check.message;
  EXPECT_EQ(outcome.check.correctionIndex, 1);
  ASSERT_EQ(outcome.scan.found.size(), 1u);
  EXPECT_EQ(outcome.scan.found[0].chip, "C2");
  EXPECT_EQ(outcome.scan.found[0].bib, "C2");
  EXPECT_EQ(outcome.scan.lines, 3);
  EXPECT_EQ(outcome.headers[0], StrF(Tr(kMsgImportHeaderFile).c_str(), m_file.c_str()));
  EXPECT_EQ(outcome.headers[1], StrF(Tr(kMsgImportHeaderRange).c_str(),
                                     BoxTime("20120513", "10:00:00.000").FormatLongDate().c_str(),
                                     "10:00:00", "10:00:00"));
  EXPECT_TRUE(Shown(outcome.headers[0]));
  EXPECT_TRUE(Shown(StrF(Tr(kMsgImportSuitableFound).c_str(), 1, "", "", "")));
  EXPECT_TRUE(Shown(StrF(Tr(kMsgImportAfterPurge).c_str(), 1, 50)));
  EXPECT_TRUE(Shown(Tr(kMsgImportScanDone)));
}

TEST_F(ImportSearchTest, EachDayGetsItsSummaryAndFoundListIsPurgedInTimeOrder) {
  ImportSearchOutcome outcome = Search(
      "B,2012-05-13 10:00:05.000,x,y\n"
      "A,2012-05-13 10:00:01.000,x,y\n"
      "A,2012-05-13 10:00:01.030,x,y\n"
      "A,2012-05-14 08:00:00.000,x,y\n"
      "A,2012-05-14 09:30:00.000,x,y\n",
      "00:00:00", "23:59:59");
  ASSERT_TRUE(outcome.check.ok);
  ASSERT_EQ(outcome.scan.found.size(), 2u);
  EXPECT_EQ(outcome.scan.found[0].chip, "A");
  EXPECT_EQ(outcome.scan.found[1].chip, "B");
  EXPECT_EQ(outcome.scan.beforePurge, 3);
  std::string day13 = BoxTime("20120513", "12:00:00.000").FormatLongDate();
  std::string day14 = BoxTime("20120514", "12:00:00.000").FormatLongDate();
  EXPECT_TRUE(Shown(StrF(Tr(kMsgImportDayFirst).c_str(), day13.c_str(), "10:00:05")));
  EXPECT_TRUE(
      Shown(StrF(Tr(kMsgImportDaySummary).c_str(), day13.c_str(), "10:00:05", "10:00:01", 3)));
  EXPECT_TRUE(
      Shown(StrF(Tr(kMsgImportDaySummary).c_str(), day14.c_str(), "08:00:00", "09:30:00", 2)));
  EXPECT_TRUE(Shown(StrF(Tr(kMsgImportSuitableFound).c_str(), 3, "s", "s", "s")));
  EXPECT_TRUE(Shown(StrF(Tr(kMsgImportBeforePurge).c_str(), 3)));
  EXPECT_TRUE(Shown(StrF(Tr(kMsgImportAfterPurge).c_str(), 2, 50)));
}

TEST_F(ImportSearchTest, UnknownChipsAreListedFourAtMost) {
  ASSERT_TRUE(m_chips.AddChipEntry("KNOWN", 42));
  m_settings.GVarnexIgnoreUnknownTags = 1;
  std::string content = "known,2012-05-13 10:00:00.000,x,y\n";
  for (int i = 1; i <= 5; ++i) {
    content += StrF("U%d,2012-05-13 10:00:0%d.000,x,y\n", i, i);
  }
  content += "U1,2012-05-13 11:00:00.000,x,y\n";
  ImportSearchOutcome outcome = Search(content, "00:00:00", "23:59:59", true);
  ASSERT_EQ(outcome.scan.found.size(), 1u);
  EXPECT_EQ(outcome.scan.found[0].bib, "42");
  EXPECT_EQ(outcome.scan.rejectedUnknown, 6);
  EXPECT_TRUE(Shown(StrF(Tr(kMsgImportUnknownChip).c_str(), "U3")));
  EXPECT_TRUE(Shown(StrF(Tr(kMsgImportRejectedUnknown).c_str(), 6, "s", "s")));
  const char* list = "  U1  U2  U3  U4  ...";
  EXPECT_TRUE(Shown(BuildLanguage() == Language::kEnglish
                        ? StrF(Tr(kMsgImportChipsNotFound).c_str(), 5, "s", list)
                        : StrF(Tr(kMsgImportChipsNotFound).c_str(), 5, "s", "s", list)));
  EXPECT_EQ(StrF(TrIn(Language::kEnglish, kMsgImportChipsNotFound).c_str(), 5, "s", list),
            std::string("* 5 chips not found in OSTRATABLE.DTB: ") + list);
  EXPECT_EQ(m_sound.played, std::vector<int>{kSoundWarning});
}

TEST_F(ImportSearchTest, RefusedLinesAreShownOnRequestAndNeverStopTheScan) {
  std::string longLine(520, 'x');
  // The end of an overlong line looks like a detection: it must not be taken for one.
  longLine += ",C9,2012-05-13 10:00:09.000,x,y";
  // Nor the end of a last line that never ends.
  std::string endless(3u << 20, 'y');
  endless += ",C8,2012-05-13 10:00:08.000,x,y";
  ImportSearchOutcome outcome =
      Search("garbage\n" + longLine +
                 "\nC1,2012-05-13 10:00:00.000,x,y\n,2012-05-13 10:00:01.000,x,y\n" + endless,
             "00:00:00", "23:59:59", true);
  ASSERT_EQ(outcome.scan.found.size(), 1u);
  EXPECT_EQ(outcome.scan.found[0].chip, "C1");
  EXPECT_EQ(outcome.scan.lines, 5);
  EXPECT_TRUE(Shown(
      StrF(Tr(kMsgImportInvalidLine).c_str(), Tr(kMsgImportUnknownFormat).c_str(), "garbage")));
  // Overlong lines are echoed cut, whatever their length.
  const std::string tooLong = StrF(Tr(kMsgImportLineTooLong).c_str(), 511);
  EXPECT_TRUE(Shown(StrF(Tr(kMsgImportInvalidLine).c_str(), tooLong.c_str(),
                         (std::string(197, 'x') + "...").c_str())));
  EXPECT_TRUE(Shown(StrF(Tr(kMsgImportInvalidLine).c_str(), tooLong.c_str(),
                         (std::string(197, 'y') + "...").c_str())));
  // A line without a chip is not a detection.
  EXPECT_TRUE(Shown(StrF(Tr(kMsgImportInvalidLine).c_str(), Tr(kMsgImportUnknownFormat).c_str(),
                         ",2012-05-13 10:00:01.000,x,y")));
  m_info.clear();
  outcome = Search("garbage\n", "00:00:00", "23:59:59", false);
  EXPECT_FALSE(Shown(
      StrF(Tr(kMsgImportInvalidLine).c_str(), Tr(kMsgImportUnknownFormat).c_str(), "garbage")));
  EXPECT_TRUE(Shown(Tr(kMsgImportNoneFound)));
}

TEST_F(ImportSearchTest, ProgressEveryHundredLinesAndCancelStopsReading) {
  std::string content;
  for (int i = 0; i < 250; ++i) {
    content += StrF("C%d,2012-05-13 10:00:00.000,x,y\n", i);
  }
  ImportSearchOutcome outcome = Search(content, "00:00:00", "23:59:59");
  EXPECT_EQ(outcome.scan.found.size(), 250u);
  ASSERT_FALSE(m_progress.empty());
  EXPECT_EQ(m_progress[0], StrF(Tr(kMsgImportScanProgress).c_str(), 100, 99, "s", "s"));

  m_progress.clear();
  m_cancel = true;
  outcome = Search(content, "00:00:00", "23:59:59");
  EXPECT_TRUE(outcome.scan.cancelled);
  EXPECT_EQ(outcome.scan.found.size(), 99u);
  EXPECT_EQ(m_progress.size(), 1u);
}

TEST_F(ImportSearchTest, SearchChecksComeInOrder) {
  ImportSearchOutcome outcome = Search("", "10:xx", "also bad");
  EXPECT_FALSE(outcome.check.ok);
  EXPECT_EQ(outcome.check.faultyField, ImportField::kStartTime);
  EXPECT_EQ(outcome.check.message, Tr(kMsgImportStartInvalid));
  EXPECT_EQ(outcome.check.dateText, "13/05/2012");

  outcome = Search("", "10:00:00", "");
  EXPECT_EQ(outcome.check.faultyField, ImportField::kEndTime);
  EXPECT_EQ(outcome.check.message, Tr(kMsgImportEndInvalid));

  // A date that is no calendar day, or one the time values cannot hold, says so.
  ImportSearchInput dated{2012, 2, 30, "00:00:00", "23:59:59", m_file};
  ImportSearchServices plain{m_chips, m_settings};
  outcome = RunImportSearch(dated, plain);
  EXPECT_FALSE(outcome.check.ok);
  EXPECT_EQ(outcome.check.faultyField, ImportField::kDate);
  EXPECT_EQ(outcome.check.message, StrF(Tr(kMsgImportDateInvalid).c_str(), "30/02/2012"));
  dated.month = 13;
  dated.day = 1;
  EXPECT_EQ(RunImportSearch(dated, plain).check.faultyField, ImportField::kDate);
  dated.year = 2200;
  dated.month = 2;
  EXPECT_EQ(RunImportSearch(dated, plain).check.faultyField, ImportField::kDate);
  dated.year = 2012;
  dated.day = 29;  // a leap day
  EXPECT_TRUE(RunImportSearch(dated, plain).check.ok);

  ImportSearchInput input;
  input.year = 2012;
  input.month = 6;
  input.day = 1;
  input.startText = "00:00:00";
  input.endText = "23:59:59";
  input.fileField = m_dir.File("missing.csv");
  ImportSearchServices services{m_chips, m_settings};
  outcome = RunImportSearch(input, services);
  EXPECT_FALSE(outcome.check.ok);
  EXPECT_EQ(outcome.check.faultyField, ImportField::kFile);
  EXPECT_EQ(outcome.check.message,
            StrF(Tr(kMsgImportFileMissing).c_str(), input.fileField.c_str()));
  EXPECT_EQ(outcome.check.correctionIndex, 0);

  // A URL that cannot be fetched ends the same way, with no temporary file left.
  input.fileField = "http://127.0.0.1:1/currentData.csv";
  std::string madePath;
  services.download = [&](const std::string&, const std::string& path, std::string* error) {
    madePath = path;
    WriteFile(path, "partial");
    *error = "_GetInternetFile: refused";
    return false;
  };
  TempDir tempRoot;
  EventQueue events;
  Logger log(events);
  Folders folders(tempRoot.path(), tempRoot.path());
  TempFiles tempFiles(folders, log, tempRoot.path());
  services.tempFiles = &tempFiles;
  services.callbacks.info = [this](const std::string& text) { m_info.push_back(text); };
  outcome = RunImportSearch(input, services);
  EXPECT_EQ(outcome.check.faultyField, ImportField::kFile);
  EXPECT_TRUE(Shown("_GetInternetFile: refused"));
  ASSERT_FALSE(madePath.empty());
  EXPECT_FALSE(std::filesystem::exists(madePath));
}

TEST_F(ImportSearchTest, DownloadedFileIsScannedThenRemoved) {
  TempDir tempRoot;
  EventQueue events;
  Logger log(events);
  Folders folders(tempRoot.path(), tempRoot.path());
  TempFiles tempFiles(folders, log, tempRoot.path());
  ImportSearchInput input{2012, 5, 13, "00:00:00", "23:59:59", "http://box/currentData.csv"};
  ImportSearchServices services{m_chips, m_settings, &tempFiles};
  std::string madePath;
  services.download = [&](const std::string& url, const std::string& path, std::string*) {
    EXPECT_EQ(url, "http://box/currentData.csv");
    madePath = path;
    WriteFile(path, "C1,2012-05-13 10:00:00.000,x,y\n");
    return true;
  };
  ImportSearchOutcome outcome = RunImportSearch(input, services);
  ASSERT_TRUE(outcome.check.ok);
  EXPECT_EQ(outcome.scan.found.size(), 1u);
  EXPECT_NE(madePath.find("DORIX-data-"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(madePath));
}

// ---------------------------------------------------------------------------------------------
// Dialog lists and closing checks.

TEST(ImportDialogChecksTest, BoxIdListAndAnnouncedIds) {
  std::vector<std::string> entries = ImportBoxIdEntries();
  ASSERT_EQ(entries.size(), 22u);
  EXPECT_EQ(entries[0], "31     CLASSIC");
  EXPECT_EQ(entries[1], "10     ");
  EXPECT_EQ(entries[21], "30     ");
  EXPECT_EQ(ImportBoxIdOfEntry(entries[0]), "31");
  EXPECT_EQ(ImportBoxIdOfEntry(entries[1]), "10");
  EXPECT_EQ(ImportBoxIdDisplay(entries[1], {}), "10     ");
  EXPECT_EQ(ImportBoxIdDisplay(entries[1], {"31", "10"}), "10     ");
  EXPECT_EQ(ImportBoxIdDisplay(entries[2], {"31", "10"}), "11      (?)");
}

TEST(ImportDialogChecksTest, SavePathRules) {
  EXPECT_EQ(ImportOutputPath("out.txt"), "out.txt.kol");
  EXPECT_EQ(ImportOutputPath("out.KOL"), "out.KOL");
  EXPECT_EQ(ImportOutputPath("out.Kol"), "out.Kol");
  EXPECT_EQ(ImportOutputPath("kol"), "kol.kol");

  ImportSaveCheck check = CheckImportSave("");
  EXPECT_FALSE(check.ok);
  EXPECT_EQ(check.message, Tr(kMsgImportNoOutput));

  TempDir dir;
  WriteFile(dir.File("old.kol"), "1\t31\t5\t1\t10:00:00.00\t1\r\n");
  check = CheckImportSave(dir.File("new.txt"));
  EXPECT_TRUE(check.ok);
  EXPECT_EQ(check.path, dir.File("new.txt.kol"));
  EXPECT_FALSE(check.exists);
  check = CheckImportSave(dir.File("old.kol"));
  EXPECT_TRUE(check.exists);
  EXPECT_EQ(check.overwriteQuestion,
            StrF(Tr(kMsgImportOverwrite).c_str(), dir.File("old.kol").c_str()));
  std::string message;
  EXPECT_TRUE(RemoveImportOutput(check.path, &message));
  EXPECT_FALSE(std::filesystem::exists(check.path));
}

// ---------------------------------------------------------------------------------------------
// Waiting for a box to pack its data.

TEST(PackWaitTest, AStaleResultDoesNotEndTheWaitBeforeTheBoxAnswers) {
  std::atomic<int> state{2};  // succeeded, from an earlier pack
  int pumps = 0;
  int sent = 0;
  PackWaitSteps steps;
  steps.packState = &state;
  steps.send = [&] {
    ++sent;
    return true;
  };
  steps.pumpAndSleep = [&] {
    if (++pumps == 3) {
      state = 2;  // the box thread handles packDataResult ok
    }
  };
  EXPECT_EQ(WaitForBoxPack(steps), PackWaitResult::kSucceeded);
  EXPECT_EQ(sent, 1);
  EXPECT_EQ(pumps, 3);
  EXPECT_EQ(state, 0);

  pumps = 0;
  steps.pumpAndSleep = [&] { state = 3; };
  EXPECT_EQ(WaitForBoxPack(steps), PackWaitResult::kFailed);
  EXPECT_EQ(state, 3);
}

TEST(PackWaitTest, ABoxThatNeverAnswersOrGoesAwayEndsTheWait) {
  std::atomic<int> state{0};
  PackWaitSteps steps;
  steps.packState = &state;
  steps.send = [] { return true; };
  int pumps = 0;
  steps.pumpAndSleep = [&] { ++pumps; };
  steps.maxPumps = 5;
  EXPECT_EQ(WaitForBoxPack(steps), PackWaitResult::kTimedOut);
  EXPECT_EQ(pumps, 5);
  EXPECT_EQ(state, 0);

  steps.connected = [&] { return pumps < 7; };
  steps.maxPumps = 100;
  EXPECT_EQ(WaitForBoxPack(steps), PackWaitResult::kLost);

  steps.send = [] { return false; };
  EXPECT_EQ(WaitForBoxPack(steps), PackWaitResult::kNotSent);
  EXPECT_EQ(state, 0);
  EXPECT_EQ(BoxCurrentDataUrl("192.168.1.21"), "http://192.168.1.21/currentData.csv");
}

// ---------------------------------------------------------------------------------------------
// Import command.

class ImportCommandTest : public ::testing::Test {
 protected:
  ImportCommandTest() {
    m_log.SetPostingEnabled(true);
    m_settings.GVarnexIgnoreInputMsDelta = 50;
    m_records.OpenDetectionFile(m_incoming);
  }

  ImportRequest Request(ImportAction action, std::vector<CDetection> found, int k = 0) {
    ImportRequest request;
    request.action = action;
    request.found = std::move(found);
    request.headers = {"Import Varnex detections from file x", "range"};
    request.boxId = "31";
    request.correctionIndex = k;
    request.outputPath = m_dir.File("out.kol");
    return request;
  }

  ImportCommandOutcome Run(ImportRequest& request) {
    ImportCommandServices services{m_log, m_intake, m_records, m_settings};
    services.progress = [this](const std::string& text) {
      m_progress.push_back(text);
      return !m_cancel;
    };
    return RunImportCommand(request, services);
  }

  std::vector<std::string> Logs() {
    std::vector<std::string> texts;
    m_events.Dispatch([&](const Event& event) {
      if (const auto* line = std::get_if<LogLineEvent>(&event)) {
        texts.push_back(line->text);
      }
    });
    return texts;
  }

  TempDir m_dir;
  std::string m_incoming = m_dir.File("incoming.dat");
  EventQueue m_events;
  Logger m_log{m_events};
  AppSettings m_settings;
  KeepingSound m_sound;
  ManualClock m_clock{0, 1000};
  CChipTable m_chips;
  CRecordedDetections m_records{m_log};
  DetectionIntake m_intake{m_log,   m_events, m_settings, &m_sound,
                           m_clock, m_chips,  m_records,  nullptr};
  std::vector<std::string> m_progress;
  bool m_cancel = false;
};

TEST_F(ImportCommandTest, ReplayIntoTheFileBoxAppliesTheRepeatFilter) {
  // The boxes were disconnected: the file was closed, and the replay opens it again.
  m_records.CloseDetectionFile();
  ImportRequest request = Request(ImportAction::kReplay, Reads("7", {0, 10}), 1);
  ImportCommandOutcome outcome = Run(request);
  ASSERT_TRUE(m_records.FlushDetectionFile());
  EXPECT_EQ(outcome.done, 2);
  EXPECT_EQ(outcome.recorded, 1);
  EXPECT_TRUE(request.found.empty());
  std::vector<CKolResult> records = m_records.Snapshot();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].detectorLabel, "31");
  EXPECT_EQ(records[0].timeText, "34:00:00.00");
  EXPECT_EQ(ReadFile(m_incoming), "1\t31\t7\t1\t34:00:00.00\t1\r\n");
  std::vector<std::string> logs = Logs();
  auto has = [&](const std::string& text) {
    return std::find(logs.begin(), logs.end(), text) != logs.end();
  };
  EXPECT_TRUE(has("+++ Import Varnex detections from file x"));
  EXPECT_TRUE(has(StrF(Tr(kMsgImportToReplay).c_str(), 2, "31")));
  EXPECT_TRUE(has(StrF(Tr(kMsgImportHoursAdded).c_str(), 24)));
  EXPECT_TRUE(has(Tr(kMsgImportDoneReplay)));
  bool fileBoxNamed = false;
  for (const std::string& text : logs) {
    fileBoxNamed = fileBoxNamed || text.find("[file:0 31]") != std::string::npos;
  }
  EXPECT_TRUE(fileBoxNamed);
}

TEST_F(ImportCommandTest, ImportAddsRecordsWithoutWritingTheIncomingFile) {
  m_settings.BAbsClock = 1;
  ImportRequest request = Request(ImportAction::kImport, Reads("7", {0, 10}));
  ImportCommandOutcome outcome = Run(request);
  EXPECT_EQ(outcome.recorded, 2);
  std::vector<CKolResult> records = m_records.Snapshot();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].kindMarker, 1);
  EXPECT_EQ(records[0].detectorLabel, "31");
  EXPECT_EQ(ReadFile(m_incoming), "");
  std::vector<std::string> logs = Logs();
  EXPECT_NE(std::find(logs.begin(), logs.end(), Tr(kMsgImportDoneImport)), logs.end());
}

// A cancel stops between two detections: those handled are recorded, the others stay for
// another command, and the log says how far it went instead of "done".
TEST_F(ImportCommandTest, CancelledImportKeepsWhatWasAddedAndSaysHowFar) {
  std::vector<CDetection> found;
  for (int i = 0; i < 25; ++i) {
    found.push_back(Reads(StrF("%d", i), {i * 10})[0]);
  }
  ImportRequest request = Request(ImportAction::kImport, found);
  m_cancel = true;
  ImportCommandOutcome outcome = Run(request);
  EXPECT_TRUE(outcome.cancelled);
  EXPECT_FALSE(outcome.failed);
  EXPECT_EQ(outcome.done, 10);
  std::vector<CKolResult> records = m_records.Snapshot();
  ASSERT_EQ(records.size(), 10u);
  EXPECT_EQ(records[9].bibText, "9");
  ASSERT_EQ(request.found.size(), 15u);
  EXPECT_EQ(request.found[0].bib, "10");
  std::vector<std::string> logs = Logs();
  EXPECT_NE(
      std::find(logs.begin(), logs.end(), StrF(Tr(kMsgImportCancelled).c_str(), 10, 25, "s", "s")),
      logs.end());
  EXPECT_EQ(std::find(logs.begin(), logs.end(), Tr(kMsgImportDoneImport)), logs.end());
}

TEST_F(ImportCommandTest, SaveAppendsNumberedLinesWithProgressAndCancel) {
  std::vector<CDetection> found;
  for (int i = 0; i < 25; ++i) {
    std::vector<CDetection> one = Reads(StrF("%d", i), {i * 10});
    found.push_back(one[0]);
  }
  ImportRequest request = Request(ImportAction::kSave, found, 2);
  m_cancel = true;
  ImportCommandOutcome outcome = Run(request);
  EXPECT_TRUE(outcome.cancelled);
  EXPECT_EQ(outcome.done, 10);
  EXPECT_EQ(request.found.size(), 15u);
  EXPECT_EQ(m_progress,
            std::vector<std::string>{StrF(Tr(kMsgImportProgressSave).c_str(), 10, 25, "s", "s")});
  std::string saved = ReadFile(request.outputPath);
  EXPECT_EQ(saved.find("1\t31\t0\t1\t58:00:00.00\t1\r\n"), 0u);
  EXPECT_NE(saved.find("10\t31\t9\t1\t58:00:00.09\t1\r\n"), std::string::npos);
  EXPECT_EQ(ReadFile(m_incoming), "");
  EXPECT_TRUE(m_records.Snapshot().empty());

  // Absolute-clock lines carry the absolute time text with their marker 2.
  m_settings.BAbsClock = 1;
  m_cancel = false;
  ImportRequest again = Request(ImportAction::kSave, Reads("5", {0}));
  again.outputPath = m_dir.File("abs.kol");
  Run(again);
  CChrono abs = BoxTime("20120513", "10:00:00.000");
  EXPECT_EQ(ReadFile(again.outputPath), StrF("1\t31\t5\t1\t%d.0\t2\r\n", abs.Seconds()));
}

TEST_F(ImportCommandTest, SaveToAnUnwritablePathReportsAndStillEnds) {
  ImportRequest request = Request(ImportAction::kSave, Reads("7", {0}));
  request.outputPath = m_dir.File("no/such/folder/out.kol");
  ImportCommandOutcome outcome = Run(request);
  EXPECT_TRUE(outcome.failed);
  std::string text = StrF(Tr(kMsgImportCreateError).c_str(), request.outputPath.c_str());
  EXPECT_EQ(outcome.errorMessage, text);
  std::vector<std::string> logs = Logs();
  EXPECT_NE(std::find(logs.begin(), logs.end(), text), logs.end());
  EXPECT_EQ(request.found.size(), 1u);
}

}  // namespace
}  // namespace lapora
