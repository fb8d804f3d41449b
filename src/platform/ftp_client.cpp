#include "platform/ftp_client.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/curl_support.h"

namespace lapora {

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// What the callbacks of one transfer share with Upload.
struct Session {
  std::FILE* local = nullptr;
  int readErrno = 0;
  const std::atomic<bool>* cancel = nullptr;
  const std::function<void()>* onTransferStart = nullptr;
  bool transferStarted = false;
  bool changedFolder = false;
  FtpStep step = FtpStep::kConnect;
  bool serverReplied = false;
  std::string lastReply;
  SshHostKey hostKey = SshHostKey::kNotChecked;
};

std::string_view TrimLineEnd(std::string_view text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) {
    text.remove_suffix(1);
  }
  return text;
}

void NoteTransferStart(Session& session) {
  if (!session.transferStarted) {
    session.transferStarted = true;
    if (session.onTransferStart != nullptr && *session.onTransferStart) {
      (*session.onTransferStart)();
    }
  }
}

// Follows the commands sent to know which step a failure belongs to, and keeps the last reply
// line of the server (its text is the most useful part of an error message).
void NoteCommand(Session& session, std::string_view line) {
  line = TrimLineEnd(line);
  std::string_view verb = line.substr(0, line.find(' '));
  if (verb == "USER" || verb == "PASS" || verb == "ACCT") {
    session.step = FtpStep::kConnect;
  } else if (verb == "PWD") {
    session.step =
        session.changedFolder ? FtpStep::kCurrentFolderAfter : FtpStep::kCurrentFolderBefore;
  } else if (verb == "CWD") {
    session.step = FtpStep::kChangeFolder;
    session.changedFolder = true;
  } else if (verb == "DELE") {
    session.step = FtpStep::kDelete;
  } else if (verb == "TYPE" || verb == "EPSV" || verb == "PASV" || verb == "PORT" ||
             verb == "EPRT" || verb == "STOR") {
    session.step = FtpStep::kTransfer;
    if (verb == "STOR") {
      NoteTransferStart(session);
    }
  } else if (verb == "RNFR" || verb == "RNTO") {
    session.step = FtpStep::kRename;
  }
}

int DebugCallback(CURL* /*handle*/, curl_infotype type, char* data, size_t size, void* user) {
  Session& session = *static_cast<Session*>(user);
  std::string_view text(data, size);
  if (type == CURLINFO_HEADER_OUT) {
    NoteCommand(session, text);
  } else if (type == CURLINFO_HEADER_IN) {
    std::string_view line = TrimLineEnd(text);
    if (!line.empty()) {
      session.serverReplied = true;
      session.lastReply.assign(line);
    }
  }
  return 0;
}

size_t ReadCallback(char* buffer, size_t size, size_t count, void* user) {
  Session& session = *static_cast<Session*>(user);
  // SFTP sends no command to follow: the first read of the data starts the transfer.
  NoteTransferStart(session);
  size_t got = std::fread(buffer, 1, size * count, session.local);
  if (got == 0 && std::ferror(session.local) != 0) {
    session.readErrno = errno != 0 ? errno : EIO;
    return CURL_READFUNC_ABORT;
  }
  return got;
}

int ProgressCallback(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const Session& session = *static_cast<const Session*>(user);
  return session.cancel != nullptr && session.cancel->load() ? 1 : 0;
}

// Only a key that the known hosts hold for this host and port is accepted; nothing is ever
// added to the file (the operator does that, knowingly).
int HostKeyCallback(CURL* /*handle*/, const curl_khkey* /*known*/, const curl_khkey* /*found*/,
                    curl_khmatch match, void* user) {
  Session& session = *static_cast<Session*>(user);
  session.serverReplied = true;
  switch (match) {
    case CURLKHMATCH_OK:
      session.hostKey = SshHostKey::kKnown;
      return CURLKHSTAT_FINE;
    case CURLKHMATCH_MISMATCH:
      session.hostKey = SshHostKey::kChanged;
      return CURLKHSTAT_REJECT;
    default:
      session.hostKey = SshHostKey::kUnknown;
      return CURLKHSTAT_REJECT;
  }
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != text.npos;
}

bool IsPlainName(std::string_view name) {
  return !name.empty() && !HasLineBreak(name) && name.find('/') == name.npos;
}

