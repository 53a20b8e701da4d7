#include "power/policy_steps.h"

#include <algorithm>
#include <string>

#include "power/exact_value.h"
#include "power/powercfg_settings.h"

namespace zrt::power {
namespace {

constexpr port::ULONG kQueryAndUi = port::kPowerActionQueryAllowed | port::kPowerActionUiAllowed;

const ButtonAction kButtonActions[] = {
    {"1",
     {port::kPowerActionNone, kQueryAndUi, port::kPowerForceTriggerReset},
     "Do nothing",
     "Do Nothing"},
    {"2",
     {port::kPowerActionNone, kQueryAndUi, port::kPowerUserNotifyButton},
     "Ask me what to do",
     "Ask Me What To Do"},
    {"3", {port::kPowerActionSleep, kQueryAndUi, 0}, "StandBy", "StandBy"},
    {"4", {port::kPowerActionHibernate, kQueryAndUi, 0}, "Hibernate", "Hibernate"},
    {"5",
     {port::kPowerActionShutdown, kQueryAndUi, port::kPowerUserNotifyShutdown},
     "Shut down",
     "ShutDown"},
};

const std::array<ButtonSetting, 3> kButtons = {{
    {"PowerButtonPresent", &port::SYSTEM_POWER_CAPABILITIES::PowerButtonPresent,
     jobdoc::Field::powerbtn, "Power Button Action", &port::GLOBAL_USER_POWER_POLICY::PowerButtonAc,
     &port::GLOBAL_USER_POWER_POLICY::PowerButtonDc, true},
    {"SleepButtonPresent", &port::SYSTEM_POWER_CAPABILITIES::SleepButtonPresent,
     jobdoc::Field::sleepbtn, "Sleep Button Action", &port::GLOBAL_USER_POWER_POLICY::SleepButtonAc,
     &port::GLOBAL_USER_POWER_POLICY::SleepButtonDc, false},
    {"LidPresent", &port::SYSTEM_POWER_CAPABILITIES::LidPresent, jobdoc::Field::closelid,
     "Lid Button Action", &port::GLOBAL_USER_POWER_POLICY::LidCloseAc,
     &port::GLOBAL_USER_POWER_POLICY::LidCloseDc, false},
}};

#define ZRT_TIMEOUT(field, label, group, part, member)                                \
  {                                                                                   \
    field, label, TimeoutGroup::group,                                                \
        [](port::POWER_POLICY& policy) -> port::ULONG& { return policy.part.member; } \
  }

const std::array<TimeoutSetting, 8> kTimeouts = {{
    ZRT_TIMEOUT(jobdoc::Field::tohdpi, "Turn_off_HardDisk_AC", DiskAndMonitor, user,
                SpindownTimeoutAc),
    ZRT_TIMEOUT(jobdoc::Field::tohdrb, "Turn_off_HardDisk_DC", DiskAndMonitor, user,
                SpindownTimeoutDc),
    ZRT_TIMEOUT(jobdoc::Field::turnoffpi, "Turn_off_Monitor_AC", DiskAndMonitor, user,
                VideoTimeoutAc),
    ZRT_TIMEOUT(jobdoc::Field::turnoffrb, "Turn_off_Monitor_DC", DiskAndMonitor, user,
                VideoTimeoutDc),
    ZRT_TIMEOUT(jobdoc::Field::sysstandpi, "System_StandBy_Ac", Standby, user, IdleTimeoutAc),
    ZRT_TIMEOUT(jobdoc::Field::sysstandrb, "System_StandBy_Dc", Standby, user, IdleTimeoutDc),
    ZRT_TIMEOUT(jobdoc::Field::syshibpi, "System_Hibernate_AC", Hibernation, mach, DozeS4TimeoutAc),
    ZRT_TIMEOUT(jobdoc::Field::syshibrb, "System_Hibernate_DC", Hibernation, mach, DozeS4TimeoutDc),
}};

#undef ZRT_TIMEOUT

// Whether the group's time-outs reached their fields whole: a number read
// from a cut text is another number. The first that did not is reported,
// naming its field.
bool TimeoutsWhole(SettingsRun& settings, TimeoutGroup group) {
  for (const TimeoutSetting& timeout : kTimeouts) {
    if (timeout.group == group &&
        !RequireExactValue(settings.run, settings.rules.module, settings.request, timeout.field,
                           std::string("time-out ") + jobdoc::FieldOf(timeout.field).name)) {
      return false;
    }
  }
  return true;
}

// Sets the group's time-outs, each logged as (Info, label, "", text). False
// when one of them did not reach its field whole: then none is set.
bool SetTimeouts(SettingsRun& settings, TimeoutGroup group, port::POWER_POLICY& policy) {
  if (!TimeoutsWhole(settings, group)) return false;
  for (const TimeoutSetting& timeout : kTimeouts) {
    if (timeout.group != group) continue;
    const std::string_view text = settings.request.Read(timeout.field);
    timeout.slot(policy) = TimeoutValue(text);
    settings.Log("Info", timeout.label, "", text);
  }
  return true;
}

}  // namespace

std::uint32_t TimeoutValue(std::string_view text) {
  constexpr long long kBeyond = 1LL << 31;  // the magnitude past which the value saturates
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  const bool negative = i < text.size() && text[i] == '-';
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  long long magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = std::min(magnitude * 10 + (text[i] - '0'), kBeyond);
  }
  const long long value = negative ? -magnitude : std::min(magnitude, kBeyond - 1);
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
}

