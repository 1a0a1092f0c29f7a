// vesk-lease-client: asks the lease daemon for lease calls and prints the
// answers, for tests and for operators.
//
//   vesk-lease-client [--socket PATH] [--count N] [--interval SECONDS]
//                     ACTION...
//   vesk-lease-client [--socket PATH] -
//
// ACTION is "renew" or "release". The actions are sent in order on one
// connection, the whole list N times (default 1) with SECONDS (default 1)
// between rounds; each answer is printed as "renew: YES" or "renew: NO". With
// "-" the actions are read from standard input, one per line, and the
// connection stays open until standard input ends.
//
// Exit status: 0 when every request was answered, 1 when the connection
// could not be made or was closed (a refused client sees that), 2 for a
// usage error.

#include <errno.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: vesk-lease-client [--socket PATH] [--count N] "
               "[--interval SECONDS] renew|release...\n"
               "       vesk-lease-client [--socket PATH] -\n");
  return 2;
}

std::optional<vesk::Request> parseAction(std::string_view text) {
  if (text == "renew") return vesk::Request::kRenew;
  if (text == "release") return vesk::Request::kRelease;
  return std::nullopt;
}

int connectTo(const std::string& path) {
  struct sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return -1;
  std::memcpy(address.sun_path, path.data(), path.size());
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<struct sockaddr*>(&address),
              sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Sends one request and waits for its answer; absent when the connection
// failed or was closed.
std::optional<bool> call(int fd, vesk::Request request) {
  std::string_view selector = vesk::selectorFor(request);
  ssize_t sent;
  do {
    sent = send(fd, selector.data(), selector.size(), MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent != static_cast<ssize_t>(selector.size())) return std::nullopt;
  char buffer[2];
  ssize_t received;
  do {
    received = recv(fd, buffer, sizeof buffer, 0);
  } while (received < 0 && errno == EINTR);
  if (received <= 0) return std::nullopt;
  return vesk::parseReply(
      std::string_view(buffer, static_cast<size_t>(received)));
}

bool report(int fd, vesk::Request request) {
  std::optional<bool> answer = call(fd, request);
  const char* name = request == vesk::Request::kRenew ? "renew" : "release";
  if (!answer) {
    std::fprintf(stderr, "%s: connection closed\n", name);
    return false;
  }
  std::printf("%s: %s\n", name, *answer ? "YES" : "NO");
  std::fflush(stdout);
  return true;
}

void sleepFor(double seconds) {
  struct timespec delay;
  delay.tv_sec = static_cast<time_t>(seconds);
  delay.tv_nsec = static_cast<long>((seconds - delay.tv_sec) * 1e9);
  while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string path = vesk::kServiceSocketPath;
  long count = 1;
  double interval = 1.0;
  bool fromInput = false;
  std::vector<vesk::Request> actions;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--socket" && hasValue) {
      path = argv[++i];
    } else if (arg == "--count" && hasValue) {
      std::string_view value = argv[++i];
      auto [end, error] =
          std::from_chars(value.data(), value.data() + value.size(), count);
      if (error != std::errc() || end != value.data() + value.size() ||
          count < 1) {
        return usage();
      }
    } else if (arg == "--interval" && hasValue) {
      char* end = nullptr;
      interval = std::strtod(argv[++i], &end);
      if (end == argv[i] || *end != '\0' || !(interval >= 0)) return usage();
    } else if (arg == "-") {
      fromInput = true;
    } else if (std::optional<vesk::Request> action = parseAction(arg)) {
      actions.push_back(*action);
    } else {
      return usage();
    }
  }
  if (fromInput == !actions.empty()) return usage();

  int fd = connectTo(path);
  if (fd < 0) {
    std::fprintf(stderr, "cannot connect to %s: %s\n", path.c_str(),
                 std::strerror(errno));
    return 1;
  }
  if (fromInput) {
    std::string line;
    while (std::getline(std::cin, line)) {
      if (line.empty()) continue;
      std::optional<vesk::Request> action = parseAction(line);
      if (!action) {
        std::fprintf(stderr, "unknown action: %s\n", line.c_str());
        continue;
      }
      if (!report(fd, *action)) return 1;
    }
    close(fd);
    return 0;
  }
  for (long round = 0; round < count; ++round) {
    if (round > 0) sleepFor(interval);
    for (vesk::Request action : actions) {
      if (!report(fd, action)) return 1;
    }
  }
  close(fd);
  return 0;
}
