// The built hook, run as an agent runs it with a private HOME: alone, and
// many at once while a reader keeps parsing the status file.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <filesystem>
#include <fstream>
#include <thread>

#include "session_key.h"
#include "status_file.h"
#include "testing/hook_runner.h"
#include "testing/temp_dir.h"

namespace vesk {
namespace {
namespace fs = std::filesystem;
namespace json = boost::json;
using testing::HookAccount;
using testing::startHook;

constexpr std::size_t kLimit = 1048576;
const std::string kEvent = R"({"session_id":"s1"})";
using Args = std::vector<std::string>;
const Args kWorking = {"Claude Code", "working"};

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

unsigned modeOf(const fs::path& path) {
  return unsigned(fs::symlink_status(path).permissions());
}

class HookEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { account_.home = home_.string(); }

  // Runs the hook on `input`, expects a silent exit 0 and returns how many
  // bytes of its input it read.
  off_t run(const std::string& input, Args args = kWorking,
            rlim_t fileSizeLimit = RLIM_INFINITY) {
    FILE* in = tmpfile();
    FILE* out = tmpfile();
    fwrite(input.data(), 1, input.size(), in);
    fflush(in);
    rewind(in);
    int status = -1;
    waitpid(startHook(account_, args, fileno(in), fileno(out), fileSizeLimit),
            &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(lseek(fileno(out), 0, SEEK_CUR), 0) << "the hook printed";
    const off_t consumed = lseek(fileno(in), 0, SEEK_CUR);
    fclose(in);
    fclose(out);
    return consumed;
  }
  json::object record() { return json::parse(readFile(file_)).as_object(); }
  void plant(const std::string& content, unsigned dirMode, unsigned fileMode) {
    fs::create_directories(dir_);
    std::ofstream(file_) << content;
    fs::permissions(dir_, fs::perms(dirMode));
    fs::permissions(file_, fs::perms(fileMode));
  }

  testing::TempDir temp_;
  const fs::path home_ = temp_.path();
  const fs::path dir_ = home_ / "Library/Application Support/Vesk/agents";
  const fs::path file_ = dir_ / (sessionKey("Claude Code", "s1") + ".json");
  HookAccount account_;
};

// Arguments and input decide whether a record is written at all; a record
// carries the state and the wall-clock time of the run.
TEST_F(HookEndToEnd, WritesARecordOnlyForValidArgumentsAndInput) {
  struct Case {
    Args args;
    std::string input;
    const char* state;    // the record's "state", or nullptr: nothing written
    off_t consumed = -1;  // bytes of input read, or -1: not checked
  } cases[] = {
      {{}, kEvent, nullptr, 0},
      {{"Claude Code"}, kEvent, nullptr, 0},
      {{"Claude Code", "working", "extra"}, kEvent, nullptr, 0},
      {{"claude code", "working"}, kEvent, nullptr, 0},
      {{"Cursor", "working "}, kEvent, nullptr, 0},
      {kWorking,
       R"({"session_id":"s1","hook_event_name":"PreToolUse",)"
       R"("tool_name":"AskUserQuestion","cwd":"/work/proj/"})",
       "needsAttention"},
      {kWorking, kEvent + std::string(kLimit - kEvent.size(), ' '), "working"},
      {kWorking, kEvent + std::string(kLimit + 1 - kEvent.size(), ' '), nullptr,
       off_t(kLimit + 1)},
      {kWorking, kEvent + std::string(2 * kLimit, ' '), nullptr,
       off_t(kLimit + 1)},
      {kWorking, std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), nullptr},
      {kWorking, std::string(kLimit / 2, '[') + std::string(kLimit / 2, ']'),
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.args.size() << " arguments, " << c.input.substr(0, 60));
    fs::remove_all(home_ / "Library");
    const time_t before = time(nullptr);
    const off_t consumed = run(c.input, c.args);
    const time_t after = time(nullptr);
    if (c.consumed >= 0) {
      EXPECT_EQ(consumed, c.consumed);
    }
    ASSERT_EQ(fs::exists(home_ / "Library"), c.state != nullptr);
    if (!c.state) continue;
    const json::object r = record();
    EXPECT_EQ(r.at("state"), c.state);
    // Seconds since 1970: readers compare it with their own clock.
    const double timestamp = r.at("timestamp").as_double();
    EXPECT_GE(timestamp, double(before));
    EXPECT_LE(timestamp, double(after + 1));
  }
}

// The agent's file-creation mask may be anything: under the most
// restrictive one a mode left to it shows.
TEST_F(HookEndToEnd, WritesPrivatelyAndReplacesAPlantedLink) {
  account_.umask = 0277;
  run(kEvent);
  for (fs::path p = dir_; p != home_; p = p.parent_path()) {
    EXPECT_EQ(modeOf(p), 0700u) << p;
  }
  EXPECT_EQ(modeOf(file_), 0600u);

  fs::remove(file_);
  std::ofstream(home_ / "target") << "keep";
  fs::create_symlink(home_ / "target", file_);
  run(kEvent);
  EXPECT_FALSE(fs::is_symlink(file_));
  EXPECT_EQ(readFile(home_ / "target"), "keep");
}

TEST_F(HookEndToEnd, WithoutAnAbsoluteHomeWritesToThePasswordFilesHome) {
  if (geteuid() != 0) GTEST_SKIP() << "runs the hook as other users";
  if (!testing::kCanRunAsOtherUsers) GTEST_SKIP() << "needs a mount namespace";
  uid_t known = 54320, unknown = known + 1;
  while (getpwuid(known) || getpwuid(unknown)) known += 2, unknown += 2;
  const std::string passwd = (home_ / "passwd").string();
  std::ofstream(passwd) << readFile("/etc/passwd") << "vesk-e2e:x:" << known
                        << ':' << known << "::" << home_.string()
                        << ":/bin/false\n";
  ASSERT_EQ(chown(home_.c_str(), known, known), 0);
  for (uid_t uid : {known, unknown}) {
    for (std::optional<std::string> home :
         {std::optional<std::string>(), std::optional<std::string>(""),
          std::optional<std::string>("relative")}) {
      SCOPED_TRACE(::testing::Message()
                   << uid << " HOME=" << home.value_or("-"));
      fs::remove_all(home_ / "Library");
      account_ = {home, uid, passwd};
      run(kEvent);
      EXPECT_EQ(fs::exists(file_), uid == known);
    }
  }
}

TEST_F(HookEndToEnd, DroppedEventOnlyFixesTheDirectory) {
  plant("not even json", 0755, 0644);
  run(R"({"session_id":"s1","hook_event_name":"Notification",)"
      R"("notification_type":"idle_prompt"})",
      {"Claude Code", "needsAttention"});
  EXPECT_EQ(modeOf(dir_), 0700u);
  EXPECT_EQ(modeOf(file_), 0644u);
  EXPECT_EQ(readFile(file_), "not even json");
}

TEST_F(HookEndToEnd, CarriesStartedAtFromAPreviousRecordUpToTheBound) {
  const std::string yesterday = R"({"startedAt":"yesterday"})";
  const std::string pad(kLargestPreviousRecord - yesterday.size(), ' ');
  struct Case {
    std::string content;
    off_t size;           // the file is extended (sparsely) to this size, or 0
    const char* carried;  // the "startedAt" kept, or none: a fresh time
  } cases[] = {
      {yesterday + pad, 0, R"("yesterday")"},
      {yesterday + pad + ' ', 0, nullptr},
      {yesterday, off_t{64} << 30, nullptr},
  };
  for (const Case& c : cases) {
    plant(c.content, 0700, 0644);
    if (c.size) fs::resize_file(file_, c.size);
    run(R"({"session_id":"s1","hook_event_name":"PostToolUse"})");
    ASSERT_TRUE(fs::exists(file_) && fs::file_size(file_) < 4096) << c.size;
    const json::value startedAt = record().at("startedAt");
    if (c.carried) {
      EXPECT_EQ(startedAt, json::parse(c.carried)) << c.carried;
    } else {
      EXPECT_TRUE(startedAt.is_double()) << c.content.size() << "/" << c.size;
    }
    EXPECT_EQ(modeOf(file_), 0600u);
  }
}

// The largest record the hook writes: an event of exactly the input limit
// whose folder is nearly all of it, in characters written escaped. The next
// event still reads it back.
TEST_F(HookEndToEnd, ReadsBackTheLargestRecordItWrites) {
  const std::string head =
      R"({"session_id":"s1","hook_event_name":"PostToolUse","cwd":"/)";
  const std::string tail = "\"}";
  std::string name;
  while (name.size() + 8 <= kLimit - head.size() - tail.size()) {
    name += "\\u0001\\\"";
  }
  name.append(kLimit - head.size() - tail.size() - name.size(), 'x');
  run(head + name + tail);
  ASSERT_GT(fs::file_size(file_), kLimit);
  const json::value first = record().at("startedAt");
  run(R"({"session_id":"s1","hook_event_name":"Stop"})");
  EXPECT_EQ(record().at("startedAt"), first);
}

