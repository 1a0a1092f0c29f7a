// Uses every declaration of include/ the way the Apple layer does, so that
// the declarations themselves are checked under ARC and blocks before any
// product file relies on them. Syntax-checked only; never built or run.

#include <CommonCrypto/CommonDigest.h>
#include <CoreFoundation/CoreFoundation.h>
#include <Foundation/Foundation.h>
#include <Security/Security.h>
#include <bsm/libbsm.h>
#include <dispatch/dispatch.h>
#include <objc/runtime.h>
#include <time.h>

@protocol CheckedProtocol
- (void)renewLeaseWithReply:(void (^)(BOOL))reply;
@end

// The connection's audit token is not in the public header.
@interface NSXPCConnection (CheckedAuditToken)
@property(readonly) audit_token_t auditToken;
@end

@interface CheckedDelegate : NSObject <NSXPCListenerDelegate, CheckedProtocol>
@end

@implementation CheckedDelegate
- (void)renewLeaseWithReply:(void (^)(BOOL))reply {
  reply(YES);
}
- (BOOL)listener:(NSXPCListener*)listener
    shouldAcceptNewConnection:(NSXPCConnection*)connection {
  (void)listener;
  if (connection.effectiveUserIdentifier == 0) return NO;
  SecCodeRef guest = NULL;
  CFDictionaryRef attributes = NULL;
  if ([connection respondsToSelector:@selector(auditToken)]) {
    audit_token_t token = connection.auditToken;
    CFDataRef data =
        CFDataCreate(kCFAllocatorDefault,
                     reinterpret_cast<const UInt8*>(&token), sizeof token);
    const void* keys[] = {kSecGuestAttributeAudit};
    const void* values[] = {data};
    attributes = CFDictionaryCreate(kCFAllocatorDefault, keys, values, 1,
                                    &kCFTypeDictionaryKeyCallBacks,
                                    &kCFTypeDictionaryValueCallBacks);
    CFRelease(data);
  } else {
    int pid = connection.processIdentifier;
    CFNumberRef number = CFNumberCreate(nullptr, kCFNumberIntType, &pid);
    attributes = CFDictionaryCreate(
        nullptr, (const void**)&kSecGuestAttributePid, (const void**)&number, 1,
        &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFRelease(number);
  }
  SecRequirementRef requirement = NULL;
  OSStatus status = SecRequirementCreateWithString(
      CFSTR("anchor apple generic"), kSecCSDefaultFlags, &requirement);
  if (status == errSecSuccess) {
    status = SecCodeCopyGuestWithAttributes(nullptr, attributes,
                                            kSecCSDefaultFlags, &guest);
  }
  if (status == errSecSuccess) {
    status = SecCodeCheckValidity(guest, kSecCSDefaultFlags, requirement);
  }
  if (guest) CFRelease(guest);
  if (requirement) CFRelease(requirement);
  CFRelease(attributes);
  if (status != errSecSuccess) return NO;

  [connection setCodeSigningRequirement:@"anchor apple generic"];
  connection.exportedInterface =
      [NSXPCInterface interfaceWithProtocol:@protocol(CheckedProtocol)];
  connection.exportedObject = self;
  __weak NSXPCConnection* weakConnection = connection;
  connection.invalidationHandler = ^{
    (void)weakConnection;
  };
  [connection resume];
  return YES;
}
@end

static void tick(void* context) { (void)context; }

static bool ownTeam(char* team, CFIndex size) {
  SecCodeRef self = NULL;
  SecStaticCodeRef onDisk = NULL;
  CFDictionaryRef information = NULL;
  bool found = false;
  if (SecCodeCopySelf(kSecCSDefaultFlags, &self) == errSecSuccess &&
      SecCodeCheckValidity(self, kSecCSDefaultFlags, NULL) == errSecSuccess &&
      SecCodeCopyStaticCode(self, kSecCSDefaultFlags, &onDisk) ==
          errSecSuccess &&
      SecCodeCopySigningInformation(onDisk, kSecCSSigningInformation,
                                    &information) == errSecSuccess) {
    CFTypeRef value =
        CFDictionaryGetValue(information, kSecCodeInfoTeamIdentifier);
    found = value != NULL && CFGetTypeID(value) == CFStringGetTypeID() &&
            CFStringGetCString(static_cast<CFStringRef>(value), team, size,
                               kCFStringEncodingUTF8);
  }
  if (information) CFRelease(information);
  if (onDisk) CFRelease(onDisk);
  if (self) CFRelease(self);
  return found;
}

int main() {
  char team[64];
  (void)ownTeam(team, sizeof team);

  unsigned char digest[CC_SHA256_DIGEST_LENGTH];
  CC_SHA256_CTX context;
  CC_SHA256_Init(&context);
  CC_SHA256_Update(&context, "abc", 3);
  CC_SHA256_Final(digest, &context);
  (void)clock_gettime_nsec_np(CLOCK_UPTIME_RAW);

  dispatch_queue_t queue =
      dispatch_queue_create("Vesk.break-security.lease", DISPATCH_QUEUE_SERIAL);
  dispatch_source_t timer =
      dispatch_source_create(DISPATCH_SOURCE_TYPE_TIMER, 0, 0, queue);
  dispatch_set_context(timer, nullptr);
  dispatch_source_set_event_handler_f(timer, tick);
  dispatch_source_set_timer(
      timer, dispatch_time(DISPATCH_TIME_NOW, NSEC_PER_SEC), NSEC_PER_SEC, 0);
  dispatch_activate(timer);
  dispatch_async_f(queue, nullptr, tick);
  dispatch_sync_f(queue, nullptr, tick);

  struct objc_method_description method = protocol_getMethodDescription(
      @protocol(CheckedProtocol), @selector(renewLeaseWithReply:), YES, YES);
  (void)method;

  CheckedDelegate* delegate = [[CheckedDelegate alloc] init];
  NSXPCListener* listener = [NSXPCListener anonymousListener];
  listener.delegate = delegate;
  [listener resume];
  NSXPCConnection* client =
      [[NSXPCConnection alloc] initWithListenerEndpoint:listener.endpoint];
  NSXPCConnection* privileged = [[NSXPCConnection alloc]
      initWithMachServiceName:@"com.vesk.Vesk.break-security"
                      options:NSXPCConnectionPrivileged];
  (void)privileged;
  client.remoteObjectInterface =
      [NSXPCInterface interfaceWithProtocol:@protocol(CheckedProtocol)];
  [client resume];
  id<CheckedProtocol> proxy =
      [client synchronousRemoteObjectProxyWithErrorHandler:^(NSError* error) {
        (void)error.code;
      }];
  [proxy renewLeaseWithReply:^(BOOL granted) {
    (void)granted;
  }];
  (void)NSProcessInfo.processInfo.systemUptime;
  [[NSRunLoop currentRunLoop] run];
  return 0;
}
