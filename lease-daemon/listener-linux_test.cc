// The socket service with a stand-in exported object, for what root_test.py
// cannot arrange end to end: replies answered after their connection is
// gone, and running out of descriptors.

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "listener.h"
#include "protocol.h"
#include "service_socket-linux.h"
#include "temp_dir.h"

namespace vesk {
namespace {

const std::string kRenew(kRenewSelector);
const std::string kRelease(kReleaseSelector);
const std::string kYes(1, '\x01');
const std::string kNo(1, '\x00');

int connectTo(const std::string& path) {
  struct sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd >= 0 && connect(fd, reinterpret_cast<struct sockaddr*>(&address),
                         sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool sendMessage(int fd, const std::string& bytes) {
  return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
         static_cast<ssize_t>(bytes.size());
}

// One message within 10 s; nullopt when closed or nothing came.
std::optional<std::string> receive(int fd) {
  struct pollfd p = {fd, POLLIN, 0};
  if (poll(&p, 1, 10000) != 1) return std::nullopt;
  char buffer[128];
  ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
  if (n <= 0) return std::nullopt;
  return std::string(buffer, static_cast<size_t>(n));
}

bool waitUntil(const std::function<bool()>& condition) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Accepts every connecting process with an exported object that answers
// renewals with YES and releases with NO at once, or holds the replies in
// held_.
class ListenerTest : public ::testing::Test, BreakSecurityHelperProtocol {
 protected:
  void SetUp() override { ASSERT_TRUE(pipe(ready_) == 0 && pipe(go_) == 0); }
  void TearDown() override {
    listener_.reset();
    for (int fd : {ready_[0], ready_[1], go_[0], go_[1]}) close(fd);
  }

  void start(bool holdReplies) {
    hold_ = holdReplies;
    // The fixture outlives the listener; the exported object does not own it.
    std::shared_ptr<BreakSecurityHelperProtocol> self(
        std::shared_ptr<void>(),
        static_cast<BreakSecurityHelperProtocol*>(this));
    listener_ = Listener::create(
        bindServiceSocket(path_.c_str()),
        [this, self](const std::shared_ptr<ServiceConnection>& c) {
          // Requests are served only from the process taken hold of here.
          if (!c->copyGuestCode()) return false;
          c->setExportedObject(self);
          c->setInvalidationHandler([this] { ++invalidated_; });
          c->resume();
          return true;
        });
    ASSERT_NE(listener_, nullptr);
    ASSERT_TRUE(listener_->resume());
  }

  void renewLease(Reply reply) override { handle(std::move(reply), true); }
  void releaseLease(Reply reply) override { handle(std::move(reply), false); }
  void handle(Reply reply, bool value) {
    if (!hold_) return reply(value);
    std::lock_guard<std::mutex> lock(mutex_);
    held_.push_back(std::move(reply));
  }
  size_t held() {
    std::lock_guard<std::mutex> lock(mutex_);
    return held_.size();
  }

  std::optional<std::string> call(int fd, const std::string& message) {
    return sendMessage(fd, message) ? receive(fd) : std::nullopt;
  }

  // A client process that opens `count` connections with a renewal waiting
  // on each and tells ready_ so; once served() lets it go on, it expects
  // YES on every one. Descriptors are not short in the client.
  void spawnClients(size_t count) {
    client_ = fork();
    if (client_ != 0) return;
    setrlimit(RLIMIT_NOFILE, &saved_);
    std::vector<int> clients;
    for (size_t i = 0; i < count; ++i) {
      clients.push_back(connectTo(path_));
      if (!sendMessage(clients.back(), kRenew)) _exit(2);
    }
    char byte;
    if (write(ready_[1], "x", 1) != 1 || read(go_[0], &byte, 1) != 1) _exit(3);
    for (int fd : clients) {
      if (receive(fd) != kYes) _exit(1);
    }
    _exit(0);
  }
  bool clientsReady() {
    char byte;
    return read(ready_[0], &byte, 1) == 1;
  }
  // Lets the client go on; whether all its connections were served.
  bool served(const std::function<void()>& whileWaiting = [] {}) {
    setrlimit(RLIMIT_NOFILE, &saved_);
    int status = -1;
    if (write(go_[1], "x", 1) != 1) return false;
    while (waitpid(client_, &status, WNOHANG) == 0) whileWaiting();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  testing::TempDir dir_;
  const std::string path_ = dir_.file("service");
  std::unique_ptr<Listener> listener_;
  bool hold_ = false;
  std::atomic<int> invalidated_{0};
  std::mutex mutex_;
  std::vector<Reply> held_;
  int ready_[2] = {-1, -1};
  int go_[2] = {-1, -1};
  pid_t client_ = -1;
  struct rlimit saved_ = [] {
    struct rlimit limit;
    getrlimit(RLIMIT_NOFILE, &limit);
    return limit;
  }();
};

// The order of replies is the reply queue's (reply_queue_test.cc).
TEST_F(ListenerTest, AReplyNeverGoesToALaterConnection) {
  start(/*holdReplies=*/true);
  int gone = connectTo(path_);
  ASSERT_TRUE(sendMessage(gone, kRenew));
  ASSERT_TRUE(waitUntil([&] { return held() == 1; }));
  close(gone);
  ASSERT_TRUE(waitUntil([&] { return invalidated_ == 1; }));

  // Likely to get the same descriptor number in the service as `gone`.
  int fd = connectTo(path_);
  // Any thread of the verified process may send.
  std::thread([&] { sendMessage(fd, kRelease); }).join();
  ASSERT_TRUE(waitUntil([&] { return held() == 2; }));
  held_[0](true);  // for the connection that is gone: dropped
  held_[1](false);
  EXPECT_EQ(receive(fd), kNo);
  EXPECT_EQ(invalidated_, 1);
  close(fd);
}

TEST_F(ListenerTest, OneUsersConnectionsAreCapped) {
  start(/*holdReplies=*/false);
  // All of this process's connections are one user's.
  std::vector<int> served;
  for (size_t i = 0; i < kMaxConnectionsPerUser; ++i) {
    served.push_back(connectTo(path_));
    ASSERT_EQ(call(served.back(), kRenew), kYes) << i;
  }
  int over = connectTo(path_);
  EXPECT_EQ(call(over, kRenew), std::nullopt);  // closed without an answer
  close(over);
  close(served.back());
  served.pop_back();
  ASSERT_TRUE(waitUntil([&] { return invalidated_ == 1; }));
  served.push_back(connectTo(path_));
  EXPECT_EQ(call(served.back(), kRenew), kYes);
  for (int fd : served) close(fd);
}

TEST_F(ListenerTest, AcceptingResumesAfterRunningOutOfDescriptors) {
  start(/*holdReplies=*/false);
  int chatty = connectTo(path_);
  ASSERT_EQ(call(chatty, kRenew), kYes);
  // Use up every descriptor number below a lowered limit, then let clients
  // connect while the service cannot accept.
  std::vector<int> filler = {fcntl(chatty, F_DUPFD, 0)};
  struct rlimit lowered = saved_;
  lowered.rlim_cur = static_cast<rlim_t>(filler[0]) + 1;
  setrlimit(RLIMIT_NOFILE, &lowered);
  for (int fd; (fd = dup(chatty)) >= 0;) filler.push_back(fd);
  spawnClients(3);
  ASSERT_TRUE(clientsReady());
  // Keep the service busy throughout: the pause must end on time anyway.
  auto busyUntil = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  bool busy = true;
  while (busy && std::chrono::steady_clock::now() < busyUntil) {
    busy = call(chatty, kRenew) == kYes;
  }
  for (int fd : filler) close(fd);
  EXPECT_TRUE(busy);
  EXPECT_TRUE(served([&] { busy = busy && call(chatty, kRenew) == kYes; }));
  EXPECT_TRUE(busy);
  close(chatty);
}

TEST_F(ListenerTest, LeavesTheReserveToTheRestOfTheProcess) {
  start(/*holdReplies=*/false);
  // Room for three connections besides the reserve; a client process
  // offers more, each with a request waiting.
  struct stat openDescriptors;
  ASSERT_EQ(stat("/proc/self/fd", &openDescriptors), 0);
  struct rlimit lowered = saved_;
  lowered.rlim_cur = static_cast<rlim_t>(openDescriptors.st_size) +
                     kReservedDescriptors + 4 + 2 * 3;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
  spawnClients(kMaxConnectionsPerUser);
  ASSERT_TRUE(clientsReady());
  // What the lease queue needs at once to run the tool and write its state
  // file stays to be had while the service takes what it may.
  auto until =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  bool reserved = true;
  while (reserved && std::chrono::steady_clock::now() < until) {
    std::vector<int> taken;
    for (rlim_t i = 0; i < kReservedDescriptors; ++i) {
      int fd = dup(ready_[0]);
      if (fd < 0) reserved = false;
      if (fd >= 0) taken.push_back(fd);
    }
    for (int fd : taken) close(fd);
  }
  EXPECT_TRUE(reserved);
  // With room again, the waiting connections are served.
  EXPECT_TRUE(served());
}

}  // namespace
}  // namespace vesk
