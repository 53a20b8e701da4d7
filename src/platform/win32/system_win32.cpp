// Small system services: last error, message texts, code-page conversion,
// the command line, version, locale comparison, debugger output, the clock.
#include <algorithm>
#include <vector>

#include "platform/win32/unique_resource.h"
#include "platform/win32/win32_adapters.h"

namespace zrt::win32 {
namespace {

// The conversions count in int; larger capacities are cut to what fits.
int BoundedCount(std::size_t capacity) {
  return static_cast<int>(std::min<std::size_t>(capacity, 0x7fffffff));
}

SYSTEMTIME ToSystemTime(const port::SystemTime& t) {
  SYSTEMTIME st;
  st.wYear = t.year;
  st.wMonth = t.month;
  st.wDayOfWeek = t.dayOfWeek;
  st.wDay = t.day;
  st.wHour = t.hour;
  st.wMinute = t.minute;
  st.wSecond = t.second;
  st.wMilliseconds = t.milliseconds;
  return st;
}

class Win32System final : public port::System {
 public:
  port::ErrorCode GetLastError() override { return ::GetLastError(); }
  void SetLastError(port::ErrorCode code) override { ::SetLastError(code); }

  std::string FormatMessageA(port::ErrorCode code, std::uint32_t languageId) override {
    UniqueLocalMemory buffer;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, languageId, reinterpret_cast<LPSTR>(buffer.put()), 0, nullptr);
    if (length == 0 || !buffer) return {};
    return std::string(static_cast<const char*>(buffer.get()), length);
  }

  bool MultiByteToWideChar(const std::string& source, port::WideText& destination,
                           std::size_t capacity) override {
    destination.clear();
    if (capacity == 0) {  // a zero count would ask for the size instead
      ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return false;
    }
    std::vector<wchar_t> buffer(capacity, L'\0');
    const int written = ::MultiByteToWideChar(CP_THREAD_ACP, 0, source.c_str(), -1, buffer.data(),
                                              BoundedCount(capacity));
    if (written <= 0) return false;
    // `written` counts the terminator.
    destination.assign(reinterpret_cast<const char16_t*>(buffer.data()), written - 1);
    return true;
  }

  bool WideCharToMultiByte(const port::WideText& source, std::string& destination,
                           std::size_t capacity, bool* usedDefaultChar) override {
    destination.clear();
    if (capacity == 0) {
      ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return false;
    }
    std::vector<char> buffer(capacity, '\0');
    BOOL usedDefault = FALSE;
    const int written = ::WideCharToMultiByte(
        CP_THREAD_ACP, usedDefaultChar ? WC_NO_BEST_FIT_CHARS : 0,
        reinterpret_cast<const wchar_t*>(source.c_str()), -1, buffer.data(), BoundedCount(capacity),
        nullptr, usedDefaultChar ? &usedDefault : nullptr);
    if (written <= 0) return false;
    if (usedDefaultChar) *usedDefaultChar = usedDefault != FALSE;
    destination.assign(buffer.data(), written - 1);
    return true;
  }

  int lstrcmpiA(const char* left, const char* right) override { return ::lstrcmpiA(left, right); }
  std::uint32_t GetACP() override { return ::GetACP(); }
  bool IsDBCSLeadByte(unsigned char byte) override {
    return ::IsDBCSLeadByteEx(CP_ACP, byte) != FALSE;
  }

  std::string GetCommandLineA() override {
    const char* line = ::GetCommandLineA();
    return line != nullptr ? std::string(line) : std::string();
  }

  bool GetVersionExA(port::OsVersion& version, bool extended) override {
    OSVERSIONINFOEXA info = {};
    // The basic record is the head of the extended one; the size field tells
    // the system which of the two it is given.
    info.dwOSVersionInfoSize = extended ? sizeof(OSVERSIONINFOEXA) : sizeof(OSVERSIONINFOA);
    if (!::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) return false;
    version.major = info.dwMajorVersion;
    version.minor = info.dwMinorVersion;
    version.build = info.dwBuildNumber;
    return true;
  }

  void OutputDebugStringA(const char* text) override { ::OutputDebugStringA(text); }

  port::SystemTime GetLocalTime() override {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    port::SystemTime t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.dayOfWeek = st.wDayOfWeek;
    t.day = st.wDay;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    t.second = st.wSecond;
    t.milliseconds = st.wMilliseconds;
    return t;
  }

  std::string GetTimeFormatA(const port::SystemTime& time, const char* picture) override {
    const SYSTEMTIME st = ToSystemTime(time);
    const int needed = ::GetTimeFormatA(LOCALE_SYSTEM_DEFAULT, 0, &st, picture, nullptr, 0);
    if (needed <= 0) return {};
    std::vector<char> buffer(static_cast<std::size_t>(needed), '\0');
    const int written =
        ::GetTimeFormatA(LOCALE_SYSTEM_DEFAULT, 0, &st, picture, buffer.data(), needed);
    if (written <= 0) return {};
    return std::string(buffer.data(), static_cast<std::size_t>(written - 1));
  }

  void Sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }
};

}  // namespace

std::unique_ptr<port::System> MakeSystem() { return std::make_unique<Win32System>(); }

}  // namespace zrt::win32
