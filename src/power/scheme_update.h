// The steps scheme creation and modification share, each reported by the
// operation's rules: the right to write schemes, the policies in force, and
// everything from the time-outs to the last Powercfg.exe setting. Also the
// guard on handing a request between the two.
#pragma once

#include <cstdint>
#include <string_view>

#include "jobdoc/power_request.h"
#include "platform/port/power_policy.h"
#include "platform/port/system.h"
#include "power/operation_rules.h"
#include "power/settings_walk.h"
#include "run/run.h"

namespace zrt::power {

// Whether an operation may hand its request to the other one. A request is
// handed over at most once: the operation that received it never hands it
// back, even when the schemes changed between the two look-ups.
enum class HandOver { Allowed, Received };

// Creation or modification.
using SchemeOperation = bool (*)(run::Run& run, jobdoc::PowerRequest request, HandOver handOver);

// For a scheme the operation cannot take itself: when `overwriteifexst` is
// "1", logs (Info, name, `option`, "Yes") and (Info, name, "", `handingOver`)
// and hands the request to `other`; otherwise logs (Info, name, `option`,
// "No") and succeeds with nothing changed. A request received from the
// other operation is not handed back: that is logged and fails, as the
// schemes changed between the two look-ups.
bool HandOverIfAsked(SettingsRun& settings, HandOver handOver, const char* option,
                     const char* handingOver, SchemeOperation other);

// Reports the failed power-profile call `call` as `failure` says. Always
// false.
bool CallFailed(SettingsRun& settings, const char* call, const CallFailure& failure);

// CanUserWritePwrScheme, logged; false with the failure message set when
// the user may not write schemes.
bool CheckWriteRight(SettingsRun& settings);

// GetCurrentPowerPolicies, logged.
bool ReadCurrentPolicies(SettingsRun& settings, port::GLOBAL_POWER_POLICY& global,
                         port::POWER_POLICY& policy);

// Sets the request's time-outs, standby and hibernation in `policy` and
// writes it as scheme `index` under `name` and `description`; sets the
// buttons and lid in `global` and writes it; then the active scheme and, by
// the capabilities read again, the throttles, alarms and global flags.
// False at the first step that ends the operation.
bool WriteScheme(SettingsRun& settings, std::uint32_t index, const port::WideText& name,
                 const port::WideText& description, port::POWER_POLICY& policy,
                 port::GLOBAL_POWER_POLICY& global);

}  // namespace zrt::power
