// SerialQueue: the least of a serial dispatch queue that the daemon needs.
//
// One worker thread runs submitted work items one at a time in submission
// order. async() never blocks; sync() blocks the caller until the item has
// run (calling sync() from the queue's own thread would deadlock and is a
// programming error). isCurrent() tells whether the caller runs on the queue.
//
// (Interface agreed between the controller and the service; the controller's
// implementation owns this file and may extend it, e.g. with the repeating
// timer.)

#ifndef VESK_LEASE_DAEMON_SERIAL_QUEUE_H_
#define VESK_LEASE_DAEMON_SERIAL_QUEUE_H_

#include <functional>
#include <string>

namespace vesk {

class SerialQueue {
 public:
  explicit SerialQueue(std::string label);
  ~SerialQueue();
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  const std::string& label() const;
  void async(std::function<void()> work);
  void sync(const std::function<void()>& work);
  bool isCurrent() const;
};

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_SERIAL_QUEUE_H_
