#include "export/ftp_servers.h"

#include <cstddef>

#include "foundation/log.h"
#include "foundation/text.h"
#include "platform/atomic_file.h"
#include "platform/file_rights.h"
#include "resources/messages_export.h"

namespace lapora {

namespace {

constexpr std::size_t kFieldCount = 5;

bool IsSeparator(char c) {
  return c == '\t' || c == '\n' || c == ';';
}

// The fields of one line: each separator ends a field; text after the last separator is a
// field of its own, nothing after a final separator is.
std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (IsSeparator(line[i])) {
      fields.push_back(line.substr(start, i - start));
      start = i + 1;
    }
  }
  if (start < line.size()) {
    fields.push_back(line.substr(start));
  }
  return fields;
}

}  // namespace

std::vector<CFtpServer> ParseFtpServers(std::string_view content) {
  // The file is written with CR LF; a CR right before a line feed belongs to the line end, not
  // to the directory field. A lone CR stays in its field.
  std::string text;
  text.reserve(content.size());
  for (std::size_t i = 0; i < content.size(); ++i) {
    if (content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n') {
      continue;
    }
    text.push_back(content[i]);
  }

  std::vector<CFtpServer> servers;
  std::string_view rest(text);
  while (!rest.empty()) {
    // One read of at most kFtpServersMaxLine characters, through the line feed if it comes
    // within them.
    std::size_t end = rest.find('\n');
    std::size_t length = end == rest.npos ? rest.size() : end + 1;
    if (length > kFtpServersMaxLine) {
      length = kFtpServersMaxLine;
    }
    std::string_view line = rest.substr(0, length);
    rest.remove_prefix(length);
    std::vector<std::string_view> fields = SplitFields(line);
    if (fields.size() != kFieldCount) {
      break;
    }
    CFtpServer server;
    server.label = fields[0];
    server.site = fields[1];
    server.user = fields[2];
    server.password = fields[3];
    server.directory = fields[4];
    servers.push_back(std::move(server));
  }
  return servers;
}

int LoadFtpServers(const std::string& path, std::vector<CFtpServer>* servers,
                   std::string* errorText) {
  std::string content;
  if (ReadWholeFile(path, &content) != ReadFileResult::kRead) {
    if (errorText != nullptr) {
      *errorText = "File does not exist";
    }
    return -1;
  }
  std::vector<CFtpServer> read = ParseFtpServers(content);
  servers->insert(servers->end(), read.begin(), read.end());
  return 0;
}

std::string FormatFtpServers(const std::vector<CFtpServer>& servers) {
  std::string content;
  for (const CFtpServer& server : servers) {
    content += server.label + '\t' + server.site + '\t' + server.user + '\t' + server.password +
               '\t' + server.directory + "\r\n";
  }
  return content;
}

int SaveFtpServers(const std::vector<CFtpServer>& servers, const std::string& path,
                   std::string* errorText) {
  // The passwords are in clear: the file is its owner's alone, also while being replaced.
  if (!WriteFileAtomically(path, FormatFtpServers(servers), nullptr, FileRights::kOwnerOnly)) {
    if (errorText != nullptr) {
      *errorText = "Cannot create file";
    }
    return -1;
  }
  return 0;
}

void KeepFtpServersPrivate(const std::string& path, Logger& log) {
  unsigned rights = 0;
  std::string error;
  switch (NarrowToOwner(path, &rights, &error)) {
    case NarrowResult::kNarrowed:
      log.PostLog(0, StrF(Tr(kMsgFtpServersNarrowed).c_str(), path.c_str(), rights));
      break;
    case NarrowResult::kFailed:
      log.PostLog(0,
                  StrF(Tr(kMsgFtpServersNotNarrowed).c_str(), path.c_str(), rights, error.c_str()));
      break;
    case NarrowResult::kMissing:
    case NarrowResult::kAlreadyPrivate:
      break;
  }
}

const CFtpServer* FindFtpServer(const std::vector<CFtpServer>& servers, std::string_view label) {
  label = TrimBlanks(label);
  for (const CFtpServer& server : servers) {
    if (server.label == label) {
      return &server;
    }
  }
  return nullptr;
}

bool HasFtpServerSeparator(std::string_view field) {
  return field.find_first_of("\t\r\n;") != field.npos;
}

}  // namespace lapora
