// A client connection as the lease controller sees it.
//
// The controller only ever compares connections by object identity: two
// shared_ptrs name the same connection exactly when they point at the same
// object. The controller holds the lease holder's connection strongly; every
// other party (the endpoint, the invalidation work) holds it weakly, so a
// connection lives no longer than its service and its lease need it.
//
// The service's own connection type derives from this class and adds what
// the socket layer needs; tests use this class as it is.

#ifndef VESK_LEASE_DAEMON_CONNECTION_H_
#define VESK_LEASE_DAEMON_CONNECTION_H_

namespace vesk {

class Connection {
 public:
  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  virtual ~Connection() = default;
};

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_CONNECTION_H_
