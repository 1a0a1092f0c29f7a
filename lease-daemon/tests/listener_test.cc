// The socket service with a stand-in delegate and exported object: serving,
// reply order, protocol breaks, refusals, peers that flood or stop reading,
// replies for connections that are gone, and descriptor hygiene.

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "listener.h"
#include "protocol.h"
#include "service_socket.h"
#include "test_client.h"

namespace vesk {
namespace {

using testing::Outcome;
using testing::receive;
using testing::sendMessage;
using testing::waitUntil;

const std::string kRenew(kRenewSelector);
const std::string kRelease(kReleaseSelector);
const std::string kYes(1, '\x01');
const std::string kNo(1, '\x00');

// Answers renewals with YES and releases with NO, at once or when told.
class FakeEndpoint : public BreakSecurityHelperProtocol {
 public:
  explicit FakeEndpoint(bool hold) : hold_(hold) {}
  void renewLease(Reply reply) override { handle(std::move(reply), true); }
  void releaseLease(Reply reply) override { handle(std::move(reply), false); }

  int calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  size_t held() {
    std::lock_guard<std::mutex> lock(mutex_);
    return held_.size();
  }
  void answerHeld(size_t index, bool value) {
    Reply reply;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      reply = held_[index];
    }
    reply(value);
  }

 private:
  void handle(Reply reply, bool value) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++calls_;
      if (hold_) {
        held_.push_back(std::move(reply));
        return;
      }
    }
    reply(value);
  }

  const bool hold_;
  std::mutex mutex_;
  int calls_ = 0;
  std::vector<Reply> held_;
};

class ListenerTest : public ::testing::Test {
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

  void start(bool resume = true) {
    listener_ = Listener::create(
        bindServiceSocket(path_.c_str()),
        [this](const std::shared_ptr<ServiceConnection>& connection) {
          return decide(connection);
        });
    ASSERT_NE(listener_, nullptr);
    if (resume) {
      ASSERT_TRUE(listener_->resume());
    }
  }

  // Accepts what `refuse` does not refuse, with a FakeEndpoint each.
  bool decide(const std::shared_ptr<ServiceConnection>& connection) {
    int number = offered_++;
    if (refuse_ && refuse_(number)) return false;
    if (!connection->effectiveUserIdentifier() ||
        !connection->copyGuestCode()) {
      return false;
    }
    auto endpoint = std::make_shared<FakeEndpoint>(holdReplies_);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      endpoints_.push_back(endpoint);
    }
    connection->setExportedObject(endpoint);
    connection->setInvalidationHandler([this] { ++invalidated_; });
    connection->resume();
    return true;
  }

  std::shared_ptr<FakeEndpoint> endpoint(size_t index) {
    std::lock_guard<std::mutex> lock(mutex_);
    return index < endpoints_.size() ? endpoints_[index] : nullptr;
  }

  int connect() { return testing::connectTo(path_); }

  std::optional<std::string> call(int fd, const std::string& message) {
    if (!sendMessage(fd, message)) return std::nullopt;
    testing::Received answer = receive(fd);
    if (answer.outcome != Outcome::kMessage) return std::nullopt;
    return answer.bytes;
  }

  std::filesystem::path dir_;
  std::string path_;
  std::unique_ptr<Listener> listener_;
  std::function<bool(int)> refuse_;
  bool holdReplies_ = false;
  std::atomic<int> offered_{0};
  std::atomic<int> invalidated_{0};
  std::mutex mutex_;
  std::vector<std::shared_ptr<FakeEndpoint>> endpoints_;
};

TEST_F(ListenerTest, AnswersEachRequestInOrder) {
  start();
  int fd = connect();
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(sendMessage(fd, kRenew));
  ASSERT_TRUE(sendMessage(fd, kRelease));
  ASSERT_TRUE(sendMessage(fd, kRenew));
  EXPECT_EQ(receive(fd).bytes, kYes);
  EXPECT_EQ(receive(fd).bytes, kNo);
  EXPECT_EQ(receive(fd).bytes, kYes);
  close(fd);
  EXPECT_TRUE(waitUntil([&] { return invalidated_ == 1; }));
}

TEST_F(ListenerTest, ServesRequestsFromAnyThreadOfTheVerifiedProcess) {
  start();
  int fd = connect();
  ASSERT_EQ(call(fd, kRenew), kYes);
  std::optional<std::string> answer;
  std::thread other([&] { answer = call(fd, kRelease); });
  other.join();
  EXPECT_EQ(answer, kNo);
  EXPECT_EQ(invalidated_, 0);
  close(fd);
}

