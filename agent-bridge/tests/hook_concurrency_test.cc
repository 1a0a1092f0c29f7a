// Many runs for one session at once, as when an agent fires hooks in
// parallel, while the desktop application keeps reading the status file.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <thread>

#include "hook_process.h"
#include "session_key.h"

namespace vesk {
namespace {
namespace fs = std::filesystem;
namespace json = boost::json;

TEST(HookConcurrency, ReadersOnlyEverSeeWholeRecords) {
  char pattern[] = "/tmp/hook_concurrency.XXXXXX";
  const fs::path home = mkdtemp(pattern);
  const fs::path dir = home / "Library/Application Support/Vesk/agents";
  const fs::path file = dir / (sessionKey("Cursor", "shared") + ".json");
  fs::create_directories(dir);
  // A large carried "startedAt" makes every write large, so a torn file
  // would show.
  const std::string startedAt(300000, 's');
  std::ofstream(file) << R"({"activity":"Running","startedAt":")" << startedAt
                      << R"("})";

  // Each run gets a large event of its own.
  const std::string event =
      R"({"conversation_id":"shared","hook_event_name":"postToolUse",)"
      R"("tool_output":")" +
      std::string(900000, 'o') + R"("})";
  FILE* input = tmpfile();
  fwrite(event.data(), 1, event.size(), input);
  fflush(input);

  std::atomic<bool> writersDone = false;
  std::atomic<int> goodReads = 0;
  std::atomic<int> badReads = 0;
  std::thread reader([&] {
    while (!writersDone || goodReads == 0) {
      std::ifstream in(file, std::ios::binary);
      std::string text((std::istreambuf_iterator<char>(in)), {});
      std::error_code ec;
      json::value v = json::parse(text, ec);
      const bool whole = !ec && v.is_object() &&
                         v.as_object().contains("activity") &&
                         v.as_object().at("startedAt") == startedAt.c_str();
      ++(whole ? goodReads : badReads);
    }
  });

  constexpr int kRuns = 64;
  std::vector<pid_t> pids;
  std::vector<int> fds;
  for (int i = 0; i < kRuns; ++i) {
    // Separate open file descriptions: each run reads from the start.
    fds.push_back(
        open(("/proc/self/fd/" + std::to_string(fileno(input))).c_str(),
             O_RDONLY | O_CLOEXEC));
    pids.push_back(test::startHook({home.string(), {"Cursor", "working"}, ""},
                                   fds.back()));
  }
  for (pid_t pid : pids) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  writersDone = true;
  reader.join();
  for (int fd : fds) close(fd);
  fclose(input);

  EXPECT_EQ(badReads, 0);
  EXPECT_GT(goodReads, 0);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1);
  fs::remove_all(home);
}

}  // namespace
}  // namespace vesk
