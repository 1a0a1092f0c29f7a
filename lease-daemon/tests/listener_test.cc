// The socket service with a stand-in exported object, for what root_test.py
// cannot arrange end to end: replies answered out of order or after their
// connection is gone, and running out of descriptors.

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
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "listener.h"
#include "protocol.h"
#include "service_socket.h"

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
  void SetUp() override {
    char pattern[] = "/tmp/vesk-listener-XXXXXX";
    dir_ = mkdtemp(pattern);
    path_ = (dir_ / "service").string();
  }

  void TearDown() override {
    listener_.reset();
    std::filesystem::remove_all(dir_);
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

  std::filesystem::path dir_;
  std::string path_;
  std::unique_ptr<Listener> listener_;
  bool hold_ = false;
  std::atomic<int> invalidated_{0};
  std::mutex mutex_;
  std::vector<Reply> held_;
};

TEST_F(ListenerTest, RepliesGoOutInRequestOrderAndNeverToALaterConnection) {
  start(/*holdReplies=*/true);
  int gone = connectTo(path_);
  ASSERT_TRUE(sendMessage(gone, kRenew));
  ASSERT_TRUE(waitUntil([&] { return held() == 1; }));
  close(gone);
  ASSERT_TRUE(waitUntil([&] { return invalidated_ == 1; }));

  // Likely to get the same descriptor number in the service as `gone`.
  int fd = connectTo(path_);
  ASSERT_TRUE(sendMessage(fd, kRenew));
  // Any thread of the verified process may send.
  std::thread other([&] { sendMessage(fd, kRelease); });
  other.join();
  ASSERT_TRUE(waitUntil([&] { return held() == 3; }));
  held_[2](true);
  held_[0](true);  // for the connection that is gone: dropped
  held_[1](false);
  EXPECT_EQ(receive(fd), kNo);
  EXPECT_EQ(receive(fd), kYes);
  EXPECT_EQ(invalidated_, 1);
  close(fd);
}

TEST_F(ListenerTest, AcceptingResumesAfterRunningOutOfDescriptors) {
  start(/*holdReplies=*/false);
  int chatty = connectTo(path_);
  ASSERT_EQ(call(chatty, kRenew), kYes);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);

  // Use up every descriptor number below a lowered limit.
  struct rlimit saved;
  getrlimit(RLIMIT_NOFILE, &saved);
  std::vector<int> filler = {fcntl(chatty, F_DUPFD, 0)};
  struct rlimit lowered = saved;
  lowered.rlim_cur = static_cast<rlim_t>(filler[0]) + 1;
  setrlimit(RLIMIT_NOFILE, &lowered);
  for (int fd; (fd = dup(chatty)) >= 0;) filler.push_back(fd);

  // Clients in another process connect while the service cannot accept.
  pid_t child = fork();
  if (child == 0) {
    setrlimit(RLIMIT_NOFILE, &saved);
    std::vector<int> clients;
    for (int i = 0; i < 3; ++i) {
      clients.push_back(connectTo(path_));
      if (!sendMessage(clients.back(), kRenew)) _exit(2);
    }
    if (write(ready[1], "x", 1) != 1) _exit(3);
    for (int fd : clients) {
      if (receive(fd) != kYes) _exit(1);
    }
    _exit(0);
  }
  char byte;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  // Keep the service busy throughout: the pause must end on time anyway.
  auto busyUntil = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  bool served = true;
  while (served && std::chrono::steady_clock::now() < busyUntil) {
    served = call(chatty, kRenew) == kYes;
  }
  for (int fd : filler) close(fd);
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_TRUE(served);
  int status = -1;
  while (waitpid(child, &status, WNOHANG) == 0) {
    ASSERT_EQ(call(chatty, kRenew), kYes);
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  close(ready[0]);
  close(ready[1]);
  close(chatty);
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

TEST_F(ListenerTest, LeavesTheReserveToTheRestOfTheProcess) {
  start(/*holdReplies=*/false);
  int ready[2];
  int go[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(go), 0);
  // Room for three connections besides the reserve; a client process
  // offers more, each with a request waiting.
  struct rlimit saved;
  getrlimit(RLIMIT_NOFILE, &saved);
  struct stat openDescriptors;
  ASSERT_EQ(stat("/proc/self/fd", &openDescriptors), 0);
  struct rlimit lowered = saved;
  lowered.rlim_cur = static_cast<rlim_t>(openDescriptors.st_size) +
                     kReservedDescriptors + 4 + 2 * 3;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
  pid_t child = fork();
  if (child == 0) {
    setrlimit(RLIMIT_NOFILE, &saved);
    std::vector<int> clients;
    for (size_t i = 0; i < kMaxConnectionsPerUser; ++i) {
      clients.push_back(connectTo(path_));
      if (!sendMessage(clients.back(), kRenew)) _exit(2);
    }
    char byte;
    if (write(ready[1], "x", 1) != 1 || read(go[0], &byte, 1) != 1) _exit(3);
    for (int fd : clients) {
      if (receive(fd) != kYes) _exit(1);
    }
    _exit(0);
  }
  char byte;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  // What the lease queue needs at once to run the tool and write its state
  // file stays to be had while the service takes what it may.
  auto until =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  bool reserved = true;
  while (reserved && std::chrono::steady_clock::now() < until) {
    std::vector<int> taken;
    for (rlim_t i = 0; i < kReservedDescriptors; ++i) {
      int fd = dup(ready[0]);
      if (fd < 0) reserved = false;
      if (fd >= 0) taken.push_back(fd);
    }
    for (int fd : taken) close(fd);
  }
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_TRUE(reserved);
  // With room again, the waiting connections are served.
  ASSERT_EQ(write(go[1], "x", 1), 1);
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  for (int fd : {ready[0], ready[1], go[0], go[1]}) close(fd);
}

}  // namespace
}  // namespace vesk
