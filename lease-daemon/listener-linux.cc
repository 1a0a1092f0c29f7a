// The service on Linux: one thread with epoll over the listening socket, an
// eventfd that replies use to wake it, and every accepted connection.
//
// Replies are produced on other threads (the lease queue). They never touch
// a socket: they store their byte in the connection under its mutex and queue
// the connection for the service thread, which alone sends, reads, accepts
// and closes.

#include <errno.h>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "listener.h"
#include "pidfd-linux.h"
#include "protocol.h"

#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77
#endif

namespace vesk {

namespace {

// Requests of one connection whose replies have not gone out yet. At this
// bound the service stops reading from the connection until replies have
// been sent, so a peer that floods requests or does not read its replies
// holds up only itself and costs bounded memory.
constexpr uint64_t kMaxPendingReplies = 64;

// Work done for one ready descriptor before the others get their turn.
constexpr int kAcceptBatch = 32;
constexpr int kReadBatch = 16;

// The most descriptors one message can carry (the kernel's SCM_MAX_FD), so
// that every one that arrives can be seen and closed.
constexpr size_t kMaxPassedDescriptors = 253;

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

class SocketConnection;

// Hands connections with new replies (or a stop request) to the service
// thread.
class Wakeup {
 public:
  explicit Wakeup(int eventFd) : eventFd_(eventFd) {}
  ~Wakeup() { close(eventFd_); }
  Wakeup(const Wakeup&) = delete;
  Wakeup& operator=(const Wakeup&) = delete;

  int fd() const { return eventFd_; }

  // Any thread.
  void post(std::weak_ptr<SocketConnection> connection) {
    bool wasEmpty;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      wasEmpty = ready_.empty();
      ready_.push_back(std::move(connection));
    }
    if (wasEmpty) signal();
  }

  void signal() {
    uint64_t one = 1;
    // Cannot block: the counter would have to reach 2^64 - 1 first.
    ssize_t ignored = write(eventFd_, &one, sizeof one);
    (void)ignored;
  }

  // Service thread.
  std::vector<std::weak_ptr<SocketConnection>> take() {
    uint64_t count;
    ssize_t ignored = read(eventFd_, &count, sizeof count);
    (void)ignored;
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(ready_, {});
  }

 private:
  const int eventFd_;
  std::mutex mutex_;
  std::vector<std::weak_ptr<SocketConnection>> ready_;
};

enum class ReadResult { kDone, kMore, kInvalid };

class SocketConnection : public ServiceConnection,
                         public std::enable_shared_from_this<SocketConnection> {
 public:
  SocketConnection(int fd, std::shared_ptr<Wakeup> wakeup)
      : fd_(fd), wakeup_(std::move(wakeup)) {
    struct ucred cred;
    socklen_t length = sizeof cred;
    if (getsockopt(fd_, SOL_SOCKET, SO_PEERCRED, &cred, &length) == 0 &&
        length == sizeof cred && cred.pid > 0) {
      peer_ = cred;
    }
  }

  ~SocketConnection() override { closeDescriptors(); }

  // ServiceConnection, called by the delegate on the service thread.
  std::optional<uid_t> effectiveUserIdentifier() override {
    if (!peer_) return std::nullopt;
    return peer_->uid;
  }

  bool copyGuestCode() override {
    if (!peer_ || fd_ < 0) return false;
    if (pidfd_ >= 0) return true;
    int pidfd = -1;
    socklen_t length = sizeof pidfd;
    // The kernel hands the descriptor out close-on-exec.
    if (getsockopt(fd_, SOL_SOCKET, SO_PEERPIDFD, &pidfd, &length) != 0 ||
        length != sizeof pidfd || pidfd < 0) {
      return false;
    }
    pidfd_ = pidfd;
    return true;
  }

  bool checkValidity(const CodeRequirement& requirement) override {
    if (!peer_ || pidfd_ < 0) return false;
    return validateProcess(pidfd_, peer_->pid, requirement);
  }

  void setExportedObject(
      std::shared_ptr<BreakSecurityHelperProtocol> object) override {
    exported_ = std::move(object);
  }

  void setInvalidationHandler(std::function<void()> handler) override {
    invalidationHandler_ = std::move(handler);
  }

  void resume() override { resumed_ = true; }

  // The rest runs on the service thread unless said otherwise.

  int fd() const { return fd_; }
  bool resumed() const { return resumed_; }
  bool open() const { return fd_ >= 0; }
  uint64_t id() const { return id_; }
  void setId(uint64_t id) { id_ = id; }

  // The epoll events the connection wants now.
  uint32_t wantedEvents() const {
    uint32_t events = EPOLLRDHUP;
    if (pending() < kMaxPendingReplies) events |= EPOLLIN;
    if (wantsWrite_) events |= EPOLLOUT;
    return events;
  }

  // Reads and dispatches up to kReadBatch requests.
  ReadResult readRequests() {
    for (int i = 0; i < kReadBatch; ++i) {
      if (pending() >= kMaxPendingReplies) return ReadResult::kDone;
      std::optional<Request> request;
      ReadResult result = receive(request);
      if (result != ReadResult::kMore) return result;
      dispatch(*request);
      if (!open()) return ReadResult::kDone;
    }
    return ReadResult::kMore;
  }

  // Sends the replies that are due, in request order. False when the socket
  // failed.
  bool sendReplies() {
    std::lock_guard<std::mutex> lock(mutex_);
    queuedForWakeup_ = false;
    wantsWrite_ = false;
    while (!answers_.empty() && answers_.begin()->first == nextReply_) {
      char byte = answers_.begin()->second;
      ssize_t sent = send(fd_, &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent < 0 && errno == EINTR) continue;
      if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        wantsWrite_ = true;
        return true;
      }
      if (sent != 1) return false;
      answers_.erase(answers_.begin());
      ++nextReply_;
    }
    return true;
  }

