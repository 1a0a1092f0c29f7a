// LeaseHarness: the lease controller on fakes (a sleep setting whose reads
// and writes can fail, a clock the test moves, failing state-file steps),
// its state file in a fresh directory. Its timer is a day away, so only work
// the test waits for touches the fakes; they need no lock.
// PmsetStandIn: pmset-stand-in.sh run as a real child process.

#ifndef VESK_LEASE_DAEMON_TESTING_LEASE_HARNESS_H_
#define VESK_LEASE_DAEMON_TESTING_LEASE_HARNESS_H_

#include <chrono>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "lease_state_file.h"
#include "security_helper.h"
#include "temp_dir.h"

namespace vesk {
namespace testing {

struct FakeSystem {
  int64_t setting = 0;
  double now = 1000.0;
  // Faults stay until cleared. A rejected write changes nothing; an
  // unverified one changes the setting but reports failure.
  bool failReads = false;
  std::set<int64_t> rejected, unverified;
  std::set<StateFileStep> failingSteps;
  // What the controller did.
  int reads = 0;
  std::vector<int64_t> writes;

  void clearFaults() {
    failReads = false;
    rejected.clear();
    unverified.clear();
    failingSteps.clear();
  }
};

class PmsetStandIn {
 public:
  // An executable `dir`/pmset that runs the stand-in on `dir`, setting 0.
  explicit PmsetStandIn(const std::string& dir);
  const std::string& path() const { return path_; }
  // Makes the stand-in behave as the flag file `name` says.
  void setFlag(const std::string& name) const;
  // The arguments of each run, joined by spaces.
  std::vector<std::string> runs() const;
  // Whether any run found descriptor `fd` open.
  bool sawDescriptor(int fd) const;

 private:
  std::string dir_;
  std::string path_;
};

}  // namespace testing

// The harness, under the name SecurityHelper grants access to its private
// side. Ticks, invalidations and snapshots run on the controller's queue.
class SecurityHelperTestPeer {
 public:
  struct Snapshot {
    std::shared_ptr<Connection> owner;
    double deadline = 0.0;
    std::optional<int64_t> original;
  };

  explicit SecurityHelperTestPeer(const std::string& dirBase = "")
      : dir(dirBase) {}

  // Builds the controller, so that a test can first lay out a state file
  // and faults for start-up recovery.
  void start() {
    std::shared_ptr<testing::FakeSystem> s = system;
    SecurityHelper::Options options;
    options.tickStart = options.tickPeriod = std::chrono::hours(24);
    options.stateFault = [s](StateFileStep step) {
      return s->failingSteps.count(step) > 0;
    };
    helper = SecurityHelper::createWithOptions(
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
        [s] { return s->now; }, std::move(options));
  }

  bool renew(const std::shared_ptr<Connection>& c) {
    return await([&](auto reply) { helper->renew(c, reply); });
  }
  bool release(const std::shared_ptr<Connection>& c) {
    return await([&](auto reply) { helper->release(c, reply); });
  }
  void tick() {
    helper->queue().sync([&] { helper->checkLease(); });
  }
  void invalidate(const std::shared_ptr<Connection>& c) {
    helper->queue().sync([&] { helper->connectionInvalidated(c); });
  }
  Snapshot snapshot() {
    Snapshot s;
    helper->queue().sync([&] {
      s = {helper->owner_, helper->deadline_, helper->original_};
    });
    return s;
  }
  std::optional<int64_t> fileValue() const { return loadLeaseState(statePath); }
  bool fileExists() const { return testing::fileExists(statePath); }

  testing::TempDir dir;
  const std::string statePath = dir.file("state.plist");
  std::shared_ptr<testing::FakeSystem> system =
      std::make_shared<testing::FakeSystem>();
  std::shared_ptr<SecurityHelper> helper;

 private:
  // Waits for the reply; a second one throws on the queue.
  template <typename Call>
  static bool await(Call call) {
    auto replied = std::make_shared<std::promise<bool>>();
    call([replied](bool ok) { replied->set_value(ok); });
    return replied->get_future().get();
  }
};

namespace testing {
using LeaseHarness = SecurityHelperTestPeer;
}  // namespace testing

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_TESTING_LEASE_HARNESS_H_
