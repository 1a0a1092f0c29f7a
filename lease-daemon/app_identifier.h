// The reverse-DNS identifier of the desktop application and the names built
// from it. Compile-time constants; usable from any thread.

#ifndef VESK_LEASE_DAEMON_APP_IDENTIFIER_H_
#define VESK_LEASE_DAEMON_APP_IDENTIFIER_H_

#include <array>
#include <cstddef>

namespace vesk {

// The signing identifier clients must carry and the stem of the daemon's
// names.
inline constexpr char kAppIdentifier[] = "com.vesk.Vesk";

// The NUL-terminated concatenation of `parts`, made at compile time, so that
// every name derived from kAppIdentifier follows it.
template <size_t... N>
constexpr std::array<char, (N + ...) - sizeof...(N) + 1> joinNames(
    const char (&... parts)[N]) {
  std::array<char, (N + ...) - sizeof...(N) + 1> joined{};
  size_t at = 0;
  auto append = [&](const char* part, size_t length) {
    for (size_t i = 0; i < length; ++i) joined[at++] = part[i];
  };
  (append(parts, N - 1), ...);
  return joined;
}

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_APP_IDENTIFIER_H_
