// Uploads to servers whose site asks for TLS (ftps://) or SSH (sftp://), and the plain forms of
// a site, through the upload worker against real servers: pyftpdlib with TLS, OpenSSH.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "export/ftp_jobs.h"
#include "export/ftp_servers.h"
#include "export/ftp_test_server.h"
#include "export/secure_test_servers.h"
#include "foundation/events.h"
#include "foundation/text.h"
#include "platform/ftp_client.h"
#include "resources/messages_export.h"
#include "support/env_override.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

using testing::EnvOverride;
using testing::FtpsTestServer;
using testing::FtpTestServer;
using testing::ReadFile;
using testing::RunProgram;
using testing::SftpTestServer;
using testing::TempDir;
using testing::TestCertificate;
using testing::WriteFile;

namespace fs = std::filesystem;

// Bytes that a text-mode transfer or a cut-short one would change.
std::string Content(std::size_t size) {
  std::string content;
  for (std::size_t i = 0; i < size; ++i) {
    content.push_back(static_cast<char>((i * 13 + i / 509) % 256));
  }
  return content + "\r\n\n\r";
}

// The test thread plays the main thread: it dispatches the worker's notifications.
class SecureUploadTest : public ::testing::Test {
 protected:
  std::unique_ptr<CFtpJob> Job(const std::string& site, const std::string& user,
                               const std::string& password, const std::string& directory,
                               const std::string& localName, const std::string& content,
                               const std::string& remoteName) {
    std::string local = dir.File(localName);
    WriteFile(local, content);
    auto job = std::make_unique<CFtpJob>();
    job->SetServer(testing::Server("Results", site, user, password, directory));
    job->SetLocalPath(local);
    job->SetRemoteName(remoteName);
    return job;
  }

  // Runs the jobs on a worker whose FTP port is ftpPort; the last notification of each.
  std::vector<FtpJobStatusEvent> Run(std::vector<std::unique_ptr<CFtpJob>> jobs,
                                     int ftpPort = kFtpDefaultPort) {
    std::vector<FtpJobStatusEvent> notes;
    CFtpWorker worker(events, ftpPort);
    std::size_t expected = jobs.size() * 2;
    for (auto& job : jobs) {
      worker.QueueFtpJob(std::move(job));
    }
    worker.Start();
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (notes.size() < expected && std::chrono::steady_clock::now() < end) {
      (void)events.WaitForEvents(std::chrono::milliseconds(100));
      events.Dispatch([&](const Event& event) {
        if (const auto* status = std::get_if<FtpJobStatusEvent>(&event)) {
          notes.push_back(*status);
        }
      });
    }
    worker.StopFtpJobs();
    std::vector<FtpJobStatusEvent> last;
    for (std::size_t i = 1; i < notes.size(); i += 2) {
      last.push_back(notes[i]);
    }
    last.resize(expected / 2);
    return last;
  }

  TempDir dir;
  EventQueue events;
};

class FtpsUploadTest : public SecureUploadTest {
 protected:
  void SetUp() override {
    fs::create_directories(root);
    ASSERT_TRUE(certificate.made) << "openssl could not make the test certificate";
    server = std::make_unique<FtpsTestServer>(root, certificate);
    ASSERT_NE(server->Port(), 0) << "the FTP server with TLS did not start";
  }

  std::string Site() const { return "ftps://127.0.0.1:" + std::to_string(server->Port()); }

  std::string root = dir.File("ftpsroot");
  TestCertificate certificate{dir};
  std::unique_ptr<FtpsTestServer> server;
};

TEST_F(FtpsUploadTest, TrustedServerGetsTheWholeFileUnderItsFinalNameOverTls) {
  // The server's own certificate, trusted as well as the system's authorities.
  EnvOverride trust("CURL_CA_BUNDLE", certificate.certificate);
  WriteFile(root + "/results.txt", "older results");
  WriteFile(root + "/results.txt.lock", "left by a failed upload");
  std::string content = Content(256 * 1024);
  std::vector<std::unique_ptr<CFtpJob>> jobs;
  jobs.push_back(
      Job(Site(), testing::kFtpUser, testing::kFtpPassword, "", "r.txt", content, "results.txt"));
  // The server refuses a login and data outside TLS: a plain site cannot upload there.
  jobs.push_back(Job("127.0.0.1:" + std::to_string(server->Port()), testing::kFtpUser,
                     testing::kFtpPassword, "", "plain.txt", "in clear", "plain.txt"));

  std::vector<FtpJobStatusEvent> last = Run(std::move(jobs));
  EXPECT_EQ(last[0].status, CFtpJob::kStatusDone) << last[0].errorText;
  EXPECT_TRUE(ReadFile(root + "/results.txt") == content);
  EXPECT_FALSE(fs::exists(root + "/results.txt.lock"));
  EXPECT_EQ(last[1].status, CFtpJob::kStatusError);
  EXPECT_FALSE(fs::exists(root + "/plain.txt"));
  EXPECT_FALSE(fs::exists(root + "/plain.txt.lock"));
}

