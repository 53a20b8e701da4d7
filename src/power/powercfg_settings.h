// The settings applied by running Powercfg.exe as the logged-on user:
// hibernation (group A), the active scheme (B), processor throttling (C),
// the low and the critical battery alarm (D) and the five global power flags
// (E). Each command is a row of a table: its command line, the request field
// and value that choose it, its log lines and its failure report. Creation
// reports failures in each row's own style, modification all but the
// hibernation switch in the system-error style (OperationRules).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "jobdoc/power_request.h"
#include "platform/port/power_policy.h"
#include "run/run.h"

namespace zrt::power {

// The failure message that replaces some failures' own from Windows Vista on.
inline constexpr const char* kVistaFailureMessage =
    "Os Type is Windows Vista/Windows 2008/Windows 7";

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

struct OperationRules;

// One operation applying the settings of one request, by its rules.
struct SettingsRun {
  run::Run& run;
  const jobdoc::PowerRequest& request;
  const OperationRules& rules;

  void Log(std::string_view type, std::string_view val1, std::string_view val2,
           std::string_view val3);
};

// Reports a failed command; true when the operation goes on.
using FailureReport = bool (*)(SettingsRun& settings, const PowercfgCommand& command,
                               std::string_view word);

// Reports a failure in the command's own style.
bool ReportInRowStyle(SettingsRun& settings, const PowercfgCommand& command, std::string_view word);

// Reports a failure in the system-error style, the prefix being the row's
// message up to its " : "; the set-active command has no state line. A
// failed hibernation switch logs its might-be text and hint and the
// operation goes on, on every Windows version.
bool ReportAsSystemError(SettingsRun& settings, const PowercfgCommand& command,
                         std::string_view word);

// Group A: switches hibernation on or off. True when the operation goes on.
bool SwitchHibernation(SettingsRun& settings, bool on);

// Group B: makes the request's scheme the active one when it asks for it.
bool ApplyActiveScheme(SettingsRun& settings);

// Groups C, D and E, gated by the capabilities read just before. True when
// every command that ran succeeded.
bool ApplyMachineSettings(SettingsRun& settings,
                          const port::SYSTEM_POWER_CAPABILITIES& capabilities);

// A command line of the table with its "%s" filled in, or why it may not run:
// the scheme name or level could change the arguments Powercfg.exe sees, or
// the line is longer than the command buffer.
struct PowercfgCommandLine {
  std::string line;
  const char* refusal;  // null: the line may run
};
PowercfgCommandLine BuildPowercfgCommandLine(std::string_view commandLine, Insert insert,
                                             std::string_view inserted);

// Every command line of the table that takes a scheme name or a level, with
// what it takes.
std::vector<std::pair<std::string, Insert>> CommandLinesWithInsert();

// Runs one command of the table with `inserted` for "%s". The scheme name or
// level is refused, and the command not run, when it could change the
// arguments Powercfg.exe sees; so is a command line longer than the command
// buffer. A refusal is logged and reported like a failed command.
bool RunPowercfgCommand(SettingsRun& settings, const PowercfgCommand& command,
                        std::string_view inserted = {});

}  // namespace zrt::power
