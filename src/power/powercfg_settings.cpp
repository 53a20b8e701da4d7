#include "power/powercfg_settings.h"

#include <algorithm>
#include <array>
#include <string>

#include "power/command_runner.h"
#include "power/exact_value.h"
#include "power/operation_rules.h"

namespace zrt::power {
namespace {

constexpr const char* kHintPrefix = "Kindly check by fireing the command:- ";
constexpr const char* kNoSupport = "Might be System Does Not Support The Option";
// The settings' command buffer holds at most this many characters.
constexpr std::size_t kMaxCommandLine = decltype(run::SharedBuffers::commandBuffer)::kMaxLength;

// A row of the battery alarms' fixed-text style.
constexpr PowercfgCommand Fixed(const char* line, const char* label, const char* word,
                                const char* message, Before before = Before::Nothing,
                                bool noAction = false) {
  return {line,    Insert::Nothing, label,   word,    before, After::Word, FailureStyle::FixedText,
          message, kNoSupport,      nullptr, noAction};
}

// A row of the system-error style; `prefix` is followed by the error text.
constexpr PowercfgCommand System(const char* line, const char* label, const char* word,
                                 const char* prefix, Before before = Before::Nothing,
                                 bool noAction = false, const char* finalLabel = nullptr,
                                 After after = After::Word) {
  return {line,   Insert::Nothing, label,   word,     before,    after, FailureStyle::SystemError,
          prefix, nullptr,         nullptr, noAction, finalLabel};
}

// Group A.
const PowercfgCommand kHibernateOff = {
    "Powercfg.exe \"-HIBERNATE\" \"off\"",
    Insert::Nothing,
    "Hibernate Disable",
    "",
    Before::Nothing,
    After::Empty,
    FailureStyle::Hibernation,
    "Failed to Disable Hibernate : System does not support hibernation",
    "Might be System does not support hibernation",
    "Kindly check by fireing the command:- Powercfg.exe -HIBERNATE off"};
const PowercfgCommand kHibernateOn = {
    "Powercfg.exe \"-HIBERNATE\" \"on\"",
    Insert::Nothing,
    "Hibernate Enable",
    "",
    Before::Nothing,
    After::Empty,
    FailureStyle::Hibernation,
    "Failed to Enable Hibernate : System does not support hibernation",
    "Might be System does not support hibernation",
    "Kindly check by fireing the command:- Powercfg.exe -HIBERNATE on"};

// Group B.
const PowercfgCommand kSetActive = {"POWERCFG \"-SETACTIVE\" \"%s\"",
                                    Insert::SchemeName,
                                    "SetActivePwrScheme",
                                    "",
                                    Before::Nothing,
                                    After::Empty,
                                    FailureStyle::SingleLine,
                                    "Failed to Set power scheme as active : Scheme Not Found",
                                    "Might be System does not Found Specified Scheme",
                                    "Kindly check by fireing the command:- Powercfg.exe /LIST"};

// Group C: one row per field; the value chooses the policy word.
struct ThrottleSetting {
  const char* field;
  const char* label;
  const char* option;
  const char* message;
};
const ThrottleSetting kThrottleSettings[] = {
    {"procthrotac", "Processor Throttle AC", "-processor-throttle-ac",
     "Failed to Set Processor Throttle AC : Scheme Not Found /Or Does Not Support The Option"},
    {"procthrotdc", "Processor Throttle DC", "-processor-throttle-dc",
     "Failed to Set Processor Throttle DC : Scheme Not Found /Or Does Not Support The Option"},
};
const std::array<std::array<const char*, 2>, 4> kThrottlePolicies = {
    {{"1", "NONE"}, {"2", "CONSTANT"}, {"3", "DEGRADE"}, {"4", "ADAPTIVE"}}};

// Group D: a field whose "1" chooses `on` and anything else `off`.
struct OnOff {
  const char* field;
  PowercfgCommand on;
  PowercfgCommand off;
};

struct BatteryAlarmSettings {
  OnOff activate;  // switched off, the rest of the alarm is left alone
  const char* levelField;
  PowercfgCommand level;
  OnOff sound;
  OnOff text;
  const char* actionField;
  const char* actionLabel;
  std::array<PowercfgCommand, 3> actions;  // for "3", "4" and "5"
  bool forceOnlyAfterAction;               // the forced action needs an action set
  OnOff force;
  OnOff program;
};

const BatteryAlarmSettings kLowAlarm = {
    {"lowbatactivate",
     Fixed("Powercfg.exe -B LOW -activate on", "Low Battery Alarm Active", "On",
           "Failed to Set Low Battery Alarm as Active : System Does Not Support The Option"),
     Fixed("Powercfg.exe -B LOW -activate off", "Low Battery Alarm Active", "off",
           "Failed to Off Low Battery Alarm : System Does Not Support The Option")},
    "lowbatlev",
    {"Powercfg.exe -B LOW -level %s", Insert::Level, "Low Battery Level", nullptr,
     Before::SuccessWord, After::Word, FailureStyle::FixedText,
     "Failed to Set Low Battery Level : Check Lowest Level Of Battery /Or Does Not Support The "
     "Option",
     "", "Check Lowest Level Of Battery /Or Does Not Support The Option", true},
    {"lowbatsound",
     Fixed("Powercfg.exe -B LOW -sound on", "Low Battery Sound Alarm", "On",
           "Failed to On Low Battery Sound Alarm : System Does Not Support The Option"),
     Fixed("Powercfg.exe -B LOW -sound off", "Low Battery Sound Alarm", "off",
           "Failed to Off Low Battery Sound Alarm : System Does Not Support The Option")},
    {"lowbatmsg",
     Fixed("Powercfg.exe -B LOW -text on", "Low Battery Display Message", "On",
           "Failed to On Low Battery Display Message : System Does Not Support The Option"),
     Fixed("Powercfg.exe -B LOW -text off", "Low Battery Display Message", "off",
           "Failed to Off Low Battery Display Message : System Does Not Support The Option",
           Before::Nothing, true)},
    "lowbataction",
    "Low Battery Alarm Action",
    {Fixed("Powercfg.exe -B LOW -action standby", "Low Battery Alarm Action", "Standby",
           "Failed to set Low Battery Alarm Action : System Does Not Support The Option",
           Before::InfoWord),
     Fixed("Powercfg.exe -B LOW -action hibernate", "Low Battery Alarm Action", "Hibernate",
           "Failed to set Low Battery Alarm Action : System Does Not Support The Option",
           Before::InfoWord),
     Fixed("Powercfg.exe -B LOW -action shutdown", "Low Battery Alarm Action", "Shut down",
           "Failed to set Low Battery Alarm Action : System Does Not Support The Option",
           Before::InfoWord)},
    true,
    {"lowbatforce",
     Fixed("Powercfg.exe -B LOW -forceaction on", "Low Battery force Action", "On",
           "Failed to On Low Battery force Action : System Does Not Support The Option"),
     Fixed("Powercfg.exe -B LOW -forceaction off", "Low Battery force Action", "off",
           "Failed to Off Low Battery force Action : System Does Not Support The Option")},
    {"lowbatrunprog",
     Fixed("Powercfg.exe -B LOW -program on", "Low Battery active Run Program", "On",
           "Failed to set Low Battery Run Program as Active : System Does Not Support The Option"),
     Fixed("Powercfg.exe -B LOW -program off", "Low Battery active Run Program", "off",
           "Failed to off Low Battery Run Program : System Does Not Support The Option")},
};

const BatteryAlarmSettings kCriticalAlarm = {
    {"critbatactivate",
     Fixed("Powercfg.exe -B CRITICAL -activate on", "CRITICAL Battery Alarm Active", "On",
           "Failed to On CRITICAL Battery Alarm : System Does Not Support The Option"),
     Fixed("Powercfg.exe -B CRITICAL -activate off", "CRITICAL Battery Alarm Active", "off",
           "Failed to Off CRITICAL Battery Alarm : System Does Not Support The Option")},
    "critbatlevel",
    {"Powercfg.exe -B CRITICAL -level %s", Insert::Level, "CRITICAL Battery Level", nullptr,
     Before::SuccessWord, After::Empty, FailureStyle::FixedText,
     "Failed to Set CRITICAL Battery Level : Check The Level Value /Or System Does Not Support "
     "The Option",
     kNoSupport, "Kindly check by fireing the command:- Powercfg.exe -B CRITICAL -level <value>"},
    {"critbatsound",
     System("Powercfg.exe -B CRITICAL -sound on", "CRITICAL Battery Sound Alarm", "On",
            "Failed to On CRITICAL Battery Sound Alarm : "),
     System("Powercfg.exe -B CRITICAL -sound off", "CRITICAL Battery Sound Alarm", "off",
            "Failed to Off CRITICAL Battery Sound Alarm : ", Before::Nothing, true)},
    {"critbatmsg",
     System("Powercfg.exe -B CRITICAL -text on", "CRITICAL Battery Display Message", "On",
            "Failed to On CRITICAL Battery Display Message : "),
     System("Powercfg.exe -B CRITICAL -text off", "CRITICAL Battery Display Message", "off",
            "Failed to Off CRITICAL Battery Display Message : ")},
    "critbataction",
    "CRITICAL Battery Alarm Action",
    {System("Powercfg.exe -B CRITICAL -action standby", "CRITICAL Battery Alarm Action", "Standby",
            "Failed to Set CRITICAL Battery Alarm Action : ", Before::InfoWord),
     System("Powercfg.exe -B CRITICAL -action hibernate", "CRITICAL Battery Alarm Action",
            "Hibernate", "Failed to Set CRITICAL Battery Alarm Action : ", Before::InfoWord),
     System("Powercfg.exe -B CRITICAL -action shutdown", "CRITICAL Battery Alarm Action",
            "Shut down", "Failed to Set CRITICAL Battery Alarm Action : ", Before::InfoWord)},
    false,
    {"critbatforce",
     System("Powercfg.exe -B CRITICAL -forceaction on", "CRITICAL Battery force Action", "On",
            "Failed to On CRITICAL Battery Force Action : ", Before::Nothing, false,
            "CRITICAL Battery Force Action"),
     System("Powercfg.exe -B CRITICAL -forceaction off", "CRITICAL Battery force Action", "off",
            "Failed to Off CRITICAL Battery Force Action : ", Before::Nothing, false,
            "CRITICAL Battery Force Action")},
    {"critbatrunprog",
     System("Powercfg.exe -B CRITICAL -program on", "CRITICAL Battery active Run Program", "On",
            "Failed to On CRITICAL Battery Run Program : "),
     System("Powercfg.exe -B CRITICAL -program off", "CRITICAL Battery active Run Program", "off",
            "Failed to Off CRITICAL Battery Run Program : ")},
};

// Group E: "No" switches a flag off, "Yes" on, anything else leaves it.
struct GlobalFlagSetting {
  const char* field;
  const char* reportLabel;
  PowercfgCommand off;
  PowercfgCommand on;
};

constexpr PowercfgCommand Flag(const char* line, const char* option, const char* word,
                               const char* prefix) {
  return System(line, option, word, prefix, Before::Nothing, false, nullptr, After::ActionWord);
}

const GlobalFlagSetting kGlobalFlags[] = {
    {"dimvideo", "Video Dim Display",
     Flag("Powercfg.exe -GLOBALPOWERFLAG off -OPTION VIDEODIM", "VIDEODIM", "Off",
          "Failed to Turn off support for dimming video display on battery power : "),
     Flag("Powercfg.exe -GLOBALPOWERFLAG on -OPTION VIDEODIM", "VIDEODIM", "On",
          "Failed to Turn on support for dimming video display on battery power : ")},
    {"ring", "Enable Wake On Ring",
     Flag("Powercfg.exe -GLOBALPOWERFLAG off -OPTION WAKEONRING", "WAKEONRING", "Off",
          "Failed to Turn off wake on ring support. : "),
     Flag("Powercfg.exe -GLOBALPOWERFLAG on -OPTION WAKEONRING", "WAKEONRING", "On",
          "Failed to Turn on wake on ring support. : ")},
    {"promptasstandby", "Enable Pass on Logon",
     Flag("Powercfg.exe -GLOBALPOWERFLAG off -OPTION RESUMEPASSWORD", "RESUMEPASSWORD", "Off",
          "Failed to Turn off Prompt for password on resuming the system. : "),
     Flag("Powercfg.exe -GLOBALPOWERFLAG on -OPTION RESUMEPASSWORD", "RESUMEPASSWORD", "On",
          "Failed to Turn on Prompt for password on resuming the system. : ")},
    {"multib", "Enable Multi Battery Display",
     Flag("Powercfg.exe -GLOBALPOWERFLAG off -OPTION MULTIBATTERY", "MULTIBATTERY", "Off",
          "Failed to Turns off multiple battery display in system Power Meter. : "),
     Flag("Powercfg.exe -GLOBALPOWERFLAG on -OPTION MULTIBATTERY", "MULTIBATTERY", "On",
          "Failed to Turns on multiple battery display in system Power Meter. : ")},
    {"taskb", "Enable Syatem Tray Battery Meter",
     Flag("Powercfg.exe -GLOBALPOWERFLAG off -OPTION BATTERYICON", "BATTERYICON", "Off",
          "Failed to Turn off the battery meter icon in the system tray. : "),
     Flag("Powercfg.exe -GLOBALPOWERFLAG on -OPTION BATTERYICON", "BATTERYICON", "On",
          "Failed to Turn on the battery meter icon in the system tray. : ")},
};

std::string_view Field(const SettingsRun& settings, const char* name) {
  return jobdoc::FindField(name)->read(settings.request);
}

// The request field equals `literal`, ignoring case as the platform does.
bool Is(SettingsRun& settings, const char* field, const char* literal) {
  const std::string value(Field(settings, field));
  return settings.run.platform.system.lstrcmpiA(value.c_str(), literal) == 0;
}

// Why `text` may not go into a command line at `insert`; null when it may.
// A quotation mark or a closing backslash would end the quoted scheme name
// early and a control character split it; a level goes in unquoted, so
// anything but digits could add arguments.
const char* Refusal(Insert insert, std::string_view text) {
  if (insert == Insert::SchemeName) {
    const bool unsafe = std::any_of(text.begin(), text.end(), [](char c) {
      const auto byte = static_cast<unsigned char>(c);
      return c == '"' || byte < 0x20 || byte == 0x7F;
    });
    if (unsafe || (!text.empty() && text.back() == '\\')) {
      return "Refused: a scheme name with a quotation mark or a control character, or ending in "
             "a backslash";
    }
  } else if (insert == Insert::Level) {
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return "Refused: a level must be empty or decimal digits";
    }
  }
  return nullptr;
}

std::string Format(const char* commandLine, std::string_view inserted) {
  std::string line = commandLine;
  const std::size_t at = line.find("%s");
  if (at != std::string::npos) line.replace(at, 2, inserted);
  return line;
}

bool RunOnOff(SettingsRun& settings, const OnOff& row) {
  return RunPowercfgCommand(settings, Is(settings, row.field, "1") ? row.on : row.off);
}

std::string ThrottleCommandLine(const ThrottleSetting& setting, const char* policy) {
  return std::string("Powercfg.exe -Change \"%s\" ") + setting.option + " " + policy;
}

bool ApplyProcessorThrottle(SettingsRun& settings) {
  for (const ThrottleSetting& setting : kThrottleSettings) {
    for (const auto& [value, policy] : kThrottlePolicies) {
      if (!Is(settings, setting.field, value)) continue;
      const std::string line = ThrottleCommandLine(setting, policy);
      const PowercfgCommand command = {line.c_str(),
                                       Insert::SchemeName,
                                       setting.label,
                                       policy,
                                       Before::InfoWord,
                                       After::Word,
                                       FailureStyle::SingleLine,
                                       setting.message,
                                       "Might be Scheme Not Found /Or Does Not Support The Option",
                                       "Kindly check by fireing the command:- Powercfg.exe /LIST"};
      if (!RunPowercfgCommand(settings, command, settings.request.schemename.view())) {
        return false;
      }
    }
  }
  return true;
}

bool ApplyBatteryAlarm(SettingsRun& settings, const BatteryAlarmSettings& alarm) {
  const bool on = Is(settings, alarm.activate.field, "1");
  if (!RunOnOff(settings, alarm.activate)) return false;
  if (!on) return true;
  if (!RequireExactValue(settings.run, settings.rules.module, settings.request, alarm.levelField,
                         alarm.level.label) ||
      !RunPowercfgCommand(settings, alarm.level, Field(settings, alarm.levelField))) {
    return false;
  }
  if (!RunOnOff(settings, alarm.sound) || !RunOnOff(settings, alarm.text)) return false;

  bool actionSet = false;
  if (Is(settings, alarm.actionField, "1")) {
    settings.Log("Info", alarm.actionLabel, "", "Do Nothing");
  }
  const char* const actionValues[] = {"3", "4", "5"};
  for (std::size_t i = 0; i < alarm.actions.size(); ++i) {
    if (!Is(settings, alarm.actionField, actionValues[i])) continue;
    if (!RunPowercfgCommand(settings, alarm.actions[i])) return false;
    actionSet = true;
  }
  if ((actionSet || !alarm.forceOnlyAfterAction) && !RunOnOff(settings, alarm.force)) {
    return false;
  }
  return RunOnOff(settings, alarm.program);
}

bool ApplyGlobalFlags(SettingsRun& settings) {
  for (const GlobalFlagSetting& flag : kGlobalFlags) {
    settings.Log("Info", flag.reportLabel, "", Field(settings, flag.field));
  }
  for (const GlobalFlagSetting& flag : kGlobalFlags) {
    const PowercfgCommand* command = Is(settings, flag.field, "No")    ? &flag.off
                                     : Is(settings, flag.field, "Yes") ? &flag.on
                                                                       : nullptr;
    if (command != nullptr && !RunPowercfgCommand(settings, *command)) return false;
  }
  return true;
}

std::string Hint(const PowercfgCommand& command) {
  return command.hint != nullptr ? command.hint : std::string(kHintPrefix) + command.commandLine;
}

// The message and (Failed, label, might-be, hint); the operation goes on.
bool ReportAndGoOn(SettingsRun& settings, const PowercfgCommand& command) {
  settings.run.buffers.failureMessage.Assign(command.message);
  settings.Log("Failed", command.label, command.mightBe, Hint(command));
  return true;
}

// Error capture; (Failed, label, "Action", word) when `stateLine`; the
// prefix and the error text; (Failed, final label, number, text). The error
// texts are those of the failure, taken before a log line could change the
// thread's last error.
bool ReportSystemError(SettingsRun& settings, const PowercfgCommand& command, std::string_view word,
                       std::string_view prefix, bool stateLine) {
  run::Run& run = settings.run;
  auto& buffers = run.buffers;
  run::CaptureLastError(run);
  if (stateLine) {
    settings.Log("Failed", command.label, command.noActionOnFailure ? "" : "Action", word);
  }
  buffers.failureMessage.Assign(prefix);
  buffers.failureMessage.Append(buffers.errorText.view());
  settings.Log("Failed", command.finalLabel != nullptr ? command.finalLabel : command.label,
               buffers.errorNumberText.view(), buffers.errorText.view());
  return false;
}

}  // namespace

