#include "check/sim/fleet.h"

#include <algorithm>
#include <system_error>

#include "platform/sim/sim_code_page.h"
#include "platform/sim/sim_json_file.h"

namespace zrt::check {
namespace {

namespace fs = std::filesystem;
using sim::Json;

// The text between the first `open` and the following `close`, or nothing.
std::string Between(const std::string& text, const std::string& open, const std::string& close) {
  const std::size_t start = text.find(open);
  if (start == std::string::npos) return "";
  const std::size_t end = text.find(close, start + open.size());
  if (end == std::string::npos) return "";
  return text.substr(start + open.size(), end - start - open.size());
}

// The fields of a log line after its time and user, blanks between.
std::string LogFields(const std::string& line) {
  std::string out;
  std::size_t start = 0;
  for (int field = 0; start <= line.size(); ++field) {
    std::size_t end = line.find('\t', start);
    if (end == std::string::npos) end = line.size();
    const std::string value = line.substr(start, end - start);
    if (field >= 2 && !value.empty()) out += (out.empty() ? "" : " ") + value;
    start = end + 1;
  }
  return out;
}

// Names the first few machines of a group, counting the rest.
std::string Named(const FleetSummary& summary, const std::vector<std::size_t>& machines) {
  constexpr std::size_t kNamed = 3;
  std::string out;
  for (std::size_t i = 0; i < machines.size() && i < kNamed; ++i) {
    out += (i == 0 ? "" : ", ") + summary.Machines()[machines[i]].name;
  }
  if (machines.size() > kNamed) out += " and " + std::to_string(machines.size() - kNamed) + " more";
  return out;
}

std::string ChangeText(const std::vector<std::string>& key) {
  const std::string& what = key[0];
  const std::string& before = key[1];
  const std::string& after = key[2];
  if (before.empty()) return what + ": added " + after;
  if (after.empty()) return what + ": removed " + before;
  return what + ": " + before + " -> " + after;
}

// The document's warnings and errors, each with the step it belongs to (0:
// the document itself).
struct Noted {
  int step;
  const Finding* finding;
};
std::vector<Noted> Notable(const Report& report) {
  std::vector<Noted> noted;
  for (const Finding& f : report.findings) {
    if (f.severity != Severity::Info) noted.push_back({0, &f});
  }
  for (const StepReport& step : report.steps) {
    for (const Finding& f : step.findings) {
      if (f.severity != Severity::Info) noted.push_back({step.number, &f});
    }
  }
  return noted;
}

const char* SeverityWord(Severity severity) {
  return severity == Severity::Error ? "error" : severity == Severity::Warning ? "warning" : "info";
}

Json Machines(const FleetSummary& summary, const std::vector<std::size_t>& machines) {
  Json names = Json::array();
  for (std::size_t m : machines) names.push_back(summary.Machines()[m].name);
  return names;
}

}  // namespace

std::vector<FleetEntry> ListFleet(const fs::path& folder) {
  std::error_code error;
  std::vector<FleetEntry> entries;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().u8string();
    if (name.empty() || name[0] == '.') continue;
    entries.push_back(
        {name, it->path(), it->is_directory() ? FleetEntry::Kind::Folder : FleetEntry::Kind::File});
  }
  if (error)
    throw sim::MachineError("cannot list the fleet " + folder.string() + ": " + error.message());
  std::sort(entries.begin(), entries.end(),
            [](const FleetEntry& a, const FleetEntry& b) { return a.name < b.name; });
  return entries;
}

MachineOutcome OutcomeOf(const Rehearsal& rehearsal) {
  const sim::AnsiCodePage ansi(rehearsal.codePage);
  const auto utf8 = [&](const std::string& text) { return ansi.ToUtf8(text); };
  MachineOutcome outcome;
  if (rehearsal.outcome == "1") {
    outcome.kind = OutcomeKind::Success;
  } else if (rehearsal.outcome == "0") {
    outcome.kind = OutcomeKind::Fail;
    for (const std::string& status : rehearsal.status) {
      const std::string desc = Between(status, "<desc><![CDATA[", "]]></desc>");
      if (!desc.empty()) outcome.message = utf8(desc);
    }
  } else {
    outcome.kind = OutcomeKind::NoStatus;
    for (auto line = rehearsal.log.rbegin(); line != rehearsal.log.rend(); ++line) {
      const std::string fields = LogFields(*line);
      if (fields.empty() || (*line)[0] == '#' || fields == "WinMain INFO Application End") {
        continue;
      }
      outcome.message = "the log ends with: " + utf8(fields);
      break;
    }
  }
  for (const RunCommand& command : rehearsal.commands) {
    outcome.commands.push_back({utf8(command.line), command.exitCode});
  }
  for (const Change& change : rehearsal.namedChanges) {
    outcome.changes.push_back(change);
  }
  return outcome;
}

