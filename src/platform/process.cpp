#include "platform/process.h"

#include <clocale>
#include <cstdlib>
#include <ctime>

#include <signal.h>

namespace lapora {

bool InitSocketLayer() {
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  return sigaction(SIGPIPE, &action, nullptr) == 0;
}

bool SetUserTimeLocale() {
  PinLocalTimeZone();
  return std::setlocale(LC_TIME, "") != nullptr;
}

void KeepOnlyTimeLocaleOfUser() {
  std::setlocale(LC_ALL, "C");
  (void)std::setlocale(LC_TIME, "");
}

void PinLocalTimeZone() {
  // Without TZ, glibc looks at /etc/localtime again on every mktime/localtime call: that costs
  // microseconds per detection and races inside the C library when four box threads convert
  // times at once. Naming the zone file once keeps the system zone and makes the calls cheap.
  // Must run before any other thread starts.
  setenv("TZ", ":/etc/localtime", 0);
  tzset();
}

}  // namespace lapora