  // Closes the socket and process handle at once, drops every reply still
  // to come, and hands back the invalidation handler for the caller to run.
  std::function<void()> invalidate() {
    closeDescriptors();
    exported_.reset();
    return std::exchange(invalidationHandler_, nullptr);
  }

  // Any thread: the answer to request number `sequence`.
  void answer(uint64_t sequence, bool value) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closed_) return;
      answers_.emplace(sequence, replyByte(value));
      if (queuedForWakeup_) return;
      queuedForWakeup_ = true;
    }
    wakeup_->post(weak_from_this());
  }

 private:
  uint64_t pending() const { return nextRequest_ - nextReply_; }

  ReadResult receive(std::optional<Request>& request) {
    char data[kMaxMessageSize + 1];
    alignas(struct cmsghdr) char
        control[CMSG_SPACE(sizeof(struct ucred)) +
                CMSG_SPACE(sizeof(int) * kMaxPassedDescriptors)];
    struct iovec iov = {data, sizeof data};
    struct msghdr message = {};
    message.msg_iov = &iov;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n;
    do {
      n = recvmsg(fd_, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
      return errno == EAGAIN || errno == EWOULDBLOCK ? ReadResult::kDone
                                                     : ReadResult::kInvalid;
    }
    bool carriedDescriptors = false;
    std::optional<pid_t> sender;
    for (struct cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr;
         c = CMSG_NXTHDR(&message, c)) {
      if (c->cmsg_level != SOL_SOCKET) continue;
      if (c->cmsg_type == SCM_RIGHTS) {
        carriedDescriptors = true;
        size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t k = 0; k < count; ++k) {
          int passed;
          memcpy(&passed, CMSG_DATA(c) + k * sizeof(int), sizeof passed);
          close(passed);
        }
      } else if (c->cmsg_type == SCM_CREDENTIALS &&
                 c->cmsg_len == CMSG_LEN(sizeof(struct ucred))) {
        struct ucred cred;
        memcpy(&cred, CMSG_DATA(c), sizeof cred);
        sender = cred.pid;
      }
    }
    // End of stream and an empty message both end the connection.
    if (carriedDescriptors || n == 0 ||
        (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0 ||
        static_cast<size_t>(n) > kMaxMessageSize) {
      return ReadResult::kInvalid;
    }
    // Only the verified process may speak on the connection. While its
    // process handle shows it alive it still owns its id, so a matching
    // sender id is that process and no other.
    if (!peer_ || pidfd_ < 0 || !sender || *sender != peer_->pid ||
        !processIsAlive(pidfd_)) {
      return ReadResult::kInvalid;
    }
    request = parseRequest(std::string_view(data, static_cast<size_t>(n)));
    return request ? ReadResult::kMore : ReadResult::kInvalid;
  }

  void dispatch(Request request) {
    uint64_t sequence = nextRequest_++;
    std::weak_ptr<SocketConnection> self = weak_from_this();
    auto reply = [self, sequence](bool value) {
      if (std::shared_ptr<SocketConnection> connection = self.lock()) {
        connection->answer(sequence, value);
      }
    };
    std::shared_ptr<BreakSecurityHelperProtocol> exported = exported_;
    if (!exported) {
      reply(false);
      return;
    }
    if (request == Request::kRenew) {
      exported->renewLease(std::move(reply));
    } else {
      exported->releaseLease(std::move(reply));
    }
  }

  void closeDescriptors() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
      answers_.clear();
    }
    if (fd_ >= 0) close(fd_);
    if (pidfd_ >= 0) close(pidfd_);
    fd_ = -1;
    pidfd_ = -1;
  }

  // Service thread only.
  int fd_;
  int pidfd_ = -1;
  std::optional<struct ucred> peer_;
  uint64_t id_ = 0;
  bool resumed_ = false;
  bool wantsWrite_ = false;
  uint64_t nextRequest_ = 0;
  uint64_t nextReply_ = 0;
  std::shared_ptr<BreakSecurityHelperProtocol> exported_;
  std::function<void()> invalidationHandler_;
  const std::shared_ptr<Wakeup> wakeup_;

  // Shared with the threads that answer requests.
  std::mutex mutex_;
  bool closed_ = false;
  bool queuedForWakeup_ = false;
  std::map<uint64_t, char> answers_;
};

