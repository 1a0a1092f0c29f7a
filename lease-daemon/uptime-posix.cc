// The lease clock on POSIX systems.
//
// CLOCK_MONOTONIC only moves forward, ignores changes of the wall-clock
// time, and, like the system uptime the lease was designed around, does not
// advance while the machine sleeps: a lease is measured in time the machine
// was awake to renew it. (CLOCK_BOOTTIME would count the sleep and end every
// lease at wake-up before its holder had a chance to renew.)

#include <time.h>

#include "uptime.h"

namespace vesk {

double systemUptime() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) +
         static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace vesk
