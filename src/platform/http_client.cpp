#include "platform/http_client.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "platform/curl_support.h"

namespace lapora {

namespace {

// Where the body goes: a string or a file.
struct Sink {
  std::string* text = nullptr;
  std::FILE* file = nullptr;
  int writeErrno = 0;
  const HttpOptions* options = nullptr;
  bool stopped = false;  // keepGoing said no
};

std::size_t WriteCallback(char* data, std::size_t size, std::size_t count, void* user) {
  Sink* sink = static_cast<Sink*>(user);
  std::size_t bytes = size * count;
  if (sink->text != nullptr) {
    sink->text->append(data, bytes);
    return bytes;
  }
  std::size_t written = std::fwrite(data, 1, bytes, sink->file);
  if (written != bytes) {
    sink->writeErrno = errno != 0 ? errno : EIO;
  }
  return written;
}

int ProgressCallback(void* user, curl_off_t /*downloadTotal*/, curl_off_t downloaded,
                     curl_off_t /*uploadTotal*/, curl_off_t /*uploaded*/) {
  Sink* sink = static_cast<Sink*>(user);
  if (!sink->options->keepGoing(static_cast<std::int64_t>(downloaded))) {
    sink->stopped = true;
    return 1;
  }
  return 0;
}

// One GET into the sink; false with *reason.
bool Get(const std::string& url, Sink* sink, const HttpOptions& options, std::string* reason) {
  CURLcode init = CurlGlobalInit();
  if (init != CURLE_OK) {
    *reason = curl_easy_strerror(init);
    return false;
  }
  CurlPtr handle(curl_easy_init());
  if (handle == nullptr) {
    *reason = "curl_easy_init failed";
    return false;
  }
  curl_slist* list = nullptr;
  for (const char* header : {"Cache-Control: no-cache", "Pragma: no-cache"}) {
    curl_slist* appended = curl_slist_append(list, header);
    if (appended == nullptr) {
      curl_slist_free_all(list);
      *reason = "out of memory";
      return false;
    }
    list = appended;
  }
  SlistPtr headers(list);
  char errorBuffer[CURL_ERROR_SIZE] = {};
  CURL* h = handle.get();
  bool set = true;
  auto opt = [&set](CURLcode code) { set = set && code == CURLE_OK; };
  opt(curl_easy_setopt(h, CURLOPT_URL, url.c_str()));
#if LIBCURL_VERSION_NUM >= 0x075500
  opt(curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https"));
  opt(curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
#else
  opt(curl_easy_setopt(h, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS)));
  opt(curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS,
                       static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS)));
#endif
  opt(curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get()));
  // A moved page is followed to the data; the body of a redirection never reaches the sink.
  opt(curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L));
  opt(curl_easy_setopt(h, CURLOPT_MAXREDIRS, options.maxRedirects));
  opt(curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L));
  opt(curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L));
  opt(curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, options.connectSeconds));
  // No total time limit: a slow link still gets its file; a silent one is dropped.
  opt(curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, options.lowSpeedBytesPerSecond));
  opt(curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, options.lowSpeedSeconds));
  opt(curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 1024L));
  opt(curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &WriteCallback));
  opt(curl_easy_setopt(h, CURLOPT_WRITEDATA, sink));
  opt(curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer));
  if (options.keepGoing) {
    opt(curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &ProgressCallback));
    opt(curl_easy_setopt(h, CURLOPT_XFERINFODATA, sink));
    opt(curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L));
  }
  if (!set) {
    *reason = "curl_easy_setopt failed";
    return false;
  }
  CURLcode code = curl_easy_perform(h);
  if (code != CURLE_OK) {
    if (sink->stopped) {
      *reason = "cancelled";
    } else if (sink->writeErrno != 0) {
      *reason = std::strerror(sink->writeErrno);
    } else {
      *reason = errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(code);
    }
    return false;
  }
  // What is left after the redirections must be the data itself: a 3xx without a place to go
  // (or one curl would not follow) is a page about the data, not the data.
  long status = 0;
  if (curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) {
    *reason = "no HTTP status";
    return false;
  }
  if (status < 200 || status > 299) {
    *reason = "The requested URL returned status " + std::to_string(status);
    return false;
  }
  return true;
}

}  // namespace

bool GetInternetData(const std::string& url, std::string* data, std::string* error,
                     const HttpOptions& options) {
  std::string body;
  Sink sink;
  sink.text = &body;
  sink.options = &options;
  std::string reason;
  if (!Get(url, &sink, options, &reason)) {
    *error = "_GetInternetData: " + reason;
    return false;
  }
  *data = std::move(body);
  return true;
}

bool GetInternetFile(const std::string& url, const std::string& path, std::string* error,
                     const HttpOptions& options) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    *error = std::string("_GetInternetFile: ") + std::strerror(errno);
    return false;
  }
  Sink sink;
  sink.file = file;
  sink.options = &options;
  std::string reason;
  bool ok = Get(url, &sink, options, &reason);
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    reason = std::strerror(errno);
  }
  if (!ok) {
    // A failed download leaves nothing behind: a half file would be read as box data.
    std::remove(path.c_str());
    *error = "_GetInternetFile: " + reason;
  }
  return ok;
}

}  // namespace lapora
