#include "export/detection_lines_export.h"

#include <gtest/gtest.h>
#include <minizip/unzip.h>
#include <sys/stat.h>
#include <utime.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "detections/recorded_detections.h"
#include "export/export_lines_dialog_model.h"
#include "export/ftp_jobs.h"
#include "export/zip_packing.h"
#include "foundation/clock.h"
#include "foundation/events.h"
#include "foundation/folders.h"
#include "foundation/log.h"
#include "foundation/settings_store.h"
#include "foundation/sound.h"
#include "resources/messages_export_dialog.h"
#include "support/read_only_folder.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class KeptSounds : public SoundPlayer {
 public:
  bool PlaySoundResource(int soundId) override {
    played.push_back(soundId);
    return true;
  }
  std::vector<int> played;
};

struct ZipEntry {
  std::string name;
  std::string content;
  tm_unz date{};
};

// The entries of an archive, read back with minizip's reader.
std::vector<ZipEntry> ReadZip(const std::string& path) {
  std::vector<ZipEntry> entries;
  unzFile zip = unzOpen(path.c_str());
  if (zip == nullptr) {
    ADD_FAILURE() << "cannot open " << path;
    return entries;
  }
  for (int err = unzGoToFirstFile(zip); err == UNZ_OK; err = unzGoToNextFile(zip)) {
    unz_file_info info{};
    char name[512] = {};
    EXPECT_EQ(unzGetCurrentFileInfo(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0), UNZ_OK);
    ZipEntry entry;
    entry.name = name;
    entry.date = info.tmu_date;
    EXPECT_EQ(info.compression_method, 8u) << name;  // deflate
    EXPECT_EQ(unzOpenCurrentFile(zip), UNZ_OK);
    char buffer[4096];
    int read = 0;
    while ((read = unzReadCurrentFile(zip, buffer, sizeof buffer)) > 0) {
      entry.content.append(buffer, static_cast<std::size_t>(read));
    }
    EXPECT_EQ(read, 0);
    EXPECT_EQ(unzCloseCurrentFile(zip), UNZ_OK);  // checks the CRC
    entries.push_back(entry);
  }
  unzClose(zip);
  return entries;
}

// Names of the entries of a folder, sorted.
std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class ExportLinesTest : public ::testing::Test {
 protected:
  ExportLinesTest() { log.SetPostingEnabled(true); }

  ExportEnvironment Env() {
    return ExportEnvironment{
        store, dir.path(), dir.File("FtpServers.dat"),
        [this](std::unique_ptr<CFtpJob> job) { jobs.push_back(std::move(job)); }};
  }
  CKolResult Add(const std::string& label, const std::string& bib, const std::string& time) {
    CChrono race;
    EXPECT_TRUE(race.ParseTimeHundredths(time)) << time;
    return records.AddDetectionRecord(label, bib, CChrono(), race, 0, false);
  }
  // D1: runners 1 and 2 with two passages each at most; D2: runner 7 with three passages.
  void AddTwoDetectors() {
    Add("D2", "7", "10:00:00.00");
    Add("D1", "1", "10:00:10.00");
    Add("D1", "2", "10:00:05.00");
    Add("D2", "7", "10:10:00.00");
    Add("D1", "1", "10:20:00.00");
    Add("D1", "1", "10:20:03.00");  // within the 6 s gap: dropped
    Add("D2", "7", "10:20:00.00");
    Add("D1", "2", "10:21:00.00");
  }
  std::vector<std::string> LogTexts() {
    std::vector<std::string> texts;
    events.Dispatch([&](const Event& event) {
      if (const auto* line = std::get_if<LogLineEvent>(&event)) {
        texts.push_back(line->text);
      }
    });
    return texts;
  }
  std::string Out() {
    std::string out = dir.File("out");
    fs::create_directories(out);
    return out;
  }
  ExportOutcome Export(const std::string& folder, int displayType, bool zip, bool ftp,
                       const std::string& gap = "00:00:06") {
    CWorkSnapshot snapshot;
    SnapshotDetections(records, "", snapshot);
    ExportOptions options;
    EXPECT_TRUE(options.minimumGap.ParseTimeHundredths(gap));
    options.displayType = displayType;
    options.folder = folder;
    options.genericName = "export";
    options.zip = zip;
    options.ftp = ftp;
    return ExportDetectionLinesNow(ListOf(snapshot), options, Env());
  }
  void WriteServers() {
    WriteFile(dir.File("FtpServers.dat"),
              "A\tftp.a.example\tua\tpa\t/in\r\nB\tftp.b.example\tub\tpb\t\r\n"
              "C\tftp.c.example\tuc\tpc\tx\r\n");
  }

  TempDir dir;
  SettingsStore store{dir.File("Lapora.ini")};
  EventQueue events;
  Logger log{events};
  CRecordedDetections records{log};
  std::vector<std::unique_ptr<CFtpJob>> jobs;
};

