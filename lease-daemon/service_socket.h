// The listening endpoint of the service.
//
// On Linux (service_socket-linux.h) it is a non-blocking, close-on-exec,
// listening AF_UNIX SOCK_SEQPACKET socket with SO_PASSCRED set, so that
// every request carries its sender's credentials, also one sent before the
// connection is accepted. Failures are results; nothing is printed.

#ifndef VESK_LEASE_DAEMON_SERVICE_SOCKET_H_
#define VESK_LEASE_DAEMON_SERVICE_SOCKET_H_

#include <sys/types.h>

#include <optional>

#include "descriptor.h"

namespace vesk {

// The socket file that the daemon bound itself, known by its identity so
// that only that file is ever removed, never one put in its place.
class OwnSocketFile {
 public:
  OwnSocketFile(dev_t device, ino_t inode) : device_(device), inode_(inode) {}

  // Removes the file at `path` if it is still this one.
  void remove(const char* path) const;

 private:
  dev_t device_;
  ino_t inode_;
};

struct ServiceSocket {
  Descriptor listening;
  // Absent for a socket handed over by the service manager, whose file is
  // the service manager's.
  std::optional<OwnSocketFile> ownFile;
};

// The socket handed over by the service manager when there is one, and
// otherwise one of the daemon's own at `path`. `listening` is invalid when
// neither can be had. Call on the main thread, before other threads read
// the environment.
ServiceSocket openServiceSocket(const char* path);

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_SERVICE_SOCKET_H_
