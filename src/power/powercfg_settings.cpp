#include "power/powercfg_settings.h"

#include <algorithm>
#include <array>
#include <string>

#include "platform/code_page_text.h"
#include "power/command_runner.h"
#include "power/exact_value.h"

namespace zrt::power {
namespace {

using jobdoc::Field;

// The log and status texts below are the ones the server and stored logs
// hold, slips included ("fireing", "Syatem", "Turns off"): never correct
// them.
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

// Group C: one row per field; the codes "1" to "4" choose the policy word.
constexpr PowercfgCommand Throttle(const char* line, const char* label, const char* word,
                                   const char* message) {
  return {line,
          Insert::SchemeName,
          label,
          word,
          Before::InfoWord,
          After::Word,
          FailureStyle::SingleLine,
          message,
          "Might be Scheme Not Found /Or Does Not Support The Option",
          "Kindly check by fireing the command:- Powercfg.exe /LIST"};
}

constexpr const char* kThrottleAcLabel = "Processor Throttle AC";
constexpr const char* kThrottleDcLabel = "Processor Throttle DC";
constexpr const char* kThrottleAcFailed =
    "Failed to Set Processor Throttle AC : Scheme Not Found /Or Does Not Support The Option";
constexpr const char* kThrottleDcFailed =
    "Failed to Set Processor Throttle DC : Scheme Not Found /Or Does Not Support The Option";

struct ThrottleSetting {
  Field field;
  std::array<PowercfgCommand, 4> commands;  // for "1" to "4"
};
const ThrottleSetting kThrottleSettings[] = {
    {Field::procthrotac,
     {Throttle("Powercfg.exe -Change \"%s\" -processor-throttle-ac NONE", kThrottleAcLabel, "NONE",
               kThrottleAcFailed),
      Throttle("Powercfg.exe -Change \"%s\" -processor-throttle-ac CONSTANT", kThrottleAcLabel,
               "CONSTANT", kThrottleAcFailed),
      Throttle("Powercfg.exe -Change \"%s\" -processor-throttle-ac DEGRADE", kThrottleAcLabel,
               "DEGRADE", kThrottleAcFailed),
      Throttle("Powercfg.exe -Change \"%s\" -processor-throttle-ac ADAPTIVE", kThrottleAcLabel,
               "ADAPTIVE", kThrottleAcFailed)}},
    {Field::procthrotdc,
     {Throttle("Powercfg.exe -Change \"%s\" -processor-throttle-dc NONE", kThrottleDcLabel, "NONE",
               kThrottleDcFailed),
      Throttle("Powercfg.exe -Change \"%s\" -processor-throttle-dc CONSTANT", kThrottleDcLabel,
               "CONSTANT", kThrottleDcFailed),
      Throttle("Powercfg.exe -Change \"%s\" -processor-throttle-dc DEGRADE", kThrottleDcLabel,
               "DEGRADE", kThrottleDcFailed),
      Throttle("Powercfg.exe -Change \"%s\" -processor-throttle-dc ADAPTIVE", kThrottleDcLabel,
               "ADAPTIVE", kThrottleDcFailed)}},
};
const char* const kThrottleCodes[] = {"1", "2", "3", "4"};

// Group D: a field whose "1" chooses `on` and anything else `off`.
struct OnOff {
  Field field;
  PowercfgCommand on;
  PowercfgCommand off;
};

struct BatteryAlarmSettings {
  OnOff activate;  // switched off, the rest of the alarm is left alone
  Field levelField;
  PowercfgCommand level;
  OnOff sound;
  OnOff text;
  Field actionField;
  const char* actionLabel;
  std::array<PowercfgCommand, 3> actions;  // for "3", "4" and "5"
  bool forceOnlyAfterAction;               // the forced action needs an action set
  OnOff force;
  OnOff program;
};

const BatteryAlarmSettings kLowAlarm = {
    {Field::lowbatactivate,
     Fixed("Powercfg.exe -B LOW -activate on", "Low Battery Alarm Active", "On",
           "Failed to Set Low Battery Alarm as Active : System Does Not Support The Option"),
     Fixed("Powercfg.exe -B LOW -activate off", "Low Battery Alarm Active", "off",
           "Failed to Off Low Battery Alarm : System Does Not Support The Option")},
    Field::lowbatlev,
    {"Powercfg.exe -B LOW -level %s", Insert::Level, "Low Battery Level", nullptr,
     Before::SuccessWord, After::Word, FailureStyle::FixedText,
     "Failed to Set Low Battery Level : Check Lowest Level Of Battery /Or Does Not Support The "
     "Option",
     "", "Check Lowest Level Of Battery /Or Does Not Support The Option", true},
    {Field::lowbatsound,
     Fixed("Powercfg.exe -B LOW -sound on", "Low Battery Sound Alarm", "On",
           "Failed to On Low Battery Sound Alarm : System Does Not Support The Option"),
     Fixed("Powercfg.exe -B LOW -sound off", "Low Battery Sound Alarm", "off",
           "Failed to Off Low Battery Sound Alarm : System Does Not Support The Option")},
    {Field::lowbatmsg,
     Fixed("Powercfg.exe -B LOW -text on", "Low Battery Display Message", "On",
           "Failed to On Low Battery Display Message : System Does Not Support The Option"),
     Fixed("Powercfg.exe -B LOW -text off", "Low Battery Display Message", "off",
           "Failed to Off Low Battery Display Message : System Does Not Support The Option",
           Before::Nothing, true)},
    Field::lowbataction,
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
    {Field::lowbatforce,
     Fixed("Powercfg.exe -B LOW -forceaction on", "Low Battery force Action", "On",
           "Failed to On Low Battery force Action : System Does Not Support The Option"),
     Fixed("Powercfg.exe -B LOW -forceaction off", "Low Battery force Action", "off",
           "Failed to Off Low Battery force Action : System Does Not Support The Option")},
    {Field::lowbatrunprog,
     Fixed("Powercfg.exe -B LOW -program on", "Low Battery active Run Program", "On",
           "Failed to set Low Battery Run Program as Active : System Does Not Support The Option"),
     Fixed("Powercfg.exe -B LOW -program off", "Low Battery active Run Program", "off",
           "Failed to off Low Battery Run Program : System Does Not Support The Option")},
};

const BatteryAlarmSettings kCriticalAlarm = {
    {Field::critbatactivate,
     Fixed("Powercfg.exe -B CRITICAL -activate on", "CRITICAL Battery Alarm Active", "On",
           "Failed to On CRITICAL Battery Alarm : System Does Not Support The Option"),
     Fixed("Powercfg.exe -B CRITICAL -activate off", "CRITICAL Battery Alarm Active", "off",
           "Failed to Off CRITICAL Battery Alarm : System Does Not Support The Option")},
    Field::critbatlevel,
    {"Powercfg.exe -B CRITICAL -level %s", Insert::Level, "CRITICAL Battery Level", nullptr,
     Before::SuccessWord, After::Empty, FailureStyle::FixedText,
     "Failed to Set CRITICAL Battery Level : Check The Level Value /Or System Does Not Support "
     "The Option",
     kNoSupport, "Kindly check by fireing the command:- Powercfg.exe -B CRITICAL -level <value>"},
    {Field::critbatsound,
     System("Powercfg.exe -B CRITICAL -sound on", "CRITICAL Battery Sound Alarm", "On",
            "Failed to On CRITICAL Battery Sound Alarm : "),
     System("Powercfg.exe -B CRITICAL -sound off", "CRITICAL Battery Sound Alarm", "off",
            "Failed to Off CRITICAL Battery Sound Alarm : ", Before::Nothing, true)},
    {Field::critbatmsg,
     System("Powercfg.exe -B CRITICAL -text on", "CRITICAL Battery Display Message", "On",
            "Failed to On CRITICAL Battery Display Message : "),
     System("Powercfg.exe -B CRITICAL -text off", "CRITICAL Battery Display Message", "off",
            "Failed to Off CRITICAL Battery Display Message : ")},
    Field::critbataction,
    "CRITICAL Battery Alarm Action",
    {System("Powercfg.exe -B CRITICAL -action standby", "CRITICAL Battery Alarm Action", "Standby",
            "Failed to Set CRITICAL Battery Alarm Action : ", Before::InfoWord),
     System("Powercfg.exe -B CRITICAL -action hibernate", "CRITICAL Battery Alarm Action",
            "Hibernate", "Failed to Set CRITICAL Battery Alarm Action : ", Before::InfoWord),
     System("Powercfg.exe -B CRITICAL -action shutdown", "CRITICAL Battery Alarm Action",
            "Shut down", "Failed to Set CRITICAL Battery Alarm Action : ", Before::InfoWord)},
    false,
    {Field::critbatforce,
     System("Powercfg.exe -B CRITICAL -forceaction on", "CRITICAL Battery force Action", "On",
            "Failed to On CRITICAL Battery Force Action : ", Before::Nothing, false,
            "CRITICAL Battery Force Action"),
     System("Powercfg.exe -B CRITICAL -forceaction off", "CRITICAL Battery force Action", "off",
            "Failed to Off CRITICAL Battery Force Action : ", Before::Nothing, false,
            "CRITICAL Battery Force Action")},
    {Field::critbatrunprog,
     System("Powercfg.exe -B CRITICAL -program on", "CRITICAL Battery active Run Program", "On",
            "Failed to On CRITICAL Battery Run Program : "),
     System("Powercfg.exe -B CRITICAL -program off", "CRITICAL Battery active Run Program", "off",
            "Failed to Off CRITICAL Battery Run Program : ")},
};

// Group E: "No" switches a flag off, "Yes" on, anything else leaves it.
struct GlobalFlagSetting {
  Field field;
  const char* reportLabel;
  PowercfgCommand off;
  PowercfgCommand on;
};

constexpr PowercfgCommand Flag(const char* line, const char* option, const char* word,
                               const char* prefix) {
  return System(line, option, word, prefix, Before::Nothing, false, nullptr, After::ActionWord);
}

const GlobalFlagSetting kGlobalFlags[] = {
    {Field::dimvideo, "Video Dim Display",
     Flag("Powercfg.exe -GLOBALPOWERFLAG off -OPTION VIDEODIM", "VIDEODIM", "Off",
          "Failed to Turn off support for dimming video display on battery power : "),
     Flag("Powercfg.exe -GLOBALPOWERFLAG on -OPTION VIDEODIM", "VIDEODIM", "On",
          "Failed to Turn on support for dimming video display on battery power : ")},
    {Field::ring, "Enable Wake On Ring",
     Flag("Powercfg.exe -GLOBALPOWERFLAG off -OPTION WAKEONRING", "WAKEONRING", "Off",
          "Failed to Turn off wake on ring support. : "),
     Flag("Powercfg.exe -GLOBALPOWERFLAG on -OPTION WAKEONRING", "WAKEONRING", "On",
          "Failed to Turn on wake on ring support. : ")},
    {Field::promptasstandby, "Enable Pass on Logon",
     Flag("Powercfg.exe -GLOBALPOWERFLAG off -OPTION RESUMEPASSWORD", "RESUMEPASSWORD", "Off",
          "Failed to Turn off Prompt for password on resuming the system. : "),
     Flag("Powercfg.exe -GLOBALPOWERFLAG on -OPTION RESUMEPASSWORD", "RESUMEPASSWORD", "On",
          "Failed to Turn on Prompt for password on resuming the system. : ")},
    {Field::multib, "Enable Multi Battery Display",
     Flag("Powercfg.exe -GLOBALPOWERFLAG off -OPTION MULTIBATTERY", "MULTIBATTERY", "Off",
          "Failed to Turns off multiple battery display in system Power Meter. : "),
     Flag("Powercfg.exe -GLOBALPOWERFLAG on -OPTION MULTIBATTERY", "MULTIBATTERY", "On",
          "Failed to Turns on multiple battery display in system Power Meter. : ")},
    {Field::taskb, "Enable Syatem Tray Battery Meter",
     Flag("Powercfg.exe -GLOBALPOWERFLAG off -OPTION BATTERYICON", "BATTERYICON", "Off",
          "Failed to Turn off the battery meter icon in the system tray. : "),
     Flag("Powercfg.exe -GLOBALPOWERFLAG on -OPTION BATTERYICON", "BATTERYICON", "On",
          "Failed to Turn on the battery meter icon in the system tray. : ")},
};

// Why `text` may not go into a command line at `insert`; null when it may.
// A quotation mark or a closing backslash would end the quoted scheme name
// early and a control character split it; a level goes in unquoted, so
// anything but digits could add arguments. None of these bytes is ever the
// trail byte of a double-byte character except the backslash, so only the
// closing backslash asks where the last character begins.
const char* Refusal(Insert insert, std::string_view text, const LeadByteTest& isLeadByte) {
  if (insert == Insert::SchemeName) {
    const bool unsafe = std::any_of(text.begin(), text.end(), [](char c) {
      const auto byte = static_cast<unsigned char>(c);
      return c == '"' || byte < 0x20 || byte == 0x7F;
    });
    if (unsafe || EndsWithCharacter(text, '\\', isLeadByte)) {
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

// One walk of groups C, D and E over a request.
class Walk {
 public:
  Walk(port::System& system, const jobdoc::PowerRequest& request, SettingsVisitor& visitor)
      : system_(system), request_(request), visitor_(visitor) {}

  bool Groups(const port::SYSTEM_POWER_CAPABILITIES& capabilities) {
    if (capabilities.ProcessorThrottle == 1) {
      visitor_.Line("Info", "ProcessorThrottle", "", "Present");
      capability_ = "ProcessorThrottle";
      if (!ProcessorThrottle()) return false;
    } else {
      visitor_.Line("Info", "ProcessorThrottle", "", "Not Present");
    }
    if (capabilities.SystemBatteriesPresent == 1) {
      visitor_.Line("Info", "System Batteries", "", "Present");
      capability_ = "SystemBatteriesPresent";
      if (!BatteryAlarm(kLowAlarm) || !BatteryAlarm(kCriticalAlarm)) return false;
    } else {
      visitor_.Line("Info", "System Batteries", "", "Not Present");
    }
    capability_ = nullptr;
    return GlobalFlags();
  }

 private:
  std::string_view Value(Field field) const { return request_.Read(field); }

  bool Is(Field field, const char* literal) const {
    return ValueIs(system_, Value(field), literal);
  }

  bool Row(Field field, ValueTest test, const char* accepts, bool matched,
           const PowercfgCommand* command, std::string_view inserted = {}) {
    return visitor_.Row({field, Value(field), test, accepts, matched, command, inserted,
                         test == ValueTest::Inserted, capability_});
  }

  bool OnOffRow(const OnOff& row) {
    const bool on = Is(row.field, "1");
    return Row(row.field, ValueTest::One, "1", on, on ? &row.on : &row.off);
  }

  // The command of the first code the field equals; null when none.
  template <std::size_t N>
  const PowercfgCommand* ByCode(Field field, const char* const (&codes)[N],
                                const PowercfgCommand* commands) const {
    for (std::size_t i = 0; i < N; ++i) {
      if (Is(field, codes[i])) return &commands[i];
    }
    return nullptr;
  }

  bool ProcessorThrottle() {
    for (const ThrottleSetting& setting : kThrottleSettings) {
      const PowercfgCommand* command =
          ByCode(setting.field, kThrottleCodes, setting.commands.data());
      if (!Row(setting.field, ValueTest::Codes, "1 to 4", command != nullptr, command,
               request_.schemename.view())) {
        return false;
      }
    }
    return true;
  }

  bool BatteryAlarm(const BatteryAlarmSettings& alarm) {
    const bool on = Is(alarm.activate.field, "1");
    if (!OnOffRow(alarm.activate)) return false;
    if (!on) {
      for (const Field field : {alarm.levelField, alarm.sound.field, alarm.text.field,
                                alarm.actionField, alarm.force.field, alarm.program.field}) {
        visitor_.Passed(field, PassedBecause::AlarmOff, alarm.activate.field);
      }
      return true;
    }
    if (!Row(alarm.levelField, ValueTest::Inserted, nullptr, true, &alarm.level,
             Value(alarm.levelField)) ||
        !OnOffRow(alarm.sound) || !OnOffRow(alarm.text)) {
      return false;
    }

    static const char* const kActionCodes[] = {"3", "4", "5"};
    const bool doNothing = Is(alarm.actionField, "1");
    if (doNothing) visitor_.Line("Info", alarm.actionLabel, "", "Do Nothing");
    const PowercfgCommand* action = ByCode(alarm.actionField, kActionCodes, alarm.actions.data());
    if (!Row(alarm.actionField, ValueTest::Codes, "1, 3, 4 or 5", doNothing || action != nullptr,
             action)) {
      return false;
    }
    if (action != nullptr || !alarm.forceOnlyAfterAction) {
      if (!OnOffRow(alarm.force)) return false;
    } else {
      visitor_.Passed(alarm.force.field, PassedBecause::NoAction, alarm.actionField);
    }
    return OnOffRow(alarm.program);
  }

  bool GlobalFlags() {
    for (const GlobalFlagSetting& flag : kGlobalFlags) {
      visitor_.Line("Info", flag.reportLabel, "", Value(flag.field));
    }
    for (const GlobalFlagSetting& flag : kGlobalFlags) {
      const PowercfgCommand* command = Is(flag.field, "No")    ? &flag.off
                                       : Is(flag.field, "Yes") ? &flag.on
                                                               : nullptr;
      if (!Row(flag.field, ValueTest::YesNo, "Yes or No", command != nullptr, command)) {
        return false;
      }
    }
    return true;
  }

  port::System& system_;
  const jobdoc::PowerRequest& request_;
  SettingsVisitor& visitor_;
  const char* capability_ = nullptr;
};

// False, with the failure reported, when the row's value must reach its
// field whole and does not. The report names the element that holds it.
bool ReachesItsField(SettingsRun& settings, const SettingChoice& choice) {
  return !choice.mustBeWhole ||
         RequireExactValue(
             settings.run, settings.rules.module, settings.request, choice.field,
             std::string(choice.command->label) + " (" + jobdoc::FieldOf(choice.field).name + ")");
}

// The walk as an operation applies it: lines logged, commands run.
class Applying : public SettingsVisitor {
 public:
  explicit Applying(SettingsRun& settings) : settings_(settings) {}

  void Line(std::string_view type, std::string_view label, std::string_view val2,
            std::string_view word) override {
    settings_.Log(type, label, val2, word);
  }
  bool Row(const SettingChoice& choice) override {
    if (choice.command == nullptr) return true;
    if (!ReachesItsField(settings_, choice)) return false;
    return RunPowercfgCommand(settings_, *choice.command, choice.inserted, choice.field);
  }

 private:
  SettingsRun& settings_;
};

// (Failed, element, value, refusal) and the message that the job document's
// value is wrong, naming the element that holds it and the setting that
// would take it. Always false.
bool ReportRefusal(SettingsRun& settings, const PowercfgCommand& command, jobdoc::Field from,
                   std::string_view inserted, const BuiltCommand& built) {
  // A scheme name always comes from its own element, whichever setting takes it.
  const char* element =
      jobdoc::FieldOf(command.insert == Insert::SchemeName ? Field::schemename : from).name;
  settings.Log("Failed", element,
               command.insert == Insert::Nothing ? std::string_view(built.line) : inserted,
               built.refusal);
  std::string_view why = built.refusal;
  if (const std::size_t colon = why.find(": "); colon != std::string_view::npos) {
    why.remove_prefix(colon + 2);
  }
  auto& message = settings.run.buffers.failureMessage;
  message.Assign("The job document's value of ");
  message.Append(element);
  message.Append(" is refused for ");
  message.Append(command.label);
  message.Append(": ");
  message.Append(why);
  message.Append(".");
  return false;
}

// The walk as the check before the first change makes it: every command the
// request selects on this machine is built, nothing is logged or run until
// one is refused.
class Refusing : public SettingsVisitor {
 public:
  explicit Refusing(SettingsRun& settings) : settings_(settings) {}

  bool Row(const SettingChoice& choice) override {
    if (choice.command == nullptr) return true;
    if (!ReachesItsField(settings_, choice)) return false;
    const BuiltCommand built = BuildPowercfgCommand(*choice.command, choice.inserted,
                                                    LeadBytesOf(settings_.run.platform.system));
    return built.refusal == nullptr ||
           ReportRefusal(settings_, *choice.command, choice.field, choice.inserted, built);
  }

 private:
  SettingsRun& settings_;
};

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
// prefix and the error text; (Failed, final label, number, text). A command
// that ran and failed set no error: its exit code takes the place of the
// error text.
bool ReportSystemError(SettingsRun& settings, const PowercfgCommand& command, std::string_view word,
                       std::string_view prefix, bool stateLine) {
  const run::CapturedError error(settings.run);
  if (settings.exitCode) {
    settings.run.buffers.errorText.Clear();
    settings.run.buffers.errorText.Assign("Powercfg.exe ended with exit code " +
                                          std::to_string(*settings.exitCode) + ".");
  }
  if (stateLine) {
    settings.Log("Failed", command.label, command.noActionOnFailure ? "" : "Action", word);
  }
  error.Fail(prefix);
  error.Log(settings.rules.module, "Failed",
            command.finalLabel != nullptr ? command.finalLabel : command.label);
  return false;
}

}  // namespace

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

BuiltCommand BuildPowercfgCommand(const PowercfgCommand& command, std::string_view inserted,
                                  const LeadByteTest& isLeadByte) {
  BuiltCommand built{command.commandLine, Refusal(command.insert, inserted, isLeadByte)};
  const std::size_t at = built.line.find("%s");
  if (at != std::string::npos) built.line.replace(at, 2, inserted);
  if (built.refusal == nullptr && built.line.size() > kMaxCommandLine) {
    built.refusal =
        "Refused: the command line is longer than 1023 bytes in this machine's code page";
  }
  return built;
}

std::vector<const PowercfgCommand*> CommandsWithInsert() {
  std::vector<const PowercfgCommand*> commands = {&kSetActive};
  for (const ThrottleSetting& setting : kThrottleSettings) {
    for (const PowercfgCommand& command : setting.commands) commands.push_back(&command);
  }
  for (const BatteryAlarmSettings* alarm : {&kLowAlarm, &kCriticalAlarm}) {
    commands.push_back(&alarm->level);
  }
  return commands;
}

const PowercfgCommand& HibernationCommand(bool on) { return on ? kHibernateOn : kHibernateOff; }

bool ActiveSchemeAsked(port::System& system, const jobdoc::PowerRequest& request) {
  return ValueIs(system, request.actpowesch.view(), "1");
}

const PowercfgCommand& SetActiveCommand() { return kSetActive; }

bool WalkMachineSettings(port::System& system, const jobdoc::PowerRequest& request,
                         const port::SYSTEM_POWER_CAPABILITIES& capabilities,
                         SettingsVisitor& visitor) {
  return Walk(system, request, visitor).Groups(capabilities);
}

bool WalkEveryMachineSetting(port::System& system, const jobdoc::PowerRequest& request,
                             SettingsVisitor& visitor) {
  port::SYSTEM_POWER_CAPABILITIES everything = {};
  everything.ProcessorThrottle = 1;
  everything.SystemBatteriesPresent = 1;
  return WalkMachineSettings(system, request, everything, visitor);
}

bool RunPowercfgCommand(SettingsRun& settings, const PowercfgCommand& command,
                        std::string_view inserted, jobdoc::Field from) {
  run::Run& run = settings.run;
  const std::string_view word = command.word != nullptr ? command.word : inserted;
  if (command.before != Before::Nothing) {
    settings.Log(command.before == Before::InfoWord ? "Info" : "Success", command.label, "", word);
  }
  settings.exitCode.reset();
  const BuiltCommand built =
      BuildPowercfgCommand(command, inserted, LeadBytesOf(run.platform.system));
  if (built.refusal != nullptr) return ReportRefusal(settings, command, from, inserted, built);
  run.buffers.commandBuffer.Clear();
  run.buffers.commandBuffer.Assign(built.line);
  if (!ExecuteCMD(run, run.buffers.commandBuffer.view(), settings.exitCode)) {
    return settings.rules.reportFailure(settings, command, word);
  }
  settings.Log("Success", command.label, command.after == After::ActionWord ? "Action" : "",
               command.after == After::Empty ? std::string_view() : word);
  return true;
}

bool SwitchHibernation(SettingsRun& settings, bool on) {
  return RunPowercfgCommand(settings, HibernationCommand(on));
}

bool ApplyActiveScheme(SettingsRun& settings) {
  if (!ActiveSchemeAsked(settings.run.platform.system, settings.request)) {
    settings.Log("Info", settings.rules.notActiveLabel, "", "No");
    return true;
  }
  settings.Log("Info", "Set Active", "", "Yes");
  return RunPowercfgCommand(settings, kSetActive, settings.request.schemename.view());
}

bool RefuseCommandsBeforeChanges(SettingsRun& settings,
                                 const port::SYSTEM_POWER_CAPABILITIES& capabilities) {
  const std::string_view name = settings.request.schemename.view();
  if (ActiveSchemeAsked(settings.run.platform.system, settings.request)) {
    const BuiltCommand built =
        BuildPowercfgCommand(kSetActive, name, LeadBytesOf(settings.run.platform.system));
    if (built.refusal != nullptr) {
      return ReportRefusal(settings, kSetActive, Field::schemename, name, built);
    }
  }
  Refusing refusing(settings);
  return WalkMachineSettings(settings.run.platform.system, settings.request, capabilities,
                             refusing);
}

bool ApplyMachineSettings(SettingsRun& settings,
                          const port::SYSTEM_POWER_CAPABILITIES& capabilities) {
  Applying applying(settings);
  return WalkMachineSettings(settings.run.platform.system, settings.request, capabilities,
                             applying);
}

}  // namespace zrt::power