TEST_F(ExportLinesTest, TwoDetectorsGiveOneFilePerPassageAndTheDataText) {
  AddTwoDetectors();
  CExportLinesDialogModel model(records, Env());
  ASSERT_TRUE(model.TakeSnapshot());
  EXPECT_FALSE(model.HasRows());  // nothing is computed before "Filtrer"
  ASSERT_TRUE(model.Filter("00:00:06").Done());
  ASSERT_EQ(model.Rows().size(), 2u);
  EXPECT_EQ(model.FileCount(), 5);
  EXPECT_EQ(model.RowColumns(0),
            (std::array<std::string, 6>{"D1", "2", "4", "10:00:05.00", "2", "00:00:00.00"}));
  EXPECT_EQ(model.RowColumns(1),
            (std::array<std::string, 6>{"D2", "3", "3", "10:00:00.00", "7", "00:00:00.00"}));
  EXPECT_EQ(model.DataToExportText(),
            StrF(Tr(kMsgExportFileCount).c_str(), 5, "s", "s") + " - " + Tr(kMsgExportKindClock));
  model.SetDisplayType(2);
  EXPECT_EQ(model.DataToExportText(), "5 fichiers de d\xE9tections - Temps format LOGICA");

  std::string out = Out();
  CExportLinesDialogModel::ExportNowResult result =
      model.ExportNow(" 00:00:06 ", " " + out + " ", " export ", false, false);
  ASSERT_TRUE(result.ran) << result.warning;
  EXPECT_EQ(Listing(out), (std::vector<std::string>{"export-D1-1-ljk.txt", "export-D1-2-ljk.txt",
                                                    "export-D2-1-ljk.txt", "export-D2-2-ljk.txt",
                                                    "export-D2-3-ljk.txt"}));
  // The second passages at D1, by time; the compact form with its two header lines.
  EXPECT_EQ(ReadFile(out + "/export-D1-2-ljk.txt"),
            "dossard\ttemps\tcommentaire\r\ndossard\tperformancen\tcommentaire\r\n"
            "1\t102000\t\r\n2\t102100\t\r\n");
  std::string expected = Tr(kMsgExportDone);
  for (const char* name : {"D1-1", "D1-2", "D2-1", "D2-2", "D2-3"}) {
    expected += "\n  " + out + "/export-" + name + "-ljk.txt  ";
  }
  EXPECT_EQ(result.outcome.message, expected);
  EXPECT_TRUE(jobs.empty());

  // Raising the gap leaves one passage per runner: one file per detector.
  ASSERT_TRUE(model.Filter("01:00:00").Done());
  EXPECT_EQ(model.FileCount(), 2);
  EXPECT_EQ(model.DataToExportText(), "2 fichiers de d\xE9tections - Temps format LOGICA");
  // An unreadable gap keeps the rows.
  EXPECT_EQ(model.Filter("15:30").warning, Tr(kMsgExportInvalidGap));
  EXPECT_EQ(model.Rows().size(), 2u);
}

TEST_F(ExportLinesTest, NothingRecordedGivesNoRowsAndNoExport) {
  CExportLinesDialogModel model(records, Env());
  ASSERT_TRUE(model.TakeSnapshot());
  ASSERT_TRUE(model.Filter("0:0:0").Done());
  EXPECT_FALSE(model.HasRows());
  EXPECT_EQ(model.DataToExportText(), Tr(kMsgExportNoData));
  CExportLinesDialogModel::ExportNowResult result =
      model.ExportNow("0:0:0", Out(), "export", false, false);
  EXPECT_FALSE(result.ran);
  EXPECT_TRUE(result.warning.empty());
  EXPECT_TRUE(Listing(Out()).empty());

  // One file: no plural.
  Add("FIN", "3", "10:00:00.00");
  CExportLinesDialogModel one(records, Env());
  ASSERT_TRUE(one.TakeSnapshot());
  ASSERT_TRUE(one.Filter("0:0:0").Done());
  one.SetDisplayType(1);
  EXPECT_EQ(one.DataToExportText(), "1 fichier de d\xE9tection - Temps de passages");
}

TEST_F(ExportLinesTest, ExportNowChecksComeInOrder) {
  Add("FIN", "3", "10:00:00.00");
  CExportLinesDialogModel model(records, Env());
  ASSERT_TRUE(model.TakeSnapshot());
  ASSERT_TRUE(model.Filter("0:0:0").Done());
  auto warning = [&](const std::string& gap, const std::string& folder, const std::string& name,
                     bool ftp) { return model.ExportNow(gap, folder, name, false, ftp).warning; };
  EXPECT_EQ(warning("abc", "", "", true), Tr(kMsgExportInvalidGap));
  EXPECT_EQ(warning("0:0:0", "  ", "  ", true), Tr(kMsgExportNameMandatory));
  EXPECT_EQ(warning("0:0:0", "", "export", true), Tr(kMsgExportFolderMandatory));
  EXPECT_EQ(warning("0:0:0", Out(), "export", true), Tr(kMsgExportNoFtpSettings));
  EXPECT_TRUE(Listing(Out()).empty());  // nothing written by a refused export
  EXPECT_TRUE(model.ExportNow("0:0:0", Out(), "export", false, false).ran);
}

