#include "resultslink/detection_backlog.h"

#include "detections/recorded_detections.h"

namespace lapora {

bool RecordIdBefore(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b)) <
         0;
}

bool CDetectionBacklog::Push(std::int32_t id) {
  if (m_forgetting && !RecordIdBefore(m_forgottenUpTo, id)) {
    return false;
  }
  if (!m_runs.empty() && NextRecordId(m_runs.back().last) == id) {
    m_runs.back().last = id;
    ++m_runs.back().count;
  } else {
    m_runs.push_back(RecordIdRun{id, id, 1});
  }
  ++m_count;
  return true;
}

void CDetectionBacklog::PushFront(const RecordIdRun& run) {
  if (run.count == 0) {
    return;
  }
  if (!m_runs.empty() && NextRecordId(run.last) == m_runs.front().first) {
    m_runs.front().first = run.first;
    m_runs.front().count += run.count;
  } else {
    m_runs.push_front(run);
  }
  m_count += run.count;
}

RecordIdRun CDetectionBacklog::TakeFront(std::size_t maxIds) {
  if (m_runs.empty() || maxIds == 0) {
    return {};
  }
  RecordIdRun& front = m_runs.front();
  if (front.count <= maxIds) {
    RecordIdRun taken = front;
    m_runs.pop_front();
    m_count -= taken.count;
    return taken;
  }
  RecordIdRun taken{front.first, front.first, maxIds};
  for (std::size_t i = 1; i < maxIds; ++i) {
    taken.last = NextRecordId(taken.last);
  }
  front.first = NextRecordId(taken.last);
  front.count -= maxIds;
  m_count -= maxIds;
  return taken;
}

void CDetectionBacklog::ForgetUpTo(std::int32_t id) {
  m_forgetting = true;
  m_forgottenUpTo = id;
  while (!m_runs.empty() && !RecordIdBefore(id, m_runs.front().first)) {
    RecordIdRun& front = m_runs.front();
    if (!RecordIdBefore(id, front.last)) {
      m_count -= front.count;
      m_runs.pop_front();
      continue;
    }
    // The run goes on past the cleared records: keep its newer part.
    while (!RecordIdBefore(id, front.first)) {
      front.first = NextRecordId(front.first);
      --front.count;
      --m_count;
    }
  }
}

void CDetectionBacklog::Clear() {
  m_runs.clear();
  m_count = 0;
}

}  // namespace lapora
