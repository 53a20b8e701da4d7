#include "platform/sim/sim_powercfg.h"

#include <cctype>

#include "platform/sim/powercfg_tool.h"
#include "platform/sim/sim_code_page.h"
#include "platform/sim/sim_command_line.h"
#include "platform/sim/sim_power_file.h"

namespace zrt::sim {
namespace {

const std::string kWhere = machine_file::kPower;

bool IsPowercfg(std::string program) {
  program = program.substr(program.find_last_of("\\/") + 1);  // npos + 1 is 0
  for (char& c : program) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return program == "powercfg" || program == "powercfg.exe";
}

powercfg::BatteryAlarm ReadAlarm(const Json* alarms, const char* which) {
  powercfg::BatteryAlarm alarm;
  const Json* object = alarms == nullptr ? nullptr : Member(*alarms, which);
  if (object == nullptr) return alarm;
  const std::string where = kWhere + ": battery_alarms: " + which;
  alarm.activate = BoolMember(*object, "activate", false, where);
  alarm.level = static_cast<int>(Uint32Member(*object, "level", 0, where));
  alarm.text = BoolMember(*object, "text", false, where);
  alarm.sound = BoolMember(*object, "sound", false, where);
  alarm.action = StringMember(*object, "action", "none", where);
  alarm.forceAction = BoolMember(*object, "forceaction", false, where);
  alarm.program = BoolMember(*object, "program", false, where);
  return alarm;
}

Json AlarmJson(const powercfg::BatteryAlarm& alarm) {
  return Json{{"activate", alarm.activate}, {"level", alarm.level},
              {"text", alarm.text},         {"sound", alarm.sound},
              {"action", alarm.action},     {"forceaction", alarm.forceAction},
              {"program", alarm.program}};
}

}  // namespace

powercfg::State PowercfgState(const Json& power, const AnsiCodePage& ansi) {
  powercfg::State state;
  state.hibernation = TruthMember(power, "hibernation_allowed", kWhere) != 0;
  state.activeScheme = Uint32Member(power, "active_scheme", 0, kWhere);
  if (const Json* schemes = Member(power, "schemes")) {
    const std::string where = kWhere + ": scheme policy";
    for (const Json& entry : *schemes) {
      const auto policy = ReadPowerPolicy(Member(entry, "policy"), where);
      state.schemes.push_back({Uint32Member(entry, "index", 0, kWhere),
                               ansi.FromUtf8(StringMember(entry, "name", "", kWhere)),
                               policy.user.ThrottlePolicyAc, policy.user.ThrottlePolicyDc});
    }
  }
  state.low = ReadAlarm(Member(power, "battery_alarms"), "low");
  state.critical = ReadAlarm(Member(power, "battery_alarms"), "critical");
  if (const Json* flags = Member(power, "global_flags")) {
    for (std::size_t i = 0; i < powercfg::kGlobalFlags.size(); ++i) {
      state.globalFlags[i] = BoolMember(*flags, powercfg::kGlobalFlags[i], false, kWhere);
    }
  }
  return state;
}

namespace {

bool SameAlarm(const powercfg::BatteryAlarm& a, const powercfg::BatteryAlarm& b) {
  return a.activate == b.activate && a.level == b.level && a.text == b.text && a.sound == b.sound &&
         a.action == b.action && a.forceAction == b.forceAction && a.program == b.program;
}

// Stores what the tool changed; the alarms and flags are its own record,
// rewritten unless they stand in the file as the tool wrote them.
void StoreState(Json& power, const powercfg::State& before, const powercfg::State& after,
                bool asWritten) {
  if (after.hibernation != before.hibernation) power["hibernation_allowed"] = after.hibernation;
  if (after.activeScheme != before.activeScheme) power["active_scheme"] = after.activeScheme;
  for (std::size_t i = 0; i < after.schemes.size(); ++i) {
    const powercfg::Scheme& was = before.schemes[i];
    const powercfg::Scheme& is = after.schemes[i];
    if (is.throttleAc == was.throttleAc && is.throttleDc == was.throttleDc) continue;
    Json& policy = power["schemes"][i]["policy"];
    if (!policy.is_object()) policy = Json::object();
    policy["ThrottlePolicyAc"] = is.throttleAc;
    policy["ThrottlePolicyDc"] = is.throttleDc;
  }
  if (!asWritten || !SameAlarm(after.low, before.low) ||
      !SameAlarm(after.critical, before.critical)) {
    power["battery_alarms"] =
        Json{{"low", AlarmJson(after.low)}, {"critical", AlarmJson(after.critical)}};
  }
  if (asWritten && after.globalFlags == before.globalFlags) return;
  Json& flags = power["global_flags"];
  for (std::size_t i = 0; i < powercfg::kGlobalFlags.size(); ++i) {
    flags[powercfg::kGlobalFlags[i]] = after.globalFlags[i];
  }
}

}  // namespace

const powercfg::State& PowercfgStateCache::Of(const SimMachine& machine, const Json& power) {
  const std::uint64_t version = machine.PowerFile().Version();
  if (version_ != version) {
    version_.reset();  // until the state is whole
    written_ = false;
    state_ = PowercfgState(power, machine.Ansi());
    version_ = version;
  }
  return state_;
}

void PowercfgStateCache::Keep(const SimMachine& machine, powercfg::State state) {
  state_ = std::move(state);
  version_ = machine.PowerFile().Version();
  written_ = true;
}

PowercfgOutcome RunPowercfg(SimMachine& machine, const std::string& commandLine,
                            PowercfgStateCache& states) {
  // The tool reads, changes and writes the power state as one step: other
  // jobs on the machine lose none of their changes.
  const auto lock = machine.LockMachine();
  const Json& power = LoadPowerFile(machine);
  const Json* tool = Member(power, "powercfg");
  const std::string where = kWhere + ": powercfg";
  const SplitCommand split = SplitCommandLine(
      commandLine, [&machine](unsigned char byte) { return machine.Ansi().IsLeadByte(byte); });
  PowercfgOutcome outcome;
  if (!IsPowercfg(split.program) ||
      (tool != nullptr && !BoolMember(*tool, "installed", true, where))) {
    outcome.startError = port::err::kFileNotFound;
    return outcome;
  }
  const Json* commands = tool == nullptr ? nullptr : Member(*tool, "commands");
  const Json* told =
      commands == nullptr ? nullptr : Member(*commands, machine.Ansi().ToUtf8(commandLine).c_str());
  for (const Json* settings : {told, tool}) {
    if (settings == nullptr) continue;
    if (const Json* error = Member(*settings, "start_error")) {
      outcome.startError = Uint32Value(*error, where + ": start_error");
      return outcome;
    }
  }
  if (told != nullptr) {
    outcome.neverEnds = BoolMember(*told, "never_ends", false, where);
    outcome.exitCode = Uint32Member(*told, "exit_code", 0, where);
    if (const Json* error = Member(*told, "exit_code_error")) {
      outcome.exitCodeError = Uint32Value(*error, where + ": exit_code_error");
    }
    return outcome;
  }

  const powercfg::State& before = states.Of(machine, power);
  const bool asWritten = states.AsWritten();
  powercfg::State after = before;
  outcome.exitCode = static_cast<std::uint32_t>(
      powercfg::Run(split.arguments, after, [&](const std::string& a, const std::string& b) {
        return machine.Ansi().EqualNoCase(a, b);
      }));
  if (outcome.exitCode == powercfg::kExitSuccess) {
    UpdatePowerFile(machine, [&](Json& changed) { StoreState(changed, before, after, asWritten); });
    states.Keep(machine, std::move(after));
  }
  return outcome;
}

}  // namespace zrt::sim
