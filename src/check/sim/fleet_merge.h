// The JSON results of one job rehearsed on the parts of a fleet (zrt-check
// --fleet --shard K/N --json), merged into the summary one run on the whole
// fleet gives.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "check/report.h"
#include "check/sim/fleet.h"

namespace zrt::check {

struct MergedFleet {
  Report check;       // the document's findings, as the results tell them (UTF-8)
  std::string fleet;  // the fleet folder as the results name it
  std::unique_ptr<FleetSummary> summary;
};

// Reads every result and gathers their machines, by name, into one summary
// (each result is read twice: for the machines' names, then their rows, so
// only one is held parsed at a time). Throws sim::MachineError when a result
// cannot be read, when the results are of different documents or fleets, or
// when a machine is in two.
// The machines' rows are kept in files in `spool`.
MergedFleet MergeFleetResults(const std::vector<std::filesystem::path>& results,
                              const std::filesystem::path& spool);

}  // namespace zrt::check
