// A stand-in for the power configuration tool (Powercfg.exe), which Wine
// does not have. Placed beside the program, it is what CreateProcess finds
// first for "Powercfg.exe" and "POWERCFG". It runs the simulated machine's
// tool (src/platform/sim/powercfg_tool.cpp) on the power state the
// power-profile double keeps (power_store.h):
//
//   hibernation   HKLM\Software\ZrtTestDoubles\powrprof  HibernationAllowed  REG_DWORD
//   active scheme HKCU\Control Panel\PowerCfg            CurrentPowerPolicy
//   schemes       their names, and ThrottlePolicyAc/Dc in each scheme's Policies
//
// and on the tool's own record of the battery alarms and global flags, in
// the simulated machine's form (power.json's "battery_alarms" and
// "global_flags"), under HKLM\Software\ZrtTestDoubles\Powercfg:
//
//   BatteryAlarms  REG_SZ  {"low": {...}, "critical": {...}}
//   GlobalFlags    REG_SZ  {"BATTERYICON": true, ...}
//
// The alarms and flags are also kept where Windows XP keeps them, in the
// global policy's user half (platform/sim/powercfg_policy.h), so that what
// reads the power profile (zrt-capture) sees them as on Windows.
//
// Configuration in the same key:
//
//   RecordFile  REG_SZ  where each command is recorded; default
//                       Powercfg.commands.jsonl beside this program
//   Commands    REG_SZ  by exact command line, as power.json's
//                       "powercfg.commands": {"exit_code": n} ends with n
//                       without running the tool, {"never_ends": true}
//                       never ends (until it is terminated)
//
// Each command appends one line (UTF-8 JSON) to the record, with what the
// started process can learn about itself: {"command_line", "account",
// "desktop", "show_window", "flags", "exit_code", "time_us"} (exit_code null
// for a command that never ends, written before it starts waiting; time_us
// the microseconds since the process was made, which scripts/benchmark.py
// counts apart from the program's time).
#include <windows.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "double_config.h"
#include "platform/sim/powercfg_policy.h"
#include "platform/sim/powercfg_tool.h"
#include "power_store.h"  // the one include of <powrprof.h> (it has no guard)

