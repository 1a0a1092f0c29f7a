// Reply ordering and the bound on unanswered requests, without sockets.

#include "reply_queue.h"

#include <gtest/gtest.h>

#include <string>

namespace vesk {
namespace {

using Sent = ReplyQueue::Sent;
using Drained = ReplyQueue::Drained;

// A socket that takes every byte into `out`, or none with `result`.
auto into(std::string& out, Sent result = Sent::kSent) {
  return [&out, result](char byte) {
    if (result == Sent::kSent) out += byte;
    return result;
  };
}

TEST(ReplyQueueTest, RepliesGoOutInRequestOrderAndNotAfterClose) {
  ReplyQueue queue;
  for (int i = 0; i < 4; ++i) queue.add();
  std::string out;
  EXPECT_TRUE(queue.answer(2, 'c'));    // the first answer wakes the service
  EXPECT_FALSE(queue.answer(1, 'b'));   // its wakeup is on the way already
  EXPECT_EQ(queue.sendDue(into(out)), Drained::kAll);
  EXPECT_EQ(out, "");                   // request 0 is still unanswered
  EXPECT_TRUE(queue.answer(0, 'a'));    // after a send, wakes again
  EXPECT_EQ(queue.sendDue(into(out)), Drained::kAll);
  EXPECT_EQ(out, "abc");
  queue.close();
  EXPECT_FALSE(queue.answer(3, 'd'));
  EXPECT_EQ(queue.sendDue(into(out)), Drained::kAll);
  EXPECT_EQ(out, "abc");
}

TEST(ReplyQueueTest, FullAt64RepliesNotSentUntilOneGoesOut) {
  ReplyQueue queue;
  for (uint64_t i = 0; i < kMaxUnansweredRequests; ++i) {
    EXPECT_FALSE(queue.full()) << i;
    queue.add();
  }
  EXPECT_TRUE(queue.full());
  std::string out;
  queue.answer(0, 'a');
  queue.answer(1, 'b');
  // An answer that the socket cannot take yet still counts, and stays.
  EXPECT_EQ(queue.sendDue(into(out, Sent::kWouldBlock)), Drained::kWouldBlock);
  EXPECT_TRUE(queue.full());
  EXPECT_EQ(queue.sendDue(into(out, Sent::kFailed)), Drained::kFailed);
  EXPECT_TRUE(queue.full());
  EXPECT_EQ(queue.sendDue(into(out)), Drained::kAll);
  EXPECT_EQ(out, "ab");
  EXPECT_FALSE(queue.full());
  queue.add();
  queue.add();
  EXPECT_TRUE(queue.full());
}

}  // namespace
}  // namespace vesk
