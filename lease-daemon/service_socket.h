// The listening endpoint of the service.
//
// On Linux (service_socket-linux.h) it is a non-blocking, close-on-exec,
// listening AF_UNIX SOCK_SEQPACKET socket with SO_PASSCRED set, so that
// every request carries its sender's credentials, also one sent before the
// connection is accepted. Failures are results; nothing is printed.

#ifndef VESK_LEASE_DAEMON_SERVICE_SOCKET_H_
#define VESK_LEASE_DAEMON_SERVICE_SOCKET_H_

#include "descriptor.h"

namespace vesk {

// The socket handed over by the service manager when there is one, and
// otherwise one of the daemon's own at `path`. Invalid when neither can be
// had. Call on the main thread, before other threads read the environment.
Descriptor openServiceSocket(const char* path);

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_SERVICE_SOCKET_H_
