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
// several, so keeping them would cost more than the rows' names. All but
// "shard" (a whole run's result has none) must be there.
constexpr const char* kRead[] = {"fleet", "document", "findings", "machines", "shard"};

// Runs `read` on the result `file`: what goes wrong there is told as the
// file not being a fleet's result.
template <typename Read>
auto AsResult(const fs::path& file, const Read& read) {
  try {
    return read();
  } catch (const std::exception& e) {
    throw sim::MachineError(file.string() + ": not a fleet's JSON result (" + e.what() + ")");
  }
}

// Reads the result `file` as it streams in: each machine row is handed to
// `row` and then dropped, so a result of a large fleet is never held whole.
// Gives back the members of kRead but the machines.
Json ReadResult(const fs::path& file, const std::function<void(const Json&)>& row) {
  std::error_code error;
  if (fs::is_directory(file, error)) {
    throw sim::MachineError(file.string() + ": is a folder, not a result");
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) throw sim::MachineError(file.string() + ": cannot be read");
  return AsResult(file, [&] {
    bool inMachines = false;
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
    for (const char* name : kRead) {
      if (!head.contains(name) && name != std::string_view("shard")) {
        throw sim::MachineError(std::string("no \"") + name + "\"");
      }
    }
    return head;
  });
}

// What tells the results of one job on one fleet from others: the
// document's content (not the path it was given by) and what its check
// found, the fleet folder's name, and which part of the fleet each holds.
struct Identity {
  fs::path file;
  Shard shard;
  Json document;  // the content's SHA-256 and the findings
  std::string fleet;
};

// The last name of a folder as given, without trailing slashes: the same
// fleet may be given by another path on another host.
std::string FolderName(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos || path == "/" ? path : path.substr(slash + 1);
}

Identity IdentityOf(const Json& result) {
  Identity identity{{}, {}, {nullptr, result.at("findings")}, FolderName(Member(result, "fleet"))};
  if (!result.contains("shard")) return identity;  // a whole run's
  const Json& shard = result.at("shard");
  // The part's numbers as --shard takes them, with its bounds.
  const auto parsed = ParseShard(shard.at("part").dump() + "/" + shard.at("parts").dump());
  if (!parsed) throw sim::MachineError("no part K of N in \"shard\"");
  identity.shard = *parsed;
  identity.document[0] = shard.at("document_sha256");
  return identity;
}

// Results merge only when they are of one job on one fleet, and exactly
// its parts 1 to N (a whole run's result: 1 of 1).
void CheckParts(const std::vector<Identity>& results) {
  const Identity& first = results.front();
  const std::uint32_t parts = first.shard.parts;
  std::vector<const Identity*> byPart(parts + 1, nullptr);
  for (const Identity& r : results) {
    const std::string both = " (" + first.file.string() + ", " + r.file.string() + ")";
    if (r.shard.parts != parts) {
      throw sim::MachineError("parts of " + std::to_string(parts) + " and of " +
                              std::to_string(r.shard.parts) + " do not go together" + both);
    }
    if (r.document != first.document) {
      throw sim::MachineError("results of different job documents do not go together" + both);
    }
    if (r.fleet != first.fleet) {
      throw sim::MachineError("results of the fleets " + first.fleet + " and " + r.fleet +
                              " do not go together" + both);
    }
    const Identity*& given = byPart[r.shard.part];
    if (given != nullptr) {
      throw sim::MachineError(PartName(r.shard) + " is given twice (" + given->file.string() +
                              ", " + r.file.string() + ")");
    }
    given = &r;
  }
  const auto lacking = std::count(byPart.begin() + 1, byPart.end(), nullptr);
  if (lacking != 0) {
    const auto part = std::find(byPart.begin() + 1, byPart.end(), nullptr) - byPart.begin();
    throw sim::MachineError(
        "the results lack " + PartName({static_cast<std::uint32_t>(part), parts}) +
        (lacking == 1 ? "" : " and " + std::to_string(lacking - 1) + " other parts"));
  }
}

}  // namespace

MergedFleet MergeFleetResults(const std::vector<fs::path>& results, const fs::path& spool) {
  MergedFleet merged;
  std::vector<std::string> names;
  std::vector<Identity> identities;
  for (const fs::path& file : results) {
    const Json result = ReadResult(file, [&names](const Json& row) {
      ThrowIfInterrupted();
      names.push_back(RawName(Member(row, "machine")));
    });
    identities.push_back(AsResult(file, [&result] { return IdentityOf(result); }));
    identities.back().file = file;
    // The merge tells the document and the fleet as part 1 names them.
    if (identities.back().shard.part == 1) {
      merged.check = AsResult(file, [&result] { return CheckOf(result); });
      merged.fleet = Member(result, "fleet");
    }
  }
  CheckParts(identities);
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
