// Process file descriptors (Linux): handles on a process that stay bound to
// it even after its id is reused.

#ifndef VESK_LEASE_DAEMON_PIDFD_LINUX_H_
#define VESK_LEASE_DAEMON_PIDFD_LINUX_H_

#include "descriptor.h"

namespace vesk {

// True while the process behind `pidfd` has neither exited nor been reaped:
// the descriptor does not poll readable (a zombie counts as gone) and signal
// 0 can be sent to it. While this holds, the process still owns its process
// id, so no other process can be using that id. Any thread.
bool processIsAlive(int pidfd);

// A close-on-exec process handle on the process that connected `socket`
// (SO_PEERPIDFD, Linux 6.5 and later); invalid when there is none. Any
// thread.
Descriptor peerProcessHandle(int socket);

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_PIDFD_LINUX_H_
