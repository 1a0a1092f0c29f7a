// The service on Linux: one thread with epoll over the listening socket, an
// eventfd that replies use to wake it (ReplyWakeup), and every accepted
// connection (socket_connection-linux.h). The service thread alone accepts,
// reads and sends; what a client controls is closed by the DeferredCloser.

#include <errno.h>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <thread>
#include <unordered_map>
#include <utility>

#include "deferred_closer.h"
#include "descriptor.h"
#include "listener.h"
#include "service_socket-linux.h"
#include "socket_connection-linux.h"

namespace vesk {

namespace {

// Connections accepted in one go before the others get their turn.
constexpr int kAcceptBatch = 32;

// While accept() fails for want of descriptors or memory, or accepting
// would eat into the reserve, the listening socket is left alone for this
// long (or until a connection closes) instead of spinning on it.
constexpr int kAcceptPauseMilliseconds = 100;

// Descriptors a new connection takes while it is checked: its socket, its
// process handle, the peer's /proc directory and its executable.
constexpr rlim_t kDescriptorsPerNewConnection = 4;

// True when one more connection can be taken without touching the
// descriptors kept for the lease queue. The size of /proc/self/fd is the
// number of open descriptors (Linux 6.2 and later); without a figure there
// is no room.
bool roomForConnection() {
  struct rlimit limit;
  struct stat openDescriptors;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 ||
      stat("/proc/self/fd", &openDescriptors) != 0 ||
      openDescriptors.st_size < 0) {
    return false;
  }
  return static_cast<rlim_t>(openDescriptors.st_size) +
             kDescriptorsPerNewConnection + kReservedDescriptors <=
         limit.rlim_cur;
}

constexpr uint64_t kListenerId = 0;
constexpr uint64_t kWakeupId = 1;
constexpr uint64_t kFirstConnectionId = 2;

class SocketListener : public Listener {
 public:
  SocketListener(Descriptor listenFd, Descriptor epollFd,
                 std::shared_ptr<ReplyWakeup> wakeup, Delegate delegate)
      : listenFd_(std::move(listenFd)),
        epollFd_(std::move(epollFd)),
        wakeup_(std::move(wakeup)),
        delegate_(std::move(delegate)) {}

  ~SocketListener() override {
    if (thread_.joinable()) {
      stopping_.store(true);
      wakeup_->signal();
      thread_.join();
    }
    for (auto& [id, connection] : connections_) connection->invalidate();
    connections_.clear();
  }

  bool resume() override {
    if (thread_.joinable()) return false;
    if (!watch(listenFd_.get(), kListenerId, EPOLLIN) ||
        !watch(wakeup_->fd(), kWakeupId, EPOLLIN)) {
      return false;
    }
    try {
      thread_ = std::thread([this] { serve(); });
    } catch (...) {
      return false;
    }
    return true;
  }

 private:
  bool watch(int fd, uint64_t id, uint32_t events) {
    struct epoll_event event = {};
    event.events = events;
    event.data.u64 = id;
    return epoll_ctl(epollFd_.get(), EPOLL_CTL_ADD, fd, &event) == 0;
  }

  void rewatch(int fd, uint64_t id, uint32_t events) {
    struct epoll_event event = {};
    event.events = events;
    event.data.u64 = id;
    epoll_ctl(epollFd_.get(), EPOLL_CTL_MOD, fd, &event);
  }

