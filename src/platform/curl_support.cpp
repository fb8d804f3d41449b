#include "platform/curl_support.h"

#include <mutex>

namespace lapora {

CURLcode CurlGlobalInit() {
  static std::once_flag once;
  static CURLcode result = CURLE_OK;
  std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
  return result;
}

}  // namespace lapora
