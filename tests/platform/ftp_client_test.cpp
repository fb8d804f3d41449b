// How the site of a server is read. The uploads themselves run against real servers in
// tests/export (plain FTP, FTP over TLS, SFTP).
#include "platform/ftp_client.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace lapora {
namespace {

FtpSite Site(FtpProtocol protocol, std::string host, int port) {
  FtpSite site;
  site.protocol = protocol;
  site.host = std::move(host);
  site.port = port;
  return site;
}

TEST(FtpSiteTest, ReadsTheFormsAnOperatorWrites) {
  const struct {
    const char* text;
    FtpSite site;
  } cases[] = {
      // The sites of existing FtpServers.dat files stay plain FTP.
      {"ftp.example.org", Site(FtpProtocol::kFtp, "ftp.example.org", 0)},
      {"10.0.0.5:2121", Site(FtpProtocol::kFtp, "10.0.0.5", 2121)},
      {"ftp://ftp.example.org", Site(FtpProtocol::kFtp, "ftp.example.org", 0)},
      {"ftps://results.example.org", Site(FtpProtocol::kFtps, "results.example.org", 0)},
      {"FTPS://results.example.org:990/", Site(FtpProtocol::kFtps, "results.example.org", 990)},
      {"sftp://my_host-1.lan:2222", Site(FtpProtocol::kSftp, "my_host-1.lan", 2222)},
      {"  sftp://192.168.1.20\t", Site(FtpProtocol::kSftp, "192.168.1.20", 0)},
      {"sftp://[::1]:2222", Site(FtpProtocol::kSftp, "::1", 2222)},
      {"[fe80::1%eth0]", Site(FtpProtocol::kFtp, "fe80::1%eth0", 0)},
      {"2001:db8::7", Site(FtpProtocol::kFtp, "2001:db8::7", 0)},
      {"host:65535", Site(FtpProtocol::kFtp, "host", 65535)},
  };
  for (const auto& c : cases) {
    std::optional<FtpSite> read = ParseFtpSite(c.text);
    ASSERT_TRUE(read.has_value()) << c.text;
    EXPECT_EQ(*read, c.site) << c.text;
  }
}

TEST(FtpSiteTest, RefusesWhatWouldNotReachTheServerMeant) {
  const char* refused[] = {
      "",
      "ftps://",
      "sftp://:22",
      "http://results.example.org",  // another protocol is not quietly made FTP
      "ftpes://host",
      "scp://host",
      "host:",
      "host:0",
      "host:65536",
      "host:21a",
      "host:+21",
      "ftp://host/results",  // the folder has its own field
      "ftp://user@host",
      "host name",
      "host;rm -rf ~",  // the host reaches a shell command of the host-key advice
      "ftp://host?x",
      "[::1",
      "[::1]2121",
      "[::1]:",
      "[host]:22",
  };
  for (const char* text : refused) {
    EXPECT_FALSE(ParseFtpSite(text).has_value()) << text;
  }
}

TEST(FtpSiteTest, UploadOfAnUnreadableSiteFailsBeforeConnecting) {
  CFtpClient client(FtpEndpoint{"http://127.0.0.1", kFtpDefaultPort, "u", "p", true});
  FtpUploadPlan plan;
  plan.localPath = "/nonexistent/never/opened";
  plan.tempName = "a.lock";
  plan.finalName = "a";
  FtpResult result = client.Upload(plan);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.failedStep, FtpStep::kConnect);
  EXPECT_FALSE(result.serverReplied);
}

}  // namespace
}  // namespace lapora
