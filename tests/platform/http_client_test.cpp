#include "platform/http_client.h"

#include <gtest/gtest.h>

#include <cstdint>
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
// answers with the request's headers; "/redirect/N" moves N + 1 times (with a page of its own
// each time) before the data "/currentData.csv"; "/nowhere" is moved without a place to go;
// "/trickle" sends 1 of its 1000 bytes then falls silent; "/slow" sends 10 bytes, one every
// quarter of a second. It prints "port N" once it listens.
constexpr const char* kServer = R"(
import http.server, os, sys, time
os.chdir(sys.argv[1])
class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass
    def answer(self, status, body, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def do_GET(self):
        if self.path == '/headers':
            self.answer(200, str(self.headers).encode())
        elif self.path.startswith('/redirect/'):
            left = int(self.path.split('/')[2])
            target = '/redirect/%d' % (left - 1) if left > 0 else '/currentData.csv'
            self.answer(302, b'REDIRECT PAGE\n', [('Location', target)])
        elif self.path == '/nowhere':
            self.answer(302, b'E1,2012-05-13 10:00:00.000,x,y\n')
        elif self.path == '/trickle':
            self.send_response(200)
            self.send_header('Content-Length', '1000')
            self.end_headers()
            self.wfile.write(b'0')
            self.wfile.flush()
            time.sleep(60)
        elif self.path == '/slow':
            self.send_response(200)
            self.send_header('Content-Length', '10')
            self.end_headers()
            for digit in b'0123456789':
                self.wfile.write(bytes([digit]))
                self.wfile.flush()
                time.sleep(0.25)
        else:
            super().do_GET()
class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
server = Server(('127.0.0.1', 0), Handler)
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
  HttpOptions quick;
  quick.connectSeconds = 5;
  EXPECT_FALSE(GetInternetFile("http://127.0.0.1:1/currentData.csv", path, &error, quick));
  EXPECT_EQ(error.rfind("_GetInternetFile: ", 0), 0u) << error;
  EXPECT_FALSE(std::filesystem::exists(path));

  // A folder that does not exist cannot receive the file.
  EXPECT_FALSE(GetInternetFile(Url("/headers"), m_local.File("no/such/data.csv"), &error));
  EXPECT_EQ(error.rfind("_GetInternetFile: ", 0), 0u) << error;
}

// Moved data is followed to where it is, five moves at most; what is left after the moves must
// be the data: the page of a move is never taken for it.
TEST_F(HttpClientTest, RedirectionsAreFollowedAndOnlyTheDataCounts) {
  ASSERT_FALSE(m_port.empty());
  const std::string content = "E2003412,2012-05-13 10:23:45.120,x,y\r\n";
  WriteFile(m_served.File("currentData.csv"), content);
  std::string path = m_local.File("data.csv");
  std::string error;
  ASSERT_TRUE(GetInternetFile(Url("/redirect/4"), path, &error)) << error;
  EXPECT_EQ(ReadFile(path), content);
  std::string data;
  ASSERT_TRUE(GetInternetData(Url("/redirect/4"), &data, &error)) << error;
  EXPECT_EQ(data, content);

  // A sixth move is one too many.
  EXPECT_FALSE(GetInternetFile(Url("/redirect/5"), path, &error));
  EXPECT_EQ(error.rfind("_GetInternetFile: ", 0), 0u) << error;
  EXPECT_FALSE(std::filesystem::exists(path));

  // A move with nowhere to go ends on a 3xx answer: an error, whatever its body looks like.
  data = "unchanged";
  EXPECT_FALSE(GetInternetData(Url("/nowhere"), &data, &error));
  EXPECT_NE(error.find("302"), std::string::npos) << error;
  EXPECT_EQ(data, "unchanged");
  EXPECT_FALSE(GetInternetFile(Url("/nowhere"), path, &error));
  EXPECT_NE(error.find("302"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(path));
}

// No total time limit: a transfer that keeps going outlasts the connection deadline; one that
// stops is dropped after the low-speed window; the caller can stop one at any time.
TEST_F(HttpClientTest, OnlyASilentTransferIsCutAndTheCallerCanStopOne) {
  ASSERT_FALSE(m_port.empty());
  std::string path = m_local.File("data.csv");
  std::string error;
  HttpOptions options;
  options.connectSeconds = 1;
  options.lowSpeedSeconds = 2;
  std::string data;
  ASSERT_TRUE(GetInternetData(Url("/slow"), &data, &error, options)) << error;
  EXPECT_EQ(data, "0123456789");

  options.lowSpeedSeconds = 1;
  EXPECT_FALSE(GetInternetFile(Url("/trickle"), path, &error, options));
  EXPECT_EQ(error.rfind("_GetInternetFile: ", 0), 0u) << error;
  EXPECT_NE(error.find("slow"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(path));

  // Stopped by the caller once the first bytes are in, long before the low-speed window ends.
  options.lowSpeedSeconds = 60;
  std::int64_t seen = 0;
  options.keepGoing = [&seen](std::int64_t received) {
    seen = received;
    return received == 0;
  };
  EXPECT_FALSE(GetInternetFile(Url("/trickle"), path, &error, options));
  EXPECT_EQ(error, "_GetInternetFile: cancelled");
  EXPECT_EQ(seen, 1);
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace lapora
