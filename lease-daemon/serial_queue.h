// SerialQueue: the least of a serial dispatch queue that the daemon needs.
//
// Submitted work items run one at a time in submission order, never two at
// once (on one worker thread, or on GCD's threads on macOS). async() never
// blocks; sync() blocks the caller until the item has run. Calling sync()
// from the queue's own item is a programming error: the thread-based queue
// deadlocks, and GCD stops the process at once.
// isCurrent() tells whether the caller runs on the queue.
//
// A queue also runs repeating timers (schedule()), with no thread of their
// own. A tick runs on the queue like any work item and waits its turn like
// one: first come, first served. A tick that falls due while the queue runs
// other work joins the line behind the work queued before that moment. One
// that falls due while the previous tick of the same timer still runs
// joins the line no later than when that tick returns: work queued in
// between may run after it (the thread-based queue) or before it (GCD),
// but always before any later tick of that timer. Either way a slow tick
// never starves work queued meanwhile.
// Ticks that fall due while one of the same timer is waiting or running are
// not run one by one: they make a single tick, and the next keeps the
// original cadence (start + k * period).
//
// Destroying the queue lets the items already queued finish and then stops;
// no tick starts once destruction has begun (a tick already running
// finishes), so timers do not keep it running. The destructor waits for
// those items unless it runs on the queue itself (the last owner of an
// object that owns the queue may be released by one of its items, whether
// queued with async() or sync(), or by a tick), in which case they run on
// their own after the current item.
//
// The label names the queue where the platform shows queue names (the GCD
// queue of serial_queue-apple.cc); the thread-based queue (serial_queue.cc)
// does not keep it.

#ifndef VESK_LEASE_DAEMON_SERIAL_QUEUE_H_
#define VESK_LEASE_DAEMON_SERIAL_QUEUE_H_

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace vesk {

class SerialQueue {
 public:
  explicit SerialQueue(const std::string& label);
  ~SerialQueue();
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  void async(std::function<void()> work);
  void sync(const std::function<void()>& work);
  bool isCurrent() const;

  // A repeating timer on a queue. Destroying the handle stops further ticks
  // (a tick already running finishes). The handle may outlive the queue.
  class Timer {
   public:
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

   private:
    friend class SerialQueue;
    struct Impl;
    explicit Timer(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
  };

  // Runs `handler` on this queue first `start` from now, then every `period`
  // (which must be positive), with no added leeway.
  std::unique_ptr<Timer> schedule(std::chrono::nanoseconds start,
                                  std::chrono::nanoseconds period,
                                  std::function<void()> handler);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_SERIAL_QUEUE_H_
