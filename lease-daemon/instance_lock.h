// The lock that keeps a second daemon from running beside the first.
//
// A second daemon would take the live service socket over and, worse, its
// start-up recovery would write back the value that the first one captured
// while the first still holds a lease. So the daemon takes this lock before
// it reads the state file or touches the socket, and keeps it for the life
// of the process: the kernel drops it when the process ends, however it
// ends, so a killed daemon never leaves a stale lock behind.
//
// Runs on the main thread at start. Prints nothing.

#ifndef VESK_LEASE_DAEMON_INSTANCE_LOCK_H_
#define VESK_LEASE_DAEMON_INSTANCE_LOCK_H_

#include "app_identifier.h"

namespace vesk {

// In the runtime directory, where only root may create files and nothing
// outlives a boot: "/run/com.vesk.Vesk.break-security.lock" on Linux,
// "/var/run/com.vesk.Vesk.break-security.lock" on Apple platforms.
#if defined(__APPLE__)
inline constexpr auto kInstanceLockPathText =
    joinNames("/var/run/", kAppIdentifier, ".break-security.lock");
#else
inline constexpr auto kInstanceLockPathText =
    joinNames("/run/", kAppIdentifier, ".break-security.lock");
#endif
inline constexpr const char* kInstanceLockPath = kInstanceLockPathText.data();

enum class InstanceLock {
  kTaken,   // held by this process until it ends
  kBusy,    // another process holds it
  kFailed,  // the file could not be created, opened, trusted or locked
};

// Creates the lock file at `path` (exclusively, never through a symbolic
// link, mode 0600), or opens the one there when it is a regular file owned
// by root with mode 0600, and takes an exclusive flock on it without
// waiting. Anything else at `path` (a directory, a link, a file others could
// open and lock) is kFailed and left as it is. On kTaken the descriptor
// stays open, close-on-exec, for the rest of the process.
InstanceLock takeInstanceLock(const char* path);

// The daemon's use of the lock at kInstanceLockPath: returns when the lock
// is taken. When another daemon holds it, ends the process with status 1 at
// once: that daemon owns the state file. When it cannot be taken for any
// other reason, the daemon may not serve, but it still puts back a setting
// that an earlier run left owed (start-up recovery from the state file,
// tried once more if it failed), then ends with status 1.
void holdInstanceLockOrExit();

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_INSTANCE_LOCK_H_
