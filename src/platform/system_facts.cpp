#include "platform/system_facts.h"

#include "platform/code_page_text.h"

namespace zrt {
namespace {
constexpr std::size_t kWindowsFolderCapacity = 512;
constexpr std::size_t kMaxFolderPrefix = 249;
constexpr std::uint32_t kDefaultLanguage = 0x400;
}  // namespace

bool IsVistaOrLater(port::System& system) {
  port::OsVersion version;
  if (!system.GetVersionExA(version, true) && !system.GetVersionExA(version, false)) {
    return false;
  }
  return version.major > 5;
}

bool IsSixtyFourBitMachine(port::FileSystem& files) {
  // Without the Windows folder there is no drive to look at: a relative
  // path would probe the current folder instead.
  std::string windows;
  if (!files.GetWindowsDirectoryA(windows, kWindowsFolderCapacity)) return false;
  const std::size_t slash = windows.rfind('\\');
  if (slash != std::string::npos) windows.resize(slash + 1);
  return FileExists(files, windows + "Program Files (x86)");
}

bool FileExists(port::FileSystem& files, const std::string& path) {
  return files.FindFirstFileA(path.c_str());
}

int CreateDirectoryPath(port::FileSystem& files, const std::string& path,
                        const LeadByteTest& isLeadByte) {
  // The part up to the first backslash (normally the drive) is never created;
  // a trail byte 0x5C separates nothing.
  bool drive = true;
  ForEachCharacter(path, isLeadByte, [&](std::size_t at, std::size_t width) {
    if (width != 1 || path[at] != '\\') return;
    if (!drive && at + 1 <= kMaxFolderPrefix)
      files.CreateDirectoryA(path.substr(0, at + 1).c_str());
    drive = false;
  });
  files.CreateDirectoryA(path.c_str());
  return 0;
}

std::string SystemErrorText(port::System& system, port::ErrorCode code) {
  return system.FormatMessageA(code, kDefaultLanguage);
}

}  // namespace zrt
