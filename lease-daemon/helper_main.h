// HelperMain: the entry of VeskBreakSecurityHelper.

#ifndef VESK_LEASE_DAEMON_HELPER_MAIN_H_
#define VESK_LEASE_DAEMON_HELPER_MAIN_H_

namespace vesk {

struct HelperMain {
  // Not root: exit(1) before anything else happens. Otherwise builds the
  // lease controller with its real defaults (start-up recovery done and the
  // lease timer running when it returns), then the listener with the
  // controller as its delegate, resumes it and waits for good on the calling
  // (main) thread; it never returns. Writes nothing on any path.
  static void main();
};

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_HELPER_MAIN_H_
