// ServiceConnection: a client connection as the service layer offers it to
// the listener's delegate, in place of an XPC connection.
//
// The platform's service (listener-linux.cc on Linux, listener-apple.mm
// on Apple platforms) derives from this class. The delegate, called on the
// service's own thread, reads the peer facts, has the peer's code checked,
// and either returns false (refusal: the service then closes the connection
// without reading from it) or sets the exported object and the invalidation
// handler, calls resume() and returns true. Identity is object identity
// (see connection.h).
//
// Threading: every method is called on the service thread, during the
// delegate call. The invalidation handler is later run exactly once on the
// service thread, after the connection's socket has been shut down and its
// process handle closed. (On Apple platforms the methods run on the XPC listener's queue,
// and the handler on the XPC connection's queue once it is invalidated.)

#ifndef VESK_LEASE_DAEMON_SERVICE_CONNECTION_H_
#define VESK_LEASE_DAEMON_SERVICE_CONNECTION_H_

#include <sys/types.h>

#include <functional>
#include <memory>
#include <optional>

#include "code_signing.h"
#include "connection.h"
#include "protocol.h"

namespace vesk {

class ServiceConnection : public Connection {
 public:
  // The peer's effective user id at connect time; absent when unknown.
  virtual std::optional<uid_t> effectiveUserIdentifier() = 0;

  // Takes hold of the peer process's code (Linux: a process file descriptor
  // for the connecting process). False when there is none to be had.
  virtual bool copyGuestCode() = 0;

  // True when the code taken by copyGuestCode() satisfies `requirement`.
  // False when copyGuestCode() has not succeeded. Where the platform checks
  // each later message itself (XPC), this also installs that check, and is
  // false when it cannot.
  virtual bool checkValidity(const CodeRequirement& requirement) = 0;

  // Set up of an accepted connection. The connection holds the exported
  // object strongly.
  virtual void setExportedObject(
      std::shared_ptr<BreakSecurityHelperProtocol> object) = 0;
  virtual void setInvalidationHandler(std::function<void()> handler) = 0;
  virtual void resume() = 0;
};

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_SERVICE_CONNECTION_H_
