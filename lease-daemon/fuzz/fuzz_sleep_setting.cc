// Feeds arbitrary bytes to the parse of the power tool's output, which the
// daemon runs as root on every lease change, and checks that the only
// values it can yield are the setting's two.

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "sleep_setting.h"

// Aborts, which the fuzzer reports, when a property does not hold.
static void require(bool condition) {
  if (!condition) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  std::optional<int64_t> value = vesk::parseSleepDisabled(
      std::string_view(reinterpret_cast<const char*>(data), size));
  require(!value || *value == 0 || *value == 1);
  return 0;
}
