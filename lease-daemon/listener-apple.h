// The XPC side of the service on Apple platforms: the listener's delegate.
//
// For each new NSXPCConnection the delegate makes one ServiceConnection
// (service_connection.h) that stands for it, and asks its accept decision
// about it. The daemon's decision is the controller's
// shouldAcceptNewConnection() (listener_delegate.h); an accepted connection
// gets the per-message code requirement it was verified against, its
// exported LeaseEndpoint, its invalidation handler and resume.
//
// Ownership: the NSXPCListener holds its delegate weakly, so whoever creates
// the listener keeps the delegate alive (the daemon entry does, for the life
// of the process); the delegate holds the controller weakly. An accepted
// NSXPCConnection holds its exported object strongly, which holds the
// LeaseEndpoint and the connection's ServiceConnection; the ServiceConnection
// holds the NSXPCConnection only weakly, so no cycle forms, and the same
// NSXPCConnection is always the same ServiceConnection to the controller
// for as long as either lives.
//
// Threading: the delegate method runs on the listener's queue; the exported
// object's methods and the invalidation handler on the connection's queue.
// None of them touches lease state; that work goes to the lease queue.

#ifndef VESK_LEASE_DAEMON_LISTENER_APPLE_H_
#define VESK_LEASE_DAEMON_LISTENER_APPLE_H_

#import <Foundation/Foundation.h>

#include <functional>
#include <memory>

#include "app_identifier.h"
#include "security_helper.h"
#include "service_connection.h"

NS_ASSUME_NONNULL_BEGIN

namespace vesk {

// The Mach service that launchd registers for the daemon's job,
// "com.vesk.Vesk.break-security".
inline constexpr auto kMachServiceNameText =
    joinNames(kAppIdentifier, ".break-security");
inline constexpr const char* kMachServiceName = kMachServiceNameText.data();

// Decides on one new connection, on the listener's queue: true accepts (and
// the decision has then resumed the connection), false refuses (the
// connection is left untouched and dropped by XPC).
using AcceptDecision =
    std::function<bool(const std::shared_ptr<ServiceConnection>&)>;

}  // namespace vesk

@interface VeskListenerDelegate : NSObject <NSXPCListenerDelegate>

// The daemon's delegate: shouldAcceptNewConnection() with `helper`, refusing
// every connection once the controller is gone.
- (instancetype)initWithHelper:(std::weak_ptr<vesk::SecurityHelper>)helper;

// A delegate that asks `decision`.
- (instancetype)initWithDecision:(vesk::AcceptDecision)decision
    NS_DESIGNATED_INITIALIZER;

- (instancetype)init NS_UNAVAILABLE;

@end

NS_ASSUME_NONNULL_END

#endif  // VESK_LEASE_DAEMON_LISTENER_APPLE_H_
