// Kills the process at a chosen change of the simulated machine, for the
// crash-point tests. ZRT_SIM_CRASH_AT=N makes the N-th change the process
// makes (a file made, written, renamed or removed, a folder made, a state
// file of the machine replaced) end the process with SIGKILL just before it
// is made; ZRT_SIM_CRASH_NOTE names a host file that is then told which
// change it was ("N<TAB>change<TAB>what"). Without ZRT_SIM_CRASH_AT nothing
// happens.
#pragma once

#include <string_view>

namespace zrt::sim {

void CrashPoint(std::string_view change, std::string_view what);

}  // namespace zrt::sim
