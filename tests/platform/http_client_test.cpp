#include "platform/http_client.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/simulator_process.h"
#include "support/temp_dir.h"

namespace lapora {
namespace {

using testing::ReadFile;
using testing::SimulatorProcess;
using testing::TempDir;
using testing::WriteFile;

// A real HTTP server on a free loopback port serving the folder given as argument; "/headers"
// answers with the request's headers. It prints "port N" once it listens.
constexpr const char* kServer = R"(
import http.server, os, sys
os.chdir(sys.argv[1])
class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass
    def do_GET(self):
        if self.path == '/headers':
            body = str(self.headers).encode()
            self.send_response(200)
            self.send_header('Content-Length', str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        super().do_GET()
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
print('port', server.server_address[1], flush=True)
server.serve_forever()
)";

class HttpClientTest : public ::testing::Test {
 protected:
  HttpClientTest() : m_server("/usr/bin/python3", {"-c", kServer, m_served.path()}) {
    m_port = m_server.WaitEvent("port ");
  }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + m_port + path; }

  TempDir m_served;
  TempDir m_local;
  SimulatorProcess m_server;
  std::string m_port;
};

TEST_F(HttpClientTest, FileIsDownloadedByteForByte) {
  ASSERT_FALSE(m_port.empty());
  std::string content;
  for (int i = 0; i < 3000; ++i) {
    content += "E2003412,2012-05-13 10:23:45.120,x,y\r\n";
  }
  WriteFile(m_served.File("currentData.csv"), content);
  std::string path = m_local.File("data.csv");
  WriteFile(path, "old content that must go");
  std::string error;
  ASSERT_TRUE(GetInternetFile(Url("/currentData.csv"), path, &error)) << error;
  EXPECT_EQ(ReadFile(path), content);

  std::string data;
  ASSERT_TRUE(GetInternetData(Url("/currentData.csv"), &data, &error)) << error;
  EXPECT_EQ(data, content);
}

TEST_F(HttpClientTest, EveryCacheIsBypassed) {
  ASSERT_FALSE(m_port.empty());
  std::string data;
  std::string error;
  ASSERT_TRUE(GetInternetData(Url("/headers"), &data, &error)) << error;
  EXPECT_NE(data.find("Cache-Control: no-cache"), std::string::npos) << data;
  EXPECT_NE(data.find("Pragma: no-cache"), std::string::npos) << data;
}

TEST_F(HttpClientTest, FailuresLeaveNoFileAndSayWhy) {
  ASSERT_FALSE(m_port.empty());
  std::string path = m_local.File("data.csv");
  std::string error;
  EXPECT_FALSE(GetInternetFile(Url("/missing.csv"), path, &error));
  EXPECT_EQ(error.rfind("_GetInternetFile: ", 0), 0u) << error;
  EXPECT_NE(error.find("404"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(path));

  std::string data = "unchanged";
  EXPECT_FALSE(GetInternetData(Url("/missing.csv"), &data, &error));
  EXPECT_EQ(error.rfind("_GetInternetData: ", 0), 0u) << error;
  EXPECT_EQ(data, "unchanged");

  // Nobody listens on port 1.
  EXPECT_FALSE(GetInternetFile("http://127.0.0.1:1/currentData.csv", path, &error, 5));
  EXPECT_EQ(error.rfind("_GetInternetFile: ", 0), 0u) << error;
  EXPECT_FALSE(std::filesystem::exists(path));

  // A folder that does not exist cannot receive the file.
  EXPECT_FALSE(GetInternetFile(Url("/headers"), m_local.File("no/such/data.csv"), &error));
  EXPECT_EQ(error.rfind("_GetInternetFile: ", 0), 0u) << error;
}

}  // namespace
}  // namespace lapora
