// Reading the agent's event from a file descriptor under the hook's limits.
//
// Contract: readHookInput() reads in pieces of at most kHookInputPieceBytes
// and never more than kHookInputLimitBytes + 1 bytes in all. It yields the
// bytes read until end of input, or until a read fails (what came before the
// failure is kept); an interrupted read is retried. It yields nothing when
// the input holds more than kHookInputLimitBytes, leaving the rest unread.
// Blocks as long as the writer keeps the input open; runs on the caller's
// thread.

#ifndef VESK_AGENT_BRIDGE_HOOK_INPUT_H_
#define VESK_AGENT_BRIDGE_HOOK_INPUT_H_

#include <cstddef>
#include <optional>
#include <string>

namespace vesk {

inline constexpr std::size_t kHookInputLimitBytes = 1048576;
inline constexpr std::size_t kHookInputPieceBytes = 65536;

std::optional<std::string> readHookInput(int fd);

}  // namespace vesk

#endif  // VESK_AGENT_BRIDGE_HOOK_INPUT_H_
