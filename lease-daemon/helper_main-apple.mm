// HelperMain on Apple platforms: the XPC listener on the daemon's Mach
// service, the main thread's run loop, and stop requests through dispatch
// signal sources. The steps and their order are those of the Linux entry.

#include "helper_main.h"

#import <Foundation/Foundation.h>

#include <dispatch/dispatch.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "instance_lock.h"
#import "listener-apple.h"
#include "security_helper.h"
#include "stop_signals.h"

namespace vesk {

namespace {

// Puts the setting back, as a lapse would, so that a stop with no start
// after it (the job unloaded, the app removed) does not leave the machine
// unable to sleep; then ends the process without running destructors or
// exit handlers under the threads still running. Nothing is buffered.
[[noreturn]] void stopDaemon(const std::shared_ptr<SecurityHelper>& helper) {
  if (helper) helper->relinquish();
  _exit(0);
}

// Takes `signal` away from its default action and runs `stop` on the main
// queue when it comes. The main queue runs only in the main run loop, so
// `stop` runs once the daemon is serving, also for a signal that came while
// it was starting.
dispatch_source_t watchStopSignal(int signal, dispatch_block_t stop) {
  dispatch_source_t source =
      dispatch_source_create(DISPATCH_SOURCE_TYPE_SIGNAL,
                             static_cast<uintptr_t>(signal), 0,
                             dispatch_get_main_queue());
  if (source == nil) return nil;
  dispatch_source_set_event_handler(source, stop);
  // Ignored before the source is activated, in the order Apple's dispatch
  // documentation gives: a source only watches, and the signal, ignored,
  // still reaches it.
  ::signal(signal, SIG_IGN);
  dispatch_activate(source);
  return source;
}

}  // namespace

void HelperMain::main() {
  if (geteuid() != 0) exit(1);

  // A stop request is watched for before anything is held, and answered
  // by the main thread once it serves. (The tool's children start with
  // default signal actions; see subprocess.h.)
  __block std::shared_ptr<SecurityHelper> helper;
  dispatch_block_t stop = ^{
    stopDaemon(helper);
  };
  NS_VALID_UNTIL_END_OF_SCOPE dispatch_source_t terminate =
      watchStopSignal(SIGTERM, stop);
  NS_VALID_UNTIL_END_OF_SCOPE dispatch_source_t interrupt =
      watchStopSignal(SIGINT, stop);
  // Every other signal that would end the daemon stops it the same way.
  std::vector<dispatch_source_t> otherStops;
  for (int other : kStopSignals) {
    if (other != SIGTERM && other != SIGINT) {
      otherStops.push_back(watchStopSignal(other, stop));
    }
  }
  ::signal(SIGPIPE, SIG_IGN);

  // One daemon at a time, decided before the state file is read or the
  // service published.
  holdInstanceLockOrExit();

  // XPC connections are Mach ports, not descriptors: unlike the socket
  // service, the listener needs no higher descriptor limit.
  helper = SecurityHelper::create(kLeaseStatePath, &readSleepDisabled,
                                  &setSleepDisabled, &systemUptime);

  // The listener holds its delegate weakly and the delegate the controller
  // weakly: this frame holds all three for the life of the process.
  NS_VALID_UNTIL_END_OF_SCOPE VeskListenerDelegate* delegate =
      [[VeskListenerDelegate alloc] initWithHelper:helper];
  NSString* serviceName = [NSString stringWithUTF8String:kMachServiceName];
  NS_VALID_UNTIL_END_OF_SCOPE NSXPCListener* listener =
      [[NSXPCListener alloc] initWithMachServiceName:serviceName];
  listener.delegate = delegate;
  [listener resume];

  // Serves until a stop request; the main queue (the stop handlers) runs
  // in this run loop. Should it ever return, the daemon stops as on a
  // request.
  [[NSRunLoop currentRunLoop] run];
  stopDaemon(helper);
}

}  // namespace vesk
