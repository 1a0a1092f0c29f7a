// The lease protocol as it travels over the service socket.
//
// A request is one message whose bytes are exactly a selector text, with no
// terminator; a reply is one message of exactly one byte, 1 for YES and 0 for
// NO, one per request, in the order of the requests. Anything else breaks the
// protocol. Pure functions; safe on any thread.

#ifndef VESK_LEASE_DAEMON_PROTOCOL_H_
#define VESK_LEASE_DAEMON_PROTOCOL_H_

#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>

#include "app_identifier.h"

namespace vesk {

// The service socket, "/run/com.vesk.Vesk.break-security".
inline constexpr auto kServiceSocketPathText =
    joinNames("/run/", kAppIdentifier, ".break-security");
inline constexpr const char* kServiceSocketPath = kServiceSocketPathText.data();

inline constexpr std::string_view kRenewSelector = "renewLeaseWithReply:";
inline constexpr std::string_view kReleaseSelector = "releaseLeaseWithReply:";

// Messages longer than this break the protocol.
inline constexpr size_t kMaxMessageSize = 64;

enum class Request { kRenew, kRelease };

// The request that `message` asks for; absent when the message breaks the
// protocol (another text, an empty message, anything longer than 64 bytes).
std::optional<Request> parseRequest(std::string_view message);

// The selector text of `request`.
std::string_view selectorFor(Request request);

// The one reply byte for `answer`, and back. parseReply() is absent for
// anything but a single 0 or 1 byte.
char replyByte(bool answer);
std::optional<bool> parseReply(std::string_view message);

// The exported interface of a verified connection. The service calls these
// on its own thread, one request at a time in arrival order, and must not be
// blocked by them. `reply` must be called exactly once, from any thread
// (within the call too); the service sends the answers in request order.
class BreakSecurityHelperProtocol {
 public:
  using Reply = std::function<void(bool)>;
  virtual ~BreakSecurityHelperProtocol() = default;
  virtual void renewLease(Reply reply) = 0;    // "renewLeaseWithReply:"
  virtual void releaseLease(Reply reply) = 0;  // "releaseLeaseWithReply:"
};

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_PROTOCOL_H_
