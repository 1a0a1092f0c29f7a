#include "reply_queue.h"

namespace vesk {

bool ReplyQueue::full() const {
  return nextRequest_ - nextReply_ >= kMaxUnansweredRequests;
}

uint64_t ReplyQueue::add() { return nextRequest_++; }

bool ReplyQueue::answer(uint64_t sequence, char byte) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return false;
  answers_.emplace(sequence, byte);
  if (wakeupPending_) return false;
  wakeupPending_ = true;
  return true;
}

ReplyQueue::Drained ReplyQueue::sendDue(
    const std::function<Sent(char)>& send) {
  std::lock_guard<std::mutex> lock(mutex_);
  wakeupPending_ = false;
  while (!answers_.empty() && answers_.begin()->first == nextReply_) {
    switch (send(answers_.begin()->second)) {
      case Sent::kSent:
        break;
      case Sent::kWouldBlock:
        return Drained::kWouldBlock;
      case Sent::kFailed:
        return Drained::kFailed;
    }
    answers_.erase(answers_.begin());
    ++nextReply_;
  }
  return Drained::kAll;
}

void ReplyQueue::close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  answers_.clear();
}

}  // namespace vesk
