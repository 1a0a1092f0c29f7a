// Feeds arbitrary bytes to the state-file decoding, which the daemon runs
// as root on whatever file it finds at start-up, and checks that a decoded
// value survives its own encoding unchanged.

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "lease_state_file.h"

// Aborts, which the fuzzer reports, when a property does not hold.
static void require(bool condition) {
  if (!condition) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  std::optional<int64_t> value = vesk::decodeLeaseState(
      std::string_view(reinterpret_cast<const char*>(data), size));
  if (!value) return 0;
  std::optional<std::string> encoded = vesk::encodeLeaseState(*value);
  require(encoded.has_value());
  require(vesk::decodeLeaseState(*encoded) == value);
  return 0;
}
