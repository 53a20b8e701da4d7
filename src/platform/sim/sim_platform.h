// The whole simulated platform over one machine folder: every part of the
// port, sharing the machine's state and its last error.
#pragma once

#include <filesystem>
#include <string>
#include <utility>

#include "platform/port/platform.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_post_library.h"
#include "platform/sim/sim_power.h"
#include "platform/sim/sim_processes.h"
#include "platform/sim/sim_registry.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/xml_dom_pugi.h"

namespace zrt::sim {

class SimPlatform {
 public:
  // Opens the machine in `machineFolder`. `jobArgument` is the text that
  // follows the program path in the command line (ANSI). Throws
  // MachineError when the folder is not a usable machine.
  SimPlatform(const std::filesystem::path& machineFolder, std::string jobArgument);

  SimPlatform(const SimPlatform&) = delete;
  SimPlatform& operator=(const SimPlatform&) = delete;

  port::Platform& Platform() { return platform_; }
  SimMachine& Machine() { return machine_; }
  // Replaces the job argument, once the machine's code page is known.
  void SetJobArgument(std::string jobArgument) { system_.SetJobArgument(std::move(jobArgument)); }

 private:
  SimMachine machine_;
  SimRegistry registry_;
  SimFileSystem files_;
  SimProcesses processes_;
  SimPowerProfile power_;
  PugiXmlParser xml_;
  SimPostLibrary post_;
  SimSystem system_;
  port::Platform platform_;
};

}  // namespace zrt::sim
