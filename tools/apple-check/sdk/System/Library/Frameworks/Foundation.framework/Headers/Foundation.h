// Declaration-only stand-in for the parts of the macOS 13 SDK's Foundation
// framework (<Foundation/Foundation.h>) that the Apple code uses, written
// from Apple's Foundation reference (NSXPCConnection.h, NSRunLoop.h,
// NSString.h, NSError.h, NSDate.h, NSProcessInfo.h). Each declaration names
// the SDK header it comes from; each class holds only the members the code
// uses, with the SDK's signatures, nullability and availability.

#ifndef VESK_APPLE_CHECK_FOUNDATION_H_
#define VESK_APPLE_CHECK_FOUNDATION_H_

#include <CoreFoundation/CoreFoundation.h>
#include <bsm/audit.h>
#include <objc/NSObject.h>
#include <os/availability.h>
#include <sys/types.h>

#ifdef __OBJC__

// NSObjCRuntime.h
#define NS_DESIGNATED_INITIALIZER __attribute__((objc_designated_initializer))
#define NS_UNAVAILABLE __attribute__((unavailable))
#define NS_RETURNS_INNER_POINTER __attribute__((objc_returns_inner_pointer))
// NSObjCRuntime.h: ARC keeps the object until the end of the variable's
// scope, not only until its last use.
#define NS_VALID_UNTIL_END_OF_SCOPE __attribute__((objc_precise_lifetime))
#define NS_ASSUME_NONNULL_BEGIN _Pragma("clang assume_nonnull begin")
#define NS_ASSUME_NONNULL_END _Pragma("clang assume_nonnull end")
#define NS_SWIFT_NAME(name)
#define NS_ENUM(_type, _name) CF_ENUM(_type, _name)
#define NS_OPTIONS(_type, _name) CF_OPTIONS(_type, _name)
#ifdef __cplusplus
#define FOUNDATION_EXPORT extern "C"
#else
#define FOUNDATION_EXPORT extern
#endif

NS_ASSUME_NONNULL_BEGIN

typedef struct _NSZone NSZone;  // NSZone.h
typedef double NSTimeInterval;  // NSDate.h
typedef NSUInteger NSStringEncoding;  // NSString.h
enum { NSUTF8StringEncoding = 4 };    // NSString.h

@class NSCoder;
@class NSXPCConnection;
@class NSXPCListener;

// NSObject.h
@protocol NSCopying
- (id)copyWithZone:(nullable NSZone*)zone;
@end
@protocol NSCoding
- (void)encodeWithCoder:(NSCoder*)coder;
- (nullable instancetype)initWithCoder:(NSCoder*)coder;
@end
@protocol NSSecureCoding <NSCoding>
@property(class, readonly) BOOL supportsSecureCoding;
@end

// NSString.h
@interface NSString : NSObject <NSCopying, NSSecureCoding>
@property(readonly) NSUInteger length;
+ (nullable instancetype)stringWithUTF8String:(const char*)nullTerminatedCString;
- (nullable instancetype)initWithUTF8String:(const char*)nullTerminatedCString;
- (nullable instancetype)initWithBytes:(const void*)bytes
                                length:(NSUInteger)len
                              encoding:(NSStringEncoding)encoding;
@property(nullable, readonly) const char* UTF8String NS_RETURNS_INNER_POINTER;
- (BOOL)isEqualToString:(NSString*)aString;
@end
// NSString.h: the class of @"..." literals.
@interface NSConstantString : NSString
@end

// NSError.h
typedef NSString* NSErrorDomain;
@interface NSError : NSObject <NSCopying, NSSecureCoding>
@property(readonly, copy) NSErrorDomain domain;
@property(readonly) NSInteger code;
@property(readonly, copy) NSString* localizedDescription;
@end

// NSDate.h
@interface NSDate : NSObject <NSCopying, NSSecureCoding>
+ (instancetype)date;
+ (instancetype)dateWithTimeIntervalSinceNow:(NSTimeInterval)secs;
@property(class, readonly, copy) NSDate* distantFuture;
@end

// NSRunLoop.h
typedef NSString* NSRunLoopMode;
FOUNDATION_EXPORT NSRunLoopMode const NSDefaultRunLoopMode;  // NSRunLoop.h
@interface NSRunLoop : NSObject
@property(class, readonly, strong) NSRunLoop* currentRunLoop;
@property(class, readonly, strong) NSRunLoop* mainRunLoop;
- (void)run;
- (void)runUntilDate:(NSDate*)limitDate;
- (BOOL)runMode:(NSRunLoopMode)mode beforeDate:(NSDate*)limitDate;
@end

