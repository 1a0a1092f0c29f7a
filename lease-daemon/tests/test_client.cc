#include "test_client.h"

#include <dirent.h>
#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <thread>

namespace vesk::testing {

int connectTo(const std::string& path, bool nonBlocking) {
  struct sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return -1;
  std::memcpy(address.sun_path, path.data(), path.size());
  int type = SOCK_SEQPACKET | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0);
  int fd = socket(AF_UNIX, type, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<struct sockaddr*>(&address),
              sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool sendMessage(int fd, std::string_view bytes, int passFd) {
  struct iovec iov = {const_cast<char*>(bytes.data()), bytes.size()};
  struct msghdr message = {};
  message.msg_iov = &iov;
  message.msg_iovlen = 1;
  alignas(struct cmsghdr) char control[CMSG_SPACE(sizeof(int))];
  if (passFd >= 0) {
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    struct cmsghdr* c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &passFd, sizeof passFd);
  }
  return sendmsg(fd, &message, MSG_NOSIGNAL) ==
         static_cast<ssize_t>(bytes.size());
}

Received receive(int fd, std::chrono::milliseconds bound) {
  struct pollfd p = {fd, POLLIN, 0};
  int ready;
  do {
    ready = poll(&p, 1, static_cast<int>(bound.count()));
  } while (ready < 0 && errno == EINTR);
  if (ready == 0) return {Outcome::kTimeout, {}};
  char buffer[128];
  ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
  if (n <= 0) return {Outcome::kClosed, {}};
  return {Outcome::kMessage, std::string(buffer, static_cast<size_t>(n))};
}

bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds bound) {
  auto end = std::chrono::steady_clock::now() + bound;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

int openDescriptorCount() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = 0;
  while (struct dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count - 1;  // the directory's own descriptor
}

}  // namespace vesk::testing
