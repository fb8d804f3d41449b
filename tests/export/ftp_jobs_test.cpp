#include "export/ftp_jobs.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "export/detection_lines_export.h"
#include "export/detection_statistics.h"
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

// An FTP server that hangs before its greeting: connections to host:port are taken (by the
// kernel, into the listening queue) and never answered. Another loopback address than the test
// server's, on the same port, since a worker has one port for all its servers.
constexpr char kSilentHost[] = "127.0.0.3";

class SilentServer {
 public:
  SilentServer(const std::string& host, int port) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    (void)::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    m_listening = m_fd >= 0 && ::inet_pton(AF_INET, host.c_str(), &address.sin_addr) == 1 &&
                  ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                  ::listen(m_fd, 16) == 0;
  }
  ~SilentServer() { Close(); }
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;

  bool Listening() const { return m_listening; }
  void Close() {
    if (m_fd >= 0) {
      ::close(m_fd);
      m_fd = -1;
    }
  }

 private:
  int m_fd = -1;
  bool m_listening = false;
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
      } else if (const auto* line = std::get_if<LogLineEvent>(&event)) {
        logs.push_back(line->text);
      }
    });
  }

  // Dispatches until condition() holds, or the deadline passed (the worker waits for its
  // notifications to be handled, so a test that waits for it must dispatch meanwhile).
  template <typename Condition>
  bool DispatchUntil(Condition condition,
                     std::chrono::seconds deadline = std::chrono::seconds(30)) {
    auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
      Dispatch();
      if (condition()) {
        return true;
      }
      if (std::chrono::steady_clock::now() >= end) {
        return false;
      }
      (void)events.WaitForEvents(std::chrono::milliseconds(20));
    }
  }

  // The notifications as "status remote-name".
  std::vector<std::string> NoteList() const {
    std::vector<std::string> list;
    for (const FtpJobStatusEvent& note : notes) {
      list.push_back(std::to_string(note.status) + " " + note.remoteName);
    }
    return list;
  }

  // A job for the server that never answers (see SilentServer).
  std::unique_ptr<CFtpJob> SilentJob(const std::string& remoteName) {
    auto job = Job(Local(remoteName, "for the silent server"), remoteName);
    job->label = "Silent";
    job->site = kSilentHost;
    return job;
  }

  FtpWorkerOptions Options() const {
    FtpWorkerOptions options;
    options.port = server->Port();
    return options;
  }

  // Dispatches until count notifications came, or the deadline passed.
  bool WaitNotes(std::size_t count, std::chrono::seconds deadline = std::chrono::seconds(30)) {
    return DispatchUntil([&] { return notes.size() >= count; }, deadline);
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
  std::vector<std::string> logs;
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
  auto wrongPassword = Job(path, "denied.txt");
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

TEST_F(FtpJobsTest, SilentServerWaitsInBackoffWhileTheHealthyOneGoesOn) {
  SilentServer silent(kSilentHost, server->Port());
  ASSERT_TRUE(silent.Listening());
  FtpWorkerOptions options = Options();
  options.connectTimeoutSeconds = 1;
  options.responseTimeoutSeconds = 1;
  options.firstBackoff = std::chrono::hours(1);
  CFtpWorker worker(events, options);
  worker.QueueFtpJob(SilentJob("s1.txt"));
  worker.QueueFtpJob(Job(Local("h1.txt", "H1"), "h1.txt"));
  worker.QueueFtpJob(SilentJob("s2.txt"));
  worker.QueueFtpJob(Job(Local("h2.txt", "H2"), "h2.txt"));
  worker.Start();

  ASSERT_TRUE(DispatchUntil([&] { return notes.size() >= 6 && !worker.IsBusy(); }));
  // The silent server costs one time-out; its second job waits without being tried.
  EXPECT_EQ(NoteList(), (std::vector<std::string>{"1 s1.txt", "6 s1.txt", "1 h1.txt", "3 h1.txt",
                                                  "1 h2.txt", "3 h2.txt"}));
  EXPECT_FALSE(notes[1].errorText.empty());
  EXPECT_EQ(ReadFile(root + "/h1.txt"), "H1");
  EXPECT_EQ(ReadFile(root + "/h2.txt"), "H2");
  EXPECT_EQ(logs, std::vector<std::string>{StrF(Tr(kMsgFtpServerBackoff).c_str(), "Silent", 3600)});
  EXPECT_TRUE(worker.InBackoff(kSilentHost));
  EXPECT_FALSE(worker.InBackoff("127.0.0.1"));
  EXPECT_EQ(worker.QueuedJobs(), 2u);  // s1 waits for its next try, s2 for its first

  // A newer s2 takes the waiting one's place; s3 is one more.
  worker.QueueFtpJob(SilentJob("s2.txt"));
  EXPECT_EQ(worker.QueuedJobs(), 2u);
  worker.QueueFtpJob(SilentJob("s3.txt"));
  EXPECT_EQ(worker.QueuedJobs(), 3u);
  worker.StopFtpJobs([this] { Dispatch(); });
  EXPECT_EQ(worker.QueuedJobs(), 0u);
}

TEST_F(FtpJobsTest, ServerThatFailedIsTriedAgainAndGetsItsFileOnceItAnswers) {
  SilentServer silent(kSilentHost, server->Port());
  ASSERT_TRUE(silent.Listening());
  FtpWorkerOptions options = Options();
  options.connectTimeoutSeconds = 1;
  options.responseTimeoutSeconds = 1;
  options.firstBackoff = std::chrono::milliseconds(200);
  options.maxBackoff = std::chrono::milliseconds(400);
  CFtpWorker worker(events, options);
  worker.Start();
  worker.QueueFtpJob(SilentJob("late.txt"));
  ASSERT_TRUE(DispatchUntil([&] { return notes.size() >= 2; }));
  EXPECT_EQ(notes[1].status, CFtpJob::kStatusError);

  // The server comes back (a real one on the silent one's address).
  silent.Close();
  std::string backRoot = dir.File("backroot");
  fs::create_directories(backRoot);
  FtpTestServer back(backRoot, kSilentHost, server->Port());
  ASSERT_EQ(back.Port(), server->Port());
  ASSERT_TRUE(
      DispatchUntil([&] { return !notes.empty() && notes.back().status == CFtpJob::kStatusDone; }));
  EXPECT_EQ(ReadFile(backRoot + "/late.txt"), "for the silent server");
  EXPECT_FALSE(worker.InBackoff(kSilentHost));
  EXPECT_EQ(worker.QueuedJobs(), 0u);
}

TEST_F(FtpJobsTest, NewerFileReplacesTheWaitingJobAndAFullQueueDropsTheOldest) {
  FtpWorkerOptions options = Options();
  options.maxQueuedJobs = 3;
  CFtpWorker worker(events, options);
  std::string first = Local("first.txt", "first");
  worker.QueueFtpJob(Job(Local("a.txt", "A"), "a.txt"));
  worker.QueueFtpJob(Job(Local("b.txt", "B"), "b.txt"));
  worker.QueueFtpJob(Job(first, "same.txt"));
  worker.QueueFtpJob(Job(Local("second.txt", "second"), "same.txt"));
  EXPECT_EQ(worker.QueuedJobs(), 3u);
  // The same name in another folder is another file: the queue is full, a.txt gives way.
  fs::create_directories(root + "/sub");
  worker.QueueFtpJob(Job(first, "same.txt", "sub"));
  worker.QueueFtpJob(Job(Local("c.txt", "C"), "c.txt"));
  EXPECT_EQ(worker.QueuedJobs(), 3u);
  Dispatch();
  EXPECT_EQ(logs, (std::vector<std::string>{StrF(Tr(kMsgFtpJobDropped).c_str(), "a.txt", "Test"),
                                            StrF(Tr(kMsgFtpJobDropped).c_str(), "b.txt", "Test")}));

  worker.Start();
  ASSERT_TRUE(WaitNotes(6));
  EXPECT_EQ(NoteList(), (std::vector<std::string>{"1 same.txt", "3 same.txt", "1 same.txt",
                                                  "3 same.txt", "1 c.txt", "3 c.txt"}));
  EXPECT_EQ(ReadFile(root + "/same.txt"), "second");
  EXPECT_EQ(ReadFile(root + "/sub/same.txt"), "first");
  EXPECT_EQ(ReadFile(root + "/c.txt"), "C");
  EXPECT_FALSE(fs::exists(root + "/a.txt"));
  EXPECT_FALSE(fs::exists(root + "/b.txt"));
}

// With time-outs far beyond the test's own limit, only the stop can end this upload.
TEST_F(FtpJobsTest, StopDoesNotWaitForAServerThatNeverAnswers) {
  SilentServer silent(kSilentHost, server->Port());
  ASSERT_TRUE(silent.Listening());
  FtpWorkerOptions options = Options();
  options.connectTimeoutSeconds = 3600;
  options.responseTimeoutSeconds = 3600;
  CFtpWorker worker(events, options);
  worker.Start();
  worker.QueueFtpJob(SilentJob("stuck.txt"));
  ASSERT_TRUE(WaitNotes(1));
  EXPECT_TRUE(worker.IsBusy());
  worker.StopFtpJobs([this] { Dispatch(); });
  EXPECT_FALSE(worker.IsBusy());
  EXPECT_EQ(worker.QueuedJobs(), 0u);  // given up, not kept for another try
  EXPECT_FALSE(worker.InBackoff(kSilentHost));
}

// Export files replaced by the next exports while their upload is held mid-file by the server:
// every file the server shows under its final name is one export's file, whole, and the last
// one is the newest.
TEST_F(FtpJobsTest, FilesReplacedWhileTheirUploadRunsArePublishedWhole) {
  std::string heldRoot = dir.File("heldroot");
  fs::create_directories(heldRoot);
  const std::string hold = dir.File("hold");
  FtpTestServer held(heldRoot, "127.0.0.1", 0, hold);
  ASSERT_NE(held.Port(), 0);
  SettingsStore store(dir.File("Lapora.ini"));
  ASSERT_TRUE(store.WriteSettingText(kExportLinesSection, "FtpServersList", "Held"));
  WriteFile(dir.File("FtpServers.dat"), "Held\t127.0.0.1\talice\tsecret\t\r\n");
  CFtpWorker worker(events, held.Port());
  worker.Start();
  ExportEnvironment env{
      store, dir.path(), dir.File("FtpServers.dat"),
      [&worker](std::unique_ptr<CFtpJob> job) { worker.QueueFtpJob(std::move(job)); }};
  ExportOptions options;
  options.folder = dir.File("out");
  fs::create_directories(options.folder);
  options.genericName = "race";
  options.ftp = true;
  options.silent = true;
  const std::string remote = heldRoot + "/race-FIN-1.kol";

  // About 6 MB, more than the sockets hold, so that the upload stops mid-file. Each version
  // has times of its own and one more line: a mix of two versions is none of them.
  const std::string padding(150, 'x');
  std::vector<std::string> versions;
  auto exportVersion = [&](int v) {
    CWorkSnapshot snapshot;
    for (int i = 0; i < 36000 + v; ++i) {
      CKolResult record;
      record.detectorLabel = "FIN";
      record.bibText = std::to_string(i + 1) + "/" + padding;
      record.timeText = StrF("%02d:%02d:%02d.%02d", 1 + i / 3600, i / 60 % 60, i % 60, v);
      snapshot.push_back(CWorkResult::FromRecord(record));
    }
    ExportOutcome outcome = ExportDetectionLinesNow(ListOf(snapshot), options, env);
    ASSERT_TRUE(outcome.ftpLaunched) << outcome.ftpError;
    ASSERT_EQ(outcome.createdFiles.size(), 1u);
    versions.push_back(ReadFile(outcome.createdFiles[0]));
  };
  std::vector<std::string> published;
  fs::file_time_type lastSeen;
  auto checkPublished = [&] {
    std::error_code error;
    fs::file_time_type written = fs::last_write_time(remote, error);
    if (error || written == lastSeen) {
      return;
    }
    lastSeen = written;
    published.push_back(ReadFile(remote));
    EXPECT_NE(std::find(versions.begin(), versions.end(), published.back()), versions.end())
        << "a torn file of " << published.back().size() << " bytes was published";
  };

  WriteFile(hold, "");
  exportVersion(0);
  ASSERT_GT(versions[0].size(), 6'000'000u);
  ASSERT_TRUE(DispatchUntil([&] { return fs::exists(remote + ".lock"); }));
  for (int v = 1; v <= 3; ++v) {
    exportVersion(v);
  }
  fs::remove(hold);
  ASSERT_TRUE(DispatchUntil(
      [&] {
        checkPublished();
        return worker.QueuedJobs() == 0 && !worker.IsBusy();
      },
      std::chrono::seconds(60)));
  checkPublished();
  // The upload under way when the files were replaced, then the one queued last, whose job took
  // the place of the others.
  EXPECT_EQ(NoteList(), (std::vector<std::string>{"1 race-FIN-1.kol", "3 race-FIN-1.kol",
                                                  "1 race-FIN-1.kol", "3 race-FIN-1.kol"}));
  ASSERT_FALSE(published.empty());
  EXPECT_EQ(published.back(), versions.back());
  EXPECT_FALSE(fs::exists(remote + ".lock"));
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
