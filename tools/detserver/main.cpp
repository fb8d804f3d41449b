// detserver: serves a folder of box data files as a detection server does. The folder holds one
// sub-folder per box, each holding that box's data files. Single process; the HTTP library
// answers each request on a worker thread, file operations are serialised by one mutex.
#include <httplib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Options {
  std::string folder;
  std::string host = "127.0.0.1";
  int port = 0;
  std::string prefix;                   // path before the requests, e.g. "/cgi/server.php"
  std::vector<std::string> extraLines;  // written verbatim at the end of the listing
};

void Usage(std::FILE* to) {
  std::fprintf(to,
               "usage: detserver --folder DIR [--host ADDR] [--port N] [--prefix /PATH]\n"
               "                 [--extra-line TEXT]...\n"
               "  --folder DIR       one sub-folder per box, holding its data files\n"
               "  --host ADDR        address to listen on (default 127.0.0.1)\n"
               "  --port N           TCP port (default 0: a free one)\n"
               "  --prefix /PATH     path the requests hang from (default none)\n"
               "  --extra-line TEXT  a line appended verbatim to every listing (repeatable)\n"
               "  -h, --help         this text\n"
               "Prints \"listening on PORT\" once the port is open.\n");
}

// False on an error; *help set when the options were asked for.
bool ParseOptions(int argc, char** argv, Options* options, bool* help) {
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "--help" || name == "-h") {
      *help = true;
      return true;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "detserver: %s needs a value\n", name.c_str());
      return false;
    }
    std::string value = argv[++i];
    if (name == "--folder") {
      options->folder = value;
    } else if (name == "--host") {
      options->host = value;
    } else if (name == "--port") {
      char* end = nullptr;
      errno = 0;
      long port = std::strtol(value.c_str(), &end, 10);
      if (errno != 0 || end == value.c_str() || *end != '\0' || port < 0 || port > 65535) {
        std::fprintf(stderr, "detserver: --port wants a port from 0 to 65535\n");
        return false;
      }
      options->port = static_cast<int>(port);
    } else if (name == "--prefix") {
      while (!value.empty() && value.back() == '/') {
        value.pop_back();
      }
      if (!value.empty() && value.front() != '/') {
        value.insert(value.begin(), '/');
      }
      options->prefix = value;
    } else if (name == "--extra-line") {
      options->extraLines.push_back(value);
    } else {
      std::fprintf(stderr, "detserver: unknown option %s\n", name.c_str());
      return false;
    }
  }
  if (options->folder.empty()) {
    std::fprintf(stderr, "detserver: --folder is required\n");
    return false;
  }
  return true;
}

// A box or file name as it may appear on the wire: one path part that stays inside its folder.
bool SafeName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\\') == std::string::npos && name.find('\0') == std::string::npos;
}

// Detections in a data file: its non-blank lines.
int CountDetections(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  int count = 0;
  while (std::getline(in, line)) {
    if (line.find_first_not_of(" \t\r") != std::string::npos) {
      ++count;
    }
  }
  return count;
}

std::string FileStamp(const fs::path& path, const char* format) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    return "";
  }
  std::tm local{};
  if (::localtime_r(&info.st_mtime, &local) == nullptr) {
    return "";
  }
  char text[32];
  std::size_t n = std::strftime(text, sizeof text, format, &local);
  return std::string(text, n);
}

class DetectionServer {
 public:
  explicit DetectionServer(Options options) : m_options(std::move(options)) {}

