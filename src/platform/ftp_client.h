// A thin FTP client over libcurl for uploads: one call logs in, changes to a folder (reading the
// current folder before and after), deletes old remote files, sends a local file in binary under
// a temporary remote name and renames it to its final name, all on one control connection.
// One CFtpClient is used by one thread at a time; separate objects may run on separate threads.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace lapora {

inline constexpr int kFtpDefaultPort = 21;

struct FtpEndpoint {
  std::string host;  // a name or a dotted address
  int port = kFtpDefaultPort;
  std::string user;
  std::string password;
  bool passive = true;  // false: active mode (the server connects back for the data)
};

struct FtpUploadPlan {
  // Folder to change to after the login; empty: stay in the login folder. Used as given (no
  // trimming): "CWD <directory>" in one command.
  std::string directory;
  // Remote files deleted in that folder before the transfer; their failures are ignored.
  std::vector<std::string> deleteFirst;
  std::string localPath;  // read in binary
  std::string tempName;   // remote name while the data flows
  std::string finalName;  // the temporary file is renamed to this once complete
};

// The step of an upload, in the order they run.
enum class FtpStep {
  kNone,
  kLocalFile,            // opening or reading the local file
  kConnect,              // connection and login
  kCurrentFolderBefore,  // PWD before the change of folder
  kChangeFolder,         // CWD
  kCurrentFolderAfter,   // PWD after the change of folder
  kDelete,               // DELE of the old files (reached only when the connection fails)
  kTransfer,             // TYPE, data connection, STOR and the data
  kRename,               // RNFR / RNTO
};

struct FtpResult {
  bool ok = false;
  FtpStep failedStep = FtpStep::kNone;
  bool serverReplied = false;  // at least one reply line came from the server
  int replyCode = 0;           // the last FTP reply code (0: none)
  int curlCode = 0;            // the libcurl result code (0: none)
  std::string message;         // the layer's text of the failure, at most kMaxMessage characters
  // The server could not be reached, stopped answering or broke the connection, or it refused
  // for now (a 4xx reply): the same upload may work later. A refusal for good (a 5xx reply such
  // as a wrong password) and a local failure are not.
  bool serverUnavailable = false;
};

class CFtpClient {
 public:
  static constexpr std::size_t kMaxMessage = 254;
  // Every network step has a deadline, so that a server that never answers cannot hold the
  // caller: the connection with its greeting and login, each reply of the server, and the data
  // (less than 1 byte/s over the response time-out ends the transfer).
  static constexpr long kDefaultConnectTimeoutSeconds = 30;
  static constexpr long kDefaultResponseTimeoutSeconds = 60;

  explicit CFtpClient(FtpEndpoint endpoint) : m_endpoint(std::move(endpoint)) {}

  // A flag that, once set (by any thread), aborts a running upload. *cancel must outlive the
  // calls to Upload.
  void SetCancelFlag(const std::atomic<bool>* cancel) { m_cancel = cancel; }
  // Called on the uploading thread when the transfer command is about to be sent.
  void SetTransferStartHook(std::function<void()> hook) { m_onTransferStart = std::move(hook); }
  void SetConnectTimeoutSeconds(long seconds) { m_connectTimeout = seconds; }
  void SetResponseTimeoutSeconds(long seconds) { m_responseTimeout = seconds; }

  // Runs the whole plan. A set cancel flag is seen within about a second, in every step. Names
  // holding a line break or "/" are refused before connecting (they
  // would inject commands or leave the folder).
  [[nodiscard]] FtpResult Upload(const FtpUploadPlan& plan);

 private:
  FtpEndpoint m_endpoint;
  const std::atomic<bool>* m_cancel = nullptr;
  std::function<void()> m_onTransferStart;
  long m_connectTimeout = kDefaultConnectTimeoutSeconds;
  long m_responseTimeout = kDefaultResponseTimeoutSeconds;
};

}  // namespace lapora
