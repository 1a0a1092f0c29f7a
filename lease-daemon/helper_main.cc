#include "helper_main.h"

#include <stdlib.h>
#include <unistd.h>

#include <memory>

#include "listener.h"
#include "listener_delegate.h"
#include "protocol.h"
#include "security_helper.h"
#include "service_socket.h"

namespace vesk {

void HelperMain::main() {
  if (geteuid() != 0) exit(1);

  std::shared_ptr<SecurityHelper> helper = SecurityHelper::create(
      kLeaseStatePath, &SecurityHelper::readSleepDisabled,
      &SecurityHelper::setSleepDisabled, &SecurityHelper::systemUptime);

  // The listener's delegate reference is weak; the entry holds the
  // controller for the life of the process.
  std::weak_ptr<SecurityHelper> delegate = helper;
  std::unique_ptr<Listener> listener = Listener::create(
      openServiceSocket(kServiceSocketPath),
      [delegate](const std::shared_ptr<ServiceConnection>& connection) {
        std::shared_ptr<SecurityHelper> helper = delegate.lock();
        return helper && shouldAcceptNewConnection(helper, connection);
      });
  // Without a service nobody can be served, but the controller still owes
  // any restore that start-up recovery could not finish; its timer keeps
  // trying, so the process stays either way.
  if (listener) listener->resume();

  // The main thread's run loop: nothing to run, so it waits for good.
  for (;;) pause();
}

}  // namespace vesk
