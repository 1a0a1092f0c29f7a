// Whole-process cost of VeskAgentBridge against the floor program
// (hook_floor), per input:
// - time: both are started the same way on the same input, in rotating
//   order, and the medians are compared: wall time from spawn to reaped
//   exit, and CPU time (user and system, as wait4 reports it), which waits
//   for a busy processor do not inflate;
// - touch: the wall time of the floor that also reads one byte of every 64
//   of its input once ("hook_floor DIR touch"), timed in the same rotation,
//   over the floor's: what merely looking at the input costs, before any
//   parsing;
// - instructions: one run of each under callgrind (user space only; stable
//   on a busy machine, where times are not), when valgrind is installed;
// - peak memory: the largest resident set of each over a few runs, each
//   started from hook_spawn, a small static process, so that the figure is
//   the program's own and not the resident set of the benchmark that
//   started it.
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
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Program {
  std::vector<std::string> argv;
  std::string homeVar;  // the whole environment: HOME=...
};

// Starts `argv` with `input` on standard input and standard output on
// `output`; yields its pid.
pid_t start(const std::vector<std::string>& argv, const std::string& homeVar,
            const std::string& input, const std::string& output,
            bool searchPath = false) {
  std::vector<char*> args;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::string home = homeVar;
  char* env[] = {home.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  const int failed =
      searchPath
          ? posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env)
          : posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) return -1;
  return pid;
}

// Waits for `pid`; true when it exited with status 0. `usage` gets its
// resource use.
bool runToEnd(pid_t pid, rusage* usage = nullptr) {
  int status = 0;
  rusage ignored{};
  return pid > 0 && wait4(pid, &status, 0, usage ? usage : &ignored) == pid &&
         WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

struct Timing {
  double wall;  // from spawn to reaped exit
  double cpu;   // user and system time of the child itself
};

Timing timeOneRun(const Program& program, const std::string& input) {
  const auto begin = std::chrono::steady_clock::now();
  rusage usage{};
  if (!runToEnd(start(program.argv, program.homeVar, input, "/dev/null"),
                &usage)) {
    std::fprintf(stderr, "%s failed\n", program.argv[0].c_str());
    std::exit(1);
  }
  const std::chrono::duration<double> wall =
      std::chrono::steady_clock::now() - begin;
  return {wall.count(), seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

// Instructions of one run under callgrind, or nothing without valgrind.
std::optional<double> instructions(const Program& program,
                                   const std::string& input,
                                   const fs::path& scratch) {
  const std::string log = (scratch / "callgrind.log").string();
  std::vector<std::string> argv = {"valgrind", "--tool=callgrind",
                                   "--callgrind-out-file=/dev/null",
                                   "--log-file=" + log};
  argv.insert(argv.end(), program.argv.begin(), program.argv.end());
  if (!runToEnd(start(argv, program.homeVar, input, "/dev/null", true)))
    return std::nullopt;
  std::ifstream in(log);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t at = line.find("Collected : ");
    if (at != std::string::npos) return std::stod(line.substr(at + 12));
  }
  return std::nullopt;
}

// The program's own peak resident set in KiB over `runs` runs, as
// hook_spawn reports it.
long peakKiB(const Program& program, const std::string& input, int runs,
             const fs::path& scratch) {
  const std::string report = (scratch / "spawn.out").string();
  std::vector<std::string> argv = {VESK_SPAWN_BINARY, input};
  argv.insert(argv.end(), program.argv.begin(), program.argv.end());
  long peak = 0;
  for (int i = 0; i < runs; ++i) {
    if (!runToEnd(start(argv, program.homeVar, "/dev/null", report))) {
      std::fprintf(stderr, "hook_spawn failed\n");
      std::exit(1);
    }
    long child = 0;
    std::ifstream(report) >> child;
    peak = std::max(peak, child);
  }
  return peak;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// A PostToolUse event of `size` bytes whose file content is `line`
// repeated after `prefix`.
std::string postToolUseEvent(std::size_t size, const std::string& prefix,
                             const std::string& line) {
  std::string event =
      R"({"session_id":"6f1c2a3e-5b7d-4e8f-9a61-0c4d2b8e7f10",)"
      R"("transcript_path":"/home/dev/.claude/projects/shop/6f1c.jsonl",)"
      R"("cwd":"/home/dev/shop-api","permission_mode":"default",)"
      R"("hook_event_name":"PostToolUse","tool_name":"Read",)"
      R"("tool_input":{"file_path":"/home/dev/shop-api/src/orders.ts"},)"
      R"("tool_use_id":"toolu_01DEFuvw","tool_response":{"type":"text",)"
      R"("file":{"filePath":"/home/dev/shop-api/src/orders.ts","content":")" +
      prefix;
  const std::string tail = R"("}}})";
  while (event.size() + line.size() + tail.size() <= size) event += line;
  // Pad with plain text: never half of an escape or of a UTF-8 sequence.
  event.append(size - tail.size() - event.size(), ' ');
  return event + tail;
}

