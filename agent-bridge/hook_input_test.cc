#include "hook_input.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace vesk {
namespace {

// Input in a file shares its offset with the reader, which shows how much
// was consumed.
struct InputFile {
  explicit InputFile(const std::string& bytes) : file(tmpfile()) {
    fwrite(bytes.data(), 1, bytes.size(), file);
    fflush(file);
    rewind(file);
  }
  ~InputFile() { fclose(file); }
  int fd() const { return fileno(file); }
  off_t consumed() const { return lseek(fd(), 0, SEEK_CUR); }
  FILE* file;
};

TEST(ReadHookInput, AcceptsUpToTheLimitAndNoMore) {
  const std::size_t limit = kHookInputLimitBytes;
  const struct {
    std::size_t size;
    bool accepted;
    off_t consumed;
  } cases[] = {
      {0, true, 0},
      {1, true, 1},
      {kHookInputPieceBytes + 1, true, kHookInputPieceBytes + 1},
      {limit, true, limit},
      {limit + 1, false, limit + 1},
      {2 * limit, false, limit + 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    InputFile input(std::string(c.size, 'x'));
    std::optional<HookInput> bytes = readHookInput(input.fd());
    ASSERT_EQ(bytes.has_value(), c.accepted);
    if (bytes) {
      EXPECT_EQ(bytes->bytes(), std::string(c.size, 'x'));
    }
    EXPECT_EQ(input.consumed(), c.consumed);
  }
}

TEST(ReadHookInput, StopsAtAFailedReadWithWhatCameBefore) {
  std::optional<HookInput> input = readHookInput(-1);
  ASSERT_TRUE(input);
  EXPECT_EQ(input->size, 0u);
}

TEST(ReadHookInput, RetriesInterruptedReads) {
  struct sigaction action {};
  action.sa_handler = [](int) {};  // No SA_RESTART: read fails with EINTR.
  struct sigaction old {};
  sigaction(SIGUSR1, &action, &old);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);

  std::atomic<bool> done = false;
  std::string result;
  std::thread reader([&] {
    std::optional<HookInput> input = readHookInput(fds[0]);
    if (input) result = input->bytes();
    done = true;
  });
  // Interrupt the blocked reader many times before any byte arrives.
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
