// vesk-lease-client on Linux: the command line (command_line.h) over the
// service's AF_UNIX SOCK_SEQPACKET socket, one message per request and one
// per reply (protocol.h).

#include <errno.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <iostream>
#include <utility>

#include "command_line.h"
#include "descriptor.h"
#include "protocol.h"

namespace vesk::client {
namespace {

class SocketSession : public Session {
 public:
  explicit SocketSession(Descriptor fd) : fd_(std::move(fd)) {}

  std::optional<bool> call(Request request) override {
    std::string_view selector = selectorFor(request);
    ssize_t sent;
    do {
      sent = send(fd_.get(), selector.data(), selector.size(), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(selector.size())) return std::nullopt;
    char buffer[2];
    ssize_t received;
    do {
      received = recv(fd_.get(), buffer, sizeof buffer, 0);
    } while (received < 0 && errno == EINTR);
    if (received <= 0) return std::nullopt;
    return parseReply(std::string_view(buffer, static_cast<size_t>(received)));
  }

 private:
  Descriptor fd_;
};

std::unique_ptr<Session> connectTo(const std::string& path,
                                   std::string& error) {
  auto fail = [&](int code) -> std::unique_ptr<Session> {
    error = "cannot connect to " + path + ": " + std::strerror(code);
    return nullptr;
  };
  struct sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return fail(ENAMETOOLONG);
  std::memcpy(address.sun_path, path.data(), path.size());
  Descriptor fd(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return fail(errno);
  if (connect(fd.get(), reinterpret_cast<struct sockaddr*>(&address),
              sizeof address) != 0) {
    return fail(errno);
  }
  return std::make_unique<SocketSession>(std::move(fd));
}

}  // namespace
}  // namespace vesk::client

int main(int argc, char** argv) {
  return vesk::client::runCommandLine(
      argc, argv,
      {vesk::kServiceSocketPath, VESK_VERSION, &vesk::client::connectTo},
      {std::cin, std::cout, std::cerr});
}
