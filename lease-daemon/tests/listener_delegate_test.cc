// The accept decision and the wiring of an accepted connection, with a
// stand-in connection and the real lease controller on fake sleep-setting
// functions.

#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "listener_delegate.h"
#include "security_helper.h"
#include "test_client.h"

namespace vesk {
namespace {

const CodeRequirement kRequirement{"com.vesk.Vesk", "ABCDE12345"};

// Records the calls the delegate makes, in order.
class FakeConnection : public ServiceConnection {
 public:
  std::optional<uid_t> euid = 501;
  bool guest = true;
  bool valid = true;
  std::vector<std::string> calls;
  std::shared_ptr<BreakSecurityHelperProtocol> exported;
  std::function<void()> invalidationHandler;

  std::optional<uid_t> effectiveUserIdentifier() override {
    calls.push_back("effectiveUserIdentifier");
    return euid;
  }
  bool copyGuestCode() override {
    calls.push_back("copyGuestCode");
    return guest;
  }
  bool checkValidity(const CodeRequirement& requirement) override {
    calls.push_back("checkValidity");
    return valid && requirement == kRequirement;
  }
  void setExportedObject(
      std::shared_ptr<BreakSecurityHelperProtocol> object) override {
    calls.push_back("setExportedObject");
    exported = std::move(object);
  }
  void setInvalidationHandler(std::function<void()> handler) override {
    calls.push_back("setInvalidationHandler");
    invalidationHandler = std::move(handler);
  }
  void resume() override { calls.push_back("resume"); }
};

TEST(VerifyClientTest, ChecksInOrderAndStopsAtTheFirstFailure) {
  using Calls = std::vector<std::string>;
  const Calls all = {"effectiveUserIdentifier", "copyGuestCode",
                     "checkValidity"};
  struct Case {
    const char* name;
    bool requirement;
    std::optional<uid_t> euid;
    bool guest;
    bool valid;
    bool accepted;
    Calls calls;
  };
  const Case cases[] = {
      {"verified", true, 501, true, true, true, all},
      {"no requirement", false, 501, true, true, false, {}},
      {"root", true, 0, true, true, false, {"effectiveUserIdentifier"}},
      {"unknown user",
       true,
       std::nullopt,
       true,
       true,
       false,
       {"effectiveUserIdentifier"}},
      {"no process handle",
       true,
       501,
       false,
       true,
       false,
       {"effectiveUserIdentifier", "copyGuestCode"}},
      {"requirement not met", true, 501, true, false, false, all},
  };
  for (const Case& c : cases) {
    FakeConnection connection;
    connection.euid = c.euid;
    connection.guest = c.guest;
    connection.valid = c.valid;
    std::optional<CodeRequirement> requirement;
    if (c.requirement) requirement = kRequirement;
    EXPECT_EQ(verifyClient(requirement, connection), c.accepted) << c.name;
    EXPECT_EQ(connection.calls, c.calls) << c.name;
  }
}

// The controller on fake sleep-setting functions and a private state file.
class DelegateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vesk-delegate-XXXXXX";
    dir_ = mkdtemp(pattern);
    statePath_ = (dir_ / "state.plist").string();
    helper_ = SecurityHelper::create(
        statePath_,
        [this]() -> std::optional<int64_t> {
          ++reads_;
          return setting_.load();
        },
        [this](int64_t value) {
          setting_ = value;
          return true;
        },
        [] { return SecurityHelper::systemUptime(); });
  }

  void TearDown() override {
    // A connection holding the lease holds its endpoint and so the
    // controller; the service breaks that at invalidation, the test here.
    for (const std::weak_ptr<FakeConnection>& weak : connections_) {
      if (auto connection = weak.lock()) connection->exported.reset();
    }
    if (helper_) drainQueue();
    helper_.reset();
    std::filesystem::remove_all(dir_);
  }

