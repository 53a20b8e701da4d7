// SHA-256 through the CryptoAPI of Windows XP SP3 and later (the AES
// provider type, which brought SHA-256).
#pragma once

#include <windows.h>

#include "capture/hmac.h"

namespace zrt::capture::win32 {

// A SHA-256 that holds a verification-only provider context as long as any
// copy of it lives; each digest is a hash object of its own. Empty, with
// `error` set, when no provider is available.
Sha256 CryptoSha256(DWORD& error);

}  // namespace zrt::capture::win32
