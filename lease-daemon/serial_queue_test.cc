#include "serial_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
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

// Ticks that fall due while the queue is busy run once, not once for each
// period missed.
TEST(SerialQueueTest, TicksMissedWhileBusyCoalesce) {
  using Clock = std::chrono::steady_clock;
  SerialQueue queue("test");
  int ticks = 0;  // touched only on the queue
  int ticksWhenBusyEnded = -1;
  Clock::time_point busyEnded;
  std::promise<void> started;
  queue.async([&] {
    started.set_value();
    std::this_thread::sleep_for(1100ms);  // the queue is busy
    ticksWhenBusyEnded = ticks;
    busyEnded = Clock::now();
  });
  started.get_future().wait();
  Clock::time_point scheduled = Clock::now();
  auto timer = queue.schedule(100ms, 100ms, [&] { ++ticks; });
  int ticksAtNextItem = -1;
  queue.sync([&] { ticksAtNextItem = ticks; });
  EXPECT_EQ(ticksWhenBusyEnded, 0);
  // A second tick only if the next period also passed in between.
  EXPECT_TRUE(busyEnded - scheduled < 300ms || ticksAtNextItem <= 2);
}

}  // namespace
}  // namespace vesk