TEST_F(ExportLinesTest, DisplayTypesWriteClockPassageAndCompactTimes) {
  Add("FIN", "12", "10:15:30.27");
  CChrono handicap;
  ASSERT_TRUE(handicap.ParseTimeHundredths("10:00:00.00"));
  ASSERT_TRUE(WriteDetectorHandicap(store, "FIN", handicap));
  EXPECT_EQ(store.ReadSettingText(kExportLinesSection, "Handicap-FIN", ""), "10:00:00.00");

  std::string out = Out();
  ASSERT_EQ(Export(out, 0, false, false).createdFiles,
            std::vector<std::string>{out + "/export-FIN-1.kol"});
  EXPECT_EQ(ReadFile(out + "/export-FIN-1.kol"), "1\tFIN\t12\t1\t10:15:30.27\t1\r\n");
  ASSERT_EQ(Export(out, 1, false, false).createdFiles.size(), 1u);
  EXPECT_EQ(ReadFile(out + "/export-FIN-1.kol"), "1\tFIN\t12\t1\t00:15:30.27\t1\r\n");
  ASSERT_EQ(Export(out, 2, false, false).createdFiles,
            std::vector<std::string>{out + "/export-FIN-1-ljk.txt"});
  EXPECT_EQ(ReadFile(out + "/export-FIN-1-ljk.txt"),
            "dossard\ttemps\tcommentaire\r\ndossard\tperformancen\tcommentaire\r\n12\t1531\t\r\n");
  // A stored value other than 0 and 1 is the compact form.
  EXPECT_EQ(Export(out, 7, false, false).createdFiles,
            std::vector<std::string>{out + "/export-FIN-1-ljk.txt"});

  // The rows show the best time in the display type and the handicap.
  CExportLinesDialogModel model(records, Env());
  ASSERT_TRUE(model.TakeSnapshot());
  ASSERT_TRUE(model.Filter("0:0:0").Done());
  std::vector<std::string> best;
  for (int type : {0, 1, 2}) {
    model.SetDisplayType(type);
    best.push_back(model.RowColumns(0)[3]);
    EXPECT_EQ(model.RowColumns(0)[5], "10:00:00.00");
  }
  EXPECT_EQ(best, (std::vector<std::string>{"10:15:30.27", "00:15:30.27", "1531"}));
}

TEST_F(ExportLinesTest, HandicapIsRetimedAndResetAtOnce) {
  Add("FIN", "12", "10:15:30.27");
  CExportLinesDialogModel model(records, Env());
  ASSERT_TRUE(model.TakeSnapshot());
  ASSERT_TRUE(model.Filter("0:0:0").Done());
  HandicapRetiming retiming = model.RetimingFor(0);
  EXPECT_EQ(retiming.bib, "12");
  EXPECT_EQ(retiming.passNumber, 1);
  EXPECT_EQ(retiming.clockTime.FormatHundredths(), "10:15:30.27");
  ASSERT_FALSE(ApplyRetiming(retiming, "00:15:30.27"));
  EXPECT_EQ(model.SetHandicap(0, retiming.handicap), "");
  EXPECT_EQ(store.ReadSettingText(kExportLinesSection, "Handicap-FIN", ""), "10:00:00.00");
  EXPECT_EQ(model.RowColumns(0)[5], "10:00:00.00");
  // A new "Filtrer" reads it back from the settings.
  ASSERT_TRUE(model.Filter("0:0:0").Done());
  EXPECT_EQ(model.Rows()[0].handicap.FormatHundredths(), "10:00:00.00");
  EXPECT_EQ(model.ResetHandicap(0), "");
  EXPECT_EQ(store.ReadSettingText(kExportLinesSection, "Handicap-FIN", ""), "00:00:00.00");
  // An unreadable stored handicap counts as none.
  ASSERT_TRUE(store.WriteSettingText(kExportLinesSection, "Handicap-FIN", "soon"));
  ASSERT_TRUE(model.Filter("0:0:0").Done());
  EXPECT_FALSE(model.Rows()[0].handicap.IsSet());
}

TEST_F(ExportLinesTest, HandicapThatIsNotTheDetectorsOwnIsReported) {
  for (const char* label : {"D1", "D1 ", "FIN", "fin"}) {
    Add(label, "12", "10:15:30.27");
  }
  ASSERT_TRUE(store.WriteSettingText(kExportLinesSection, "Handicap-D1", "01:00:00.00"));
  CExportLinesDialogModel model(records, Env());
  ASSERT_TRUE(model.TakeSnapshot());
  ASSERT_TRUE(model.Filter("0:0:0").Done());
  std::vector<std::string> labels;
  for (const CStatLineEntry& row : model.Rows()) {
    labels.push_back(row.label);
  }
  ASSERT_EQ(labels, (std::vector<std::string>{"D1", "D1 ", "FIN", "fin"}));
  CChrono ten;
  ASSERT_TRUE(ten.ParseTimeHundredths("10:00:00.00"));

  // "Handicap-D1 " would be read back as D1's key: refused, and D1 keeps its handicap.
  EXPECT_EQ(model.SetHandicap(1, ten), StrF(Tr(kMsgExportHandicapNotStorable).c_str(), "D1 "));
  EXPECT_EQ(store.ReadSettingText(kExportLinesSection, "Handicap-D1", ""), "01:00:00.00");
  EXPECT_EQ(model.RowColumns(1)[5], "00:00:00.00");  // what the exports will use

  // "fin" and "FIN" are one key: stored, but the operator is told, and both rows show it.
  EXPECT_EQ(model.SetHandicap(3, ten), StrF(Tr(kMsgExportHandicapShared).c_str(), "fin", "FIN"));
  EXPECT_EQ(model.RowColumns(2)[5], "10:00:00.00");
  EXPECT_EQ(model.RowColumns(3)[5], "10:00:00.00");

  // A settings file that cannot be written.
  testing::ReadOnlyFolder locked(dir.File("locked"));
  if (locked.Usable()) {
    store.SetSettingsFile(locked.Path() + "/Lapora.ini");
    EXPECT_EQ(model.ResetHandicap(0), StrF(Tr(kMsgExportHandicapNotWritten).c_str(), "D1",
                                           (locked.Path() + "/Lapora.ini").c_str()));
    store.SetSettingsFile(dir.File("Lapora.ini"));
  }

  // An export in passage times says which detectors had no handicap of their own; one in clock
  // times, which uses none, does not.
  std::string out = Out();
  ExportOutcome outcome = Export(out, kDisplayPassageTime, false, false);
  EXPECT_EQ(outcome.warnings,
            (std::vector<std::string>{StrF(Tr(kMsgExportHandicapNotStorable).c_str(), "D1 "),
                                      StrF(Tr(kMsgExportHandicapShared).c_str(), "FIN", "fin"),
                                      StrF(Tr(kMsgExportHandicapShared).c_str(), "fin", "FIN")}));
  EXPECT_TRUE(outcome.message.ends_with("\n\n" + outcome.warnings.back()));
  EXPECT_TRUE(Export(out, kDisplayClockTime, false, false).warnings.empty());
}