  void serve() {
    constexpr int kMaxEvents = 64;
    struct epoll_event events[kMaxEvents];
    while (!stopping_.load()) {
      // While accepting is paused, wake up when the pause is over even if
      // other connections keep the service busy.
      int timeout = -1;
      if (acceptPaused_) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            acceptPausedUntil_ - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
          resumeAccepting();
        } else {
          timeout = static_cast<int>(left.count());
        }
      }
      int n = epoll_wait(epollFd_.get(), events, kMaxEvents, timeout);
      if (n < 0 && errno != EINTR) return;
      for (int i = 0; i < n; ++i) {
        uint64_t id = events[i].data.u64;
        if (id == kListenerId) {
          acceptConnections();
        } else if (id == kWakeupId) {
          sendDueReplies();
        } else {
          serveConnection(id, events[i].events);
        }
      }
    }
  }

  void pauseAccepting() {
    acceptPaused_ = true;
    acceptPausedUntil_ = std::chrono::steady_clock::now() +
                         std::chrono::milliseconds(kAcceptPauseMilliseconds);
    rewatch(listenFd_.get(), kListenerId, 0);
  }

  void resumeAccepting() {
    acceptPaused_ = false;
    rewatch(listenFd_.get(), kListenerId, EPOLLIN);
  }

  void acceptConnections() {
    for (int i = 0; i < kAcceptBatch; ++i) {
      if (!roomForConnection()) {
        pauseAccepting();
        return;
      }
      Descriptor socket(accept4(listenFd_.get(), nullptr, nullptr,
                                SOCK_NONBLOCK | SOCK_CLOEXEC));
      if (!socket.valid()) {
        if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO) {
          continue;
        }
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS ||
            errno == ENOMEM) {
          pauseAccepting();
        }
        return;
      }
      // Inherited from the listening socket when that had it before the
      // peer connected; set again for a socket handed over without it.
      int on = 1;
      setsockopt(socket.get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
      refusePassedDescriptors(socket.get());
      auto connection = std::make_shared<SocketConnection>(std::move(socket),
                                                           wakeup_, closer_);
      // A user at the cap is refused before any check of the peer: its
      // connections cost the service nothing more.
      std::optional<uid_t> user = connection->effectiveUserIdentifier();
      bool accepted =
          (!user || connectionsOf(*user) < kMaxConnectionsPerUser) &&
          delegate_(connection) && connection->resumed();
      if (!accepted) {
        // Refused: closed without reading anything from it. Nothing was
        // installed on it, so there is nothing to run.
        connection->invalidate();
        continue;
      }
      uint64_t id = nextId_++;
      connection->setId(id);
      if (!watch(connection->fd(), id, connection->wantedEvents())) {
        finish(connection);
        continue;
      }
      if (user) ++connectionsPerUser_[*user];
      connections_.emplace(id, std::move(connection));
    }
  }

  size_t connectionsOf(uid_t user) const {
    auto it = connectionsPerUser_.find(user);
    return it == connectionsPerUser_.end() ? 0 : it->second;
  }

  void serveConnection(uint64_t id, uint32_t events) {
    auto it = connections_.find(id);
    if (it == connections_.end()) return;
    std::shared_ptr<SocketConnection> connection = it->second;
    if ((events & EPOLLERR) != 0) {
      finish(connection);
      return;
    }
    if ((events & EPOLLIN) != 0) {
      if (connection->readRequests() ==
          SocketConnection::ReadResult::kInvalid) {
        finish(connection);
        return;
      }
    }
    if ((events & (EPOLLHUP | EPOLLRDHUP)) != 0) {
      finish(connection);
      return;
    }
    if ((events & EPOLLOUT) != 0 && !connection->sendReplies()) {
      finish(connection);
      return;
    }
    updateInterest(*connection);
  }

  void sendDueReplies() {
    for (std::weak_ptr<SocketConnection>& weak : wakeup_->take()) {
      std::shared_ptr<SocketConnection> connection = weak.lock();
      if (!connection || !connection->open()) continue;
      if (!connection->sendReplies()) {
        finish(connection);
        continue;
      }
      updateInterest(*connection);
    }
  }

  void updateInterest(SocketConnection& connection) {
    if (!connection.open()) return;
    rewatch(connection.fd(), connection.id(), connection.wantedEvents());
  }

  // Invalidation: close at once, forget, then run the handler.
  void finish(const std::shared_ptr<SocketConnection>& connection) {
    if (!connection->open()) return;
    epoll_ctl(epollFd_.get(), EPOLL_CTL_DEL, connection->fd(), nullptr);
    std::function<void()> handler = connection->invalidate();
    if (connections_.erase(connection->id()) != 0) {
      std::optional<uid_t> user = connection->effectiveUserIdentifier();
      if (user && --connectionsPerUser_[*user] == 0) {
        connectionsPerUser_.erase(*user);
      }
    }
    if (acceptPaused_) resumeAccepting();
    if (handler) handler();
  }

  const Descriptor listenFd_;
  const Descriptor epollFd_;
  const std::shared_ptr<ReplyWakeup> wakeup_;
  const std::shared_ptr<DeferredCloser> closer_ =
      std::make_shared<DeferredCloser>();
  const Delegate delegate_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;

  // Service thread only.
  std::unordered_map<uint64_t, std::shared_ptr<SocketConnection>> connections_;
  // Open accepted connections by the peer's user id.
  std::unordered_map<uid_t, size_t> connectionsPerUser_;
  uint64_t nextId_ = kFirstConnectionId;
  bool acceptPaused_ = false;
  std::chrono::steady_clock::time_point acceptPausedUntil_;
};

}  // namespace

bool raiseDescriptorLimit() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  limit.rlim_cur = limit.rlim_max;
  return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

std::unique_ptr<Listener> Listener::create(Descriptor listeningSocket,
                                           Delegate delegate) {
  if (!listeningSocket.valid()) return nullptr;
  int flags = fcntl(listeningSocket.get(), F_GETFL);
  if (flags < 0 ||
      fcntl(listeningSocket.get(), F_SETFL, flags | O_NONBLOCK) != 0) {
    return nullptr;
  }
  Descriptor epollFd(epoll_create1(EPOLL_CLOEXEC));
  Descriptor eventFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!epollFd.valid() || !eventFd.valid()) return nullptr;
  return std::make_unique<SocketListener>(
      std::move(listeningSocket), std::move(epollFd),
      std::make_shared<ReplyWakeup>(std::move(eventFd)), std::move(delegate));
}

}  // namespace vesk
