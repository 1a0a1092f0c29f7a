// Test access to SecurityHelper's private side: construction with a chosen
// tick schedule and injected state-file failures, a tick on demand, and a
// look at the lease state. Every call runs on the controller's queue, so a
// test sees the state exactly as the queue leaves it. Tests only.

#ifndef VESK_LEASE_DAEMON_SECURITY_HELPER_TEST_PEER_H_
#define VESK_LEASE_DAEMON_SECURITY_HELPER_TEST_PEER_H_

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "security_helper.h"

namespace vesk {

class SecurityHelperTestPeer {
 public:
  struct Snapshot {
    std::shared_ptr<Connection> owner;
    double deadline = 0.0;
    std::optional<int64_t> original;
    bool hasTimer = false;
  };

  // A controller whose timer first fires after `tickStart` (a day unless
  // given, so that only tick() moves the lease on).
  static std::shared_ptr<SecurityHelper> create(
      std::string stateURL, SecurityHelper::ReadPower readPower,
      SecurityHelper::WritePower writePower, SecurityHelper::Uptime uptime,
      StateFileFault stateFault = {},
      std::chrono::nanoseconds tickStart = std::chrono::hours(24),
      std::chrono::nanoseconds tickPeriod = std::chrono::hours(24)) {
    SecurityHelper::Options options;
    options.tickStart = tickStart;
    options.tickPeriod = tickPeriod;
    options.stateFault = std::move(stateFault);
    return SecurityHelper::createWithOptions(
        std::move(stateURL), std::move(readPower), std::move(writePower),
        std::move(uptime), std::move(options));
  }

  // Runs what the timer runs on each tick.
  static void tick(SecurityHelper& helper) {
    helper.queue().sync([&] { helper.checkLease(); });
  }

  static void invalidate(SecurityHelper& helper,
                         const std::shared_ptr<Connection>& connection) {
    helper.queue().sync([&] { helper.connectionInvalidated(connection); });
  }

  static Snapshot snapshot(SecurityHelper& helper) {
    Snapshot s;
    helper.queue().sync([&] {
      s.owner = helper.owner_;
      s.deadline = helper.deadline_;
      s.original = helper.original_;
      s.hasTimer = helper.timer_ != nullptr;
    });
    return s;
  }
};

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_SECURITY_HELPER_TEST_PEER_H_