TEST_F(ExportLinesTest, ZipLeavesOnlyTheArchiveWithOneEntryPerFile) {
  AddTwoDetectors();
  std::string out = Out();
  ExportOutcome outcome = Export(out, 0, true, false);
  ASSERT_TRUE(outcome.zipped);
  EXPECT_EQ(outcome.createdFiles, std::vector<std::string>{out + "/export.zip"});
  EXPECT_EQ(Listing(out), std::vector<std::string>{"export.zip"});
  std::vector<ZipEntry> entries = ReadZip(out + "/export.zip");
  std::vector<std::string> names;
  for (const ZipEntry& entry : entries) {
    names.push_back(entry.name);
  }
  EXPECT_EQ(names,
            (std::vector<std::string>{"export-D1-1.kol", "export-D1-2.kol", "export-D2-1.kol",
                                      "export-D2-2.kol", "export-D2-3.kol"}));
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[4].content, "1\tD2\t7\t1\t10:20:00.00\t1\r\n");
  EXPECT_EQ(outcome.message, Tr(kMsgExportDone) + "\n  " + out + "/export.zip  ");
}

TEST_F(ExportLinesTest, ZipKeepsWhatItDidNotWrite) {
  Add("FIN", "12", "10:15:30.27");
  std::string out = Out();
  // The sub-folder is a folder of the operator's that happens to bear the generic name.
  fs::create_directories(out + "/export");
  WriteFile(out + "/export/mine.txt", "keep me");
  ExportOutcome outcome = Export(out, 0, true, false);
  ASSERT_TRUE(outcome.zipped);
  EXPECT_EQ(Listing(out + "/export"), std::vector<std::string>{"mine.txt"});
  EXPECT_EQ(ReadFile(out + "/export/mine.txt"), "keep me");
  EXPECT_EQ(ReadZip(out + "/export.zip").size(), 1u);
}

TEST_F(ExportLinesTest, ZipFailureKeepsAndReportsTheFiles) {
  WriteServers();
  store.WriteSettingText(kExportLinesSection, "FtpServersList", "A");
  Add("FIN", "12", "10:15:30.27");
  Add("FIN", "12", "11:15:30.27");
  std::string out = Out();
  fs::create_directories(out + "/export.zip");  // the archive cannot be created
  ::testing::internal::CaptureStdout();
  ExportOutcome outcome = Export(out, 0, true, true);
  std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(printed, "zpZipFile: Error opening " + out + "/export.zip\n");
  EXPECT_FALSE(outcome.zipped);
  EXPECT_EQ(outcome.zipCode, kZipFailed);
  std::vector<std::string> files{out + "/export/export-FIN-1.kol",
                                 out + "/export/export-FIN-2.kol"};
  EXPECT_EQ(outcome.createdFiles, files);
  EXPECT_EQ(Listing(out + "/export"),
            (std::vector<std::string>{"export-FIN-1.kol", "export-FIN-2.kol"}));
  // The files are what is sent.
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_EQ(jobs[0]->localPath, files[0]);
  EXPECT_EQ(jobs[1]->remoteName, "export-FIN-2.kol");
  EXPECT_NE(outcome.message.find("\n  " + files[1] + "  "), std::string::npos);
  EXPECT_NE(outcome.message.find(
                StrF(Tr(kMsgExportZipFailed).c_str(), (out + "/export.zip").c_str(), kZipFailed)),
            std::string::npos);
}