PowercfgCommandLine BuildPowercfgCommandLine(std::string_view commandLine, Insert insert,
                                             std::string_view inserted) {
  PowercfgCommandLine built{Format(std::string(commandLine).c_str(), inserted),
                            Refusal(insert, inserted)};
  if (built.refusal == nullptr && built.line.size() > kMaxCommandLine) {
    built.refusal = "Refused: the command line is longer than 1023 characters";
  }
  return built;
}

std::vector<std::pair<std::string, Insert>> CommandLinesWithInsert() {
  std::vector<std::pair<std::string, Insert>> lines = {{kSetActive.commandLine, kSetActive.insert}};
  for (const ThrottleSetting& setting : kThrottleSettings) {
    for (const auto& [value, policy] : kThrottlePolicies) {
      lines.emplace_back(ThrottleCommandLine(setting, policy), Insert::SchemeName);
    }
  }
  for (const BatteryAlarmSettings* alarm : {&kLowAlarm, &kCriticalAlarm}) {
    lines.emplace_back(alarm->level.commandLine, alarm->level.insert);
  }
  return lines;
}

void SettingsRun::Log(std::string_view type, std::string_view val1, std::string_view val2,
                      std::string_view val3) {
  run.log.Write(rules.module, type, val1, val2, val3);
}

