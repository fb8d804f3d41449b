// A thin HTTP GET over libcurl: a URL read into memory or into a file, bypassing every cache
// (the box's current data changes between two reads of the same URL). Every function may run
// on any thread; each call uses a handle of its own.
#pragma once

#include <string>

namespace lapora {

inline constexpr long kHttpDefaultTimeoutSeconds = 30;

// The body of url into *data. False with *error "_GetInternetData: <reason>" when the transfer
// fails or the server answers with an error status; *data is then unchanged.
[[nodiscard]] bool GetInternetData(const std::string& url, std::string* data, std::string* error,
                                   long timeoutSeconds = kHttpDefaultTimeoutSeconds);

// The body of url into the file at path (created or replaced). False with *error
// "_GetInternetFile: <reason>" on failure; no file is left at path then.
[[nodiscard]] bool GetInternetFile(const std::string& url, const std::string& path,
                                   std::string* error,
                                   long timeoutSeconds = kHttpDefaultTimeoutSeconds);

}  // namespace lapora
