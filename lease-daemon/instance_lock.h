// The lock that keeps a second daemon from running beside the first.
//
// A second daemon would take the live service socket over and, worse, its
// start-up recovery would write back the value that the first one captured
// while the first still holds a lease. So the daemon takes this lock before
// it reads the state file or touches the socket, and keeps it for the life
// of the process: the kernel drops it when the process ends, however it
// ends, so a killed daemon never leaves a stale lock behind.
//
// Runs on the main thread at start, before any other thread exists. Prints
// nothing.

#ifndef VESK_LEASE_DAEMON_INSTANCE_LOCK_H_
#define VESK_LEASE_DAEMON_INSTANCE_LOCK_H_

#include "app_identifier.h"

namespace vesk {

// Beside the lease state file, in the one folder the daemon may write:
// "/var/db/com.vesk.Vesk.break-security.lock".
inline constexpr auto kInstanceLockPathText =
    joinNames("/var/db/", kAppIdentifier, ".break-security.lock");
inline constexpr const char* kInstanceLockPath = kInstanceLockPathText.data();

enum class InstanceLock {
  kTaken,     // held by this process until it ends
  kBusy,      // another process holds it
  kNoFolder,  // the lock file's folder does not exist
  kFailed,    // the file could not be opened or locked for another reason
};

// Opens (creating it with mode 0600 if need be) the lock file at `path`,
// never through a symbolic link, and takes an exclusive flock on it without
// waiting. On kTaken the descriptor stays open, close-on-exec, for the rest
// of the process.
InstanceLock takeInstanceLock(const char* path);

// Whether a daemon whose attempt ended in `lock` may go on: when it holds
// the lock, and when the lock's folder (/var/db) is missing, where it can
// neither find nor write a state file, so it grants no lease and a second
// daemon has nothing to undo. Otherwise it must exit at once.
inline bool mayRunWith(InstanceLock lock) {
  return lock == InstanceLock::kTaken || lock == InstanceLock::kNoFolder;
}

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_INSTANCE_LOCK_H_
