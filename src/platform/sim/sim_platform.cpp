#include "platform/sim/sim_platform.h"

namespace zrt::sim {

SimPlatform::SimPlatform(const std::filesystem::path& machineFolder, std::string jobArgument)
    : machine_(machineFolder),
      registry_(machine_),
      files_(machine_),
      processes_(machine_),
      power_(machine_),
      xml_([this](const std::string& windowsPath) {
        std::string host = machine_.HostPath(windowsPath);
        if (!host.empty()) machine_.RecordOpen(host);
        return host;
      }),
      post_(machine_),
      system_(machine_, std::move(jobArgument)),
      platform_{registry_, files_, processes_, power_, xml_, post_, system_} {
  xml_.SetInstalled(machine_.Settings().xmlParserInstalled);
}

}  // namespace zrt::sim
