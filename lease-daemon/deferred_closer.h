// DeferredCloser: closes descriptors that a client controls on threads of
// its own.
//
// Closing the last reference to a file runs that file's release, which can
// block for as long as the file's owner likes: a TCP socket with SO_LINGER
// set and unsent data waits out its linger time, and a socket may carry
// such files in its queue. A client can make the daemon hold the last
// reference (it passes a descriptor, or closes its own end after queueing
// one), so the service thread never closes a client's socket or a
// descriptor a client sent: it hands them here.
//
// At most kMaxCloserThreads threads close; one is started when a descriptor
// arrives and no closer is free, so a close that blocks holds up only its
// own thread. Descriptors wait while every closer is blocked; they count
// against the process's descriptor limit, which the service already keeps
// room under (listener.h).
//
// Threading: close() may be called on any thread and never blocks on a
// close. Destroying the closer lets its threads end once every descriptor
// handed over is closed; it does not wait for them.

#ifndef VESK_LEASE_DAEMON_DEFERRED_CLOSER_H_
#define VESK_LEASE_DAEMON_DEFERRED_CLOSER_H_

#include <cstddef>
#include <memory>

#include "descriptor.h"

namespace vesk {

inline constexpr size_t kMaxCloserThreads = 16;

class DeferredCloser {
 public:
  DeferredCloser();
  ~DeferredCloser();
  DeferredCloser(const DeferredCloser&) = delete;
  DeferredCloser& operator=(const DeferredCloser&) = delete;

  // Takes `fd` and closes it on a closer thread.
  void close(Descriptor fd);

 private:
  struct State;
  // A closer thread's life: close what is handed over until the closer is
  // destroyed and nothing is left.
  static void serve(const std::shared_ptr<State>& state);

  const std::shared_ptr<State> state_;
};

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_DEFERRED_CLOSER_H_