TEST_F(FtpsUploadTest, ServerWithAnUntrustedCertificateGetsNothing) {
  EnvOverride noExtraTrust("CURL_CA_BUNDLE", "");
  WriteFile(root + "/results.txt", "older results");
  std::vector<std::unique_ptr<CFtpJob>> jobs;
  jobs.push_back(
      Job(Site(), testing::kFtpUser, testing::kFtpPassword, "", "r.txt", "new", "results.txt"));
  std::vector<FtpJobStatusEvent> last = Run(std::move(jobs));
  EXPECT_EQ(last[0].status, CFtpJob::kStatusError);
  EXPECT_NE(last[0].errorText.find("certificate"), std::string::npos) << last[0].errorText;
  EXPECT_EQ(ReadFile(root + "/results.txt"), "older results");
  EXPECT_FALSE(fs::exists(root + "/results.txt.lock"));
}

TEST_F(SecureUploadTest, TlsSiteNeverLogsInToAServerWithoutTls) {
  std::string root = dir.File("root");
  fs::create_directories(root);
  FtpTestServer plain(root);
  ASSERT_NE(plain.Port(), 0);
  std::string local = dir.File("r.txt");
  WriteFile(local, "results");
  CFtpClient client(FtpEndpoint{"ftps://127.0.0.1", plain.Port(), testing::kFtpUser,
                                testing::kFtpPassword, true});
  FtpUploadPlan plan;
  plan.localPath = local;
  plan.tempName = "r.txt.lock";
  plan.finalName = "r.txt";
  FtpResult result = client.Upload(plan);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.failedStep, FtpStep::kConnect);
  // The server refused the request for TLS; the upload ended there, before USER and PASS.
  EXPECT_EQ(result.curlCode, CURLE_USE_SSL_FAILED) << result.message;
  EXPECT_FALSE(fs::exists(root + "/r.txt.lock"));
}

// The sites of existing FtpServers.dat files, and the same with ftp:// and a port of their own.
TEST_F(SecureUploadTest, BareHostsAndFtpSitesUploadInClearAsBefore) {
  std::string root = dir.File("root");
  fs::create_directories(root);
  FtpTestServer server(root);
  ASSERT_NE(server.Port(), 0);
  std::string port = std::to_string(server.Port());
  auto job = [&](const std::string& site, const std::string& name) {
    return Job(site, testing::kFtpUser, testing::kFtpPassword, "", name, site, name);
  };
  std::vector<std::unique_ptr<CFtpJob>> jobs;
  jobs.push_back(job("127.0.0.1", "bare.txt"));
  jobs.push_back(job("ftp://127.0.0.1", "ftp.txt"));
  std::vector<FtpJobStatusEvent> last = Run(std::move(jobs), server.Port());
  // The worker's FTP port is the usual one (21): only the sites' own ports lead to the server.
  std::vector<std::unique_ptr<CFtpJob>> ported;
  ported.push_back(job("127.0.0.1:" + port, "bare-port.txt"));
  ported.push_back(job("FTP://127.0.0.1:" + port + "/", "ftp-port.txt"));
  for (FtpJobStatusEvent& note : Run(std::move(ported))) {
    last.push_back(note);
  }
  for (const FtpJobStatusEvent& note : last) {
    EXPECT_EQ(note.status, CFtpJob::kStatusDone) << note.remoteName << ": " << note.errorText;
  }
  EXPECT_EQ(ReadFile(root + "/bare.txt"), "127.0.0.1");
  EXPECT_EQ(ReadFile(root + "/ftp.txt"), "ftp://127.0.0.1");
  EXPECT_EQ(ReadFile(root + "/bare-port.txt"), "127.0.0.1:" + port);
  EXPECT_EQ(ReadFile(root + "/ftp-port.txt"), "FTP://127.0.0.1:" + port + "/");
}

class SftpUploadTest : public SecureUploadTest {
 protected:
  void SetUp() override {
    std::string why = SftpTestServer::Unavailable();
    if (!why.empty()) {
      GTEST_SKIP() << why;
    }
    server = std::make_unique<SftpTestServer>();
    ASSERT_NE(server->Port(), 0) << server->Error();
    fs::create_directories(home + "/.ssh");
  }

  std::string Site() const { return "sftp://127.0.0.1:" + std::to_string(server->Port()); }
  std::unique_ptr<CFtpJob> SftpJob(const std::string& directory, const std::string& localName,
                                   const std::string& content, const std::string& remoteName) {
    return Job(Site(), server->User(), server->Password(), directory, localName, content,
               remoteName);
  }
  void KnowTheServer(const std::string& line) { WriteFile(home + "/.ssh/known_hosts", line); }
  // Runs a shell command as the operator would, in the test's home.
  int Shell(const std::string& command) {
    return RunProgram({"/bin/sh", "-c", command}, "", dir.File("shell.log"));
  }

  // The known hosts are the operator's: the test's home stands for theirs.
  std::string home = dir.File("operator");
  EnvOverride homeOverride{"HOME", home};
  std::unique_ptr<SftpTestServer> server;
};

