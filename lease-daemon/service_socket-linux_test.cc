// Socket activation: which handed-over socket the daemon takes.

#include "service_socket-linux.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

namespace vesk {
namespace {

TEST(ActivatedSocketTest, TakenOnlyWhenOneIsHandedToThisProcess) {
  const std::string self = std::to_string(getpid());
  const std::string other = std::to_string(getppid());
  struct Case {
    const char* name;
    const std::string& pid;
    const char* count;
    bool taken;
  };
  const Case cases[] = {
      {"handed over", self, "1", true},
      {"for another process", other, "1", false},
      {"two sockets", self, "2", false},
  };
  // Descriptor 3 is where the service manager leaves the socket; whatever
  // the test process holds there is put back afterwards.
  int saved = fcntl(3, F_DUPFD_CLOEXEC, 100);
  for (const Case& c : cases) {
    int listening = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    // A family alone binds an abstract address of the kernel's choosing.
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    ASSERT_EQ(bind(listening, reinterpret_cast<struct sockaddr*>(&address),
                   sizeof address.sun_family),
              0);
    ASSERT_EQ(listen(listening, 1), 0);
    ASSERT_EQ(dup2(listening, 3), 3);
    if (listening != 3) close(listening);
    setenv("LISTEN_PID", c.pid.c_str(), 1);
    setenv("LISTEN_FDS", c.count, 1);
    setenv("LISTEN_FDNAMES", "service", 1);
    Descriptor taken = takeActivatedSocket();
    EXPECT_EQ(taken.get(), c.taken ? 3 : -1) << c.name;
    if (c.taken) {
      EXPECT_NE(fcntl(3, F_GETFL) & O_NONBLOCK, 0) << c.name;
    } else {
      EXPECT_GE(fcntl(3, F_GETFD), 0) << c.name << ": closed";
    }
    for (const char* name : {"LISTEN_PID", "LISTEN_FDS", "LISTEN_FDNAMES"}) {
      EXPECT_EQ(getenv(name), nullptr) << c.name << ": " << name;
    }
    close(taken.valid() ? taken.release() : 3);
  }
  if (saved >= 0) {
    dup2(saved, 3);
    close(saved);
  }
}

}  // namespace
}  // namespace vesk
