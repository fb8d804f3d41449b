#include "console/console_front_end.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "boxlink/box_slots.h"
#include "detections/chip_table.h"
#include "detections/recorded_detections.h"
#include "foundation/clock.h"
#include "foundation/events.h"
#include "foundation/log.h"
#include "foundation/settings_store.h"
#include "foundation/sound.h"
#include "resources/messages_boxslots.h"
#include "resources/messages_import.h"
#include "resources/messages_listops.h"
#include "resources/messages_station.h"
#include "station/station.h"
#include "support/loopback_peer.h"
#include "support/station_rig.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

using testing::ReadFile;
using testing::RefusedPort;

class ConsoleFrontEndTest : public ::testing::Test, public testing::StationRig {
 protected:
  ConsoleFrontEndTest() : StationRig(1781000000000) {
    EXPECT_EQ(pipe(input), 0);
    out = std::fopen(dir.File("out.txt").c_str(), "w+b");
    console = std::make_unique<ConsoleFrontEnd>(events, input[0], out);
    station = std::make_unique<Station>(Parts(), *console);
    console->Attach(*station);
    station->Open();
  }
  ~ConsoleFrontEndTest() override {
    station.reset();
    console.reset();
    close(input[0]);
    if (input[1] >= 0) {
      close(input[1]);
    }
    std::fclose(out);
  }

