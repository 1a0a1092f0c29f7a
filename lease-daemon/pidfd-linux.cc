#include "pidfd-linux.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77
#endif

namespace vesk {

bool processIsAlive(int pidfd) {
  struct pollfd p = {pidfd, POLLIN, 0};
  int ready = poll(&p, 1, 0);
  if (ready != 0) return false;
  // Through syscall(): the C library's own declaration lacks C linkage in
  // some releases.
  return syscall(SYS_pidfd_send_signal, pidfd, 0, nullptr, 0) == 0;
}

Descriptor peerProcessHandle(int socket) {
  int pidfd = -1;
  socklen_t length = sizeof pidfd;
  // The kernel hands the descriptor out close-on-exec.
  if (getsockopt(socket, SOL_SOCKET, SO_PEERPIDFD, &pidfd, &length) != 0 ||
      length != sizeof pidfd || pidfd < 0) {
    return Descriptor();
  }
  return Descriptor(pidfd);
}

}  // namespace vesk
