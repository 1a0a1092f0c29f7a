// Client-side helpers for the service tests: a SEQPACKET client that sends
// raw messages (optionally with a descriptor) and waits for answers with a
// bound, and a condition wait.

#ifndef VESK_LEASE_DAEMON_TESTS_TEST_CLIENT_H_
#define VESK_LEASE_DAEMON_TESTS_TEST_CLIENT_H_

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace vesk::testing {

// A connected client socket; -1 on failure. Blocking unless `nonBlocking`.
int connectTo(const std::string& path, bool nonBlocking = false);

// Sends `bytes` as one message, with `passFd` attached when it is >= 0.
bool sendMessage(int fd, std::string_view bytes, int passFd = -1);

enum class Outcome { kMessage, kClosed, kTimeout };
struct Received {
  Outcome outcome;
  std::string bytes;
};

// Waits up to `bound` for one message. kClosed covers end of stream and a
// reset connection.
Received receive(int fd,
                 std::chrono::milliseconds bound = std::chrono::seconds(10));

// Polls `condition` until it holds or `bound` has passed; its last result.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds bound = std::chrono::seconds(10));

// The number of descriptors this process has open.
int openDescriptorCount();

}  // namespace vesk::testing

#endif  // VESK_LEASE_DAEMON_TESTS_TEST_CLIENT_H_
