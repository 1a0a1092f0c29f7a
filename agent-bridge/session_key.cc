#include "session_key.h"

#include <nettle/sha2.h>

#include <cstdint>

namespace vesk {

namespace {

void absorb(sha256_ctx& context, std::string_view bytes) {
  sha256_update(&context, bytes.size(),
                reinterpret_cast<const std::uint8_t*>(bytes.data()));
}

std::string hexOf(sha256_ctx& context) {
  std::uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&context, sizeof digest, digest);
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * sizeof digest);
  for (std::uint8_t byte : digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0f];
  }
  return hex;
}

}  // namespace

std::string sha256Hex(std::string_view bytes) {
  sha256_ctx context;
  sha256_init(&context);
  absorb(context, bytes);
  return hexOf(context);
}

std::string sessionKey(std::string_view agent, std::string_view sessionId) {
  sha256_ctx context;
  sha256_init(&context);
  absorb(context, agent);
  absorb(context, sessionId);
  return hexOf(context);
}

}  // namespace vesk
