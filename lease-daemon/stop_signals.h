// The signals that stop the daemon.
//
// Each of these would end the process by default and leave a lease's
// setting in force until the next start. The daemon takes them all as a
// stop request instead: it puts the setting back, as a lapse would, then
// exits with status 0. SIGPIPE is ignored (a peer that goes away is a
// failed write, not a reason to stop). The signals that report a fault of
// the process itself (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGSYS,
// SIGABRT) keep their default action: a process in that state runs nothing
// more, and the next start's recovery puts the setting back. Linux adds the
// real-time signals (helper_main.cc).

#ifndef VESK_LEASE_DAEMON_STOP_SIGNALS_H_
#define VESK_LEASE_DAEMON_STOP_SIGNALS_H_

#include <signal.h>

namespace vesk {

inline constexpr int kStopSignals[] = {
    SIGTERM, SIGINT,  SIGHUP,    SIGQUIT, SIGUSR1, SIGUSR2,
    SIGALRM, SIGXCPU, SIGXFSZ,   SIGVTALRM, SIGPROF,
#if defined(__linux__)
    SIGSTKFLT, SIGIO, SIGPWR,
#endif
};

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_STOP_SIGNALS_H_
