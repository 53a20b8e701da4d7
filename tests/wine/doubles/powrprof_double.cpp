// A stand-in for the power-profile library under Wine, whose own is mostly
// stubs. It keeps the power schemes where Windows XP keeps them, in the
// current user's registry:
//
//   HKCU\Control Panel\PowerCfg                      CurrentPowerPolicy  REG_SZ  "<index>"
//   HKCU\Control Panel\PowerCfg\PowerPolicies\<index> Name, Description  REG_SZ
//                                                     Policies           REG_BINARY (opaque)
//
// Failures are injected under HKLM\Software\ZrtTestDoubles\powrprof: a
// REG_DWORD named after a call makes that call fail with the value as the
// thread's last error; CanUserWrite = 0 denies the right to write schemes
// (ERROR_ACCESS_DENIED from CanUserWritePwrScheme and DeletePwrScheme).
#include <windows.h>
// Headers that expect the Windows types to be declared already.
#include <powrprof.h>

#include <cwchar>
#include <optional>
#include <string>

#include "double_config.h"

namespace {

using zrt::doubles::ConfigKey;
using zrt::doubles::ReadDword;
using zrt::doubles::ReadString;
using zrt::doubles::RegKey;

constexpr const wchar_t* kPowerCfgKey = L"Control Panel\\PowerCfg";
constexpr const wchar_t* kPoliciesKey = L"Control Panel\\PowerCfg\\PowerPolicies";
// Where XP keeps the machine half of each scheme; removed with the scheme.
constexpr const wchar_t* kMachinePoliciesKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Controls Folder\\PowerCfg\\PowerPolicies";

// The system passes the scheme texts as UTF-16.
using WideSchemesEnumProc = BOOLEAN(CALLBACK*)(UINT index, DWORD nameSize, LPWSTR name,
                                               DWORD descriptionSize, LPWSTR description,
                                               PPOWER_POLICY policy, LPARAM context);

// True (and the last error set) when a failure is configured for `call`.
bool InjectedFailure(const wchar_t* call) {
  const auto code = ReadDword(HKEY_LOCAL_MACHINE, ConfigKey(L"powrprof"), call);
  if (!code) return false;
  ::SetLastError(*code);
  return true;
}

// CanUserWrite = 0 takes the right to write schemes away.
bool UserMayNotWrite() {
  const auto allowed = ReadDword(HKEY_LOCAL_MACHINE, ConfigKey(L"powrprof"), L"CanUserWrite");
  return allowed && *allowed == 0;
}

// A scheme key name is its decimal index.
std::optional<UINT> ParseIndex(const wchar_t* text) {
  if (text == nullptr || *text == L'\0') return std::nullopt;
  wchar_t* end = nullptr;
  const unsigned long value = std::wcstoul(text, &end, 10);
  if (end == nullptr || *end != L'\0') return std::nullopt;
  return static_cast<UINT>(value);
}

std::wstring SchemeKey(UINT index) {
  return std::wstring(kPoliciesKey) + L"\\" + std::to_wstring(index);
}

}  // namespace

extern "C" {

BOOLEAN WINAPI DoubleEnumPwrSchemes(WideSchemesEnumProc callback, LPARAM context) {
  if (InjectedFailure(L"EnumPwrSchemes")) return FALSE;
  if (callback == nullptr) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  RegKey policies;
  const LONG opened = ::RegOpenKeyExW(HKEY_CURRENT_USER, kPoliciesKey, 0, KEY_READ, policies.put());
  if (opened != ERROR_SUCCESS) {
    ::SetLastError(opened);
    return FALSE;
  }
  // Registry order, as the system walks the keys: "10" comes before "2".
  for (DWORD i = 0;; ++i) {
    wchar_t keyName[256];
    DWORD keyLength = ARRAYSIZE(keyName);
    const LONG status =
        ::RegEnumKeyExW(policies.get(), i, keyName, &keyLength, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) {
      ::SetLastError(status);
      return FALSE;
    }
    const auto index = ParseIndex(keyName);
    if (!index) continue;
    const std::wstring key = std::wstring(kPoliciesKey) + L"\\" + keyName;
    std::wstring name = ReadString(HKEY_CURRENT_USER, key, L"Name").value_or(L"");
    std::wstring description = ReadString(HKEY_CURRENT_USER, key, L"Description").value_or(L"");
    POWER_POLICY policy = {};
    const BOOLEAN goOn =
        callback(*index, static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)), name.data(),
                 static_cast<DWORD>((description.size() + 1) * sizeof(wchar_t)), description.data(),
                 &policy, context);
    if (!goOn) break;
  }
  ::SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOLEAN WINAPI DoubleCanUserWritePwrScheme() {
  if (InjectedFailure(L"CanUserWritePwrScheme")) return FALSE;
  if (UserMayNotWrite()) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  ::SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOLEAN WINAPI DoubleGetActivePwrScheme(PUINT index) {
  if (InjectedFailure(L"GetActivePwrScheme")) return FALSE;
  if (index == nullptr) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  LONG status = ERROR_SUCCESS;
  const auto current = ReadString(HKEY_CURRENT_USER, kPowerCfgKey, L"CurrentPowerPolicy", &status);
  if (!current) {
    ::SetLastError(status != ERROR_SUCCESS ? static_cast<DWORD>(status) : ERROR_INVALID_DATA);
    return FALSE;
  }
  const auto parsed = ParseIndex(current->c_str());
  if (!parsed) {
    ::SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  *index = *parsed;
  return TRUE;
}

// As in the simulated machine: a user without the right to write schemes is
// refused (ERROR_ACCESS_DENIED), the active scheme is not; a missing scheme
// fails with the registry's status.
BOOLEAN WINAPI DoubleDeletePwrScheme(UINT index) {
  if (InjectedFailure(L"DeletePwrScheme")) return FALSE;
  if (UserMayNotWrite()) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  const LONG status = ::RegDeleteKeyW(HKEY_CURRENT_USER, SchemeKey(index).c_str());
  if (status != ERROR_SUCCESS) {
    ::SetLastError(status);
    return FALSE;
  }
  const std::wstring machineKey =
      std::wstring(kMachinePoliciesKey) + L"\\" + std::to_wstring(index);
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, machineKey.c_str());
  ::SetLastError(ERROR_SUCCESS);
  return TRUE;
}

}  // extern "C"
