#include "session_key.h"

#include <cstdint>

#include "sha256.h"

namespace vesk {

namespace {

std::string hexOf(const Sha256Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * digest.size());
  for (std::uint8_t byte : digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0f];
  }
  return hex;
}

}  // namespace

std::string sessionKey(std::string_view agent, std::string_view sessionId) {
  return hexOf(sha256Digest({agent, sessionId}));
}

}  // namespace vesk
