// The steps that prepare a scheme's policy and the machine's global policy
// from a request: time-outs, standby, hibernation and the button and lid
// actions. Shared by scheme creation and modification, each by its rules.
#pragma once

#include <array>
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

// When a time-out is set: always, only where standby is allowed, or with
// the hibernation step.
enum class TimeoutGroup { DiskAndMonitor, Standby, Hibernation };

// One time-out of the scheme policy, set from a request field.
struct TimeoutSetting {
  jobdoc::Field field;
  const char* label;  // (Info, label, "", the field's text)
  TimeoutGroup group;
  port::ULONG& (*slot)(port::POWER_POLICY& policy);
};

// Every time-out, in the order the steps set them.
const std::array<TimeoutSetting, 8>& TimeoutSettings();

// A button code's entry in the global policy and its log words.
struct ButtonAction {
  const char* code;
  port::POWER_ACTION_POLICY policy;
  const char* powerButtonWord;  // creation's words for the power button
  const char* word;
};

// The action a button code ("1" to "5") selects; null for any other text.
const ButtonAction* ButtonActionFor(port::System& system, std::string_view code);

// A button (or the lid) of the global policy, set from a request field when
// the capability is present.
struct ButtonSetting {
  const char* capability;
  port::BOOLEAN port::SYSTEM_POWER_CAPABILITIES::*present;
  jobdoc::Field field;
  const char* label;
  port::POWER_ACTION_POLICY port::GLOBAL_USER_POWER_POLICY::*ac;
  port::POWER_ACTION_POLICY port::GLOBAL_USER_POWER_POLICY::*dc;
  bool isPowerButton;
};

const std::array<ButtonSetting, 3>& ButtonSettings();

// What the hibernation step does for the platform's answer and `hibsupp`.
struct HibernationPlan {
  bool applies;  // hibsupp is "0" or "1" and the rules act on the answer
  bool allowed;  // hibernation is allowed now
  bool wanted;   // hibsupp is "1"
  // Powercfg.exe switches hibernation when allowed and wanted differ.
  bool Switches() const { return applies && allowed != wanted; }
};

HibernationPlan PlanHibernation(port::System& system, std::string_view hibsupp,
                                port::BOOLEAN answer, const OperationRules& rules);

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
