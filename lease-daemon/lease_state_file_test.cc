// The state file against Python's plistlib as an independent reader and
// writer, and start-up recovery of the files it writes.

#include "lease_state_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "lease_harness.h"

namespace vesk {
namespace {

using testing::shellQuote;

// Runs `script` with plistlib imported and `args` in sys.argv; its output.
std::optional<std::string> python(const std::string& script,
                                  const std::string& args) {
  return testing::runCommand("python3 -c " +
                             shellQuote("import plistlib,sys\n" + script) +
                             " " + args);
}

bool havePython() { return python("", "").has_value(); }

TEST(LeaseStateFileTest, PlistlibReadsTheWrittenFileAsOneIntegerEntry) {
  if (!havePython()) GTEST_SKIP() << "python3 with plistlib needed";
  testing::TempDir dir;
  for (int64_t v : {0, 1}) {
    std::string path = dir.file("state");
    ASSERT_TRUE(saveLeaseState(path, v));
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(python("d=open(sys.argv[1],'rb').read()\n"
                     "print(d[:8].decode(), plistlib.loads(d,"
                     "fmt=plistlib.FMT_BINARY))",
                     shellQuote(path)),
              "bplist00 {'SleepDisabled': " + std::to_string(v) + "}\n");
  }
}

// Each file is made by a Python expression; start-up recovery writes back
// the value of a valid one and removes it, and leaves any other alone.
TEST(LeaseStateFileTest, RecoveryTakesOnlyValidFilesThatPlistlibWrites) {
  if (!havePython()) GTEST_SKIP() << "python3 with plistlib needed";
  const std::pair<const char*, std::vector<int64_t>> cases[] = {
      {"plistlib.dumps({'SleepDisabled':0},fmt=plistlib.FMT_BINARY)", {0}},
      {"plistlib.dumps({'SleepDisabled':1,'Other':3},fmt=plistlib.FMT_XML)",
       {1}},
      {"plistlib.dumps({'SleepDisabled':2},fmt=plistlib.FMT_BINARY)", {}},
      {"plistlib.dumps({'SleepDisabled':-1},fmt=plistlib.FMT_XML)", {}},
      {"plistlib.dumps({'SleepDisabled':0,'Other':'x'})", {}},
      {"plistlib.dumps({'SleepDisabled':True})", {}},
      // A key with a NUL inside must not bring the daemon down.
      {"plistlib.dumps({'SleepDisabled':0,'\\0\\u00e9':1},"
       "fmt=plistlib.FMT_BINARY)",
       {0}},
      {"b'SleepDisabled = 0'", {}},
  };
  for (const auto& [bytes, writes] : cases) {
    SCOPED_TRACE(bytes);
    testing::LeaseHarness h;
    h.system->setting = 1;
    ASSERT_TRUE(
        python("open(sys.argv[1],'wb').write(" + std::string(bytes) + ")",
               shellQuote(h.statePath)));
    h.start();  // recovery is done when this returns
    EXPECT_EQ(h.system->writes, writes);
    EXPECT_EQ(h.fileExists(), writes.empty());
    EXPECT_EQ(h.snapshot().original, std::nullopt);
  }
}

// A FIFO would block the daemon's start for good.
TEST(LeaseStateFileTest, RefusesWhatIsNotARegularFile) {
  testing::TempDir dir;
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  EXPECT_EQ(loadLeaseState(dir.file("fifo")), std::nullopt);
  EXPECT_EQ(loadLeaseState(dir.path()), std::nullopt);
}

}  // namespace
}  // namespace vesk
