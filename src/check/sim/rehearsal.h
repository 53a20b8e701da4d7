// The rehearsal of a job on a simulated machine: the job runs, as the
// program runs it, on a copy of the machine folder, and what it logged,
// reported, ran and changed is told. The machine folder itself is left
// untouched.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "check/report.h"

namespace zrt::check {

struct RehearsalOptions {
  // A run still going after this long (real time) is ended: only a runaway,
  // since every wait of the program passes on the machine's simulated clock.
  unsigned timeoutSeconds = 60;
  std::uint32_t postBoundMs = 300000;  // the program's bound on each post
  // Where the copies are made: zrt-check gives the host's temporary folder.
  std::filesystem::path scratchRoot;
};

// Runs the job document `document` (a host file) with the script id
// `scriptId` (ANSI) on a copy of the machine in `machine` (a machine folder
// or a capture bundle), placed on the copy's drive C: under \Jobs; the copy
// is made in a folder of its own under the scratch root, removed after. The
// program runs in a child process, so a crash or a runaway ends only the
// run, and is told in Rehearsal::ended. Throws sim::MachineError when the
// entry is not a usable machine.
Rehearsal Rehearse(const std::filesystem::path& machine, const std::filesystem::path& document,
                   const std::string& scriptId, const RehearsalOptions& options = {});

}  // namespace zrt::check
