// The two ways to the service's listening socket on Linux, of which
// openServiceSocket() (service_socket.h) takes the first that works.

#ifndef VESK_LEASE_DAEMON_SERVICE_SOCKET_LINUX_H_
#define VESK_LEASE_DAEMON_SERVICE_SOCKET_LINUX_H_

#include "descriptor.h"
#include "service_socket.h"

namespace vesk {

// The socket passed through systemd's LISTEN_FDS protocol: LISTEN_PID names
// this process, LISTEN_FDS is 1 and descriptor 3 is a listening AF_UNIX
// SOCK_SEQPACKET socket. The variables are removed from the environment
// either way; a descriptor 3 that is not taken is left alone. Invalid when
// no usable socket was handed over.
Descriptor takeActivatedSocket();

// Keeps descriptors from being passed to `socket` (SO_PASSRIGHTS off: the
// sender's sendmsg fails), and, set on a listening socket, to every socket
// accepted from it that is connected afterwards. Linux 6.16 and later; false
// where the kernel lacks the option.
bool refusePassedDescriptors(int socket);

// Removes a stale file at `path`, binds a new socket there, sets the file's
// mode to 0666 (anyone may connect; the accept decision decides) and
// listens. A socket at `path` that accepts connections is never removed: it
// is a live server's, and the result is invalid. Invalid on any other
// failure too.
Descriptor bindServiceSocket(const char* path);

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_SERVICE_SOCKET_LINUX_H_
