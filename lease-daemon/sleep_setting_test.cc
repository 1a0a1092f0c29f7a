// Sleep setting access: the parse of the tool's output, and the read and
// write rules against stand-in executables run as real child processes.

#include "sleep_setting.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>

#include "lease_test_support.h"
#include "security_helper.h"

namespace vesk {
namespace {

using testing::FakePmset;
using testing::TempDir;

struct ParseCase {
  const char* name;
  std::string output;
  std::optional<int64_t> expected;
};

const ParseCase kParseCases[] = {
    {"One", "SleepDisabled 1", 1},
    {"ZeroWithTabsAndLeadingSpace", " \tSleepDisabled\t\t0  \n", 0},
    {"RealLayout",
     "System-wide power settings:\n SleepDisabled\t\t1\n"
     "Currently in use:\n standby              1\n",
     1},
    {"Two", "SleepDisabled 2", std::nullopt},
    {"MinusOne", "SleepDisabled -1", std::nullopt},
    {"MinusZero", "SleepDisabled -0", 0},
    {"PlusOne", "SleepDisabled +1", 1},
    {"LeadingZero", "SleepDisabled 01", 1},
    {"NotANumber", "SleepDisabled yes", std::nullopt},
    {"SignsOnly", "SleepDisabled +", std::nullopt},
    {"TwoSigns", "SleepDisabled +-1", std::nullopt},
    {"Decimal", "SleepDisabled 1.0", std::nullopt},
    {"Hex", "SleepDisabled 0x1", std::nullopt},
    {"FullwidthDigit", "SleepDisabled \xEF\xBC\x91", std::nullopt},
    {"OutOfRange", "SleepDisabled 99999999999999999999", std::nullopt},
    {"ThirdToken", "SleepDisabled 1 now", std::nullopt},
    {"NoValue", "SleepDisabled", std::nullopt},
    {"MalformedFirstLineWins", "SleepDisabled\nSleepDisabled 1\n",
     std::nullopt},
    {"FirstOfTwoLinesWins", "SleepDisabled 0\nSleepDisabled 1\n", 0},
    {"NotFirstToken", "x SleepDisabled 1\n", 0},
    {"OtherCase", "sleepdisabled 1\nSLEEPDISABLED 1\n", 0},
    {"LongerName", "SleepDisabledNow 1\n", 0},
    {"Empty", "", 0},
    {"BlankLines", "\n\n \t\n", 0},
    {"CarriageReturnLineEnd", "SleepDisabled 1\r\n", 1},
    {"NoBreakSpace",
     "SleepDisabled\xC2\xA0"
     "1",
     1},
    {"NextLine",
     "SleepDisabled\xC2\x85"
     "1",
     1},
    {"IdeographicAndEnSpace",
     "\xE3\x80\x80SleepDisabled\xE2\x80\x80"
     "1",
     1},
    {"NarrowNoBreakAndMathSpace",
     "SleepDisabled\xE2\x80\xAF\xE2\x81\x9F"
     "0",
     0},
    {"OghamSpaceMark",
     "SleepDisabled\xE1\x9A\x80"
     "1",
     1},
    {"LineSeparatorSplitsTokensNotLines",
     "SleepDisabled\xE2\x80\xA8"
     "1",
     1},
    {"ZeroWidthSpaceIsNotWhiteSpace",
     "SleepDisabled\xE2\x80\x8B"
     "1",
     0},
    {"InvalidByteInValue", "SleepDisabled \xFF", std::nullopt},
    {"InvalidBytesElsewhere", "\xFF\xFE\nSleepDisabled 1", 1},
    {"CutWhiteSpaceSequence", "SleepDisabled 1\xE2\x80", std::nullopt},
    {"Nul", std::string("SleepDisabled\0 1", 16), 0},
};

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, ReadsTheFirstSleepDisabledLine) {
  EXPECT_EQ(SecurityHelper::parseSleepDisabled(GetParam().output),
            GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Output, ParseTest, ::testing::ValuesIn(kParseCases),
                         [](const ::testing::TestParamInfo<ParseCase>& info) {
                           return std::string(info.param.name);
                         });

// ---- reading through a stand-in tool

struct ReadCase {
  const char* name;
  std::string script;  // /bin/sh body of the tool
  std::optional<int64_t> expected;
};

// More output than is kept for parsing.
const std::string kFlood =
    "yes 'Currently in use: standby 1' | head -c 3000000";

const ReadCase kReadCases[] = {
    {"RealLayout",
     "printf 'System-wide power settings:\\n SleepDisabled\\t\\t1\\n'", 1},
    {"NoLine", "printf 'Currently in use:\\n sleep 1\\n'", 0},
    {"NoOutput", "exit 0", 0},
    {"NonZeroExitDespiteAGoodLine", "printf 'SleepDisabled 1\\n'; exit 1",
     std::nullopt},
    {"Exit255", "exit 255", std::nullopt},
    {"KilledBySignal", "printf 'SleepDisabled 0\\n'; kill -9 $$", std::nullopt},
    {"InvalidUtf8", "printf 'SleepDisabled 1\\n\\377\\n'", std::nullopt},
    {"MalformedLine", "printf 'SleepDisabled 1 1\\n'", std::nullopt},
    {"ChattyAfterTheLine", "printf 'SleepDisabled 1\\n'; " + kFlood, 1},
    {"ChattyAndInvalidUtf8PastWhatIsKept",
     "printf 'SleepDisabled 1\\n'; " + kFlood + "; printf '\\377'",
     std::nullopt},
    {"LineOnlyPastWhatIsKept", kFlood + "; printf '\\nSleepDisabled 1\\n'",
     std::nullopt},
    {"ChattyOnStandardError", kFlood + " >&2; printf 'SleepDisabled 1\\n'", 1},
    {"OutputLongAfterTheToolExits",
     "( sleep 0.3; printf 'SleepDisabled 1\\n' ) & exit 0", 1},
};

class ReadTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadTest, FollowsExitStatusAndOutput) {
  TempDir dir;
  std::string tool = dir.file("pmset");
  testing::writeScript(tool, GetParam().script);
  EXPECT_EQ(readSleepDisabledWith(tool), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Tool, ReadTest, ::testing::ValuesIn(kReadCases),
                         [](const ::testing::TestParamInfo<ReadCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(SleepSettingTest, ToolThatCannotRunReadsAbsentAndWritesFail) {
  TempDir dir;
  std::string notExecutable = dir.file("plain");
  testing::writeFile(notExecutable, "#!/bin/sh\nprintf 'SleepDisabled 1\\n'\n");
  for (const std::string& tool :
       {dir.file("missing"), notExecutable, dir.path()}) {
    EXPECT_EQ(readSleepDisabledWith(tool), std::nullopt) << tool;
    EXPECT_FALSE(setSleepDisabledWith(tool, 1)) << tool;
  }
}

// ---- writing

struct WriteCase {
  const char* name;
  std::string before;
  int64_t value;
  bool reject;
  bool ignore;
  bool expected;
  std::vector<std::string> calls;
};

const WriteCase kWriteCases[] = {
    {"OneVerified", "0", 1, false, false, true, {"-a disablesleep 1", "-g"}},
    {"ZeroVerified", "1", 0, false, false, true, {"-a disablesleep 0", "-g"}},
    {"ToolRefusesAndNothingIsVerified",
     "0",
     1,
     true,
     false,
     false,
     {"-a disablesleep 1"}},
    {"ToolAcceptsButTheValueIsNotInPlace",
     "0",
     1,
     false,
     true,
     false,
     {"-a disablesleep 1", "-g"}},
    {"ValueThatCanNeverBeReadBack",
     "0",
     2,
     false,
     false,
     false,
     {"-a disablesleep 2", "-g"}},
    {"NegativeValueInDecimal",
     "0",
     -1,
     false,
     false,
     false,
     {"-a disablesleep -1", "-g"}},
};

class WriteTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(WriteTest, SucceedsOnlyWhenTheValueIsVerified) {
  const WriteCase& c = GetParam();
  TempDir dir;
  FakePmset pmset(dir.path());
  pmset.setSetting(c.before);
  pmset.rejectWrites(c.reject);
  pmset.ignoreWrites(c.ignore);
  EXPECT_EQ(setSleepDisabledWith(pmset.path(), c.value), c.expected);
  EXPECT_EQ(pmset.calls(), c.calls);
}

INSTANTIATE_TEST_SUITE_P(Tool, WriteTest, ::testing::ValuesIn(kWriteCases),
                         [](const ::testing::TestParamInfo<WriteCase>& info) {
                           return std::string(info.param.name);
                         });

std::string linkOf(const std::string& path) {
  char target[4096];
  ssize_t n = readlink(path.c_str(), target, sizeof target);
  return n < 0 ? "" : std::string(target, static_cast<size_t>(n));
}

// What the tool's process sees: standard input inherited, output as the
// operation needs it, standard error discarded, no descriptor of ours, and
// no signal ignored even when the daemon ignores SIGPIPE.
TEST(SleepSettingTest, ToolGetsOnlyItsStandardStreamsAndDefaultSignals) {
  TempDir dir;
  FakePmset pmset(dir.path());
  int leak = open("/dev/null", O_RDONLY);  // not close-on-exec
  ASSERT_GE(leak, 0);
  ASSERT_EQ(dup2(leak, 47), 47);
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction previous;
  sigaction(SIGPIPE, &ignore, &previous);

  bool written = setSleepDisabledWith(pmset.path(), 1);

  sigaction(SIGPIPE, &previous, nullptr);
  close(47);
  close(leak);
  ASSERT_TRUE(written);
  std::vector<std::string> reports = pmset.reports();
  ASSERT_EQ(reports.size(), 2u);
  std::string in = "in=" + linkOf("/proc/self/fd/0") + " ";
  EXPECT_NE(reports[0].find(in), std::string::npos) << reports[0];
  EXPECT_NE(reports[0].find("-a "), std::string::npos);
  EXPECT_NE(reports[0].find("out=/dev/null err=/dev/null"), std::string::npos)
      << reports[0];
  EXPECT_NE(reports[1].find(in), std::string::npos) << reports[1];
  EXPECT_NE(reports[1].find("-g "), std::string::npos);
  EXPECT_NE(reports[1].find("out=pipe:"), std::string::npos) << reports[1];
  EXPECT_NE(reports[1].find("err=/dev/null"), std::string::npos);
  for (const std::string& report : reports) {
    EXPECT_NE(report.find("fd47=no"), std::string::npos) << report;
    size_t mask = report.find("sigign=");
    ASSERT_NE(mask, std::string::npos) << report;
    // Signals 1 to 31. (The C library keeps two real-time signals of its
    // own ignored across posix_spawn; no program uses them.)
    uint64_t ignored = std::stoull(report.substr(mask + 7), nullptr, 16);
    EXPECT_EQ(ignored & 0x7FFFFFFFu, 0u) << report;
  }
}

}  // namespace
}  // namespace vesk