  std::shared_ptr<FakeConnection> acceptedConnection() {
    auto connection = std::make_shared<FakeConnection>();
    setUpAcceptedConnection(helper_, connection);
    connections_.push_back(connection);
    return connection;
  }

  static bool renew(const std::shared_ptr<FakeConnection>& connection) {
    std::promise<bool> answer;
    connection->exported->renewLease(
        [&answer](bool value) { answer.set_value(value); });
    return answer.get_future().get();
  }

  // Waits until the controller's queue has run everything queued so far.
  void drainQueue() {
    helper_->queue().sync([] {});
  }

  std::filesystem::path dir_;
  std::string statePath_;
  std::atomic<int64_t> setting_{0};
  std::atomic<int> reads_{0};
  std::shared_ptr<SecurityHelper> helper_;
  std::vector<std::weak_ptr<FakeConnection>> connections_;
};

TEST_F(DelegateTest, AcceptedConnectionIsSetUpThenResumed) {
  auto connection = acceptedConnection();
  EXPECT_EQ(connection->calls,
            (std::vector<std::string>{"setExportedObject",
                                      "setInvalidationHandler", "resume"}));
  ASSERT_NE(connection->exported, nullptr);
  ASSERT_TRUE(connection->invalidationHandler);
}

TEST_F(DelegateTest, WithoutARequirementEveryConnectionIsRefused) {
  // This test binary carries no team, so the controller has no requirement.
  ASSERT_FALSE(helper_->requirement().has_value());
  auto connection = std::make_shared<FakeConnection>();
  EXPECT_FALSE(shouldAcceptNewConnection(helper_, connection));
  EXPECT_TRUE(connection->calls.empty());
}

TEST_F(DelegateTest, EndpointForwardsRenewAndReleaseWithItsConnection) {
  auto first = acceptedConnection();
  auto second = acceptedConnection();
  EXPECT_TRUE(renew(first));
  EXPECT_EQ(setting_, 1);
  // The lease belongs to the first connection.
  EXPECT_FALSE(renew(second));
  std::promise<bool> released;
  first->exported->releaseLease(
      [&released](bool value) { released.set_value(value); });
  EXPECT_TRUE(released.get_future().get());
  EXPECT_EQ(setting_, 0);
  EXPECT_TRUE(renew(second));
}

TEST_F(DelegateTest, EndpointOfAFreedConnectionAnswersNoByItself) {
  auto connection = acceptedConnection();
  std::shared_ptr<BreakSecurityHelperProtocol> endpoint = connection->exported;
  connection.reset();
  drainQueue();
  int readsBefore = reads_;
  for (bool renewCall : {true, false}) {
    std::optional<bool> answer;
    auto reply = [&answer](bool value) { answer = value; };
    if (renewCall) {
      endpoint->renewLease(reply);
    } else {
      endpoint->releaseLease(reply);
    }
    // Answered on the calling thread, before the call returns.
    EXPECT_EQ(answer, false);
  }
  drainQueue();
  EXPECT_EQ(reads_, readsBefore);
}

TEST_F(DelegateTest, InvalidatingTheHolderRestoresTheSetting) {
  auto holder = acceptedConnection();
  auto other = acceptedConnection();
  ASSERT_TRUE(renew(holder));
  ASSERT_EQ(setting_, 1);

  other->invalidationHandler();
  drainQueue();
  EXPECT_EQ(setting_, 1);
  EXPECT_TRUE(std::filesystem::exists(statePath_));

  holder->invalidationHandler();
  drainQueue();
  EXPECT_EQ(setting_, 0);
  EXPECT_FALSE(std::filesystem::exists(statePath_));
  EXPECT_TRUE(renew(other));
}

TEST_F(DelegateTest, InvalidationHandlerOutlivingTheControllerDoesNothing) {
  auto connection = acceptedConnection();
  std::function<void()> handler = connection->invalidationHandler;
  connection->exported.reset();
  helper_.reset();
  handler();
}

}  // namespace
}  // namespace vesk
