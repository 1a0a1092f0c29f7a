// SecurityHelper: the daemon's lease controller.
//
// Grants one client connection at a time a 10-second lease under which the
// sleep-disabled setting is held at 1, and writes the captured earlier value
// back when the lease is released, lapses or its holder's connection is
// invalidated. The captured value is kept in a state file so that a daemon
// that stopped while holding the setting puts it back at its next start.
//
// Threading: every lease state change, every call of the injected functions
// and every state-file step runs on queue(), a serial queue labelled
// "Vesk.break-security.lease". renew() and release() may be called from any
// thread; they queue their work and never block. connectionInvalidated() must
// be called on queue(). requirement() is immutable after construction and may
// be read from any thread.
//
// (Interface agreed between the controller and the service; the controller's
// implementation fills in the private part.)

#ifndef VESK_LEASE_DAEMON_SECURITY_HELPER_H_
#define VESK_LEASE_DAEMON_SECURITY_HELPER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "code_signing.h"
#include "connection.h"
#include "serial_queue.h"

namespace vesk {

// "/var/db/" + kAppIdentifier + ".break-security.plist"
extern const char kLeaseStatePath[];

class SecurityHelper {
 public:
  using ReadPower = std::function<std::optional<int64_t>()>;
  using WritePower = std::function<bool(int64_t)>;
  using Uptime = std::function<double()>;
  using Reply = std::function<void(bool)>;

  // Builds the controller: the queue, the client requirement, start-up
  // recovery from the state file (run synchronously on the queue, finished
  // before this returns) and the 1-second lease timer, which holds the
  // controller weakly. The defaults are the real ones.
  static std::shared_ptr<SecurityHelper> create(
      std::string stateURL = kLeaseStatePath,
      ReadPower readPower = &SecurityHelper::readSleepDisabled,
      WritePower writePower = &SecurityHelper::setSleepDisabled,
      Uptime uptime = &SecurityHelper::systemUptime);

  // Queue the lease work asynchronously; `reply` is called exactly once, on
  // queue().
  void renew(std::shared_ptr<Connection> connection, Reply reply);
  void release(std::shared_ptr<Connection> connection, Reply reply);

  // Must run on queue(). nullptr stands for a connection that no longer
  // exists.
  void connectionInvalidated(const std::shared_ptr<Connection>& connection);

  SerialQueue& queue();
  const std::optional<CodeRequirement>& requirement() const;

  // Sleep setting access through "/usr/bin/pmset" (sleep_setting-*.cc).
  static std::optional<int64_t> readSleepDisabled();
  static bool setSleepDisabled(int64_t value);
  static std::optional<int64_t> parseSleepDisabled(std::string_view output);

  // Seconds on a clock that only moves forward (CLOCK_MONOTONIC on Linux).
  static double systemUptime();

 private:
  // ... filled in by the controller's implementation.
};

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_SECURITY_HELPER_H_