class SocketListener : public Listener {
 public:
  SocketListener(int listenFd, int epollFd, std::shared_ptr<Wakeup> wakeup,
                 Delegate delegate)
      : listenFd_(listenFd),
        epollFd_(epollFd),
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
    close(epollFd_);
    close(listenFd_);
  }

  bool resume() override {
    if (thread_.joinable()) return false;
    if (!watch(listenFd_, kListenerId, EPOLLIN) ||
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
    return epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &event) == 0;
  }

  void rewatch(int fd, uint64_t id, uint32_t events) {
    struct epoll_event event = {};
    event.events = events;
    event.data.u64 = id;
    epoll_ctl(epollFd_, EPOLL_CTL_MOD, fd, &event);
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
      int n = epoll_wait(epollFd_, events, kMaxEvents, timeout);
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
    rewatch(listenFd_, kListenerId, 0);
  }

  void resumeAccepting() {
    acceptPaused_ = false;
    rewatch(listenFd_, kListenerId, EPOLLIN);
  }

  void acceptConnections() {
    for (int i = 0; i < kAcceptBatch; ++i) {
      if (!roomForConnection()) {
        pauseAccepting();
        return;
      }
      int fd =
          accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
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
      setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
      auto connection = std::make_shared<SocketConnection>(fd, wakeup_);
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
      if (!watch(fd, id, connection->wantedEvents())) {
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
      if (connection->readRequests() == ReadResult::kInvalid) {
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
    epoll_ctl(epollFd_, EPOLL_CTL_DEL, connection->fd(), nullptr);
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

  const int listenFd_;
  const int epollFd_;
  const std::shared_ptr<Wakeup> wakeup_;
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

std::unique_ptr<Listener> Listener::create(int listeningSocket,
                                           Delegate delegate) {
  if (listeningSocket < 0) return nullptr;
  int flags = fcntl(listeningSocket, F_GETFL);
  if (flags < 0 || fcntl(listeningSocket, F_SETFL, flags | O_NONBLOCK) != 0) {
    close(listeningSocket);
    return nullptr;
  }
  int epollFd = epoll_create1(EPOLL_CLOEXEC);
  int eventFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (epollFd < 0 || eventFd < 0) {
    if (epollFd >= 0) close(epollFd);
    if (eventFd >= 0) close(eventFd);
    close(listeningSocket);
    return nullptr;
  }
  return std::make_unique<SocketListener>(listeningSocket, epollFd,
                                          std::make_shared<Wakeup>(eventFd),
                                          std::move(delegate));
}

}  // namespace vesk
