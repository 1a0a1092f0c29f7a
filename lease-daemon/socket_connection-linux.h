// One accepted connection of the Linux service (listener-linux.cc): the
// peer's facts, the reading and checking of its requests, and its replies.
//
// Replies are produced on other threads (the lease queue). They never touch
// the socket: they are stored in the connection's ReplyQueue, and the
// connection is posted to the service thread through its ReplyWakeup; the
// service thread alone sends, reads and closes.

#ifndef VESK_LEASE_DAEMON_SOCKET_CONNECTION_LINUX_H_
#define VESK_LEASE_DAEMON_SOCKET_CONNECTION_LINUX_H_

#include <sys/socket.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "deferred_closer.h"
#include "descriptor.h"
#include "protocol.h"
#include "reply_queue.h"
#include "service_connection.h"

namespace vesk {

class SocketConnection;

// Hands connections with new replies (or a stop request) to the service
// thread over an eventfd.
class ReplyWakeup {
 public:
  explicit ReplyWakeup(Descriptor eventFd) : eventFd_(std::move(eventFd)) {}

  int fd() const { return eventFd_.get(); }

  // Any thread.
  void post(std::weak_ptr<SocketConnection> connection);
  void signal();

  // Service thread: the connections posted since the last call.
  std::vector<std::weak_ptr<SocketConnection>> take();

 private:
  const Descriptor eventFd_;
  std::mutex mutex_;
  std::vector<std::weak_ptr<SocketConnection>> ready_;
};

class SocketConnection : public ServiceConnection,
                         public std::enable_shared_from_this<SocketConnection> {
 public:
  enum class ReadResult { kDone, kMore, kInvalid };

  // Takes `socket`, an accepted non-blocking socket, and reads its peer's
  // credentials. The socket, and any descriptor the peer sends, is closed
  // by `closer`, never on the calling thread.
  SocketConnection(Descriptor socket, std::shared_ptr<ReplyWakeup> wakeup,
                   std::shared_ptr<DeferredCloser> closer);
  ~SocketConnection() override;

  // ServiceConnection, called by the delegate on the service thread.
  std::optional<uid_t> effectiveUserIdentifier() override;
  bool copyGuestCode() override;
  bool checkValidity(const CodeRequirement& requirement) override;
  void setExportedObject(
      std::shared_ptr<BreakSecurityHelperProtocol> object) override;
  void setInvalidationHandler(std::function<void()> handler) override;
  void resume() override { resumed_ = true; }

  // The rest runs on the service thread.

  int fd() const { return socket_.get(); }
  bool resumed() const { return resumed_; }
  bool open() const { return socket_.valid(); }
  uint64_t id() const { return id_; }
  void setId(uint64_t id) { id_ = id; }

  // The epoll events the connection wants now.
  uint32_t wantedEvents() const;

  // Reads and dispatches up to a batch of requests. kInvalid when the peer
  // closed the connection, the socket failed or the peer broke the
  // protocol: a malformed or empty message, one that carries descriptors,
  // or one sent by any process but the verified one.
  ReadResult readRequests();

  // Sends the replies that are due, in request order. False when the socket
  // failed.
  bool sendReplies();

  // Shuts the socket down at once (the peer sees it closed), hands it to
  // the closer, closes the process handle, drops every reply still to come,
  // and hands back the invalidation handler for the caller to run.
  std::function<void()> invalidate();

 private:
  ReadResult receive(std::optional<Request>& request);
  void dispatch(Request request);
  void closeDescriptors();

  Descriptor socket_;
  Descriptor pidfd_;
  std::optional<struct ucred> peer_;
  uint64_t id_ = 0;
  bool resumed_ = false;
  bool wantsWrite_ = false;
  std::shared_ptr<BreakSecurityHelperProtocol> exported_;
  std::function<void()> invalidationHandler_;
  const std::shared_ptr<ReplyWakeup> wakeup_;
  const std::shared_ptr<DeferredCloser> closer_;
  ReplyQueue replies_;
};

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_SOCKET_CONNECTION_LINUX_H_
