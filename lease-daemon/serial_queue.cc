#include "serial_queue.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace vesk {

namespace {

using Clock = std::chrono::steady_clock;

struct TimerEntry {
  // The next tick's due time; once passed, the tick is waiting in the queue
  // at that place.
  Clock::time_point next;
  Clock::duration period;
  std::function<void()> handler;
};

struct WorkItem {
  Clock::time_point queued;
  std::function<void()> work;
};

// The queue whose worker is the calling thread, if any.
thread_local const void* currentQueue = nullptr;

// Everything the worker touches lives here, shared between the queue, its
// worker and its timers' handles, so that a worker left running by a
// destructor on its own thread never reaches a freed queue.
struct State {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<WorkItem> items;
  std::map<uint64_t, std::shared_ptr<TimerEntry>> timers;
  uint64_t nextTimerId = 1;
  bool stopping = false;
};

void run(std::shared_ptr<State> state);

}  // namespace

struct SerialQueue::Impl {
  std::shared_ptr<State> state = std::make_shared<State>();
  std::thread worker{&run, state};
};

struct SerialQueue::Timer::Impl {
  std::shared_ptr<State> queue;
  uint64_t id;
};

SerialQueue::SerialQueue(const std::string& /*label*/)
    : impl_(std::make_unique<Impl>()) {}

SerialQueue::~SerialQueue() {
  State& state = *impl_->state;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.stopping = true;
  }
  state.wake.notify_all();
  if (isCurrent()) {
    impl_->worker.detach();
  } else {
    impl_->worker.join();
  }
}

void SerialQueue::async(std::function<void()> work) {
  // The call holds the state until it returns: once the item is in line it
  // may run at once and release the queue's last owner (sync() is such a
  // caller), and the wake-up below must not reach a freed queue.
  std::shared_ptr<State> state = impl_->state;
  {
    std::lock_guard<std::mutex> lock(state->mutex);
    state->items.push_back({Clock::now(), std::move(work)});
  }
  state->wake.notify_one();
}

void SerialQueue::sync(const std::function<void()>& work) {
  std::mutex mutex;
  std::condition_variable doneSignal;
  bool done = false;
  async([&] {
    work();
    // Notify under the lock: once the caller sees `done` it returns and
    // these locals are gone.
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
    doneSignal.notify_one();
  });
  std::unique_lock<std::mutex> lock(mutex);
  doneSignal.wait(lock, [&] { return done; });
}

bool SerialQueue::isCurrent() const {
  return currentQueue == impl_->state.get();
}

std::unique_ptr<SerialQueue::Timer> SerialQueue::schedule(
    std::chrono::nanoseconds start, std::chrono::nanoseconds period,
    std::function<void()> handler) {
  auto entry = std::make_shared<TimerEntry>();
  entry->next = Clock::now() + start;
  entry->period = std::max<Clock::duration>(period, Clock::duration(1));
  entry->handler = std::move(handler);
  State& state = *impl_->state;
  uint64_t id;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    id = state.nextTimerId++;
    state.timers.emplace(id, std::move(entry));
  }
  state.wake.notify_one();
  return std::unique_ptr<Timer>(
      new Timer(std::make_unique<Timer::Impl>(Timer::Impl{impl_->state, id})));
}

SerialQueue::Timer::Timer(std::unique_ptr<Impl> impl)
    : impl_(std::move(impl)) {}

SerialQueue::Timer::~Timer() {
  State& state = *impl_->queue;
  std::shared_ptr<TimerEntry> removed;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    auto it = state.timers.find(impl_->id);
    if (it == state.timers.end()) return;
    removed = std::move(it->second);
    state.timers.erase(it);
  }
  // `removed` (and the handler's captures) is released outside the lock.
}

namespace {

void run(std::shared_ptr<State> state) {
  currentQueue = state.get();
  std::unique_lock<std::mutex> lock(state->mutex);
  for (;;) {
    Clock::time_point now = Clock::now();
    std::shared_ptr<TimerEntry> due;
    Clock::time_point earliest = Clock::time_point::max();
    // Once the queue is being destroyed no tick starts, however overdue:
    // timers must not keep it running. A tick slower than its period is
    // always due, so a stop checked only when none is due never comes.
    if (!state->stopping) {
      for (auto& [id, entry] : state->timers) {
        if (entry->next <= now && (!due || entry->next < due->next)) {
          due = entry;
        }
        earliest = std::min(earliest, entry->next);
      }
    }
    // First come, first served: a due tick takes its place in line at the
    // moment it fell due, behind work queued before that moment. However
    // long a tick takes, work queued meanwhile waits for at most the one
    // tick of that timer that fell due while it ran.
    if (!state->items.empty() &&
        (!due || state->items.front().queued < due->next)) {
      std::function<void()> item = std::move(state->items.front().work);
      state->items.pop_front();
      lock.unlock();
      item();
      // Released before relocking: an item may hold the last reference to
      // the queue's owner.
      item = nullptr;
      lock.lock();
      continue;
    }
    if (due) {
      // One tick for however many periods have passed; the next one keeps
      // the cadence of the first. A tick that falls due while this one runs
      // waits for it and then takes its place in line.
      Clock::duration late = now - due->next;
      due->next += (late / due->period + 1) * due->period;
      lock.unlock();
      due->handler();
      due.reset();
      lock.lock();
      continue;
    }
    if (state->stopping) break;
    if (earliest == Clock::time_point::max()) {
      state->wake.wait(lock);
    } else {
      state->wake.wait_until(lock, earliest);
    }
  }
  currentQueue = nullptr;
}

}  // namespace

}  // namespace vesk
