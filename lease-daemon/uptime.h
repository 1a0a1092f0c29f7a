// The lease clock: seconds on a clock that only moves forward, ignores
// changes of the wall-clock time and stands still while the machine sleeps
// (CLOCK_MONOTONIC on Linux, CLOCK_UPTIME_RAW on macOS; see uptime-*.cc).
// Any thread; never fails.

#ifndef VESK_LEASE_DAEMON_UPTIME_H_
#define VESK_LEASE_DAEMON_UPTIME_H_

namespace vesk {

double systemUptime();

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_UPTIME_H_
