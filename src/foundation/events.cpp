#include "foundation/events.h"

namespace lapora {

EventQueue::~EventQueue() {
  Close();
}

bool EventQueue::PushLocked(Event&& event) {
  if (std::holds_alternative<RefreshRequestEvent>(event)) {
    if (m_refreshPending) {
      return false;
    }
    m_refreshPending = true;
  }
  m_pending.push_back({std::move(event), nullptr});
  return true;
}

void EventQueue::Post(Event event) {
  PostBatch(&event, 1);
}

void EventQueue::PostBatch(Event* events, std::size_t count) {
  std::function<void()> wake;
  bool wasEmpty = false;
  {
    std::lock_guard lock(m_mutex);
    if (m_closed) {
      return;
    }
    wasEmpty = m_pending.empty();
    for (std::size_t i = 0; i < count; ++i) {
      PushLocked(std::move(events[i]));
    }
    if (wasEmpty && !m_pending.empty()) {
      wake = m_wake;
    } else {
      wasEmpty = false;
    }
  }
  // Only a waiter for "something pending" can be waiting here, and it already woke when the
  // queue stopped being empty: one notification per burst, not one per event.
  if (wasEmpty) {
    m_changed.notify_all();
  }
  if (wake) {
    wake();
  }
}

bool EventQueue::Send(Event event) {
  auto handled = std::make_shared<bool>(false);
  std::function<void()> wake;
  std::unique_lock lock(m_mutex);
  if (m_closed) {
    return false;
  }
  bool wasEmpty = m_pending.empty();
  m_pending.push_back({std::move(event), handled});
  if (wasEmpty) {
    wake = m_wake;
  }
  m_changed.notify_all();
  if (wake) {
    lock.unlock();
    wake();
    lock.lock();
  }
  m_changed.wait(lock, [&] { return *handled || m_closed; });
  return *handled;
}

std::size_t EventQueue::Dispatch(const Handler& handler, std::size_t maxEvents) {
  std::size_t count = 0;
  while (count < maxEvents) {
    Pending next;
    {
      std::lock_guard lock(m_mutex);
      if (m_pending.empty()) {
        break;
      }
      next = std::move(m_pending.front());
      m_pending.pop_front();
      if (std::holds_alternative<RefreshRequestEvent>(next.event)) {
        m_refreshPending = false;
      }
    }
    handler(next.event);
    ++count;
    if (next.handled) {
      {
        std::lock_guard lock(m_mutex);
        *next.handled = true;
      }
      m_changed.notify_all();
    }
  }
  return count;
}

bool EventQueue::WaitForEvents(std::chrono::milliseconds timeout) {
  std::unique_lock lock(m_mutex);
  return m_changed.wait_for(lock, timeout, [&] { return !m_pending.empty() || m_closed; }) &&
         !m_pending.empty();
}

std::size_t EventQueue::PendingCount() const {
  std::lock_guard lock(m_mutex);
  return m_pending.size();
}

void EventQueue::SetWakeCallback(std::function<void()> wake) {
  std::lock_guard lock(m_mutex);
  m_wake = std::move(wake);
}

void EventQueue::Close() {
  {
    std::lock_guard lock(m_mutex);
    m_closed = true;
    m_pending.clear();
    m_refreshPending = false;
  }
  m_changed.notify_all();
}

bool EventQueue::IsClosed() const {
  std::lock_guard lock(m_mutex);
  return m_closed;
}

}  // namespace lapora
