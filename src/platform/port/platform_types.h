// Small value types shared by the platform interfaces.
#pragma once

#include <cstdint>
#include <string>

namespace zrt::port {

// A Win32 error code as GetLastError returns it.
using ErrorCode = std::uint32_t;

// A COM result code (negative means failure, S_FALSE is a success code).
using HResult = std::int32_t;
constexpr HResult kS_OK = 0;
constexpr HResult kS_FALSE = 1;
constexpr HResult kE_FAIL = static_cast<HResult>(0x80004005u);
constexpr HResult kE_INVALIDARG = static_cast<HResult>(0x80070057u);
constexpr HResult kE_OUTOFMEMORY = static_cast<HResult>(0x8007000Eu);
inline bool Succeeded(HResult hr) { return hr >= 0; }

// Common Win32 error codes the program and the simulation refer to by name.
namespace err {
constexpr ErrorCode kSuccess = 0;
constexpr ErrorCode kFileNotFound = 2;
constexpr ErrorCode kPathNotFound = 3;
constexpr ErrorCode kAccessDenied = 5;
constexpr ErrorCode kInvalidHandle = 6;
constexpr ErrorCode kNotEnoughMemory = 8;
constexpr ErrorCode kSharingViolation = 32;
constexpr ErrorCode kFileExists = 80;
constexpr ErrorCode kInvalidParameter = 87;
constexpr ErrorCode kCallNotImplemented = 120;
constexpr ErrorCode kAlreadyExists = 183;
constexpr ErrorCode kMoreData = 234;
constexpr ErrorCode kNoMoreItems = 259;
constexpr ErrorCode kProcNotFound = 127;
constexpr ErrorCode kModNotFound = 126;
}  // namespace err

// Local time as GetLocalTime fills SYSTEMTIME.
struct SystemTime {
  std::uint16_t year = 0;
  std::uint16_t month = 0;
  std::uint16_t dayOfWeek = 0;
  std::uint16_t day = 0;
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint16_t milliseconds = 0;
};

// What GetVersionExA reports.
struct OsVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
};

// UTF-16 text as the platform passes it at the XML parser, the power
// profile and the post library.
using WideText = std::u16string;

}  // namespace zrt::port
