// What zrt-check may know of the power operations: how a request's values
// are tested, the tables they select from, the commands they build and the
// walk over a scheme's settings in the order the operations apply them. The
// operations themselves (running, logging, reporting) stay behind it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jobdoc/power_request.h"
#include "platform/port/power_policy.h"
#include "platform/port/system.h"

namespace zrt::power {

// The two operations' rules (operation_rules.h), to choose between.
struct OperationRules;
extern const OperationRules kCreationRules;
extern const OperationRules kModificationRules;

// Whether the request's `overwriteifexst` is "1": creation then hands an
// existing scheme to modification, and modification changes an existing
// scheme or hands a missing one to creation.
bool OverwriteAsked(port::System& system, const jobdoc::PowerRequest& request);

// Whether a request value equals `literal`, ignoring case as the platform
// does: how every word and number of a request is matched.
bool ValueIs(port::System& system, std::string_view value, const char* literal);

// Why `field` of `request` does not hold its element's text exactly, naming
// the value by `label` ("scheme name"); empty when it does.
std::string ValueFitProblem(const jobdoc::PowerRequest& request, jobdoc::Field field,
                            std::string_view label);

// Why a new scheme may not be named `name`: it is empty or only blanks, a
// scheme nobody could name again. Null when it may.
const char* NewSchemeNameProblem(std::string_view name);

enum class FailureStyle {
  // (Failed, label, "Action", word); the message; (Failed, label, might-be,
  // hint); the operation ends.
  FixedText,
  // Error capture; (Failed, label, "Action", word); the message prefix and
  // the error text; (Failed, final label, number, text); the operation ends.
  SystemError,
  // The message; (Failed, label, might-be, hint); the operation ends.
  SingleLine,
  // From Windows Vista on the Vista text ends the operation without a line;
  // before, the message and (Failed, label, might-be, hint), and it goes on.
  Hibernation,
};

// What "%s" in a command line stands for.
enum class Insert { Nothing, SchemeName, Level };

// The line logged before the command: none, (Info, label, "", word) or
// (Success, label, "", word).
enum class Before { Nothing, InfoWord, SuccessWord };

// The line logged after success: (Success, label, "", word), (Success,
// label, "Action", word) or (Success, label, "", "").
enum class After { Word, ActionWord, Empty };

struct PowercfgCommand {
  const char* commandLine;
  Insert insert;
  const char* label;
  const char* word;  // the state word; null: the inserted level
  Before before;
  After after;
  FailureStyle style;
  const char* message;  // the whole message, or the prefix the error text follows
  const char* mightBe;
  const char* hint;                  // null: the hint names the command line itself
  bool noActionOnFailure = false;    // the first failure line has "" for "Action"
  const char* finalLabel = nullptr;  // the last failure line's label, when not `label`
};

// A time-out text as the platform's strtol reads it in base 10 into a
// 32-bit long (leading white space, one sign, digits up to the first other
// character; no digits give 0, values beyond the range the nearest limit),
// stored bit for bit: "-1" gives 0xFFFFFFFF.
std::uint32_t TimeoutValue(std::string_view text);

// When a time-out is set: always, only where standby is allowed, or with
// the hibernation step.
enum class TimeoutGroup { DiskAndMonitor, Standby, Hibernation };

// One time-out of the scheme policy, set from a request field.
struct TimeoutSetting {
  jobdoc::Field field;
  const char* label;  // (Info, label, "", the field's text)
  TimeoutGroup group;
  port::ULONG& (*slot)(port::POWER_POLICY& policy);
};

// Every time-out, in the order the steps set them.
const std::array<TimeoutSetting, 8>& TimeoutSettings();

// A button code's entry in the global policy and its log words.
struct ButtonAction {
  const char* code;
  port::POWER_ACTION_POLICY policy;
  const char* powerButtonWord;  // creation's words for the power button
  const char* word;
};

// The action a button code ("1" to "5") selects; null for any other text.
const ButtonAction* ButtonActionFor(port::System& system, std::string_view code);

// A button (or the lid) of the global policy, set from a request field when
// the capability is present.
struct ButtonSetting {
  const char* capability;
  port::BOOLEAN port::SYSTEM_POWER_CAPABILITIES::*present;
  jobdoc::Field field;
  const char* label;
  port::POWER_ACTION_POLICY port::GLOBAL_USER_POWER_POLICY::*ac;
  port::POWER_ACTION_POLICY port::GLOBAL_USER_POWER_POLICY::*dc;
  bool isPowerButton;
};

const std::array<ButtonSetting, 3>& ButtonSettings();

// What the hibernation step does for the platform's answer and `hibsupp`.
struct HibernationPlan {
  bool applies;  // hibsupp is "0" or "1" and the rules act on the answer
  bool allowed;  // hibernation is allowed now
  bool wanted;   // hibsupp is "1"
  // Powercfg.exe switches hibernation when allowed and wanted differ.
  bool Switches() const { return applies && allowed != wanted; }
};

HibernationPlan PlanHibernation(port::System& system, std::string_view hibsupp,
                                port::BOOLEAN answer, const OperationRules& rules);

// The word `button`'s `action` is logged with under `rules`.
const char* ButtonWord(const OperationRules& rules, const ButtonSetting& button,
                       const ButtonAction& action);

// A command line with its "%s" filled in, and why it may not run.
struct BuiltCommand {
  std::string line;
  const char* refusal;  // null when the line may run
};

// Formats `command` with `inserted` for "%s". A scheme name or level that
// could change the arguments Powercfg.exe sees is refused, and so is a line
// longer than the command buffer. `isLeadByte` tells the machine's
// double-byte characters, whose trail byte may be 0x5C.
BuiltCommand BuildPowercfgCommand(const PowercfgCommand& command, std::string_view inserted,
                                  const LeadByteTest& isLeadByte);

// Every command of the table that takes a scheme name or a level.
std::vector<const PowercfgCommand*> CommandsWithInsert();

// Group A: the command that switches hibernation on or off.
const PowercfgCommand& HibernationCommand(bool on);

// Group B: whether the request asks for its scheme to become the active one,
// and the command that makes it so (the scheme name goes into "%s").
bool ActiveSchemeAsked(port::System& system, const jobdoc::PowerRequest& request);
const PowercfgCommand& SetActiveCommand();

// How a row of groups C, D and E tests its field's value.
enum class ValueTest {
  One,       // "1" selects the on command, anything else the off command
  YesNo,     // "Yes" the on command, "No" the off command, anything else none
  Codes,     // each of the row's codes selects its command, anything else none
  Inserted,  // not tested: the text goes into the command line
};

// What a request selects in one row of groups C, D and E.
struct SettingChoice {
  jobdoc::Field field;     // the request field the row tests
  std::string_view value;  // its text
  ValueTest test;
  const char* accepts;             // the values the test knows, for a reader
  bool matched;                    // the value is one the test knows
  const PowercfgCommand* command;  // what runs; null when the value selects nothing
  std::string_view inserted;       // what "%s" stands for
  bool mustBeWhole;                // the inserted text must have reached its field whole
  const char* capability;          // the capability the row's group needs
};

// Why the walk passes over a field without testing it.
enum class PassedBecause {
  AlarmOff,  // its battery alarm is switched off
  NoAction,  // the low-battery forced action follows only an action command
};

// Receives groups C, D and E as a request meets them, in the order they are
// applied.
class SettingsVisitor {
 public:
  virtual ~SettingsVisitor() = default;
  // A line logged without a command: (type, label, val2, word).
  virtual void Line(std::string_view /*type*/, std::string_view /*label*/,
                    std::string_view /*val2*/, std::string_view /*word*/) {}
  // One row; runs its command, if any. False ends the walk.
  virtual bool Row(const SettingChoice& choice) = 0;
  // A field the walk passes over; `decidingField` is the field that decided so.
  virtual void Passed(jobdoc::Field /*field*/, PassedBecause /*because*/,
                      jobdoc::Field /*decidingField*/) {}
};

// Walks groups C, D and E for `request`, each group only when its
// capability is present (exactly 1). True when every row it met returned
// true.
bool WalkMachineSettings(port::System& system, const jobdoc::PowerRequest& request,
                         const port::SYSTEM_POWER_CAPABILITIES& capabilities,
                         SettingsVisitor& visitor);

// Groups C, D and E as if every capability were present: all a request
// selects on some machine, for a reader who does not know the machine.
bool WalkEveryMachineSetting(port::System& system, const jobdoc::PowerRequest& request,
                             SettingsVisitor& visitor);

// What writing a scheme does, step by step, in the order the steps are
// taken: WriteScheme takes them and zrt-check tells them through
// TakeSchemeSteps, so the two cannot drift apart. The buttons follow the
// capabilities read after the scheme is written, groups C, D and E those
// read again at the end.
enum class SchemeStep {
  DiskAndMonitorTimeouts,
  Standby,
  Hibernation,
  WriteScheme,
  ButtonActions,
  WriteGlobalPolicy,
  ActiveScheme,
  MachineSettings
};

// Calls `take` for each step in order while it returns true; true when all did.
template <typename Take>
bool TakeSchemeSteps(Take&& take) {
  for (int step = 0; step <= static_cast<int>(SchemeStep::MachineSettings); ++step) {
    if (!take(static_cast<SchemeStep>(step))) return false;
  }
  return true;
}

}  // namespace zrt::power
