// The XPC protocol of VeskBreakSecurityHelper, for the daemon and for the
// Vesk desktop app, which includes this header (from Objective-C, or from
// Swift through its bridging header) so that both sides build their
// NSXPCInterface from one declaration.
//
// A client connects to the Mach service below with
// NSXPCConnectionPrivileged, sets its remoteObjectInterface to
// [NSXPCInterface interfaceWithProtocol:@protocol(BreakSecurityHelperProtocol)]
// and calls the two methods. The daemon serves only a non-root client
// signed with the identifier "com.vesk.Vesk" by the daemon's own team;
// any other client's connection is invalidated.
//
// Each method answers once through its reply block, on a queue of the
// connection. A client renews every few seconds for as long as it wants
// the machine awake; a lease not renewed for 10 seconds of system uptime
// lapses, and one whose connection is invalidated ends at once. Either way
// the setting gets back the value it had before the first lease.
//
// The reply's flag is a C bool on every architecture. NSXPC describes each
// reply block by the method's extended type encoding, and the daemon and
// the app must agree on it: "v24@0:8@?<v@?B>16". BOOL is bool on Apple
// silicon, so there the declaration is exactly `void (^)(BOOL)`; on Intel
// BOOL is signed char, encoded "c", and an Intel build (or the app's Intel
// slice under Rosetta) would describe another block than the Apple silicon
// daemon expects. Swift sees `(Bool) -> Void` either way.

#ifndef VESK_BREAK_SECURITY_HELPER_PROTOCOL_H_
#define VESK_BREAK_SECURITY_HELPER_PROTOCOL_H_

#import <Foundation/Foundation.h>
#include <stdbool.h>

NS_ASSUME_NONNULL_BEGIN

// The Mach service launchd registers for the daemon's job.
static NSString* const BreakSecurityHelperMachServiceName =
    @"com.vesk.Vesk.break-security";

@protocol BreakSecurityHelperProtocol

// Takes or extends the lease, which holds the sleep-disabled setting at 1.
// `reply` gets true when this connection holds the lease for the next 10
// seconds, false when another connection holds it or the setting could not
// be held at 1.
- (void)renewLeaseWithReply:(void (^)(bool granted))reply;

// Ends this connection's lease and writes the setting back. `reply` gets
// true when no lease is held any more, false when another connection
// holds it or the setting could not be written back.
- (void)releaseLeaseWithReply:(void (^)(bool released))reply;

@end

NS_ASSUME_NONNULL_END

#endif  // VESK_BREAK_SECURITY_HELPER_PROTOCOL_H_
