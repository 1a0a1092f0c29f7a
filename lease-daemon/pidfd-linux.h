// Process file descriptors (Linux).

#ifndef VESK_LEASE_DAEMON_PIDFD_LINUX_H_
#define VESK_LEASE_DAEMON_PIDFD_LINUX_H_

namespace vesk {

// True while the process behind `pidfd` has neither exited nor been reaped:
// the descriptor does not poll readable (a zombie counts as gone) and signal
// 0 can be sent to it. While this holds, the process still owns its process
// id, so no other process can be using that id. Any thread.
bool processIsAlive(int pidfd);

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_PIDFD_LINUX_H_
