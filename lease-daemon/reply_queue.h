// ReplyQueue: the replies of one connection, put back into request order.
//
// The service numbers each request it reads (add()); the answers come back
// on other threads in any order (answer()) and go out strictly in request
// order (sendDue()). A connection may have at most kMaxUnansweredRequests
// requests whose replies have not gone out; at that bound the service stops
// reading from it (full()), so a peer that floods requests or does not read
// its replies holds up only itself and costs bounded memory.
//
// Threading: answer() may be called on any thread; everything else on the
// service thread only.

#ifndef VESK_LEASE_DAEMON_REPLY_QUEUE_H_
#define VESK_LEASE_DAEMON_REPLY_QUEUE_H_

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

namespace vesk {

inline constexpr uint64_t kMaxUnansweredRequests = 64;

class ReplyQueue {
 public:
  enum class Sent { kSent, kWouldBlock, kFailed };
  enum class Drained { kAll, kWouldBlock, kFailed };

  // True when kMaxUnansweredRequests replies are still to go out.
  bool full() const;

  // The number of the next request read.
  uint64_t add();

  // Stores `byte` as the reply to request `sequence`. True when the service
  // thread must be woken for it: the first answer since the last sendDue().
  // False when the queue is closed (the answer is dropped) or a wakeup is
  // already on its way.
  bool answer(uint64_t sequence, char byte);

  // Hands every reply that is due, in request order, to `send`, and stops
  // when the next one has not been answered yet or `send` did not take it
  // (kWouldBlock keeps it for the next call). Runs under the queue's lock.
  Drained sendDue(const std::function<Sent(char)>& send);

  // Drops every answer stored and every answer still to come.
  void close();

 private:
  uint64_t nextRequest_ = 0;  // service thread only
  uint64_t nextReply_ = 0;    // service thread only

  std::mutex mutex_;
  bool closed_ = false;
  bool wakeupPending_ = false;
  std::map<uint64_t, char> answers_;
};

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_REPLY_QUEUE_H_
