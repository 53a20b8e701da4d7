#include "platform/sim/sim_system.h"

#include <chrono>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_code_page.h"

namespace zrt::sim {
namespace {

constexpr port::ErrorCode kInsufficientBuffer = 122;
constexpr port::ErrorCode kMessageNotFound = 317;
constexpr port::ErrorCode kLanguageNotFound = 1815;

// Texts with inserts (such as 193, "%1 is not a valid Win32 application.")
// are left out: without arguments the system cannot format them either.
const std::pair<port::ErrorCode, const char*> kMessages[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough storage is available to process this command."},
    {13, "The data is invalid."},
    {14, "Not enough storage is available to complete this operation."},
    {15, "The system cannot find the drive specified."},
    {18, "There are no more files."},
    {21, "The device is not ready."},
    {29, "The system cannot write to the specified device."},
    {32, "The process cannot access the file because it is being used by another process."},
    {50, "The request is not supported."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {120, "This function is not supported on this system."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {126, "The specified module could not be found."},
    {127, "The specified procedure could not be found."},
    {161, "The specified path is invalid."},
    {183, "Cannot create a file when that file already exists."},
    {206, "The filename or extension is too long."},
    {234, "More data is available."},
    {259, "No more data is available."},
    {267, "The directory name is invalid."},
    {998, "Invalid access to memory location."},
    {1008, "An attempt was made to reference a token that does not exist."},
    {1009, "The configuration registry database is corrupt."},
    {1010, "The configuration registry key is invalid."},
    {1011, "The configuration registry key could not be opened."},
    {1012, "The configuration registry key could not be read."},
    {1168, "Element not found."},
    {1223, "The operation was canceled by the user."},
    {1314, "A required privilege is not held by the client."},
    {1326, "Logon failure: unknown user name or bad password."},
    {1332, "No mapping between account names and security IDs was done."},
    {1346,
     "Either a required impersonation level was not provided, or the provided impersonation "
     "level is invalid."},
    {1349, "The type of the token is inappropriate for its attempted use."},
    {1359, "An internal error occurred."},
    {1460, "This operation returned because the timeout period expired."},
    {1722, "The RPC server is unavailable."},
    {1815, "The specified resource language ID cannot be found in the image file."},
};

// The message text of `code`, ending in CR LF as the system gives it; none
// when the table has no text for the code.
std::optional<std::string> SystemMessage(port::ErrorCode code) {
  for (const auto& [known, text] : kMessages) {
    if (known == code) return std::string(text) + "\r\n";
  }
  return std::nullopt;
}
}  // namespace

std::string SimSystem::FormatMessageA(port::ErrorCode code, std::uint32_t languageId) {
  constexpr std::uint32_t kNeutral = 0, kUserDefault = 0x400, kEnglishUs = 0x409;
  if (languageId != kNeutral && languageId != kUserDefault && languageId != kEnglishUs) {
    machine_.SetLastError(kLanguageNotFound);
    return {};
  }
  if (auto text = SystemMessage(code)) return *text;
  machine_.SetLastError(kMessageNotFound);
  return {};
}

bool SimSystem::MultiByteToWideChar(const std::string& source, port::WideText& destination,
                                    std::size_t capacity) {
  // Up to the first zero byte; the capacity counts UTF-16 units.
  std::u16string wide = machine_.Ansi().ToUtf16(source.c_str());
  if (wide.size() + 1 > capacity) {
    machine_.SetLastError(kInsufficientBuffer);
    return false;
  }
  destination = std::move(wide);
  return true;
}

bool SimSystem::WideCharToMultiByte(const port::WideText& source, std::string& destination,
                                    std::size_t capacity, bool* usedDefaultChar) {
  const std::u16string_view text(source.c_str());
  if (text.size() + 1 > capacity) {
    machine_.SetLastError(kInsufficientBuffer);
    return false;
  }
  destination = machine_.Ansi().FromUtf16(text, usedDefaultChar);
  return true;
}

int SimSystem::lstrcmpiA(const char* left, const char* right) {
  if (left == nullptr || right == nullptr) {
    if (left == right) return 0;
    return left == nullptr ? -1 : 1;
  }
  return machine_.Ansi().CompareNoCase(left, right);
}

std::string SimSystem::GetCommandLineA() {
  return machine_.Ansi().FromUtf8(machine_.Settings().programPath) + " " + jobArgument_;
}

bool SimSystem::GetVersionExA(port::OsVersion& version, bool extended) {
  const MachineSettings& settings = machine_.Settings();
  if (extended ? settings.extendedVersionRefused : settings.basicVersionRefused) {
    machine_.SetLastError(kInsufficientBuffer);
    return false;
  }
  version = settings.version;
  return true;
}

void SimSystem::OutputDebugStringA(const char* text) {
  machine_.RaiseIfDue("OutputDebugStringA");
  if (text == nullptr) return;
  machine_.AppendRecord(machine_file::kDebugOutput, machine_.Ansi().ToUtf8(text));
}

port::SystemTime SimSystem::GetLocalTime() {
  machine_.RaiseIfDue("GetLocalTime");
  const auto& fixed = machine_.Settings().fixedLocalTime;
  // A fixed clock stands still, however long the program waits.
  if (fixed) return *fixed;
  return machine_.ElapsedMs() == 0 ? HostLocalTime() : Later(HostLocalTime(), machine_.ElapsedMs());
}

std::string SimSystem::GetTimeFormatA(const port::SystemTime& time, const char* picture) {
  machine_.RaiseIfDue("GetTimeFormatA");
  auto text = FormatTime(time, picture ? picture : "");
  if (!text) {
    machine_.SetLastError(port::err::kInvalidParameter);
    return {};
  }
  return *text;
}

void SimSystem::Sleep(std::uint32_t milliseconds) {
  machine_.RaiseIfDue("Sleep");
  if (machine_.SimulatedTime()) {
    machine_.PassTime(milliseconds);
  } else if (machine_.Settings().sleepWaits) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
  machine_.RecordSleep(milliseconds);
}

}  // namespace zrt::sim
