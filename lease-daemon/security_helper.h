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

#ifndef VESK_LEASE_DAEMON_SECURITY_HELPER_H_
#define VESK_LEASE_DAEMON_SECURITY_HELPER_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app_identifier.h"
#include "code_signing.h"
#include "connection.h"
#include "lease_state_file.h"
#include "serial_queue.h"
#include "sleep_setting.h"
#include "uptime.h"

namespace vesk {

// The state file, "/var/db/com.vesk.Vesk.break-security.plist".
inline constexpr auto kLeaseStatePathText =
    joinNames("/var/db/", kAppIdentifier, ".break-security.plist");
inline constexpr const char* kLeaseStatePath = kLeaseStatePathText.data();

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
      std::string statePath = kLeaseStatePath,
      ReadPower readPower = &readSleepDisabled,
      WritePower writePower = &setSleepDisabled, Uptime uptime = &systemUptime);

  // Queue the lease work asynchronously; `reply` is called exactly once, on
  // queue().
  void renew(std::shared_ptr<Connection> connection, Reply reply);
  void release(std::shared_ptr<Connection> connection, Reply reply);

  // Must run on queue(). nullptr stands for a connection that no longer
  // exists.
  void connectionInvalidated(const std::shared_ptr<Connection>& connection);

  // Ends the lease for good before the process stops, as a lapse would:
  // on queue(), after the work queued before it, clears the holder, writes
  // any captured value back and removes the state file. From then on every
  // renewal is refused, so nothing queued later changes the setting again.
  // Blocks the caller until that is done; must not be called on queue().
  // True when nothing is owed any more; false when the write-back or the
  // removal failed, and then the state file stays for the next start's
  // recovery.
  bool relinquish();

  SerialQueue& queue();
  const std::optional<CodeRequirement>& requirement() const;

 private:
  friend class SecurityHelperTestPeer;

  // What a test may vary beyond the public arguments: the tick schedule, and
  // failures injected into the state-file steps. The daemon uses the
  // defaults.
  struct Options {
    std::chrono::nanoseconds tickStart = std::chrono::seconds(1);
    std::chrono::nanoseconds tickPeriod = std::chrono::seconds(1);
    StateFileFault stateFault;
  };

  SecurityHelper(std::string statePath, ReadPower readPower,
                 WritePower writePower, Uptime uptime, StateFileFault fault);
  static std::shared_ptr<SecurityHelper> createWithOptions(
      std::string statePath, ReadPower readPower, WritePower writePower,
      Uptime uptime, Options options);

  // Lease steps; all run on queue_.
  void renewOnQueue(const std::shared_ptr<Connection>& connection,
                    const Reply& reply);
  void releaseOnQueue(const std::shared_ptr<Connection>& connection,
                      const Reply& reply);
  bool restore();
  void checkLease();
  bool saveState(int64_t value);
  bool removeState();
  void recoverState();

  // Declared first so that it is destroyed last: queued work that outlives
  // the controller holds it only weakly.
  SerialQueue queue_;
  const std::string statePath_;
  const ReadPower readPower_;
  const WritePower writePower_;
  const Uptime uptime_;
  // Variable lease state: touched only on queue_.
  std::shared_ptr<Connection> owner_;
  double deadline_ = 0.0;
  std::optional<int64_t> original_;
  std::unique_ptr<SerialQueue::Timer> timer_;
  bool relinquished_ = false;
  const std::optional<CodeRequirement> requirement_;

  const StateFileFault stateFault_;
  // Set by create(); lets renew() and release() keep the controller alive
  // until their queued work has replied.
  std::weak_ptr<SecurityHelper> self_;
};

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_SECURITY_HELPER_H_
