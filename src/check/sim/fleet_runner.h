// Rehearses one job on every machine of a fleet, several at once.
//
// Each rehearsal runs in a child process of its own (a fork of zrt-check),
// not on a thread: a machine may make the program crash (a post library that
// faults) or hang (one that never returns), which must end that machine's
// rehearsal only, and a child's memory is all given back when it ends, so
// the parent's stays flat however many machines there are.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "check/sim/fleet.h"
#include "check/sim/rehearsal.h"

namespace zrt::check {

struct FleetOptions {
  // Rehearsals at once; 0: two per processor, as a rehearsal waits on the
  // file system for about a quarter of its time.
  unsigned jobs = 0;
  // Each rehearsal's; a rehearsal still going at twice its time-out (the
  // copy or the reading of what changed ran away) is ended too.
  RehearsalOptions rehearsal;
};

// A machine's problem (host bytes) in UTF-8, without the folders it was
// found in (its copy's, the machine folder's), so machines with the same
// problem share one group.
std::string MachineProblem(const std::string& what, const std::filesystem::path& machine,
                           const std::filesystem::path& scratch);

// Rehearses the job document `document` with the script id `scriptId`
// (ANSI) on every entry, and gathers the outcomes into `summary` (whose
// machines are the entries, in the same order).
void RehearseFleet(const std::vector<FleetEntry>& entries, const std::filesystem::path& document,
                   const std::string& scriptId, const FleetOptions& options, FleetSummary& summary);

}  // namespace zrt::check
