// Whole-process cost of VeskAgentBridge against the floor program
// (hook_floor): both are started the same way on the same input, in
// alternating order, and the medians are compared. Peak memory is the
// hook's largest resident set over its runs.
//
// Usage: hook_bench [RUNS]   (default 300 runs of each program per input)

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Sample {
  double seconds;
  long maxRssKiB;
};

Sample runOnce(const std::vector<std::string>& argv, const std::string& input,
               const std::string& home) {
  std::vector<char*> args;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::string homeVar = "HOME=" + home;
  char* env[] = {homeVar.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);

  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env) != 0) {
    std::perror("posix_spawn");
    std::exit(1);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const auto end = std::chrono::steady_clock::now();
  posix_spawn_file_actions_destroy(&actions);
  return {std::chrono::duration<double>(end - start).count(), usage.ru_maxrss};
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::string postToolUseEvent(std::size_t size) {
  std::string event =
      R"({"session_id":"6f1c2a3e-5b7d-4e8f-9a61-0c4d2b8e7f10",)"
      R"("transcript_path":"/home/dev/.claude/projects/shop/6f1c.jsonl",)"
      R"("cwd":"/home/dev/shop-api","permission_mode":"default",)"
      R"("hook_event_name":"PostToolUse","tool_name":"Read",)"
      R"("tool_input":{"file_path":"/home/dev/shop-api/src/orders.ts"},)"
      R"("tool_use_id":"toolu_01DEFuvw","tool_response":{"type":"text",)"
      R"("file":{"filePath":"/home/dev/shop-api/src/orders.ts","content":")";
  const std::string tail = R"("}}})";
  const std::string line =
      R"(  const page = await db.orders.findMany({ take: 50 });\n)";
  while (event.size() + tail.size() < size) {
    event += line.substr(
        0, std::min(line.size(), size - tail.size() - event.size()));
  }
  // Never end on half of an escape.
  while (event.back() == '\\') event.pop_back();
  return event + tail;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 300;
  namespace fs = std::filesystem;
  char pattern[] = "/tmp/hook_bench.XXXXXX";
  const fs::path home = mkdtemp(pattern);
  const fs::path dir = home / "Library/Application Support/Vesk/agents";
  const std::vector<std::string> hook = {VESK_HOOK_BINARY, "Claude Code",
                                         "working"};
  const std::vector<std::string> floor = {VESK_FLOOR_BINARY, dir.string()};

  std::printf("%-22s %10s %10s %7s %12s %12s\n", "input", "hook ms", "floor ms",
              "ratio", "hook peak", "memory cap");
  for (std::size_t size : {std::size_t(2048), std::size_t(1048576)}) {
    const fs::path input = home / ("event-" + std::to_string(size) + ".json");
    const std::string event = postToolUseEvent(size);
    std::ofstream(input, std::ios::binary) << event;
    runOnce(hook, input, home);  // creates the status directory and file
    std::vector<double> hookTimes, floorTimes;
    long peakKiB = 0;
    for (int i = 0; i < runs; ++i) {
      // Alternate who goes first so drift and caching favour neither.
      for (int k = 0; k < 2; ++k) {
        if ((i + k) % 2 == 0) {
          Sample s = runOnce(hook, input, home);
          hookTimes.push_back(s.seconds);
          peakKiB = std::max(peakKiB, s.maxRssKiB);
        } else {
          floorTimes.push_back(runOnce(floor, input, home).seconds);
        }
      }
    }
    const double h = median(hookTimes) * 1e3, f = median(floorTimes) * 1e3;
    const double capKiB = (3.0 * event.size() + 4 * 1048576) / 1024;
    std::printf("PostToolUse %7zu B  %10.3f %10.3f %6.2fx %9ld KiB %8.0f KiB\n",
                event.size(), h, f, h / f, peakKiB, capKiB);
  }
  fs::remove_all(home);
  return 0;
}
