// The station's side of the uploads: it owns the worker, and logs each job's start and end.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "export/ftp_jobs.h"
#include "export/ftp_servers.h"
#include "export/ftp_test_server.h"
#include "foundation/text.h"
#include "resources/messages_export.h"
#include "station/recording_front_end.h"
#include "station/station.h"
#include "support/station_rig.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

namespace fs = std::filesystem;

class FtpStationTest : public ::testing::Test, public testing::StationRig {
 protected:
  void SetUp() override {
    fs::create_directories(root);
    server = std::make_unique<testing::FtpTestServer>(root);
    ASSERT_NE(server->Port(), 0);
    StationParts parts = Parts();
    parts.ftpPort = server->Port();
    station = std::make_unique<Station>(std::move(parts), front);
    station->Open();
  }
  void TearDown() override {
    if (station && station->IsOpen()) {
      front.ctrlDown = true;
      EXPECT_TRUE(station->Close());
    }
    station.reset();
  }

  std::unique_ptr<CFtpJob> Job(const std::string& localPath, const std::string& remoteName) {
    CFtpServer target;
    target.site = "127.0.0.1";
    target.user = testing::kFtpUser;
    target.password = testing::kFtpPassword;
    auto job = std::make_unique<CFtpJob>(MakeFtpUploadJob(store));
    job->SetServer(target);
    job->SetLocalPath(localPath);
    job->SetRemoteName(remoteName);
    return job;
  }

  bool LogHas(const std::string& text) const {
    for (const std::string& line : station->LogLines()) {
      if (line.find(text) != std::string::npos) {
        return true;
      }
    }
    return false;
  }

  // Runs the station's event handling until the log shows text, or the deadline passed.
  bool WaitLog(const std::string& text) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!LogHas(text) && std::chrono::steady_clock::now() < end) {
      (void)events.WaitForEvents(std::chrono::milliseconds(100));
      station->DrainEvents();
    }
    return LogHas(text);
  }

  std::string root = dir.File("ftproot");
  std::unique_ptr<testing::FtpTestServer> server;
  testing::RecordingFrontEnd front;
  std::unique_ptr<Station> station;
};

TEST_F(FtpStationTest, JobStartAndEndAreLoggedInFrench) {
  std::string local = dir.File("Results-1.txt");
  testing::WriteFile(local, "1\t12\n");
  station->QueueFtpJob(Job(local, "Results-1.txt"));
  std::string missing = dir.File("missing.txt");
  station->QueueFtpJob(Job(missing, "missing.txt"));

  ASSERT_TRUE(WaitLog(Utf8ToCp1252("++ Démarrage transfert FTP [Results-1.txt]")));
  ASSERT_TRUE(WaitLog(Utf8ToCp1252("++ Transfert FTP terminé [Results-1.txt]")));
  ASSERT_TRUE(WaitLog(Utf8ToCp1252("++ Démarrage transfert FTP [missing.txt]")));
  ASSERT_TRUE(WaitLog("++ Erreur transfert FTP [missing.txt] : " +
                      StrF(Tr(kMsgFtpCantOpenSource).c_str(), missing.c_str())));
  EXPECT_EQ(testing::ReadFile(root + "/Results-1.txt"), "1\t12\n");
  // One language only: the same text whatever the build language.
  EXPECT_EQ(TrIn(Language::kEnglish, kMsgFtpJobDone), TrIn(Language::kFrench, kMsgFtpJobDone));
}

TEST_F(FtpStationTest, ClosingDropsTheQueuedUploads) {
  // The worker is busy with nothing; the queued jobs are dropped at closing before they run:
  // queue them and close at once, without handling events in between.
  std::string local = dir.File("late.txt");
  testing::WriteFile(local, "late");
  front.ctrlDown = true;
  for (int i = 0; i < 20; ++i) {
    station->QueueFtpJob(Job(local, "late" + std::to_string(i) + ".txt"));
  }
  ASSERT_TRUE(station->Close());
  EXPECT_EQ(station->FtpWorker().QueuedJobs(), 0u);
  EXPECT_FALSE(station->FtpWorker().IsBusy());
}

}  // namespace
}  // namespace lapora