  int Run() {
    const std::string& p = m_options.prefix;
    m_server.Get(p + "/getDataFiles",
                 [this](const httplib::Request&, httplib::Response& res) { Listing(res); });
    m_server.Get(p + R"(/getDataFile/([^/]+)/([^/]+))",
                 [this](const httplib::Request& req, httplib::Response& res) {
                   SendFile(req.matches[1], req.matches[2], res);
                 });
    m_server.Get(p + R"(/removeDataFile/([^/]+)/([^/]+))",
                 [this](const httplib::Request& req, httplib::Response& res) {
                   RemoveFile(req.matches[1], req.matches[2], res);
                 });
    int port = m_options.port == 0
                   ? m_server.bind_to_any_port(m_options.host)
                   : (m_server.bind_to_port(m_options.host, m_options.port) ? m_options.port : -1);
    if (port < 0) {
      std::fprintf(stderr, "detserver: cannot listen on %s:%d\n", m_options.host.c_str(),
                   m_options.port);
      return 1;
    }
    std::printf("listening on %d\n", port);
    std::fflush(stdout);
    return m_server.listen_after_bind() ? 0 : 1;
  }

 private:
  void Event(const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
  }

  // box;file;detections;DD/MM/YYYY;HH:MM:SS lines, CR LF ended, grouped by box.
  void Listing(httplib::Response& res) {
    std::lock_guard lock(m_filesMutex);
    std::vector<fs::path> boxes;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(m_options.folder, ec)) {
      if (entry.is_directory(ec) && SafeName(entry.path().filename().string())) {
        boxes.push_back(entry.path());
      }
    }
    if (ec) {
      res.status = 500;
      res.set_content("cannot read " + m_options.folder + ": " + ec.message(), "text/plain");
      return;
    }
    std::sort(boxes.begin(), boxes.end());
    std::ostringstream out;
    int lines = 0;
    for (const fs::path& box : boxes) {
      std::vector<fs::path> files;
      for (const fs::directory_entry& entry : fs::directory_iterator(box, ec)) {
        if (entry.is_regular_file(ec)) {
          files.push_back(entry.path());
        }
      }
      std::sort(files.begin(), files.end());
      for (const fs::path& file : files) {
        out << box.filename().string() << ';' << file.filename().string() << ';'
            << CountDetections(file) << ';' << FileStamp(file, "%d/%m/%Y") << ';'
            << FileStamp(file, "%H:%M:%S") << "\r\n";
        ++lines;
      }
    }
    for (const std::string& extra : m_options.extraLines) {
      out << extra << "\r\n";
    }
    res.set_content(out.str(), "text/plain");
    Event("listing " + std::to_string(lines));
  }

  bool Locate(const std::string& box, const std::string& name, fs::path* path,
              httplib::Response& res) {
    if (!SafeName(box) || !SafeName(name)) {
      res.status = 400;
      res.set_content("bad file name", "text/plain");
      return false;
    }
    *path = fs::path(m_options.folder) / box / name;
    std::error_code ec;
    if (!fs::is_regular_file(*path, ec)) {
      res.status = 404;
      res.set_content("no file " + box + "/" + name, "text/plain");
      return false;
    }
    return true;
  }

  void SendFile(const std::string& box, const std::string& name, httplib::Response& res) {
    std::lock_guard lock(m_filesMutex);
    fs::path path;
    if (!Locate(box, name, &path, res)) {
      Event("refused " + box + "/" + name);
      return;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream body;
    body << in.rdbuf();
    res.set_content(body.str(), "text/csv");
    Event("sent " + box + "/" + name);
  }

  void RemoveFile(const std::string& box, const std::string& name, httplib::Response& res) {
    std::lock_guard lock(m_filesMutex);
    fs::path path;
    if (!Locate(box, name, &path, res)) {
      Event("refused " + box + "/" + name);
      return;
    }
    std::error_code ec;
    if (!fs::remove(path, ec)) {
      res.status = 500;
      res.set_content("cannot remove " + box + "/" + name + ": " + ec.message(), "text/plain");
      return;
    }
    res.set_content("File " + box + "/" + name + " removed", "text/plain");
    Event("removed " + box + "/" + name);
  }

  Options m_options;
  httplib::Server m_server;
  std::mutex m_filesMutex;  // guards the folder's files between concurrent requests
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  bool help = false;
  if (!ParseOptions(argc, argv, &options, &help)) {
    Usage(stderr);
    return 2;
  }
  if (help) {
    Usage(stdout);
    return 0;
  }
  DetectionServer server(std::move(options));
  return server.Run();
}
