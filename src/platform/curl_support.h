// What the libcurl clients of this layer share: owning handles, and the one-time global set-up
// of the library, which must not run twice at once (the FTP worker and the window thread may
// both be first). Any thread.
#pragma once

#include <curl/curl.h>

#include <memory>

namespace lapora {

struct CurlDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlPtr = std::unique_ptr<CURL, CurlDeleter>;
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;

// curl_global_init, made once for the whole program; its result on every call.
CURLcode CurlGlobalInit();

}  // namespace lapora
