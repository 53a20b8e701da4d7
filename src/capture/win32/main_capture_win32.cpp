// zrt-capture.exe: writes what the program would meet on this machine as a
// simulated machine, a folder or one bundle file, reading and changing
// nothing else. Exit code 0 for a whole capture, 1 when something could not
// be read (the rest is written, and the capture says what is missing), 2
// when nothing could be written.
#include <windows.h>

#include <cstring>
#include <string>

#include "capture/capture.h"
#include "capture/win32/crypto_sha256.h"
#include "platform/win32/unique_resource.h"
#include "platform/win32/win32_platform.h"

namespace {

// Straight to the standard handles: the C runtime's stdio would import
// functions Windows XP may lack.
void Write(DWORD handle, const std::string& text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(handle), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

constexpr const char* kUsage =
    "usage: zrt-capture.exe [--anonymise-key KEYFILE [--anonymise-names]] --folder DIR\n"
    "       zrt-capture.exe [--anonymise-key KEYFILE [--anonymise-names]] --bundle FILE\n"
    "KEYFILE holds the fleet's secret key (16 to 65536 bytes); --anonymise needs it.\n";
// A key file is a few dozen bytes; anything far larger is not one.
constexpr DWORD kKeyFileLimit = 64 * 1024;

// The whole contents of the key file, or false with `error` set.
bool ReadKeyFile(const char* path, std::string& key, std::string& error) {
  const zrt::win32::UniqueFileHandle file(CreateFileA(
      path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    error = std::string("cannot open the key file ") + path + ": error " +
            std::to_string(GetLastError());
    return false;
  }
  key.assign(kKeyFileLimit + 1, '\0');
  DWORD total = 0;
  DWORD readError = 0;
  while (total <= kKeyFileLimit) {
    DWORD read = 0;
    if (!ReadFile(file.get(), &key[total], kKeyFileLimit + 1 - total, &read, nullptr)) {
      readError = GetLastError();
      break;
    }
    if (read == 0) break;
    total += read;
  }
  key.resize(total);
  if (readError != 0) {
    error =
        std::string("cannot read the key file ") + path + ": error " + std::to_string(readError);
    return false;
  }
  if (total > kKeyFileLimit || !zrt::capture::Anonymiser::KeyIsUsable(key)) {
    error = std::string("the key file ") + path + " holds " +
            (total > kKeyFileLimit ? "more than 64 KiB" : std::to_string(total) + " bytes") +
            ", not a key of 16 to 65536 bytes";
    return false;
  }
  return true;
}

std::string ComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof(name);
  return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

}  // namespace

int main(int argc, char** argv) {
  zrt::capture::Options options;
  const char* folder = nullptr;
  const char* bundle = nullptr;
  const char* keyFile = nullptr;
  bool anonymise = false;
  bool usable = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--anonymise") == 0) {
      anonymise = true;
    } else if (std::strcmp(argv[i], "--anonymise-names") == 0) {
      options.anonymiseNames = true;
    } else if (std::strcmp(argv[i], "--anonymise-key") == 0 && i + 1 < argc) {
      keyFile = argv[++i];
    } else if (std::strcmp(argv[i], "--folder") == 0 && i + 1 < argc) {
      folder = argv[++i];
    } else if (std::strcmp(argv[i], "--bundle") == 0 && i + 1 < argc) {
      bundle = argv[++i];
    } else {
      usable = false;
    }
  }
  // Placeholders without a key could be undone by trying guesses: no
  // anonymising without one.
  if (!usable || (folder == nullptr) == (bundle == nullptr) || (anonymise && keyFile == nullptr) ||
      (options.anonymiseNames && keyFile == nullptr)) {
    Write(STD_ERROR_HANDLE, kUsage);
    return 2;
  }
  try {
    if (keyFile != nullptr) {
      std::string key;
      std::string error;
      if (!ReadKeyFile(keyFile, key, error)) {
        Write(STD_ERROR_HANDLE, "zrt-capture: " + error + "\n");
        return 2;
      }
      DWORD cryptoError = 0;
      zrt::capture::Sha256 sha256 = zrt::capture::win32::CryptoSha256(cryptoError);
      if (!sha256) {
        Write(STD_ERROR_HANDLE,
              "zrt-capture: no SHA-256 provider (CryptAcquireContextA PROV_RSA_AES): error " +
                  std::to_string(cryptoError) + "\n");
        return 2;
      }
      options.anonymiser.emplace(std::move(sha256), std::move(key));
    }
    auto platform = zrt::win32::Win32Platform::Create();
    options.ansiCodePage = GetACP();
    options.oemCodePage = GetOEMCP();
    options.computerName = ComputerName();
    options.ownProcessId = GetCurrentProcessId();
    const zrt::capture::Capture capture =
        zrt::capture::CaptureMachine(platform->platform(), options);
    std::string error;
    bool written = false;
    if (folder != nullptr) {
      written = zrt::capture::WriteFolder(platform->platform(), folder, capture, error);
    } else {
      written = zrt::capture::WriteBundle(platform->platform(), bundle, capture, error);
    }
    if (!written) {
      Write(STD_ERROR_HANDLE, "zrt-capture: cannot write the capture: " + error + "\n");
      return 2;
    }
    for (const std::string& problem : capture.problems) {
      Write(STD_ERROR_HANDLE, "zrt-capture: could not read " + problem + "\n");
    }
    const std::string where = folder != nullptr ? folder : bundle;
    if (!capture.problems.empty()) {
      Write(STD_ERROR_HANDLE, "zrt-capture: " + std::to_string(capture.problems.size()) +
                                  " item(s) could not be read; the capture written to " + where +
                                  " is marked incomplete\n");
      return 1;
    }
    Write(STD_OUTPUT_HANDLE, "zrt-capture: machine captured to " + where + "\n");
    return 0;
  } catch (...) {
    Write(STD_ERROR_HANDLE, "zrt-capture: the capture failed\n");
    return 2;
  }
}