bool IsAsciiAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// A host goes into a URL and into the shell command of AcceptHostKeyCommand as it stands: a
// name or an IPv4 address, or an IPv6 address (with a zone after "%").
bool IsPlainHost(std::string_view host, bool ipv6) {
  if (host.empty()) {
    return false;
  }
  for (char c : host) {
    bool fits = ipv6 ? (IsAsciiAlnum(c) || c == ':' || c == '.' || c == '%')
                     : (IsAsciiAlnum(c) || c == '.' || c == '-' || c == '_');
    if (!fits) {
      return false;
    }
  }
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) {
    return false;
  }
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
    if (c != prefix[i]) {
      return false;
    }
  }
  return true;
}

// 1..65535 written in decimal digits only, or 0.
int ReadPort(std::string_view digits) {
  if (digits.empty() || digits.size() > 5) {
    return 0;
  }
  int port = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') {
      return 0;
    }
    port = port * 10 + (c - '0');
  }
  return port <= 65535 ? port : 0;
}

// A host as a URL writes it: an IPv6 address in brackets, the "%" of its zone escaped.
std::string UrlHost(const std::string& host) {
  if (host.find(':') == host.npos) {
    return host;
  }
  std::string bracketed = "[";
  for (char c : host) {
    bracketed += c == '%' ? std::string("%25") : std::string(1, c);
  }
  return bracketed + "]";
}

std::string Escape(CURL* handle, const std::string& text) {
  char* escaped = curl_easy_escape(handle, text.c_str(), static_cast<int>(text.size()));
  if (escaped == nullptr) {
    return {};
  }
  std::string result(escaped);
  curl_free(escaped);
  return result;
}

bool Append(SlistPtr& list, const std::string& command) {
  curl_slist* grown = curl_slist_append(list.get(), command.c_str());
  if (grown == nullptr) {
    return false;
  }
  (void)list.release();
  list.reset(grown);
  return true;
}

// The failures that say nothing about the upload itself, only that the server is not there
// (or not now): no connection, no answer in time, a broken connection, a 4xx reply.
bool ServerUnavailable(CURLcode code, const std::string& lastReply) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_ACCEPT_TIMEOUT:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
      return true;
    default:
      return !lastReply.empty() && lastReply[0] == '4';
  }
}

FtpResult Failure(FtpStep step, std::string message) {
  FtpResult result;
  result.failedStep = step;
  if (message.size() > CFtpClient::kMaxMessage) {
    message.resize(CFtpClient::kMaxMessage);
  }
  result.message = std::move(message);
  return result;
}

// The commands and URL of one upload.
struct UploadCommands {
  std::string url;
  SlistPtr quote;      // before the transfer (FTP: before the change of folder)
  SlistPtr prequote;   // FTP: in the target folder, just before the transfer
  SlistPtr postquote;  // after the transfer
};

// One CWD with the whole folder (absolute or relative, as the server reads it); the dot segments
// of a folder such as ".." must reach the server as they are. QUOTE runs before the change to
// the URL's folder, PREQUOTE after it (just before the transfer), POSTQUOTE after the transfer:
// so the deletions and the rename use bare names in the target folder. A "*" lets a command
// fail without failing the transfer.
bool MakeFtpCommands(CURL* h, const FtpSite& site, int port, const FtpUploadPlan& plan,
                     UploadCommands& out) {
  out.url = "ftp://" + UrlHost(site.host) + ":" + std::to_string(port) + "/";
  if (!plan.directory.empty()) {
    out.url += Escape(h, plan.directory) + "/";
  }
  out.url += Escape(h, plan.tempName);
  bool made = true;
  if (!plan.directory.empty()) {
    made = made && Append(out.quote, "PWD") && Append(out.prequote, "PWD");
  }
  for (const std::string& name : plan.deleteFirst) {
    made = made && Append(out.prequote, "*DELE " + name);
  }
  return made && Append(out.postquote, "RNFR " + plan.tempName) &&
         Append(out.postquote, "RNTO " + plan.finalName);
}

// A path argument of an SFTP quote command: in double quotes, with '"' and '\' escaped.
std::string QuotedPath(const std::string& path) {
  std::string quoted = "\"";
  for (char c : path) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
    }
    quoted += c;
  }
  return quoted + "\"";
}

