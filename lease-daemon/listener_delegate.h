// The listener's delegate: which connections are served, and how an accepted
// connection is wired to the lease controller.
//
// shouldAcceptNewConnection() is the controller's accept decision. It is
// called by the service on its own thread for each new connection, reads
// only the controller's immutable requirement and never touches lease state,
// so it takes no lock and does not use the lease queue.

#ifndef VESK_LEASE_DAEMON_LISTENER_DELEGATE_H_
#define VESK_LEASE_DAEMON_LISTENER_DELEGATE_H_

#include <memory>
#include <optional>

#include "code_signing.h"
#include "protocol.h"
#include "security_helper.h"
#include "service_connection.h"

namespace vesk {

// The exported object of one accepted connection: forwards the two lease
// calls to the controller with the connection they came on. Holds the
// controller strongly and the connection weakly, so the connection (which
// holds the endpoint) and the endpoint form no cycle.
class LeaseEndpoint : public BreakSecurityHelperProtocol {
 public:
  LeaseEndpoint(std::shared_ptr<SecurityHelper> helper,
                std::weak_ptr<Connection> connection);

  // When the connection no longer exists the reply is false, given at once
  // on the calling thread, and the controller is not consulted. Otherwise
  // the controller answers through `reply` on its queue.
  void renewLease(Reply reply) override;
  void releaseLease(Reply reply) override;

 private:
  using Operation = void (SecurityHelper::*)(std::shared_ptr<Connection>,
                                             SecurityHelper::Reply);
  void forward(Operation operation, Reply reply);

  const std::shared_ptr<SecurityHelper> helper_;
  const std::weak_ptr<Connection> connection_;
};

// The verification part of the accept decision, in this order: no
// requirement -> refuse; peer running as root (or of unknown user) ->
// refuse; no handle on the peer's code -> refuse; accept exactly when the
// peer's code satisfies the requirement.
bool verifyClient(const std::optional<CodeRequirement>& requirement,
                  ServiceConnection& connection);

// Sets an accepted connection up: a LeaseEndpoint as the exported object,
// the invalidation handler, then resume(). The handler holds the controller
// and the connection weakly and hands connectionInvalidated() to the lease
// queue.
void setUpAcceptedConnection(
    const std::shared_ptr<SecurityHelper>& helper,
    const std::shared_ptr<ServiceConnection>& connection);

// The accept decision: verifyClient() with the controller's requirement,
// then setUpAcceptedConnection(). True when the connection is accepted.
bool shouldAcceptNewConnection(
    const std::shared_ptr<SecurityHelper>& helper,
    const std::shared_ptr<ServiceConnection>& connection);

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_LISTENER_DELEGATE_H_
