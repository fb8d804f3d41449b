#include "platform/ftp_client.h"

#include <cerrno>
#include <cstdio>
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
};

std::string_view TrimLineEnd(std::string_view text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) {
    text.remove_suffix(1);
  }
  return text;
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
    if (verb == "STOR" && !session.transferStarted) {
      session.transferStarted = true;
      if (session.onTransferStart != nullptr && *session.onTransferStart) {
        (*session.onTransferStart)();
      }
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

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != text.npos;
}

bool IsPlainName(std::string_view name) {
  return !name.empty() && !HasLineBreak(name) && name.find('/') == name.npos;
}

// A host goes into the URL as it stands: it must not carry URL syntax of its own.
bool IsPlainHost(std::string_view host) {
  return !host.empty() && host.find_first_of("/?#@\\ \t\r\n") == host.npos;
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

}  // namespace

FtpResult CFtpClient::Upload(const FtpUploadPlan& plan) {
  if (!IsPlainHost(m_endpoint.host)) {
    return Failure(FtpStep::kConnect, "Invalid host name: " + m_endpoint.host);
  }
  if (m_endpoint.port <= 0 || m_endpoint.port > 65535) {
    return Failure(FtpStep::kConnect, "Invalid port: " + std::to_string(m_endpoint.port));
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

  // One CWD with the whole folder (absolute or relative, as the server reads it); the dot
  // segments of a folder such as ".." must reach the server as they are.
  std::string url = "ftp://" + m_endpoint.host + ":" + std::to_string(m_endpoint.port) + "/";
  if (!plan.directory.empty()) {
    url += Escape(h, plan.directory) + "/";
  }
  url += Escape(h, plan.tempName);

  // QUOTE runs before the change to the URL's folder, PREQUOTE after it (just before the
  // transfer), POSTQUOTE after the transfer: so the deletions and the rename use bare names in
  // the target folder. A "*" lets a command fail without failing the transfer.
  SlistPtr quote;
  SlistPtr prequote;
  SlistPtr postquote;
  bool listsMade = true;
  if (!plan.directory.empty()) {
    listsMade = listsMade && Append(quote, "PWD") && Append(prequote, "PWD");
  }
  for (const std::string& name : plan.deleteFirst) {
    listsMade = listsMade && Append(prequote, "*DELE " + name);
  }
  listsMade = listsMade && Append(postquote, "RNFR " + plan.tempName) &&
              Append(postquote, "RNTO " + plan.finalName);
  if (!listsMade) {
    return Failure(FtpStep::kConnect, "libcurl: out of memory");
  }

  Session session;
  session.local = local.get();
  session.cancel = m_cancel;
  session.onTransferStart = &m_onTransferStart;
  char errorBuffer[CURL_ERROR_SIZE] = {};

  bool set = true;
  auto opt = [&set](CURLcode code) { set = set && code == CURLE_OK; };
  opt(curl_easy_setopt(h, CURLOPT_URL, url.c_str()));
#if LIBCURL_VERSION_NUM >= 0x075500
  opt(curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp"));
#else
  opt(curl_easy_setopt(h, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_FTP)));
#endif
  opt(curl_easy_setopt(h, CURLOPT_USERNAME, m_endpoint.user.c_str()));
  opt(curl_easy_setopt(h, CURLOPT_PASSWORD, m_endpoint.password.c_str()));
  opt(curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L));
  opt(curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD)));
  opt(curl_easy_setopt(h, CURLOPT_FTPPORT, m_endpoint.passive ? nullptr : "-"));
  opt(curl_easy_setopt(h, CURLOPT_UPLOAD, 1L));
  opt(curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, 0L));
  opt(curl_easy_setopt(h, CURLOPT_READFUNCTION, &ReadCallback));
  opt(curl_easy_setopt(h, CURLOPT_READDATA, &session));
  opt(curl_easy_setopt(h, CURLOPT_QUOTE, quote.get()));
  opt(curl_easy_setopt(h, CURLOPT_PREQUOTE, prequote.get()));
  opt(curl_easy_setopt(h, CURLOPT_POSTQUOTE, postquote.get()));
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
    return result;
  }

  FtpResult result;
  std::string message = errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(code);
  FtpStep step = session.step;
  if (session.readErrno != 0) {
    step = FtpStep::kLocalFile;
    message = "Error reading " + plan.localPath + ": " + std::strerror(session.readErrno);
  } else if (code == CURLE_ABORTED_BY_CALLBACK && m_cancel != nullptr && m_cancel->load()) {
    message = "Transfer cancelled";
  } else if (!session.lastReply.empty() &&
             (session.lastReply[0] == '4' || session.lastReply[0] == '5')) {
    // The server's own words say most ("550 No such file or directory.").
    message += " (" + session.lastReply + ")";
  }
  result = Failure(step, std::move(message));
  result.serverReplied = session.serverReplied;
  result.replyCode = static_cast<int>(reply);
  result.curlCode = static_cast<int>(code);
  result.serverUnavailable = session.readErrno == 0 && code != CURLE_ABORTED_BY_CALLBACK &&
                             ServerUnavailable(code, session.lastReply);
  return result;
}

}  // namespace lapora
