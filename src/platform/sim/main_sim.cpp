// The job program on a simulated Windows machine. The machine folder comes
// from ZRT_SIM_MACHINE; the arguments, joined by single blanks, are the job
// argument that follows the program path in the command line.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/run_sequence.h"
#include "platform/sim/sim_code_page.h"
#include "platform/sim/sim_platform.h"

#ifndef ZRT_POST_BOUND_MS
#define ZRT_POST_BOUND_MS 300000
#endif

int main(int argc, char** argv) {
  const char* folder = std::getenv("ZRT_SIM_MACHINE");
  if (folder == nullptr || *folder == '\0') {
    std::fprintf(stderr,
                 "zReTessalyXP: set ZRT_SIM_MACHINE to the folder of a simulated machine "
                 "(see docs/simulated-machine.md)\n");
    return 2;
  }
  std::string tail;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) tail += ' ';
    tail += argv[i];
  }
  try {
    zrt::sim::SimPlatform sim(folder, "");
    // The host's arguments are UTF-8; the program reads its command line in
    // the machine's ANSI code page.
    tail = sim.Machine().Ansi().FromUtf8(tail);
    sim.SetJobArgument(tail);
    return zrt::app::RunJob(sim.Platform(), tail.c_str(), ZRT_POST_BOUND_MS);
  } catch (const zrt::sim::MachineError& e) {
    std::fprintf(stderr, "zReTessalyXP: simulated machine unusable: %s\n", e.what());
    return 2;
  }
}
