// The daemon's instance lock: flock on a file of its own.

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "instance_lock.h"

namespace vesk {

InstanceLock takeInstanceLock(const char* path) {
  // Owner-only: flock needs no more than an open descriptor, so a lock file
  // that others could open would let any user keep the daemon from starting.
  int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    return errno == ENOENT ? InstanceLock::kNoFolder : InstanceLock::kFailed;
  }
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    int error = errno;
    ::close(fd);
    return error == EWOULDBLOCK ? InstanceLock::kBusy : InstanceLock::kFailed;
  }
  // `fd` is left open on purpose: the lock lasts as long as the descriptor.
  return InstanceLock::kTaken;
}

}  // namespace vesk
