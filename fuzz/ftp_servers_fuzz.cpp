// The FTP servers file: the fuzz input is the file. It is loaded as the program loads it, every
// server is found again by its label, and the list is saved and loaded back: a list read from a
// file must come back the same from the file the program writes for it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "export/ftp_servers.h"
#include "foundation/text.h"
#include "fuzz_support.h"

namespace {

using namespace lapora;
using namespace lapora::fuzz;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ScratchFolder folder;
  static const std::string path = folder.File("FtpServers.dat");
  static const std::string savedPath = folder.File("FtpServers-saved.dat");
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  WriteWholeFile(path, content);

  std::vector<CFtpServer> servers;
  std::string error;
  Check(LoadFtpServers(path, &servers, &error) == 0, "an existing file does not load: " + error);
  Check(servers == ParseFtpServers(content), "the loaded file and its content differ");
  bool fits = true;
  for (const CFtpServer& server : servers) {
    for (const std::string* field :
         {&server.label, &server.site, &server.user, &server.password, &server.directory}) {
      Check(field->find_first_of("\t\n;") == std::string::npos, "a field holds a separator");
    }
    const CFtpServer* found = FindFtpServer(servers, server.label);
    Check(found != nullptr || TrimBlanks(server.label) != server.label,
          "a server is not found by its own label");
    fits = fits && FormatFtpServers({server}).size() - 1 <= kFtpServersMaxLine;
  }

  Check(SaveFtpServers(servers, savedPath, &error) == 0, "the list cannot be saved: " + error);
  std::vector<CFtpServer> reloaded;
  Check(LoadFtpServers(savedPath, &reloaded, &error) == 0, "the saved list does not load");
  if (fits) {
    Check(reloaded == servers, "a saved list reads back otherwise");
  }
  return 0;
}