// SFTP has no current folder to change: every name is a path. A relative folder starts from the
// login folder, which is "/~/" in the URL and the server's own starting folder for the quote
// commands (libcurl does not read "/~/" there).
bool MakeSftpCommands(CURL* h, const FtpSite& site, int port, const FtpUploadPlan& plan,
                      UploadCommands& out) {
  std::string folder = plan.directory;
  bool absolute = !folder.empty() && folder.front() == '/';
  while (!folder.empty() && folder.back() == '/') {
    folder.pop_back();
  }
  std::string urlFolder = absolute ? "" : "/~";
  std::string quoteFolder = folder.empty() ? (absolute ? "/" : "") : folder + "/";
  std::size_t start = absolute ? 1 : 0;
  while (start <= folder.size() && !folder.empty()) {
    std::size_t end = folder.find('/', start);
    if (end == folder.npos) {
      end = folder.size();
    }
    urlFolder += "/" + Escape(h, folder.substr(start, end - start));
    start = end + 1;
  }
  out.url = "sftp://" + UrlHost(site.host) + ":" + std::to_string(port) + urlFolder + "/" +
            Escape(h, plan.tempName);
  bool made = true;
  for (const std::string& name : plan.deleteFirst) {
    made = made && Append(out.quote, "*rm " + QuotedPath(quoteFolder + name));
  }
  return made && Append(out.postquote, "rename " + QuotedPath(quoteFolder + plan.tempName) + " " +
                                           QuotedPath(quoteFolder + plan.finalName));
}

std::string UserKnownHostsPath() {
  const char* home = std::getenv("HOME");
  std::string folder = home != nullptr ? home : "";
  if (folder.empty()) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
      folder = found->pw_dir;
    }
  }
  return folder + "/.ssh/known_hosts";
}

// Which step an SFTP failure belongs to: there are no commands to follow, only the moment the
// data started and the kind of failure.
FtpStep SftpFailedStep(const Session& session, CURLcode code) {
  if (session.transferStarted) {
    return code == CURLE_QUOTE_ERROR ? FtpStep::kRename : FtpStep::kTransfer;
  }
  switch (code) {
    case CURLE_QUOTE_ERROR:
      return FtpStep::kDelete;
    case CURLE_UPLOAD_FAILED:
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_REMOTE_DISK_FULL:
      return FtpStep::kTransfer;
    default:
      return FtpStep::kConnect;
  }
}

}  // namespace

std::optional<FtpSite> ParseFtpSite(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  FtpSite site;
  constexpr std::pair<std::string_view, FtpProtocol> kSchemes[] = {
      {"ftp://", FtpProtocol::kFtp},
      {"ftps://", FtpProtocol::kFtps},
      {"sftp://", FtpProtocol::kSftp},
  };
  bool schemed = false;
  for (const auto& [scheme, protocol] : kSchemes) {
    if (StartsWithNoCase(text, scheme)) {
      site.protocol = protocol;
      text.remove_prefix(scheme.size());
      schemed = true;
      break;
    }
  }
  if (!schemed && text.find("://") != text.npos) {
    return std::nullopt;
  }
  if (!text.empty() && text.back() == '/') {
    text.remove_suffix(1);
  }

  std::string_view host = text;
  std::string_view port;
  bool ipv6 = false;
  if (!text.empty() && text.front() == '[') {
    std::size_t close = text.find(']');
    if (close == text.npos) {
      return std::nullopt;
    }
    host = text.substr(1, close - 1);
    std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') {
        return std::nullopt;
      }
      port = rest.substr(1);
      if (port.empty()) {
        return std::nullopt;
      }
    }
    ipv6 = true;
  } else if (std::size_t colon = text.find(':'); colon != text.npos) {
    if (text.find(':', colon + 1) != text.npos) {
      ipv6 = true;  // an IPv6 address alone: no port can follow without brackets
    } else {
      host = text.substr(0, colon);
      port = text.substr(colon + 1);
      if (port.empty()) {
        return std::nullopt;
      }
    }
  }
  if (!IsPlainHost(host, ipv6) || (ipv6 && host.find(':') == host.npos)) {
    return std::nullopt;
  }
  if (!port.empty()) {
    site.port = ReadPort(port);
    if (site.port == 0) {
      return std::nullopt;
    }
  }
  site.host.assign(host);
  return site;
}

