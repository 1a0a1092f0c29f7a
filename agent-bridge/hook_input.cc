#include "hook_input.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace vesk {

std::optional<HookInput> readHookInput(int fd) {
  HookInput input;
  input.buffer.reset(new char[kHookInputLimitBytes + 1]);
  while (input.size <= kHookInputLimitBytes) {
    const std::size_t want =
        std::min(kHookInputPieceBytes, kHookInputLimitBytes + 1 - input.size);
    ssize_t got;
    do {
      got = ::read(fd, input.buffer.get() + input.size, want);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) break;
    input.size += static_cast<std::size_t>(got);
  }
  if (input.size > kHookInputLimitBytes) return std::nullopt;
  return input;
}

}  // namespace vesk
