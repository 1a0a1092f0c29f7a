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

// The requirement a delegate checks clients against, made once: the
// neutral requirement that verifyClient() is given (the controller's, or an
// empty one where a text stands in its place) and its compiled text.
struct ClientRequirement {
  CodeRequirement requirement;
  CompiledRequirement compiled;
};

// Has XPC check every later message of `connection` against `text`, by the
// sender's audit token; XPC invalidates the connection at the first message
// that fails. False when it could not be installed: the call raises on a
// text it does not take, and no exception leaves here.
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
  XPCServiceConnection(NSXPCConnection* connection,
                       std::shared_ptr<const ClientRequirement> client)
      : connection_(connection), client_(std::move(client)) {}

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

  // Against the delegate's compiled form of `requirement`. A peer that
  // satisfies it gets it as the per-message requirement too, here, before
  // the decision: a process that replaced its code after connecting, or
  // another process that sends on the connection, is then cut off. A
  // connection that cannot have it is refused rather than served
  // unchecked.
  bool checkValidity(const CodeRequirement& requirement) override {
    NSXPCConnection* connection = connection_;
    if (connection == nil || !guest_ || !client_ ||
        client_->requirement != requirement ||
        !codeSatisfies(guest_.get(), client_->compiled.compiled.get())) {
      return false;
    }
    return requireOnEveryMessage(connection, client_->compiled.text);
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

  void resume() override {
    NSXPCConnection* connection = connection_;
    if (connection == nil) return;
    [connection resume];
  }

 private:
  __weak NSXPCConnection* connection_;
  const std::shared_ptr<const ClientRequirement> client_;
  CFHolder<SecCodeRef> guest_;
};

// `text` with `requirement`, compiled; null when there is no text or it
// does not compile.
std::shared_ptr<const ClientRequirement> makeClientRequirement(
    const CodeRequirement& requirement,
    const std::optional<std::string>& text) {
  if (!text) return nullptr;
  std::optional<CompiledRequirement> compiled = compileRequirementText(*text);
  if (!compiled) return nullptr;
  return std::make_shared<const ClientRequirement>(
      ClientRequirement{requirement, std::move(*compiled)});
}

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
  std::weak_ptr<vesk::SecurityHelper> _helper;
  std::shared_ptr<const vesk::ClientRequirement> _client;
}

- (instancetype)initWithHelper:(std::weak_ptr<vesk::SecurityHelper>)helper {
  std::shared_ptr<vesk::SecurityHelper> strongHelper = helper.lock();
  std::optional<vesk::CodeRequirement> requirement;
  if (strongHelper) requirement = strongHelper->requirement();
  if ((self = [self initWithHelper:std::move(helper)
                   requirementText:std::nullopt]) &&
      requirement) {
    _client = vesk::makeClientRequirement(*requirement,
                                          vesk::requirementText(*requirement));
  }
  return self;
}

- (instancetype)initWithHelper:(std::weak_ptr<vesk::SecurityHelper>)helper
               requirementText:(const std::optional<std::string>&)text {
  if ((self = [super init])) {
    _helper = std::move(helper);
    _client = vesk::makeClientRequirement(vesk::CodeRequirement{}, text);
  }
  return self;
}

// The controller's accept decision, with the requirement compiled here.
- (BOOL)listener:(NSXPCListener*)listener
    shouldAcceptNewConnection:(NSXPCConnection*)newConnection {
  (void)listener;
  std::shared_ptr<vesk::SecurityHelper> helper = _helper.lock();
  if (!helper || !_client) return NO;
  auto connection =
      std::make_shared<vesk::XPCServiceConnection>(newConnection, _client);
  if (!vesk::verifyClient(_client->requirement, *connection)) return NO;
  vesk::setUpAcceptedConnection(helper, connection);
  return YES;
}

@end
