#include "helper_main.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <utility>

#include "instance_lock.h"
#include "listener.h"
#include "listener_delegate.h"
#include "protocol.h"
#include "security_helper.h"
#include "service_socket.h"
#include "stop_signals.h"

namespace vesk {

void HelperMain::main() {
  if (geteuid() != 0) exit(1);

  // A stop request (a signal of stop_signals.h, or a real-time signal) is
  // taken by this thread alone, when it is ready for it: blocked here,
  // before any other thread exists, so that every thread inherits the mask
  // and none is ended by it. (The tool's children start with an empty mask
  // and default actions; see subprocess.h.)
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  for (int stopSignal : kStopSignals) sigaddset(&stopSignals, stopSignal);
  for (int stopSignal = SIGRTMIN; stopSignal <= SIGRTMAX; ++stopSignal) {
    sigaddset(&stopSignals, stopSignal);
  }
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  // One daemon at a time, decided before the socket is touched (the socket
  // of a live daemon is safe either way, service_socket-linux.h); without
  // the lock the daemon only puts back an owed setting (instance_lock.h).
  holdInstanceLockOrExit();

  // Each client connection holds descriptors; the usual soft limit of 1024
  // is far below what the system allows a root daemon.
  raiseDescriptorLimit();

  std::shared_ptr<SecurityHelper> helper = SecurityHelper::create(
      kLeaseStatePath, &readSleepDisabled, &setSleepDisabled, &systemUptime);

  // The listener's delegate reference is weak; the entry holds the
  // controller for the life of the process.
  std::weak_ptr<SecurityHelper> delegate = helper;
  ServiceSocket service = openServiceSocket(kServiceSocketPath);
  std::unique_ptr<Listener> listener = Listener::create(
      std::move(service.listening),
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
  // A socket file left behind would only be removed as stale by the next
  // start; one handed over belongs to the service manager.
  if (service.ownFile) service.ownFile->remove(kServiceSocketPath);
  // Other threads are still running: end the process without running
  // destructors or exit handlers under them. Nothing is buffered.
  _exit(0);
}

}  // namespace vesk
