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

#include "lease_fakes.h"
#include "lease_state_file.h"
#include "lease_test_support.h"
#include "security_helper_test_peer.h"

namespace vesk {
namespace {

using testing::FakeSystem;
using testing::LeaseHarness;

struct Clients {
  std::shared_ptr<Connection> a = std::make_shared<Connection>();
  std::shared_ptr<Connection> b = std::make_shared<Connection>();
};

enum class Owner { kNone, kA, kB };

struct Transition {
  const char* name;
  // Brings a started controller (setting 0, no faults) into the state the
  // case starts from. Counts are reset after it.
  std::function<void(LeaseHarness&, Clients&)> given;
  // The event; returns its reply, if it has one.
  std::function<std::optional<bool>(LeaseHarness&, Clients&)> when;
  std::optional<bool> reply;
  Owner owner;
  std::optional<int64_t> original;
  int64_t setting;
  std::optional<int64_t> file;  // absent: no state file
  std::vector<int64_t> writes;
};

void hold(LeaseHarness& h, Clients& c) { ASSERT_TRUE(h.renew(c.a)); }

// A restore is owed and no one holds the lease: the owner's release could
// not write the value back.
void owedWithoutOwner(LeaseHarness& h, Clients& c) {
  hold(h, c);
  h.system->rejectWritesOf({0});
  ASSERT_FALSE(h.release(c.a));
  h.system->clearFaults();
}

// The owner let the lease lapse and the restore on the tick failed.
void owedWithStaleOwner(LeaseHarness& h, Clients& c) {
  hold(h, c);
  h.system->rejectWritesOf({0});
  h.system->advance(10.0);
  h.tick();
  h.system->clearFaults();
}

std::function<std::optional<bool>(LeaseHarness&, Clients&)> renewBy(
    std::shared_ptr<Connection> Clients::*who) {
  return [who](LeaseHarness& h, Clients& c) { return h.renew(c.*who); };
}
std::function<std::optional<bool>(LeaseHarness&, Clients&)> releaseBy(
    std::shared_ptr<Connection> Clients::*who) {
  return [who](LeaseHarness& h, Clients& c) { return h.release(c.*who); };
}

template <typename F>
std::function<std::optional<bool>(LeaseHarness&, Clients&)> then(F f) {
  return [f](LeaseHarness& h, Clients& c) -> std::optional<bool> {
    f(h, c);
    return std::nullopt;
  };
}

const Transition kTransitions[] = {
    {"IdleRenewCapturesZeroAndDisablesSleep",
     nullptr,
     renewBy(&Clients::a),
     true,
     Owner::kA,
     0,
     1,
     0,
     {1}},
    {"IdleRenewWhenAlreadyOneWritesNothing",
     [](LeaseHarness& h, Clients&) { h.system->setSetting(1); },
     renewBy(&Clients::a),
     true,
     Owner::kA,
     1,
     1,
     1,
     {}},
    {"IdleRenewWithUnreadableSettingFails",
     [](LeaseHarness& h, Clients&) { h.system->failReads(true); },
     renewBy(&Clients::a),
     false,
     Owner::kNone,
     std::nullopt,
     0,
     std::nullopt,
     {}},
    {"IdleRenewWhoseStateFileCannotBeWrittenFails",
     [](LeaseHarness& h, Clients&) {
       h.system->failStateStep({StateFileStep::kWrite});
     },
     renewBy(&Clients::a),
     false,
     Owner::kNone,
     std::nullopt,
     0,
     std::nullopt,
     {}},
    {"IdleRenewWhosePermissionStepFailsLeavesTheFile",
     [](LeaseHarness& h, Clients&) {
       h.system->failStateStep({StateFileStep::kSetPermissions});
     },
     renewBy(&Clients::a),
     false,
     Owner::kNone,
     std::nullopt,
     0,
     0,
     {}},
    {"IdleRenewWhoseWriteOfOneFailsRestoresAtOnce",
     [](LeaseHarness& h, Clients&) { h.system->rejectWritesOf({1}); },
     renewBy(&Clients::a),
     false,
     Owner::kNone,
     std::nullopt,
     0,
     std::nullopt,
     {1, 0}},
    {"IdleRenewWhoseWriteAndRestoreFailLeavesTheValueOwed",
     [](LeaseHarness& h, Clients&) {
       h.system->rejectWritesOf({0, 1});
     },
     renewBy(&Clients::a),
     false,
     Owner::kNone,
     0,
     0,
     0,
     {1, 0}},
    {"HeldRenewByOwnerOnlyMovesTheDeadline",
     [](LeaseHarness& h, Clients& c) {
       hold(h, c);
       h.system->advance(9.0);
     },
     renewBy(&Clients::a),
     true,
     Owner::kA,
     0,
     1,
     0,
     {}},
    {"HeldRenewByOwnerPutsALostSettingBack",
     [](LeaseHarness& h, Clients& c) {
       hold(h, c);
       h.system->setSetting(0);
     },
     renewBy(&Clients::a),
     true,
     Owner::kA,
     0,
     1,
     0,
     {1}},
    {"HeldRenewByOwnerWhoseWriteFailsKeepsTheLease",
     [](LeaseHarness& h, Clients& c) {
       hold(h, c);
       h.system->setSetting(0);
       h.system->rejectWritesOf({1});
     },
     renewBy(&Clients::a),
     false,
     Owner::kA,
     0,
     0,
     0,
     {1}},
    {"HeldRenewByAnotherIsRefused",
     hold,
     renewBy(&Clients::b),
     false,
     Owner::kA,
     0,
     1,
     0,
     {}},
    {"HeldReleaseByAnotherIsRefused",
     hold,
     releaseBy(&Clients::b),
     false,
     Owner::kA,
     0,
     1,
     0,
     {}},
    {"HeldReleaseByOwnerRestores",
     hold,
     releaseBy(&Clients::a),
     true,
     Owner::kNone,
     std::nullopt,
     0,
     std::nullopt,
     {0}},
    {"HeldReleaseByOwnerWhoseWriteBackFailsLeavesItOwed",
     [](LeaseHarness& h, Clients& c) {
       hold(h, c);
       h.system->rejectWritesOf({0});
     },
     releaseBy(&Clients::a),
     false,
     Owner::kNone,
     0,
     1,
     0,
     {0}},
    {"HeldReleaseByOwnerWhoseRemovalFailsLeavesItOwed",
     [](LeaseHarness& h, Clients& c) {
       hold(h, c);
       h.system->failStateStep({StateFileStep::kRemove});
     },
     releaseBy(&Clients::a),
     false,
     Owner::kNone,
     0,
     0,
     0,
     {0}},
    {"HeldReleaseWithStateFileDeletedOutsideWritesBackButStaysOwed",
     [](LeaseHarness& h, Clients& c) {
       hold(h, c);
       ::unlink(h.statePath.c_str());
     },
     releaseBy(&Clients::a),
     false,
     Owner::kNone,
     0,
     0,
     std::nullopt,
     {0}},
    {"IdleReleaseIsGranted",
     nullptr,
     releaseBy(&Clients::a),
     true,
     Owner::kNone,
     std::nullopt,
     0,
     std::nullopt,
     {}},
    {"OwedReleaseWithoutOwnerIsGrantedAndLeavesTheRestoreToTheTick",
     owedWithoutOwner,
     releaseBy(&Clients::b),
     true,
     Owner::kNone,
     0,
     1,
     0,
     {}},
    {"HeldInvalidationOfOwnerRestores",
     hold,
     then([](LeaseHarness& h, Clients& c) { h.invalidate(c.a); }),
     std::nullopt,
     Owner::kNone,
     std::nullopt,
     0,
     std::nullopt,
     {0}},
    {"HeldInvalidationOfAnotherChangesNothing",
     hold,
     then([](LeaseHarness& h, Clients& c) { h.invalidate(c.b); }),
     std::nullopt,
     Owner::kA,
     0,
     1,
     0,
     {}},
    {"HeldInvalidationOfAFreedConnectionChangesNothing",
     hold,
     then([](LeaseHarness& h, Clients&) { h.invalidate(nullptr); }),
     std::nullopt,
     Owner::kA,
     0,
     1,
     0,
     {}},
    {"OwedInvalidationOfAFreedConnectionRestores",
     owedWithoutOwner,
     then([](LeaseHarness& h, Clients&) { h.invalidate(nullptr); }),
     std::nullopt,
     Owner::kNone,
     std::nullopt,
     0,
     std::nullopt,
     {0}},
    {"HeldTickBeforeTheDeadlineKeepsTheLease",
     [](LeaseHarness& h, Clients& c) {
       hold(h, c);
       h.system->advance(9.999);
     },
     then([](LeaseHarness& h, Clients&) { h.tick(); }),
     std::nullopt,
     Owner::kA,
     0,
     1,
     0,
     {}},
    {"HeldTickAtTheDeadlineRestores",
     [](LeaseHarness& h, Clients& c) {
       hold(h, c);
       h.system->advance(10.0);
     },
     then([](LeaseHarness& h, Clients&) { h.tick(); }),
     std::nullopt,
     Owner::kNone,
     std::nullopt,
     0,
     std::nullopt,
     {0}},
    {"HeldTickAfterTheDeadlineWhoseRestoreFailsKeepsTheStaleOwner",
     [](LeaseHarness& h, Clients& c) {
       hold(h, c);
       h.system->advance(30.0);
       h.system->rejectWritesOf({0});
     },
     then([](LeaseHarness& h, Clients&) { h.tick(); }),
     std::nullopt,
     Owner::kA,
     0,
     1,
     0,
     {0}},
    {"OwedTickRestores",
     owedWithoutOwner,
     then([](LeaseHarness& h, Clients&) { h.tick(); }),
     std::nullopt,
     Owner::kNone,
     std::nullopt,
     0,
     std::nullopt,
     {0}},
    {"OwedRenewByAnyoneTakesTheLeaseWithoutCapturing",
     [](LeaseHarness& h, Clients& c) {
       owedWithoutOwner(h, c);
       // A fresh capture would save 1; the owed 0 must stay.
       h.system->setSetting(1);
     },
     renewBy(&Clients::b),
     true,
     Owner::kB,
     0,
     1,
     0,
     {}},
    {"OwedRenewByStaleOwnerTakesTheLeaseAgain",
     owedWithStaleOwner,
     renewBy(&Clients::a),
     true,
     Owner::kA,
     0,
     1,
     0,
     {}},
    {"OwedRenewByAnotherWhileTheStaleOwnerHoldsIsRefused",
     owedWithStaleOwner,
     renewBy(&Clients::b),
     false,
     Owner::kA,
     0,
     1,
     0,
     {}},
};

class TransitionTest : public ::testing::TestWithParam<Transition> {};

TEST_P(TransitionTest, EndsInTheExpectedState) {
  const Transition& t = GetParam();
  LeaseHarness h;
  Clients c;
  h.start();
  if (t.given) t.given(h, c);
  if (::testing::Test::HasFatalFailure()) return;
  h.system->resetCounts();
  double before = h.system->now();

  std::optional<bool> reply = t.when(h, c);

  EXPECT_EQ(reply, t.reply);
  SecurityHelperTestPeer::Snapshot s = h.snapshot();
  std::shared_ptr<Connection> expectedOwner = t.owner == Owner::kA   ? c.a
                                              : t.owner == Owner::kB ? c.b
                                                                     : nullptr;
  EXPECT_EQ(s.owner, expectedOwner);
  EXPECT_EQ(s.original, t.original);
  EXPECT_EQ(h.system->setting(), t.setting);
  EXPECT_EQ(h.fileValue(), t.file);
  EXPECT_EQ(h.fileExists(), t.file.has_value());
  EXPECT_EQ(h.system->writes(), t.writes);
  if (reply == true && t.owner != Owner::kNone) {
    EXPECT_EQ(s.deadline, before + 10.0);
  }
}

INSTANTIATE_TEST_SUITE_P(Lease, TransitionTest,
                         ::testing::ValuesIn(kTransitions),
                         [](const ::testing::TestParamInfo<Transition>& info) {
                           return std::string(info.param.name);
                         });

TEST(SecurityHelperTest, RefusedRequestsTouchNeitherSettingNorClock) {
  LeaseHarness h;
  Clients c;
  h.start();
  ASSERT_TRUE(h.renew(c.a));
  SecurityHelperTestPeer::Snapshot before = h.snapshot();
  h.system->resetCounts();

  EXPECT_FALSE(h.renew(c.b));
  EXPECT_FALSE(h.release(c.b));

  SecurityHelperTestPeer::Snapshot after = h.snapshot();
  EXPECT_EQ(after.owner, before.owner);
  EXPECT_EQ(after.deadline, before.deadline);
  EXPECT_EQ(h.system->reads(), 0);
  EXPECT_EQ(h.system->clockReads(), 0);
  EXPECT_TRUE(h.system->writes().empty());
}

TEST(SecurityHelperTest, RenewalsCaptureOnlyWhenNothingIsOwed) {
  LeaseHarness h;
  Clients c;
  h.start();
  ASSERT_TRUE(h.renew(c.a));
  EXPECT_EQ(h.system->saves(), 1);
  EXPECT_EQ(h.system->reads(), 2);  // the capture, then the check

  h.system->resetCounts();
  h.system->advance(9.0);
  ASSERT_TRUE(h.renew(c.a));
  EXPECT_EQ(h.system->saves(), 0);
  EXPECT_EQ(h.system->reads(), 1);

  // After the lease lapses, the next renewal by anyone captures afresh.
  h.system->advance(10.0);
  h.tick();
  ASSERT_FALSE(h.snapshot().original.has_value());
  h.system->setSetting(1);
  h.system->resetCounts();
  ASSERT_TRUE(h.renew(c.b));
  EXPECT_EQ(h.system->saves(), 1);
  EXPECT_EQ(h.fileValue(), 1);
}

TEST(SecurityHelperTest, TickReadsTheClockOnlyWhileALeaseIsHeld) {
  LeaseHarness h;
  Clients c;
  h.start();
  h.tick();
  EXPECT_EQ(h.system->clockReads(), 0);

  ASSERT_TRUE(h.renew(c.a));
  h.system->resetCounts();
  h.tick();
  EXPECT_EQ(h.system->clockReads(), 1);
  EXPECT_EQ(h.system->reads(), 0);
  EXPECT_TRUE(h.system->writes().empty());
}

TEST(SecurityHelperTest, DeadlineThatIsNotANumberEndsTheLease) {
  LeaseHarness h;
  Clients c;
  h.start();
  h.system->setNow(std::numeric_limits<double>::quiet_NaN());
  ASSERT_TRUE(h.renew(c.a));
  h.tick();
  EXPECT_FALSE(h.snapshot().original.has_value());
  EXPECT_EQ(h.system->setting(), 0);
}

TEST(SecurityHelperTest, FailedRestoreIsRetriedOnEveryTick) {
  LeaseHarness h;
  Clients c;
  h.start();
  ASSERT_TRUE(h.renew(c.a));
  ::unlink(h.statePath.c_str());
  ASSERT_FALSE(h.release(c.a));
  h.tick();
  h.tick();
  // Each attempt writes the value back, then fails at the missing file.
  EXPECT_EQ(h.system->writes(), (std::vector<int64_t>{1, 0, 0, 0}));
  EXPECT_TRUE(h.snapshot().original.has_value());
}

TEST(SecurityHelperTest, RenewalWithoutAConnectionIsRefused) {
  LeaseHarness h;
  h.start();
  EXPECT_FALSE(h.renew(nullptr));
  EXPECT_EQ(h.system->reads(), 0);
  EXPECT_FALSE(h.snapshot().original.has_value());
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
  h.system->setSetting(1);
  if (!r.fileBytes.empty()) testing::writeFile(h.statePath, r.fileBytes);

  h.start();

  // All of it happened before construction returned.
  EXPECT_EQ(h.system->writes(), r.writes);
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
  h.system->setSetting(1);
  h.system->rejectWritesOf({0});
  h.start();
  SecurityHelperTestPeer::Snapshot s = h.snapshot();
  EXPECT_EQ(s.original, 0);
  EXPECT_EQ(s.owner, nullptr);

  // A client that comes meanwhile gets the lease without a new capture, and
  // its release puts back the value from the file.
  h.system->clearFaults();
  h.system->resetCounts();
  ASSERT_TRUE(h.renew(c.a));
  EXPECT_EQ(h.system->saves(), 0);
  ASSERT_TRUE(h.release(c.a));
  EXPECT_EQ(h.system->setting(), 0);
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
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_EQ(attempts.size(), 1u);  // start-up recovery
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

}  // namespace
}  // namespace vesk