TEST_F(ExportLinesTest, ZipEntryIsDatedWithTheFileTimeAndRemovedOnFailure) {
  std::string source = dir.File("results.txt");
  std::string content(20000, 'x');  // more than two blocks
  content += "end";
  WriteFile(source, content);
  std::tm local{};
  local.tm_year = 2021 - 1900;
  local.tm_mon = 5;
  local.tm_mday = 15;
  local.tm_hour = 14;
  local.tm_min = 30;
  local.tm_sec = 20;
  local.tm_isdst = -1;
  utimbuf times{std::mktime(&local), std::mktime(&local)};
  ASSERT_EQ(utime(source.c_str(), &times), 0);
  ASSERT_EQ(zpZipFile(source, dir.File("one.zip")), kZipOk);
  std::vector<ZipEntry> entries = ReadZip(dir.File("one.zip"));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "results.txt");
  EXPECT_EQ(entries[0].content, content);
  EXPECT_EQ(entries[0].date.tm_year, 2021u);
  EXPECT_EQ(entries[0].date.tm_mon, 5u);
  EXPECT_EQ(entries[0].date.tm_mday, 15u);
  EXPECT_EQ(entries[0].date.tm_hour, 14u);
  EXPECT_EQ(entries[0].date.tm_min, 30u);
  EXPECT_EQ(entries[0].date.tm_sec, 20u);  // DOS times have two-second steps

  // A source that cannot be read: the diagnostic, and no half-written archive.
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(zpZipFile(dir.File("missing.txt"), dir.File("two.zip")), kZipFailed);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "zpZipFile: Error in opening " + dir.File("missing.txt") + " for reading\n");
  EXPECT_FALSE(fs::exists(dir.File("two.zip")));
}

TEST_F(ExportLinesTest, FtpQueuesOneJobPerFileAndServerFileByFile) {
  WriteServers();
  CExportLinesDialogModel model(records, Env());
  ASSERT_TRUE(model.TakeSnapshot());
  model.SetFtpServers({"B", "A", "Z"});  // Z is in no servers file
  EXPECT_EQ(store.ReadSettingText(kExportLinesSection, "FtpServersList", ""), "B\\A\\Z");
  EXPECT_EQ(model.FtpTargetLabel(), "B, A, Z");
  EXPECT_EQ(model.FtpToolTip(), Tr(kMsgExportTransferTo) + "B, A, Z");
  Add("D2", "7", "10:00:00.00");
  Add("D2", "7", "10:10:00.00");
  Add("D2", "7", "10:20:00.00");
  std::string out = Out();
  ExportOutcome outcome = Export(out, 0, false, true);
  ASSERT_TRUE(outcome.ftpLaunched) << outcome.ftpError;
  ASSERT_EQ(jobs.size(), 6u);
  std::vector<std::string> seen;
  for (const auto& job : jobs) {
    seen.push_back(job->remoteName + "@" + job->site);
    EXPECT_EQ(job->localPath, out + "/" + job->remoteName);
    EXPECT_EQ(job->binary, 1);
    EXPECT_EQ(job->kind, CFtpJob::kKindUpload);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "export-D2-1.kol@ftp.b.example", "export-D2-1.kol@ftp.a.example",
                      "export-D2-2.kol@ftp.b.example", "export-D2-2.kol@ftp.a.example",
                      "export-D2-3.kol@ftp.b.example", "export-D2-3.kol@ftp.a.example"}));
  EXPECT_EQ(jobs[1]->directory, "/in");
  EXPECT_EQ(jobs[1]->user, "ua");
  EXPECT_TRUE(outcome.message.ends_with(Tr(kMsgExportFtpLaunched)));

  // Zipped: the archive alone goes, to each server.
  jobs.clear();
  outcome = Export(out, 0, true, true);
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_EQ(jobs[0]->remoteName, "export.zip");
}

TEST_F(ExportLinesTest, FtpLaunchFailuresAreReportedNotCalledLaunched) {
  Add("FIN", "12", "10:15:30.27");
  std::string out = Out();
  // No server selected.
  ExportOutcome outcome = Export(out, 0, false, true);
  EXPECT_FALSE(outcome.ftpLaunched);
  EXPECT_TRUE(
      outcome.message.ends_with(Tr(kMsgExportFtpLaunchError) + Tr(kMsgExportNoServerSelected)));
  // Selected, but no servers file.
  store.WriteSettingText(kExportLinesSection, "FtpServersList", "A");
  outcome = Export(out, 0, false, true);
  EXPECT_EQ(outcome.ftpError, Tr(kMsgExportNoServerDefined));
  // Selected labels none of which is defined: nothing queued, so not "launched".
  WriteServers();
  store.WriteSettingText(kExportLinesSection, "FtpServersList", "X\\Y");
  outcome = Export(out, 0, false, true);
  EXPECT_FALSE(outcome.ftpLaunched);
  EXPECT_EQ(outcome.ftpError, Tr(kMsgExportNoServerDefined));
  EXPECT_TRUE(jobs.empty());
  // The export files stay.
  EXPECT_EQ(Listing(out), std::vector<std::string>{"export-FIN-1.kol"});
  // No FTP target: the label and tool tip say so.
  EXPECT_EQ(FtpTargetText(""), Tr(kMsgExportNoFtpServer));
  EXPECT_EQ(FtpTargetToolTip(""), Tr(kMsgExportNoFtpSettings));
}

