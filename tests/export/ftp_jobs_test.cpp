#include "export/ftp_jobs.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "export/ftp_servers.h"
#include "export/ftp_test_server.h"
#include "foundation/events.h"
#include "foundation/settings_store.h"
#include "foundation/text.h"
#include "resources/messages_export.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

using testing::FtpTestServer;
using testing::ReadFile;
using testing::TempDir;
using testing::WaitFor;
using testing::WriteFile;

namespace fs = std::filesystem;

// Bytes that a text-mode transfer would change.
std::string BinaryContent(std::size_t size) {
  std::string content;
  content.reserve(size);
  for (std::size_t i = 0; i < size; ++i) {
    content.push_back(static_cast<char>((i * 7 + i / 251) % 256));
  }
  content += "\r\n\n\r\0end";
  return content;
}

// A loopback port bound but not listening: connections to it are refused for as long as the
// object lives.
class RefusingPort {
 public:
  RefusingPort() {
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      m_port = ntohs(address.sin_port);
    }
  }
  ~RefusingPort() {
    if (m_fd >= 0) {
      ::close(m_fd);
    }
  }
  int Port() const { return m_port; }

 private:
  int m_fd = -1;
  int m_port = 0;
};

// The test thread plays the main thread: it dispatches the worker's notifications.
class FtpJobsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root);
    server = std::make_unique<FtpTestServer>(root);
    ASSERT_NE(server->Port(), 0) << "the FTP test server did not start";
  }

  std::unique_ptr<CFtpJob> Job(const std::string& localPath, const std::string& remoteName,
                               const std::string& directory = "") {
    auto job = std::make_unique<CFtpJob>();
    CFtpServer target;
    target.label = "Test";
    target.site = "127.0.0.1";
    target.user = testing::kFtpUser;
    target.password = testing::kFtpPassword;
    target.directory = directory;
    job->SetServer(target);
    job->SetLocalPath(localPath);
    job->SetRemoteName(remoteName);
    return job;
  }

  void Dispatch() {
    events.Dispatch([this](const Event& event) {
      if (const auto* status = std::get_if<FtpJobStatusEvent>(&event)) {
        notes.push_back(*status);
        if (onNote) {
          onNote(*status);
        }
      }
    });
  }

  // Dispatches until count notifications came, or the deadline passed.
  bool WaitNotes(std::size_t count, std::chrono::seconds deadline = std::chrono::seconds(30)) {
    auto end = std::chrono::steady_clock::now() + deadline;
    while (notes.size() < count && std::chrono::steady_clock::now() < end) {
      (void)events.WaitForEvents(std::chrono::milliseconds(100));
      Dispatch();
    }
    return notes.size() >= count;
  }

  std::string Local(const std::string& name, const std::string& content) {
    std::string path = dir.File(name);
    WriteFile(path, content);
    return path;
  }

  TempDir dir;
  std::string root = dir.File("ftproot");
  std::unique_ptr<FtpTestServer> server;
  EventQueue events;
  std::vector<FtpJobStatusEvent> notes;
  std::function<void(const FtpJobStatusEvent&)> onNote;
};

TEST_F(FtpJobsTest, UploadReplacesOldFilesAndLeavesNoLockFile) {
  WriteFile(root + "/data.txt", "old content");
  WriteFile(root + "/data.txt.lock", "left by a failed upload");
  std::string content = BinaryContent(300 * 1024);
  CFtpWorker worker(events, server->Port());
  worker.QueueFtpJob(Job(Local("data.txt", content), "data.txt"));
  // Active mode too: the server connects back for the data.
  auto active = Job(Local("active.bin", "active mode\r\n"), "active.bin");
  active->passive = 0;
  worker.QueueFtpJob(std::move(active));
  worker.Start();

  ASSERT_TRUE(WaitNotes(4));
  EXPECT_EQ(notes[0].status, CFtpJob::kStatusStarted);
  EXPECT_EQ(notes[0].remoteName, "data.txt");
  EXPECT_EQ(notes[0].errorText, "");
  EXPECT_EQ(notes[1].status, CFtpJob::kStatusDone) << notes[1].errorText;
  EXPECT_EQ(notes[1].remoteName, "data.txt");
  EXPECT_EQ(notes[2].status, CFtpJob::kStatusStarted);
  EXPECT_EQ(notes[3].status, CFtpJob::kStatusDone) << notes[3].errorText;
  EXPECT_EQ(notes[3].remoteName, "active.bin");

  EXPECT_EQ(ReadFile(root + "/data.txt"), content);
  EXPECT_EQ(ReadFile(root + "/active.bin"), "active mode\r\n");
  EXPECT_FALSE(fs::exists(root + "/data.txt.lock"));
  EXPECT_FALSE(fs::exists(root + "/active.bin.lock"));
}