  // Types the lines, ends the input and runs the loop until the station closes.
  void RunTyped(const std::string& lines) {
    ASSERT_EQ(write(input[1], lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
    close(input[1]);
    input[1] = -1;
    EXPECT_EQ(console->Run(std::nullopt), 0);
  }

  // Types the first lines, then the rest once the output holds waitFor (the typist reads the
  // output file, which every printed line reaches at once), and runs the loop until the
  // station closes: the rest must close it.
  void RunTypedAfter(const std::string& first, const std::string& waitFor,
                     const std::string& rest) {
    ASSERT_EQ(write(input[1], first.data(), first.size()), static_cast<ssize_t>(first.size()));
    int typing = input[1];
    std::string outPath = dir.File("out.txt");
    std::thread typist([typing, outPath, waitFor, rest] {
      auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (ReadFile(outPath).find(waitFor) == std::string::npos &&
             std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      (void)!write(typing, rest.data(), rest.size());
    });
    EXPECT_EQ(console->Run(std::nullopt), 0);
    typist.join();
  }

  std::string Output() {
    std::fflush(out);
    return ReadFile(dir.File("out.txt"));
  }

  int input[2] = {-1, -1};
  std::FILE* out = nullptr;
  std::unique_ptr<ConsoleFrontEnd> console;
  std::unique_ptr<Station> station;
};

TEST_F(ConsoleFrontEndTest, PrintsListsInUtf8AndQuitAnswersItsOwnQuestion) {
  events.Post(DetectionItemEvent{CLogDetectionItem{"10:00:01\tBox 1\t# 12", {}}});
  station->AddSummaryEntry(CSummaryItem{Utf8ToCp1252("Jérôme"), 12, "10:00:01", "2", "3/40", 0});
  station->AddSummaryEntry(CSummaryItem{"Paul", 0, "10:00:02", "1", "DNF", 1});
  RunTyped("quit\n");

  std::string text = Output();
  EXPECT_NE(text.find("detection: 10:00:01\tBox 1\t# 12\n"), std::string::npos);
  EXPECT_NE(text.find("result: 12\tJérôme\t10:00:01\t2\t3/40\n"), std::string::npos);
  EXPECT_NE(text.find("result: \tPaul\t10:00:02\t1\tDNF\n"), std::string::npos);
  // The opening's log lines, in UTF-8 (the French build's accents come out as UTF-8).
  EXPECT_NE(text.find(Cp1252ToUtf8(StrF(Tr(Message{"+++ Incoming detections saved in %s",
                                                   "+++ Détections sauvegardées sous %s"})
                                            .c_str(),
                                        dir.File("Lapora-test.dat").c_str()))),
            std::string::npos);
  EXPECT_NE(text.find("question: " + Cp1252ToUtf8(Tr(kMsgExitQuestion)) + "\nanswer: Yes\n"),
            std::string::npos);
  EXPECT_FALSE(station->IsOpen());
  EXPECT_EQ(sound.played, std::vector<int>{kSoundExit});
  EXPECT_NE(ReadFile(dir.File("Lapora.log")).find("------------------------ Sortie Lapora"),
            std::string::npos);
}

TEST_F(ConsoleFrontEndTest, CommandsDriveTheStation) {
  RunTyped(
      "help\n"
      "scroll off\n"
      "detections off\n"
      "level 25\n"
      "level 33\n"
      "bogus\n"
      "manual\n"
      "status\n"
      "clear log\n"
      "exit");  // no final line end: the end of input still ends the line

  std::string text = Output();
  for (const char* command : {"quit", "clear", "scroll", "detections", "level", "status"}) {
    EXPECT_NE(text.find(std::string("  ") + command), std::string::npos) << command;
  }
  EXPECT_EQ(store.ReadSettingInt("Settings", "BScrollDetections", -1), 0);
  EXPECT_EQ(store.ReadSettingInt("Settings", "BLogDetections", -1), 0);
  EXPECT_EQ(store.ReadSettingInt("Settings", "LogWinLevel", -1), 25);
  EXPECT_NE(text.find("+ Log level set to 25\n"), std::string::npos);
  EXPECT_NE(text.find("usage: level 0|25|50|75|100\n"), std::string::npos);
  EXPECT_NE(text.find("unknown command: bogus"), std::string::npos);
  EXPECT_NE(text.find("message: " + Cp1252ToUtf8(Tr(kMsgHelpNotFound)) + "\n"), std::string::npos);
  EXPECT_NE(text.find("counter: "), std::string::npos);
  EXPECT_NE(text.find("box 1: grey"), std::string::npos);
  EXPECT_EQ(sound.played.front(), static_cast<int>(kSoundDone));  // the cleared log
  EXPECT_TRUE(station->LogLines().empty() || station->LogLines().size() < 3);
  EXPECT_FALSE(station->IsOpen());
}

TEST_F(ConsoleFrontEndTest, BoxAndDetectionCommands) {
  ASSERT_TRUE(store.WriteSettingText("OstraBoxes", "BoxHost0", "127.0.0.1"));
  ASSERT_TRUE(store.WriteSettingInt("OstraBoxes", "BoxPort0", RefusedPort()));
  ASSERT_TRUE(store.WriteSettingText("OstraBoxes", "BoxIdDetector0", "31"));
  settings.GVarnexConnectionTimeout = 1;
  station->BoxSlots().LoadBoxConfigs();
  // "connect" returns at once; its outcome is typed for once it has come.
  RunTypedAfter(
      "help\n"
      "insert 007 10:05:30.5 31 24\n"
      "insert 8 10:06:00 31\n"
      "insert abc 10:00:00 31\n"
      "insert 5 10:00:00 99\n"
      "insert 5 10:00:00 31 12\n"
      "insert 5\n"
      "remove 1 42\n"
      "remove x\n"
      "restore 1\n"
      "box 1 gun\n"
      "box 9 gun\n"
      "connect now\n"
      "connect\n",
      Cp1252ToUtf8(Tr(kMsgNoBoxInitialized)),
      "status\n"
      "forget-all\n"
      "quit\n");

  std::string text = Output();
  auto has = [&](const std::string& part) { return text.find(part) != std::string::npos; };
  auto msg = [](const Message& message) { return Cp1252ToUtf8(Tr(message)); };
  for (const char* usage :
       {"  insert BIB TIME DETECTOR [HOURS]", "  remove ID...", "  restore ID...", "  forget-all",
        "  connect ", "  sync-clocks", "  show-clocks",
        "  box N connect|disconnect|open C|stop C|accept|dismiss|clear|"}) {
    EXPECT_TRUE(has(usage)) << usage;
  }
  EXPECT_TRUE(has("inserted: id 1\n"));
  EXPECT_TRUE(has("inserted: id 2\n"));
  EXPECT_TRUE(has("message: " + msg(kMsgInvalidBib) + "\n"));
  EXPECT_TRUE(has("message: " + msg(kMsgNoDetectorId) + "\n"));
  EXPECT_TRUE(has("insert: HOURS is 0, 24, 48 or 72, not \"12\"\n"));
  EXPECT_TRUE(has("usage: insert BIB TIME DETECTOR [HOURS]\n"));
  EXPECT_TRUE(has("unknown detection id: 42\nremoved: 1 recorded detection\n"));
  EXPECT_TRUE(has("usage: remove ID... (record ids, not \"x\")\n"));
  EXPECT_TRUE(has("restored: 1 recorded detection\n"));
  // Box commands: a greyed item is refused, a bad one gets the usage.
  EXPECT_TRUE(has(Cp1252ToUtf8(StrF(Tr(kMsgConsoleBoxItemDisabled).c_str(), 1, "box 1 gun"))));
  EXPECT_TRUE(has(Cp1252ToUtf8(StrF(Tr(kMsgConsoleBoxUsage).c_str(), "box 9 gun"))));
  EXPECT_TRUE(has("usage: connect (no arguments)\n"));
  EXPECT_TRUE(has("message: " + msg(kMsgNoBoxInitialized) + "\n"));
  EXPECT_TRUE(has("box 1: red "));
  EXPECT_TRUE(has("connect to boxes: released, clock buttons: disabled\n"));
  // forget-all is typed: its question (No by default) is answered Yes.
  EXPECT_TRUE(has("question: " + msg(kMsgForgetAllQuestion) + "\nanswer: Yes\n"));
  EXPECT_TRUE(has(Cp1252ToUtf8(StrF(Tr(kMsgResetDone).c_str(), 2, "s"))));

  // Both manual detections went to the first file; the reset started another one.
  std::string first = ReadFile(dir.File("Lapora-test.dat"));
  EXPECT_EQ(first.rfind("1\t31\t7\t1\t", 0), 0u) << first;
  EXPECT_NE(first.find("2\t31\t8\t1\t"), std::string::npos);
  EXPECT_NE(station->IncomingDetectionsPath(), dir.File("Lapora-test.dat"));
}

// A typed import searches the file as the dialog would and carries out its action through
// the Station; a save never replaces an existing file.
TEST_F(ConsoleFrontEndTest, ImportCommandSearchesThenImportsOrSaves) {
  std::string data = dir.File("box.csv");
  testing::WriteFile(data,
                     "E2001,2026-06-09 10:00:00.120,x,y\n"
                     "E2002,2026-06-09 10:30:00.000,x,y\n"
                     "E2003,2026-06-09 12:00:00.000,x,y\n"
                     "garbage\n");
  std::string saved = dir.File("saved.kol");
  testing::WriteFile(dir.File("taken.kol"), "already here\r\n");
  RunTyped("import " + data + " 2026-06-09 10:00:00 11:00:00 12 import\n" + "import " + data +
           " 2026-06-09 10:00:00 11:00:00 12 save " + dir.File("saved") + "\n" + "import " + data +
           " 2026-06-09 10:00:00 11:00:00 12 save " + dir.File("taken.kol") + "\n" + "import " +
           data + " 09/06/2026 10:00 11:00 12 import\n" + "import " + data +
           " 2026-06-09 10:00:00 11:00:00 12 save\n" + "quit\n");
  std::string text = Output();
  auto has = [&](const std::string& part) { return text.find(part) != std::string::npos; };
  // Two detections in the span, imported under box id 12; the rejected line is shown.
  EXPECT_TRUE(has(Cp1252ToUtf8(StrF(Tr(kMsgImportToImport).c_str(), 2, "12")))) << text;
  EXPECT_TRUE(has(Cp1252ToUtf8(Tr(kMsgImportDoneImport))));
  EXPECT_TRUE(has("garbage"));
  // The save appended ".kol" and wrote two detection lines.
  std::string lines = ReadFile(saved);
  EXPECT_EQ(lines.rfind("1\t12\t", 0), 0u) << lines;
  EXPECT_NE(lines.find("\r\n2\t12\t"), std::string::npos) << lines;
  // The existing file is kept; the bad date and the missing output get their answers.
  EXPECT_EQ(ReadFile(dir.File("taken.kol")), "already here\r\n");
  EXPECT_TRUE(has(" -> No\n")) << text;
  EXPECT_TRUE(has("import: the date is YYYY-MM-DD, not \"09/06/2026\"\n"));
  EXPECT_TRUE(has("usage: import FILE YYYY-MM-DD FROM TO BOXID replay|import|save [OUT]\n"));
}

TEST_F(ConsoleFrontEndTest, QuestionsOutsideACommandTakeTheirDefault) {
  EXPECT_FALSE(console->AskYesNo("Really?", MessageIcon::kQuestion, false));
  EXPECT_TRUE(console->AskYesNo("Sure?", MessageIcon::kQuestion, true));
  std::string text = Output();
  EXPECT_NE(text.find("question: Really?\nanswer: No\n"), std::string::npos);
  EXPECT_NE(text.find("question: Sure?\nanswer: Yes\n"), std::string::npos);
}

TEST_F(ConsoleFrontEndTest, DurationClosesAsWithCtrlAndTimersRun) {
  // Day tracking runs from the loop's timers: with no race-day date matching, it stays at 0.
  settings.GDaysToAdd = 2;
  station->UpdateLongRaceIndicator();
  EXPECT_TRUE(console->HasTimer(Station::kTimerDayTracking));
  EXPECT_EQ(console->Run(std::chrono::milliseconds(700)), 0);
  EXPECT_FALSE(station->IsOpen());
  std::string text = Output();
  EXPECT_EQ(text.find("question:"), std::string::npos);  // no question, no sound
  EXPECT_TRUE(sound.played.empty());
  EXPECT_NE(text.find("long race: +48h\n"), std::string::npos);
  EXPECT_NE(text.find("long race: -\n"), std::string::npos);  // day tracking ran
  EXPECT_EQ(settings.GDaysToAdd, 0);
}

TEST_F(ConsoleFrontEndTest, EventsPostedByAnotherThreadAreAllShownBeforeQuitting) {
  constexpr int kItems = 2000;
  std::thread worker([this] {
    for (int i = 0; i < kItems; ++i) {
      events.Post(DetectionItemEvent{CLogDetectionItem{"item " + std::to_string(i), {}}});
    }
    // Typed only once every item is queued: quitting handles what is queued first.
    const char quit[] = "quit\n";
    EXPECT_EQ(write(input[1], quit, sizeof quit - 1), static_cast<ssize_t>(sizeof quit - 1));
  });
  EXPECT_EQ(console->Run(std::nullopt), 0);
  worker.join();
  std::string text = Output();
  EXPECT_NE(text.find("detection: item 0\n"), std::string::npos);
  EXPECT_NE(text.find("detection: item 1999\n"), std::string::npos);
  EXPECT_EQ(station->DetectionItems().size(), static_cast<std::size_t>(kItems));
}

}  // namespace
}  // namespace lapora
