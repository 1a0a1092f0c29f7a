// A daemon killed while it holds the setting: the next controller on the
// same state file puts the setting back before create() returns.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>

#include "lease_state_file.h"
#include "lease_test_support.h"
#include "security_helper.h"
#include "sleep_setting.h"

namespace vesk {
namespace {

TEST(LeaseCrashTest, KilledHolderIsUndoneByTheNextStart) {
  testing::TempDir dir;
  testing::FakePmset pmset(dir.path());
  std::string state = dir.file("state.plist");
  std::string tool = pmset.path();

  // The child prints its pid once it holds the lease.
  FILE* child =
      popen(("exec " LEASE_TEST_CHILD " " + testing::shellQuote(state) + " " +
             testing::shellQuote(tool))
                .c_str(),
            "re");
  ASSERT_NE(child, nullptr);
  int pid = 0;
  ASSERT_EQ(fscanf(child, "held %d", &pid), 1);
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  int status = pclose(child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  ASSERT_EQ(pmset.setting(), "1");
  ASSERT_EQ(loadLeaseState(state), 0);

  std::shared_ptr<SecurityHelper> next = SecurityHelper::create(
      state, [tool] { return readSleepDisabledWith(tool); },
      [tool](int64_t v) { return setSleepDisabledWith(tool, v); });
  EXPECT_EQ(pmset.setting(), "0");
  EXPECT_FALSE(testing::fileExists(state));
  EXPECT_EQ(pmset.calls().back(), "-g");
}

}  // namespace
}  // namespace vesk
