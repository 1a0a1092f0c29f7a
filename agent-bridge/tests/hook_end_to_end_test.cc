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
using test::HookRun;
using test::runHook;

constexpr std::size_t kLimit = 1048576;

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

  HookRun run(const std::string& input,
              std::vector<std::string> args = {"Claude Code", "working"}) {
    HookRun result = runHook({home_.string(), std::move(args), input});
    EXPECT_TRUE(result.exitedCleanly())
        << "status " << result.status << " output " << result.output;
    return result;
  }
  json::object record() { return json::parse(readFile(file_)).as_object(); }
  void plant(const std::string& content, mode_t dirMode, mode_t fileMode) {
    fs::create_directories(dir_);
    std::ofstream(file_) << content;
    chmod(dir_.c_str(), dirMode);
    chmod(file_.c_str(), fileMode);
  }

  fs::path home_, dir_, file_;
};

TEST_F(HookEndToEnd, BadArgumentsEndTheRunBeforeReadingInput) {
  const std::vector<std::string> argumentLists[] = {
      {},
      {"Claude Code"},
      {"Claude Code", "working", "extra"},
      {"claude code", "working"},
      {"Cursor", "working "},
      {"Cursor", "Idle"},
  };
  for (const auto& args : argumentLists) {
    HookRun result = run(R"({"session_id":"s1"})", args);
    EXPECT_EQ(result.consumed, 0) << args.size();
  }
  EXPECT_FALSE(fs::exists(home_ / "Library"));
}

TEST_F(HookEndToEnd, WritesTheRecordWithPrivateModes) {
  run(R"({"session_id":"s1","hook_event_name":"PreToolUse",)"
      R"("tool_name":"AskUserQuestion","cwd":"/work/proj/"})");
  const json::object r = record();
  EXPECT_EQ(r.size(), 7u);
  EXPECT_EQ(r.at("agent"), "Claude Code");
  EXPECT_EQ(r.at("session"), file_.stem().c_str());
  EXPECT_EQ(r.at("state"), "needsAttention");
  EXPECT_EQ(r.at("activity"), "Needs attention");
  EXPECT_EQ(r.at("project"), "proj");
  EXPECT_TRUE(r.at("timestamp").is_double());
  EXPECT_TRUE(r.at("startedAt").is_double());
  for (fs::path p = dir_; p != home_; p = p.parent_path()) {
    EXPECT_EQ(modeOf(p), 0700u) << p;
  }
  EXPECT_EQ(modeOf(file_), 0600u);

  // Existing folder and file are forced back to private modes.
  chmod(dir_.c_str(), 0755);
  chmod(file_.c_str(), 0644);
  run(R"({"session_id":"s1","hook_event_name":"Stop"})");
  EXPECT_EQ(modeOf(dir_), 0700u);
  EXPECT_EQ(modeOf(file_), 0600u);
  EXPECT_EQ(record().size(), 6u);
}

TEST_F(HookEndToEnd, AcceptsExactlyOneMebibyte) {
  const std::string event = R"({"session_id":"s1"})";
  run(event + std::string(kLimit - event.size(), ' '));
  EXPECT_TRUE(fs::exists(file_));

  fs::remove_all(home_ / "Library");
  HookRun result = run(event + std::string(2 * kLimit, ' '));
  EXPECT_EQ(result.consumed, off_t(kLimit + 1));
  EXPECT_FALSE(fs::exists(home_ / "Library"));
  run(event + std::string(kLimit + 1 - event.size(), ' '));
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

TEST_F(HookEndToEnd, UnusableInputLeavesNoTrace) {
  const std::string inputs[] = {
      "",
      "\x89PNG\r\n\x1a\n\0\0\0\rIHDR",
      "{\"session_id\":\"\xc3\x28\"}",
      std::string(kLimit, '['),
      std::string(kLimit / 2, '[') + std::string(kLimit / 2, ']'),
      R"([{"session_id":"s1"}])",
      R"({"session_id":null,"conversation_id":"s1"})",
      std::string("{\"session_id\":\"s1\"}\0", 21),
  };
  for (const std::string& input : inputs) run(input);
  EXPECT_FALSE(fs::exists(home_ / "Library"));
}

TEST_F(HookEndToEnd, ToleratesHostileButValidInput) {
  const std::string inputs[] = {
      R"({"session_id":"s1","n":)" + std::string(300000, '9') + "}",
      R"({"session_id":"s1","n":1e999999,"m":-1e-999999})",
      std::string("{\"session_id\":\"s\\u0000\",\"x\":\"\\u0000\"}"),
      R"({"session_id":"s1","x":)" + std::string(kLimit / 2 - 20, '[') +
          std::string(kLimit / 2 - 20, ']') + "}",
      R"({"session_id":"s1","x":)" + std::string(9999, '[') +
          std::string(9999, ']') + "}",
  };
  for (const std::string& input : inputs) run(input);
  EXPECT_TRUE(fs::exists(file_));
}

TEST_F(HookEndToEnd, CarriesStartedAtWhateverItsType) {
  const char* values[] = {R"("yesterday")",    "null", R"([1,{"a":true}])",
                          "1733500000.123456", "12",   "-0.5"};
  for (const char* value : values) {
    SCOPED_TRACE(value);
    plant(std::string(R"({"startedAt":)") + value + R"(,"extra":1})", 0700,
          0600);
    run(R"({"session_id":"s1","hook_event_name":"PostToolUse"})");
    EXPECT_EQ(record().at("startedAt"), json::parse(value));
    EXPECT_FALSE(record().contains("extra"));
    run(R"({"session_id":"s1","hook_event_name":"UserPromptSubmit"})");
    const json::object r = record();
    ASSERT_TRUE(r.at("startedAt").is_double());
    EXPECT_GE(r.at("startedAt").as_double(), r.at("timestamp").as_double());
  }
}

TEST_F(HookEndToEnd, KeepsTheEarlierFileWhenNothingCanBeWritten) {
  // An infinity carried over has no JSON form.
  const std::string infinite = R"({"startedAt":1e400})";
  plant(infinite, 0700, 0644);
  run(R"({"session_id":"s1"})");
  EXPECT_EQ(readFile(file_), infinite);
  EXPECT_EQ(modeOf(file_), 0644u);

  // A write cut short by the file-size limit leaves the earlier file whole
  // and no temporary file behind.
  const std::string big =
      R"({"startedAt":")" + std::string(100000, 'x') + R"("})";
  plant(big, 0700, 0644);
  HookRun result = runHook({home_.string(),
                            {"Claude Code", "working"},
                            R"({"session_id":"s1"})",
                            4096});
  EXPECT_TRUE(result.exitedCleanly()) << result.status;
  EXPECT_EQ(readFile(file_), big);
  EXPECT_EQ(modeOf(file_), 0600u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1);
}

TEST_F(HookEndToEnd, SurvivesAStatusDirectoryThatCannotBeCreated) {
  std::ofstream(home_ / "Library") << "a file where a folder belongs";
  run(R"({"session_id":"s1"})");
  EXPECT_EQ(readFile(home_ / "Library"), "a file where a folder belongs");
}

}  // namespace
}  // namespace vesk
