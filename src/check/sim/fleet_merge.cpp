#include "check/sim/fleet_merge.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>

#include "check/sim/interruption.h"
#include "platform/sim/sim_json_file.h"

namespace zrt::check {
namespace {

namespace fs = std::filesystem;
using sim::Json;

std::string Member(const Json& object, const char* name) {
  return object.at(name).get<std::string>();
}

// A value as a row writes it (JSON, or null for none), back as the text
// the rehearsal gave.
std::string Text(const Json& value) { return value.is_null() ? "" : value.dump(); }

MachineOutcome OutcomeFromRow(const Json& row) {
  MachineOutcome o;
  o.kind = OutcomeKindOf(Member(row, "outcome"));
  o.reason = Member(row, "reason");
  o.message = Member(row, "message");
  o.delivery = Member(row, "delivery");
  o.entry = Member(row, "entry");
  o.windows = Member(row, "windows");
  for (const Json& c : row.at("commands")) {
    o.commands.push_back(
        {Member(c, "command_line"), c.at("exit_code").dump(), Member(c, "trouble")});
  }
  for (const Json& c : row.at("changes")) {
    o.changes.push_back({Member(c, "what"), Text(c.at("before")), Text(c.at("after"))});
  }
  o.capabilities = row.at("capabilities").get<std::vector<std::string>>();
  o.log = row.at("log").get<std::vector<std::string>>();
  o.status = row.at("status").get<std::vector<std::string>>();
  o.logLines = row.at("log_lines").get<std::size_t>();
  return o;
}

Severity SeverityOf(const std::string& word) {
  return word == "error" ? Severity::Error : word == "warning" ? Severity::Warning : Severity::Info;
}

// The document's check as a result tells it: its warnings and errors, each
// under its step.
Report CheckOf(const Json& result) {
  Report check;
  check.document = Member(result, "document");
  check.readable = true;
  std::map<int, std::size_t> steps;  // step number -> index in check.steps
  for (const Json& f : result.at("findings")) {
    const Finding finding{SeverityOf(Member(f, "severity")), Member(f, "subject"),
                          Member(f, "text")};
    const int step = f.at("step").get<int>();
    if (step == 0) {
      check.findings.push_back(finding);
      continue;
    }
    const auto [at, added] = steps.try_emplace(step, check.steps.size());
    if (added) {
      check.steps.emplace_back();
      check.steps.back().number = step;
    }
    check.steps[at->second].findings.push_back(finding);
  }
  return check;
}

// The members of a result the merge reads: the groups and counts are made
// anew from the rows. Those groups name their machines, every machine in
// several, so keeping them would cost more than the rows' names.
constexpr const char* kRead[] = {"document", "fleet", "findings", "machines"};

// Reads the result `file` as it streams in: each machine row is handed to
// `row` and then dropped, so a result of a large fleet is never held whole.
// Gives back the members of kRead but the machines. Tells where the trouble
// lies when the file is not a fleet's result.
Json ReadResult(const fs::path& file, const std::function<void(const Json&)>& row) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw sim::MachineError(file.string() + ": cannot be read");
  bool inMachines = false;
  try {
    Json head = Json::parse(in, [&](int depth, Json::parse_event_t event, Json& parsed) {
      if (event == Json::parse_event_t::key && depth == 1) {
        inMachines = parsed == "machines";
        return std::any_of(std::begin(kRead), std::end(kRead),
                           [&parsed](const char* name) { return parsed == name; });
      }
      if (event != Json::parse_event_t::object_end || depth != 2 || !inMachines) return true;
      row(parsed);
      return false;
    });
    if (!head.is_object()) throw sim::MachineError("not an object");
    return head;
  } catch (const sim::MachineError& e) {
    throw sim::MachineError(file.string() + ": not a fleet's JSON result (" + e.what() + ")");
  } catch (const std::exception& e) {
    throw sim::MachineError(file.string() + ": not a fleet's JSON result (" + e.what() + ")");
  }
}

}  // namespace

MergedFleet MergeFleetResults(const std::vector<fs::path>& results, const fs::path& spool) {
  MergedFleet merged;
  Json first;
  std::vector<std::string> names;
  for (const fs::path& file : results) {
    const Json result = ReadResult(file, [&names](const Json& row) {
      ThrowIfInterrupted();
      names.push_back(RawName(Member(row, "machine")));
    });
    const Json same = {{"document", result.at("document")},
                       {"fleet", result.at("fleet")},
                       {"findings", result.at("findings")}};
    if (first.is_null()) {
      merged.check = CheckOf(result);
      merged.fleet = Member(result, "fleet");
      first = same;
    } else if (same != first) {
      throw sim::MachineError("not a result of the same document on the same fleet");
    }
  }
  // The machines in the order a listing of the whole fleet gives: by their
  // names' bytes.
  std::sort(names.begin(), names.end());
  const auto twice = std::adjacent_find(names.begin(), names.end());
  if (twice != names.end()) {
    throw sim::MachineError("the machine " + ShownName(*twice) + " is in two results");
  }
  merged.summary = std::make_unique<FleetSummary>(names, spool);
  for (const fs::path& file : results) {
    ReadResult(file, [&](const Json& row) {
      ThrowIfInterrupted();
      const std::string name = RawName(Member(row, "machine"));
      const auto at = std::lower_bound(names.begin(), names.end(), name) - names.begin();
      merged.summary->Add(static_cast<std::size_t>(at), OutcomeFromRow(row));
    });
  }
  return merged;
}

}  // namespace zrt::check
