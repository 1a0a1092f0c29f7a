// Lease controller benchmarks.
//
// BM_BareSpawnAndReap: the floor, one run of the stand-in tool as plainly as
// POSIX allows (posix_spawn with its output on a pipe, read to the end,
// waitpid).
// BM_RenewWhileHeld: one renewal by the lease holder through the controller,
// from the call to the reply. With the lease held and the setting already at
// 1 that is one reading of the setting, i.e. one run of the same tool, plus
// the hop onto the lease queue.
// BM_RenewOverBareSpawn: the two alternated, with the medians and their
// ratio (the target is a ratio of at most 1.2).
// BM_IdleControllerCpu: the process CPU time an idle controller (timer
// ticking, nothing owed) costs over 60 seconds, and
// BM_IdleWakeupFloorCpu: what a thread that merely wakes once a second
// costs over the same time.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "security_helper.h"
#include "sleep_setting.h"

extern char** environ;

namespace {

const std::string kTool = LEASE_FAKE_PMSET;

bool bareSpawnAndReap() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  char* argv[] = {const_cast<char*>(kTool.c_str()), const_cast<char*>("-g"),
                  nullptr};
  pid_t pid;
  int rc = posix_spawn(&pid, kTool.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  char buffer[64 * 1024];
  ssize_t total = 0;
  ssize_t n;
  while (rc == 0 && (n = read(fds[0], buffer, sizeof buffer)) > 0) total += n;
  close(fds[0]);
  int status = 0;
  if (rc != 0 || waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 && total > 0;
}

void BM_BareSpawnAndReap(benchmark::State& state) {
  for (auto _ : state) {
    if (!bareSpawnAndReap()) state.SkipWithError("tool run failed");
  }
}
BENCHMARK(BM_BareSpawnAndReap)->Unit(benchmark::kMicrosecond)->UseRealTime();

class StateDir {
 public:
  StateDir() {
    char pattern[] = "/tmp/lease-bench-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~StateDir() { rmdir(path_.c_str()); }
  std::string file() const { return path_ + "/state.plist"; }

 private:
  std::string path_;
};

std::shared_ptr<vesk::SecurityHelper> makeController(const StateDir& dir) {
  return vesk::SecurityHelper::create(
      dir.file(), [] { return vesk::readSleepDisabledWith(kTool); },
      [](int64_t v) { return vesk::setSleepDisabledWith(kTool, v); });
}

bool renew(vesk::SecurityHelper& helper,
           const std::shared_ptr<vesk::Connection>& connection) {
  std::promise<bool> replied;
  helper.renew(connection, [&](bool ok) { replied.set_value(ok); });
  return replied.get_future().get();
}

bool release(vesk::SecurityHelper& helper,
             const std::shared_ptr<vesk::Connection>& connection) {
  std::promise<bool> replied;
  helper.release(connection, [&](bool ok) { replied.set_value(ok); });
  return replied.get_future().get();
}

void BM_RenewWhileHeld(benchmark::State& state) {
  StateDir dir;
  std::shared_ptr<vesk::SecurityHelper> helper = makeController(dir);
  auto connection = std::make_shared<vesk::Connection>();
  if (!renew(*helper, connection)) state.SkipWithError("first renewal failed");
  for (auto _ : state) {
    if (!renew(*helper, connection)) state.SkipWithError("renewal failed");
  }
  release(*helper, connection);
}
BENCHMARK(BM_RenewWhileHeld)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The two above, alternated in one loop so that both see the same machine
// load; reports the medians and their ratio.
void BM_RenewOverBareSpawn(benchmark::State& state) {
  StateDir dir;
  std::shared_ptr<vesk::SecurityHelper> helper = makeController(dir);
  auto connection = std::make_shared<vesk::Connection>();
  if (!renew(*helper, connection)) state.SkipWithError("first renewal failed");
  std::vector<double> bare;
  std::vector<double> renewal;
  using Clock = std::chrono::steady_clock;
  for (auto _ : state) {
    Clock::time_point t0 = Clock::now();
    bool ok = bareSpawnAndReap();
    Clock::time_point t1 = Clock::now();
    ok = renew(*helper, connection) && ok;
    Clock::time_point t2 = Clock::now();
    if (!ok) state.SkipWithError("run failed");
    bare.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    renewal.push_back(
        std::chrono::duration<double, std::micro>(t2 - t1).count());
  }
  release(*helper, connection);
  auto median = [](std::vector<double>& v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
  };
  double bareMedian = median(bare);
  double renewMedian = median(renewal);
  state.counters["bare_us"] = bareMedian;
  state.counters["renew_us"] = renewMedian;
  state.counters["ratio"] = bareMedian > 0 ? renewMedian / bareMedian : 0;
}
BENCHMARK(BM_RenewOverBareSpawn)
    ->Iterations(2000)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

double processCpuSeconds() {
  struct timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void BM_IdleControllerCpu(benchmark::State& state) {
  StateDir dir;
  for (auto _ : state) {
    std::shared_ptr<vesk::SecurityHelper> helper = makeController(dir);
    double before = processCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(60));
    double used = processCpuSeconds() - before;
    state.SetIterationTime(60.0);
    state.counters["cpu_us_per_60s"] = used * 1e6;
    state.counters["cpu_fraction"] = used / 60.0;
  }
}
// The floor for the above: a thread that wakes once a second on a condition
// variable, as the queue's worker does, and does nothing.
void BM_IdleWakeupFloorCpu(benchmark::State& state) {
  for (auto _ : state) {
    std::mutex mutex;
    std::condition_variable never;
    double before = processCpuSeconds();
    std::thread sleeper([&] {
      std::unique_lock<std::mutex> lock(mutex);
      auto next = std::chrono::steady_clock::now();
      for (int i = 0; i < 60; ++i) {
        next += std::chrono::seconds(1);
        while (never.wait_until(lock, next) != std::cv_status::timeout) {
        }
      }
    });
    sleeper.join();
    double used = processCpuSeconds() - before;
    state.SetIterationTime(60.0);
    state.counters["cpu_us_per_60s"] = used * 1e6;
    state.counters["cpu_fraction"] = used / 60.0;
  }
}
BENCHMARK(BM_IdleWakeupFloorCpu)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

BENCHMARK(BM_IdleControllerCpu)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