const char* OutcomeWord(OutcomeKind kind) {
  switch (kind) {
    case OutcomeKind::Success:
      return "Success";
    case OutcomeKind::Fail:
      return "Fail";
    case OutcomeKind::NoStatus:
      return "no status";
    case OutcomeKind::NotRehearsed:
      return "not rehearsed";
  }
  return "";
}

FleetSummary::FleetSummary(std::vector<std::string> names) {
  for (std::string& name : names) {
    Machine machine;
    machine.name = std::move(name);
    machines_.push_back(std::move(machine));
  }
}

std::uint32_t FleetSummary::Gather(Groups& groups, std::vector<std::string> key,
                                   std::size_t machine, std::size_t position) {
  auto [it, added] = groups.try_emplace(std::move(key), Gathered{nextId_, {machine, position}});
  if (added) {
    ++nextId_;
  } else {
    it->second.first = std::min(it->second.first, std::make_pair(machine, position));
  }
  return it->second.id;
}

void FleetSummary::Add(std::size_t index, const MachineOutcome& outcome) {
  Machine& machine = machines_.at(index);
  machine.kind = outcome.kind;
  machine.message = outcome.message;
  machine.commands = outcome.commands.size();
  machine.changes = outcome.changes.size();
  std::vector<std::uint32_t> profile;
  profile.push_back(Gather(outcomes_, {OutcomeWord(outcome.kind), outcome.message}, index, 0));
  for (std::size_t i = 0; i < outcome.commands.size(); ++i) {
    const RunCommand& c = outcome.commands[i];
    profile.push_back(Gather(commands_, {c.line, c.exitCode}, index, i));
  }
  for (std::size_t i = 0; i < outcome.changes.size(); ++i) {
    const Change& c = outcome.changes[i];
    profile.push_back(Gather(changes_, {c.what, c.before, c.after}, index, i));
  }
  std::sort(profile.begin(), profile.end());
  profile.erase(std::unique(profile.begin(), profile.end()), profile.end());
  const auto [it, added] =
      profileIds_.try_emplace(std::move(profile), static_cast<std::uint32_t>(profileIds_.size()));
  if (added) {
    profileGroups_.push_back(&it->first);
    profileMachines_.emplace_back();
  }
  std::vector<std::uint32_t>& members = profileMachines_[it->second];
  const auto at = static_cast<std::uint32_t>(index);
  members.insert(std::upper_bound(members.begin(), members.end(), at), at);
}

std::size_t FleetSummary::Count(OutcomeKind kind) const {
  return static_cast<std::size_t>(std::count_if(
      machines_.begin(), machines_.end(), [kind](const Machine& m) { return m.kind == kind; }));
}

std::vector<FleetSummary::Group> FleetSummary::Sorted(const Groups& groups) const {
  std::map<std::uint32_t, std::vector<std::uint32_t>> profilesOf;  // group id -> profiles
  for (std::uint32_t p = 0; p < profileGroups_.size(); ++p) {
    for (std::uint32_t id : *profileGroups_[p]) profilesOf[id].push_back(p);
  }
  std::vector<std::pair<Group, std::pair<std::size_t, std::size_t>>> order;
  for (const auto& [key, gathered] : groups) {
    Group group{key, 0, profilesOf[gathered.id]};
    for (std::uint32_t p : group.profiles) group.count += profileMachines_[p].size();
    order.push_back({std::move(group), gathered.first});
  }
  std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
    if (a.first.count != b.first.count) return a.first.count > b.first.count;
    return a.second < b.second;
  });
  std::vector<Group> sorted;
  for (auto& entry : order) sorted.push_back(std::move(entry.first));
  return sorted;
}

std::vector<std::size_t> FleetSummary::Members(const Group& group) const {
  std::vector<std::size_t> members;
  for (std::uint32_t p : group.profiles) {
    members.insert(members.end(), profileMachines_[p].begin(), profileMachines_[p].end());
  }
  std::sort(members.begin(), members.end());
  return members;
}

int FleetReport::ExitCode() const {
  // A fleet without machines shows nothing: a folder named wrongly, most
  // likely, and not a job that works everywhere.
  if (summary->Machines().empty()) return 2;
  if (summary->Count(OutcomeKind::Success) != summary->Machines().size()) return 2;
  return check->ExitCode();
}

