// SHA-256 through Nettle.

#include <nettle/sha2.h>

#include "sha256.h"

namespace vesk {

static_assert(SHA256_DIGEST_SIZE == sizeof(Sha256Digest));

Sha256Digest sha256Digest(std::initializer_list<std::string_view> pieces) {
  sha256_ctx context;
  sha256_init(&context);
  for (std::string_view piece : pieces) {
    sha256_update(&context, piece.size(),
                  reinterpret_cast<const std::uint8_t*>(piece.data()));
  }
  Sha256Digest digest;
  sha256_digest(&context, digest.size(), digest.data());
  return digest;
}

}  // namespace vesk
