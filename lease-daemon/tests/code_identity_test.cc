// Code identity on Linux for processes that are gone. Marked and unmarked
// live clients are covered end to end by root_test.py.

#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "code_signing.h"
#include "pidfd-linux.h"

namespace vesk {
namespace {

TEST(CodeIdentityTest, ZombieAndReapedProcessesAreRefused) {
  const CodeRequirement requirement{"com.vesk.Vesk", "ABCDE12345"};
  pid_t pid = fork();
  if (pid == 0) _exit(0);
  int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  ASSERT_GE(pidfd, 0);
  // A zombie still has its id and its /proc directory, but counts as gone.
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (processIsAlive(pidfd) && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_FALSE(processIsAlive(pidfd));
  EXPECT_FALSE(validateProcess(pidfd, pid, requirement));
  waitpid(pid, nullptr, 0);
  EXPECT_FALSE(validateProcess(pidfd, pid, requirement));
  close(pidfd);
}

}  // namespace
}  // namespace vesk
