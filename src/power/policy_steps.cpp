#include "power/policy_steps.h"

#include <algorithm>
#include <string>

#include "power/operation_rules.h"

namespace zrt::power {
namespace {

constexpr port::ULONG kQueryAndUi = port::kPowerActionQueryAllowed | port::kPowerActionUiAllowed;

struct ButtonAction {
  const char* code;
  port::POWER_ACTION_POLICY policy;
  const char* powerButtonWord;
  const char* word;
};

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

struct Button {
  const char* capability;
  port::BOOLEAN port::SYSTEM_POWER_CAPABILITIES::*present;
  const char* field;
  const char* label;
  port::POWER_ACTION_POLICY port::GLOBAL_USER_POWER_POLICY::*ac;
  port::POWER_ACTION_POLICY port::GLOBAL_USER_POWER_POLICY::*dc;
  bool isPowerButton;
};

const Button kButtons[] = {
    {"PowerButtonPresent", &port::SYSTEM_POWER_CAPABILITIES::PowerButtonPresent, "powerbtn",
     "Power Button Action", &port::GLOBAL_USER_POWER_POLICY::PowerButtonAc,
     &port::GLOBAL_USER_POWER_POLICY::PowerButtonDc, true},
    {"SleepButtonPresent", &port::SYSTEM_POWER_CAPABILITIES::SleepButtonPresent, "sleepbtn",
     "Sleep Button Action", &port::GLOBAL_USER_POWER_POLICY::SleepButtonAc,
     &port::GLOBAL_USER_POWER_POLICY::SleepButtonDc, false},
    {"LidPresent", &port::SYSTEM_POWER_CAPABILITIES::LidPresent, "closelid", "Lid Button Action",
     &port::GLOBAL_USER_POWER_POLICY::LidCloseAc, &port::GLOBAL_USER_POWER_POLICY::LidCloseDc,
     false},
};

bool Is(run::Run& run, std::string_view value, const char* literal) {
  return run.platform.system.lstrcmpiA(std::string(value).c_str(), literal) == 0;
}

// Sets `field` from `text` and logs (Info, label, "", text).
void SetTimeout(SettingsRun& settings, const char* label, std::string_view text,
                port::ULONG& field) {
  field = TimeoutValue(text);
  settings.Log("Info", label, "", text);
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

void SetDiskAndMonitorTimeouts(SettingsRun& settings, port::POWER_POLICY& policy) {
  const jobdoc::PowerRequest& request = settings.request;
  SetTimeout(settings, "Turn_off_HardDisk_AC", request.tohdpi.view(),
             policy.user.SpindownTimeoutAc);
  SetTimeout(settings, "Turn_off_HardDisk_DC", request.tohdrb.view(),
             policy.user.SpindownTimeoutDc);
  SetTimeout(settings, "Turn_off_Monitor_AC", request.turnoffpi.view(), policy.user.VideoTimeoutAc);
  SetTimeout(settings, "Turn_off_Monitor_DC", request.turnoffrb.view(), policy.user.VideoTimeoutDc);
}

void SetStandby(SettingsRun& settings, port::POWER_POLICY& policy) {
  if (settings.run.platform.power.IsPwrSuspendAllowed() != 1) {
    if (settings.rules.logStandbyRefused) settings.Log("Info", "Is Sleep", "", "No");
    return;
  }
  settings.Log("Info", "Is Sleep", "", "Yes");
  for (port::POWER_ACTION_POLICY* idle : {&policy.user.IdleAc, &policy.user.IdleDc}) {
    idle->Action = port::kPowerActionSleep;
    idle->Flags = port::kPowerActionQueryAllowed;
  }
  SetTimeout(settings, "System_StandBy_Ac", settings.request.sysstandpi.view(),
             policy.user.IdleTimeoutAc);
  SetTimeout(settings, "System_StandBy_Dc", settings.request.sysstandrb.view(),
             policy.user.IdleTimeoutDc);
}

bool SetHibernation(SettingsRun& settings, port::POWER_POLICY& policy) {
  run::Run& run = settings.run;
  const jobdoc::PowerRequest& request = settings.request;
  const port::BOOLEAN answer = run.platform.power.IsPwrHibernateAllowed();
  if (answer > 1 && settings.rules.hibernationNeedsZeroOrOne) return true;
  const bool allowed = answer == 1;
  const bool wanted = Is(run, request.hibsupp.view(), "1");
  if (!wanted && !Is(run, request.hibsupp.view(), "0")) return true;
  settings.Log("Info", "Is Hibernate", request.hibsupp.view(), allowed ? "Yes" : "No");
  if (allowed != wanted && !SwitchHibernation(settings, wanted)) return false;
  SetTimeout(settings, "System_Hibernate_AC", request.syshibpi.view(), policy.mach.DozeS4TimeoutAc);
  SetTimeout(settings, "System_Hibernate_DC", request.syshibrb.view(), policy.mach.DozeS4TimeoutDc);
  return true;
}

void SetButtonActions(SettingsRun& settings, const port::SYSTEM_POWER_CAPABILITIES& capabilities,
                      port::GLOBAL_POWER_POLICY& global) {
  for (const Button& button : kButtons) {
    const bool present = capabilities.*button.present == 1;
    settings.Log("Success", button.capability, "", present ? "Yes" : "No");
    if (!present) continue;
    const std::string_view code = jobdoc::FindField(button.field)->read(settings.request);
    for (const ButtonAction& action : kButtonActions) {
      if (!Is(settings.run, code, action.code)) continue;
      const bool powerButtonWord = settings.rules.ownPowerButtonWords && button.isPowerButton;
      settings.Log("Info", button.label, "",
                   powerButtonWord ? action.powerButtonWord : action.word);
      global.user.*button.ac = action.policy;
      global.user.*button.dc = action.policy;
    }
  }
}

}  // namespace zrt::power
