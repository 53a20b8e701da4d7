// The power profile of the simulated machine, kept in power.json. The file
// is read at every call and written back on every change, so it always
// holds the machine's current state; members this part does not know are
// kept as they are.
#pragma once

#include <map>
#include <string>

#include "platform/port/power_profile.h"
#include "platform/sim/sim_json_file.h"
#include "platform/sim/sim_machine.h"

namespace zrt::sim {

class SimPowerProfile : public port::PowerProfile {
 public:
  // Throws MachineError when power.json is malformed.
  explicit SimPowerProfile(SimMachine& machine);

  // Calls back once per scheme in stored order, on a copy of the list, until
  // the callback returns false. An exception from the callback ends the
  // enumeration and is rethrown.
  bool EnumPwrSchemes(const port::SchemeEnumCallback& callback) override;
  // False with error 5 when "user_may_write" is false.
  bool CanUserWritePwrScheme() override;
  bool GetActivePwrScheme(std::uint32_t& index) override;
  // Removes the scheme from power.json. Error 2 when there is no scheme of
  // that index, 5 when the user may not write schemes.
  bool DeletePwrScheme(std::uint32_t index) override;
  // Error 2 when there is no scheme of that index.
  bool ReadPwrScheme(std::uint32_t index, port::POWER_POLICY& policy) override;
  // Replaces the scheme of that index, or adds it at the end of the list.
  // Error 5 when the user may not write schemes.
  bool WritePwrScheme(std::uint32_t& index, const port::WideText& name,
                      const port::WideText& description, const port::POWER_POLICY& policy) override;
  // "global_policy" and the policy of the active scheme; error 2 when the
  // active scheme does not exist.
  bool GetCurrentPowerPolicies(port::GLOBAL_POWER_POLICY& global,
                               port::POWER_POLICY& policy) override;
  bool WriteGlobalPwrPolicy(const port::GLOBAL_POWER_POLICY& global) override;
  // "capabilities".
  bool GetPwrCapabilities(port::SYSTEM_POWER_CAPABILITIES& capabilities) override;
  // "hibernation_allowed" and "standby_allowed" (0 when missing).
  port::BOOLEAN IsPwrHibernateAllowed() override;
  port::BOOLEAN IsPwrSuspendAllowed() override;

 private:
  Json Load() const;
  // The forced failure of this call of `call` in "failures", if any; sets
  // the last error.
  // Raises first when machine.json's "raises" says so.
  bool Forced(const Json& power, const char* call);
  bool Fail(port::ErrorCode code);

  SimMachine& machine_;
  std::map<std::string, std::size_t> calls_;  // calls made so far, by name
};

}  // namespace zrt::sim
