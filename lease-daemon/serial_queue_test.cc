#include "serial_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vesk {
namespace {

using namespace std::chrono_literals;

TEST(SerialQueueTest, RunsItemsInOrderOnItsOwnThread) {
  SerialQueue queue("test");
  std::vector<int> order;  // touched only on the queue
  for (int i = 0; i < 200; ++i) {
    queue.async([&, i] { order.push_back(queue.isCurrent() ? i : -1); });
  }
  queue.sync([] {});
  ASSERT_EQ(order.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(order[i], i);
}

// The last owner of an object that owns a queue may be released on that
// queue; the queue must then wind down without joining itself.
TEST(SerialQueueTest, CanBeDestroyedFromItsOwnItem) {
  auto queue = std::make_shared<SerialQueue>("test");
  std::promise<void> destroyed;
  SerialQueue* raw = queue.get();
  raw->async([owned = std::move(queue), &destroyed]() mutable {
    owned.reset();
    destroyed.set_value();
  });
  EXPECT_EQ(destroyed.get_future().wait_for(60s), std::future_status::ready);
}

// Ticks counted on the queue, and a way for the test thread to wait for
// the first of them.
struct TickLog {
  std::mutex mutex;
  std::condition_variable ticked;
  int ticks = 0;

  void tick() {
    std::lock_guard<std::mutex> lock(mutex);
    ++ticks;
    ticked.notify_all();
  }
  bool awaitFirst() {
    std::unique_lock<std::mutex> lock(mutex);
    return ticked.wait_for(lock, 60s, [&] { return ticks > 0; });
  }
  int count() {
    std::lock_guard<std::mutex> lock(mutex);
    return ticks;
  }
};

// Ticks that fall due while the queue is busy, or while a tick runs that
// takes longer than the period, run once between two turns of the queue,
// not once for each period missed; and work queued while a tick runs is
// answered after at most the tick that fell due before it.
TEST(SerialQueueTest, TicksCoalesceAndWaitTheirTurn) {
  struct Case {
    const char* name;
    std::chrono::milliseconds busyFirst;  // an item that holds the queue
    std::chrono::milliseconds tickTakes;
  };
  const Case cases[] = {
      {"missed while busy", 1100ms, 0ms},
      {"ticks slower than the period", 0ms, 600ms},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TickLog log;  // outlives the queue, whose worker may still be ticking
    SerialQueue queue("test");
    queue.async([&] { std::this_thread::sleep_for(c.busyFirst); });
    auto timer = queue.schedule(0ms, 250ms, [&] {
      log.tick();
      std::this_thread::sleep_for(c.tickTakes);
    });
    ASSERT_TRUE(log.awaitFirst());
    // Queued while the first tick runs: ahead of every tick that falls due
    // later, and behind at most one that fell due already.
    auto ticksSeen = std::make_shared<std::promise<int>>();
    queue.async([&log, ticksSeen] { ticksSeen->set_value(log.count()); });
    std::future<int> answer = ticksSeen->get_future();
    ASSERT_EQ(answer.wait_for(60s), std::future_status::ready)
        << "starved by ticks";
    EXPECT_LE(answer.get(), 2);
  }
}

}  // namespace
}  // namespace vesk
