// A thin upload client over libcurl: one call logs in, changes to a folder (reading the
// current folder before and after), deletes old remote files, sends a local file in binary under
// a temporary remote name and renames it to its final name, all on one connection. The server
// speaks plain FTP, FTP secured with TLS, or SFTP, as its site says.
// One CFtpClient is used by one thread at a time; separate objects may run on separate threads.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lapora {

inline constexpr int kFtpDefaultPort = 21;
inline constexpr int kSftpDefaultPort = 22;

enum class FtpProtocol {
  kFtp,   // plain FTP: the password crosses the network in clear
  kFtps,  // FTP with explicit TLS (AUTH TLS) on the control and the data connections
  kSftp,  // SSH file transfer with a password login; the server's key must be a known one
};

// A server's site as the operator writes it.
struct FtpSite {
  FtpProtocol protocol = FtpProtocol::kFtp;
  std::string host;  // a name or an address (IPv6 without its brackets)
  int port = 0;      // 0: none given
  bool operator==(const FtpSite&) const = default;
};

// Reads "host", "host:port", "ftp://host[:port]" (plain FTP, as a bare host), "ftps://host[:port]"
// (explicit TLS, the FTP port by default) or "sftp://host[:port]" (port 22 by default). The
// scheme's case, blanks at both ends and one final "/" do not matter; an IPv6 address is written
// in brackets when a port follows. nullopt for anything else: another scheme, a path, a user, a
// port outside 1..65535, or a host holding other characters than letters, digits, ".", "-", "_"
// (and ":" and "%" in an IPv6 address).
std::optional<FtpSite> ParseFtpSite(std::string_view site);

// The shell command that adds the current key of an SSH server to the user's known hosts
// (~/.ssh/known_hosts); with replace, the host's old keys are removed first.
std::string AcceptHostKeyCommand(const std::string& host, int port, bool replace);

struct FtpEndpoint {
  std::string site;  // as ParseFtpSite reads it
  // The FTP port (plain and TLS) when the site names none; SFTP's own is kSftpDefaultPort.
  int port = kFtpDefaultPort;
  std::string user;
  std::string password;
  bool passive = true;  // FTP: false for active mode (the server connects back for the data)
};

struct FtpUploadPlan {
  // Folder to change to after the login; empty: stay in the login folder. Used as given (no
  // trimming): FTP sends "CWD <directory>" in one command; for SFTP it is a path from the login
  // folder, or from the root when it starts with "/".
  std::string directory;
  // Remote files deleted in that folder before the transfer; their failures are ignored.
  std::vector<std::string> deleteFirst;
  std::string localPath;  // read in binary
  std::string tempName;   // remote name while the data flows
  std::string finalName;  // the temporary file is renamed to this once complete
};

// The step of an upload, in the order they run. SFTP has no folder steps: a missing folder fails
// the transfer.
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

// How an SFTP server's key compared with the known hosts.
enum class SshHostKey {
  kNotChecked,  // not an SFTP upload, or the server never showed a key
  kKnown,
  kUnknown,  // the host has no key there: refused
  kChanged,  // the host has another key there: refused
};

struct FtpResult {
  bool ok = false;
  FtpStep failedStep = FtpStep::kNone;
  bool serverReplied = false;  // at least one reply line came from the server
  int replyCode = 0;           // the last FTP reply code (0: none)
  int curlCode = 0;            // the libcurl result code (0: none)
  std::string message;         // the layer's text of the failure, at most kMaxMessage characters
  SshHostKey hostKey = SshHostKey::kNotChecked;
  // With kUnknown or kChanged: the command that makes the server's current key a known one.
  std::string acceptKeyCommand;
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
  // SFTP: the file of the known host keys. By default ~/.ssh/known_hosts of the user ($HOME
  // first), read at each upload.
  void SetKnownHostsPath(std::string path) { m_knownHostsPath = std::move(path); }

  // Runs the whole plan. A set cancel flag is seen within about a second, in every step. A site
  // that ParseFtpSite does not read, and names holding a line break or "/", are refused before
  // connecting (they would inject commands or leave the folder). FTP over TLS checks the
  // server's certificate against the system's authorities and, when the environment variable
  // CURL_CA_BUNDLE names a PEM file, against its certificates as well (a server with a
  // certificate of its own). SFTP refuses a server whose key is not the one of its host in the
  // known hosts.
  [[nodiscard]] FtpResult Upload(const FtpUploadPlan& plan);

 private:
  FtpEndpoint m_endpoint;
  const std::atomic<bool>* m_cancel = nullptr;
  std::function<void()> m_onTransferStart;
  long m_connectTimeout = kDefaultConnectTimeoutSeconds;
  std::string m_knownHostsPath;
  long m_responseTimeout = kDefaultResponseTimeoutSeconds;
};

}  // namespace lapora
