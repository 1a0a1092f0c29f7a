// The state file on disk: what is written (read back by Python's plistlib
// as an independent reader), what is accepted (written by plistlib), the
// file's permissions and the failure points.

#include "lease_state_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <limits>
#include <string>

#include "lease_test_support.h"

namespace vesk {
namespace {

using testing::TempDir;

constexpr int64_t kValues[] = {0,
                               1,
                               2,
                               -1,
                               255,
                               256,
                               65536,
                               int64_t{1} << 32,
                               std::numeric_limits<int64_t>::max(),
                               std::numeric_limits<int64_t>::min()};

// Runs a Python script with plistlib at hand and the given arguments;
// returns its output, or "python failed".
std::string python(const std::string& script, const std::string& args) {
  std::optional<testing::CommandResult> r = testing::runCommand(
      "python3 -c " + testing::shellQuote("import plistlib,sys\n" + script) +
      " " + args);
  return r && r->status == 0 ? r->output : "python failed";
}

TEST(LeaseStateFileTest, PlistlibReadsEveryWrittenFileAsOneIntegerEntry) {
  if (!testing::havePython()) GTEST_SKIP() << "python3 with plistlib needed";
  TempDir dir;
  std::string paths;
  std::string expected;
  for (int64_t v : kValues) {
    std::string name = "state";
    name += std::to_string(v);
    std::string path = dir.file(name);
    ASSERT_TRUE(saveLeaseState(path, v));
    EXPECT_EQ(loadLeaseState(path), v);
    paths += ' ';
    paths += testing::shellQuote(path);
    expected +=
        "bplist00 [('SleepDisabled', 'int', " + std::to_string(v) + ")]\n";
  }
  // What an independent reader makes of each file: its format (from the
  // header, and by insisting on the binary form) and its entries.
  EXPECT_EQ(python("for p in sys.argv[1:]:\n"
                   "  data=open(p,'rb').read()\n"
                   "  d=plistlib.loads(data,fmt=plistlib.FMT_BINARY)\n"
                   "  print(data[:8].decode(),"
                   " sorted((k,type(v).__name__,v) for k,v in d.items()))\n",
                   paths),
            expected);
}

TEST(LeaseStateFileTest, ReadsWhatPlistlibWritesInBothFormats) {
  if (!testing::havePython()) GTEST_SKIP() << "python3 with plistlib needed";
  TempDir dir;
  std::string args = testing::shellQuote(dir.path());
  for (int64_t v : kValues) {
    args += ' ';
    args += std::to_string(v);
  }
  ASSERT_EQ(python("for v in sys.argv[2:]:\n"
                   "  for f in ('FMT_BINARY','FMT_XML'):\n"
                   "    open(sys.argv[1]+'/'+f+v,'wb').write(plistlib.dumps("
                   "{'SleepDisabled':int(v),'Other':3},"
                   "fmt=getattr(plistlib,f)))\n",
                   args),
            "");
  for (const char* format : {"FMT_BINARY", "FMT_XML"}) {
    for (int64_t v : kValues) {
      std::string name = format;
      name += std::to_string(v);
      EXPECT_EQ(loadLeaseState(dir.file(name)), v) << format;
    }
  }
}

TEST(LeaseStateFileTest, WrittenFileHasModeSixHundredAndNoLeftovers) {
  TempDir dir;
  std::string path = dir.file("state.plist");
  // An earlier file with wider permissions is replaced, not reused.
  testing::writeFile(path, "old");
  chmod(path.c_str(), 0644);
  ASSERT_TRUE(saveLeaseState(path, 0));
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  std::optional<std::string> bytes = testing::readFile(path);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->rfind("bplist00", 0), 0u);
  std::optional<testing::CommandResult> listing =
      testing::runCommand("ls -A " + testing::shellQuote(dir.path()));
  ASSERT_TRUE(listing);
  EXPECT_EQ(listing->output, "state.plist\n");
}

TEST(LeaseStateFileTest, FailurePointsLeaveTheFileAsTheyShould) {
  TempDir dir;
  std::string path = dir.file("state.plist");
  ASSERT_TRUE(saveLeaseState(path, 1));

  auto failAt = [](StateFileStep failing) {
    return [failing](StateFileStep step) { return step == failing; };
  };
  // A failed write leaves the earlier file as it was.
  EXPECT_FALSE(saveLeaseState(path, 0, failAt(StateFileStep::kWrite)));
  EXPECT_EQ(loadLeaseState(path), 1);
  // A failed permission step leaves the new file in place.
  EXPECT_FALSE(saveLeaseState(path, 0, failAt(StateFileStep::kSetPermissions)));
  EXPECT_EQ(loadLeaseState(path), 0);
  EXPECT_FALSE(removeLeaseState(path, failAt(StateFileStep::kRemove)));
  EXPECT_TRUE(testing::fileExists(path));

  EXPECT_TRUE(removeLeaseState(path));
  EXPECT_FALSE(testing::fileExists(path));
  // A missing file cannot be removed.
  EXPECT_FALSE(removeLeaseState(path));
  // Nor written into a directory that does not exist.
  EXPECT_FALSE(saveLeaseState(dir.file("missing/state.plist"), 0));
}

TEST(LeaseStateFileTest, RefusesWhatIsNotASmallRegularFile) {
  TempDir dir;
  std::string fifo = dir.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // A FIFO would block a reader forever; it is refused at once.
  EXPECT_FALSE(loadLeaseState(fifo).has_value());
  EXPECT_FALSE(loadLeaseState(dir.path()).has_value());

  std::string big = dir.file("big");
  std::string bytes = *encodeLeaseState(0);
  bytes.resize(65 * 1024, '\0');
  testing::writeFile(big, bytes);
  EXPECT_FALSE(loadLeaseState(big).has_value());
}

TEST(LeaseStateFileTest, DecodeIsSafeOnArbitraryBytes) {
  std::string valid = *encodeLeaseState(1);
  // Every truncation and every single-byte change of a valid file.
  for (size_t n = 0; n < valid.size(); ++n) {
    decodeLeaseState(valid.substr(0, n));
    for (int delta : {1, 0x7F, 0xFF}) {
      std::string changed = valid;
      changed[n] = static_cast<char>(changed[n] + delta);
      decodeLeaseState(changed);
    }
  }
  EXPECT_EQ(decodeLeaseState(valid), 1);
}

}  // namespace
}  // namespace vesk