TEST_F(ListenerTest, ServesARequestSentBeforeTheConnectionIsAccepted) {
  start(/*resume=*/false);
  int fd = connect();
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(sendMessage(fd, kRenew));
  ASSERT_TRUE(listener_->resume());
  EXPECT_EQ(receive(fd).bytes, kYes);
  close(fd);
}

TEST_F(ListenerTest, RepliesGoOutInRequestOrderWhateverOrderTheyCome) {
  holdReplies_ = true;
  start();
  int fd = connect();
  ASSERT_TRUE(sendMessage(fd, kRenew));
  ASSERT_TRUE(sendMessage(fd, kRelease));
  ASSERT_TRUE(
      waitUntil([&] { return endpoint(0) && endpoint(0)->held() == 2; }));
  endpoint(0)->answerHeld(1, true);
  endpoint(0)->answerHeld(0, false);
  EXPECT_EQ(receive(fd).bytes, kNo);
  EXPECT_EQ(receive(fd).bytes, kYes);
  close(fd);
}

TEST_F(ListenerTest, ProtocolBreakDropsOnlyThatConnection) {
  struct Case {
    const char* name;
    std::function<void(int fd)> abuse;
  };
  const Case cases[] = {
      {"unknown selector", [](int fd) { sendMessage(fd, "pingWithReply:"); }},
      {"empty message", [](int fd) { sendMessage(fd, ""); }},
      {"selector with terminator",
       [](int fd) { sendMessage(fd, kRenew + std::string(1, '\0')); }},
      {"64 bytes of something else",
       [](int fd) { sendMessage(fd, std::string(64, 'r')); }},
      {"longer than 64 bytes",
       [](int fd) { sendMessage(fd, kRenew + std::string(45, ' ')); }},
      {"much longer than 64 bytes",
       [](int fd) { sendMessage(fd, std::string(100000, 'x')); }},
      {"carries a descriptor",
       [](int fd) {
         int pipeFds[2];
         ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
         sendMessage(fd, kRenew, pipeFds[0]);
         close(pipeFds[0]);
         close(pipeFds[1]);
       }},
      {"sent by a forked child",
       [](int fd) {
         pid_t child = fork();
         if (child == 0) {
           ssize_t ignored = send(fd, kRenew.data(), kRenew.size(), 0);
           _exit(ignored == static_cast<ssize_t>(kRenew.size()) ? 0 : 1);
         }
         int status = -1;
         waitpid(child, &status, 0);
         ASSERT_EQ(status, 0);
       }},
  };
  start();
  int healthy = connect();
  ASSERT_EQ(call(healthy, kRenew), kYes);
  const int baseline = testing::openDescriptorCount();
  int expectedInvalidations = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int victim = connect();
    ASSERT_GE(victim, 0);
    ASSERT_EQ(call(victim, kRenew), kYes);
    c.abuse(victim);
    EXPECT_EQ(receive(victim).outcome, Outcome::kClosed);
    ++expectedInvalidations;
    EXPECT_TRUE(
        waitUntil([&] { return invalidated_ == expectedInvalidations; }));
    EXPECT_EQ(call(healthy, kRenew), kYes);
    close(victim);
    // Every descriptor that arrived with a message, and the connection's
    // own, are closed.
    EXPECT_TRUE(
        waitUntil([&] { return testing::openDescriptorCount() == baseline; }));
  }
  EXPECT_EQ(invalidated_, expectedInvalidations);
  close(healthy);
}

TEST_F(ListenerTest, RefusedConnectionIsClosedUnread) {
  refuse_ = [](int) { return true; };
  start(/*resume=*/false);
  int fd = connect();
  ASSERT_TRUE(sendMessage(fd, kRenew));
  ASSERT_TRUE(listener_->resume());
  EXPECT_EQ(receive(fd).outcome, Outcome::kClosed);
  EXPECT_EQ(offered_, 1);
  EXPECT_EQ(endpoint(0), nullptr);
  EXPECT_EQ(invalidated_, 0);
  close(fd);
}

TEST_F(ListenerTest, FloodingOrNonReadingPeerHoldsUpOnlyItself) {
  start();
  int silent = connect();
  int flooder = testing::connectTo(path_, /*nonBlocking=*/true);
  ASSERT_GE(flooder, 0);
  // Sends until the service stops taking requests from it, and never reads.
  int sent = 0;
  while (sent < 100000 &&
         send(flooder, kRenew.data(), kRenew.size(), MSG_NOSIGNAL) > 0) {
    ++sent;
  }
  ASSERT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);
  ASSERT_GT(sent, 64);

  int other = connect();
  EXPECT_EQ(call(other, kRenew), kYes);
  EXPECT_EQ(call(other, kRelease), kNo);

  // Nothing was lost: every request is answered once the flooder reads.
  int answered = 0;
  while (answered < sent) {
    testing::Received answer = receive(flooder);
    if (answer.outcome != Outcome::kMessage) break;
    ASSERT_EQ(answer.bytes, kYes);
    ++answered;
  }
  EXPECT_EQ(answered, sent);
  EXPECT_EQ(invalidated_, 0);
  close(flooder);
  close(silent);
  close(other);
}

