// Small system services of the simulated machine: the last error, message
// texts, the ANSI code page, the command line, the version, the
// debugger output, the clock and Sleep.
#pragma once

#include <string>
#include <utility>

#include "platform/port/system.h"
#include "platform/sim/sim_machine.h"

namespace zrt::sim {

class SimSystem : public port::System {
 public:
  // `jobArgument` (ANSI) follows the program path in the command line.
  SimSystem(SimMachine& machine, std::string jobArgument)
      : machine_(machine), jobArgument_(std::move(jobArgument)) {}

  void SetJobArgument(std::string jobArgument) { jobArgument_ = std::move(jobArgument); }

  port::ErrorCode GetLastError() override { return machine_.LastError(); }
  void SetLastError(port::ErrorCode code) override { machine_.SetLastError(code); }

  // English texts for languages 0, 0x400 and 0x409; the empty text with
  // error 317 for a code the table lacks, with 1815 for other languages.
  std::string FormatMessageA(port::ErrorCode code, std::uint32_t languageId) override;

  // In the machine's ANSI code page. The source counts up to its first zero
  // byte; the destination needs room for the text and its terminator, else
  // false with error 122. Units without a character in the code page become
  // '?' and, when asked, are reported as the default character used.
  bool MultiByteToWideChar(const std::string& source, port::WideText& destination,
                           std::size_t capacity) override;
  bool WideCharToMultiByte(const port::WideText& source, std::string& destination,
                           std::size_t capacity, bool* usedDefaultChar) override;

  // Ignores the case of the code page's letters, double-byte characters
  // compared whole; returns -1, 0 or 1.
  // A null text sorts before every other.
  int lstrcmpiA(const char* left, const char* right) override;
  // The machine's ANSI code page and its lead bytes.
  std::uint32_t GetACP() override { return machine_.Ansi().Number(); }
  bool IsDBCSLeadByte(unsigned char byte) override { return machine_.Ansi().IsLeadByte(byte); }

  // The machine's "program_path", a blank and the job argument.
  std::string GetCommandLineA() override;
  // Error 122 when the machine refuses the record asked for.
  bool GetVersionExA(port::OsVersion& version, bool extended) override;
  // Appends the text (as UTF-8) to debug_output.txt in the machine folder.
  void OutputDebugStringA(const char* text) override;
  // The machine's fixed "local_time", or the host's clock.
  port::SystemTime GetLocalTime() override;
  // Empty with error 87 for an invalid time. A null picture is the English
  // default "h:mm:ss tt".
  std::string GetTimeFormatA(const port::SystemTime& time, const char* picture) override;
  // Adds the time to sleep.json; waits only when the machine says so.
  void Sleep(std::uint32_t milliseconds) override;

 private:
  SimMachine& machine_;
  std::string jobArgument_;
};

}  // namespace zrt::sim
