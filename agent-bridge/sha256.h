// SHA-256, from the platform's own digest library (Nettle on Linux,
// CommonCrypto on macOS).
//
// Contract: sha256Digest() returns the digest of the pieces' bytes taken one
// after the other, with nothing between them. Pure; cannot fail; any thread.

#ifndef VESK_AGENT_BRIDGE_SHA256_H_
#define VESK_AGENT_BRIDGE_SHA256_H_

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace vesk {

using Sha256Digest = std::array<std::uint8_t, 32>;

Sha256Digest sha256Digest(std::initializer_list<std::string_view> pieces);

}  // namespace vesk

#endif  // VESK_AGENT_BRIDGE_SHA256_H_
