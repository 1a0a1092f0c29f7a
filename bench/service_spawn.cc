// service_spawn N: the bare cost of one reading of the sleep setting, as the
// daemon does it on every renewal (a child process of /usr/bin/pmset with
// "-g", its output read to the end, then waited for). Prints the mean in
// microseconds. Used by service_bench.py inside its private namespace, where
// /usr/bin/pmset is the test double.

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "sleep_setting.h"

int main(int argc, char** argv) {
  int count = argc > 1 ? std::atoi(argv[1]) : 200;
  if (count < 1) return 2;
  // One untimed run, as the daemon has run the tool before any renewal.
  if (!vesk::readSleepDisabled()) return 1;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    if (!vesk::readSleepDisabled()) return 1;
  }
  std::chrono::duration<double, std::micro> elapsed =
      std::chrono::steady_clock::now() - start;
  std::printf("%.1f\n", elapsed.count() / count);
  return 0;
}
