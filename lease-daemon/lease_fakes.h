// Fakes for driving SecurityHelper in tests: a sleep setting whose reads and
// writes can be made to fail, a clock the test moves, and failures injected
// into the state-file steps. The injected functions run on the controller's
// queue while the test thread looks on, so every field is behind a mutex.
// Tests only.

#ifndef VESK_LEASE_DAEMON_LEASE_FAKES_H_
#define VESK_LEASE_DAEMON_LEASE_FAKES_H_

#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "lease_state_file.h"
#include "lease_test_support.h"
#include "security_helper.h"
#include "security_helper_test_peer.h"

namespace vesk::testing {

class FakeSystem {
  template <typename F>
  auto locked(F f) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return f();
  }

 public:
  // The setting as the machine has it.
  int64_t setting() const {
    return locked([&] { return setting_; });
  }
  void setSetting(int64_t v) {
    locked([&] { setting_ = v; });
  }

  double now() const {
    return locked([&] { return now_; });
  }
  void advance(double seconds) {
    locked([&] { now_ += seconds; });
  }
  void setNow(double t) {
    locked([&] { now_ = t; });
  }

  // Faults; each stays until changed.
  void failReads(bool on) {
    locked([&] { failReads_ = on; });
  }
  // A rejected write changes nothing; an unverified one changes the setting
  // but reports failure (the tool ran, the check afterwards failed).
  void rejectWritesOf(std::set<int64_t> v) {
    locked([&] { rejected_ = v; });
  }
  void unverifiedWritesOf(std::set<int64_t> v) {
    locked([&] { unverified_ = v; });
  }
  void failStateStep(std::set<StateFileStep> steps) {
    locked([&] { failingSteps_ = steps; });
  }
  void clearFaults() {
    locked([&] {
      failReads_ = false;
      rejected_.clear();
      unverified_.clear();
      failingSteps_.clear();
    });
  }

  // What the controller did.
  int reads() const {
    return locked([&] { return reads_; });
  }
  int clockReads() const {
    return locked([&] { return clockReads_; });
  }
  int saves() const {
    return locked([&] { return saves_; });
  }
  std::vector<int64_t> writes() const {
    return locked([&] { return writes_; });
  }
  void resetCounts() {
    locked([&] {
      reads_ = 0;
      clockReads_ = 0;
      saves_ = 0;
      writes_.clear();
    });
  }

  static SecurityHelper::ReadPower read(std::shared_ptr<FakeSystem> s) {
    return [s]() -> std::optional<int64_t> {
      return s->locked([&]() -> std::optional<int64_t> {
        ++s->reads_;
        if (s->failReads_) return std::nullopt;
        return s->setting_;
      });
    };
  }
  static SecurityHelper::WritePower write(std::shared_ptr<FakeSystem> s) {
    return [s](int64_t v) {
      return s->locked([&] {
        s->writes_.push_back(v);
        if (s->rejected_.count(v)) return false;
        s->setting_ = v;
        return s->unverified_.count(v) == 0;
      });
    };
  }
  static SecurityHelper::Uptime uptime(std::shared_ptr<FakeSystem> s) {
    return [s] {
      return s->locked([&] {
        ++s->clockReads_;
        return s->now_;
      });
    };
  }
  static StateFileFault stateFault(std::shared_ptr<FakeSystem> s) {
    return [s](StateFileStep step) {
      return s->locked([&] {
        if (step == StateFileStep::kWrite) ++s->saves_;
        return s->failingSteps_.count(step) > 0;
      });
    };
  }

 private:
  mutable std::mutex mutex_;
  int64_t setting_ = 0;
  double now_ = 1000.0;
  bool failReads_ = false;
  std::set<int64_t> rejected_;
  std::set<int64_t> unverified_;
  std::set<StateFileStep> failingSteps_;
  int reads_ = 0;
  int clockReads_ = 0;
  int saves_ = 0;
  std::vector<int64_t> writes_;
};

// A controller on fakes with its state file in a fresh directory. The
// controller is built by start(), so a test can first lay out a state file
// and faults for start-up recovery.
class LeaseHarness {
 public:
  explicit LeaseHarness(const std::string& dirBase = "")
      : dir(dirBase), statePath(dir.file("state.plist")) {}

  void start() {
    helper = SecurityHelperTestPeer::create(
        statePath, FakeSystem::read(system), FakeSystem::write(system),
        FakeSystem::uptime(system), FakeSystem::stateFault(system));
  }

  // Each waits for the reply and fails the test if it comes more than once.
  bool renew(const std::shared_ptr<Connection>& c) {
    return await([&](SecurityHelper::Reply r) { helper->renew(c, r); });
  }
  bool release(const std::shared_ptr<Connection>& c) {
    return await([&](SecurityHelper::Reply r) { helper->release(c, r); });
  }
  void tick() { SecurityHelperTestPeer::tick(*helper); }
  void invalidate(const std::shared_ptr<Connection>& c) {
    SecurityHelperTestPeer::invalidate(*helper, c);
  }
  SecurityHelperTestPeer::Snapshot snapshot() {
    return SecurityHelperTestPeer::snapshot(*helper);
  }
  std::optional<int64_t> fileValue() const { return loadLeaseState(statePath); }
  bool fileExists() const { return testing::fileExists(statePath); }

  TempDir dir;
  const std::string statePath;
  std::shared_ptr<FakeSystem> system = std::make_shared<FakeSystem>();
  std::shared_ptr<SecurityHelper> helper;

 private:
  template <typename Call>
  bool await(Call call) {
    auto replied = std::make_shared<std::promise<bool>>();
    call([replied](bool ok) { replied->set_value(ok); });
    return replied->get_future().get();
  }
};

}  // namespace vesk::testing

#endif  // VESK_LEASE_DAEMON_LEASE_FAKES_H_
