// Where a Windows XP machine keeps what the power configuration tool's
// battery alarms and global flags set: in the global power policy's user
// half, the critical alarm in DischargePolicy[0], the low one in
// DischargePolicy[1], and the flags as the bits of GlobalFlags (in the order
// of powercfg::kGlobalFlags). Standard C++ only, like powercfg_tool.cpp.
#pragma once

#include "platform/port/power_policy.h"
#include "platform/sim/powercfg_tool.h"

namespace zrt::powercfg {

constexpr int kDischargeCritical = 0;
constexpr int kDischargeLow = 1;

// SYSTEM_POWER_LEVEL::PowerPolicy.EventCode bits and Flags bit.
constexpr port::ULONG kNotifyText = 0x1;
constexpr port::ULONG kNotifySound = 0x2;
constexpr port::ULONG kNotifyProgram = 0x4;
constexpr port::ULONG kOverrideApps = 0x4;

// The alarms and flags of `state` from the record. An action the tool has no
// word for reads as "none".
void AlarmsFromPolicy(const port::GLOBAL_USER_POWER_POLICY& policy, State& state);

// Sets the alarms and flags of `state` into the record, keeping the other
// bits and fields.
void AlarmsToPolicy(const State& state, port::GLOBAL_USER_POWER_POLICY& policy);

}  // namespace zrt::powercfg