TEST_F(ExportLinesTest, AnExportWorksWithTheSettingsAsTheyStoodWhenItStarted) {
  WriteServers();
  Add("FIN", "12", "10:15:30.27");
  // Keys are matched without regard to case, as the settings store matches them.
  store.WriteSettingText(kExportLinesSection, "handicap-fin", "10:00:00.00");
  store.WriteSettingText(kExportLinesSection, "FtpServersList", "A");
  store.WriteSettingText(kFtpSettingsSection, "Password", "secret");
  ExportSettingsCopy copy = CopyExportSettings(Env());
  // Meanwhile the window changes them: the running export does not see it.
  ASSERT_TRUE(WriteDetectorHandicap(store, "FIN", CChrono()));
  EXPECT_FALSE(ReadDetectorHandicap(store, "FIN").IsSet());
  store.WriteSettingText(kExportLinesSection, "FtpServersList", "B");
  WriteFile(dir.File("FtpServers.dat"), "");
  EXPECT_EQ(CopiedDetectorHandicap(copy, "FIN"), CChrono(36000, 0));
  EXPECT_FALSE(CopiedDetectorHandicap(copy, "KM5").IsSet());  // none stored
  CWorkSnapshot snapshot;
  SnapshotDetections(records, "", snapshot);
  ExportOptions options;
  options.displayType = kDisplayPassageTime;
  options.folder = Out();
  options.genericName = "export";
  options.ftp = true;
  // Run as "Exporter maintenant" runs it: a job that says how far it got.
  ExportOutcome outcome;
  CProgressJob job("export", [&](CProgressJob& self) {
    outcome = ExportDetectionLinesNow(ListOf(snapshot), options, copy, &self);
  });
  job.Start();
  job.Join();
  EXPECT_EQ(ReadFile(options.folder + "/export-FIN-1.kol"), "1\tFIN\t12\t1\t00:15:30.27\t1\r\n");
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0]->site, "ftp.a.example");
  EXPECT_EQ(job.ProgressText(), StrF(Tr(kMsgExportProgress).c_str(), 1, 1, 1));
  EXPECT_EQ(job.ProgressSteps().done, 1);
  EXPECT_EQ(job.ProgressSteps().total, 1);
}

TEST_F(ExportLinesTest, ExportsRunningAtOnceTakeTurns) {
  Add("FIN", "1", "10:00:00.00");
  std::mutex turn;
  ExportEnvironment env = Env();
  env.exportTurn = &turn;
  const ExportSettingsCopy copy = CopyExportSettings(env);
  CWorkSnapshot snapshot;
  SnapshotDetections(records, "", snapshot);
  ExportOptions options;
  options.folder = Out();
  options.genericName = "export";
  std::unique_lock another(turn);  // another export is writing
  CExportRun run([&] { ExportDetectionLinesNow(ListOf(snapshot), options, copy); });
  EXPECT_FALSE(run.WaitFor(std::chrono::milliseconds(200)));
  EXPECT_FALSE(fs::exists(options.folder + "/export-FIN-1.kol"));
  another.unlock();
  run.WaitWithPump({});
  EXPECT_TRUE(fs::exists(options.folder + "/export-FIN-1.kol"));
}

TEST_F(ExportLinesTest, UnwritableFolderIsReportedAsAFailure) {
  Add("FIN", "12", "10:15:30.27");
  std::string missing = dir.File("no/such/folder");
  ExportOutcome outcome = Export(missing, 0, false, true);
  EXPECT_TRUE(outcome.failed);
  EXPECT_TRUE(outcome.createdFiles.empty());
  EXPECT_EQ(outcome.failedFiles, std::vector<std::string>{missing + "/export-FIN-1.kol"});
  EXPECT_EQ(outcome.message, StrF(Tr(kMsgExportNothingWritten).c_str(), missing.c_str()));
  EXPECT_TRUE(jobs.empty());
}

TEST_F(ExportLinesTest, LabelsAndNamesCannotLeaveTheExportFolder) {
  Add("../evil", "1", "10:00:00.00");
  Add("a\\b", "2", "10:00:00.00");
  Add("..", "3", "10:00:00.00");
  std::string out = Out();
  ExportOutcome outcome = Export(out, 0, false, false);
  EXPECT_EQ(outcome.createdFiles.size(), 3u);
  EXPECT_EQ(Listing(out), (std::vector<std::string>{"export-.._evil-1.kol", "export-__-1.kol",
                                                    "export-a_b-1.kol"}));
  std::vector<std::string> beside = Listing(dir.path());
  std::erase(beside, "Lapora.ini");
  EXPECT_EQ(beside, std::vector<std::string>{"out"});
  EXPECT_EQ(ReadFile(out + "/export-.._evil-1.kol"), "1\t../evil\t1\t1\t10:00:00.00\t1\r\n");
  // A generic name ".." with ZIP must not make the parent folder the sub-folder to empty.
  EXPECT_EQ(ExportTargetFolder(out, "..", true), out + "/__");
  EXPECT_EQ(ExportArchivePath(out, "a/b"), out + "/a_b.zip");
  EXPECT_EQ(SafeFileNamePart("D1"), "D1");
}

