// The XPC service in one process: an anonymous NSXPCListener with the
// daemon's delegate class, clients made from its endpoint, and the real
// lease controller on fakes (lease_harness.h). A plain program: it prints
// each failed expectation and exits 1 when there was one.
//
//   listener-apple_test IDENTIFIER
//
// The program must run signed ad hoc as IDENTIFIER (signed_run.sh does
// that), so that the real client check runs on it: the audit-token lookup
// of its own code, SecCodeCheckValidity with a compiled requirement, and
// the per-message requirement. A delegate checking a requirement that the
// signature satisfies serves the lease; one checking any other requirement
// refuses, and so does the daemon's own delegate, whose controller has no
// requirement (an ad hoc signature has no team). Clients running as root
// are refused whatever they are signed as, so the program skips (77) as
// root.

#import <Foundation/Foundation.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#import "BreakSecurityHelperProtocol.h"
#include "client_requirement.h"
#include "lease_harness.h"
#import "listener-apple.h"

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

// A controller on fakes, served by an anonymous listener whose delegate
// checks clients against `requirementText`, or is the daemon's own
// delegate when it is absent.
class Service {
 public:
  explicit Service(const std::optional<std::string>& requirementText) {
    harness_.start();
    std::weak_ptr<SecurityHelper> helper = harness_.helper;
    if (requirementText) {
      delegate_ = [[VeskListenerDelegate alloc] initWithHelper:helper
                                               requirementText:requirementText];
    } else {
      delegate_ = [[VeskListenerDelegate alloc] initWithHelper:helper];
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

// The identifier this program is signed with, from the command line.
std::string identifier;

// A requirement that this program's ad hoc signature satisfies.
std::string satisfied() { return "identifier \"" + identifier + "\""; }

void renewAndRelease() {
  Service service(satisfied());
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
  Service service(satisfied());
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
  Service service(satisfied());
  NSXPCConnection* client = service.connect();
  expect(call(client, true) == true, "renew before going away: YES");
  [client invalidate];
  expect(Service::waitUntil([&] {
           return !service.held() && service.setting() == 0 &&
                  !service.stateFileExists();
         }),
         "client gone: lease dropped and setting restored");
}

// Requirements this program does not satisfy, and the daemon's own
// delegate: each refuses the connection before the controller is asked.
void refusedClients() {
  const struct {
    const char* name;
    std::optional<std::string> requirement;
  } cases[] = {
      {"another identifier", "identifier \"" + identifier + ".other\""},
      {"the identifier, Apple-anchored",
       satisfied() + " and anchor apple generic"},
      {"the daemon's own form, for a team",
       clientRequirementText(std::string("ABCDE12345"))},
      {"a text that does not compile", "identifier"},
      {"the daemon's delegate, controller without a requirement",
       std::nullopt},
  };
  for (const auto& c : cases) {
    Service service(c.requirement);
    const int reads = service.reads();
    NSXPCConnection* client = service.connect();
    expect(call(client, true) == std::nullopt,
           std::string(c.name) + ": the call fails with the connection");
    expect(call(client, false) == std::nullopt,
           std::string(c.name) + ": so does a release");
    expect(service.reads() == reads && service.setting() == 0 &&
               !service.held(),
           std::string(c.name) + ": the controller never consulted");
    [client invalidate];
  }
}

}  // namespace
}  // namespace vesk

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: listener-apple_test IDENTIFIER\n");
    return 2;
  }
  if (geteuid() == 0) {
    std::fprintf(stderr, "skipped: root clients are always refused\n");
    return 77;
  }
  vesk::identifier = argv[1];
  @autoreleasepool {
    const struct {
      const char* name;
      void (*run)();
    } cases[] = {
        {"renew and release", vesk::renewAndRelease},
        {"another connection", vesk::otherConnectionIsRefusedTheLease},
        {"client that goes away", vesk::clientThatGoesAway},
        {"refused clients", vesk::refusedClients},
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
