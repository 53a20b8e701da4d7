// The power configuration tool of the simulated machine (Powercfg.exe) as a
// started process meets it: whether the program can be started, what
// power.json's "powercfg" member says about the command, and the tool's
// effect on the power state kept in power.json.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/port/platform_types.h"
#include "platform/sim/powercfg_tool.h"
#include "platform/sim/sim_json_file.h"
#include "platform/sim/sim_machine.h"

namespace zrt::sim {

struct PowercfgOutcome {
  std::optional<port::ErrorCode> startError;     // the program could not be started
  bool neverEnds = false;                        // it started and runs until ended
  std::uint32_t exitCode = 0;                    // otherwise: it ran to its end
  std::optional<port::ErrorCode> exitCodeError;  // its exit code cannot be read
};

// The tool's view of the power state in power.json. Throws MachineError for
// a member of the wrong form.
powercfg::State PowercfgState(const Json& power, const AnsiCodePage& ansi);

// PowercfgState of one machine's power.json, worked out again only when the
// file's contents have changed.
class PowercfgStateCache {
 public:
  // `power` is what LoadPowerFile(machine) gave.
  const powercfg::State& Of(const SimMachine& machine, const Json& power);
  // The state the tool left, as it wrote it.
  void Keep(const SimMachine& machine, powercfg::State state);
  // Whether the power file holds the alarms and flags as the tool writes
  // them: the state was the tool's own, not read from the file.
  bool AsWritten() const { return written_; }

 private:
  std::optional<std::uint64_t> version_;
  powercfg::State state_;
  bool written_ = false;
};

// Runs `commandLine` (ANSI, program name first) on the machine. Any program
// but Powercfg.exe (with or without ".exe" and a folder) is not found
// (error 2). The tool's changes are written into power.json at once.
PowercfgOutcome RunPowercfg(SimMachine& machine, const std::string& commandLine,
                            PowercfgStateCache& states);

}  // namespace zrt::sim
