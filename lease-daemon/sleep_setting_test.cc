// Sleep setting access: the parse of the tool's output, and the read and
// write rules against stand-in tools run as real child processes.

#include "sleep_setting.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "lease_harness.h"

namespace vesk {
namespace {

using testing::PmsetStandIn;
using testing::TempDir;

constexpr auto kNo = std::nullopt;

TEST(SleepSettingTest, ParseReadsTheFirstSleepDisabledLine) {
  const std::pair<std::string, std::optional<int64_t>> cases[] = {
      {"System-wide power settings:\n SleepDisabled\t\t1\n sleep 0\n", 1},
      {" \tSleepDisabled\t\t0  \n", 0},
      {"SleepDisabled 2", kNo},
      {"SleepDisabled -1", kNo},
      {"SleepDisabled 0x1", kNo},
      {"SleepDisabled +1", 1},
      {"SleepDisabled 01", 1},
      {"SleepDisabled -0", 0},
      {"SleepDisabled +-0", kNo},
      {"SleepDisabled 1 now", kNo},
      {"SleepDisabled", kNo},
      {"SleepDisabled\nSleepDisabled 1\n", kNo},
      {"SleepDisabled 0\nSleepDisabled 1\n", 0},
      {"sleepdisabled 1\nSleepDisabledNow 1\nx SleepDisabled 1\n", 0},
      {"", 0},
      {"SleepDisabled\xC2\xA0\xE2\x80\xA8 1\r\n", 1},  // Unicode white space
      {"SleepDisabled\u200B1", 0},  // a zero-width space is not white space
      {"SleepDisabled \xFF", kNo},
      {"SleepDisabled 1\xE2\x80", kNo},
      {"SleepDisabled\t1\t\xC3\nSleepDisabled 1\n", kNo},
      {"caf\xC3\n\xFF SleepDisabled 0\nSleepDisabled 1\n", 1},
  };
  for (const auto& [output, expected] : cases) {
    EXPECT_EQ(parseSleepDisabled(output), expected) << output;
  }
}

TEST(SleepSettingTest, ReadFollowsExitStatusAndDrainsAllOutput) {
  // More output than is kept for parsing.
  const std::string flood =
      "yes 'Currently in use: standby 1' | head -c 3000000";
  const std::pair<std::string, std::optional<int64_t>> cases[] = {
      {"printf ' SleepDisabled\\t\\t1\\n'", 1},
      {"exit 0", 0},
      {"printf 'SleepDisabled 1\\n'; exit 1", kNo},
      {"printf 'SleepDisabled 0\\n'; kill -9 $$", kNo},
      // Only the line read must be UTF-8: the tool cuts a long list of
      // process names byte-wise, through a character.
      {"printf ' sleep 0 (sleep prevented by caf\\303\\n SleepDisabled 1\\n'",
       1},
      {"printf 'SleepDisabled 1\\n\\377\\n'", 1},
      {"printf 'SleepDisabled 1 \\303\\n'", kNo},
      {"printf 'SleepDisabled 1\\n'; " + flood, 1},
      {"printf 'SleepDisabled 1\\n'; " + flood + "; printf '\\377'", 1},
      {flood + "; printf '\\nSleepDisabled 1\\n'", kNo},
      {flood + " >&2; printf 'SleepDisabled 1\\n'", 1},
      // The tool exits while something it started still holds the output.
      {"( sleep 0.3; printf 'SleepDisabled 1\\n' ) & exit 0", 1},
  };
  TempDir dir;
  for (const auto& [script, expected] : cases) {
    testing::writeScript(dir.file("pmset"), script);
    EXPECT_EQ(readSleepDisabledWith(dir.file("pmset")), expected) << script;
  }
  EXPECT_EQ(readSleepDisabledWith(dir.file("missing")), kNo);
  EXPECT_FALSE(setSleepDisabledWith(dir.file("missing"), 1));
}

// A write succeeds only when the tool accepts it and reads it back.
TEST(SleepSettingTest, WriteIsVerifiedAndLeaksNoDescriptor) {
  struct {
    const char* flag;
    bool expected;
    std::vector<std::string> calls;
  } const cases[] = {
      {"", true, {"-a disablesleep 1", "-g"}},
      {"fail-write", false, {"-a disablesleep 1"}},
      {"ignore-write", false, {"-a disablesleep 1", "-g"}},
  };
  int leak = open("/dev/null", O_RDONLY);  // not close-on-exec
  ASSERT_EQ(dup2(leak, 47), 47);
  for (const auto& c : cases) {
    TempDir dir;
    PmsetStandIn pmset(dir.path());
    if (*c.flag) pmset.setFlag(c.flag);
    EXPECT_EQ(setSleepDisabledWith(pmset.path(), 1), c.expected) << c.flag;
    EXPECT_EQ(pmset.runs(), c.calls);
    EXPECT_FALSE(pmset.sawDescriptor(47));
  }
  close(47);
  close(leak);
}

}  // namespace
}  // namespace vesk
