// Fakes for driving SecurityHelper in tests: a sleep setting whose reads and
// writes can be made to fail, a clock the test moves, and failures injected
// into the state-file steps. The controller's timer is put a day away, so
// the fakes are used only by work the test waits for (through the queue or
// a reply), which orders every access; they need no lock. Tests only.

#ifndef VESK_LEASE_DAEMON_LEASE_FAKES_H_
#define VESK_LEASE_DAEMON_LEASE_FAKES_H_

#include <future>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "lease_state_file.h"
#include "lease_test_support.h"
#include "security_helper.h"
#include "security_helper_test_peer.h"

namespace vesk::testing {

struct FakeSystem {
  int64_t setting = 0;  // as the machine has it
  double now = 1000.0;

  // Faults; each stays until cleared. A rejected write changes nothing; an
  // unverified one changes the setting but reports failure (the tool ran,
  // the check afterwards failed).
  bool failReads = false;
  std::set<int64_t> rejected;
  std::set<int64_t> unverified;
  std::set<StateFileStep> failingSteps;

  // What the controller did.
  int reads = 0;
  int clockReads = 0;
  int saves = 0;
  std::vector<int64_t> writes;

  void clearFaults() {
    failReads = false;
    rejected.clear();
    unverified.clear();
    failingSteps.clear();
  }
  void resetCounts() {
    reads = clockReads = saves = 0;
    writes.clear();
  }
};

// A controller on fakes with its state file in a fresh directory. The
// controller is built by start(), so a test can first lay out a state file
// and faults for start-up recovery.
class LeaseHarness {
 public:
  explicit LeaseHarness(const std::string& dirBase = "")
      : dir(dirBase), statePath(dir.file("state.plist")) {}

  void start() {
    std::shared_ptr<FakeSystem> s = system;
    helper = SecurityHelperTestPeer::create(
        statePath,
        [s]() -> std::optional<int64_t> {
          ++s->reads;
          if (s->failReads) return std::nullopt;
          return s->setting;
        },
        [s](int64_t v) {
          s->writes.push_back(v);
          if (s->rejected.count(v)) return false;
          s->setting = v;
          return s->unverified.count(v) == 0;
        },
        [s] {
          ++s->clockReads;
          return s->now;
        },
        [s](StateFileStep step) {
          if (step == StateFileStep::kWrite) ++s->saves;
          return s->failingSteps.count(step) > 0;
        });
  }

  // Each waits for the reply; a second reply fails the test (by throwing on
  // the queue).
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
