// zrt-capture.exe: writes what the program would meet on this machine as a
// simulated machine, a folder or one bundle file, reading and changing
// nothing else. Exit code 0 for a whole capture, 1 when something could not
// be read (the rest is written, and the capture says what is missing), 2
// when nothing could be written.
#include <windows.h>

#include <cstring>
#include <string>

#include "capture/capture.h"
#include "platform/win32/win32_platform.h"

namespace {

// Straight to the standard handles: the C runtime's stdio would import
// functions Windows XP may lack.
void Write(DWORD handle, const std::string& text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(handle), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

constexpr const char* kUsage =
    "usage: zrt-capture.exe [--anonymise] --folder DIR\n"
    "       zrt-capture.exe [--anonymise] --bundle FILE\n";

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
  bool usable = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--anonymise") == 0) {
      options.anonymise = true;
    } else if (std::strcmp(argv[i], "--folder") == 0 && i + 1 < argc) {
      folder = argv[++i];
    } else if (std::strcmp(argv[i], "--bundle") == 0 && i + 1 < argc) {
      bundle = argv[++i];
    } else {
      usable = false;
    }
  }
  if (!usable || (folder == nullptr) == (bundle == nullptr)) {
    Write(STD_ERROR_HANDLE, kUsage);
    return 2;
  }
  try {
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
