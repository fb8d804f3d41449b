#include "foundation/clock.h"

#include <chrono>

namespace lapora {

namespace {

class RealClock : public Clock {
 public:
  std::int64_t NowUnixMs() const override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  }
  std::uint64_t TickMs() const override {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
};

}  // namespace

Clock& SystemClock() {
  static RealClock clock;
  return clock;
}

}  // namespace lapora
