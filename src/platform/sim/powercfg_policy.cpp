#include "platform/sim/powercfg_policy.h"

#include <cstddef>
#include <iterator>

namespace zrt::powercfg {
namespace {

struct ActionWord {
  const char* word;
  port::POWER_ACTION action;
};

// The tool's words and the actions it stores; a shutdown also reads back
// from a plain shutdown.
constexpr ActionWord kActions[] = {{"none", port::kPowerActionNone},
                                   {"standby", port::kPowerActionSleep},
                                   {"hibernate", port::kPowerActionHibernate},
                                   {"shutdown", port::kPowerActionShutdownOff},
                                   {"shutdown", port::kPowerActionShutdown}};

// GlobalFlags bits in the order of kGlobalFlags.
constexpr port::ULONG kFlagBits[] = {port::kEnableSysTrayBatteryMeter,
                                     port::kEnableMultiBatteryDisplay, port::kEnablePasswordLogon,
                                     port::kEnableWakeOnRing, port::kEnableVideoDimDisplay};
static_assert(std::size(kFlagBits) == kGlobalFlags.size());

void SetBit(port::ULONG& bits, port::ULONG bit, bool on) { bits = on ? bits | bit : bits & ~bit; }

BatteryAlarm FromLevel(const port::SYSTEM_POWER_LEVEL& level) {
  BatteryAlarm alarm;
  alarm.activate = level.Enable != 0;
  alarm.level = static_cast<int>(level.BatteryLevel);
  alarm.text = (level.PowerPolicy.EventCode & kNotifyText) != 0;
  alarm.sound = (level.PowerPolicy.EventCode & kNotifySound) != 0;
  alarm.program = (level.PowerPolicy.EventCode & kNotifyProgram) != 0;
  alarm.forceAction = (level.PowerPolicy.Flags & kOverrideApps) != 0;
  alarm.action = "none";
  for (const ActionWord& entry : kActions) {
    if (entry.action == level.PowerPolicy.Action) {
      alarm.action = entry.word;
      break;
    }
  }
  return alarm;
}

void ToLevel(const BatteryAlarm& alarm, port::SYSTEM_POWER_LEVEL& level) {
  level.Enable = alarm.activate ? 1 : 0;
  level.BatteryLevel = static_cast<port::ULONG>(alarm.level);
  SetBit(level.PowerPolicy.EventCode, kNotifyText, alarm.text);
  SetBit(level.PowerPolicy.EventCode, kNotifySound, alarm.sound);
  SetBit(level.PowerPolicy.EventCode, kNotifyProgram, alarm.program);
  SetBit(level.PowerPolicy.Flags, kOverrideApps, alarm.forceAction);
  for (const ActionWord& entry : kActions) {
    if (alarm.action == entry.word) {
      level.PowerPolicy.Action = entry.action;
      break;
    }
  }
}

}  // namespace

void AlarmsFromPolicy(const port::GLOBAL_USER_POWER_POLICY& policy, State& state) {
  state.critical = FromLevel(policy.DischargePolicy[kDischargeCritical]);
  state.low = FromLevel(policy.DischargePolicy[kDischargeLow]);
  for (std::size_t i = 0; i < kGlobalFlags.size(); ++i) {
    state.globalFlags[i] = (policy.GlobalFlags & kFlagBits[i]) != 0;
  }
}

void AlarmsToPolicy(const State& state, port::GLOBAL_USER_POWER_POLICY& policy) {
  ToLevel(state.critical, policy.DischargePolicy[kDischargeCritical]);
  ToLevel(state.low, policy.DischargePolicy[kDischargeLow]);
  for (std::size_t i = 0; i < kGlobalFlags.size(); ++i) {
    SetBit(policy.GlobalFlags, kFlagBits[i], state.globalFlags[i]);
  }
}

}  // namespace zrt::powercfg