TEST_F(ExportLinesTest, LabelsThatWouldShareAFileNameGetDistinctNames) {
  // Sorted: "D1", "a/b", "a\\b", "a_b", "a_b~2", "d1".
  for (const char* label : {"a_b", "a/b", "a\\b", "a_b~2", "D1", "d1"}) {
    Add(label, "7", "10:00:00.00");
  }
  WriteServers();
  store.WriteSettingText(kExportLinesSection, "FtpServersList", "A");
  std::string out = Out();
  ExportOutcome outcome = Export(out, 0, false, true);
  // Labels that are names as they stand keep them; "d1" would overwrite "D1" where letter case
  // does not count (a FAT stick, a Windows FTP server).
  const std::vector<std::string> names{"export-D1-1.kol",    "export-a_b-1.kol",
                                       "export-a_b~2-1.kol", "export-a_b~3-1.kol",
                                       "export-a_b~4-1.kol", "export-d1~2-1.kol"};
  EXPECT_EQ(Listing(out), names);
  EXPECT_EQ(ReadFile(out + "/export-a_b-1.kol"), "1\ta_b\t7\t1\t10:00:00.00\t1\r\n");
  EXPECT_EQ(ReadFile(out + "/export-a_b~3-1.kol"), "1\ta/b\t7\t1\t10:00:00.00\t1\r\n");
  EXPECT_EQ(ReadFile(out + "/export-a_b~4-1.kol"), "1\ta\\b\t7\t1\t10:00:00.00\t1\r\n");
  EXPECT_EQ(ReadFile(out + "/export-d1~2-1.kol"), "1\td1\t7\t1\t10:00:00.00\t1\r\n");
  // Each file goes once.
  std::vector<std::string> sent;
  for (const auto& job : jobs) {
    sent.push_back(job->remoteName);
  }
  std::sort(sent.begin(), sent.end());
  EXPECT_EQ(sent, names);

  // The next export gives every detector the same name again.
  Add("a/b", "8", "11:00:00.00");
  outcome = Export(out, 0, false, false);
  EXPECT_EQ(Listing(out), names);
  EXPECT_EQ(ReadFile(out + "/export-a_b~3-1.kol"),
            "1\ta/b\t7\t1\t10:00:00.00\t1\r\n2\ta/b\t8\t1\t11:00:00.00\t1\r\n");
}

TEST_F(ExportLinesTest, ReplacedArchiveStaysWholeForWhoeverHasItOpen) {
  Add("FIN", "12", "10:15:30.27");
  std::string out = Out();
  ASSERT_TRUE(Export(out, 0, true, false).zipped);
  const std::string archive = out + "/export.zip";
  const std::string archiveBefore = ReadFile(archive);
  std::ifstream archiveReader(archive, std::ios::binary);  // an upload of it, under way
  ASSERT_TRUE(archiveReader.is_open());
  Add("FIN", "14", "10:15:50.00");
  ASSERT_TRUE(Export(out, 0, true, false).zipped);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(archiveReader), {}), archiveBefore);
  std::vector<ZipEntry> entries = ReadZip(archive);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_NE(entries[0].content.find("\t14\t"), std::string::npos);

  // A file that cannot take its place (a folder holds its name) leaves no temporary file.
  fs::create_directories(out + "/export-FIN-2.kol/x");
  Add("FIN", "12", "11:15:30.27");
  ExportOutcome outcome = Export(out, 0, false, false);
  EXPECT_EQ(outcome.failedFiles, std::vector<std::string>{out + "/export-FIN-2.kol"});
  EXPECT_EQ(Listing(out),
            (std::vector<std::string>{"export-FIN-1.kol", "export-FIN-2.kol", "export.zip"}));
}

TEST_F(ExportLinesTest, ClosingWritesTheFieldsAndTheReadablePeriod) {
  CExportLinesDialogModel model(records, Env());
  ASSERT_TRUE(model.TakeSnapshot());
  EXPECT_EQ(model.Opened().exportPath, dir.path());  // the program folder by default
  EXPECT_EQ(model.Opened().genericFilename, "export");
  EXPECT_EQ(model.Opened().delta, "");
  EXPECT_EQ(model.Opened().exportPeriodMinutes, 2);
  ExportDialogFields fields{"0:0:6", "/tmp/x", "race", true, true, 1, "15", true};
  model.Close(fields);
  ExportSettings saved = ReadExportSettings(store, dir.path());
  EXPECT_EQ(saved.delta, "0:0:6");
  EXPECT_EQ(saved.exportPath, "/tmp/x");
  EXPECT_EQ(saved.genericFilename, "race");
  EXPECT_TRUE(saved.ftpExport);
  EXPECT_TRUE(saved.zip);
  EXPECT_EQ(saved.displayType, 1);
  EXPECT_EQ(saved.exportPeriodMinutes, 15);  // outside the spin's range, saved as typed
  EXPECT_TRUE(saved.backgroundExport);
  EXPECT_EQ(store.ReadSettingText(kBackgroundExportSection, "BExport", ""), "1");
  EXPECT_EQ(ReadPeriodText("abc"), 2);
  EXPECT_EQ(ReadPeriodText("0"), 2);
  EXPECT_EQ(ReadPeriodText("-3"), 2);
  EXPECT_EQ(ReadPeriodText(" 7min"), 7);
}

