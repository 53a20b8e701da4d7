// The steps that prepare a scheme's policy and the machine's global policy
// from a request: time-outs, standby, hibernation and the button and lid
// actions. Shared by scheme creation and modification, each by its rules.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/port/power_policy.h"
#include "power/powercfg_settings.h"

namespace zrt::power {

// A time-out text as the platform's strtol reads it in base 10 into a
// 32-bit long (leading white space, one sign, digits up to the first other
// character; no digits give 0, values beyond the range the nearest limit),
// stored bit for bit: "-1" gives 0xFFFFFFFF.
std::uint32_t TimeoutValue(std::string_view text);

// The hard-disk and monitor time-outs, each logged with its field's text.
void SetDiskAndMonitorTimeouts(SettingsRun& settings, port::POWER_POLICY& policy);

// Standby when the platform allows it (exactly 1): idle action sleep and
// the standby time-outs.
void SetStandby(SettingsRun& settings, port::POWER_POLICY& policy);

// Hibernation by the platform's answer and `hibsupp`: switches it on or off
// through Powercfg.exe where the two differ, and sets the hibernate
// time-outs. False when the operation must end.
bool SetHibernation(SettingsRun& settings, port::POWER_POLICY& policy);

// The power-button, sleep-button and lid actions of the request, each for a
// button the capabilities report present (exactly 1).
void SetButtonActions(SettingsRun& settings, const port::SYSTEM_POWER_CAPABILITIES& capabilities,
                      port::GLOBAL_POWER_POLICY& global);

}  // namespace zrt::power
