// The daemon's instance lock: flock on a file of its own.

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>

#include "descriptor.h"
#include "instance_lock.h"

namespace vesk {

InstanceLock takeInstanceLock(const char* path) {
  // Owner-only: flock needs no more than an open descriptor, so a lock file
  // that others could open would let any user keep the daemon from starting.
  Descriptor fd(::open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd.valid()) {
    return errno == ENOENT ? InstanceLock::kNoFolder : InstanceLock::kFailed;
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
