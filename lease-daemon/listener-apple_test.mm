// The XPC service in one process: an anonymous NSXPCListener with the
// daemon's delegate class, clients made from its endpoint, and the real
// lease controller on fake settings (lease_harness.h). A plain program: it
// prints each failed expectation and exits 1 when there was one.
//
// The test program is not signed by the daemon's team, so the controller has
// no client requirement and the daemon's own accept decision refuses every
// connection, which is the refused-client case. The other cases accept
// through setUpAcceptedConnection(), the wiring that decision ends in, and
// so run the real exported object, endpoint and invalidation handler.

#import <Foundation/Foundation.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#import "BreakSecurityHelperProtocol.h"
#include "lease_harness.h"
#import "listener-apple.h"
#include "listener_delegate.h"

namespace vesk {
namespace {

int failures = 0;

void expect(bool condition, const std::string& what) {
  if (condition) return;
  std::fprintf(stderr, "FAILED: %s\n", what.c_str());
  ++failures;
}

// A call's answer: YES or NO, or absent when the connection failed.
std::optional<bool> call(NSXPCConnection* client, bool renew) {
  __block std::optional<bool> answer;
  id<BreakSecurityHelperProtocol> proxy =
      [client synchronousRemoteObjectProxyWithErrorHandler:^(NSError* error) {
        (void)error;
      }];
  if (renew) {
    [proxy renewLeaseWithReply:^(bool granted) {
      answer = granted;
    }];
  } else {
    [proxy releaseLeaseWithReply:^(bool released) {
      answer = released;
    }];
  }
  return answer;
}

// A controller on fakes, served by an anonymous listener whose delegate is
// VeskListenerDelegate.
class Service {
 public:
  explicit Service(bool verifyClients) {
    harness_.start();
    std::weak_ptr<SecurityHelper> helper = harness_.helper;
    if (verifyClients) {
      delegate_ = [[VeskListenerDelegate alloc] initWithHelper:helper];
    } else {
      delegate_ = [[VeskListenerDelegate alloc]
          initWithDecision:[helper](
                               const std::shared_ptr<ServiceConnection>& c) {
            std::shared_ptr<SecurityHelper> strong = helper.lock();
            if (!strong) return false;
            setUpAcceptedConnection(strong, c);
            return true;
          }];
    }
    listener_ = [NSXPCListener anonymousListener];
    listener_.delegate = delegate_;
    [listener_ resume];
  }
  ~Service() { [listener_ invalidate]; }

  NSXPCConnection* connect() {
    NSXPCConnection* client =
        [[NSXPCConnection alloc] initWithListenerEndpoint:listener_.endpoint];
    client.remoteObjectInterface = [NSXPCInterface
        interfaceWithProtocol:@protocol(BreakSecurityHelperProtocol)];
    [client resume];
    return client;
  }

  // The setting and whether a lease is held, read on the lease queue.
  template <typename Read>
  auto onQueue(Read read) {
    decltype(read()) value{};
    harness_.helper->queue().sync([&] { value = read(); });
    return value;
  }
  int64_t setting() { return onQueue([&] { return harness_.system->setting; }); }
  int reads() { return onQueue([&] { return harness_.system->reads; }); }
  bool held() { return harness_.snapshot().owner != nullptr; }
  bool stateFileExists() const { return harness_.fileExists(); }

  // Whether `condition` came true within 10 s.
  static bool waitUntil(const std::function<bool()>& condition) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
      if (std::chrono::steady_clock::now() >= end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

 private:
  SecurityHelperTestPeer harness_;
  VeskListenerDelegate* delegate_;
  NSXPCListener* listener_;
};

void renewAndRelease() {
  Service service(/*verifyClients=*/false);
  NSXPCConnection* client = service.connect();
  expect(call(client, true) == true, "renew: YES");
  // The same connection is the same lease holder on every call.
  expect(call(client, true) == true, "renew again: YES");
  expect(service.setting() == 1 && service.held(), "renew: setting held at 1");
  expect(call(client, false) == true, "release: YES");
  expect(service.setting() == 0 && !service.held() &&
             !service.stateFileExists(),
         "release: setting restored, no lease, no state file");
  [client invalidate];
}

void otherConnectionIsRefusedTheLease() {
  Service service(/*verifyClients=*/false);
  NSXPCConnection* holder = service.connect();
  NSXPCConnection* other = service.connect();
  expect(call(holder, true) == true, "holder renews: YES");
  expect(call(other, true) == false, "another connection renews: NO");
  expect(call(other, false) == false, "another connection releases: NO");
  // Its going away changes nothing for the holder.
  [other invalidate];
  expect(call(holder, true) == true && service.setting() == 1,
         "holder keeps the lease after the other connection went away");
  [holder invalidate];
}

void clientThatGoesAway() {
  Service service(/*verifyClients=*/false);
  NSXPCConnection* client = service.connect();
  expect(call(client, true) == true, "renew before going away: YES");
  [client invalidate];
  expect(Service::waitUntil([&] {
           return !service.held() && service.setting() == 0 &&
                  !service.stateFileExists();
         }),
         "client gone: lease dropped and setting restored");
}

void refusedClient() {
  Service service(/*verifyClients=*/true);
  const int reads = service.reads();
  NSXPCConnection* client = service.connect();
  expect(call(client, true) == std::nullopt,
         "refused client: the call fails with the connection");
  expect(service.reads() == reads && service.setting() == 0 &&
             !service.held(),
         "refused client: the controller never consulted");
  [client invalidate];
}

}  // namespace
}  // namespace vesk

int main() {
  @autoreleasepool {
    const struct {
      const char* name;
      void (*run)();
    } cases[] = {
        {"renew and release", vesk::renewAndRelease},
        {"another connection", vesk::otherConnectionIsRefusedTheLease},
        {"client that goes away", vesk::clientThatGoesAway},
        {"refused client", vesk::refusedClient},
    };
    for (const auto& c : cases) {
      int before = vesk::failures;
      c.run();
      std::fprintf(stderr, "%s: %s\n", c.name,
                   vesk::failures == before ? "ok" : "FAILED");
    }
    vesk::expect(std::strcmp(vesk::kMachServiceName,
                             BreakSecurityHelperMachServiceName.UTF8String) ==
                     0,
                 "the daemon's Mach service is the one the app connects to");
  }
  return vesk::failures == 0 ? 0 : 1;
}
