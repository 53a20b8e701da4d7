// A stand-in for the power-profile library under Wine, whose own is mostly
// stubs. It keeps the schemes and the global policy where Windows XP keeps
// them (power_store.h) and answers for the system from its configuration
// under HKLM\Software\ZrtTestDoubles\powrprof:
//
//   <call name>         REG_DWORD  that call fails with this last error
//                                  (0: it goes through)
//                       REG_SZ     codes separated by blanks, one per call
//                                  of this process in turn ("0 87": the
//                                  first goes through, the second fails
//                                  with 87, later ones go through)
//   CanUserWrite        REG_DWORD  0 takes the right to write schemes away
//                                  (ERROR_ACCESS_DENIED from
//                                  CanUserWritePwrScheme, WritePwrScheme
//                                  and DeletePwrScheme)
//   Capabilities        REG_BINARY the SYSTEM_POWER_CAPABILITIES handed out
//   HibernationAllowed  REG_DWORD  what IsPwrHibernateAllowed returns
//   StandbyAllowed      REG_DWORD  what IsPwrSuspendAllowed returns
//   UnterminatedTexts   REG_DWORD  1: EnumPwrSchemes hands each name and
//                                  description over with a size that ends
//                                  before its terminator, and more text
//                                  after it
//
// A forced failure comes before anything else the call does; successful
// calls leave the last error as it was.
#include <windows.h>

#include <cwchar>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "double_config.h"
#include "power_store.h"  // the one include of <powrprof.h> (it has no guard)

namespace {

using zrt::doubles::ConfigKey;
using zrt::doubles::ReadDword;
using zrt::doubles::ReadString;
using zrt::doubles::ReadValue;
using zrt::doubles::RegKey;
using zrt::doubles::WriteString;
namespace store = zrt::doubles::power;

// The system passes the scheme texts as UTF-16.
using WideSchemesEnumProc = BOOLEAN(CALLBACK*)(UINT index, DWORD nameSize, LPWSTR name,
                                               DWORD descriptionSize, LPWSTR description,
                                               PPOWER_POLICY policy, LPARAM context);

std::wstring Config() { return ConfigKey(L"powrprof"); }

BOOLEAN Fail(DWORD code) {
  ::SetLastError(code);
  return FALSE;
}

// The configured failure of this call of `call`, or 0.
DWORD ForcedFailure(const wchar_t* call) {
  static std::map<std::wstring, unsigned> calls;  // calls made so far, by name
  const unsigned number = ++calls[call];
  DWORD type = 0;
  const auto bytes = ReadValue(HKEY_LOCAL_MACHINE, Config(), call, &type);
  if (!bytes) return 0;
  if (type == REG_DWORD && bytes->size() == sizeof(DWORD)) {
    return *reinterpret_cast<const DWORD*>(bytes->data());
  }
  if (type != REG_SZ) return 0;
  std::wstring text(reinterpret_cast<const wchar_t*>(bytes->data()),
                    bytes->size() / sizeof(wchar_t));
  std::wistringstream codes(text.c_str());
  DWORD code = 0;
  for (unsigned i = 0; i < number; ++i) {
    if (!(codes >> code)) return 0;
  }
  return code;
}

// True (and the last error set) when this call is forced to fail.
bool InjectedFailure(const wchar_t* call) {
  const DWORD code = ForcedFailure(call);
  if (code == 0) return false;
  ::SetLastError(code);
  return true;
}

bool UserMayNotWrite() {
  const auto allowed = ReadDword(HKEY_LOCAL_MACHINE, Config(), L"CanUserWrite");
  return allowed && *allowed == 0;
}

bool SchemeExists(UINT index) {
  RegKey key;
  return ::RegOpenKeyExW(HKEY_CURRENT_USER, store::SchemeKey(index).c_str(), 0, KEY_READ,
                         key.put()) == ERROR_SUCCESS;
}

POWER_POLICY StoredPolicy(UINT index) {
  POWER_POLICY policy = {};
  policy.user = store::ReadRecord<USER_POWER_POLICY>(HKEY_CURRENT_USER, store::SchemeKey(index));
  policy.mach =
      store::ReadRecord<MACHINE_POWER_POLICY>(HKEY_LOCAL_MACHINE, store::MachineSchemeKey(index));
  return policy;
}

BOOLEAN Written(LONG status) { return status == ERROR_SUCCESS ? TRUE : Fail(status); }

BOOLEAN ConfiguredTruth(const wchar_t* name) {
  return static_cast<BOOLEAN>(ReadDword(HKEY_LOCAL_MACHINE, Config(), name).value_or(0));
}

}  // namespace

