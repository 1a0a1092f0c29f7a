// HelperMain: the entry of VeskBreakSecurityHelper.

#ifndef VESK_LEASE_DAEMON_HELPER_MAIN_H_
#define VESK_LEASE_DAEMON_HELPER_MAIN_H_

namespace vesk {

struct HelperMain {
  // Not root: exit(1) before anything else happens. Another daemon running
  // (its instance lock held): exit(1) before the state file is read, the
  // tool run or the socket touched; the lock not to be had for another
  // reason: exit(1) after an owed restore (instance_lock.h). Otherwise
  // builds the lease controller with its real defaults (start-up recovery
  // done and the lease timer running when it returns), then the listener
  // with the controller as its delegate, resumes it and waits on the
  // calling (main) thread, which must be the process's only thread, for a
  // stop signal (stop_signals.h; on Apple platforms the main thread runs its
  // run loop, which also serves the stop request). Then it relinquishes the
  // lease (any captured value written back), removes a socket file it made
  // itself, and ends the process with status 0; it never returns. Writes
  // nothing on any path.
  static void main();
};

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_HELPER_MAIN_H_