const std::array<TimeoutSetting, 8>& TimeoutSettings() { return kTimeouts; }

const ButtonAction* ButtonActionFor(port::System& system, std::string_view code) {
  for (const ButtonAction& action : kButtonActions) {
    if (ValueIs(system, code, action.code)) return &action;
  }
  return nullptr;
}

const std::array<ButtonSetting, 3>& ButtonSettings() { return kButtons; }

HibernationPlan PlanHibernation(port::System& system, std::string_view hibsupp,
                                port::BOOLEAN answer, const OperationRules& rules) {
  HibernationPlan plan{};
  plan.allowed = answer == 1;
  plan.wanted = ValueIs(system, hibsupp, "1");
  plan.applies = !(answer > 1 && rules.hibernationNeedsZeroOrOne) &&
                 (plan.wanted || ValueIs(system, hibsupp, "0"));
  return plan;
}

const char* ButtonWord(const OperationRules& rules, const ButtonSetting& button,
                       const ButtonAction& action) {
  return rules.ownPowerButtonWords && button.isPowerButton ? action.powerButtonWord : action.word;
}

bool SetDiskAndMonitorTimeouts(SettingsRun& settings, port::POWER_POLICY& policy) {
  return SetTimeouts(settings, TimeoutGroup::DiskAndMonitor, policy);
}

bool SetStandby(SettingsRun& settings, port::POWER_POLICY& policy) {
  if (settings.run.platform.power.IsPwrSuspendAllowed() != 1) {
    if (settings.rules.logStandbyRefused) settings.Log("Info", "Is Sleep", "", "No");
    return true;
  }
  settings.Log("Info", "Is Sleep", "", "Yes");
  for (port::POWER_ACTION_POLICY* idle : {&policy.user.IdleAc, &policy.user.IdleDc}) {
    idle->Action = port::kPowerActionSleep;
    idle->Flags = port::kPowerActionQueryAllowed;
  }
  return SetTimeouts(settings, TimeoutGroup::Standby, policy);
}

bool SetHibernation(SettingsRun& settings, port::POWER_POLICY& policy) {
  run::Run& run = settings.run;
  const std::string_view hibsupp = settings.request.hibsupp.view();
  const HibernationPlan plan = PlanHibernation(
      run.platform.system, hibsupp, run.platform.power.IsPwrHibernateAllowed(), settings.rules);
  if (!plan.applies) return true;
  settings.Log("Info", "Is Hibernate", hibsupp, plan.allowed ? "Yes" : "No");
  // The switch is a change: the time-outs are checked before it.
  if (!TimeoutsWhole(settings, TimeoutGroup::Hibernation)) return false;
  if (plan.Switches() && !SwitchHibernation(settings, plan.wanted)) return false;
  return SetTimeouts(settings, TimeoutGroup::Hibernation, policy);
}

void SetButtonActions(SettingsRun& settings, const port::SYSTEM_POWER_CAPABILITIES& capabilities,
                      port::GLOBAL_POWER_POLICY& global) {
  for (const ButtonSetting& button : kButtons) {
    const bool present = capabilities.*button.present == 1;
    settings.Log("Success", button.capability, "", present ? "Yes" : "No");
    if (!present) continue;
    const std::string_view code = settings.request.Read(button.field);
    if (const ButtonAction* action = ButtonActionFor(settings.run.platform.system, code)) {
      settings.Log("Info", button.label, "", ButtonWord(settings.rules, button, *action));
      global.user.*button.ac = action->policy;
      global.user.*button.dc = action->policy;
    }
  }
}

}  // namespace zrt::power