TEST_F(FtpJobsTest, DirectoryIsTrimmedAndMayBeRelativeOrAbsolute) {
  fs::create_directories(root + "/results/day 1");
  CFtpWorker worker(events, server->Port());
  worker.Start();
  worker.QueueFtpJob(Job(Local("a.txt", "A"), "a.txt", "  results \t"));
  worker.QueueFtpJob(Job(Local("b.txt", "B"), "b.txt", " /results/day 1 "));
  ASSERT_TRUE(WaitNotes(4));
  EXPECT_EQ(notes[1].status, CFtpJob::kStatusDone) << notes[1].errorText;
  EXPECT_EQ(notes[3].status, CFtpJob::kStatusDone) << notes[3].errorText;
  EXPECT_EQ(ReadFile(root + "/results/a.txt"), "A");
  EXPECT_EQ(ReadFile(root + "/results/day 1/b.txt"), "B");
  EXPECT_FALSE(fs::exists(root + "/a.txt"));
}

TEST_F(FtpJobsTest, TwoServersRunOneAfterTheOtherWithTheirOwnNotifications) {
  // A second server on another loopback address, same port: the jobs differ by site only.
  std::string otherRoot = dir.File("otherroot");
  fs::create_directories(otherRoot);
  FtpTestServer other(otherRoot, "127.0.0.2", server->Port());
  ASSERT_EQ(other.Port(), server->Port());

  std::string path = Local("results.txt", "1\t12\t10:00:00.00\n");
  CFtpWorker worker(events, server->Port());
  worker.QueueFtpJob(Job(path, "results.txt"));
  auto second = Job(path, "results.txt");
  second->site = "127.0.0.2";
  second->user = testing::kFtpOtherUser;
  second->password = testing::kFtpOtherPassword;
  worker.QueueFtpJob(std::move(second));
  // While the first done notification is handled the worker waits for it: the second upload
  // has not begun.
  bool secondStartedEarly = true;
  onNote = [&](const FtpJobStatusEvent& note) {
    if (notes.size() == 2 && note.status == CFtpJob::kStatusDone) {
      secondStartedEarly =
          fs::exists(otherRoot + "/results.txt") || fs::exists(otherRoot + "/results.txt.lock");
    }
  };
  worker.Start();

  ASSERT_TRUE(WaitNotes(4));
  std::vector<int> statuses;
  for (const FtpJobStatusEvent& note : notes) {
    statuses.push_back(note.status);
    EXPECT_EQ(note.remoteName, "results.txt");
  }
  EXPECT_EQ(statuses, (std::vector<int>{1, 3, 1, 3}));
  EXPECT_FALSE(secondStartedEarly);
  EXPECT_EQ(ReadFile(root + "/results.txt"), "1\t12\t10:00:00.00\n");
  EXPECT_EQ(ReadFile(otherRoot + "/results.txt"), "1\t12\t10:00:00.00\n");
}

TEST_F(FtpJobsTest, FailuresEndTheJobWithTheirReasonAndLaterJobsStillRun) {
  RefusingPort refusing;
  ASSERT_NE(refusing.Port(), 0);
  std::string path = Local("f.txt", "F");
  std::string deleted = Local("deleted.txt", "gone");
  fs::remove(deleted);

  // The deleted file fails before any connection: its worker points at a refusing port, so a
  // connection attempt would have given another text.
  {
    CFtpWorker worker(events, refusing.Port());
    worker.Start();
    worker.QueueFtpJob(Job(deleted, "deleted.txt"));
    worker.QueueFtpJob(Job(path, "f.txt"));
    ASSERT_TRUE(WaitNotes(4));
    EXPECT_EQ(notes[0].status, CFtpJob::kStatusStarted);
    EXPECT_EQ(notes[1].status, CFtpJob::kStatusError);
    EXPECT_EQ(notes[1].errorText, StrF(Tr(kMsgFtpCantOpenSource).c_str(), deleted.c_str()));
    EXPECT_EQ(notes[3].status, CFtpJob::kStatusError);
    EXPECT_EQ(notes[3].errorText, StrF(Tr(kMsgFtpCantConnect).c_str(), "127.0.0.1"));
    EXPECT_EQ(TrIn(Language::kEnglish, kMsgFtpCantConnect), "Can't connect to site %s");
    EXPECT_EQ(TrIn(Language::kFrench, kMsgFtpCantOpenSource), "Erreur d'ouverture du fichier %s");
  }
  notes.clear();

  CFtpWorker worker(events, server->Port());
  worker.Start();
  auto wrongPassword = Job(path, "f.txt");
  wrongPassword->password = "wrong";
  worker.QueueFtpJob(std::move(wrongPassword));
  worker.QueueFtpJob(Job(path, "f.txt", "no-such-folder"));
  worker.QueueFtpJob(Job(path, "f.txt"));
  ASSERT_TRUE(WaitNotes(6));
  // The server refused the login: its own words, not "cannot connect".
  EXPECT_EQ(notes[1].status, CFtpJob::kStatusError);
  EXPECT_NE(notes[1].errorText.find("530"), std::string::npos) << notes[1].errorText;
  EXPECT_LE(notes[1].errorText.size(), 254u);
  EXPECT_EQ(notes[3].status, CFtpJob::kStatusError);
  EXPECT_EQ(notes[3].errorText, "SetCurrentDirectory Error: 550 (0x226)");
  EXPECT_EQ(notes[5].status, CFtpJob::kStatusDone) << notes[5].errorText;
  EXPECT_EQ(ReadFile(root + "/f.txt"), "F");
  EXPECT_FALSE(fs::exists(root + "/no-such-folder"));
}

