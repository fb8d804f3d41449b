// The known FTP servers and their file FtpServers.dat: one server per line, label, site, user,
// password and directory separated by tabs, CR LF line ends, passwords in clear. Plain
// functions over values: safe from any thread as long as two do not write the same file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lapora {

class Logger;

struct CFtpServer {
  std::string directory;  // remote folder to change to before uploading; may be empty
  std::string password;
  std::string site;  // host name or address
  std::string user;
  std::string label;  // the name the operator and the settings know the server by
  bool operator==(const CFtpServer&) const = default;
};

// Longest line the reader takes at once; the rest of a longer line is read as the next line.
inline constexpr std::size_t kFtpServersMaxLine = 1023;

// Reads the file. 0, or -1 with "File does not exist" when it cannot be opened (the list is
// then left empty). Servers already in the list are kept; the file's are appended.
int LoadFtpServers(const std::string& path, std::vector<CFtpServer>* servers,
                   std::string* errorText);
// The servers of a file's content: lines split at every tab, line feed and ";" (CR LF is read
// as a line feed); the first line that does not give exactly five fields ends the reading.
std::vector<CFtpServer> ParseFtpServers(std::string_view content);

// Replaces the file with the servers in list order; the new file is readable and writable by
// its owner only (0600), whatever rights the old one had. 0, or -1 with "Cannot create file"
// (the old file is then unchanged).
int SaveFtpServers(const std::vector<CFtpServer>& servers, const std::string& path,
                   std::string* errorText);
// The file's content for these servers.
std::string FormatFtpServers(const std::vector<CFtpServer>& servers);

// The passwords in the file are in clear: an existing file that other users may read or write
// is made its owner's alone, and the log says so at level 0 (or why it could not be done).
void KeepFtpServersPrivate(const std::string& path, Logger& log);

// The first server whose label equals label with its blanks trimmed at both ends (exact,
// case-sensitive), or nullptr. The pointer lives as long as the list is unchanged.
const CFtpServer* FindFtpServer(const std::vector<CFtpServer>& servers, std::string_view label);

// True when a field text holds a character the file uses as a separator (tab, line break,
// ";"): such a server would not read back, and would hide the servers after it.
bool HasFtpServerSeparator(std::string_view field);

}  // namespace lapora