struct Input {
  const char* name;
  std::size_t size;
  std::string prefix;
  std::string line;
};

std::string fmtInstructions(std::optional<double> count) {
  char text[32] = "-";
  if (count) std::snprintf(text, sizeof text, "%.2f", *count / 1e6);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 300;
  const int memoryRuns = std::max(1, std::min(runs, 20));
  char pattern[] = "/tmp/hook_bench.XXXXXX";
  const fs::path home = mkdtemp(pattern);
  const fs::path dir = home / "Library/Application Support/Vesk/agents";
  const std::string homeVar = "HOME=" + home.string();
  const Program hook{{VESK_HOOK_BINARY, "Claude Code", "working"}, homeVar};
  const Program floor{{VESK_FLOOR_BINARY, dir.string()}, homeVar};
  const Program touch{{VESK_FLOOR_BINARY, dir.string(), "touch"}, homeVar};

  // Lines of a file the agent read, as JSON carries them.
  const std::string code =
      "  const page = await db.orders.findMany({ take: 50 });";
  const std::string accented =
      "  const caf\u00e9 = await db.orders.findMany({ take: 50 });";
  const std::string chinese =
      "  // \u8bfb\u53d6\u8ba2\u5355\u5217\u8868\uff0c"
      "\u6bcf\u9875\u4e94\u5341\u6761";
  const Input inputs[] = {
      {"2 KiB, \\n every line", 2048, "", code + "\\n"},
      {"1 MiB, \\n every line", 1048576, "", code + "\\n"},
      {"1 MiB, one \\t first", 1048576, "\\t", code + " "},
      {"1 MiB, non-ASCII", 1048576, "", accented + " "},
      {"1 MiB, non-ASCII + \\n", 1048576, "", accented + "\\n"},
      {"1 MiB, Chinese + \\n", 1048576, "", chinese + "\\n"},
  };

  std::printf(
      "%-22s %7s %7s %6s %6s %7s %7s %6s %7s %7s %7s %6s %6s %6s\n", "input",
      "wall ms", "floor", "ratio", "touch", "cpu ms", "floor", "ratio",
      "Minstr", "floor", "ratio", "KiB", "floor", "cap");
  for (const Input& sample : inputs) {
    const std::string event =
        postToolUseEvent(sample.size, sample.prefix, sample.line);
    const fs::path input = home / "event.json";
    std::ofstream(input, std::ios::binary) << event;
    timeOneRun(hook, input);  // creates the status directory and file
    const Program* programs[] = {&hook, &floor, &touch};
    std::vector<double> wall[3], cpu[3];
    for (int i = 0; i < runs; ++i) {
      // Rotate who goes first so drift and caching favour none.
      for (int k = 0; k < 3; ++k) {
        const int turn = (i + k) % 3;
        const Timing t = timeOneRun(*programs[turn], input);
        wall[turn].push_back(t.wall * 1e3);
        cpu[turn].push_back(t.cpu * 1e3);
      }
    }
    const double hw = median(wall[0]), fw = median(wall[1]);
    const double tw = median(wall[2]);
    const double hc = median(cpu[0]), fc = median(cpu[1]);
    const std::optional<double> hookCount = instructions(hook, input, home);
    const std::optional<double> floorCount = instructions(floor, input, home);
    char countRatio[16] = "-";
    if (hookCount && floorCount)
      std::snprintf(countRatio, sizeof countRatio, "%.2fx",
                    *hookCount / *floorCount);
    const double capKiB = (3.0 * event.size() + 4 * 1048576) / 1024;
    std::printf(
        "%-22s %7.3f %7.3f %5.2fx %5.2fx %7.3f %7.3f %5.2fx %7s %7s %7s %6ld "
        "%6ld %6.0f\n",
        sample.name, hw, fw, hw / fw, tw / fw, hc, fc, hc / fc,
        fmtInstructions(hookCount).c_str(), fmtInstructions(floorCount).c_str(),
        countRatio, peakKiB(hook, input, memoryRuns, home),
        peakKiB(floor, input, memoryRuns, home), capKiB);
    std::fflush(stdout);
  }
  // What the spawner itself adds to a child's figure is at most this.
  const Program nothing{{"/bin/true"}, homeVar};
  std::printf("peak of /bin/true started the same way: %ld KiB\n",
              peakKiB(nothing, "/dev/null", memoryRuns, home));
  fs::remove_all(home);
  return 0;
}