extern "C" {

// Calls back with each scheme's texts and stored policy, in registry order,
// until the callback returns FALSE. Without a PowerPolicies key it fails
// with the registry's status (ERROR_FILE_NOT_FOUND).
BOOLEAN WINAPI DoubleEnumPwrSchemes(WideSchemesEnumProc callback, LPARAM context) {
  if (InjectedFailure(L"EnumPwrSchemes")) return FALSE;
  if (callback == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  std::vector<UINT> indices;
  const LONG status = store::SchemeIndices(indices);
  if (status != ERROR_SUCCESS) return Fail(status);
  const bool unterminated = ReadDword(HKEY_LOCAL_MACHINE, Config(), L"UnterminatedTexts") == 1u;
  const auto size = [unterminated](const std::wstring& text) {
    return static_cast<DWORD>((text.size() + (unterminated ? 0 : 1)) * sizeof(wchar_t));
  };
  for (const UINT index : indices) {
    const std::wstring key = store::SchemeKey(index);
    std::wstring name = ReadString(HKEY_CURRENT_USER, key, L"Name").value_or(L"");
    std::wstring description = ReadString(HKEY_CURRENT_USER, key, L"Description").value_or(L"");
    const DWORD nameSize = size(name);
    const DWORD descriptionSize = size(description);
    if (unterminated) {
      name += L" and more";
      description += L" and more";
    }
    POWER_POLICY policy = StoredPolicy(index);
    const BOOLEAN goOn = callback(index, nameSize, name.data(), descriptionSize, description.data(),
                                  &policy, context);
    if (!goOn) break;
  }
  ::SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOLEAN WINAPI DoubleCanUserWritePwrScheme() {
  if (InjectedFailure(L"CanUserWritePwrScheme")) return FALSE;
  if (UserMayNotWrite()) return Fail(ERROR_ACCESS_DENIED);
  ::SetLastError(ERROR_SUCCESS);
  return TRUE;
}

// ERROR_FILE_NOT_FOUND when no active scheme is recorded,
// ERROR_INVALID_DATA when it is not a number.
BOOLEAN WINAPI DoubleGetActivePwrScheme(PUINT index) {
  if (InjectedFailure(L"GetActivePwrScheme")) return FALSE;
  if (index == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  UINT active = 0;
  const LONG status = store::ActiveScheme(active);
  if (status != ERROR_SUCCESS) return Fail(status);
  *index = active;
  return TRUE;
}

// As in the simulated machine: a user without the right to write schemes is
// refused (ERROR_ACCESS_DENIED), the active scheme is not; a missing scheme
// fails with the registry's status.
BOOLEAN WINAPI DoubleDeletePwrScheme(UINT index) {
  if (InjectedFailure(L"DeletePwrScheme")) return FALSE;
  if (UserMayNotWrite()) return Fail(ERROR_ACCESS_DENIED);
  const LONG status = ::RegDeleteKeyW(HKEY_CURRENT_USER, store::SchemeKey(index).c_str());
  if (status != ERROR_SUCCESS) return Fail(status);
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, store::MachineSchemeKey(index).c_str());
  ::SetLastError(ERROR_SUCCESS);
  return TRUE;
}

// ERROR_FILE_NOT_FOUND when there is no scheme of that index.
BOOLEAN WINAPI DoubleReadPwrScheme(UINT index, PPOWER_POLICY policy) {
  if (InjectedFailure(L"ReadPwrScheme")) return FALSE;
  if (policy == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (!SchemeExists(index)) return Fail(ERROR_FILE_NOT_FOUND);
  *policy = StoredPolicy(index);
  return TRUE;
}

// Replaces the scheme of that index, or adds it.
BOOLEAN WINAPI DoubleWritePwrScheme(PUINT index, LPWSTR name, LPWSTR description,
                                    PPOWER_POLICY policy) {
  if (InjectedFailure(L"WritePwrScheme")) return FALSE;
  if (index == nullptr || policy == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (UserMayNotWrite()) return Fail(ERROR_ACCESS_DENIED);
  const std::wstring key = store::SchemeKey(*index);
  LONG status = WriteString(HKEY_CURRENT_USER, key, L"Name", name != nullptr ? name : L"");
  if (status == ERROR_SUCCESS) {
    status = WriteString(HKEY_CURRENT_USER, key, L"Description",
                         description != nullptr ? description : L"");
  }
  if (status == ERROR_SUCCESS) status = store::WriteRecord(HKEY_CURRENT_USER, key, policy->user);
  if (status == ERROR_SUCCESS) {
    status = store::WriteRecord(HKEY_LOCAL_MACHINE, store::MachineSchemeKey(*index), policy->mach);
  }
  return Written(status);
}

// The stored global policy and the active scheme's policy; the active
// scheme's errors are those of GetActivePwrScheme, ERROR_FILE_NOT_FOUND when
// the scheme does not exist.
BOOLEAN WINAPI DoubleGetCurrentPowerPolicies(PGLOBAL_POWER_POLICY global, PPOWER_POLICY policy) {
  if (InjectedFailure(L"GetCurrentPowerPolicies")) return FALSE;
  UINT active = 0;
  const LONG status = store::ActiveScheme(active);
  if (status != ERROR_SUCCESS) return Fail(status);
  if (!SchemeExists(active)) return Fail(ERROR_FILE_NOT_FOUND);
  if (global != nullptr) {
    global->user =
        store::ReadRecord<GLOBAL_USER_POWER_POLICY>(HKEY_CURRENT_USER, store::kGlobalKey);
    global->mach = store::ReadRecord<GLOBAL_MACHINE_POWER_POLICY>(HKEY_LOCAL_MACHINE,
                                                                  store::MachineGlobalKey());
  }
  if (policy != nullptr) *policy = StoredPolicy(active);
  return TRUE;
}

BOOLEAN WINAPI DoubleWriteGlobalPwrPolicy(PGLOBAL_POWER_POLICY global) {
  if (InjectedFailure(L"WriteGlobalPwrPolicy")) return FALSE;
  if (global == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  LONG status = store::WriteRecord(HKEY_CURRENT_USER, store::kGlobalKey, global->user);
  if (status == ERROR_SUCCESS) {
    status = store::WriteRecord(HKEY_LOCAL_MACHINE, store::MachineGlobalKey(), global->mach);
  }
  return Written(status);
}

BOOLEAN WINAPI DoubleGetPwrCapabilities(PSYSTEM_POWER_CAPABILITIES capabilities) {
  if (InjectedFailure(L"GetPwrCapabilities")) return FALSE;
  if (capabilities == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  *capabilities =
      store::ReadRecord<SYSTEM_POWER_CAPABILITIES>(HKEY_LOCAL_MACHINE, Config(), L"Capabilities");
  return TRUE;
}

// The configured values as they are (0 when missing), so a test can answer
// 2 where callers ask for exactly 1.
BOOLEAN WINAPI DoubleIsPwrHibernateAllowed() { return ConfiguredTruth(L"HibernationAllowed"); }
BOOLEAN WINAPI DoubleIsPwrSuspendAllowed() { return ConfiguredTruth(L"StandbyAllowed"); }

}  // extern "C"
