// The XPC service's delegate and connections on Apple platforms (see
// listener-apple.h).

#import "listener-apple.h"

#import <Foundation/Foundation.h>

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>

#import "BreakSecurityHelperProtocol.h"
#include "cf_holder-apple.h"
#include "code_signing-apple.h"
#include "listener_delegate.h"
#include "protocol.h"

// NSXPCConnection knows the audit token of its peer (XPC checks the
// per-message code requirement against it), but the property is not in the
// public header. It is only used after respondsToSelector: confirms it.
@interface NSXPCConnection (VeskAuditToken)
@property(nonatomic, readonly) audit_token_t auditToken;
@end

NS_ASSUME_NONNULL_BEGIN

// The exported object of one accepted connection: forwards the two calls of
// BreakSecurityHelperProtocol to the connection's LeaseEndpoint. It owns the
// endpoint and the connection's ServiceConnection, so both live exactly as
// long as the NSXPCConnection that owns this object (or, for the
// ServiceConnection, as long as the controller holds it as the lease's
// owner). Its methods run on the connection's queue.
@interface VeskLeaseExport : NSObject <BreakSecurityHelperProtocol>
- (instancetype)
    initWithEndpoint:(std::shared_ptr<vesk::BreakSecurityHelperProtocol>)endpoint
          connection:(std::shared_ptr<vesk::Connection>)connection
    NS_DESIGNATED_INITIALIZER;
- (instancetype)init NS_UNAVAILABLE;
@end

NS_ASSUME_NONNULL_END

namespace vesk {

namespace {

// The reply block as the controller's reply: called once, with the answer
// unchanged. XPC delivers the answer to the client whatever thread calls
// it. A client may have sent no block at all; the lease work still runs.
// (Under ARC the capture retains the block, which copies it to the heap.)
BreakSecurityHelperProtocol::Reply replyTo(void (^_Nullable block)(bool)) {
  return [block](bool answer) {
    if (block != nil) block(answer);
  };
}

// The requirement that XPC checks every message of `connection` against;
// it invalidates the connection at the first message that fails. Installed
// before resume, so that no message escapes it. False when it could not be
// installed (the call raises on a malformed text, which the daemon's own
// text never is; no exception leaves here).
bool requireOnEveryMessage(NSXPCConnection* connection,
                           const std::string& text) {
  NSString* requirement =
      [[NSString alloc] initWithBytes:text.data()
                               length:text.size()
                             encoding:NSUTF8StringEncoding];
  if (requirement == nil) return false;
  @try {
    [connection setCodeSigningRequirement:requirement];
  } @catch (...) {
    return false;
  }
  return true;
}

// One NSXPCConnection as the delegate and the controller see it. Every
// method is called on the listener's queue, during the delegate call.
class XPCServiceConnection final
    : public ServiceConnection,
      public std::enable_shared_from_this<XPCServiceConnection> {
 public:
  explicit XPCServiceConnection(NSXPCConnection* connection)
      : connection_(connection) {}

  std::optional<uid_t> effectiveUserIdentifier() override {
    NSXPCConnection* connection = connection_;
    if (connection == nil) return std::nullopt;
    return connection.effectiveUserIdentifier;
  }

  // By audit token, which names this very process (its id and the id's
  // version); by process id only where the connection offers no token.
  bool copyGuestCode() override {
    NSXPCConnection* connection = connection_;
    if (connection == nil) return false;
    if ([connection respondsToSelector:@selector(auditToken)]) {
      guest_ = guestCodeForAuditToken(connection.auditToken);
    } else {
      guest_ = guestCodeForProcess(connection.processIdentifier);
    }
    return guest_ != nullptr;
  }

  // On success the requirement is also kept for every later message: see
  // resume().
  bool checkValidity(const CodeRequirement& requirement) override {
    if (!guest_ || !codeSatisfies(guest_.get(), requirement)) return false;
    messageRequirement_ = requirementText(requirement);
    return messageRequirement_.has_value();
  }

  void setExportedObject(
      std::shared_ptr<BreakSecurityHelperProtocol> object) override {
    NSXPCConnection* connection = connection_;
    if (connection == nil) return;
    connection.exportedInterface = [NSXPCInterface
        interfaceWithProtocol:@protocol(BreakSecurityHelperProtocol)];
    connection.exportedObject =
        [[VeskLeaseExport alloc] initWithEndpoint:std::move(object)
                                       connection:shared_from_this()];
  }

  // The block holds only what `handler` holds (the controller and this
  // object, both weakly), so the NSXPCConnection that owns it owns no
  // cycle.
  void setInvalidationHandler(std::function<void()> handler) override {
    NSXPCConnection* connection = connection_;
    if (connection == nil) return;
    connection.invalidationHandler = ^{
      handler();
    };
  }

  // A connection that passed checkValidity() has that requirement checked
  // by XPC on every message from then on: a process that replaced its code
  // after connecting, or another process that sends on the connection, is
  // cut off. If that cannot be set up the connection is invalidated rather
  // than served unchecked.
  void resume() override {
    NSXPCConnection* connection = connection_;
    if (connection == nil) return;
    if (messageRequirement_ &&
        !requireOnEveryMessage(connection, *messageRequirement_)) {
      [connection invalidate];
      return;
    }
    [connection resume];
  }

 private:
  __weak NSXPCConnection* connection_;
  CFHolder<SecCodeRef> guest_;
  std::optional<std::string> messageRequirement_;
};

}  // namespace

}  // namespace vesk

@implementation VeskLeaseExport {
  std::shared_ptr<vesk::BreakSecurityHelperProtocol> _endpoint;
  std::shared_ptr<vesk::Connection> _connection;
}

- (instancetype)
    initWithEndpoint:(std::shared_ptr<vesk::BreakSecurityHelperProtocol>)endpoint
          connection:(std::shared_ptr<vesk::Connection>)connection {
  if ((self = [super init])) {
    _endpoint = std::move(endpoint);
    _connection = std::move(connection);
  }
  return self;
}

- (void)renewLeaseWithReply:(void (^)(bool))reply {
  _endpoint->renewLease(vesk::replyTo(reply));
}

- (void)releaseLeaseWithReply:(void (^)(bool))reply {
  _endpoint->releaseLease(vesk::replyTo(reply));
}

@end

@implementation VeskListenerDelegate {
  vesk::AcceptDecision _decision;
}

- (instancetype)initWithHelper:(std::weak_ptr<vesk::SecurityHelper>)helper {
  vesk::AcceptDecision decision =
      [helper = std::move(helper)](
          const std::shared_ptr<vesk::ServiceConnection>& connection) {
        std::shared_ptr<vesk::SecurityHelper> strongHelper = helper.lock();
        return strongHelper != nullptr &&
               vesk::shouldAcceptNewConnection(strongHelper, connection);
      };
  return [self initWithDecision:std::move(decision)];
}

- (instancetype)initWithDecision:(vesk::AcceptDecision)decision {
  if ((self = [super init])) _decision = std::move(decision);
  return self;
}

- (BOOL)listener:(NSXPCListener*)listener
    shouldAcceptNewConnection:(NSXPCConnection*)newConnection {
  (void)listener;
  auto connection =
      std::make_shared<vesk::XPCServiceConnection>(newConnection);
  return _decision && _decision(connection) ? YES : NO;
}

@end
