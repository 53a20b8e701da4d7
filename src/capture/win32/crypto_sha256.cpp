#include "capture/win32/crypto_sha256.h"

#include <wincrypt.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/win32/unique_resource.h"

namespace zrt::capture::win32 {
namespace {

// SHA-256's algorithm id: the headers name it only for builds that target
// XP SP3 and later, and the program targets XP as a whole.
constexpr ALG_ID kSha256Id = 12;  // ALG_SID_SHA_256
constexpr ALG_ID kSha256 = ALG_CLASS_HASH | ALG_TYPE_ANY | kSha256Id;

struct ProviderTraits {
  using Value = HCRYPTPROV;
  static Value Invalid() { return 0; }
  static void Close(Value v) { ::CryptReleaseContext(v, 0); }
};
struct HashTraits {
  using Value = HCRYPTHASH;
  static Value Invalid() { return 0; }
  static void Close(Value v) { ::CryptDestroyHash(v); }
};
using UniqueProvider = zrt::win32::UniqueResource<ProviderTraits>;
using UniqueHash = zrt::win32::UniqueResource<HashTraits>;

[[noreturn]] void Fail(const char* call) {
  throw std::runtime_error(std::string(call) + " failed: error " +
                           std::to_string(::GetLastError()));
}

}  // namespace

Sha256 CryptoSha256(DWORD& error) {
  // Shared by every copy of the function, released with the last one.
  auto provider = std::make_shared<UniqueProvider>();
  if (!::CryptAcquireContextA(provider->put(), nullptr, nullptr, PROV_RSA_AES,
                              CRYPT_VERIFYCONTEXT)) {
    error = ::GetLastError();
    provider->release();  // a failed call leaves nothing to release
    return {};
  }
  return [provider](std::string_view message) {
    UniqueHash hash;
    if (!::CryptCreateHash(provider->get(), kSha256, 0, 0, hash.put())) {
      hash.release();  // a failed call leaves nothing to destroy
      Fail("CryptCreateHash");
    }
    // Hashed in pieces a DWORD can count.
    constexpr std::size_t kPiece = 1u << 30;
    for (std::size_t done = 0; done < message.size(); done += kPiece) {
      const std::size_t size = std::min(kPiece, message.size() - done);
      if (!::CryptHashData(hash.get(), reinterpret_cast<const BYTE*>(message.data() + done),
                           static_cast<DWORD>(size), 0)) {
        Fail("CryptHashData");
      }
    }
    Sha256Digest digest{};
    DWORD size = static_cast<DWORD>(digest.size());
    if (!::CryptGetHashParam(hash.get(), HP_HASHVAL, digest.data(), &size, 0) ||
        size != digest.size()) {
      Fail("CryptGetHashParam");
    }
    return digest;
  };
}

}  // namespace zrt::capture::win32
