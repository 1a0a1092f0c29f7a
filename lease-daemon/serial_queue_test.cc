// The queue's contract, checked through its interface only, so that the
// same cases run against whichever queue the platform builds (a worker
// thread on Linux, GCD on macOS).

#include "serial_queue.h"

#include <gtest/gtest.h>

#include <atomic>
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

// Bounds waits that only a broken queue would reach.
constexpr auto kPatience = 60s;

TEST(SerialQueueTest, RunsItemsInOrderOnItsOwnThread) {
  SerialQueue queue("test");
  std::vector<int> order;  // touched only on the queue
  for (int i = 0; i < 200; ++i) {
    queue.async([&, i] { order.push_back(queue.isCurrent() ? i : -1); });
  }
  queue.sync([] {});
  ASSERT_EQ(order.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(order[i], i);
  EXPECT_FALSE(queue.isCurrent());
}

// The last owner of an object that owns a queue may be released by one of
// the queue's items. Nothing else is queued and no timer exists, so the
// only hold on the queue left is the one of the call that runs the item.
TEST(SerialQueueTest, CanBeDestroyedFromItsOwnItem) {
  enum class Call { kAsync, kSync };
  const struct {
    const char* name;
    Call call;
  } cases[] = {{"async", Call::kAsync}, {"sync", Call::kSync}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto owner = std::make_shared<SerialQueue>("test");
    SerialQueue* queue = owner.get();
    std::promise<bool> released;
    auto releaseOwner = [&] {
      bool wasCurrent = queue->isCurrent();
      owner.reset();
      released.set_value(wasCurrent);
    };
    if (c.call == Call::kAsync) {
      queue->async(releaseOwner);
    } else {
      queue->sync(releaseOwner);
    }
    std::future<bool> done = released.get_future();
    ASSERT_EQ(done.wait_for(kPatience), std::future_status::ready);
    EXPECT_TRUE(done.get());
  }
}

// Ticks counted on the queue, and a way for another thread to wait for the
// first of them.
struct TickLog {
  std::mutex mutex;
  std::condition_variable ticked;
  int ticks = 0;

  int tick() {
    std::lock_guard<std::mutex> lock(mutex);
    ticked.notify_all();
    return ++ticks;
  }
  bool awaitFirst() {
    std::unique_lock<std::mutex> lock(mutex);
    return ticked.wait_for(lock, kPatience, [&] { return ticks > 0; });
  }
  int count() {
    std::lock_guard<std::mutex> lock(mutex);
    return ticks;
  }
};

// A probe item queued once the queue has been held for several periods,
// by an item or by the first tick itself, sees how many ticks ran before
// it. Missed ticks make one tick, which waits behind nothing queued later;
// a tick that falls due while the previous one runs may run before the
// probe or after it, but no later tick may, even when every tick is slower
// than the period.
TEST(SerialQueueTest, TicksCoalesceAndWaitTheirTurn) {
  static constexpr auto kPeriod = 40ms;
  const struct {
    const char* name;
    std::chrono::milliseconds itemHolds;  // an item that holds the queue
    std::chrono::milliseconds tickHolds;  // each tick holds the queue
    int fewestSeen;
    int mostSeen;
  } cases[] = {
      {"missed while an item runs", 6 * kPeriod, 0ms, 1, 1},
      {"due while the tick runs", 0ms, 6 * kPeriod, 1, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // The probe is copied into an item and a handler.
    auto log = std::make_shared<TickLog>();
    auto seen = std::make_shared<std::promise<int>>();
    SerialQueue queue("test");
    auto probe = [&queue, log, seen] {
      queue.async([log, seen] { seen->set_value(log->count()); });
    };
    // The item starts holding the queue only once the timer runs, so that
    // every period it holds for falls due while it runs.
    std::promise<void> scheduled;
    queue.async([&c, probe, started = scheduled.get_future().share()] {
      started.wait();
      if (c.itemHolds == 0ms) return;
      std::this_thread::sleep_for(c.itemHolds);
      probe();
    });
    auto timer = queue.schedule(0ms, kPeriod, [&c, log, probe] {
      bool first = log->tick() == 1;
      std::this_thread::sleep_for(c.tickHolds);
      if (first && c.tickHolds > 0ms) probe();
    });
    scheduled.set_value();
    std::future<int> answer = seen->get_future();
    ASSERT_EQ(answer.wait_for(kPatience), std::future_status::ready)
        << "starved by ticks";
    int ticksSeen = answer.get();
    EXPECT_GE(ticksSeen, c.fewestSeen);
    EXPECT_LE(ticksSeen, c.mostSeen);
  }
}

// However the last owner lets go of a queue, the items queued before then
// still run, and no tick starts afterwards: not even of a timer whose ticks
// take longer than its period (so one is always due) and whose handle
// outlives the queue.
TEST(SerialQueueTest, TimersDoNotKeepADestroyedQueueRunning) {
  static constexpr auto kPeriod = 20ms;
  static constexpr auto kTickTakes = 10 * kPeriod;
  // A runaway queue's ticks turn quick after this many, so that the
  // faulty queue stops in the end and the test can report it.
  constexpr int kRunaway = 3;
  struct Shared {
    std::shared_ptr<SerialQueue> owner;
    TickLog log;
    std::atomic<bool> released{false};
    std::atomic<int> ticksAfter{0};
    // Ticks started after the release, as an item queued just before it
    // saw them.
    std::promise<int> itemRan;
  };
  const struct {
    const char* name;
    bool byTick;  // else by another thread, once the ticks run
    // Ticks that may start after the release: none when it happens on the
    // queue; from another thread, one may start before the destructor
    // stops the queue.
    int ticksMayStart;
  } cases[] = {
      {"by its own tick", true, 0},
      {"from another thread", false, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto shared = std::make_shared<Shared>();
    shared->owner = std::make_shared<SerialQueue>("test");
    SerialQueue* queue = shared->owner.get();
    std::future<int> ran = shared->itemRan.get_future();
    auto letGo = [shared, queue] {
      queue->async(
          [shared] { shared->itemRan.set_value(shared->ticksAfter.load()); });
      shared->released = true;
      shared->owner.reset();
    };
    auto timer =
        queue->schedule(0ms, kPeriod, [shared, letGo, byTick = c.byTick] {
          bool first = shared->log.tick() == 1;
          if (shared->released && ++shared->ticksAfter >= kRunaway) return;
          std::this_thread::sleep_for(kTickTakes);
          if (first && byTick) letGo();
        });
    ASSERT_TRUE(shared->log.awaitFirst());
    if (!c.byTick) letGo();
    ASSERT_EQ(ran.wait_for(kPatience), std::future_status::ready);
    EXPECT_LE(ran.get(), c.ticksMayStart);
    if (!c.byTick) {
      // The destructor has returned: no tick can start any more.
      EXPECT_LE(shared->ticksAfter.load(), c.ticksMayStart);
    }
  }
}

}  // namespace
}  // namespace vesk
