#include "detections/box_data_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/settings_store.h"
#include "foundation/text.h"
#include "resources/messages_download.h"
#include "support/simulator_process.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

using testing::SimulatorProcess;
using testing::TempDir;

const std::string kBase = "http://server/cgi/det.php";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

TEST(BoxListingTest, KeepsOnlyWellFormedLinesAndRemovesCarriageReturns) {
  std::string listing =
      "12;day1.csv;42;13/05/2012;10:23:45\r\n"
      "12;short.csv;3;13/05/2012\r\n"          // four fields
      "12;six.csv;3;13/05/2012;10:00:00;x\n"   // six fields
      "12;nan.csv;many;13/05/2012;10:00:00\n"  // count not a number
      "12;part.csv;4x;13/05/2012;10:00:00\n"   // count not a whole number
      "12;neg.csv;-1;13/05/2012;10:00:00\n"    // negative count
      ";noname.csv;1;13/05/2012;10:00:00\n"    // no box
      "\n"
      "7;day2.csv;0;14/05/2012;08:00:00";  // last line without a line end
  std::vector<CDetectionFile> files = ParseBoxListing(listing, kBase);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].box, "12");
  EXPECT_EQ(files[0].fileName, "day1.csv");
  EXPECT_EQ(files[0].detections, 42);
  EXPECT_EQ(files[0].date, "13/05/2012");
  EXPECT_EQ(files[0].time, "10:23:45");
  EXPECT_EQ(files[0].address, kBase + "/getDataFile/12/day1.csv");
  EXPECT_EQ(files[1].box, "7");
  EXPECT_EQ(files[1].detections, 0);
  EXPECT_EQ(files[1].time, "08:00:00");
}

TEST(BoxListingTest, BoxSelectorRepeatsABoxWhoseLinesAreSplit) {
  std::vector<CDetectionFile> files =
      ParseBoxListing("12;a.csv;1;d;t\n12;b.csv;1;d;t\n7;c.csv;1;d;t\n12;e.csv;1;d;t\n", kBase);
  EXPECT_EQ(ListingBoxes(files), (std::vector<std::string>{"12", "7", "12"}));
}

TEST(BoxAddressTest, NamesAreEncodedAndRemovalReplacesOnlyTheFilePart) {
  EXPECT_EQ(ServerBase("  http://host/path/// "), "http://host/path");
  EXPECT_EQ(BoxFileAddress(kBase, "12", "day1.csv"), kBase + "/getDataFile/12/day1.csv");
  EXPECT_EQ(BoxFileAddress(kBase, "1 2", "../a/b?c#d.csv"),
            kBase + "/getDataFile/1%202/..%2Fa%2Fb%3Fc%23d.csv");
  EXPECT_EQ(RemoveAddressOf(kBase + "/getDataFile/12/day1.csv"),
            kBase + "/removeDataFile/12/day1.csv");
  // A base address or names that hold the word itself are left alone.
  std::string odd = "http://getDataFile/getDataFile";
  EXPECT_EQ(RemoveAddressOf(BoxFileAddress(odd, "getDataFile", "getDataFile")),
            odd + "/removeDataFile/getDataFile/getDataFile");
  EXPECT_EQ(RemoveAddressOf("http://host/other/12/day1.csv"), "");
  EXPECT_EQ(RemoveAddressOf("nothing"), "");
}

TEST(BoxAddressTest, LocalPathStaysInsideTheFolder) {
  EXPECT_EQ(LocalDownloadPath("/data", "day1.csv"), "/data/LVX_day1.csv");
  EXPECT_EQ(LocalDownloadPath("/data/", "../../etc/x"), "/data/LVX_.._.._etc_x");
  EXPECT_EQ(LocalDownloadPath("/data", "..\\x"), "/data/LVX_.._x");
  EXPECT_EQ(LocalDownloadPath("/data", ".."), "/data/LVX_..");
}

