// Where the power-profile double and the power configuration tool's double
// keep the machine's power state: in the registry, where Windows XP keeps
// it, with the user half of each record under HKEY_CURRENT_USER and the
// machine half under HKEY_LOCAL_MACHINE:
//
//   HKCU\Control Panel\PowerCfg                       CurrentPowerPolicy  REG_SZ "<index>"
//   HKCU\Control Panel\PowerCfg\PowerPolicies\<index> Name, Description   REG_SZ
//                                                     Policies            USER_POWER_POLICY
//   HKCU\Control Panel\PowerCfg\GlobalPowerPolicy     Policies            GLOBAL_USER_POWER_POLICY
//   HKLM\<kMachineKey>\PowerPolicies\<index>          Policies            MACHINE_POWER_POLICY
//   HKLM\<kMachineKey>\GlobalPowerPolicy              Policies GLOBAL_MACHINE_POWER_POLICY
//
// The records are stored as REG_BINARY in the platform's layout. What the
// system itself decides (capabilities, whether hibernation and standby are
// allowed) is configured under HKLM\Software\ZrtTestDoubles\powrprof.
#pragma once

#include <windows.h>
// Headers that expect the Windows types to be declared already.
#include <powrprof.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "double_config.h"

namespace zrt::doubles::power {

constexpr const wchar_t* kPowerCfgKey = L"Control Panel\\PowerCfg";
constexpr const wchar_t* kPoliciesKey = L"Control Panel\\PowerCfg\\PowerPolicies";
constexpr const wchar_t* kGlobalKey = L"Control Panel\\PowerCfg\\GlobalPowerPolicy";
constexpr const wchar_t* kMachineKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Controls Folder\\PowerCfg";
constexpr const wchar_t* kPoliciesValue = L"Policies";

inline std::wstring SchemeKey(UINT index) {
  return std::wstring(kPoliciesKey) + L"\\" + std::to_wstring(index);
}

inline std::wstring MachineSchemeKey(UINT index) {
  return std::wstring(kMachineKey) + L"\\PowerPolicies\\" + std::to_wstring(index);
}

inline std::wstring MachineGlobalKey() {
  return std::wstring(kMachineKey) + L"\\GlobalPowerPolicy";
}

// A scheme key's name is its index in decimal, without leading zeros.
inline std::optional<UINT> ParseIndex(const wchar_t* text) {
  if (text == nullptr || *text == L'\0' || std::wcslen(text) > 10) return std::nullopt;
  wchar_t* end = nullptr;
  const unsigned long long value = std::wcstoull(text, &end, 10);
  if (*end != L'\0' || value > 0xFFFFFFFFull || std::to_wstring(value) != text) {
    return std::nullopt;
  }
  return static_cast<UINT>(value);
}

// The indices of the stored schemes in registry order, which sorts the key
// names as texts ("10" before "2"); keys of other names are skipped. The
// registry's status when the schemes cannot be read.
inline LONG SchemeIndices(std::vector<UINT>& indices) {
  indices.clear();
  RegKey policies;
  const LONG opened = ::RegOpenKeyExW(HKEY_CURRENT_USER, kPoliciesKey, 0, KEY_READ, policies.put());
  if (opened != ERROR_SUCCESS) return opened;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD length = ARRAYSIZE(name);
    const LONG status =
        ::RegEnumKeyExW(policies.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    if (const auto index = ParseIndex(name)) indices.push_back(*index);
  }
}

// The active scheme's index: ERROR_FILE_NOT_FOUND when none is recorded,
// ERROR_INVALID_DATA when it is not an index.
inline LONG ActiveScheme(UINT& index) {
  LONG status = ERROR_SUCCESS;
  const auto current = ReadString(HKEY_CURRENT_USER, kPowerCfgKey, L"CurrentPowerPolicy", &status);
  if (!current) return status != ERROR_SUCCESS ? status : ERROR_INVALID_DATA;
  const auto parsed = ParseIndex(current->c_str());
  if (!parsed) return ERROR_INVALID_DATA;
  index = *parsed;
  return ERROR_SUCCESS;
}

inline LONG SetActiveScheme(UINT index) {
  return WriteString(HKEY_CURRENT_USER, kPowerCfgKey, L"CurrentPowerPolicy",
                     std::to_wstring(index));
}

// A stored record: all zero when the value is missing; a shorter value
// fills the start, a longer one is cut.
template <typename Record>
Record ReadRecord(HKEY root, const std::wstring& key, const wchar_t* value = kPoliciesValue) {
  Record record = {};
  if (const auto bytes = ReadValue(root, key, value)) {
    std::memcpy(&record, bytes->data(), std::min(bytes->size(), sizeof(record)));
  }
  return record;
}

template <typename Record>
LONG WriteRecord(HKEY root, const std::wstring& key, const Record& record) {
  return WriteValue(root, key, kPoliciesValue, REG_BINARY, &record, sizeof(record));
}

}  // namespace zrt::doubles::power
