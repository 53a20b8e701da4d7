// The power-profile API (powrprof): schemes, the global policy, the
// machine's capabilities.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/port/platform_types.h"
#include "platform/port/power_policy.h"

namespace zrt::port {

// Called once per scheme by EnumPwrSchemes with the scheme index, name and
// description (UTF-16). Returning false stops the enumeration.
using SchemeEnumCallback =
    std::function<bool(std::uint32_t index, const WideText& name, const WideText& description)>;

class PowerProfile {
 public:
  virtual ~PowerProfile() = default;

  // EnumPwrSchemes. The callback runs synchronously; an exception it throws
  // is carried past the platform and rethrown to the caller.
  virtual bool EnumPwrSchemes(const SchemeEnumCallback& callback) = 0;
  virtual bool CanUserWritePwrScheme() = 0;
  virtual bool GetActivePwrScheme(std::uint32_t& index) = 0;
  virtual bool DeletePwrScheme(std::uint32_t index) = 0;

  // ReadPwrScheme: the stored policy of the scheme with this index.
  virtual bool ReadPwrScheme(std::uint32_t index, POWER_POLICY& policy) = 0;

  // WritePwrScheme: stores the scheme under `index` with its name and
  // description (UTF-16), creating it or replacing the one of that index.
  virtual bool WritePwrScheme(std::uint32_t& index, const WideText& name,
                              const WideText& description, const POWER_POLICY& policy) = 0;

  // GetCurrentPowerPolicies: the global policy and the active scheme's
  // policy now in force.
  virtual bool GetCurrentPowerPolicies(GLOBAL_POWER_POLICY& global, POWER_POLICY& policy) = 0;

  // WriteGlobalPwrPolicy: replaces the machine's global policy.
  virtual bool WriteGlobalPwrPolicy(const GLOBAL_POWER_POLICY& global) = 0;

  virtual bool GetPwrCapabilities(SYSTEM_POWER_CAPABILITIES& capabilities) = 0;

  // The BOOLEAN the platform returns, unchanged: callers that ask for
  // "exactly 1" can tell 1 from other non-zero answers.
  virtual BOOLEAN IsPwrHibernateAllowed() = 0;
  virtual BOOLEAN IsPwrSuspendAllowed() = 0;
};

}  // namespace zrt::port