TEST_F(HookEndToEnd, FailedWriteKeepsTheEarlierFileWhole) {
  // The carried "startedAt" makes the new record larger than the file-size
  // limit lets the hook write.
  const std::string big = R"({"startedAt":")" + std::string(99999, 'x') + "\"}";
  plant(big, 0700, 0644);
  run(kEvent, {"Claude Code", "working"}, 4096);
  EXPECT_EQ(readFile(file_), big);
  EXPECT_EQ(modeOf(file_), 0600u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1);
}

TEST_F(HookEndToEnd, SurvivesAStatusDirectoryThatCannotBeCreated) {
  std::ofstream(home_ / "Library") << "a file";
  run(kEvent);
  EXPECT_EQ(readFile(home_ / "Library"), "a file");
}

TEST_F(HookEndToEnd, ConcurrentRunsOnlyEverLeaveWholeRecords) {
  const fs::path file = dir_ / (sessionKey("Cursor", "shared") + ".json");
  // A large carried "startedAt" makes every record large: a torn file shows.
  const std::string startedAt(300000, 's');
  fs::create_directories(dir_);
  std::ofstream(file) << R"({"activity":"","startedAt":")" << startedAt
                      << "\"}";
  const fs::path input = home_ / "event.json";
  std::ofstream(input) << R"({"conversation_id":"shared","tool_output":")"
                       << std::string(900000, 'o') << "\"}";

  std::atomic<bool> writersDone = false;
  std::atomic<int> goodReads = 0, badReads = 0;
  std::thread reader([&] {
    while (!writersDone || goodReads == 0) {
      json::error_code ec;
      json::value v = json::parse(readFile(file), ec);
      const json::object* o = ec ? nullptr : v.if_object();
      const bool whole = o && o->contains("activity") &&
                         o->at("startedAt") == startedAt.c_str();
      ++(whole ? goodReads : badReads);
    }
  });
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  std::vector<std::pair<pid_t, int>> runs;
  for (int i = 0; i < 64; ++i) {
    const int fd = open(input.c_str(), O_RDONLY | O_CLOEXEC);
    runs.emplace_back(startHook(account_, {"Cursor", "working"}, fd, null), fd);
  }
  for (auto [pid, fd] : runs) {
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    close(fd);
  }
  close(null);
  writersDone = true;
  reader.join();
  EXPECT_EQ(badReads, 0);
  // Only the status file: no temporary file left.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1);
}

}  // namespace
}  // namespace vesk
