// The built hook, run as an agent runs it, with a private HOME.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <filesystem>
#include <fstream>

#include "hook_process.h"
#include "session_key.h"

namespace vesk {
namespace {
namespace fs = std::filesystem;
namespace json = boost::json;

constexpr std::size_t kLimit = 1048576;
const std::string kEvent = R"({"session_id":"s1"})";

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

mode_t modeOf(const fs::path& path) {
  struct stat info {};
  lstat(path.c_str(), &info);
  return info.st_mode & 07777;
}

class HookEndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/hook_e2e.XXXXXX";
    home_ = mkdtemp(pattern);
    dir_ = home_ / "Library/Application Support/Vesk/agents";
    file_ = dir_ / (sessionKey("Claude Code", "s1") + ".json");
  }
  void TearDown() override { fs::remove_all(home_); }

  off_t run(const std::string& input,
            std::vector<std::string> args = {"Claude Code", "working"}) {
    test::HookRun result = test::runHook({home_, std::move(args), input});
    EXPECT_TRUE(result.exitedCleanly())
        << "status " << result.status << " output " << result.output;
    return result.consumed;
  }
  json::object record() { return json::parse(readFile(file_)).as_object(); }
  // "startedAt" read from the clock, just after "timestamp".
  bool startedAfresh() {
    const json::object r = record();
    return r.at("startedAt").is_double() &&
           r.at("startedAt").as_double() >= r.at("timestamp").as_double();
  }
  void plant(const std::string& content, mode_t dirMode, mode_t fileMode) {
    fs::create_directories(dir_);
    std::ofstream(file_) << content;
    chmod(dir_.c_str(), dirMode);
    chmod(file_.c_str(), fileMode);
  }

  fs::path home_, dir_, file_;
};

TEST_F(HookEndToEnd, BadArgumentsEndTheRunBeforeReadingInput) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {},
           {"Claude Code"},
           {"Claude Code", "working", "extra"},
           {"claude code", "working"},
           {"Cursor", "working "}}) {
    EXPECT_EQ(run(kEvent, args), 0) << args.size();
  }
  EXPECT_FALSE(fs::exists(home_ / "Library"));
}

TEST_F(HookEndToEnd, WritesTheRecordAndForcesPrivateModes) {
  run(R"({"session_id":"s1","hook_event_name":"PreToolUse",)"
      R"("tool_name":"AskUserQuestion","cwd":"/work/proj/"})");
  json::object r = record();
  EXPECT_EQ(r.size(), 7u);
  EXPECT_EQ(r.at("agent"), "Claude Code");
  EXPECT_EQ(r.at("session"), file_.stem().c_str());
  EXPECT_EQ(r.at("state"), "needsAttention");
  EXPECT_EQ(r.at("activity"), "Needs attention");
  EXPECT_EQ(r.at("project"), "proj");
  EXPECT_TRUE(r.at("timestamp").is_double() && r.at("startedAt").is_double());
  for (fs::path p = dir_; p != home_; p = p.parent_path()) {
    EXPECT_EQ(modeOf(p), 0700u) << p;
  }
  EXPECT_EQ(modeOf(file_), 0600u);

  chmod(dir_.c_str(), 0755);
  chmod(file_.c_str(), 0644);
  run(kEvent);
  EXPECT_EQ(modeOf(dir_), 0700u);
  EXPECT_EQ(modeOf(file_), 0600u);
  EXPECT_EQ(record().size(), 6u);

  // A link planted at the file's path is replaced, its target untouched.
  fs::remove(file_);
  std::ofstream(home_ / "target") << "keep";
  fs::create_symlink(home_ / "target", file_);
  run(kEvent);
  EXPECT_FALSE(fs::is_symlink(file_));
  EXPECT_EQ(readFile(home_ / "target"), "keep");
}