std::string AcceptHostKeyCommand(const std::string& host, int port, bool replace) {
  std::string command;
  if (replace) {
    // ssh-keygen names the host as the file does: with its port when that is not 22.
    std::string entry = port == kSftpDefaultPort ? host : "[" + host + "]:" + std::to_string(port);
    command = "ssh-keygen -R '" + entry + "' -f ~/.ssh/known_hosts && ";
  } else {
    command = "mkdir -p ~/.ssh && ";
  }
  command += "ssh-keyscan ";
  if (port != kSftpDefaultPort) {
    command += "-p " + std::to_string(port) + " ";
  }
  return command + host + " >> ~/.ssh/known_hosts";
}

FtpResult CFtpClient::Upload(const FtpUploadPlan& plan) {
  std::optional<FtpSite> site = ParseFtpSite(m_endpoint.site);
  if (!site) {
    return Failure(FtpStep::kConnect, "Invalid host name: " + m_endpoint.site);
  }
  bool sftp = site->protocol == FtpProtocol::kSftp;
  int port = site->port != 0 ? site->port : sftp ? kSftpDefaultPort : m_endpoint.port;
  if (port <= 0 || port > 65535) {
    return Failure(FtpStep::kConnect, "Invalid port: " + std::to_string(port));
  }
  if (HasLineBreak(m_endpoint.user) || HasLineBreak(m_endpoint.password)) {
    return Failure(FtpStep::kConnect, "Invalid user name or password (line break)");
  }
  if (HasLineBreak(plan.directory)) {
    return Failure(FtpStep::kChangeFolder, "Invalid remote folder (line break)");
  }
  if (!IsPlainName(plan.tempName) || !IsPlainName(plan.finalName)) {
    return Failure(FtpStep::kTransfer, "Invalid remote file name: " + plan.finalName);
  }
  for (const std::string& name : plan.deleteFirst) {
    if (!IsPlainName(name)) {
      return Failure(FtpStep::kDelete, "Invalid remote file name: " + name);
    }
  }

  FilePtr local(std::fopen(plan.localPath.c_str(), "rb"));
  if (!local) {
    return Failure(FtpStep::kLocalFile,
                   "Can't open " + plan.localPath + ": " + std::strerror(errno));
  }

  CURLcode init = CurlGlobalInit();
  if (init != CURLE_OK) {
    return Failure(FtpStep::kConnect, std::string("libcurl: ") + curl_easy_strerror(init));
  }
  CurlPtr handle(curl_easy_init());
  if (!handle) {
    return Failure(FtpStep::kConnect, "libcurl: cannot create a transfer handle");
  }
  CURL* h = handle.get();

  UploadCommands commands;
  bool made = sftp ? MakeSftpCommands(h, *site, port, plan, commands)
                   : MakeFtpCommands(h, *site, port, plan, commands);
  if (!made) {
    return Failure(FtpStep::kConnect, "libcurl: out of memory");
  }

  Session session;
  session.local = local.get();
  session.cancel = m_cancel;
  session.onTransferStart = &m_onTransferStart;
  char errorBuffer[CURL_ERROR_SIZE] = {};
  std::string knownHosts = m_knownHostsPath.empty() ? UserKnownHostsPath() : m_knownHostsPath;
  const char* caBundle = std::getenv("CURL_CA_BUNDLE");

  bool set = true;
  auto opt = [&set](CURLcode code) { set = set && code == CURLE_OK; };
  opt(curl_easy_setopt(h, CURLOPT_URL, commands.url.c_str()));
#if LIBCURL_VERSION_NUM >= 0x075500
  opt(curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, sftp ? "sftp" : "ftp"));
#else
  opt(curl_easy_setopt(h, CURLOPT_PROTOCOLS,
                       static_cast<long>(sftp ? CURLPROTO_SFTP : CURLPROTO_FTP)));
