#include "capture/hmac.h"

#include <string>

namespace zrt::capture {

Sha256Digest HmacSha256(const Sha256& sha256, std::string_view key, std::string_view message) {
  constexpr std::size_t kBlock = 64;  // SHA-256's block size in bytes
  // A key longer than a block is replaced by its digest; a shorter one is
  // padded with zero bytes to a block.
  std::string block(kBlock, '\0');
  if (key.size() > kBlock) {
    const Sha256Digest digest = sha256(key);
    block.replace(0, digest.size(), reinterpret_cast<const char*>(digest.data()), digest.size());
  } else {
    block.replace(0, key.size(), key);
  }
  std::string inner(kBlock, '\0');
  std::string outer(kBlock, '\0');
  for (std::size_t i = 0; i < kBlock; ++i) {
    inner[i] = static_cast<char>(block[i] ^ 0x36);
    outer[i] = static_cast<char>(block[i] ^ 0x5c);
  }
  inner.append(message);
  const Sha256Digest innerDigest = sha256(inner);
  outer.append(reinterpret_cast<const char*>(innerDigest.data()), innerDigest.size());
  return sha256(outer);
}

}  // namespace zrt::capture
