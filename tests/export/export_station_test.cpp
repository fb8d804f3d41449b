// The station's side of the detection-lines export: the one-second step runs the background
// export, the button writes every recorded detection to the export file, the window menu opens
// the dialog through the front end, and the console's "export" command runs it headless.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "console/console_front_end.h"
#include "export/detection_lines_export.h"
#include "foundation/sound.h"
#include "foundation/text.h"
#include "resources/messages_export_dialog.h"
#include "station/recording_front_end.h"
#include "station/station.h"
#include "support/station_rig.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

namespace fs = std::filesystem;

class ExportStationTest : public ::testing::Test, public testing::StationRig {
 protected:
  ExportStationTest() : testing::StationRig(1'700'000'000'000) {}
  void SetUp() override {
    station = std::make_unique<Station>(Parts(), front);
    station->Open();
    out = dir.File("out");
    fs::create_directories(out);
  }
  void TearDown() override {
    if (station && station->IsOpen()) {
      front.ctrlDown = true;
      EXPECT_TRUE(station->Close());
    }
    station.reset();
  }
  void Add(const std::string& label, const std::string& bib, const std::string& time) {
    CChrono race;
    ASSERT_TRUE(race.ParseTimeHundredths(time));
    (void)records.AddDetectionRecord(label, bib, CChrono(), race, 0, false);
  }
  bool LogHas(const std::string& text) {
    station->DrainEvents();
    const auto& lines = station->LogLines();
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
      return line.find(text) != std::string::npos;
    });
  }

  testing::RecordingFrontEnd front;
  std::unique_ptr<Station> station;
  std::string out;
};

TEST_F(ExportStationTest, ExportStepRunsTheBackgroundExportOnePeriodLater) {
  Add("FIN", "1", "10:00:00.00");
  store.WriteSettingText(kExportLinesSection, "Delta", "0:0:0");
  store.WriteSettingText(kExportLinesSection, "ExportPath", out);
  store.WriteSettingBool(kBackgroundExportSection, "BExport", true);
  station->OnTimer(Station::kTimerExportStep);
  EXPECT_FALSE(fs::exists(out + "/export-FIN-1.kol"));
  clock.Advance(2 * 60'000 + 1);
  station->OnTimer(Station::kTimerExportStep);
  EXPECT_TRUE(fs::exists(out + "/export-FIN-1.kol"));
  ASSERT_EQ(front.timers.count(Station::kTimerExportStep), 1u);
  EXPECT_TRUE(front.timers[Station::kTimerExportStep].oneShot);
  EXPECT_EQ(front.messages.size(), 0u);  // silent
}

TEST_F(ExportStationTest, ExportAllButtonWritesTheExportFile) {
  settings.GVarnexExportFile = dir.File("Lapora.kol");
  Add("FIN", "1", "10:00:00.00");
  sound.played.clear();
  station->Command(Button::kExportAll);
  EXPECT_EQ(testing::ReadFile(dir.File("Lapora.kol")), "1\tFIN\t1\t1\t10:00:00.00\t1\r\n");
  EXPECT_TRUE(LogHas(StrF(Tr(kMsgExportAllDone).c_str(), dir.File("Lapora.kol").c_str())));
  EXPECT_NE(std::find(sound.played.begin(), sound.played.end(), kSoundDone), sound.played.end());
}

TEST_F(ExportStationTest, WindowMenuOpensTheDialogThroughTheFrontEnd) {
  station->OpenExportDetectionLinesDialog();
  EXPECT_NE(std::find(front.calls.begin(), front.calls.end(), "RunExportDetectionLinesDialog"),
            front.calls.end());
}

TEST(ExportConsoleTest, ExportCommandRunsTheSavedExportAndPrintsTheMessage) {
  testing::StationRig rig;
  std::string out = rig.dir.File("out");
  fs::create_directories(out);
  rig.store.WriteSettingText(kExportLinesSection, "Delta", "0:0:0");
  rig.store.WriteSettingText(kExportLinesSection, "ExportPath", out);
  CChrono race(36000, 0);
  (void)rig.records.AddDetectionRecord("FIN", "1", CChrono(), race, 0, false);
  std::FILE* printed = std::tmpfile();
  ASSERT_NE(printed, nullptr);
  {
    ConsoleFrontEnd console(rig.events, -1, printed);
    Station station(rig.Parts(), console);
    console.Attach(station);
    console.RunCommand("export");
  }
  std::fflush(printed);
  std::rewind(printed);
  std::string text;
  char buffer[4096];
  std::size_t read = 0;
  while ((read = std::fread(buffer, 1, sizeof buffer, printed)) > 0) {
    text.append(buffer, read);
  }
  std::fclose(printed);
  EXPECT_TRUE(fs::exists(out + "/export-FIN-1.kol"));
  EXPECT_NE(text.find(Cp1252ToUtf8("message: " + Tr(kMsgExportDone))), std::string::npos) << text;
  EXPECT_NE(text.find(out + "/export-FIN-1.kol"), std::string::npos);
}

}  // namespace
}  // namespace lapora
