#include "boxlink/box_health.h"

#include <cstdio>
#include <cstdlib>

namespace lapora {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr std::int64_t kDayMs = 86400000;

}  // namespace

void CBoxHealth::NoteConnected(bool afterLoss) {
  if (afterLoss) {
    m_reconnections.fetch_add(1, kRelaxed);
  }
  m_lastLineTick.store(0, kRelaxed);
  m_silenceReported.store(false, kRelaxed);
  m_everConnected.store(true, kRelaxed);
  m_connected.store(true, kRelaxed);
}

void CBoxHealth::NoteDisconnected() {
  m_connected.store(false, kRelaxed);
  m_lastLineTick.store(0, kRelaxed);
  m_silenceReported.store(false, kRelaxed);
}

bool CBoxHealth::NoteLine(std::uint64_t tickMs, std::uint64_t* silenceMs) {
  std::uint64_t previous = m_lastLineTick.exchange(tickMs + 1, kRelaxed);
  if (!m_silenceReported.exchange(false, kRelaxed)) {
    return false;
  }
  if (silenceMs != nullptr) {
    *silenceMs = previous != 0 && tickMs + 1 > previous ? tickMs + 1 - previous : 0;
  }
  return true;
}

void CBoxHealth::NoteRead(std::uint64_t tickMs, int recorded, int ignored, int invalid) {
  const std::uint64_t second = tickMs / 1000;
  std::atomic<std::uint64_t>& bucket = m_buckets[second % kBuckets];
  const std::uint64_t value = bucket.load(kRelaxed);
  // One writer: a plain load and store is enough; readers see either value.
  if (value >> kCountBits == second) {
    if ((value & kCountMask) != kCountMask) {
      bucket.store(value + 1, kRelaxed);
    }
  } else {
    bucket.store((second << kCountBits) | 1, kRelaxed);
  }
  m_lastReadTick.store(tickMs + 1, kRelaxed);
  if (recorded != 0) {
    m_recorded.fetch_add(recorded, kRelaxed);
  }
  if (ignored != 0) {
    m_ignored.fetch_add(ignored, kRelaxed);
  }
  if (invalid != 0) {
    m_invalid.fetch_add(invalid, kRelaxed);
  }
}

CBoxHealth::AlarmChange CBoxHealth::CheckSilence(std::uint64_t nowTickMs, std::uint64_t limitMs,
                                                 std::uint64_t* silentForMs) {
  const std::uint64_t last = m_lastLineTick.load(kRelaxed);
  if (limitMs == 0 || last == 0 || m_silenceReported.load(kRelaxed)) {
    return AlarmChange::kNone;
  }
  const std::uint64_t quietMs = nowTickMs + 1 > last ? nowTickMs + 1 - last : 0;
  if (quietMs < limitMs) {
    return AlarmChange::kNone;
  }
  m_silenceReported.store(true, kRelaxed);
  if (silentForMs != nullptr) {
    *silentForMs = quietMs;
  }
  return AlarmChange::kRaised;
}

CBoxHealth::AlarmChange CBoxHealth::NoteClockOffset(std::int64_t offsetMs, std::int64_t limitMs) {
  m_clockOffsetMs.store(offsetMs, kRelaxed);
  m_offsetKnown.store(true, kRelaxed);
  const bool beyond = limitMs > 0 && std::llabs(offsetMs) > limitMs;
  const bool wasBeyond = m_clockAlarm.exchange(beyond, kRelaxed);
  if (beyond && !wasBeyond) {
    return AlarmChange::kRaised;
  }
  if (!beyond && wasBeyond) {
    return AlarmChange::kCleared;
  }
  return AlarmChange::kNone;
}

void CBoxHealth::Reset() {
  for (auto& bucket : m_buckets) {
    bucket.store(0, kRelaxed);
  }
  m_everConnected.store(false, kRelaxed);
  m_connected.store(false, kRelaxed);
  m_recorded.store(0, kRelaxed);
  m_ignored.store(0, kRelaxed);
  m_invalid.store(0, kRelaxed);
  m_lastReadTick.store(0, kRelaxed);
  m_lastLineTick.store(0, kRelaxed);
  m_silenceReported.store(false, kRelaxed);
  m_reconnections.store(0, kRelaxed);
  m_offsetKnown.store(false, kRelaxed);
  m_clockOffsetMs.store(0, kRelaxed);
  m_clockAlarm.store(false, kRelaxed);
}

CBoxHealth::Figures CBoxHealth::Take(std::uint64_t nowTickMs, std::uint64_t silenceLimitMs) const {
  Figures f;
  f.everConnected = m_everConnected.load(kRelaxed);
  f.connected = m_connected.load(kRelaxed);
  const std::uint64_t now = nowTickMs / 1000;
  std::uint64_t reads = 0;
  for (const auto& bucket : m_buckets) {
    const std::uint64_t value = bucket.load(kRelaxed);
    const std::uint64_t second = value >> kCountBits;
    // Whole seconds only: the current one is still filling.
    if (value != 0 && second < now && second + kRateSeconds >= now) {
      reads += value & kCountMask;
    }
  }
  f.readsPerSecond = static_cast<double>(reads) / kRateSeconds;
  f.recorded = m_recorded.load(kRelaxed);
  f.ignored = m_ignored.load(kRelaxed);
  f.invalid = m_invalid.load(kRelaxed);
  const std::uint64_t lastRead = m_lastReadTick.load(kRelaxed);
  f.anyRead = lastRead != 0;
  f.lastReadAgeMs = f.anyRead && nowTickMs + 1 > lastRead ? nowTickMs + 1 - lastRead : 0;
  f.reconnections = m_reconnections.load(kRelaxed);
  f.offsetKnown = m_offsetKnown.load(kRelaxed);
  f.clockOffsetMs = m_clockOffsetMs.load(kRelaxed);
  f.clockAlarm = m_clockAlarm.load(kRelaxed);
  const std::uint64_t lastLine = m_lastLineTick.load(kRelaxed);
  if (f.connected && silenceLimitMs > 0 && lastLine != 0 && nowTickMs + 1 > lastLine &&
      nowTickMs + 1 - lastLine >= silenceLimitMs) {
    f.silent = true;
    f.silentForMs = nowTickMs + 1 - lastLine;
  }
  return f;
}

std::int64_t TimeOfDayOffsetMs(std::int64_t boxMs, std::int64_t pcMs) {
  std::int64_t offset = (boxMs - pcMs) % kDayMs;
  if (offset >= kDayMs / 2) {
    offset -= kDayMs;
  } else if (offset < -kDayMs / 2) {
    offset += kDayMs;
  }
  return offset;
}

std::string OffsetText(std::int64_t offsetMs) {
  const std::int64_t magnitude = std::llabs(offsetMs);
  char text[48];
  std::snprintf(text, sizeof text, "%c%lld.%03lld s", offsetMs < 0 ? '-' : '+',
                static_cast<long long>(magnitude / 1000), static_cast<long long>(magnitude % 1000));
  return text;
}

}  // namespace lapora
