// The power-profile API (powrprof): one forward per call. The port's records
// are the platform's own layout, checked member by member below, so they are
// passed through as they are.
#include <windows.h>
// Headers that expect the Windows types to be declared already.
#include <powrprof.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <exception>
#include <type_traits>

#include "platform/win32/win32_adapters.h"

namespace zrt::win32 {
namespace {

// The port's records must be the platform's, byte for byte.
#define ZRT_SAME_LAYOUT(type)                                 \
  static_assert(sizeof(port::type) == sizeof(::type), #type); \
  static_assert(alignof(port::type) == alignof(::type), #type)
#define ZRT_SAME_OFFSET(type, member) \
  static_assert(offsetof(port::type, member) == offsetof(::type, member), #type "::" #member)

ZRT_SAME_LAYOUT(POWER_ACTION_POLICY);
ZRT_SAME_LAYOUT(USER_POWER_POLICY);
ZRT_SAME_LAYOUT(MACHINE_POWER_POLICY);
ZRT_SAME_LAYOUT(POWER_POLICY);
ZRT_SAME_LAYOUT(SYSTEM_POWER_LEVEL);
ZRT_SAME_LAYOUT(GLOBAL_USER_POWER_POLICY);
ZRT_SAME_LAYOUT(GLOBAL_MACHINE_POWER_POLICY);
ZRT_SAME_LAYOUT(GLOBAL_POWER_POLICY);
ZRT_SAME_LAYOUT(SYSTEM_POWER_CAPABILITIES);
ZRT_SAME_OFFSET(USER_POWER_POLICY, IdleTimeoutAc);
ZRT_SAME_OFFSET(USER_POWER_POLICY, VideoTimeoutAc);
ZRT_SAME_OFFSET(USER_POWER_POLICY, SpindownTimeoutDc);
ZRT_SAME_OFFSET(USER_POWER_POLICY, ForcedThrottleDc);
ZRT_SAME_OFFSET(MACHINE_POWER_POLICY, DozeS4TimeoutAc);
ZRT_SAME_OFFSET(MACHINE_POWER_POLICY, OverThrottledDc);
ZRT_SAME_OFFSET(GLOBAL_USER_POWER_POLICY, PowerButtonAc);
ZRT_SAME_OFFSET(GLOBAL_USER_POWER_POLICY, LidCloseDc);
ZRT_SAME_OFFSET(GLOBAL_USER_POWER_POLICY, GlobalFlags);
ZRT_SAME_OFFSET(SYSTEM_POWER_CAPABILITIES, ProcessorThrottle);
ZRT_SAME_OFFSET(SYSTEM_POWER_CAPABILITIES, SystemBatteriesPresent);
ZRT_SAME_OFFSET(SYSTEM_POWER_CAPABILITIES, BatteryScale);
ZRT_SAME_OFFSET(SYSTEM_POWER_CAPABILITIES, DefaultLowLatencyWake);
#undef ZRT_SAME_OFFSET
#undef ZRT_SAME_LAYOUT

template <typename Platform, typename Port>
Platform* AsPlatform(Port& record) {
  static_assert(sizeof(Platform) == sizeof(Port) && std::is_trivially_copyable_v<Port>);
  return reinterpret_cast<Platform*>(&record);
}

// The system takes the scheme texts as UTF-16 although the MinGW header
// declares them narrow; it does not change them.
LPTSTR AsSystemText(const port::WideText& text) {
  return reinterpret_cast<LPTSTR>(const_cast<char16_t*>(text.c_str()));
}

// What the enumeration callback needs: the caller's callback, and the
// exception it threw, carried out of the system's call to be rethrown there.
struct EnumContext {
  const port::SchemeEnumCallback* callback;
  std::exception_ptr failure;
};

// A text the system hands over with its size in bytes: read no further than
// that size, and up to the first terminator within it.
port::WideText WideFrom(const void* text, DWORD bytes) {
  if (text == nullptr) return {};
  const auto* units = static_cast<const char16_t*>(text);
  const std::size_t most = bytes / sizeof(char16_t);
  return port::WideText(units, std::find(units, units + most, u'\0'));
}

// The system passes the name and description as UTF-16 although the MinGW
// header declares them as narrow texts, so they are read as wide here, each
// bounded by the size given with it.
//
// No exception may leave this function: the system's frames between
// EnumPwrSchemes and here cannot be unwound by a C++ exception. A throwing
// callback stops the enumeration instead; the exception is rethrown after
// EnumPwrSchemes has returned.
BOOLEAN CALLBACK EnumThunk(UINT index, DWORD nameSize, LPTSTR name, DWORD descriptionSize,
                           LPTSTR description, PPOWER_POLICY /*policy*/, LPARAM context) {
  auto* enumeration = reinterpret_cast<EnumContext*>(context);
  try {
    return (*enumeration->callback)(index, WideFrom(name, nameSize),
                                    WideFrom(description, descriptionSize))
               ? TRUE
               : FALSE;
  } catch (...) {
    enumeration->failure = std::current_exception();
    return FALSE;
  }
}

class Win32PowerProfile final : public port::PowerProfile {
 public:
  bool EnumPwrSchemes(const port::SchemeEnumCallback& callback) override {
    EnumContext context{&callback, nullptr};
    const BOOLEAN result = ::EnumPwrSchemes(&EnumThunk, reinterpret_cast<LPARAM>(&context));
    if (context.failure) std::rethrow_exception(context.failure);
    return result != FALSE;
  }

  bool CanUserWritePwrScheme() override { return ::CanUserWritePwrScheme() != FALSE; }

  bool GetActivePwrScheme(std::uint32_t& index) override {
    UINT active = 0;
    if (!::GetActivePwrScheme(&active)) return false;
    index = active;
    return true;
  }

  bool DeletePwrScheme(std::uint32_t index) override { return ::DeletePwrScheme(index) != FALSE; }

  bool ReadPwrScheme(std::uint32_t index, port::POWER_POLICY& policy) override {
    return ::ReadPwrScheme(index, AsPlatform<::POWER_POLICY>(policy)) != FALSE;
  }

  bool WritePwrScheme(std::uint32_t& index, const port::WideText& name,
                      const port::WideText& description,
                      const port::POWER_POLICY& policy) override {
    UINT id = index;
    port::POWER_POLICY copy = policy;  // the call takes a non-const pointer
    const BOOLEAN ok = ::WritePwrScheme(&id, AsSystemText(name), AsSystemText(description),
                                        AsPlatform<::POWER_POLICY>(copy));
    index = id;
    return ok != FALSE;
  }

  bool GetCurrentPowerPolicies(port::GLOBAL_POWER_POLICY& global,
                               port::POWER_POLICY& policy) override {
    return ::GetCurrentPowerPolicies(AsPlatform<::GLOBAL_POWER_POLICY>(global),
                                     AsPlatform<::POWER_POLICY>(policy)) != FALSE;
  }

  bool WriteGlobalPwrPolicy(const port::GLOBAL_POWER_POLICY& global) override {
    port::GLOBAL_POWER_POLICY copy = global;
    return ::WriteGlobalPwrPolicy(AsPlatform<::GLOBAL_POWER_POLICY>(copy)) != FALSE;
  }

  bool GetPwrCapabilities(port::SYSTEM_POWER_CAPABILITIES& capabilities) override {
    return ::GetPwrCapabilities(AsPlatform<::SYSTEM_POWER_CAPABILITIES>(capabilities)) != FALSE;
  }

  port::BOOLEAN IsPwrHibernateAllowed() override { return ::IsPwrHibernateAllowed(); }
  port::BOOLEAN IsPwrSuspendAllowed() override { return ::IsPwrSuspendAllowed(); }
};

}  // namespace

std::unique_ptr<port::PowerProfile> MakePowerProfile() {
  return std::make_unique<Win32PowerProfile>();
}

}  // namespace zrt::win32