bool ReportInRowStyle(SettingsRun& settings, const PowercfgCommand& command,
                      std::string_view word) {
  auto& buffers = settings.run.buffers;
  switch (command.style) {
    case FailureStyle::Hibernation:
      if (settings.run.context.vistaOrLater) {
        buffers.failureMessage.Assign(kVistaFailureMessage);
        return false;
      }
      return ReportAndGoOn(settings, command);
    case FailureStyle::SingleLine:
      buffers.failureMessage.Assign(command.message);
      settings.Log("Failed", command.label, command.mightBe, Hint(command));
      return false;
    case FailureStyle::FixedText:
      settings.Log("Failed", command.label, command.noActionOnFailure ? "" : "Action", word);
      buffers.failureMessage.Assign(command.message);
      settings.Log("Failed", command.label, command.mightBe, Hint(command));
      return false;
    case FailureStyle::SystemError:
      return ReportSystemError(settings, command, word, command.message, true);
  }
  return false;
}

bool ReportAsSystemError(SettingsRun& settings, const PowercfgCommand& command,
                         std::string_view word) {
  if (command.style == FailureStyle::Hibernation) return ReportAndGoOn(settings, command);
  const std::string_view message = command.message;
  const std::size_t separator = message.find(" : ");
  const std::string_view prefix =
      separator == std::string_view::npos ? message : message.substr(0, separator + 3);
  return ReportSystemError(settings, command, word, prefix, &command != &kSetActive);
}