TEST_F(ExportLinesTest, BackgroundTickRunsOnePeriodAfterSwitchingOn) {
  ManualClock clock(1'700'000'000'000);
  CBackgroundExport background;
  int runs = 0;
  // Each run is waited for before the next step, as a window would find it ended a second later.
  auto tick = [&] {
    bool due = background.BackgroundExportTick(store, clock, [&] {
      return CBackgroundExport::Start{{}, [&] {
                                        ++runs;
                                        return std::string();
                                      }};
    });
    background.WaitForRun();
    return due;
  };
  EXPECT_FALSE(tick());  // off
  EXPECT_FALSE(background.LastExportTime().IsSet());
  store.WriteSettingBool(kBackgroundExportSection, "BExport", true);
  store.WriteSettingInt(kBackgroundExportSection, "ExportPeriodMinutes", 0);  // counts as 2
  EXPECT_FALSE(tick());  // switched on: the clock starts
  EXPECT_TRUE(background.LastExportTime().IsSet());
  clock.Advance(120'000);
  EXPECT_FALSE(tick());  // exactly one period: not yet
  clock.Advance(10);
  EXPECT_TRUE(tick());
  EXPECT_EQ(runs, 1);
  clock.Advance(60'000);
  EXPECT_FALSE(tick());
  clock.Advance(61'000);
  EXPECT_TRUE(tick());
  EXPECT_EQ(runs, 2);
  // Off for a while, then on again: one whole period before the next run.
  store.WriteSettingBool(kBackgroundExportSection, "BExport", false);
  clock.Advance(600'000);
  EXPECT_FALSE(tick());
  store.WriteSettingBool(kBackgroundExportSection, "BExport", true);
  EXPECT_FALSE(tick());
  clock.Advance(121'000);
  EXPECT_TRUE(tick());
  EXPECT_EQ(runs, 3);
  // A period beyond the spin's range is minutes all the same.
  store.WriteSettingInt(kBackgroundExportSection, "ExportPeriodMinutes", 90);
  clock.Advance(89 * 60'000);
  EXPECT_FALSE(tick());
  clock.Advance(61'000);
  EXPECT_TRUE(tick());
}

TEST_F(ExportLinesTest, BackgroundExportUsesTheSavedSettingsOnly) {
  AddTwoDetectors();
  std::string out = Out();
  store.WriteSettingText(kExportLinesSection, "ExportPath", out);
  // The saved gap is empty by default: nothing happens.
  EXPECT_FALSE(RunBackgroundExport(records, Env()).empty());
  EXPECT_TRUE(Listing(out).empty());
  store.WriteSettingText(kExportLinesSection, "Delta", "00:00:06");
  store.WriteSettingBool(kExportLinesSection, "BFtpExport", true);
  EXPECT_FALSE(RunBackgroundExport(records, Env()).empty());  // FTP without a target
  EXPECT_TRUE(Listing(out).empty());
  store.WriteSettingBool(kExportLinesSection, "BFtpExport", false);
  store.WriteSettingBool(kExportLinesSection, "BZip", true);
  ExportOutcome outcome;
  EXPECT_EQ(RunBackgroundExport(records, Env(), &outcome), "");
  EXPECT_TRUE(outcome.message.empty());  // silent
  EXPECT_EQ(Listing(out), std::vector<std::string>{"export.zip"});
  EXPECT_EQ(ReadZip(out + "/export.zip").size(), 5u);
  // A detection recorded later is in the next run.
  Add("D3", "9", "11:00:00.00");
  EXPECT_EQ(RunBackgroundExport(records, Env(), &outcome), "");
  EXPECT_EQ(ReadZip(out + "/export.zip").size(), 6u);
}

TEST_F(ExportLinesTest, ExportAllWritesValidDetectionsLogsAndPlays) {
  KeptSounds sounds;
  std::string path = dir.File("Lapora.kol");
  EXPECT_FALSE(ExportAllRecordedDetections(records, path, log, &sounds));  // none recorded
  EXPECT_FALSE(fs::exists(path));
  Add("FIN", "1", "10:00:00.00");
  CKolResult removed = Add("FIN", "2", "10:00:01.00");
  Add("MID", "3", "10:00:02.00");
  ASSERT_TRUE(records.SetValid(removed.id, 0));
  LogTexts();
  ASSERT_TRUE(ExportAllRecordedDetections(records, path, log, &sounds));
  EXPECT_EQ(ReadFile(path), "1\tFIN\t1\t1\t10:00:00.00\t1\r\n2\tMID\t3\t1\t10:00:02.00\t1\r\n");
  EXPECT_EQ(LogTexts(),
            std::vector<std::string>{StrF(Tr(kMsgExportAllDone).c_str(), path.c_str())});
  EXPECT_EQ(sounds.played, std::vector<int>{kSoundDone});
  // A file that cannot be written is said, and nothing is played.
  std::string bad = dir.File("no/such/Lapora.kol");
  EXPECT_FALSE(ExportAllRecordedDetections(records, bad, log, &sounds));
  EXPECT_EQ(LogTexts(),
            std::vector<std::string>{StrF(Tr(kMsgExportAllFailed).c_str(), bad.c_str())});
  EXPECT_EQ(sounds.played.size(), 1u);
  // A file of several megabytes, written piece by piece, holds every line once, in order.
  std::string expected = "1\tFIN\t1\t1\t10:00:00.00\t1\r\n2\tMID\t3\t1\t10:00:02.00\t1\r\n";
  for (int n = 3; n <= 120'000; ++n) {
    CKolResult record = Add("D" + std::to_string(n % 7), std::to_string(n), "11:00:00.00");
    expected += FormatDetectionLine(n, record);
  }
  ASSERT_TRUE(ExportAllRecordedDetections(records, path, log, &sounds));
  EXPECT_EQ(ReadFile(path), expected);
}

}  // namespace
}  // namespace lapora
