#include "deferred_closer.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace vesk {

struct DeferredCloser::State {
  std::mutex mutex;
  std::condition_variable work;
  std::deque<Descriptor> pending;
  size_t threads = 0;
  size_t idle = 0;  // threads waiting for work
  bool ending = false;
};

DeferredCloser::DeferredCloser() : state_(std::make_shared<State>()) {}

DeferredCloser::~DeferredCloser() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->ending = true;
  state_->work.notify_all();
}

void DeferredCloser::close(Descriptor fd) {
  if (!fd.valid()) return;
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->pending.push_back(std::move(fd));
  if (state_->pending.size() > state_->idle &&
      state_->threads < kMaxCloserThreads) {
    try {
      std::thread([state = state_] { serve(state); }).detach();
      ++state_->threads;
    } catch (...) {
      // No thread now: the descriptor waits for the next closer.
    }
  }
  state_->work.notify_one();
}

void DeferredCloser::serve(const std::shared_ptr<State>& state) {
  std::unique_lock<std::mutex> lock(state->mutex);
  for (;;) {
    ++state->idle;
    state->work.wait(lock,
                     [&] { return !state->pending.empty() || state->ending; });
    --state->idle;
    if (state->pending.empty()) break;
    Descriptor fd = std::move(state->pending.front());
    state->pending.pop_front();
    lock.unlock();
    fd.reset();  // may block: on this thread alone
    lock.lock();
  }
  --state->threads;
}

}  // namespace vesk
