#include "app/parse_input.h"

#include <string>

namespace zrt::app {
namespace {
constexpr const char* kModule = "ParseInput";
constexpr std::size_t kFieldCount = 9;

bool IsSeparator(char c) { return c == '@' || c == '#'; }
}  // namespace

std::vector<std::string_view> SplitJobArgument(std::string_view text) {
  std::vector<std::string_view> fields;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsSeparator(text[i])) ++i;
    const std::size_t start = i;
    while (i < text.size() && !IsSeparator(text[i])) ++i;
    if (i > start) fields.push_back(text.substr(start, i - start));
  }
  return fields;
}

bool ParseInput(run::Run& run, std::string_view commandLine) {
  try {
    run.log.Write(kModule, "Info", "Input", "", commandLine);
    if (commandLine.size() > kMaxCommandLine) {
      run.log.Write(kModule, "ERROR", "Commandline Parameter Too Long",
                    std::to_string(commandLine.size()) + " characters, at most " +
                        std::to_string(kMaxCommandLine),
                    "");
      return false;
    }
    const std::vector<std::string_view> fields = SplitJobArgument(commandLine);
    for (const auto& field : fields) {
      run.platform.system.OutputDebugStringA((std::string(field) + "\n").c_str());
    }
    if (fields.size() != kFieldCount) {
      run.log.Write(kModule, "ERROR", "Invalid Commandline Parameter received.",
                    "Format : OD@#@ScriptId@#@XmlFilePath@#@JobId@#@UserLoggedIn@#@ExecutionTime@#@"
                    "InstanceID@#@IsRealTimeS@#@ScriptJobId",
                    "");
      return false;
    }
    run::JobArguments& a = run.args;
    a.OD.Assign(fields[0]);
    a.ScriptId.Assign(fields[1]);
    a.XmlFilePath.Assign(fields[2]);
    a.JobId.Assign(fields[3]);
    a.UserLoggedIn.Assign(fields[4]);
    a.ExecutionTime.Assign(fields[5]);
    a.InstanceID.Assign(fields[6]);
    a.IsRealTimeS.Assign(fields[7]);
    a.ScriptJobId.Assign(fields[8]);
    return true;
  } catch (...) {
    run.args = run::JobArguments{};
    run::CapturedError(run).Log(kModule, "ERROR", "Exception Occured");
    return false;
  }
}

}  // namespace zrt::app
