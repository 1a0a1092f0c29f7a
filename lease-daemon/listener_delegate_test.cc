// The accept decision and the endpoint of an accepted connection, with a
// stand-in connection and the real lease controller on fake settings.

#include "listener_delegate.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lease_harness.h"

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

  template <typename T>
  T note(const char* call, T result) {
    calls.push_back(call);
    return result;
  }
  std::optional<uid_t> effectiveUserIdentifier() override {
    return note("effectiveUserIdentifier", euid);
  }
  bool copyGuestCode() override { return note("copyGuestCode", guest); }
  bool checkValidity(const CodeRequirement& requirement) override {
    return note("checkValidity", valid && requirement == kRequirement);
  }
  void setExportedObject(
      std::shared_ptr<BreakSecurityHelperProtocol> object) override {
    exported = note("setExportedObject", std::move(object));
  }
  void setInvalidationHandler(std::function<void()> handler) override {
    invalidationHandler = note("setInvalidationHandler", std::move(handler));
  }
  void resume() override { note("resume", 0); }
};

TEST(VerifyClientTest, ChecksInOrderAndStopsAtTheFirstFailure) {
  const std::vector<std::string> all = {"effectiveUserIdentifier",
                                        "copyGuestCode", "checkValidity"};
  struct Case {
    const char* name;
    bool requirement;
    std::optional<uid_t> euid;
    bool guest, valid, accepted;
    size_t checks;  // how many of `all` were made
  };
  const Case cases[] = {
      {"verified", true, 501, true, true, true, 3},
      {"no requirement", false, 501, true, true, false, 0},
      {"root", true, 0, true, true, false, 1},
      {"unknown user", true, std::nullopt, true, true, false, 1},
      {"no process handle", true, 501, false, true, false, 2},
      {"requirement not met", true, 501, true, false, false, 3},
  };
  for (const Case& c : cases) {
    FakeConnection connection;
    connection.euid = c.euid;
    connection.guest = c.guest;
    connection.valid = c.valid;
    std::optional<CodeRequirement> requirement;
    if (c.requirement) requirement = kRequirement;
    EXPECT_EQ(verifyClient(requirement, connection), c.accepted) << c.name;
    EXPECT_EQ(connection.calls,
              std::vector<std::string>(all.begin(), all.begin() + c.checks))
        << c.name;
  }
}

// The controller of the lease harness, on its fake setting. A connection
// that holds the lease holds the controller through its endpoint: tests end
// with the lease released.
class DelegateTest : public ::testing::Test {
 protected:
  void SetUp() override { lease_.start(); }

  std::shared_ptr<FakeConnection> acceptedConnection() {
    auto connection = std::make_shared<FakeConnection>();
    setUpAcceptedConnection(lease_.helper, connection);
    return connection;
  }

  // Renews (or releases) through `endpoint`; the answer, waited for.
  static bool call(BreakSecurityHelperProtocol& endpoint, bool renew) {
    std::promise<bool> answer;
    auto reply = [&answer](bool value) { answer.set_value(value); };
    renew ? endpoint.renewLease(reply) : endpoint.releaseLease(reply);
    return answer.get_future().get();
  }

  testing::LeaseHarness lease_;
};

TEST_F(DelegateTest, EndpointForwardsRenewAndReleaseWithItsConnection) {
  auto first = acceptedConnection();
  auto second = acceptedConnection();
  EXPECT_EQ(second->calls,
            (std::vector<std::string>{"setExportedObject",
                                      "setInvalidationHandler", "resume"}));
  EXPECT_TRUE(call(*first->exported, true));
  EXPECT_EQ(lease_.system->setting, 1);
  EXPECT_FALSE(call(*second->exported, true));  // the lease is the first's
  EXPECT_TRUE(call(*first->exported, false));
  EXPECT_EQ(lease_.system->setting, 0);
  EXPECT_TRUE(call(*second->exported, true));
  EXPECT_TRUE(call(*second->exported, false));
}

TEST_F(DelegateTest, EndpointOfAFreedConnectionAnswersNoWithoutTheController) {
  auto connection = acceptedConnection();
  std::shared_ptr<BreakSecurityHelperProtocol> endpoint = connection->exported;
  connection.reset();
  int readsBefore = lease_.system->reads;
  EXPECT_FALSE(call(*endpoint, true));
  EXPECT_FALSE(call(*endpoint, false));
  lease_.helper->queue().sync([] {});
  EXPECT_EQ(lease_.system->reads, readsBefore);
}

TEST_F(DelegateTest, InvalidationHandlerOutlivingTheControllerDoesNothing) {
  auto connection = acceptedConnection();
  std::function<void()> handler = connection->invalidationHandler;
  connection->exported.reset();
  lease_.helper.reset();
  handler();
}

}  // namespace
}  // namespace vesk
