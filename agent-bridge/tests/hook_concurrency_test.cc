// Many runs for one session at once, as when an agent fires hooks in
// parallel, while the desktop application keeps reading the status file.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <atomic>
#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <filesystem>
#include <fstream>
#include <thread>

#include "hook_process.h"
#include "session_key.h"

namespace vesk {
namespace {
namespace fs = std::filesystem;

TEST(HookConcurrency, ReadersOnlyEverSeeWholeRecords) {
  char pattern[] = "/tmp/hook_concurrency.XXXXXX";
  const fs::path home = mkdtemp(pattern);
  const fs::path dir = home / "Library/Application Support/Vesk/agents";
  const fs::path file = dir / (sessionKey("Cursor", "shared") + ".json");
  fs::create_directories(dir);
  // A large carried "startedAt" makes every record large, so a torn file
  // would show.
  const std::string startedAt(300000, 's');
  std::ofstream(file) << R"({"activity":"Running","startedAt":")" << startedAt
                      << "\"}";
  const fs::path input = home / "event.json";
  std::ofstream(input) << R"({"conversation_id":"shared","tool_output":")"
                       << std::string(900000, 'o') << "\"}";

  std::atomic<bool> writersDone = false;
  std::atomic<int> goodReads = 0, badReads = 0;
  std::thread reader([&] {
    while (!writersDone || goodReads == 0) {
      std::ifstream in(file, std::ios::binary);
      std::string text((std::istreambuf_iterator<char>(in)), {});
      boost::json::error_code ec;
      boost::json::value v = boost::json::parse(text, ec);
      const bool whole = !ec && v.is_object() &&
                         v.as_object().contains("activity") &&
                         v.as_object().at("startedAt") == startedAt.c_str();
      ++(whole ? goodReads : badReads);
    }
  });

  std::vector<std::pair<pid_t, int>> runs;
  for (int i = 0; i < 64; ++i) {
    const int fd = open(input.c_str(), O_RDONLY | O_CLOEXEC);
    runs.emplace_back(test::startHook({home, {"Cursor", "working"}, ""}, fd),
                      fd);
  }
  for (auto [pid, fd] : runs) {
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    close(fd);
  }
  writersDone = true;
  reader.join();

  EXPECT_EQ(badReads, 0);
  EXPECT_GT(goodReads, 0);
  // Only the status file: no temporary file left.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1);
  fs::remove_all(home);
}

}  // namespace
}  // namespace vesk