namespace {

using Json = nlohmann::json;
using zrt::doubles::ConfigKey;
using zrt::doubles::ReadDword;
using zrt::doubles::ReadString;
using zrt::doubles::ToUtf8;
using zrt::doubles::WriteDword;
using zrt::doubles::WriteString;
namespace store = zrt::doubles::power;
namespace tool = zrt::powercfg;

std::wstring Config() { return ConfigKey(L"Powercfg"); }

std::wstring FromAnsi(const std::string& text) { return zrt::doubles::Widen(text, CP_ACP); }

std::string ToAnsi(const std::wstring& text) {
  return zrt::doubles::Narrow(text.data(), text.size(), CP_ACP);
}

// A configured JSON value; null when it is missing.
Json ConfiguredJson(const wchar_t* name) {
  const auto text = ReadString(HKEY_LOCAL_MACHINE, Config(), name);
  return text ? Json::parse(ToUtf8(*text)) : Json();
}

void StoreJson(const wchar_t* name, const Json& value) {
  WriteString(HKEY_LOCAL_MACHINE, Config(), name, zrt::doubles::FromUtf8(value.dump()));
}

tool::BatteryAlarm AlarmFrom(const Json& alarms, const char* which) {
  tool::BatteryAlarm alarm;
  if (!alarms.is_object() || !alarms.contains(which)) return alarm;
  const Json& object = alarms.at(which);
  alarm.activate = object.value("activate", false);
  alarm.level = object.value("level", 0);
  alarm.text = object.value("text", false);
  alarm.sound = object.value("sound", false);
  alarm.action = object.value("action", std::string("none"));
  alarm.forceAction = object.value("forceaction", false);
  alarm.program = object.value("program", false);
  return alarm;
}

Json AlarmJson(const tool::BatteryAlarm& alarm) {
  return Json{{"activate", alarm.activate}, {"level", alarm.level},
              {"text", alarm.text},         {"sound", alarm.sound},
              {"action", alarm.action},     {"forceaction", alarm.forceAction},
              {"program", alarm.program}};
}

tool::State LoadState() {
  tool::State state;
  state.hibernation =
      ReadDword(HKEY_LOCAL_MACHINE, ConfigKey(L"powrprof"), L"HibernationAllowed").value_or(0) != 0;
  UINT active = 0;
  if (store::ActiveScheme(active) == ERROR_SUCCESS) state.activeScheme = active;
  std::vector<UINT> indices;
  store::SchemeIndices(indices);
  for (const UINT index : indices) {
    const std::wstring key = store::SchemeKey(index);
    const auto policy = store::ReadRecord<USER_POWER_POLICY>(HKEY_CURRENT_USER, key);
    state.schemes.push_back({index,
                             ToAnsi(ReadString(HKEY_CURRENT_USER, key, L"Name").value_or(L"")),
                             policy.ThrottlePolicyAc, policy.ThrottlePolicyDc});
  }
  const Json alarms = ConfiguredJson(L"BatteryAlarms");
  state.low = AlarmFrom(alarms, "low");
  state.critical = AlarmFrom(alarms, "critical");
  const Json flags = ConfiguredJson(L"GlobalFlags");
  for (std::size_t i = 0; i < tool::kGlobalFlags.size(); ++i) {
    state.globalFlags[i] = flags.is_object() && flags.value(tool::kGlobalFlags[i], false);
  }
  return state;
}

// Stores what the tool changed; the alarms and flags are its own record.
void StoreState(const tool::State& before, const tool::State& after) {
  if (after.hibernation != before.hibernation) {
    WriteDword(HKEY_LOCAL_MACHINE, ConfigKey(L"powrprof"), L"HibernationAllowed",
               after.hibernation ? 1 : 0);
  }
  if (after.activeScheme != before.activeScheme) store::SetActiveScheme(after.activeScheme);
  for (std::size_t i = 0; i < after.schemes.size(); ++i) {
    const tool::Scheme& was = before.schemes[i];
    const tool::Scheme& is = after.schemes[i];
    if (is.throttleAc == was.throttleAc && is.throttleDc == was.throttleDc) continue;
    const std::wstring key = store::SchemeKey(is.index);
    auto policy = store::ReadRecord<USER_POWER_POLICY>(HKEY_CURRENT_USER, key);
    policy.ThrottlePolicyAc = static_cast<UCHAR>(is.throttleAc);
    policy.ThrottlePolicyDc = static_cast<UCHAR>(is.throttleDc);
    store::WriteRecord(HKEY_CURRENT_USER, key, policy);
  }
  StoreJson(L"BatteryAlarms",
            Json{{"low", AlarmJson(after.low)}, {"critical", AlarmJson(after.critical)}});
  Json flags = Json::object();
  for (std::size_t i = 0; i < tool::kGlobalFlags.size(); ++i) {
    flags[tool::kGlobalFlags[i]] = after.globalFlags[i];
  }
  StoreJson(L"GlobalFlags", flags);
  // The same layout (checked in the adapter): the platform's record, field
  // for field.
  static_assert(sizeof(GLOBAL_USER_POWER_POLICY) == sizeof(zrt::port::GLOBAL_USER_POWER_POLICY));
  const auto stored =
      store::ReadRecord<GLOBAL_USER_POWER_POLICY>(HKEY_CURRENT_USER, store::kGlobalKey);
  zrt::port::GLOBAL_USER_POWER_POLICY policy;
  std::memcpy(&policy, &stored, sizeof policy);
  tool::AlarmsToPolicy(after, policy);
  GLOBAL_USER_POWER_POLICY changed;
  std::memcpy(&changed, &policy, sizeof changed);
  store::WriteRecord(HKEY_CURRENT_USER, store::kGlobalKey, changed);
}

// What this process can learn of how it was started.
Json Observed(const std::string& commandLine) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  ::GetStartupInfoA(&startup);
  char account[257] = {};
  DWORD size = sizeof(account);
  if (!::GetUserNameA(account, &size)) account[0] = '\0';
  return Json{{"command_line", ToUtf8(FromAnsi(commandLine))},
              {"account", ToUtf8(FromAnsi(account))},
              {"desktop", startup.lpDesktop != nullptr ? ToUtf8(FromAnsi(startup.lpDesktop)) : ""},
              {"show_window", startup.wShowWindow},
              {"flags", startup.dwFlags},
              {"exit_code", nullptr}};
}

// Microseconds since this process was made.
long long TimeSinceStart() {
  FILETIME made, ended, kernel, user, now;
  if (!::GetProcessTimes(::GetCurrentProcess(), &made, &ended, &kernel, &user)) return 0;
  ::GetSystemTimeAsFileTime(&now);
  const auto ticks = [](const FILETIME& time) {  // of 100 ns
    return static_cast<long long>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
  };
  return (ticks(now) - ticks(made)) / 10;
}

void Record(Json record) {
  record["time_us"] = TimeSinceStart();
  zrt::doubles::AppendToFile(
      zrt::doubles::RecordFile(L"Powercfg", nullptr, L"Powercfg.commands.jsonl"),
      record.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string commandLine = ::GetCommandLineA();
  Json record = Observed(commandLine);

  const Json commands = ConfiguredJson(L"Commands");
  const std::string key = record["command_line"];
  if (commands.is_object() && commands.contains(key)) {
    const Json& told = commands.at(key);
    if (told.value("never_ends", false)) {
      Record(record);
      for (;;) ::Sleep(INFINITE);
    }
    const int exitCode = told.value("exit_code", 0);
    record["exit_code"] = exitCode;
    Record(record);
    return exitCode;
  }

  // The arguments as the C runtime split the command line.
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const tool::State before = LoadState();
  tool::State after = before;
  const int exitCode = tool::Run(arguments, after, [](const std::string& a, const std::string& b) {
    return ::lstrcmpiA(a.c_str(), b.c_str()) == 0;
  });
  if (exitCode == tool::kExitSuccess) StoreState(before, after);
  record["exit_code"] = exitCode;
  Record(record);
  return exitCode;
}
