#include "app/parse_input.h"

#include <string>

#include "platform/code_page_text.h"

namespace zrt::app {
namespace {
constexpr const char* kModule = "ParseInput";
constexpr std::size_t kFieldCount = 9;

bool IsSeparator(char c) { return c == '@' || c == '#'; }
}  // namespace

std::vector<std::string_view> SplitJobArgument(std::string_view text,
                                               const LeadByteTest& isLeadByte) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  // A field ends before a separator character; a trail byte 0x40 is no '@'.
  auto close = [&](std::size_t end) {
    if (end > start) fields.push_back(text.substr(start, end - start));
  };
  ForEachCharacter(text, isLeadByte, [&](std::size_t at, std::size_t width) {
    if (width == 1 && IsSeparator(text[at])) {
      close(at);
      start = at + 1;
    }
  });
  close(text.size());
  return fields;
}

bool ParseInput(run::Run& run, std::string_view commandLine) {
  try {
    run.log.Write(kModule, "Info", "Input", "", commandLine);
    if (commandLine.size() > kMaxCommandLine) {
      run.log.Write(
          kModule, "ERROR", "Commandline Parameter Too Long",
          std::to_string(commandLine.size()) + " bytes, at most " + std::to_string(kMaxCommandLine),
          "");
      return false;
    }
    const LeadByteTest isLeadByte = LeadBytesOf(run.platform.system);
    const std::vector<std::string_view> fields = SplitJobArgument(commandLine, isLeadByte);
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
    a.OD.Assign(fields[0], isLeadByte);
    a.ScriptId.Assign(fields[1], isLeadByte);
    a.XmlFilePath.Assign(fields[2], isLeadByte);
    a.JobId.Assign(fields[3], isLeadByte);
    a.UserLoggedIn.Assign(fields[4], isLeadByte);
    a.ExecutionTime.Assign(fields[5], isLeadByte);
    a.InstanceID.Assign(fields[6], isLeadByte);
    a.IsRealTimeS.Assign(fields[7], isLeadByte);
    a.ScriptJobId.Assign(fields[8], isLeadByte);
    return true;
  } catch (...) {
    run.args = run::JobArguments{};
    run::CapturedError(run).Log(kModule, "ERROR", "Exception Occured");
    return false;
  }
}

}  // namespace zrt::app
