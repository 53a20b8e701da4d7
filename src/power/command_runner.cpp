#include "power/command_runner.h"

#include <string>
#include <vector>

namespace zrt::power {
namespace {
constexpr const char* kModule = "ExecuteCMD";
constexpr const char* kDesktop = "winsta0\\default";
constexpr port::ErrorCode kFilenameTooLong = 206;  // ERROR_FILENAME_EXCED_RANGE
constexpr port::ErrorCode kTimeout = 1460;         // ERROR_TIMEOUT
constexpr std::uint32_t kEndedExitCode = 1;

// Logs a platform failure with its error texts, keeping the failing call's
// error as the thread's last error for the caller.
void LogPlatformFailure(run::Run& run, const char* what) {
  run::CapturedError(run, true).Log(kModule, "ERROR", what);
}

// A command that has not ended when the wait returned is ended.
bool EndUnfinished(run::Run& run, const port::ProcessInformation& started, std::uint32_t waited,
                   std::string_view commandLine) {
  auto& system = run.platform.system;
  const port::ErrorCode waitError = system.GetLastError();
  const bool ended = run.platform.processes.TerminateProcess(
      *started.process, waited == port::kWaitTimeout ? kTimeout : kEndedExitCode);
  if (waited == port::kWaitTimeout) {
    run.log.Write(kModule, "ERROR", "Command Timed Out",
                  ended ? "Ended after 300 seconds" : "Still running after 300 seconds",
                  commandLine);
    system.SetLastError(kTimeout);
  } else {
    system.SetLastError(waitError);
    LogPlatformFailure(run, "Wait Failed");
  }
  return false;
}

bool Execute(run::Run& run, std::string_view commandLine, std::optional<std::int32_t>& ended) {
  auto& processes = run.platform.processes;
  if (commandLine.size() >= kCommandCapacity) {
    run.log.Write(kModule, "ERROR", "Command Line Too Long",
                  std::to_string(commandLine.size()) + " bytes, at most " +
                      std::to_string(kCommandCapacity - 1),
                  commandLine);
    run.platform.system.SetLastError(kFilenameTooLong);
    return false;
  }
  port::StartupInfo startup;
  startup.dwFlags = port::kStartfUseShowWindow | port::kStartfUseStdHandles;
  startup.wShowWindow = port::kSwHide;
  startup.desktop = kDesktop;
  std::vector<char> buffer(kCommandCapacity, '\0');
  commandLine.copy(buffer.data(), commandLine.size());

  port::ProcessInformation started;  // closes the thread, then the process
  const port::KernelHandle* token = run.context.userToken.get();
  if (token == nullptr) run.platform.system.SetLastError(port::err::kInvalidHandle);
  if (token == nullptr ||
      !processes.CreateProcessAsUserA(*token, buffer.data(), true, port::kCreateNewConsole, startup,
                                      started)) {
    LogPlatformFailure(run, "Process as user Failed");
    return false;
  }
  const std::uint32_t waited = processes.WaitForSingleObject(*started.process, kCommandTimeLimitMs);
  if (waited != port::kWaitObject0) return EndUnfinished(run, started, waited, buffer.data());

  std::uint32_t exitCode = 0;
  if (!processes.GetExitCodeProcess(*started.process, exitCode)) {
    LogPlatformFailure(run, "Exit Code Failed");
    return false;
  }
  ended = static_cast<std::int32_t>(exitCode);
  const std::string exitText = std::to_string(*ended);
  run.log.Write(kModule, "Success", "1", exitText, buffer.data());
  // Judged by the text the log line shows, so the two can never disagree;
  // the same as an exit code of 0.
  return exitText == "0";
}

}  // namespace

bool ExecuteCMD(run::Run& run, std::string_view commandLine) {
  std::optional<std::int32_t> exitCode;
  return ExecuteCMD(run, commandLine, exitCode);
}

bool ExecuteCMD(run::Run& run, std::string_view commandLine,
                std::optional<std::int32_t>& exitCode) {
  exitCode.reset();
  try {
    return Execute(run, commandLine, exitCode);
  } catch (const run::JobAborted&) {
    throw;
  } catch (...) {
    run.log.Write(kModule, "ERROR", "Exception Occured", "", "");
    throw run::JobAborted{};
  }
}

}  // namespace zrt::power
