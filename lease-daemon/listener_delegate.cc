#include "listener_delegate.h"

#include <utility>

namespace vesk {

LeaseEndpoint::LeaseEndpoint(std::shared_ptr<SecurityHelper> helper,
                             std::weak_ptr<Connection> connection)
    : helper_(std::move(helper)), connection_(std::move(connection)) {}

void LeaseEndpoint::renewLease(Reply reply) {
  forward(&SecurityHelper::renew, std::move(reply));
}

void LeaseEndpoint::releaseLease(Reply reply) {
  forward(&SecurityHelper::release, std::move(reply));
}

void LeaseEndpoint::forward(Operation operation, Reply reply) {
  std::shared_ptr<Connection> connection = connection_.lock();
  if (!connection) {
    reply(false);
    return;
  }
  ((*helper_).*operation)(std::move(connection), std::move(reply));
}

bool verifyClient(const std::optional<CodeRequirement>& requirement,
                  ServiceConnection& connection) {
  if (!requirement) return false;
  std::optional<uid_t> euid = connection.effectiveUserIdentifier();
  if (!euid || *euid == 0) return false;
  if (!connection.copyGuestCode()) return false;
  return connection.checkValidity(*requirement);
}

void setUpAcceptedConnection(
    const std::shared_ptr<SecurityHelper>& helper,
    const std::shared_ptr<ServiceConnection>& connection) {
  auto endpoint = std::make_shared<LeaseEndpoint>(
      helper, std::weak_ptr<Connection>(connection));
  connection->setExportedObject(std::move(endpoint));
  std::weak_ptr<SecurityHelper> weakHelper = helper;
  std::weak_ptr<Connection> weakConnection = connection;
  connection->setInvalidationHandler([weakHelper, weakConnection] {
    std::shared_ptr<SecurityHelper> strongHelper = weakHelper.lock();
    if (!strongHelper) return;
    strongHelper->queue().async([weakHelper, weakConnection] {
      std::shared_ptr<SecurityHelper> helper = weakHelper.lock();
      if (!helper) return;
      helper->connectionInvalidated(weakConnection.lock());
    });
  });
  connection->resume();
}

bool shouldAcceptNewConnection(
    const std::shared_ptr<SecurityHelper>& helper,
    const std::shared_ptr<ServiceConnection>& connection) {
  if (!verifyClient(helper->requirement(), *connection)) return false;
  setUpAcceptedConnection(helper, connection);
  return true;
}

}  // namespace vesk
