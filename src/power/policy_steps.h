// The steps that prepare a scheme's policy and the machine's global policy
// from a request: time-outs, standby, hibernation and the button and lid
// actions. Shared by scheme creation and modification, each by its rules.
#pragma once

#include "platform/port/power_policy.h"
#include "power/operation_rules.h"
#include "power/settings_walk.h"

namespace zrt::power {

// Each setter below reads a time-out only from a text that reached its
// field whole; a cut one ends the operation, reported at its field, before
// anything of the group is set or switched.

// The hard-disk and monitor time-outs, each logged with its field's text.
bool SetDiskAndMonitorTimeouts(SettingsRun& settings, port::POWER_POLICY& policy);

// Standby when the platform allows it (exactly 1): idle action sleep and
// the standby time-outs.
bool SetStandby(SettingsRun& settings, port::POWER_POLICY& policy);

// Hibernation by the platform's answer and `hibsupp`: switches it on or off
// through Powercfg.exe where the two differ, and sets the hibernate
// time-outs. False when the operation must end.
bool SetHibernation(SettingsRun& settings, port::POWER_POLICY& policy);

// The power-button, sleep-button and lid actions of the request, each for a
// button the capabilities report present (exactly 1).
void SetButtonActions(SettingsRun& settings, const port::SYSTEM_POWER_CAPABILITIES& capabilities,
                      port::GLOBAL_POWER_POLICY& global);

}  // namespace zrt::power
