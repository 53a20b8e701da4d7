// The rehearsal of a job on a simulated machine: the job runs, as the
// program runs it, on a copy of the machine folder, and what it logged,
// reported, ran and changed is told. The machine folder itself is left
// untouched.
#pragma once

#include <filesystem>
#include <string>

#include "check/report.h"

namespace zrt::check {

// Runs the job document `document` (a host file) with the script id
// `scriptId` (ANSI) on a copy of the machine in `machine`, placed on the
// copy's drive C: under \Jobs; the copy is made in a folder of its own
// under `scratchRoot`. Throws sim::MachineError when the folder is not a
// usable machine.
Rehearsal Rehearse(
    const std::filesystem::path& machine, const std::filesystem::path& document,
    const std::string& scriptId,
    const std::filesystem::path& scratchRoot = std::filesystem::temp_directory_path());

}  // namespace zrt::check