TEST(BoxListingTest, EntryTextInBothLanguages) {
  CDetectionFile file;
  file.fileName = "a";
  file.detections = 5;
  file.date = "13/05/2012";
  file.time = "10:23:45";
  EXPECT_EQ(StrF(TrIn(Language::kEnglish, kMsgDownloadEntry).c_str(), file.fileName.c_str(),
                 file.detections, file.date.c_str(), file.time.c_str()),
            " a  : \t Detections: 5\t 13/05/2012\t 10:23:45");
  EXPECT_EQ(TrIn(Language::kFrench, kMsgDownloadEntry),
            Utf8ToCp1252(" %-3s: \t Détections: %d\t %s\t %s"));
  EXPECT_EQ(DetectionFileEntry(file),
            StrF(Tr(kMsgDownloadEntry).c_str(), "a", 5, "13/05/2012", "10:23:45"));
}

TEST(BoxFilesSettingsTest, DefaultsAndWrites) {
  TempDir dir;
  SettingsStore store(dir.File("Lapora.ini"));
  DownloadSettings settings = ReadDownloadSettings(store, "/home/me/Documents");
  EXPECT_EQ(settings.lastBox, "");
  EXPECT_EQ(settings.lastFile, "");
  EXPECT_EQ(settings.folder, "/home/me/Documents/VARNEX");
  EXPECT_EQ(ReadServerUrl(store), "");

  EXPECT_TRUE(WriteServerUrl(store, " http://host/s.php "));
  WriteDownloadSelection(store, "12", "day1.csv");
  WriteDownloadFolder(store, "/data");
  EXPECT_EQ(WriteChosenFolder(store, "/picked/"), "/picked");

  SettingsStore again(dir.File("Lapora.ini"));
  EXPECT_EQ(ReadServerUrl(again), "http://host/s.php");
  settings = ReadDownloadSettings(again, "/x");
  EXPECT_EQ(settings.lastBox, "12");
  EXPECT_EQ(settings.lastFile, "day1.csv");
  EXPECT_EQ(settings.folder, "/data");
  EXPECT_EQ(again.ReadSettingText("DownloadRaceResult", "DownloadRaceResultPath", ""), "/picked");
}

// The dialog's state over a listing, with the HTTP reads answering from memory.
TEST(BoxFilesModelTest, SelectionFollowsRememberedBoxAndFile) {
  CBoxFilesModel model(kBase + "/", "7", "c.csv");
  model.SetListing("12;a.csv;1;d;t\n12;b.csv;0;d;t\n7;c.csv;3;d;t\n7;f.csv;2;d;t\n");
  ASSERT_EQ(model.Boxes().size(), 2u);
  EXPECT_EQ(model.SelectedBox(), 1);
  ASSERT_EQ(model.Files().size(), 2u);
  EXPECT_EQ(model.SelectedFile(), 0);
  EXPECT_EQ(model.SelectedAddress(), kBase + "/getDataFile/7/c.csv");
  EXPECT_TRUE(model.CanDownload());
  EXPECT_TRUE(model.CanCopyAddress());

  model.SelectBox(0);
  EXPECT_EQ(model.LastBox(), "12");
  EXPECT_EQ(model.SelectedFile(), -1);  // c.csv is not among box 12's files
  EXPECT_FALSE(model.CanDownload());
  EXPECT_FALSE(model.CanCopyAddress());
  model.SelectFile(1);
  EXPECT_EQ(model.LastFile(), "b.csv");

  // An empty file is refused before anything is read.
  TempDir dir;
  bool read = false;
  DownloadOutcome outcome =
      model.Download(dir.path(), {}, [&](const std::string&, const std::string&, std::string*) {
        read = true;
        return true;
      });
  EXPECT_EQ(outcome.status, DownloadStatus::kEmptyFile);
  EXPECT_EQ(outcome.message, StrF(Tr(kMsgDownloadFileEmpty).c_str(), "b.csv"));
  EXPECT_FALSE(read);
  EXPECT_EQ(model.ResultPath(), "");

  // An empty listing leaves nothing selected; Copy URL stays enabled as for no box at all.
  model.SetListing("garbage\n");
  EXPECT_TRUE(model.Boxes().empty());
  EXPECT_EQ(model.SelectedBox(), -1);
  EXPECT_FALSE(model.CanDownload());
  EXPECT_TRUE(model.CanCopyAddress());
}

