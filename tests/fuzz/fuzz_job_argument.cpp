// Fuzzes the job-argument parser with any command line, on a simulated
// machine: whatever the text, it stores at most nine bounded fields.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/parse_input.h"
#include "platform/sim/sim_platform.h"
#include "report/activity_log.h"

namespace {
std::filesystem::path MachineFolder() {
  static const std::filesystem::path folder = [] {
    auto dir =
        std::filesystem::temp_directory_path() / ("zrt-fuzz-args-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "drive_c");
    std::ofstream(dir / "machine.json")
        << R"({"windows_folder": "C:\\WINDOWS", "drives": {"C": "drive_c"},
               "local_time": "2026-12-07 14:05:09"})";
    return dir;
  }();
  return folder;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  zrt::sim::SimPlatform sim(MachineFolder(), text);
  zrt::run::Run run(sim.Platform(), zrt::report::MakeActivityLog);
  const bool ok = zrt::app::ParseInput(run, text);
  if (ok != (zrt::app::SplitJobArgument(text).size() == 9)) std::abort();
  if (!ok && !run.args.OD.empty()) std::abort();
  return 0;
}
