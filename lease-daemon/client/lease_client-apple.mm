// vesk-lease-client on macOS: the command line (command_line.h) over
// NSXPC, to the daemon's Mach service in the system domain, with the
// protocol the desktop app uses (BreakSecurityHelperProtocol.h).
//
// --socket names the Mach service here. An NSXPCConnection is made without
// contacting the daemon, so connecting never fails by itself: a daemon that
// is not running, a client it refuses and a daemon that dies all show as
// the connection's end, which the command line reports as "connection
// closed" with exit status 1, as it does for a closed socket on Linux.

#import <Foundation/Foundation.h>

#include <condition_variable>
#include <cstdint>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#import "BreakSecurityHelperProtocol.h"
#include "command_line.h"
#include "protocol.h"

namespace vesk::client {
namespace {

// What the connection's handlers and the waiting call share. The handlers
// run on the connection's queues; the call waits on the main thread.
struct Channel {
  std::mutex mutex;
  std::condition_variable changed;
  bool closed = false;
  uint64_t call = 0;  // the call being waited for
  std::optional<bool> answer;

  // The connection is gone: no answer will come, now or later.
  void close() {
    std::lock_guard<std::mutex> lock(mutex);
    closed = true;
    changed.notify_all();
  }
  void answered(uint64_t number, bool value) {
    std::lock_guard<std::mutex> lock(mutex);
    if (number == call) answer = value;
    changed.notify_all();
  }
};

class XpcSession : public Session {
 public:
  explicit XpcSession(NSString* serviceName)
      : channel_(std::make_shared<Channel>()) {
    connection_ = [[NSXPCConnection alloc]
        initWithMachServiceName:serviceName
                        options:NSXPCConnectionPrivileged];
    connection_.remoteObjectInterface = [NSXPCInterface
        interfaceWithProtocol:@protocol(BreakSecurityHelperProtocol)];
    // The handlers hold the channel, never the session or the connection,
    // so no reference cycle keeps either alive. A refused or unknown
    // service invalidates the connection; a daemon that exits interrupts
    // it. Either way the lease this connection held has ended.
    std::shared_ptr<Channel> channel = channel_;
    connection_.invalidationHandler = ^{
      channel->close();
    };
    connection_.interruptionHandler = ^{
      channel->close();
    };
    [connection_ resume];
  }
  ~XpcSession() override { [connection_ invalidate]; }
  XpcSession(const XpcSession&) = delete;
  XpcSession& operator=(const XpcSession&) = delete;

  std::optional<bool> call(Request request) override {
    @autoreleasepool {
      uint64_t number;
      {
        std::lock_guard<std::mutex> lock(channel_->mutex);
        if (channel_->closed) return std::nullopt;
        number = ++channel_->call;
        channel_->answer.reset();
      }
      std::shared_ptr<Channel> channel = channel_;
      // NSXPC calls exactly one of the reply and the error handler for each
      // message; the error handler means the connection failed.
      id<BreakSecurityHelperProtocol> proxy =
          [connection_ remoteObjectProxyWithErrorHandler:^(NSError*) {
            channel->close();
          }];
      auto reply = ^(bool value) {
        channel->answered(number, value);
      };
      if (request == Request::kRenew) {
        [proxy renewLeaseWithReply:reply];
      } else {
        [proxy releaseLeaseWithReply:reply];
      }
      std::unique_lock<std::mutex> lock(channel_->mutex);
      channel_->changed.wait(
          lock, [&] { return channel_->answer || channel_->closed; });
      return channel_->answer;
    }
  }

 private:
  std::shared_ptr<Channel> channel_;
  NSXPCConnection* connection_;
};

std::unique_ptr<Session> connectTo(const std::string& serviceName,
                                   std::string& error) {
  NSString* name = [NSString stringWithUTF8String:serviceName.c_str()];
  if (name == nil || name.length == 0) {
    error = "cannot connect to \"" + serviceName + "\": not a service name";
    return nullptr;
  }
  return std::make_unique<XpcSession>(name);
}

}  // namespace
}  // namespace vesk::client

int main(int argc, char** argv) {
  @autoreleasepool {
    return vesk::client::runCommandLine(
        argc, argv,
        {BreakSecurityHelperMachServiceName.UTF8String, VESK_VERSION,
         &vesk::client::connectTo},
        {std::cin, std::cout, std::cerr});
  }
}
