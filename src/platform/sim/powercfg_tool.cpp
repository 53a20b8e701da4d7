#include "platform/sim/powercfg_tool.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace zrt::powercfg {
namespace {

using Arguments = std::vector<std::string>;

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// The name of an option ("-Name" or "/Name"), in lower case; empty when the
// argument is not an option.
std::string OptionName(const std::string& argument) {
  if (argument.size() < 2 || (argument[0] != '-' && argument[0] != '/')) return {};
  return Lower(std::string_view(argument).substr(1));
}

bool OnOff(const std::string& value, bool& on) {
  const std::string word = Lower(value);
  on = word == "on";
  return on || word == "off";
}

// A percentage: one to three decimal digits, at most 100.
bool Percent(const std::string& value, int& percent) {
  if (value.empty() || value.size() > 3) return false;
  if (!std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  percent = std::stoi(value);
  return percent <= 100;
}

// The position of `word` (ignoring case) in `words`, or -1.
template <std::size_t N>
int IndexOf(const std::array<const char*, N>& words, const std::string& word) {
  const std::string lower = Lower(word);
  for (std::size_t i = 0; i < N; ++i) {
    if (Lower(words[i]) == lower) return static_cast<int>(i);
  }
  return -1;
}

Scheme* FindScheme(State& state, const std::string& name, const SameName& sameName) {
  for (Scheme& scheme : state.schemes) {
    if (sameName(scheme.name, name)) return &scheme;
  }
  return nullptr;
}

// The settings that follow a command's first arguments come in pairs of an
// option and its value.
bool InPairs(const Arguments& args, std::size_t first) {
  return args.size() > first && (args.size() - first) % 2 == 0;
}

int List(const Arguments& args, State&, const SameName&) {
  return args.size() == 1 ? kExitSuccess : kExitFailure;
}

int SetActive(const Arguments& args, State& state, const SameName& sameName) {
  if (args.size() != 2) return kExitFailure;
  const Scheme* scheme = FindScheme(state, args[1], sameName);
  if (scheme == nullptr) return kExitFailure;
  state.activeScheme = scheme->index;
  return kExitSuccess;
}

// Only the processor throttle can be changed this way here.
int Change(const Arguments& args, State& state, const SameName& sameName) {
  if (!InPairs(args, 2)) return kExitFailure;
  Scheme* scheme = FindScheme(state, args[1], sameName);
  if (scheme == nullptr) return kExitFailure;
  constexpr std::array<const char*, 4> kPolicies = {"NONE", "CONSTANT", "DEGRADE", "ADAPTIVE"};
  for (std::size_t i = 2; i < args.size(); i += 2) {
    const std::string option = OptionName(args[i]);
    const int policy = IndexOf(kPolicies, args[i + 1]);
    if (policy < 0) return kExitFailure;
    if (option == "processor-throttle-ac") {
      scheme->throttleAc = policy;
    } else if (option == "processor-throttle-dc") {
      scheme->throttleDc = policy;
    } else {
      return kExitFailure;
    }
  }
  return kExitSuccess;
}

int Hibernate(const Arguments& args, State& state, const SameName&) {
  return args.size() == 2 && OnOff(args[1], state.hibernation) ? kExitSuccess : kExitFailure;
}

int GlobalPowerFlag(const Arguments& args, State& state, const SameName&) {
  bool on = false;
  if (args.size() != 4 || !OnOff(args[1], on) || OptionName(args[2]) != "option") {
    return kExitFailure;
  }
  const int flag = IndexOf(kGlobalFlags, args[3]);
  if (flag < 0) return kExitFailure;
  state.globalFlags[static_cast<std::size_t>(flag)] = on;
  return kExitSuccess;
}

bool SetAlarm(BatteryAlarm& alarm, const std::string& option, const std::string& value) {
  constexpr std::array<const char*, 4> kActions = {"none", "standby", "hibernate", "shutdown"};
  if (option == "level") return Percent(value, alarm.level);
  if (option == "action") {
    const int action = IndexOf(kActions, value);
    if (action >= 0) alarm.action = kActions[static_cast<std::size_t>(action)];
    return action >= 0;
  }
  bool* flag = option == "activate"      ? &alarm.activate
               : option == "text"        ? &alarm.text
               : option == "sound"       ? &alarm.sound
               : option == "forceaction" ? &alarm.forceAction
               : option == "program"     ? &alarm.program
                                         : nullptr;
  return flag != nullptr && OnOff(value, *flag);
}

// With no settings it only shows the alarm.
int BatteryAlarmCommand(const Arguments& args, State& state, const SameName&) {
  if (args.size() < 2 || (args.size() > 2 && !InPairs(args, 2))) return kExitFailure;
  const std::string which = Lower(args[1]);
  BatteryAlarm* alarm = which == "low"        ? &state.low
                        : which == "critical" ? &state.critical
                                              : nullptr;
  if (alarm == nullptr) return kExitFailure;
  for (std::size_t i = 2; i < args.size(); i += 2) {
    if (!SetAlarm(*alarm, OptionName(args[i]), args[i + 1])) return kExitFailure;
  }
  return kExitSuccess;
}

struct Command {
  const char* name;
  const char* shortName;
  int (*run)(const Arguments&, State&, const SameName&);
};

constexpr Command kCommands[] = {
    {"list", "l", List},
    {"setactive", "s", SetActive},
    {"change", "c", Change},
    {"hibernate", "h", Hibernate},
    {"globalpowerflag", "g", GlobalPowerFlag},
    {"batteryalarm", "b", BatteryAlarmCommand},
};

}  // namespace

int Run(const std::vector<std::string>& arguments, State& state, const SameName& sameName) {
  if (arguments.empty()) return kExitFailure;
  const std::string name = OptionName(arguments[0]);
  for (const Command& command : kCommands) {
    if (name != command.name && name != command.shortName) continue;
    State changed = state;
    const int exitCode = command.run(arguments, changed, sameName);
    if (exitCode == kExitSuccess) state = std::move(changed);
    return exitCode;
  }
  return kExitFailure;
}

}  // namespace zrt::powercfg
