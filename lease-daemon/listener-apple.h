// The XPC side of the service on Apple platforms: the listener's delegate.
//
// For each new NSXPCConnection the delegate makes one ServiceConnection
// (service_connection.h) that stands for it and runs the controller's accept
// decision on it: verifyClient(), then setUpAcceptedConnection()
// (listener_delegate.h). The client requirement is compiled once, when the
// delegate is made, from the controller's requirement (which never
// changes). The peer's code is looked up by the connection's audit token
// and checked against it; a peer that passes also gets the requirement
// installed as the connection's per-message requirement, during the check,
// and is refused when that cannot be done. An accepted connection then
// gets its exported LeaseEndpoint, its invalidation handler and resume.
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

#include <memory>
#include <optional>
#include <string>

#include "app_identifier.h"
#include "security_helper.h"

NS_ASSUME_NONNULL_BEGIN

namespace vesk {

// The Mach service that launchd registers for the daemon's job,
// "com.vesk.Vesk.break-security".
inline constexpr auto kMachServiceNameText =
    joinNames(kAppIdentifier, ".break-security");
inline constexpr const char* kMachServiceName = kMachServiceNameText.data();

}  // namespace vesk

@interface VeskListenerDelegate : NSObject <NSXPCListenerDelegate>

// The daemon's delegate: clients must satisfy the controller's requirement,
// in the text the daemon forms for it (requirementText()). Every connection
// is refused when the controller has none, and once it is gone.
- (instancetype)initWithHelper:(std::weak_ptr<vesk::SecurityHelper>)helper;

// The same decision against `text`, a requirement in Apple's code
// requirement language, in place of the controller's requirement: a test
// signs itself ad hoc, with an identifier of its choosing and no team. An
// absent text, or one that does not compile, refuses every connection.
- (instancetype)initWithHelper:(std::weak_ptr<vesk::SecurityHelper>)helper
               requirementText:(const std::optional<std::string>&)text
    NS_DESIGNATED_INITIALIZER;

- (instancetype)init NS_UNAVAILABLE;

@end

NS_ASSUME_NONNULL_END

#endif  // VESK_LEASE_DAEMON_LISTENER_APPLE_H_
