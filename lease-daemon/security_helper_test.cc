// The lease controller on fakes: its transitions, the replies, what it
// writes to the setting and the state file, and the real timer.

#include "security_helper.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <limits>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "lease_fakes.h"
#include "lease_state_file.h"
#include "lease_test_support.h"
#include "security_helper_test_peer.h"

namespace vesk {
namespace {

using testing::LeaseHarness;

struct Clients {
  std::shared_ptr<Connection> a = std::make_shared<Connection>();
  std::shared_ptr<Connection> b = std::make_shared<Connection>();
  std::shared_ptr<Connection> named(const std::string& name) const {
    return name == "a" ? a : name == "b" ? b : nullptr;
  }
};

// Plays a ';'-separated script of steps and returns the reply of the last
// request in it. Steps: "renew X", "release X", "invalidate X" (X is a, b or
// none), "tick", "advance SECONDS", "setting V", "reject V...", "unverified
// V...", "failreads", "fail write|permissions|remove", "clear" (all faults),
// "unlink" (the state file, from outside).
std::optional<bool> play(LeaseHarness& h, const Clients& c,
                         const std::string& script) {
  std::optional<bool> reply;
  std::istringstream steps(script);
  std::string step;
  while (std::getline(steps, step, ';')) {
    std::istringstream words(step);
    std::string verb, arg;
    words >> verb >> arg;
    testing::FakeSystem& s = *h.system;
    if (verb == "renew") reply = h.renew(c.named(arg));
    if (verb == "release") reply = h.release(c.named(arg));
    if (verb == "invalidate") h.invalidate(c.named(arg));
    if (verb == "tick") h.tick();
    if (verb == "advance") s.now += std::stod(arg);
    if (verb == "setting") s.setting = std::stoll(arg);
    if (verb == "failreads") s.failReads = true;
    if (verb == "clear") s.clearFaults();
    if (verb == "unlink") ::unlink(h.statePath.c_str());
    if (verb == "reject" || verb == "unverified") {
      std::set<int64_t>& values = verb == "reject" ? s.rejected : s.unverified;
      for (std::istringstream v(step.substr(step.find(arg))); v >> arg;) {
        values.insert(std::stoll(arg));
      }
    }
    if (verb == "fail") {
      s.failingSteps.insert(arg == "write" ? StateFileStep::kWrite
                            : arg == "permissions"
                                ? StateFileStep::kSetPermissions
                                : StateFileStep::kRemove);
    }
  }
  return reply;
}

struct Transition {
  const char* name;
  const char* given;  // from a started controller, setting 0, no faults
  const char* when;
  std::optional<bool> reply;
  const char* owner;  // a, b or none
  std::optional<int64_t> original;
  int64_t setting;
  std::optional<int64_t> file;  // absent: no state file
  std::vector<int64_t> writes;  // by the event
};

constexpr auto kNo = std::nullopt;
// The lease is held by a.
#define HELD "renew a"
// A restore is owed and no one holds the lease: a's release could not write
// the value back.
#define OWED "renew a; reject 0; release a; clear"
// a let the lease lapse and the restore on the tick failed.
#define LAPSED "renew a; reject 0; advance 10; tick; clear"

// Each case: name, given, event; then the reply, owner, captured value,
// setting, state file and the writes made by the event.
// clang-format off
const Transition kTransitions[] = {
  {"IdleRenewCapturesZeroAndDisablesSleep", "", "renew a",
   true, "a", 0, 1, 0, {1}},
  {"IdleRenewWhenAlreadyOneWritesNothing", "setting 1", "renew a",
   true, "a", 1, 1, 1, {}},
  {"IdleRenewWithUnreadableSettingFails", "failreads", "renew a",
   false, "none", kNo, 0, kNo, {}},
  {"IdleRenewWhoseStateFileCannotBeWrittenFails", "fail write", "renew a",
   false, "none", kNo, 0, kNo, {}},
  {"IdleRenewWhosePermissionStepFailsLeavesTheFile", "fail permissions",
   "renew a", false, "none", kNo, 0, 0, {}},
  {"IdleRenewWhoseWriteOfOneFailsRestoresAtOnce", "reject 1", "renew a",
   false, "none", kNo, 0, kNo, {1, 0}},
  {"IdleRenewWhoseWriteAndRestoreFailLeavesTheValueOwed", "reject 0 1",
   "renew a", false, "none", 0, 0, 0, {1, 0}},
  {"IdleRenewWhoseWriteOfOneIsUnverifiedRestores", "unverified 1", "renew a",
   false, "none", kNo, 0, kNo, {1, 0}},
  {"HeldRenewByOwnerOnlyMovesTheDeadline", HELD "; advance 9", "renew a",
   true, "a", 0, 1, 0, {}},
  {"HeldRenewByOwnerPutsALostSettingBack", HELD "; setting 0", "renew a",
   true, "a", 0, 1, 0, {1}},
  {"HeldRenewByOwnerWhoseWriteFailsKeepsTheLease",
   HELD "; setting 0; reject 1", "renew a", false, "a", 0, 0, 0, {1}},
  {"HeldRenewByAnotherIsRefused", HELD, "renew b",
   false, "a", 0, 1, 0, {}},
  {"HeldReleaseByAnotherIsRefused", HELD, "release b",
   false, "a", 0, 1, 0, {}},
  {"HeldReleaseByOwnerRestores", HELD, "release a",
   true, "none", kNo, 0, kNo, {0}},
  {"HeldReleaseByOwnerWhoseWriteBackFailsLeavesItOwed", HELD "; reject 0",
   "release a", false, "none", 0, 1, 0, {0}},
  {"HeldReleaseByOwnerWhoseRemovalFailsLeavesItOwed", HELD "; fail remove",
   "release a", false, "none", 0, 0, 0, {0}},
  {"HeldReleaseWithStateFileDeletedOutsideWritesBackButStaysOwed",
   HELD "; unlink", "release a", false, "none", 0, 0, kNo, {0}},
  {"IdleReleaseIsGranted", "", "release a",
   true, "none", kNo, 0, kNo, {}},
  {"OwedReleaseWithoutOwnerIsGrantedAndLeavesTheRestoreToTheTick", OWED,
   "release b", true, "none", 0, 1, 0, {}},
  {"HeldInvalidationOfOwnerRestores", HELD, "invalidate a",
   kNo, "none", kNo, 0, kNo, {0}},
  {"HeldInvalidationOfAnotherChangesNothing", HELD, "invalidate b",
   kNo, "a", 0, 1, 0, {}},
  {"HeldInvalidationOfAFreedConnectionChangesNothing", HELD, "invalidate none",
   kNo, "a", 0, 1, 0, {}},
  {"OwedInvalidationOfAFreedConnectionRestores", OWED, "invalidate none",
   kNo, "none", kNo, 0, kNo, {0}},
  {"HeldTickBeforeTheDeadlineKeepsTheLease", HELD "; advance 9.999", "tick",
   kNo, "a", 0, 1, 0, {}},
  {"HeldTickAtTheDeadlineRestores", HELD "; advance 10", "tick",
   kNo, "none", kNo, 0, kNo, {0}},
  {"HeldTickAfterTheDeadlineWhoseRestoreFailsKeepsTheStaleOwner",
   HELD "; advance 30; reject 0", "tick", kNo, "a", 0, 1, 0, {0}},
  {"OwedTickRestores", OWED, "tick",
   kNo, "none", kNo, 0, kNo, {0}},
  // A fresh capture would save 1; the owed 0 must stay.
  {"OwedRenewByAnyoneTakesTheLeaseWithoutCapturing", OWED "; setting 1",
   "renew b", true, "b", 0, 1, 0, {}},
  {"OwedRenewByStaleOwnerTakesTheLeaseAgain", LAPSED, "renew a",
   true, "a", 0, 1, 0, {}},
  {"OwedRenewByAnotherWhileTheStaleOwnerHoldsIsRefused", LAPSED, "renew b",
   false, "a", 0, 1, 0, {}},
};
// clang-format on

class TransitionTest : public ::testing::TestWithParam<Transition> {};

TEST_P(TransitionTest, EndsInTheExpectedState) {
  const Transition& t = GetParam();
  LeaseHarness h;
  Clients c;
  h.start();
  play(h, c, t.given);
  h.system->resetCounts();
  double before = h.system->now;

  EXPECT_EQ(play(h, c, t.when), t.reply);

  SecurityHelperTestPeer::Snapshot s = h.snapshot();
  EXPECT_EQ(s.owner, c.named(t.owner));
  EXPECT_EQ(s.original, t.original);
  EXPECT_EQ(h.system->setting, t.setting);
  EXPECT_EQ(h.fileValue(), t.file);
  EXPECT_EQ(h.fileExists(), t.file.has_value());
  EXPECT_EQ(h.system->writes, t.writes);
  if (t.reply == true && s.owner) {
    EXPECT_EQ(s.deadline, before + 10.0);
  }
}

INSTANTIATE_TEST_SUITE_P(Lease, TransitionTest,
                         ::testing::ValuesIn(kTransitions),
                         [](const ::testing::TestParamInfo<Transition>& info) {
                           return std::string(info.param.name);
                         });

// What each kind of request costs in reads, saves and clock reads.
struct Cost {
  const char* name;
  const char* given;
  const char* when;
  int reads;
  int saves;
  int clockReads;
};

const Cost kCosts[] = {
    {"FirstRenewalReadsTwiceAndSaves", "", "renew a", 2, 1, 1},
    {"RenewalWhileHeldReadsOnce", "renew a; advance 9", "renew a", 1, 0, 1},
    {"RenewalAfterTheLeaseEndedCapturesAfresh",
     "renew a; advance 10; tick; setting 1", "renew b", 2, 1, 1},
    {"RefusedRequestsTouchNothing", "renew a", "renew b; release b", 0, 0, 0},
    {"RenewalWithoutAConnectionTouchesNothing", "", "renew none", 0, 0, 0},
    {"IdleTickDoesNotReadTheClock", "", "tick", 0, 0, 0},
    {"HeldTickReadsOnlyTheClock", "renew a", "tick", 0, 0, 1},
};

class CostTest : public ::testing::TestWithParam<Cost> {};

TEST_P(CostTest, TouchesOnlyWhatItNeeds) {
  const Cost& cost = GetParam();
  LeaseHarness h;
  Clients c;
  h.start();
  play(h, c, cost.given);
  h.system->resetCounts();
  play(h, c, cost.when);
  EXPECT_EQ(h.system->reads, cost.reads);
  EXPECT_EQ(h.system->saves, cost.saves);
  EXPECT_EQ(h.system->clockReads, cost.clockReads);
}

INSTANTIATE_TEST_SUITE_P(Requests, CostTest, ::testing::ValuesIn(kCosts),
                         [](const ::testing::TestParamInfo<Cost>& info) {
                           return std::string(info.param.name);
                         });

TEST(SecurityHelperTest, DeadlineThatIsNotANumberEndsTheLease) {
  LeaseHarness h;
  Clients c;
  h.start();
  h.system->now = std::numeric_limits<double>::quiet_NaN();
  play(h, c, "renew a; tick");
  EXPECT_FALSE(h.snapshot().original.has_value());
  EXPECT_EQ(h.system->setting, 0);
}

TEST(SecurityHelperTest, FailedRestoreIsRetriedOnEveryTick) {
  LeaseHarness h;
  Clients c;
  h.start();
  play(h, c, "renew a; unlink; release a; tick; tick");
  // Each attempt writes the value back, then fails at the missing file.
  EXPECT_EQ(h.system->writes, (std::vector<int64_t>{1, 0, 0, 0}));
  EXPECT_TRUE(h.snapshot().original.has_value());
}

TEST(SecurityHelperTest, ReplyComesOnTheQueueAndRenewDoesNotBlock) {
  LeaseHarness h;
  Clients c;
  h.start();
  // Hold the queue so that the renewal cannot have run when renew returns.
  std::promise<void> letGo;
  std::shared_future<void> gate = letGo.get_future().share();
  h.helper->queue().async([gate] { gate.wait(); });
  std::promise<bool> onQueue;
  h.helper->renew(
      c.a, [&](bool) { onQueue.set_value(h.helper->queue().isCurrent()); });
  letGo.set_value();
  EXPECT_TRUE(onQueue.get_future().get());
  EXPECT_EQ(h.helper->queue().label(), "Vesk.break-security.lease");
  EXPECT_TRUE(h.snapshot().hasTimer);
}

// ---- start-up recovery

struct Recovery {
  const char* name;
  std::string fileBytes;  // empty: no file
  std::vector<int64_t> writes;
  bool fileRemains;
};

std::string binaryState(int64_t v) { return *encodeLeaseState(v); }

std::string xmlPlist(const std::string& dictBody) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n<dict>\n" +
         dictBody + "</dict>\n</plist>\n";
}

const Recovery kRecoveries[] = {
    {"NoFile", "", {}, false},
    {"BinaryZero", binaryState(0), {0}, false},
    {"BinaryOne", binaryState(1), {1}, false},
    {"BinaryTwo", binaryState(2), {}, true},
    {"BinaryMinusOne", binaryState(-1), {}, true},
    {"XmlZero",
     xmlPlist("<key>SleepDisabled</key><integer>0</integer>\n"),
     {0},
     false},
    {"XmlWithFurtherIntegerKey",
     xmlPlist("<key>Other</key><integer>7</integer>\n"
              "<key>SleepDisabled</key><integer>1</integer>\n"),
     {1},
     false},
    {"XmlWithFurtherStringKey",
     xmlPlist("<key>SleepDisabled</key><integer>0</integer>\n"
              "<key>Other</key><string>x</string>\n"),
     {},
     true},
    {"XmlBooleanValue",
     xmlPlist("<key>SleepDisabled</key><true/>\n"),
     {},
     true},
    {"XmlRealValue",
     xmlPlist("<key>SleepDisabled</key><real>0</real>\n"),
     {},
     true},
    {"XmlMissingKey",
     xmlPlist("<key>Sleep</key><integer>0</integer>\n"),
     {},
     true},
    {"XmlEmptyDictionary", xmlPlist(""), {}, true},
    {"XmlArrayRoot",
     "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><integer>0"
     "</integer></array></plist>",
     {},
     true},
    {"NotAPropertyList", "SleepDisabled = 0\n", {}, true},
    {"TruncatedBinary", binaryState(0).substr(0, 20), {}, true},
};

class RecoveryTest : public ::testing::TestWithParam<Recovery> {};

TEST_P(RecoveryTest, WritesBackOnlyAValidValue) {
  const Recovery& r = GetParam();
  LeaseHarness h;
  h.system->setting = 1;
  if (!r.fileBytes.empty()) testing::writeFile(h.statePath, r.fileBytes);

  h.start();

  // All of it happened before construction returned.
  EXPECT_EQ(h.system->writes, r.writes);
  EXPECT_EQ(h.fileExists(), r.fileRemains);
  SecurityHelperTestPeer::Snapshot s = h.snapshot();
  EXPECT_FALSE(s.original.has_value());
  EXPECT_EQ(s.owner, nullptr);
}

INSTANTIATE_TEST_SUITE_P(StartUp, RecoveryTest,
                         ::testing::ValuesIn(kRecoveries),
                         [](const ::testing::TestParamInfo<Recovery>& info) {
                           return std::string(info.param.name);
                         });

TEST(SecurityHelperTest, FailedStartUpRestoreIsOwedAndKeptThroughALease) {
  LeaseHarness h;
  Clients c;
  testing::writeFile(h.statePath, binaryState(0));
  h.system->setting = 1;
  h.system->rejected = {0};
  h.start();
  SecurityHelperTestPeer::Snapshot s = h.snapshot();
  EXPECT_EQ(s.original, 0);
  EXPECT_EQ(s.owner, nullptr);

  // A client that comes meanwhile gets the lease without a new capture, and
  // its release puts back the value from the file.
  h.system->clearFaults();
  h.system->resetCounts();
  ASSERT_TRUE(h.renew(c.a));
  EXPECT_EQ(h.system->saves, 0);
  ASSERT_TRUE(h.release(c.a));
  EXPECT_EQ(h.system->setting, 0);
  EXPECT_FALSE(h.fileExists());
}

// ---- the real timer

TEST(SecurityHelperTest, TimerTicksAboutOnceASecondFromOneSecondAfterStart) {
  testing::TempDir dir;
  std::string path = dir.file("state.plist");
  testing::writeFile(path, binaryState(0));
  std::mutex mutex;
  std::condition_variable attempted;
  std::vector<std::chrono::steady_clock::time_point> attempts;
  auto start = std::chrono::steady_clock::now();
  // Every write-back fails, so every tick tries the owed restore again.
  std::shared_ptr<SecurityHelper> helper = SecurityHelper::create(
      path, [] { return std::optional<int64_t>(1); },
      [&](int64_t) {
        std::lock_guard<std::mutex> lock(mutex);
        attempts.push_back(std::chrono::steady_clock::now());
        attempted.notify_all();
        return false;
      },
      [] { return 0.0; });
  auto created = std::chrono::steady_clock::now();
  {
    std::unique_lock<std::mutex> lock(mutex);
    // Start-up recovery came before construction returned.
    ASSERT_GE(attempts.size(), 1u);
    EXPECT_LE(attempts[0], created);
    ASSERT_TRUE(attempted.wait_for(lock, std::chrono::seconds(60),
                                   [&] { return attempts.size() >= 4; }));
  }
  helper.reset();
  // Ticks never come early: the third one is at least three seconds in.
  EXPECT_GE(attempts[3] - start, std::chrono::milliseconds(2990));
}

TEST(SecurityHelperTest, TimerDoesNotKeepTheControllerAlive) {
  LeaseHarness h;
  h.start();
  std::weak_ptr<SecurityHelper> weak = h.helper;
  h.helper.reset();
  EXPECT_TRUE(weak.expired());
}

// A renewal keeps the controller alive until it has replied; when it held
// the last reference, the controller then goes on its own queue.
TEST(SecurityHelperTest, LastReferenceMayBeDroppedOnTheQueue) {
  LeaseHarness h;
  Clients c;
  h.start();
  std::weak_ptr<SecurityHelper> weak = h.helper;
  std::promise<bool> replied;
  h.helper->renew(c.a, [&](bool ok) { replied.set_value(ok); });
  h.helper.reset();
  EXPECT_TRUE(replied.get_future().get());
  auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!weak.expired() && std::chrono::steady_clock::now() < bound) {
    std::this_thread::yield();
  }
  EXPECT_TRUE(weak.expired());
}

}  // namespace
}  // namespace vesk
