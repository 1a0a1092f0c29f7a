// The daemon's instance lock: flock on a file of its own.

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include "descriptor.h"
#include "instance_lock.h"

namespace vesk {

namespace {

constexpr mode_t kLockFileMode = 0600;

// Owner-only and root's: flock needs no more than an open descriptor, so a
// lock file that others could open would let any user keep the daemon from
// starting.
bool trusted(int fd) {
  struct stat info;
  return fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == 0 &&
         (info.st_mode & 07777) == kLockFileMode;
}

}  // namespace

InstanceLock takeInstanceLock(const char* path) {
  // Read-only is all flock needs, so a lock file made ahead of time (at
  // boot, by the service manager) serves also where the daemon may not
  // write to the runtime directory.
  Descriptor fd(::open(
      path, O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
      kLockFileMode));
  if (fd.valid()) {
    // The creation mode is subject to the umask.
    if (fchmod(fd.get(), kLockFileMode) != 0) return InstanceLock::kFailed;
  } else {
    if (errno != EEXIST) return InstanceLock::kFailed;
    // O_NONBLOCK: nothing planted at the path may stall the start.
    fd.reset(::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid() || !trusted(fd.get())) return InstanceLock::kFailed;
  }
  while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    // The status is taken before `fd` closes and can change errno.
    return errno == EWOULDBLOCK ? InstanceLock::kBusy : InstanceLock::kFailed;
  }
  // Left open on purpose: the lock lasts as long as the descriptor.
  fd.release();
  return InstanceLock::kTaken;
}

}  // namespace vesk
