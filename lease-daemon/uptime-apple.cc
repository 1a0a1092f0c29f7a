// The lease clock on macOS.
//
// CLOCK_UPTIME_RAW (the count behind mach_absolute_time and the system
// uptime) only moves forward, ignores changes of the wall-clock time and
// stops while the machine sleeps: a lease is measured in time the machine
// was awake to renew it. On macOS CLOCK_MONOTONIC, and with it the C++
// library's steady clock, keeps counting through sleep and would end every
// lease at wake-up before its holder had a chance to renew.

#include <time.h>

#include "uptime.h"

namespace vesk {

double systemUptime() {
  return static_cast<double>(clock_gettime_nsec_np(CLOCK_UPTIME_RAW)) / 1e9;
}

}  // namespace vesk
