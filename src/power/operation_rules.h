// How scheme creation and scheme modification differ in the steps they
// share, and one of them at work on a request (SettingsRun). Everything else
// about those steps is common code; the two rule sets stand side by side in
// operation_rules.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "jobdoc/power_request.h"
#include "power/settings_walk.h"
#include "run/run.h"

namespace zrt::power {

// The failure message that replaces some failures' own from Windows Vista on.
inline constexpr const char* kVistaFailureMessage =
    "Os Type is Windows Vista/Windows 2008/Windows 7";

// One operation applying the settings of one request, by its rules.
struct SettingsRun {
  run::Run& run;
  const jobdoc::PowerRequest& request;
  const OperationRules& rules;
  // The exit code of the command just run, when it ran to its end.
  std::optional<std::int32_t> exitCode = std::nullopt;

  void Log(std::string_view type, std::string_view val1, std::string_view val2,
           std::string_view val3);
};

// Reports a failed command; true when the operation goes on.
using FailureReport = bool (*)(SettingsRun& settings, const PowercfgCommand& command,
                               std::string_view word);

// How a failed power-profile call is reported: an error capture, the
// message followed by the error text, and (Failed, call, number, text).
struct CallFailure {
  const char* message;
  bool lineBefore;  // (Failed, call, "", "") comes first
  bool vistaRule;   // from Windows Vista on the message is the Vista text
  bool bare;        // only (Failed, call, "", "") and the message: no capture
};

struct OperationRules {
  const char* module;  // the operation's log module
  const char* privilegeMessage;
  CallFailure currentPolicies;    // GetCurrentPowerPolicies
  CallFailure writeScheme;        // WritePwrScheme
  CallFailure writeGlobalPolicy;  // WriteGlobalPwrPolicy
  CallFailure capabilitiesAgain;  // the second GetPwrCapabilities
  bool logStandbyRefused;         // ("Is Sleep", "No") when standby is not allowed
  // Hibernation is left alone when the platform answers neither 0 nor 1;
  // otherwise any answer but 1 counts as not allowed.
  bool hibernationNeedsZeroOrOne;
  bool ownPowerButtonWords;     // "Do nothing", "Ask me what to do", "Shut down"
  const char* notActiveLabel;   // (Info, label, "", "No") for a scheme not made active
  FailureReport reportFailure;  // a failed Powercfg.exe command
};

}  // namespace zrt::power