TEST(BoxFilesModelTest, DownloadFolderChecks) {
  TempDir dir;
  CBoxFilesModel model(kBase, "", "");
  model.SetListing("12;day1.csv;4;d;t\n");
  model.SelectFile(0);
  auto never = [](const std::string&, const std::string&, std::string*) { return false; };

  EXPECT_EQ(model.Download("   ", {}, never).status, DownloadStatus::kNoFolder);

  // A missing folder: the question names it; Yes makes it with every level.
  std::string folder = dir.File("a/b");
  std::string asked;
  std::string fetchedUrl;
  std::string fetchedPath;
  DownloadOutcome outcome = model.Download(
      "  " + folder + " ",
      [&](const std::string& question) {
        asked = question;
        return true;
      },
      [&](const std::string& url, const std::string& path, std::string*) {
        fetchedUrl = url;
        fetchedPath = path;
        return true;
      });
  EXPECT_EQ(asked, StrF(Tr(kMsgDownloadCreateFolder).c_str(), folder.c_str()));
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_EQ(outcome.status, DownloadStatus::kDone);
  EXPECT_EQ(outcome.folder, folder);
  EXPECT_EQ(fetchedUrl, kBase + "/getDataFile/12/day1.csv");
  EXPECT_EQ(fetchedPath, folder + "/LVX_day1.csv");
  EXPECT_EQ(model.ResultPath(), fetchedPath);

  // A folder that cannot be made (a file is in the way).
  WriteFile(dir.File("plain"), "x");
  outcome = model.Download(
      dir.File("plain/sub"), [](const std::string&) { return true; }, never);
  EXPECT_EQ(outcome.status, DownloadStatus::kCannotCreate);
  EXPECT_EQ(outcome.message,
            StrF(Tr(kMsgDownloadCannotCreate).c_str(), dir.File("plain/sub").c_str()));
  EXPECT_EQ(model.ResultPath(), "");

  // A failed read: the error follows the download error text.
  outcome = model.Download(dir.path(), {},
                           [](const std::string&, const std::string&, std::string* error) {
                             *error = "_GetInternetFile: boom";
                             return false;
                           });
  EXPECT_EQ(outcome.status, DownloadStatus::kFailed);
  EXPECT_EQ(outcome.message, Tr(kMsgDownloadError) + "_GetInternetFile: boom");
}

// Against a real detection server process.
class DetServerTest : public ::testing::Test {
 protected:
  void Start(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"--folder", m_served.path(), "--prefix", "/cgi/det.php"};
    for (std::string& line : extra) {
      args.push_back("--extra-line");
      args.push_back(line);
    }
    m_server = std::make_unique<SimulatorProcess>(DETSERVER_PATH, args);
    std::string port = m_server->WaitEvent("listening on ");
    ASSERT_FALSE(port.empty());
    m_base = "http://127.0.0.1:" + port + "/cgi/det.php";
  }

  TempDir m_served;
  TempDir m_local;
  std::unique_ptr<SimulatorProcess> m_server;
  std::string m_base;
};

