// The service's listening socket on Linux: systemd socket activation when
// the daemon was started that way, otherwise a socket of its own.

#include "service_socket-linux.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <charconv>
#include <cstring>
#include <string_view>
#include <utility>

namespace vesk {

namespace {

// The first descriptor that systemd passes (SD_LISTEN_FDS_START).
constexpr int kFirstPassedDescriptor = 3;

bool parseNumber(const char* text, long& value) {
  if (text == nullptr) return false;
  std::string_view view(text);
  auto [end, error] =
      std::from_chars(view.data(), view.data() + view.size(), value);
  return error == std::errc() && end == view.data() + view.size();
}

int intOption(int fd, int option) {
  int value = -1;
  socklen_t length = sizeof value;
  if (getsockopt(fd, SOL_SOCKET, option, &value, &length) != 0 ||
      length != sizeof value) {
    return -1;
  }
  return value;
}

// The option's number in the generic socket options (every architecture
// the daemon is built for); the C library headers may not know it yet.
constexpr int kPassRights = 83;

// Non-blocking, close-on-exec, credentials on every message, no passed
// descriptors where the kernel can refuse them.
bool prepare(int fd) {
  int on = 1;
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0 ||
      fcntl(fd, F_SETFD, FD_CLOEXEC) != 0 ||
      setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) {
    return false;
  }
  refusePassedDescriptors(fd);
  return true;
}

// Whether a file at `address` may be removed: nothing is there, or nothing
// accepts connections on it (a socket left by a daemon that ended, or not a
// socket at all). A socket that answers, or whose state is unclear, belongs
// to a live server, a daemon or systemd's socket unit, and is kept.
bool nobodyListens(const struct sockaddr_un& address) {
  Descriptor probe(
      socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!probe.valid()) return false;
  if (connect(probe.get(), reinterpret_cast<const struct sockaddr*>(&address),
              sizeof address) == 0) {
    return false;
  }
  return errno == ENOENT || errno == ECONNREFUSED;
}

}  // namespace

bool refusePassedDescriptors(int socket) {
  int off = 0;
  return setsockopt(socket, SOL_SOCKET, kPassRights, &off, sizeof off) == 0;
}

Descriptor takeActivatedSocket() {
  long pid = 0;
  long count = 0;
  bool forUs = parseNumber(getenv("LISTEN_PID"), pid) && pid == getpid() &&
               parseNumber(getenv("LISTEN_FDS"), count);
  unsetenv("LISTEN_PID");
  unsetenv("LISTEN_FDS");
  unsetenv("LISTEN_FDNAMES");
  if (!forUs || count != 1) return Descriptor();
  int fd = kFirstPassedDescriptor;
  if (intOption(fd, SO_DOMAIN) != AF_UNIX ||
      intOption(fd, SO_TYPE) != SOCK_SEQPACKET ||
      intOption(fd, SO_ACCEPTCONN) != 1 || !prepare(fd)) {
    return Descriptor();
  }
  return Descriptor(fd);
}

Descriptor bindServiceSocket(const char* path) {
  struct sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (strlen(path) >= sizeof address.sun_path) return Descriptor();
  strcpy(address.sun_path, path);
  Descriptor fd(
      socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return Descriptor();
  // Set before listen() so that every accepted socket inherits them, also
  // one whose peer sends its first request before it is accepted.
  int on = 1;
  if (setsockopt(fd.get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0 ||
      !nobodyListens(address)) {
    return Descriptor();
  }
  refusePassedDescriptors(fd.get());
  unlink(path);
  if (bind(fd.get(), reinterpret_cast<struct sockaddr*>(&address),
           sizeof address) != 0 ||
      chmod(path, 0666) != 0 || listen(fd.get(), SOMAXCONN) != 0) {
    return Descriptor();
  }
  return fd;
}

void OwnSocketFile::remove(const char* path) const {
  struct stat info;
  if (lstat(path, &info) == 0 && S_ISSOCK(info.st_mode) &&
      info.st_dev == device_ && info.st_ino == inode_) {
    unlink(path);
  }
}

ServiceSocket openServiceSocket(const char* path) {
  ServiceSocket service;
  service.listening = takeActivatedSocket();
  if (service.listening.valid()) return service;
  service.listening = bindServiceSocket(path);
  struct stat info;
  if (service.listening.valid() && lstat(path, &info) == 0) {
    service.ownFile.emplace(info.st_dev, info.st_ino);
  }
  return service;
}

}  // namespace vesk
