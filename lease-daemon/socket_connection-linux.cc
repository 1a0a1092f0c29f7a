#include "socket_connection-linux.h"

#include <errno.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <cstring>
#include <string_view>
#include <utility>

#include "code_signing-linux.h"
#include "pidfd-linux.h"

namespace vesk {

namespace {

// Requests read from one connection before the others get their turn.
constexpr int kReadBatch = 16;

// The most descriptors one message can carry (the kernel's SCM_MAX_FD), so
// that every one that arrives can be seen and handed to the closer.
constexpr size_t kMaxPassedDescriptors = 253;

}  // namespace

void ReplyWakeup::post(std::weak_ptr<SocketConnection> connection) {
  bool wasEmpty;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    wasEmpty = ready_.empty();
    ready_.push_back(std::move(connection));
  }
  if (wasEmpty) signal();
}

void ReplyWakeup::signal() {
  uint64_t one = 1;
  // Cannot block: the counter would have to reach 2^64 - 1 first.
  ssize_t ignored = write(eventFd_.get(), &one, sizeof one);
  (void)ignored;
}

std::vector<std::weak_ptr<SocketConnection>> ReplyWakeup::take() {
  uint64_t count;
  ssize_t ignored = read(eventFd_.get(), &count, sizeof count);
  (void)ignored;
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(ready_, {});
}

SocketConnection::SocketConnection(Descriptor socket,
                                   std::shared_ptr<ReplyWakeup> wakeup,
                                   std::shared_ptr<DeferredCloser> closer)
    : socket_(std::move(socket)),
      wakeup_(std::move(wakeup)),
      closer_(std::move(closer)) {
  struct ucred cred;
  socklen_t length = sizeof cred;
  if (getsockopt(socket_.get(), SOL_SOCKET, SO_PEERCRED, &cred, &length) ==
          0 &&
      length == sizeof cred && cred.pid > 0) {
    peer_ = cred;
  }
}

SocketConnection::~SocketConnection() { closeDescriptors(); }

std::optional<uid_t> SocketConnection::effectiveUserIdentifier() {
  if (!peer_) return std::nullopt;
  return peer_->uid;
}

bool SocketConnection::copyGuestCode() {
  if (!peer_ || !socket_.valid()) return false;
  if (!pidfd_.valid()) pidfd_ = peerProcessHandle(socket_.get());
  return pidfd_.valid();
}

bool SocketConnection::checkValidity(const CodeRequirement& requirement) {
  if (!peer_ || !pidfd_.valid()) return false;
  return validateProcess(pidfd_.get(), peer_->pid, requirement);
}

void SocketConnection::setExportedObject(
    std::shared_ptr<BreakSecurityHelperProtocol> object) {
  exported_ = std::move(object);
}

void SocketConnection::setInvalidationHandler(std::function<void()> handler) {
  invalidationHandler_ = std::move(handler);
}

uint32_t SocketConnection::wantedEvents() const {
  uint32_t events = EPOLLRDHUP;
  if (!replies_.full()) events |= EPOLLIN;
  if (wantsWrite_) events |= EPOLLOUT;
  return events;
}

SocketConnection::ReadResult SocketConnection::readRequests() {
  for (int i = 0; i < kReadBatch; ++i) {
    if (replies_.full()) return ReadResult::kDone;
    std::optional<Request> request;
    ReadResult result = receive(request);
    if (result != ReadResult::kMore) return result;
    dispatch(*request);
    if (!open()) return ReadResult::kDone;
  }
  return ReadResult::kMore;
}

bool SocketConnection::sendReplies() {
  int fd = socket_.get();
  ReplyQueue::Drained drained = replies_.sendDue([fd](char byte) {
    for (;;) {
      ssize_t sent = send(fd, &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent < 0 && errno == EINTR) continue;
      if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return ReplyQueue::Sent::kWouldBlock;
      }
      return sent == 1 ? ReplyQueue::Sent::kSent : ReplyQueue::Sent::kFailed;
    }
  });
  wantsWrite_ = drained == ReplyQueue::Drained::kWouldBlock;
  return drained != ReplyQueue::Drained::kFailed;
}

std::function<void()> SocketConnection::invalidate() {
  closeDescriptors();
  exported_.reset();
  return std::exchange(invalidationHandler_, nullptr);
}

SocketConnection::ReadResult SocketConnection::receive(
    std::optional<Request>& request) {
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
    n = recvmsg(socket_.get(), &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
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
        closer_->close(Descriptor(passed));
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
  if (!peer_ || !pidfd_.valid() || !sender || *sender != peer_->pid ||
      !processIsAlive(pidfd_.get())) {
    return ReadResult::kInvalid;
  }
  request = parseRequest(std::string_view(data, static_cast<size_t>(n)));
  return request ? ReadResult::kMore : ReadResult::kInvalid;
}

void SocketConnection::dispatch(Request request) {
  uint64_t sequence = replies_.add();
  std::weak_ptr<SocketConnection> self = weak_from_this();
  auto reply = [self, sequence](bool value) {
    std::shared_ptr<SocketConnection> connection = self.lock();
    if (connection && connection->replies_.answer(sequence, replyByte(value))) {
      connection->wakeup_->post(self);
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

void SocketConnection::closeDescriptors() {
  replies_.close();
  if (socket_.valid()) {
    // The peer sees the connection end now, whenever the close completes.
    shutdown(socket_.get(), SHUT_RDWR);
    closer_->close(std::move(socket_));
  }
  pidfd_.reset();
}

}  // namespace vesk
