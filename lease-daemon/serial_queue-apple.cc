// SerialQueue on Grand Central Dispatch: a serial dispatch queue, and a
// dispatch timer source per repeating timer. GCD gives the rules of
// serial_queue.h by itself:
//
// - A timer source that fires submits its handler to the target queue like
//   any work item, behind the work already queued there: first come, first
//   served, so a slow tick never starves work queued meanwhile.
// - Fires that arrive while the handler waits for its turn or runs are
//   merged into the source's pending data and run the handler once; the
//   timer keeps its cadence (start + k * period) rather than restarting
//   from the late tick. A fire merged while the handler runs queues the
//   source again at the tail when the handler returns, behind work queued
//   meanwhile.
// - A cancelled source starts no further handler; one already running
//   finishes.
// - dispatch_time(DISPATCH_TIME_NOW, ...) counts on the clock that stops
//   while the machine sleeps, the same clock as the lease's uptime.
//
// This is a C++ file, so dispatch objects are plain references that this
// file releases with dispatch_release (ARC owns them only in Objective-C).

#include <dispatch/dispatch.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "serial_queue.h"

namespace vesk {

namespace {

// The key of the value each queue carries to answer isCurrent(); only its
// address matters.
const char kQueueTokenKey = 0;

// Each queue's value is a token of its own, freed with the queue itself
// (not with the SerialQueue), so that items still running after the
// SerialQueue was destroyed on its own queue can never see a token reused by
// another queue.
void freeToken(void* token) { delete static_cast<char*>(token); }

void runWork(void* context) {
  std::unique_ptr<std::function<void()>> work(
      static_cast<std::function<void()>*>(context));
  (*work)();
  // `work` and its captures are released here, on the queue, before the
  // queue takes its next item: an item may hold the last reference to the
  // queue's owner.
}

void runBorrowedWork(void* context) {
  (*static_cast<const std::function<void()>*>(context))();
}

void tick(void* context) { (*static_cast<std::function<void()>*>(context))(); }

// A cancelled source calls this once its last tick has returned, so the
// handler is never freed under a running tick.
void freeHandler(void* context) {
  delete static_cast<std::function<void()>*>(context);
}

// The timers of one queue that are still live, so that destroying the
// queue stops them even while their handles live on. Shared between the
// queue and the handles, which may outlive it. A source is in the list only
// while its handle still holds it.
struct TimerList {
  std::mutex mutex;
  std::vector<dispatch_source_t> live;
};

}  // namespace

struct SerialQueue::Impl {
  dispatch_queue_t queue = nullptr;
  char* token = nullptr;  // owned by `queue`
  std::shared_ptr<TimerList> timers = std::make_shared<TimerList>();
};

struct SerialQueue::Timer::Impl {
  dispatch_source_t source = nullptr;
  std::shared_ptr<TimerList> timers;
};

SerialQueue::SerialQueue(const std::string& label)
    : impl_(std::make_unique<Impl>()) {
  impl_->queue = dispatch_queue_create(label.c_str(), DISPATCH_QUEUE_SERIAL);
  impl_->token = new char(0);
  dispatch_queue_set_specific(impl_->queue, &kQueueTokenKey, impl_->token,
                              &freeToken);
}

SerialQueue::~SerialQueue() {
  // Timers do not keep the queue running: no tick starts after this point
  // (a tick already running finishes).
  {
    std::lock_guard<std::mutex> lock(impl_->timers->mutex);
    for (dispatch_source_t source : impl_->timers->live) {
      dispatch_source_cancel(source);
    }
    impl_->timers->live.clear();
  }
  // Every item queued before now runs before this empty one, so waiting
  // for it waits for them. On the queue itself that would wait forever: the
  // items left run after the current one, each keeping the dispatch queue
  // alive until it has run.
  if (!isCurrent()) {
    dispatch_sync_f(impl_->queue, nullptr, [](void*) {});
  }
  dispatch_release(impl_->queue);
}

void SerialQueue::async(std::function<void()> work) {
  dispatch_async_f(impl_->queue, new std::function<void()>(std::move(work)),
                   &runWork);
}

void SerialQueue::sync(const std::function<void()>& work) {
  // dispatch_sync_f holds no reference of its own: it borrows the caller's.
  // The item may release the last owner of this queue, whose destructor,
  // on the queue, skips its wait and releases the queue while this call
  // still holds it locked, which GCD traps as a release of a locked queue.
  // So hold a reference for the length of the call, and touch nothing of
  // `impl_` after the item, which may have freed it.
  dispatch_queue_t queue = impl_->queue;
  dispatch_retain(queue);
  // The caller waits, so the function can be lent rather than copied.
  dispatch_sync_f(queue, const_cast<std::function<void()>*>(&work),
                  &runBorrowedWork);
  dispatch_release(queue);
}

bool SerialQueue::isCurrent() const {
  return dispatch_get_specific(&kQueueTokenKey) == impl_->token;
}

std::unique_ptr<SerialQueue::Timer> SerialQueue::schedule(
    std::chrono::nanoseconds start, std::chrono::nanoseconds period,
    std::function<void()> handler) {
  dispatch_source_t source =
      dispatch_source_create(DISPATCH_SOURCE_TYPE_TIMER, 0, 0, impl_->queue);
  auto interval = static_cast<uint64_t>(
      std::max<std::chrono::nanoseconds::rep>(period.count(), 1));
  dispatch_source_set_timer(
      source, dispatch_time(DISPATCH_TIME_NOW, start.count()), interval,
      /*leeway=*/0);
  // Both handlers get the context current when they are set.
  dispatch_set_context(source, new std::function<void()>(std::move(handler)));
  dispatch_source_set_event_handler_f(source, &tick);
  dispatch_source_set_cancel_handler_f(source, &freeHandler);
  {
    std::lock_guard<std::mutex> lock(impl_->timers->mutex);
    impl_->timers->live.push_back(source);
  }
  // Sources are created inactive.
  dispatch_activate(source);
  auto impl = std::make_unique<Timer::Impl>();
  impl->source = source;
  impl->timers = impl_->timers;
  return std::unique_ptr<Timer>(new Timer(std::move(impl)));
}

SerialQueue::Timer::Timer(std::unique_ptr<Impl> impl)
    : impl_(std::move(impl)) {}

SerialQueue::Timer::~Timer() {
  {
    std::lock_guard<std::mutex> lock(impl_->timers->mutex);
    std::erase(impl_->timers->live, impl_->source);
  }
  // Cancelling twice (after the queue's destructor did) is harmless. GCD
  // keeps a cancelled source alive until its cancel handler has run, after
  // any running tick, so the handle's reference can go at once.
  dispatch_source_cancel(impl_->source);
  dispatch_release(impl_->source);
}

}  // namespace vesk
