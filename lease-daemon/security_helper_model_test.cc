// Random sequences of lease requests, invalidations, ticks, clock jumps and
// injected failures, checked after every step against what must always
// hold, and at the end of each sequence against what must follow once the
// failures stop and no one renews.

#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <string>

#include "lease_harness.h"

namespace vesk {
namespace {

using testing::LeaseHarness;
using Snapshot = SecurityHelperTestPeer::Snapshot;

constexpr int kSequences = 2000;
constexpr int kStepsPerSequence = 60;
constexpr int kConnections = 3;

// Fsync is free on tmpfs, which keeps thousands of captures quick.
std::string scratchBase() {
  return access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "";
}

class Sequence {
 public:
  explicit Sequence(uint32_t seed) : random_(seed), h_(scratchBase()) {
    for (auto& c : connections_) c = std::make_shared<Connection>();
  }

  void run() {
    h_.system->setting = coin(0.5);
    // Sometimes an earlier run left a valid file behind.
    if (chance(0.2)) {
      int64_t left = coin(0.5);
      ASSERT_TRUE(saveLeaseState(h_.statePath, left));
      if (chance(0.3)) h_.system->rejected = {left};
    }
    h_.start();
    checkInvariants("start");
    for (int step = 0; step < kStepsPerSequence; ++step) {
      this->step();
      if (::testing::Test::HasFailure()) return;
    }
    settle();
  }

 private:
  bool chance(double p) { return std::bernoulli_distribution(p)(random_); }
  int64_t coin(double p) { return chance(p) ? 1 : 0; }
  int pick(int n) {
    return std::uniform_int_distribution<int>(0, n - 1)(random_);
  }
  std::shared_ptr<Connection> someConnection() {
    return connections_[pick(kConnections)];
  }

  // One random operation; what each does in each state is the transition
  // table's business (security_helper_test.cc), the invariants are checked
  // here.
  void step() {
    static const char* const kNames[] = {
        "renew",      "renew", "renew", "release", "release",
        "invalidate", "jump",  "tick",  "faults",  "outside change"};
    const int op = pick(10);
    if (op < 3) {
      h_.renew(someConnection());
    } else if (op < 5) {
      h_.release(someConnection());
    } else if (op == 5) {
      h_.invalidate(chance(0.2) ? nullptr : someConnection());
    } else if (op < 8) {
      if (op == 6) {
        h_.system->now +=
            std::uniform_real_distribution<double>(0, 12)(random_);
      }
      h_.tick();
    } else if (op == 8) {
      changeFaults();
    } else if (chance(0.05)) {
      // The world outside: rarely something deletes the state file, more
      // often the user changes the setting.
      const bool captured = h_.snapshot().original.has_value();
      if (::unlink(h_.statePath.c_str()) == 0 && captured) fileRemoved_ = true;
    } else {
      h_.system->setting = coin(0.5);
    }
    checkInvariants(kNames[op]);
  }

  void changeFaults() {
    h_.system->clearFaults();
    if (chance(0.5)) return;
    if (chance(0.3)) h_.system->failReads = true;
    if (chance(0.3)) h_.system->rejected = {coin(0.5)};
    if (chance(0.2)) h_.system->unverified = {coin(0.5)};
    std::set<StateFileStep>& steps = h_.system->failingSteps;
    if (chance(0.2)) steps.insert(StateFileStep::kWrite);
    if (chance(0.2)) steps.insert(StateFileStep::kSetPermissions);
    if (chance(0.3)) steps.insert(StateFileStep::kRemove);
  }

  void checkInvariants(const char* after) {
    SCOPED_TRACE(after);
    Snapshot s = h_.snapshot();
    EXPECT_TRUE(!s.owner || s.original) << "owner without a captured value";
    if (!s.original) fileRemoved_ = false;
    if (s.original && !fileRemoved_) {
      EXPECT_EQ(h_.fileValue(), s.original);
    }
  }

  // Failures stop and no one renews: within 11 seconds of ticks the setting
  // is back and the controller idle. (A state file deleted from outside
  // keeps the restore owed for good, with the value back in place.)
  void settle() {
    h_.system->clearFaults();
    Snapshot before = h_.snapshot();
    int64_t settingBefore = h_.system->setting;
    for (int second = 0; second < 11; ++second) {
      h_.system->now += 1.0;
      h_.tick();
    }
    Snapshot s = h_.snapshot();
    EXPECT_EQ(h_.system->setting, before.original.value_or(settingBefore));
    EXPECT_EQ(s.original.has_value(), fileRemoved_);
    // A restore that keeps failing at the missing file also keeps the
    // lapsed owner.
    EXPECT_TRUE(fileRemoved_ || !s.owner);
    // A file that a capture failing at its permission step left behind
    // stays until the next capture; any other is gone.
    EXPECT_TRUE(!before.original || !h_.fileExists());
  }

  std::mt19937 random_;
  LeaseHarness h_;
  std::shared_ptr<Connection> connections_[kConnections];
  bool fileRemoved_ = false;
};

TEST(SecurityHelperModelTest, RandomSequencesKeepTheInvariants) {
  for (uint32_t seed = 1; seed <= kSequences; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Sequence(seed).run();
    if (HasFailure()) return;
  }
}

}  // namespace
}  // namespace vesk