TEST_F(FtpJobsTest, NamesThatWouldInjectCommandsOrLeaveTheFolderAreRefused) {
  WriteFile(root + "/keep.txt", "keep");
  std::string path = Local("f.txt", "F");
  CFtpWorker worker(events, server->Port());
  worker.Start();
  worker.QueueFtpJob(Job(path, "f.txt\r\nDELE keep.txt"));
  worker.QueueFtpJob(Job(path, "../f.txt"));
  worker.QueueFtpJob(Job(path, "f.txt", "results\r\nDELE keep.txt"));
  worker.QueueFtpJob(Job(path, ""));
  ASSERT_TRUE(WaitNotes(8));
  for (std::size_t i = 1; i < notes.size(); i += 2) {
    EXPECT_EQ(notes[i].status, CFtpJob::kStatusError) << i;
    EXPECT_FALSE(notes[i].errorText.empty()) << i;
  }
  EXPECT_EQ(ReadFile(root + "/keep.txt"), "keep");
  EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 1);
}

// Writes a FIFO's content from another thread, in two parts: the reader (the upload) cannot
// finish before the second part, so the test can look at the server in between.
class FifoFeeder {
 public:
  explicit FifoFeeder(std::string path) : m_path(std::move(path)) {
    m_made = ::mkfifo(m_path.c_str(), 0600) == 0;
  }
  ~FifoFeeder() { Finish(); }
  bool Made() const { return m_made; }
  // Opens the FIFO (waiting for the reader), writes first, then waits for Release() and
  // writes second.
  void Run(std::string first, std::string second) {
    m_thread = std::thread([this, first = std::move(first), second = std::move(second)] {
      std::FILE* out = std::fopen(m_path.c_str(), "wb");
      if (out == nullptr) {
        return;
      }
      std::fwrite(first.data(), 1, first.size(), out);
      std::fflush(out);
      while (!m_release.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      std::fwrite(second.data(), 1, second.size(), out);
      std::fclose(out);
    });
  }
  void Release() { m_release = true; }
  void Finish() {
    Release();
    if (m_thread.joinable()) {
      m_thread.join();
    }
  }

 private:
  std::string m_path;
  bool m_made = false;
  std::atomic<bool> m_release{false};
  std::thread m_thread;
};

TEST_F(FtpJobsTest, RemoteFileHasTheLockNameWhileItTransfers) {
  std::string path = dir.File("stream.bin");
  FifoFeeder feeder(path);
  ASSERT_TRUE(feeder.Made());
  std::string first = BinaryContent(64 * 1024);
  std::string second = "and the rest";
  feeder.Run(first, second);

  CFtpWorker worker(events, server->Port());
  worker.Start();
  worker.QueueFtpJob(Job(path, "stream.bin"));
  ASSERT_TRUE(WaitNotes(1));
  ASSERT_TRUE(WaitFor([&] { return fs::exists(root + "/stream.bin.lock"); }));
  EXPECT_FALSE(fs::exists(root + "/stream.bin"));
  feeder.Release();
  ASSERT_TRUE(WaitNotes(2));
  EXPECT_EQ(notes[1].status, CFtpJob::kStatusDone) << notes[1].errorText;
  EXPECT_EQ(ReadFile(root + "/stream.bin"), first + second);
  EXPECT_FALSE(fs::exists(root + "/stream.bin.lock"));
}

TEST_F(FtpJobsTest, StopFtpJobsDropsQueuedJobsAndWaitsForTheRunningOne) {
  std::string path = dir.File("stream.bin");
  FifoFeeder feeder(path);
  ASSERT_TRUE(feeder.Made());
  feeder.Run("first part ", "second part");

  CFtpWorker worker(events, server->Port());
  worker.QueueFtpJob(Job(path, "stream.bin"));
  worker.QueueFtpJob(Job(Local("q1.txt", "1"), "q1.txt"));
  worker.QueueFtpJob(Job(Local("q2.txt", "2"), "q2.txt"));
  worker.Start();
  ASSERT_TRUE(WaitNotes(1));
  ASSERT_TRUE(WaitFor([&] { return fs::exists(root + "/stream.bin.lock"); }));
  EXPECT_TRUE(worker.IsBusy());
  EXPECT_EQ(worker.QueuedJobs(), 2u);

  // The running upload may only end once the queue was dropped.
  std::thread releaser([&] {
    (void)WaitFor([&] { return worker.QueuedJobs() == 0; });
    feeder.Release();
  });
  worker.StopFtpJobs([this] { Dispatch(); });
  releaser.join();

  EXPECT_FALSE(worker.IsBusy());
  EXPECT_EQ(worker.QueuedJobs(), 0u);
  // The running upload was not interrupted; its end is not notified any more (unless the
  // notification was already on its way when the stop began).
  EXPECT_EQ(ReadFile(root + "/stream.bin"), "first part second part");
  Dispatch();
  ASSERT_GE(notes.size(), 1u);
  ASSERT_LE(notes.size(), 2u);
  for (const FtpJobStatusEvent& note : notes) {
    EXPECT_EQ(note.remoteName, "stream.bin");
  }
  EXPECT_FALSE(fs::exists(root + "/q1.txt"));
  EXPECT_FALSE(fs::exists(root + "/q2.txt"));

  // Jobs queued afterwards still run, silently.
  worker.QueueFtpJob(Job(Local("late.txt", "late"), "late.txt"));
  ASSERT_TRUE(WaitFor([&] { return fs::exists(root + "/late.txt"); }));
  ASSERT_TRUE(WaitFor([&] { return !worker.IsBusy() && worker.QueuedJobs() == 0; }));
  Dispatch();
  EXPECT_LE(notes.size(), 2u);
}

TEST(FtpJobTest, NewJobTakesTheFtpSettingsAndSetServerReplacesThem) {
  TempDir dir;
  SettingsStore store(dir.File("Lapora.ini"));
  CFtpJob defaults = MakeFtpUploadJob(store);
  EXPECT_EQ(defaults.kind, CFtpJob::kKindUpload);
  EXPECT_EQ(defaults.passive, 1);
  EXPECT_EQ(defaults.site, "");
  EXPECT_EQ(defaults.binary, 0);

  WriteFile(dir.File("Lapora.ini"),
            "[FtpSettings]\r\nLabel=Main\r\nSite=ftp.example.org\r\nUser=timer\r\n"
            "Password=pw\r\nDirectory=/in\r\nBPutInPassiveMode=0\r\n");
  CFtpJob job = MakeFtpUploadJob(store);
  EXPECT_EQ(job.site, "ftp.example.org");
  EXPECT_EQ(job.user, "timer");
  EXPECT_EQ(job.password, "pw");
  EXPECT_EQ(job.directory, "/in");
  EXPECT_EQ(job.label, "");
  EXPECT_EQ(job.passive, 0);

  CFtpServer server;
  server.label = "Backup";
  server.site = "10.0.0.5";
  server.user = "u";
  server.password = "p";
  job.SetServer(server);
  job.SetLocalPath("/tmp/out/Results-1.txt");
  job.SetRemoteName("Results-1.txt");
  EXPECT_EQ(job.label, "Backup");
  EXPECT_EQ(job.site, "10.0.0.5");
  EXPECT_EQ(job.user, "u");
  EXPECT_EQ(job.password, "p");
  EXPECT_EQ(job.directory, "");
  EXPECT_EQ(job.passive, 0);
  EXPECT_EQ(job.binary, 1);
  EXPECT_EQ(job.localPath, "/tmp/out/Results-1.txt");
  EXPECT_EQ(job.remoteName, "Results-1.txt");
}

}  // namespace
}  // namespace lapora
