#include "hook_input.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace vesk {

std::optional<std::string> readHookInput(int fd) {
  std::string buffer;
  while (buffer.size() <= kHookInputLimitBytes) {
    const std::size_t want = std::min(kHookInputPieceBytes,
                                      kHookInputLimitBytes + 1 - buffer.size());
    const std::size_t old = buffer.size();
    buffer.resize(old + want);
    ssize_t got;
    do {
      got = ::read(fd, buffer.data() + old, want);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
      buffer.resize(old);
      break;
    }
    buffer.resize(old + static_cast<std::size_t>(got));
  }
  if (buffer.size() > kHookInputLimitBytes) return std::nullopt;
  return buffer;
}

}  // namespace vesk
