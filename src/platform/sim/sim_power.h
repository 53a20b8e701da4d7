// The power profile of the simulated machine, kept in power.json. Every
// call sees the file as it is on disk (parsed again only when it has
// changed), and every change is written back at once, so the file always
// holds the machine's current state; members this part does not know are
// kept as they are.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/port/power_profile.h"
#include "platform/sim/sim_json_file.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_powercfg.h"

namespace zrt::sim {

// A scheme of power.json as the enumeration hands it out.
struct StoredScheme {
  std::uint32_t index = 0;
  std::u16string name;
  std::u16string description;
};

class SimPowerProfile : public port::PowerProfile {
 public:
  // Throws MachineError when power.json is malformed.
  explicit SimPowerProfile(SimMachine& machine);

  // Calls back once per scheme in stored order, on the list as it stood when
  // called, until the callback returns false. An exception from it ends the
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
  const Json& Load();
  // The schemes of `power` (as Load gave it), in stored order; taken apart
  // again only when the file has changed. Throws MachineError for a
  // malformed list.
  std::shared_ptr<const std::vector<StoredScheme>> Schemes(const Json& power);
  // The forced failure of this call of `call` in "failures", if any; sets
  // the last error.
  // Raises first when machine.json's "raises" says so.
  bool Forced(const Json& power, const char* call);
  bool Fail(port::ErrorCode code);

  SimMachine& machine_;
  PowercfgStateCache powercfgStates_;         // the alarms Powercfg.exe keeps
  std::map<std::string, std::size_t> calls_;  // calls made so far, by name
  std::shared_ptr<const std::vector<StoredScheme>> schemes_;
  std::uint64_t schemesVersion_ = 0;  // of the power file schemes_ was taken from
};

}  // namespace zrt::sim
