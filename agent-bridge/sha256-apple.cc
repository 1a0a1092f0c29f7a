// SHA-256 through CommonCrypto, part of macOS's libSystem.

#include <CommonCrypto/CommonDigest.h>

#include <algorithm>
#include <limits>

#include "sha256.h"

namespace vesk {

static_assert(CC_SHA256_DIGEST_LENGTH == sizeof(Sha256Digest));

Sha256Digest sha256Digest(std::initializer_list<std::string_view> pieces) {
  CC_SHA256_CTX context;
  CC_SHA256_Init(&context);
  for (std::string_view piece : pieces) {
    // CommonCrypto takes 32-bit lengths, so a longer piece goes in parts.
    while (!piece.empty()) {
      std::size_t part = std::min<std::size_t>(
          piece.size(), std::numeric_limits<CC_LONG>::max());
      CC_SHA256_Update(&context, piece.data(), static_cast<CC_LONG>(part));
      piece.remove_prefix(part);
    }
  }
  Sha256Digest digest;
  CC_SHA256_Final(digest.data(), &context);
  return digest;
}

}  // namespace vesk
