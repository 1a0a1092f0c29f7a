// The listening socket of the service (Linux).
//
// openServiceSocket() uses a socket handed over by systemd socket activation
// when there is one, and otherwise binds the path itself. Either way the
// result is a non-blocking, close-on-exec, listening AF_UNIX SOCK_SEQPACKET
// socket with SO_PASSCRED set, so that every request carries its sender's
// credentials, also one sent before the connection is accepted. Failures are
// results (-1); nothing is printed.

#ifndef VESK_LEASE_DAEMON_SERVICE_SOCKET_H_
#define VESK_LEASE_DAEMON_SERVICE_SOCKET_H_

namespace vesk {

// The socket passed through the LISTEN_FDS protocol: LISTEN_PID names this
// process, LISTEN_FDS is 1 and descriptor 3 is a listening AF_UNIX
// SOCK_SEQPACKET socket. The variables are removed from the environment
// either way. -1 when no usable socket was handed over.
int takeActivatedSocket();

// Removes a stale file at `path`, binds a new socket there, sets the file's
// mode to 0666 (anyone may connect; the accept decision decides) and
// listens. A socket at `path` that accepts connections is never removed: it
// is a live server's, and the result is -1. -1 on any other failure too.
int bindServiceSocket(const char* path);

// takeActivatedSocket(), else bindServiceSocket(path).
int openServiceSocket(const char* path);

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_SERVICE_SOCKET_H_
