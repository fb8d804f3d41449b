// A thin HTTP GET over libcurl: a URL read into memory or into a file, bypassing every cache
// (the box's current data changes between two reads of the same URL). Every function may run
// on any thread; each call uses a handle of its own. A transfer has no total time limit (a big
// box file over a slow link takes what it takes); what ends a dead transfer is the connection
// deadline and the low-speed limit, and the caller can stop one through its progress function.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace lapora {

struct HttpOptions {
  // Longest wait for the connection to the server.
  long connectSeconds = 30;
  // A transfer whose average speed stays under lowSpeedBytesPerSecond for lowSpeedSeconds is
  // abandoned: the server has stopped sending.
  long lowSpeedBytesPerSecond = 1;
  long lowSpeedSeconds = 60;
  // Redirections followed before the answer counts as an error.
  long maxRedirects = 5;
  // Called about once a second and whenever data arrives, with the bytes received so far;
  // false stops the transfer (an error "cancelled"). Runs on the calling thread.
  std::function<bool(std::int64_t received)> keepGoing{};
};

// The body of url into *data. False with *error "_GetInternetData: <reason>" when the transfer
// fails or the final answer (after redirections) is not a 2xx status; *data is then unchanged.
[[nodiscard]] bool GetInternetData(const std::string& url, std::string* data, std::string* error,
                                   const HttpOptions& options = {});

// The body of url into the file at path (created or replaced). False with *error
// "_GetInternetFile: <reason>" on failure; no file is left at path then.
[[nodiscard]] bool GetInternetFile(const std::string& url, const std::string& path,
                                   std::string* error, const HttpOptions& options = {});

}  // namespace lapora