std::string RenderFleetText(const FleetReport& report, const ToUtf8& utf8) {
  const FleetSummary& summary = *report.summary;
  const std::size_t total = summary.Machines().size();
  std::string out = "Job document " + utf8(report.check->document) + ": " +
                    std::to_string(report.check->Count(Severity::Error)) + " errors, " +
                    std::to_string(report.check->Count(Severity::Warning)) +
                    " warnings (zrt-check without --fleet tells them step by step)\n";
  for (const Noted& n : Notable(*report.check)) {
    out += std::string("  ") + (n.step == 0 ? "" : "step " + std::to_string(n.step) + ": ") +
           SeverityWord(n.finding->severity) + ": " + utf8(n.finding->subject) + ": " +
           utf8(n.finding->text) + "\n";
  }
  out += "\nFleet " + report.fleet + ": " + std::to_string(total) +
         " machines, each rehearsed on a copy (left untouched)\n";
  out += "\nOutcomes:\n";
  for (const FleetSummary::Group& g : summary.Outcomes()) {
    out += "  " + std::to_string(g.count) + " " + g.key[0] +
           (g.key[1].empty() ? "" : ": " + g.key[1]) + "\n      " +
           Named(summary, summary.Members(g)) + "\n";
  }
  out += "\nCommands run:\n";
  if (summary.Commands().empty()) out += "  (none)\n";
  for (const FleetSummary::Group& g : summary.Commands()) {
    out += "  " + std::to_string(g.count) + " [exit " + g.key[1] + "] " + g.key[0] + "\n      " +
           Named(summary, summary.Members(g)) + "\n";
  }
  out += "\nChanges on the machines:\n";
  if (summary.Changes().empty()) out += "  (none)\n";
  for (const FleetSummary::Group& g : summary.Changes()) {
    out += "  " + std::to_string(g.count) + " " + ChangeText(g.key) + "\n      " +
           Named(summary, summary.Members(g)) + "\n";
  }
  const std::size_t success = summary.Count(OutcomeKind::Success);
  out += "\n" + std::to_string(success) + " of " + std::to_string(total) +
         " machines end in Success" +
         (total == 0         ? ": the fleet folder holds no machine"
          : success == total ? ""
                             : ": the job would fail or cannot be rehearsed on the others") +
         "\n";
  return out;
}

std::string RenderFleetJson(const FleetReport& report, const ToUtf8& utf8) {
  const FleetSummary& summary = *report.summary;
  Json out = Json::object();
  out["document"] = utf8(report.check->document);
  out["fleet"] = report.fleet;
  Json findings = Json::array();
  for (const Noted& n : Notable(*report.check)) {
    findings.push_back({{"step", n.step},
                        {"severity", SeverityWord(n.finding->severity)},
                        {"subject", utf8(n.finding->subject)},
                        {"text", utf8(n.finding->text)}});
  }
  out["findings"] = std::move(findings);
  out["machine_count"] = summary.Machines().size();
  out["success_count"] = summary.Count(OutcomeKind::Success);
  Json outcomes = Json::array(), commands = Json::array(), changes = Json::array();
  for (const FleetSummary::Group& g : summary.Outcomes()) {
    outcomes.push_back({{"outcome", g.key[0]},
                        {"message", g.key[1]},
                        {"count", g.count},
                        {"machines", Machines(summary, summary.Members(g))}});
  }
  for (const FleetSummary::Group& g : summary.Commands()) {
    commands.push_back({{"command_line", g.key[0]},
                        {"exit_code", Json::parse(g.key[1], nullptr, false)},
                        {"count", g.count},
                        {"machines", Machines(summary, summary.Members(g))}});
  }
  for (const FleetSummary::Group& g : summary.Changes()) {
    changes.push_back({{"what", g.key[0]},
                       {"before", g.key[1]},
                       {"after", g.key[2]},
                       {"count", g.count},
                       {"machines", Machines(summary, summary.Members(g))}});
  }
  out["outcomes"] = std::move(outcomes);
  out["commands"] = std::move(commands);
  out["changes"] = std::move(changes);
  Json machines = Json::array();
  for (const FleetSummary::Machine& m : summary.Machines()) {
    machines.push_back({{"machine", m.name},
                        {"outcome", OutcomeWord(m.kind)},
                        {"message", m.message},
                        {"commands", m.commands},
                        {"changes", m.changes}});
  }
  out["machines"] = std::move(machines);
  out["errors"] = report.check->Count(Severity::Error);
  out["warnings"] = report.check->Count(Severity::Warning);
  out["exit_code"] = report.ExitCode();
  return out.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace zrt::check
