// The settings applied by running Powercfg.exe as the logged-on user:
// hibernation (group A), the active scheme (B), processor throttling (C),
// the low and the critical battery alarm (D) and the five global power flags
// (E). Each command is a row of a table: its command line, the request field
// and value that choose it, its log lines and its failure report. Creation
// reports failures in each row's own style, modification all but the
// hibernation switch in the system-error style (OperationRules).
#pragma once

#include <string_view>

#include "platform/port/power_policy.h"
#include "power/operation_rules.h"
#include "power/settings_walk.h"

namespace zrt::power {

// Reports a failure in the command's own style.
bool ReportInRowStyle(SettingsRun& settings, const PowercfgCommand& command, std::string_view word);

// Reports a failure in the system-error style, the prefix being the row's
// message up to its " : "; the set-active command has no state line. A
// failed hibernation switch logs its might-be text and hint and the
// operation goes on, on every Windows version.
bool ReportAsSystemError(SettingsRun& settings, const PowercfgCommand& command,
                         std::string_view word);

// Group A: switches hibernation on or off. True when the operation goes on.
bool SwitchHibernation(SettingsRun& settings, bool on);

// Group B: makes the request's scheme the active one when it asks for it.
bool ApplyActiveScheme(SettingsRun& settings);

// Groups C, D and E, gated by the capabilities read just before. True when
// every command that ran succeeded.
bool ApplyMachineSettings(SettingsRun& settings,
                          const port::SYSTEM_POWER_CAPABILITIES& capabilities);

// Decides, before the operation changes anything, whether a command the
// request would run on this machine is refused: the set-active command and
// groups C, D and E as `capabilities` gate them. A value no command of this
// machine takes is not looked at, as the operation never uses it. The first
// refusal is logged and reported as RunPowercfgCommand reports it. True
// when none is refused.
bool RefuseCommandsBeforeChanges(SettingsRun& settings,
                                 const port::SYSTEM_POWER_CAPABILITIES& capabilities);

// Runs one command of the table with `inserted` for "%s" (the scheme name,
// or the level held by element `from`), unless BuildPowercfgCommand refuses
// it: a refusal is logged as (Failed, element, value, refusal) and fails
// with the message that the job document's value of that element is wrong.
bool RunPowercfgCommand(SettingsRun& settings, const PowercfgCommand& command,
                        std::string_view inserted = {},
                        jobdoc::Field from = jobdoc::Field::schemename);

}  // namespace zrt::power
