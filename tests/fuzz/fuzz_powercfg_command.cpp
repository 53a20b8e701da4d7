// Fuzzes the Powercfg.exe command lines that take a scheme name or a level:
// whatever the text, a line the builder lets run must give Powercfg.exe
// exactly the arguments its setting means (the command line's own words,
// with the text as the one argument in its place, or no argument for an
// empty level), split by the platform's command-line rules; anything else
// must be refused.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/sim/sim_command_line.h"
#include "power/powercfg_settings.h"

namespace {

constexpr const char* kMark = "\x01";  // stands for the text in the intended arguments

void Require(bool holds) {
  if (!holds) std::abort();
}

// The arguments the setting means: the template's own, split by the same
// rules, with the text in the place of "%s".
std::vector<std::string> Intended(const std::string& commandLine, zrt::power::Insert insert,
                                  const std::string& text, std::string& program) {
  std::string marked = commandLine;
  marked.replace(marked.find("%s"), 2, kMark);
  const zrt::sim::SplitCommand split = zrt::sim::SplitCommandLine(marked);
  program = split.program;
  std::vector<std::string> arguments;
  int marks = 0;
  for (const std::string& argument : split.arguments) {
    if (argument != kMark) {
      Require(argument.find(kMark) == std::string::npos);  // the text is a whole argument
      arguments.push_back(argument);
      continue;
    }
    ++marks;
    // An unquoted empty level leaves no argument behind.
    if (!(text.empty() && insert == zrt::power::Insert::Level)) arguments.push_back(text);
  }
  Require(marks == 1);
  return arguments;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Texts reach the builder from fixed-width request fields: zero-terminated.
  std::string text(reinterpret_cast<const char*>(data), size);
  text.resize(text.find('\0') == std::string::npos ? size : text.find('\0'));
  static const auto commands = zrt::power::CommandsWithInsert();
  for (const zrt::power::PowercfgCommand* command : commands) {
    const auto built = zrt::power::BuildPowercfgCommand(*command, text, {});
    if (built.refusal != nullptr) continue;  // nothing runs
    Require(built.line.size() <= 1023);
    std::string program;
    const auto intended = Intended(command->commandLine, command->insert, text, program);
    const zrt::sim::SplitCommand split = zrt::sim::SplitCommandLine(built.line);
    Require(split.program == program);
    Require(split.arguments == intended);
  }
  return 0;
}
