// A daemon killed while it holds the setting: the next controller on the
// same state file puts the setting back before its constructor returns.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "lease_state_file.h"
#include "lease_test_support.h"
#include "security_helper.h"
#include "sleep_setting.h"

extern char** environ;

namespace vesk {
namespace {

using testing::FakePmset;
using testing::TempDir;

// Starts the child and returns its pid once it has printed its first line
// (or closed its output); `line` receives what it printed.
pid_t startChild(const std::vector<std::string>& args, std::string& line) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  std::vector<char*> argv;
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    return -1;
  }
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') line += c;
  close(fds[0]);
  return pid;
}

TEST(LeaseCrashTest, KilledHolderIsUndoneByTheNextStart) {
  TempDir dir;
  FakePmset pmset(dir.path());
  std::string state = dir.file("state.plist");
  pmset.setSetting("0");

  std::string line;
  pid_t child = startChild({LEASE_TEST_CHILD, state, pmset.path()}, line);
  ASSERT_GT(child, 0);
  EXPECT_EQ(line, "held");
  ASSERT_EQ(kill(child, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  ASSERT_EQ(pmset.setting(), "1");
  ASSERT_EQ(loadLeaseState(state), 0);

  std::string tool = pmset.path();
  std::shared_ptr<SecurityHelper> next = SecurityHelper::create(
      state, [tool] { return readSleepDisabledWith(tool); },
      [tool](int64_t v) { return setSleepDisabledWith(tool, v); });

  // Already done when the constructor has returned.
  EXPECT_EQ(pmset.setting(), "0");
  EXPECT_FALSE(testing::fileExists(state));
  std::vector<std::string> calls = pmset.calls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[calls.size() - 2], "-a disablesleep 0");
  EXPECT_EQ(calls.back(), "-g");
}

}  // namespace
}  // namespace vesk
