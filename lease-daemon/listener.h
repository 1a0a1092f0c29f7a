// Listener: the service that publishes the lease protocol to clients, in
// place of an XPC listener.
//
// On Linux (listener-linux.cc) it serves one listening AF_UNIX
// SOCK_SEQPACKET socket from its own thread: it accepts connections, asks
// the delegate about each, reads requests from accepted connections and hands
// them to their exported object (socket_connection-linux.h), and sends the
// replies back in request order (reply_queue.h).
// Many connections are served at once; no client can hold up another, the
// delegate's work or the lease queue: sockets are non-blocking, a connection
// with too many unanswered requests is simply not read until its replies have
// gone out, and a reply for a connection that has gone away is dropped.
//
// One user's connections cannot cost another user its service: at most
// kMaxConnectionsPerUser connections of one user id are open at once (more
// are refused like any refused connection), and the service stops accepting
// while a new connection would leave fewer than kReservedDescriptors
// descriptors below the process's limit, so that the lease queue can always
// start the power-management tool and write its state file. It accepts
// again when a connection closes, or after a short pause.
//
// A connection is invalidated when its peer closes it, when a read or write
// on it fails, or when the peer breaks the protocol (see protocol.h; also a
// message that carries file descriptors, or one sent by any process but the
// verified one). The service then shuts its socket down and closes its
// process handle at once, forgets it, and runs its invalidation handler on
// the service thread.
//
// No client can stall the service through a close: where the kernel can
// (Linux 6.16 and later), the sockets refuse passed descriptors outright,
// and on every kernel a client's socket and any descriptor it sent are
// closed by a DeferredCloser (deferred_closer.h), never on the service
// thread or the lease queue.

#ifndef VESK_LEASE_DAEMON_LISTENER_H_
#define VESK_LEASE_DAEMON_LISTENER_H_

#include <sys/resource.h>

#include <cstddef>
#include <functional>
#include <memory>

#include "descriptor.h"
#include "service_connection.h"

namespace vesk {

inline constexpr size_t kMaxConnectionsPerUser = 16;
inline constexpr rlim_t kReservedDescriptors = 16;

// Raises the process's soft limit on open descriptors to its hard limit, so
// that connections have all the room the system grants. False when the
// limit could not be read or changed; the old one then stays. Call at start,
// before other threads run.
bool raiseDescriptorLimit();

class Listener {
 public:
  // Called on the service thread for each new connection; true accepts (the
  // delegate must then have resumed the connection), false refuses.
  using Delegate =
      std::function<bool(const std::shared_ptr<ServiceConnection>&)>;

  // Takes `listeningSocket`, a listening AF_UNIX SOCK_SEQPACKET socket
  // (closed on failure too). Absent (nullptr) when the service cannot be set
  // up, also for an invalid socket.
  static std::unique_ptr<Listener> create(Descriptor listeningSocket,
                                          Delegate delegate);

  // Stops the service thread and closes every socket it holds. Invalidation
  // handlers of connections still open are not run. Must not be called on
  // the service thread.
  virtual ~Listener() = default;

  // Starts serving on the service thread. False when the thread cannot be
  // started. Call once.
  virtual bool resume() = 0;
};

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_LISTENER_H_
