#include "hook_input.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace vesk {
namespace {

// The size limit is exercised end to end on the built binary; this checks
// what a process cannot show from outside: a signal arriving while the
// agent is slow to write must not cut the event short.
TEST(ReadHookInput, RetriesInterruptedReads) {
  struct sigaction action {};
  action.sa_handler = [](int) {};  // No SA_RESTART: read fails with EINTR.
  struct sigaction old {};
  sigaction(SIGUSR1, &action, &old);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);

  std::atomic<bool> done = false;
  std::string result = "not read";
  std::thread reader([&] {
    if (std::optional<HookInput> input = readHookInput(fds[0]))
      result = input->bytes();
    done = true;
  });
  for (int i = 0; i < 2000 && !done; ++i) {
    pthread_kill(reader.native_handle(), SIGUSR1);
    usleep(100);
  }
  const std::string payload = R"({"session_id":"s"})";
  ASSERT_EQ(write(fds[1], payload.data(), payload.size()),
            ssize_t(payload.size()));
  close(fds[1]);
  reader.join();
  close(fds[0]);
  sigaction(SIGUSR1, &old, nullptr);
  EXPECT_EQ(result, payload);
}

}  // namespace
}  // namespace vesk
