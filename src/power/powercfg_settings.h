// The settings applied by running Powercfg.exe as the logged-on user:
// hibernation (group A), the active scheme (B), processor throttling (C),
// the low and the critical battery alarm (D) and the five global power flags
// (E). Each command is a row of a table: its command line, the request field
// and value that choose it, its log lines and its failure report. Creation
// reports failures in each row's own style, modification all but the
// hibernation switch in the system-error style (OperationRules).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jobdoc/power_request.h"
#include "platform/port/power_policy.h"
#include "platform/port/system.h"
#include "power/operation_rules.h"
#include "run/run.h"

namespace zrt::power {

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

// Reports a failure in the command's own style.
bool ReportInRowStyle(SettingsRun& settings, const PowercfgCommand& command, std::string_view word);

// Reports a failure in the system-error style, the prefix being the row's
// message up to its " : "; the set-active command has no state line. A
// failed hibernation switch logs its might-be text and hint and the
// operation goes on, on every Windows version.
bool ReportAsSystemError(SettingsRun& settings, const PowercfgCommand& command,
                         std::string_view word);

// A command line with its "%s" filled in, and why it may not run.
struct BuiltCommand {
  std::string line;
  const char* refusal;  // null when the line may run
};

// Formats `command` with `inserted` for "%s". A scheme name or level that
// could change the arguments Powercfg.exe sees is refused, and so is a line
// longer than the command buffer.
BuiltCommand BuildPowercfgCommand(const PowercfgCommand& command, std::string_view inserted);

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
  virtual void Line(std::string_view type, std::string_view label, std::string_view val2,
                    std::string_view word) = 0;
  // One row; runs its command, if any. False ends the walk.
  virtual bool Row(const SettingChoice& choice) = 0;
  // A field the walk passes over; `decidingField` is the field that decided so.
  virtual void Passed(jobdoc::Field field, PassedBecause because, jobdoc::Field decidingField) = 0;
};

// Walks groups C, D and E for `request`, each group only when its
// capability is present (exactly 1). True when every row it met returned
// true.
bool WalkMachineSettings(port::System& system, const jobdoc::PowerRequest& request,
                         const port::SYSTEM_POWER_CAPABILITIES& capabilities,
                         SettingsVisitor& visitor);

// Group A: switches hibernation on or off. True when the operation goes on.
bool SwitchHibernation(SettingsRun& settings, bool on);

// Group B: makes the request's scheme the active one when it asks for it.
bool ApplyActiveScheme(SettingsRun& settings);

// Groups C, D and E, gated by the capabilities read just before. True when
// every command that ran succeeded.
bool ApplyMachineSettings(SettingsRun& settings,
                          const port::SYSTEM_POWER_CAPABILITIES& capabilities);

// Decides, before the operation changes anything, whether a command the
// request asks for would be refused: the set-active command and groups C,
// D and E, walked as if every capability were present (the machine's are
// read only after the scheme is written). The first refusal is logged and
// reported as RunPowercfgCommand reports it. True when none is refused.
bool RefuseCommandsBeforeChanges(SettingsRun& settings);

// Runs one command of the table with `inserted` for "%s", unless
// BuildPowercfgCommand refuses it: a refusal is logged and reported like a
// failed command.
bool RunPowercfgCommand(SettingsRun& settings, const PowercfgCommand& command,
                        std::string_view inserted = {});

}  // namespace zrt::power