bool RunPowercfgCommand(SettingsRun& settings, const PowercfgCommand& command,
                        std::string_view inserted) {
  run::Run& run = settings.run;
  const std::string_view word = command.word != nullptr ? command.word : inserted;
  if (command.before != Before::Nothing) {
    settings.Log(command.before == Before::InfoWord ? "Info" : "Success", command.label, "", word);
  }
  const auto [line, refusal] =
      BuildPowercfgCommandLine(command.commandLine, command.insert, inserted);
  if (refusal != nullptr) {
    settings.Log("Failed", command.label, refusal,
                 command.insert == Insert::Nothing ? std::string_view(line) : inserted);
    run.platform.system.SetLastError(port::err::kInvalidParameter);
    return settings.rules.reportFailure(settings, command, word);
  }
  run.buffers.commandBuffer.Clear();
  run.buffers.commandBuffer.Assign(line);
  if (!ExecuteCMD(run, run.buffers.commandBuffer.view())) {
    return settings.rules.reportFailure(settings, command, word);
  }
  settings.Log("Success", command.label, command.after == After::ActionWord ? "Action" : "",
               command.after == After::Empty ? std::string_view() : word);
  return true;
}

bool SwitchHibernation(SettingsRun& settings, bool on) {
  return RunPowercfgCommand(settings, on ? kHibernateOn : kHibernateOff);
}

bool ApplyActiveScheme(SettingsRun& settings) {
  if (!Is(settings, "actpowesch", "1")) {
    settings.Log("Info", settings.rules.notActiveLabel, "", "No");
    return true;
  }
  settings.Log("Info", "Set Active", "", "Yes");
  return RunPowercfgCommand(settings, kSetActive, settings.request.schemename.view());
}

bool ApplyMachineSettings(SettingsRun& settings,
                          const port::SYSTEM_POWER_CAPABILITIES& capabilities) {
  if (capabilities.ProcessorThrottle == 1) {
    settings.Log("Info", "ProcessorThrottle", "", "Present");
    if (!ApplyProcessorThrottle(settings)) return false;
  } else {
    settings.Log("Info", "ProcessorThrottle", "", "Not Present");
  }
  if (capabilities.SystemBatteriesPresent == 1) {
    settings.Log("Info", "System Batteries", "", "Present");
    if (!ApplyBatteryAlarm(settings, kLowAlarm) || !ApplyBatteryAlarm(settings, kCriticalAlarm)) {
      return false;
    }
  } else {
    settings.Log("Info", "System Batteries", "", "Not Present");
  }
  return ApplyGlobalFlags(settings);
}

}  // namespace zrt::power