#endif
  opt(curl_easy_setopt(h, CURLOPT_USERNAME, m_endpoint.user.c_str()));
  opt(curl_easy_setopt(h, CURLOPT_PASSWORD, m_endpoint.password.c_str()));
  opt(curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L));
  if (sftp) {
    // The password alone: no key of the user's is offered, and a server asking for the
    // password through a keyboard-interactive prompt gets the same password.
    opt(curl_easy_setopt(h, CURLOPT_SSH_AUTH_TYPES,
                         static_cast<long>(CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD)));
    opt(curl_easy_setopt(h, CURLOPT_SSH_KNOWNHOSTS, knownHosts.c_str()));
    opt(curl_easy_setopt(h, CURLOPT_SSH_KEYFUNCTION, &HostKeyCallback));
    opt(curl_easy_setopt(h, CURLOPT_SSH_KEYDATA, &session));
  } else {
    opt(curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD)));
    opt(curl_easy_setopt(h, CURLOPT_FTPPORT, m_endpoint.passive ? nullptr : "-"));
    opt(curl_easy_setopt(h, CURLOPT_PREQUOTE, commands.prequote.get()));
  }
  if (site->protocol == FtpProtocol::kFtps) {
    // TLS before the login, on every connection, or no upload: the password never crosses in
    // clear, even to a server that does not offer TLS.
    opt(curl_easy_setopt(h, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL)));
    opt(curl_easy_setopt(h, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS)));
    opt(curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L));
    opt(curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L));
    if (caBundle != nullptr && *caBundle != '\0') {
      opt(curl_easy_setopt(h, CURLOPT_CAINFO, caBundle));
    }
  }
  opt(curl_easy_setopt(h, CURLOPT_UPLOAD, 1L));
  opt(curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, 0L));
  opt(curl_easy_setopt(h, CURLOPT_READFUNCTION, &ReadCallback));
  opt(curl_easy_setopt(h, CURLOPT_READDATA, &session));
  opt(curl_easy_setopt(h, CURLOPT_QUOTE, commands.quote.get()));
  opt(curl_easy_setopt(h, CURLOPT_POSTQUOTE, commands.postquote.get()));
  opt(curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L));
  opt(curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, m_connectTimeout));
  opt(curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, m_responseTimeout));
  // Active mode: the server's connection back for the data.
  opt(curl_easy_setopt(h, CURLOPT_ACCEPTTIMEOUT_MS, m_responseTimeout * 1000L));
  // A transfer that stalls ends instead of holding every later upload (and the exit) for ever.
  opt(curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L));
  opt(curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, m_responseTimeout));
  opt(curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer));
  // The debug stream is how the commands and replies are followed; nothing is printed.
  opt(curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, &DebugCallback));
  opt(curl_easy_setopt(h, CURLOPT_DEBUGDATA, &session));
  opt(curl_easy_setopt(h, CURLOPT_VERBOSE, 1L));
  opt(curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L));
  opt(curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &ProgressCallback));
  opt(curl_easy_setopt(h, CURLOPT_XFERINFODATA, &session));
  if (!set) {
    return Failure(FtpStep::kConnect, "libcurl: an option was refused");
  }

  CURLcode code = curl_easy_perform(h);
  long reply = 0;
  if (curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &reply) != CURLE_OK) {
    reply = 0;
  }
  if (code == CURLE_OK) {
    FtpResult result;
    result.ok = true;
    result.serverReplied = session.serverReplied;
    result.replyCode = static_cast<int>(reply);
    result.hostKey = session.hostKey;
    return result;
  }

  FtpResult result;
  std::string message = errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(code);
  FtpStep step = sftp ? SftpFailedStep(session, code) : session.step;
  std::string acceptKey;
  if (session.readErrno != 0) {
    step = FtpStep::kLocalFile;
    message = "Error reading " + plan.localPath + ": " + std::strerror(session.readErrno);
  } else if (code == CURLE_ABORTED_BY_CALLBACK && m_cancel != nullptr && m_cancel->load()) {
    message = "Transfer cancelled";
  } else if (session.hostKey == SshHostKey::kUnknown || session.hostKey == SshHostKey::kChanged) {
    bool changed = session.hostKey == SshHostKey::kChanged;
    step = FtpStep::kConnect;
    acceptKey = AcceptHostKeyCommand(site->host, port, changed);
    message = (changed ? "SSH host key of " + site->host + " changed, refused; if expected: "
                       : "Unknown SSH host key of " + site->host + ", refused; to accept it: ") +
              acceptKey;
  } else if (!session.lastReply.empty() &&
             (session.lastReply[0] == '4' || session.lastReply[0] == '5')) {
    // The server's own words say most ("550 No such file or directory.").
    message += " (" + session.lastReply + ")";
  }
  result = Failure(step, std::move(message));
  result.serverReplied = session.serverReplied;
  result.replyCode = static_cast<int>(reply);
  result.curlCode = static_cast<int>(code);
  result.hostKey = session.hostKey;
  result.acceptKeyCommand = std::move(acceptKey);
  result.serverUnavailable = session.readErrno == 0 && code != CURLE_ABORTED_BY_CALLBACK &&
                             ServerUnavailable(code, session.lastReply);
  return result;
}

}  // namespace lapora