TEST_F(DetServerTest, ListsDownloadsAndRemoves) {
  const std::string content =
      "E2003412,2012-05-13 10:23:45.120,x,y\r\nE2003413,2012-05-13 10:23:46.000,x,y\r\n";
  WriteFile(m_served.File("12/day1.csv"), content);
  WriteFile(m_served.File("12/day2.csv"), "E1,2012-05-14 08:00:00.000,x,y\n");
  WriteFile(m_served.File("7/day1.csv"), "");
  Start({"12;bad;line", "12;x.csv;many;d;t", "12;y.csv;1;d"});

  CBoxFilesModel model(m_base, "12", "day2.csv");
  std::string error;
  ASSERT_TRUE(model.Refresh({}, &error)) << error;
  EXPECT_EQ(model.Boxes(), (std::vector<std::string>{"12", "7"}));
  ASSERT_EQ(model.Files().size(), 2u);  // the three bad lines are skipped
  EXPECT_EQ(model.Files()[0].detections, 2);
  EXPECT_EQ(model.Files()[0].time.size(), 8u);  // HH:MM:SS, carriage return gone
  EXPECT_EQ(model.SelectedFile(), 1);

  model.SelectFile(0);
  DownloadOutcome outcome = model.Download(m_local.path(), {}, {});
  ASSERT_EQ(outcome.status, DownloadStatus::kDone) << outcome.message;
  EXPECT_EQ(outcome.path, m_local.File("LVX_day1.csv"));
  EXPECT_EQ(ReadAll(outcome.path), content);  // byte for byte
  EXPECT_EQ(model.LastFile(), "day1.csv");

  RemoveOutcome removed = model.RemoveSelected({});
  ASSERT_TRUE(removed.ok) << removed.message;
  EXPECT_EQ(removed.message, Tr(kMsgDownloadServerReturned) + "File 12/day1.csv removed");
  EXPECT_FALSE(std::filesystem::exists(m_served.File("12/day1.csv")));
  ASSERT_EQ(model.Files().size(), 1u);
  EXPECT_FALSE(model.NeedsRefresh());

  // Removing the box's last file empties its list: the dialog refreshes the listing.
  model.SelectFile(0);
  ASSERT_TRUE(model.RemoveSelected({}).ok);
  EXPECT_TRUE(model.NeedsRefresh());
  ASSERT_TRUE(model.Refresh({}, &error)) << error;
  EXPECT_EQ(model.Boxes(), (std::vector<std::string>{"7"}));
  EXPECT_EQ(model.SelectedBox(), 0);

  CDetectionFile gone;
  gone.address = BoxFileAddress(m_base, "12", "day1.csv");
  RemoveOutcome failed = RemoveBoxFile(gone, {});
  EXPECT_FALSE(failed.ok);
  EXPECT_EQ(failed.message.rfind(Tr(kMsgDownloadRemoveError) + "_GetInternetData: ", 0), 0u)
      << failed.message;
}

TEST_F(DetServerTest, HostileNamesStayInTheirFolders) {
  WriteFile(m_served.File("12/ok.csv"), "E1,2012-05-14 08:00:00.000,x,y\n");
  WriteFile(m_served.File("secret.csv"), "secret");
  Start();
  // A listing naming a file outside a box folder cannot reach it, and cannot write outside
  // the destination folder.
  CBoxFilesModel model(m_base, "", "");
  model.SetListing("12;../secret.csv;1;d;t\n");
  model.SelectFile(0);
  DownloadOutcome outcome = model.Download(m_local.path(), {}, {});
  EXPECT_EQ(outcome.status, DownloadStatus::kFailed);
  EXPECT_FALSE(std::filesystem::exists(m_local.File("LVX_.._secret.csv")));
  EXPECT_TRUE(std::filesystem::is_empty(m_local.path()));
  EXPECT_TRUE(std::filesystem::exists(m_served.File("secret.csv")));
}

TEST(BoxFilesServerTest, UnreachableServerLeavesTheListsAsTheyWere) {
  CBoxFilesModel model("http://127.0.0.1:1", "", "");
  model.SetListing("12;a.csv;1;d;t\n");
  std::string error;
  EXPECT_FALSE(model.Refresh({}, &error));
  EXPECT_EQ(error.rfind("_GetInternetData: ", 0), 0u) << error;
  EXPECT_EQ(model.Files().size(), 1u);
  std::string listing = "kept";
  EXPECT_FALSE(FetchBoxListing("http://127.0.0.1:1", {}, &listing, &error));
  EXPECT_EQ(listing, "kept");
}

}  // namespace
}  // namespace lapora
