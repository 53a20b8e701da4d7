// Small system services: last error, message texts, code-page conversion,
// the command line, version, locale comparison, debugger output, the clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/port/platform_types.h"

namespace zrt::port {

class System {
 public:
  virtual ~System() = default;

  virtual ErrorCode GetLastError() = 0;
  virtual void SetLastError(ErrorCode code) = 0;

  // FormatMessageA from the system message table, no inserts; the text as
  // the system gives it (normally ending in CR LF), empty when the system
  // has none. `languageId` 0 or 0x400.
  virtual std::string FormatMessageA(ErrorCode code, std::uint32_t languageId) = 0;

  // MultiByteToWideChar / WideCharToMultiByte with CP_THREAD_ACP, no default
  // character. The destination holds at most `capacity` units (terminator
  // included); false when the text does not fit or cannot be converted.
  virtual bool MultiByteToWideChar(const std::string& source, WideText& destination,
                                   std::size_t capacity) = 0;
  // Flags 0 when `usedDefaultChar` is null. Otherwise WC_NO_BEST_FIT_CHARS,
  // and `*usedDefaultChar` (lpUsedDefaultChar) tells whether a character
  // without an exact equivalent in the code page became the default one.
  virtual bool WideCharToMultiByte(const WideText& source, std::string& destination,
                                   std::size_t capacity, bool* usedDefaultChar) = 0;

  // lstrcmpiA: locale-aware, case-insensitive comparison.
  virtual int lstrcmpiA(const char* left, const char* right) = 0;

  // GetACP: the machine's ANSI code page (1252, 1251, 932, ...).
  virtual std::uint32_t GetACP() = 0;
  // IsDBCSLeadByte: whether `byte` opens a double-byte character in the ANSI
  // code page (always false in a single-byte code page).
  virtual bool IsDBCSLeadByte(unsigned char byte) = 0;

  // GetCommandLineA: the program's own path, then the job argument.
  virtual std::string GetCommandLineA() = 0;

  // GetVersionExA with the extended (true) or the basic record.
  virtual bool GetVersionExA(OsVersion& version, bool extended) = 0;

  virtual void OutputDebugStringA(const char* text) = 0;

  virtual SystemTime GetLocalTime() = 0;
  // GetTimeFormatA(LOCALE_SYSTEM_DEFAULT, 0, time, picture).
  virtual std::string GetTimeFormatA(const SystemTime& time, const char* picture) = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

}  // namespace zrt::port
