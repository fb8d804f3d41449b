#include "box_clock.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace lapora::boxsim {

namespace {

struct tm LocalTm(int64_t ms) {
  time_t seconds = static_cast<time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
  struct tm parts {};
  if (localtime_r(&seconds, &parts) == nullptr) {
    parts = {};
  }
  return parts;
}

int Millis(int64_t ms) {
  return static_cast<int>(((ms % 1000) + 1000) % 1000);
}

bool ReadInts(const std::string& text, int* values, int count) {
  // Exactly `count` unsigned integers separated by commas, nothing else.
  size_t pos = 0;
  for (int i = 0; i < count; ++i) {
    if (pos >= text.size() || text[pos] < '0' || text[pos] > '9') {
      return false;
    }
    long value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      value = value * 10 + (text[pos] - '0');
      if (value > 100000) {
        return false;
      }
      ++pos;
    }
    values[i] = static_cast<int>(value);
    if (i + 1 < count) {
      if (pos >= text.size() || text[pos] != ',') {
        return false;
      }
      ++pos;
    }
  }
  return pos == text.size();
}

}  // namespace

int64_t SystemMillis() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

int64_t SystemMicros() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

int64_t SteadyMillis() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

CBoxClock::CBoxClock(int dateOffsetDays, int64_t offsetMs)
    : m_offsetMs(static_cast<int64_t>(dateOffsetDays) * 86400000LL + offsetMs) {}

bool CBoxClock::SetDate(const std::string& parameter) {
  int v[3];
  if (!ReadInts(parameter, v, 3) || v[1] < 1 || v[1] > 12 || v[2] < 1 || v[2] > 31 || v[0] < 1970 ||
      v[0] > 9999) {
    return false;
  }
  int64_t now = NowMillis();
  struct tm parts = LocalTm(now);
  parts.tm_year = v[0] - 1900;
  parts.tm_mon = v[1] - 1;
  parts.tm_mday = v[2];
  parts.tm_isdst = -1;
  time_t seconds = mktime(&parts);
  if (seconds == static_cast<time_t>(-1)) {
    return false;
  }
  m_offsetMs = static_cast<int64_t>(seconds) * 1000 + Millis(now) - SystemMillis();
  return true;
}

bool CBoxClock::SetTime(const std::string& parameter) {
  int v[4];
  if (!ReadInts(parameter, v, 4) || v[0] > 23 || v[1] > 59 || v[2] > 59 || v[3] > 99) {
    return false;
  }
  struct tm parts = LocalTm(NowMillis());
  parts.tm_hour = v[0];
  parts.tm_min = v[1];
  parts.tm_sec = v[2];
  parts.tm_isdst = -1;
  time_t seconds = mktime(&parts);
  if (seconds == static_cast<time_t>(-1)) {
    return false;
  }
  m_offsetMs = static_cast<int64_t>(seconds) * 1000 + v[3] * 10 - SystemMillis();
  return true;
}

std::string CBoxClock::DashedDate(int64_t ms) {
  struct tm p = LocalTm(ms);
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", p.tm_year + 1900, p.tm_mon + 1, p.tm_mday);
  return text;
}

std::string CBoxClock::TimeMillis(int64_t ms) {
  struct tm p = LocalTm(ms);
  char text[80];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", p.tm_hour, p.tm_min, p.tm_sec,
                Millis(ms));
  return text;
}

std::string CBoxClock::TimeSeconds(int64_t ms) {
  struct tm p = LocalTm(ms);
  char text[80];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", p.tm_hour, p.tm_min, p.tm_sec);
  return text;
}

std::string CBoxClock::DetectionTime(int64_t ms) {
  std::string out;
  CDetectionTimeFormatter formatter;
  formatter.Format(ms, out);
  return out;
}

void CDetectionTimeFormatter::Format(int64_t ms, std::string& out) {
  int64_t second = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
  if (second != m_second) {
    struct tm p = LocalTm(ms);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d_%02d:%02d:%02d", p.tm_year + 1900,
                  p.tm_mon + 1, p.tm_mday, p.tm_hour, p.tm_min, p.tm_sec);
    m_second = second;
    m_secondText = text;
  }
  int milli = Millis(ms);
  out.append(m_secondText);
  out.push_back('.');
  out.push_back(static_cast<char>('0' + milli / 100));
  out.push_back(static_cast<char>('0' + milli / 10 % 10));
  out.push_back(static_cast<char>('0' + milli % 10));
}

}  // namespace lapora::boxsim