// NSProcessInfo.h
@interface NSProcessInfo : NSObject
@property(class, readonly, strong) NSProcessInfo* processInfo;
@property(readonly) int processIdentifier;
// Seconds since boot, not counting sleep (the CLOCK_UPTIME_RAW count).
@property(readonly) NSTimeInterval systemUptime;
@end

// --- NSXPCConnection.h ---

// NSXPCConnection.h: connect to a Mach service in the system's domain (a
// launchd daemon) rather than the user's.
typedef NS_OPTIONS(NSUInteger, NSXPCConnectionOptions){
    NSXPCConnectionPrivileged = (1 << 12UL),
} API_AVAILABLE(macos(10.8));

// NSXPCConnection.h
@interface NSXPCListenerEndpoint : NSObject <NSSecureCoding>
@end

// NSXPCConnection.h
@interface NSXPCInterface : NSObject
+ (NSXPCInterface*)interfaceWithProtocol:(Protocol*)protocol;
@property(assign) Protocol* protocol;
@end

// NSXPCConnection.h
@protocol NSXPCProxyCreating
- (id)remoteObjectProxy;
- (id)remoteObjectProxyWithErrorHandler:(void (^)(NSError* error))handler;
@optional
- (id)synchronousRemoteObjectProxyWithErrorHandler:
    (void (^)(NSError* error))handler API_AVAILABLE(macos(10.11));
@end

// NSXPCConnection.h
@interface NSXPCConnection : NSObject <NSXPCProxyCreating>
- (instancetype)initWithServiceName:(NSString*)serviceName;
- (instancetype)initWithMachServiceName:(NSString*)name
                                options:(NSXPCConnectionOptions)options;
- (instancetype)initWithListenerEndpoint:(NSXPCListenerEndpoint*)endpoint;
@property(nullable, readonly, copy) NSString* serviceName;
@property(readonly, retain) NSXPCListenerEndpoint* endpoint;
@property(nullable, retain) NSXPCInterface* exportedInterface;
@property(nullable, retain) id exportedObject;
@property(nullable, retain) NSXPCInterface* remoteObjectInterface;
@property(readonly, retain) id remoteObjectProxy;
- (id)remoteObjectProxyWithErrorHandler:(void (^)(NSError* error))handler;
- (id)synchronousRemoteObjectProxyWithErrorHandler:
    (void (^)(NSError* error))handler API_AVAILABLE(macos(10.11));
@property(nullable, copy) void (^interruptionHandler)(void);
@property(nullable, copy) void (^invalidationHandler)(void);
- (void)resume;
- (void)suspend;
- (void)activate API_AVAILABLE(macos(11.0));
- (void)invalidate;
@property(readonly) au_asid_t auditSessionIdentifier;
@property(readonly) pid_t processIdentifier;
@property(readonly) uid_t effectiveUserIdentifier;
@property(readonly) gid_t effectiveGroupIdentifier;
+ (nullable NSXPCConnection*)currentConnection API_AVAILABLE(macos(10.8));
- (void)scheduleSendBarrierBlock:(void (^)(void))block API_AVAILABLE(macos(10.15));
// NSXPCConnection.h, macOS 13: every message from the peer is checked
// against the requirement; a mismatch invalidates the connection. Raises an
// exception on malformed requirement text.
- (void)setCodeSigningRequirement:(NSString*)requirement API_AVAILABLE(macos(13.0));
@end

// NSXPCConnection.h: the listener's delegate decides on each new connection.
@protocol NSXPCListenerDelegate <NSObject>
@optional
- (BOOL)listener:(NSXPCListener*)listener
    shouldAcceptNewConnection:(NSXPCConnection*)newConnection;
@end

// NSXPCConnection.h
@interface NSXPCListener : NSObject
+ (NSXPCListener*)serviceListener;
+ (NSXPCListener*)anonymousListener;
- (instancetype)initWithMachServiceName:(NSString*)name NS_DESIGNATED_INITIALIZER;
// Held weakly: whoever creates the listener keeps the delegate alive.
@property(nullable, weak) id<NSXPCListenerDelegate> delegate;
@property(readonly, retain) NSXPCListenerEndpoint* endpoint;
- (void)resume;
- (void)suspend;
- (void)activate API_AVAILABLE(macos(11.0));
- (void)invalidate;
- (void)setConnectionCodeSigningRequirement:(NSString*)requirement
    API_AVAILABLE(macos(13.0));
@end

NS_ASSUME_NONNULL_END

#endif  // __OBJC__

#endif  // VESK_APPLE_CHECK_FOUNDATION_H_
