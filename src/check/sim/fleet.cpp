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
  const auto utf8 = [](const std::string& ansi) { return sim::AnsiToUtf8(ansi); };
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
    keys_.push_back(&it->first);
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
  const auto [it, added] =
      profileIds_.try_emplace(std::move(profile), static_cast<std::uint32_t>(profileIds_.size()));
  if (added) {
    profileGroups_.push_back(&it->first);
    profileMachines_.emplace_back();
  }
  machine.profile = it->second;
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
    std::vector<std::uint32_t> ids = *profileGroups_[p];  // a machine counts once per group
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    for (std::uint32_t id : ids) profilesOf[id].push_back(p);
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

std::vector<RunCommand> FleetSummary::CommandsOf(std::size_t index) const {
  const Machine& m = machines_.at(index);
  std::vector<RunCommand> commands;
  if (m.profile >= profileGroups_.size()) return commands;  // not added
  const std::vector<std::uint32_t>& ids = *profileGroups_[m.profile];
  for (std::size_t i = 1; i <= m.commands; ++i) {
    const std::vector<std::string>& key = *keys_[ids[i]];
    commands.push_back({key[0], key[1]});
  }
  return commands;
}

std::vector<Change> FleetSummary::ChangesOf(std::size_t index) const {
  const Machine& m = machines_.at(index);
  std::vector<Change> changes;
  if (m.profile >= profileGroups_.size()) return changes;
  const std::vector<std::uint32_t>& ids = *profileGroups_[m.profile];
  for (std::size_t i = 1 + m.commands; i < ids.size(); ++i) {
    const std::vector<std::string>& key = *keys_[ids[i]];
    changes.push_back({key[0], key[1], key[2]});
  }
  return changes;
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

void WriteFleetJson(const FleetReport& report, const ToUtf8& utf8, const FleetOutput& out) {
  const FleetSummary& summary = *report.summary;
  const auto text = [](const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
  };
  // A member and its value; the value may be left open, to be streamed.
  const auto member = [&](const char* name, const std::string& value) {
    out(std::string("  ") + text(name) + ": " + value);
  };
  out("{\n");
  member("document", text(utf8(report.check->document)) + ",\n");
  member("fleet", text(report.fleet) + ",\n");
  Json findings = Json::array();
  for (const Noted& n : Notable(*report.check)) {
    findings.push_back({{"step", n.step},
                        {"severity", SeverityWord(n.finding->severity)},
                        {"subject", utf8(n.finding->subject)},
                        {"text", utf8(n.finding->text)}});
  }
  member("findings", text(findings) + ",\n");
  member("machine_count", std::to_string(summary.Machines().size()) + ",\n");
  member("success_count", std::to_string(summary.Count(OutcomeKind::Success)) + ",\n");
  // Each group with its machines, written name by name.
  const auto groups = [&](const char* name, const std::vector<FleetSummary::Group>& list,
                          const std::function<Json(const FleetSummary::Group&)>& fields) {
    member(name, "[");
    for (std::size_t i = 0; i < list.size(); ++i) {
      std::string head = text(fields(list[i]));
      head.pop_back();  // the closing brace
      out((i == 0 ? "\n    " : ",\n    ") + head + ", \"count\": " + std::to_string(list[i].count) +
          ", \"machines\": [");
      const auto members = summary.Members(list[i]);
      for (std::size_t m = 0; m < members.size(); ++m) {
        out((m == 0 ? "" : ", ") + text(summary.Machines()[members[m]].name));
      }
      out("]}");
    }
    out(list.empty() ? "],\n" : "\n  ],\n");
  };
  groups("outcomes", summary.Outcomes(), [](const FleetSummary::Group& g) {
    return Json{{"outcome", g.key[0]}, {"message", g.key[1]}};
  });
  groups("commands", summary.Commands(), [](const FleetSummary::Group& g) {
    return Json{{"command_line", g.key[0]}, {"exit_code", Json::parse(g.key[1], nullptr, false)}};
  });
  groups("changes", summary.Changes(), [](const FleetSummary::Group& g) {
    return Json{{"what", g.key[0]}, {"before", g.key[1]}, {"after", g.key[2]}};
  });
  member("machines", "[");
  for (std::size_t i = 0; i < summary.Machines().size(); ++i) {
    const FleetSummary::Machine& m = summary.Machines()[i];
    Json commands = Json::array(), changes = Json::array();
    for (const RunCommand& c : summary.CommandsOf(i)) {
      commands.push_back(
          {{"command_line", c.line}, {"exit_code", Json::parse(c.exitCode, nullptr, false)}});
    }
    for (const Change& c : summary.ChangesOf(i)) {
      changes.push_back({{"what", c.what}, {"before", c.before}, {"after", c.after}});
    }
    out((i == 0 ? "\n    " : ",\n    ") + text({{"machine", m.name},
                                                {"outcome", OutcomeWord(m.kind)},
                                                {"message", m.message},
                                                {"commands", std::move(commands)},
                                                {"changes", std::move(changes)}}));
  }
  out(summary.Machines().empty() ? "],\n" : "\n  ],\n");
  member("errors", std::to_string(report.check->Count(Severity::Error)) + ",\n");
  member("warnings", std::to_string(report.check->Count(Severity::Warning)) + ",\n");
  member("exit_code", std::to_string(report.ExitCode()) + "\n");
  out("}\n");
}

}  // namespace zrt::check
