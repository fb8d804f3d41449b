#include "foundation/events.h"

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace lapora {
namespace {

TEST(EventQueueTest, KeepsPostingOrderPerThreadAcrossFourPosters) {
  EventQueue queue;
  constexpr int kPerThread = 5000;
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t) {
    posters.emplace_back([&queue, t] {
      for (int i = 0; i < kPerThread; ++i) {
        queue.Post(BoxStatusEvent{t, i});
      }
    });
  }
  std::vector<int> next(4, 0);
  int handled = 0;
  while (handled < 4 * kPerThread) {
    queue.WaitForEvents(std::chrono::milliseconds(100));
    handled += static_cast<int>(queue.Dispatch([&](const Event& e) {
      const auto& status = std::get<BoxStatusEvent>(e);
      EXPECT_EQ(status.failed, next[status.box]);
      next[status.box] = status.failed + 1;
    }));
  }
  for (auto& p : posters)
    p.join();
  EXPECT_EQ(next, std::vector<int>(4, kPerThread));
}

TEST(EventQueueTest, SendReturnsOnlyAfterTheEventWasHandled) {
  EventQueue queue;
  std::atomic<bool> handledFlag{false};
  std::atomic<bool> sendReturned{false};
  std::thread worker([&] {
    EXPECT_TRUE(queue.Send(FtpJobStatusEvent{3, "file.txt", ""}));
    EXPECT_TRUE(handledFlag.load());
    sendReturned = true;
  });
  while (!queue.WaitForEvents(std::chrono::milliseconds(50))) {
  }
  queue.Dispatch([&](const Event& e) {
    EXPECT_EQ(std::get<FtpJobStatusEvent>(e).remoteName, "file.txt");
    EXPECT_FALSE(sendReturned.load());
    handledFlag = true;
  });
  worker.join();
  EXPECT_TRUE(sendReturned.load());
}

TEST(EventQueueTest, CloseReleasesAWaitingSendAndDropsLaterPosts) {
  EventQueue queue;
  std::thread worker([&] { EXPECT_FALSE(queue.Send(LinkStateEvent{2})); });
  while (queue.PendingCount() == 0) {
    std::this_thread::yield();
  }
  queue.Close();
  worker.join();
  queue.Post(LinkStateEvent{3});
  EXPECT_EQ(queue.PendingCount(), 0u);
}

TEST(EventQueueTest, NestedDispatchKeepsOrder) {
  EventQueue queue;
  for (int i = 0; i < 5; ++i)
    queue.Post(BoxStatusEvent{1, i});
  std::vector<int> seen;
  EventQueue::Handler handler = [&](const Event& e) {
    int n = std::get<BoxStatusEvent>(e).failed;
    seen.push_back(n);
    if (n == 1) {
      queue.Dispatch(handler, 2);  // a handler that pumps events while it waits
    }
  };
  queue.Dispatch(handler);
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(EventQueueTest, WakeCallbackRunsWhenTheQueueBecomesNonEmpty) {
  EventQueue queue;
  int wakes = 0;
  queue.SetWakeCallback([&] { ++wakes; });
  queue.Post(RefreshRequestEvent{});
  queue.Post(RefreshRequestEvent{});
  EXPECT_EQ(wakes, 1);
  queue.Dispatch([](const Event&) {});
  queue.Post(RefreshRequestEvent{});
  EXPECT_EQ(wakes, 2);
}

TEST(EventQueueTest, ARefreshRequestIsDroppedWhileAnotherIsPendingAndBatchesKeepOrder) {
  EventQueue queue;
  Event batch[3] = {LinkStateEvent{1}, RefreshRequestEvent{}, LinkStateEvent{2}};
  queue.PostBatch(batch, 3);
  queue.Post(RefreshRequestEvent{});
  std::vector<std::size_t> kinds;
  queue.Dispatch([&](const Event& e) { kinds.push_back(e.index()); });
  const std::size_t link = Event(LinkStateEvent{}).index();
  const std::size_t refresh = Event(RefreshRequestEvent{}).index();
  EXPECT_EQ(kinds, (std::vector<std::size_t>{link, refresh, link}));
  queue.Post(RefreshRequestEvent{});  // none pending any more: kept
  EXPECT_EQ(queue.PendingCount(), 1u);
}

}  // namespace
}  // namespace lapora
