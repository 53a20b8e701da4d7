// Test-only program: writes numbered lines into the activity log through the
// program's own writer, as one job among several running at once would.
//
//   zrt_log_lines DATA_FOLDER TAG COUNT
//
// Line i (from 0) is logged as module "Concurrency", type "Info", val1 TAG,
// val2 i and val3 a fixed run of letters, under the data folder DATA_FOLDER
// (a Windows path). The Linux build writes on the simulated machine named by
// ZRT_SIM_MACHINE, the Windows build on the real platform.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "report/activity_log.h"
#include "run/run.h"

#ifdef _WIN32
#include "platform/win32/win32_platform.h"
#else
#include "platform/sim/sim_platform.h"
#endif

namespace {

int WriteLines(zrt::port::Platform& platform, const char* folder, const char* tag, long count) {
  zrt::run::Run run(platform, zrt::report::MakeActivityLog);
  run.context.dataFolder.Assign(folder);
  run.context.REGID.Assign("R-CONCURRENCY");
  const std::string filler(120, 'x');
  for (long i = 0; i < count; ++i) {
    run.log.Write("Concurrency", "Info", tag, std::to_string(i), filler);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || std::atol(argv[3]) < 0) {
    std::fprintf(stderr, "usage: zrt_log_lines DATA_FOLDER TAG COUNT\n");
    return 2;
  }
  const long count = std::atol(argv[3]);
#ifdef _WIN32
  auto platform = zrt::win32::Win32Platform::Create();
  return WriteLines(platform->platform(), argv[1], argv[2], count);
#else
  const char* machine = std::getenv("ZRT_SIM_MACHINE");
  if (machine == nullptr || *machine == '\0') {
    std::fprintf(stderr, "zrt_log_lines: set ZRT_SIM_MACHINE to a simulated machine's folder\n");
    return 2;
  }
  try {
    zrt::sim::SimPlatform sim(machine, "");
    return WriteLines(sim.Platform(), argv[1], argv[2], count);
  } catch (const zrt::sim::MachineError& e) {
    std::fprintf(stderr, "zrt_log_lines: %s\n", e.what());
    return 2;
  }
#endif
}
