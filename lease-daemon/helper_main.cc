#include "helper_main.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>

#include "instance_lock.h"
#include "listener.h"
#include "listener_delegate.h"
#include "protocol.h"
#include "security_helper.h"
#include "service_socket.h"

namespace vesk {

void HelperMain::main() {
  if (geteuid() != 0) exit(1);

  // A stop request is taken by this thread alone, when it is ready for it:
  // blocked here, before any other thread exists, so that every thread
  // inherits the mask and none is ended by it. (The tool's children start
  // with an empty mask and default actions; see subprocess.h.)
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  // One daemon at a time, decided before the state file is read or the
  // socket touched; the socket of a live daemon is safe either way
  // (service_socket-linux.h).
  if (!mayRunWith(takeInstanceLock(kInstanceLockPath))) exit(1);

  // Each client connection holds descriptors; the usual soft limit of 1024
  // is far below what the system allows a root daemon.
  raiseDescriptorLimit();

  std::shared_ptr<SecurityHelper> helper = SecurityHelper::create(
      kLeaseStatePath, &readSleepDisabled, &setSleepDisabled, &systemUptime);

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

  // The main thread's run loop: nothing to run but the stop request. A
  // stopped daemon puts the setting back, as a lapse would, so that a stop
  // with no start after it (the service stopped, the package removed) does
  // not leave the machine unable to sleep.
  int stop = 0;
  while (sigwait(&stopSignals, &stop) != 0) {
  }
  helper->relinquish();
  // Other threads are still running: end the process without running
  // destructors or exit handlers under them. Nothing is buffered.
  _exit(0);
}

}  // namespace vesk