TEST_F(SftpUploadTest, KnownServerGetsTheFilesUnderTheirFinalNamesReplacingOlderOnes) {
  KnowTheServer(server->KnownHostsLine());
  std::string results = server->Home() + "/results";
  std::string site = server->Home() + "/web site";
  fs::create_directories(results);
  fs::create_directories(site);
  WriteFile(results + "/day1.txt", "older results");
  WriteFile(results + "/day1.txt.lock", "left by a failed upload");
  WriteFile(site + "/race all.txt", "older results");
  ASSERT_TRUE(server->GiveToUser(server->Home()));
  std::string content = Content(300 * 1024);
  std::vector<std::unique_ptr<CFtpJob>> jobs;
  // A folder from the login folder, then one from the root with a blank in its name.
  jobs.push_back(SftpJob(" results ", "d1.txt", content, "day1.txt"));
  jobs.push_back(SftpJob(site + "/", "all.txt", "all runners", "race all.txt"));

  std::vector<FtpJobStatusEvent> last = Run(std::move(jobs));
  EXPECT_EQ(last[0].status, CFtpJob::kStatusDone) << last[0].errorText;
  EXPECT_TRUE(ReadFile(results + "/day1.txt") == content);
  EXPECT_FALSE(fs::exists(results + "/day1.txt.lock"));
  EXPECT_EQ(last[1].status, CFtpJob::kStatusDone) << last[1].errorText;
  EXPECT_EQ(ReadFile(site + "/race all.txt"), "all runners");
  EXPECT_FALSE(fs::exists(site + "/race all.txt.lock"));
}

TEST_F(SftpUploadTest, UnknownServerGetsNothingUntilTheOperatorAcceptsItsKey) {
  fs::remove_all(home + "/.ssh");  // an operator who never used SSH
  std::vector<std::unique_ptr<CFtpJob>> jobs;
  jobs.push_back(SftpJob("", "r.txt", "results", "results.txt"));
  std::vector<FtpJobStatusEvent> last = Run(std::move(jobs));
  ASSERT_EQ(last[0].status, CFtpJob::kStatusError);
  std::string accept = AcceptHostKeyCommand("127.0.0.1", server->Port(), false);
  EXPECT_EQ(last[0].errorText,
            StrF(Tr(kMsgSftpHostKeyUnknown).c_str(), Site().c_str(), accept.c_str()));
  EXPECT_TRUE(fs::is_empty(server->Home()));

  // What the message tells the operator to do is enough.
  ASSERT_EQ(Shell(accept), 0) << ReadFile(dir.File("shell.log"));
  std::vector<std::unique_ptr<CFtpJob>> again;
  again.push_back(SftpJob("", "r.txt", "results", "results.txt"));
  last = Run(std::move(again));
  EXPECT_EQ(last[0].status, CFtpJob::kStatusDone) << last[0].errorText;
  EXPECT_EQ(ReadFile(server->Home() + "/results.txt"), "results");
}

TEST_F(SftpUploadTest, ServerWhoseKeyChangedGetsNothingUntilTheOperatorReplacesIt) {
  // The known key of this host and port is another machine's.
  ASSERT_EQ(RunProgram({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", dir.File("other")}),
            0);
  std::string other = ReadFile(dir.File("other.pub"));
  other = other.substr(0, other.find(' ', other.find(' ') + 1));
  KnowTheServer("[127.0.0.1]:" + std::to_string(server->Port()) + " " + other + "\n");

  std::vector<std::unique_ptr<CFtpJob>> jobs;
  jobs.push_back(SftpJob("", "r.txt", "results", "results.txt"));
  std::vector<FtpJobStatusEvent> last = Run(std::move(jobs));
  ASSERT_EQ(last[0].status, CFtpJob::kStatusError);
  std::string replace = AcceptHostKeyCommand("127.0.0.1", server->Port(), true);
  EXPECT_EQ(last[0].errorText,
            StrF(Tr(kMsgSftpHostKeyChanged).c_str(), Site().c_str(), replace.c_str()));
  EXPECT_TRUE(fs::is_empty(server->Home()));

  ASSERT_EQ(Shell(replace), 0) << ReadFile(dir.File("shell.log"));
  std::vector<std::unique_ptr<CFtpJob>> again;
  again.push_back(SftpJob("", "r.txt", "results", "results.txt"));
  last = Run(std::move(again));
  EXPECT_EQ(last[0].status, CFtpJob::kStatusDone) << last[0].errorText;
}

TEST_F(SftpUploadTest, WrongPasswordIsTheServersRefusalNotAConnectionFailure) {
  KnowTheServer(server->KnownHostsLine());
  std::vector<std::unique_ptr<CFtpJob>> jobs;
  jobs.push_back(Job(Site(), server->User(), "not the password", "", "r.txt", "x", "r.txt"));
  std::vector<FtpJobStatusEvent> last = Run(std::move(jobs));
  EXPECT_EQ(last[0].status, CFtpJob::kStatusError);
  EXPECT_NE(last[0].errorText, StrF(Tr(kMsgFtpCantConnect).c_str(), Site().c_str()));
  EXPECT_TRUE(fs::is_empty(server->Home()));
}

}  // namespace
}  // namespace lapora
