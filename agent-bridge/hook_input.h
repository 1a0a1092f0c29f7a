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
#include <memory>
#include <optional>
#include <string_view>

namespace vesk {

inline constexpr std::size_t kHookInputLimitBytes = 1048576;
inline constexpr std::size_t kHookInputPieceBytes = 65536;

// The bytes read. The buffer is allocated once at the full limit and left
// uninitialised, so only the pages actually read into are ever touched.
struct HookInput {
  std::unique_ptr<char[]> buffer;
  std::size_t size = 0;
  std::string_view bytes() const { return {buffer.get(), size}; }
};

std::optional<HookInput> readHookInput(int fd);

}  // namespace vesk

#endif  // VESK_AGENT_BRIDGE_HOOK_INPUT_H_