TEST_F(HookEndToEnd, AcceptsExactlyOneMebibyte) {
  run(kEvent + std::string(kLimit - kEvent.size(), ' '));
  EXPECT_TRUE(fs::exists(file_));
  fs::remove_all(home_ / "Library");
  EXPECT_EQ(run(kEvent + std::string(kLimit + 1 - kEvent.size(), ' ')),
            off_t(kLimit + 1));
  EXPECT_EQ(run(kEvent + std::string(2 * kLimit, ' ')), off_t(kLimit + 1));
  EXPECT_FALSE(fs::exists(home_ / "Library"));
}

TEST_F(HookEndToEnd, DroppedEventStillPreparesTheDirectoryOnly) {
  plant("not even json", 0755, 0644);
  run(R"({"session_id":"s1","hook_event_name":"Notification",)"
      R"("notification_type":"idle_prompt"})",
      {"Claude Code", "needsAttention"});
  EXPECT_EQ(modeOf(dir_), 0700u);
  EXPECT_EQ(modeOf(file_), 0644u);
  EXPECT_EQ(readFile(file_), "not even json");
}

TEST_F(HookEndToEnd, NeverFailsVisiblyOnHostileInput) {
  const std::string unusable[] = {
      "",
      std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16),
      "{\"session_id\":\"\xc3\x28\"}",
      std::string(kLimit, '['),
      std::string(kLimit / 2, '[') + std::string(kLimit / 2, ']'),
      kEvent + '\0',
  };
  for (const std::string& input : unusable) run(input);
  EXPECT_FALSE(fs::exists(home_ / "Library"));
  for (const std::string& input :
       {R"({"session_id":"s1","n":)" + std::string(300000, '9') + "}",
        std::string(R"({"session_id":"s1","n":1e999,"m":-1e-999})"),
        std::string(R"({"session_id":"s1\u0000","x":"\u0000"})")}) {
    run(input);
  }
  EXPECT_TRUE(fs::exists(file_));
}

TEST_F(HookEndToEnd, CarriesStartedAtWhateverItsType) {
  for (const char* value : {R"("yesterday")", "null", R"([1,{"a":true}])",
                            "1733500000.123456", "12"}) {
    SCOPED_TRACE(value);
    plant(std::string(R"({"startedAt":)") + value + R"(,"extra":1})", 0700,
          0600);
    run(R"({"session_id":"s1","hook_event_name":"PostToolUse"})");
    EXPECT_EQ(record().at("startedAt"), json::parse(value));
    EXPECT_FALSE(record().contains("extra"));
    run(R"({"session_id":"s1","hook_event_name":"UserPromptSubmit"})");
    EXPECT_TRUE(startedAfresh());
  }
  // An unusable previous file counts as none.
  for (const char* content : {"", R"({"startedAt":1)", R"([1])", "x"}) {
    plant(content, 0700, 0600);
    run(kEvent);
    EXPECT_TRUE(startedAfresh()) << content;
  }
}

TEST_F(HookEndToEnd, KeepsTheEarlierFileWhenNothingCanBeWritten) {
  const std::string infinite = R"({"startedAt":1e400})";
  plant(infinite, 0700, 0644);
  run(kEvent);
  EXPECT_EQ(readFile(file_), infinite);
  EXPECT_EQ(modeOf(file_), 0644u);

  // A write cut short by the file-size limit leaves the earlier file whole
  // and no temporary file behind.
  const std::string big = R"({"startedAt":")" + std::string(99999, 'x') + "\"}";
  plant(big, 0700, 0644);
  test::HookRun result =
      test::runHook({home_, {"Claude Code", "working"}, kEvent, 4096});
  EXPECT_TRUE(result.exitedCleanly()) << result.status;
  EXPECT_EQ(readFile(file_), big);
  EXPECT_EQ(modeOf(file_), 0600u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1);
}

TEST_F(HookEndToEnd, SurvivesAStatusDirectoryThatCannotBeCreated) {
  std::ofstream(home_ / "Library") << "a file where a folder belongs";
  run(kEvent);
  EXPECT_EQ(readFile(home_ / "Library"), "a file where a folder belongs");
}

}  // namespace
}  // namespace vesk