// Uses up every descriptor number below a lowered limit, and puts things
// back as they were when it goes.
class DescriptorShortage {
 public:
  explicit DescriptorShortage(int anyFd) {
    getrlimit(RLIMIT_NOFILE, &saved_);
    int highest = fcntl(anyFd, F_DUPFD, 0);
    filler_.push_back(highest);
    struct rlimit lowered = saved_;
    lowered.rlim_cur = static_cast<rlim_t>(highest) + 1;
    setrlimit(RLIMIT_NOFILE, &lowered);
    for (int fd; (fd = dup(anyFd)) >= 0;) filler_.push_back(fd);
  }
  ~DescriptorShortage() { end(); }
  void end() {
    for (int fd : filler_) close(fd);
    filler_.clear();
    setrlimit(RLIMIT_NOFILE, &saved_);
  }
  const struct rlimit& saved() const { return saved_; }

 private:
  struct rlimit saved_;
  std::vector<int> filler_;
};

TEST_F(ListenerTest, AcceptingResumesAfterRunningOutOfDescriptors) {
  start();
  int chatty = connect();
  ASSERT_EQ(call(chatty, kRenew), kYes);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  DescriptorShortage shortage(chatty);

  // Clients in another process connect while the service cannot accept.
  pid_t child = fork();
  if (child == 0) {
    setrlimit(RLIMIT_NOFILE, &shortage.saved());
    std::vector<int> clients;
    for (int i = 0; i < 3; ++i) {
      int fd = testing::connectTo(path_);
      if (fd < 0 || !sendMessage(fd, kRenew)) _exit(2);
      clients.push_back(fd);
    }
    ssize_t ignored = write(ready[1], "x", 1);
    (void)ignored;
    for (int fd : clients) {
      if (receive(fd).bytes != kYes) _exit(1);
    }
    _exit(0);
  }
  char byte;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  // Keep the service busy throughout: the pause must end on time anyway.
  auto busyUntil = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (std::chrono::steady_clock::now() < busyUntil) {
    ASSERT_EQ(call(chatty, kRenew), kYes);
  }
  shortage.end();
  int status = -1;
  while (waitpid(child, &status, WNOHANG) == 0) {
    ASSERT_EQ(call(chatty, kRenew), kYes);
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  close(ready[0]);
  close(ready[1]);
  close(chatty);
}

TEST_F(ListenerTest, ReplyForAConnectionThatIsGoneIsDropped) {
  holdReplies_ = true;
  start();
  int first = connect();
  ASSERT_TRUE(sendMessage(first, kRenew));
  ASSERT_TRUE(
      waitUntil([&] { return endpoint(0) && endpoint(0)->held() == 1; }));
  close(first);
  ASSERT_TRUE(waitUntil([&] { return invalidated_ == 1; }));

  // The next connection is likely to get the same descriptor number in the
  // service; the stale answer must not reach it.
  int second = connect();
  ASSERT_TRUE(sendMessage(second, kRenew));
  ASSERT_TRUE(
      waitUntil([&] { return endpoint(1) && endpoint(1)->held() == 1; }));
  endpoint(0)->answerHeld(0, true);
  endpoint(1)->answerHeld(0, false);
  EXPECT_EQ(receive(second).bytes, kNo);
  close(second);
}

TEST_F(ListenerTest, DescriptorsAreReleasedAsConnectionsEnd) {
  refuse_ = [](int number) { return number % 2 == 1; };
  start();
  const int baseline = testing::openDescriptorCount();
  constexpr int kClients = 40;
  int accepted = 0;
  for (int i = 0; i < kClients; ++i) {
    int fd = connect();
    ASSERT_GE(fd, 0);
    // A refused connection may already be closed when this is sent.
    sendMessage(fd, kRenew);
    testing::Received answer = receive(fd);
    if (answer.outcome == Outcome::kMessage) ++accepted;
    close(fd);
  }
  EXPECT_EQ(accepted, kClients / 2);
  EXPECT_TRUE(waitUntil([&] { return invalidated_ == kClients / 2; }));
  EXPECT_TRUE(
      waitUntil([&] { return testing::openDescriptorCount() == baseline; }));
}

}  // namespace
}  // namespace vesk
