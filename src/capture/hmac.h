// HMAC-SHA-256 (RFC 2104) around a SHA-256 that the platform supplies: the
// CryptoAPI on Windows, a system library in the Linux tests.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>

namespace zrt::capture {

using Sha256Digest = std::array<std::uint8_t, 32>;
// The SHA-256 digest of a message; throws when the platform cannot hash.
using Sha256 = std::function<Sha256Digest(std::string_view message)>;

Sha256Digest HmacSha256(const Sha256& sha256, std::string_view key, std::string_view message);

}  // namespace zrt::capture
