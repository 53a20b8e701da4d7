// The fleet summary as text and as JSON.
#include <algorithm>

#include "check/sim/fleet.h"

namespace zrt::check {
namespace {

using sim::Json;

// Names the first few machines of a group, counting the rest.
std::string Named(const FleetSummary& summary, const std::vector<std::size_t>& machines) {
  constexpr std::size_t kNamed = 3;
  std::string out;
  for (std::size_t i = 0; i < machines.size() && i < kNamed; ++i) {
    out += (i == 0 ? "" : ", ") + summary.Names()[machines[i]];
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

// "1 error", "2 errors".
std::string Counted(std::size_t n, const std::string& what) {
  return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

// How a command ended, as the text shows it: "[exit 0]", "[did not start
// (error 2: not found)]".
std::string Ended(const std::string& exitCode, const std::string& trouble) {
  return "[" + (trouble.empty() ? "exit " + exitCode : trouble) + "]";
}

// A value of the power state as a JSON value; null when there was none.
Json Value(const std::string& text) {
  return text.empty() ? Json() : Json::parse(text, nullptr, false);
}

Json ChangeJson(const std::string& what, const std::string& before, const std::string& after) {
  return {{"what", what}, {"before", Value(before)}, {"after", Value(after)}};
}

}  // namespace

std::string RenderFleetText(const FleetReport& report, const ToUtf8& utf8) {
  const FleetSummary& summary = *report.summary;
  const std::size_t total = summary.Names().size();
  std::string out = "Job document " + utf8(report.check->document) + ": " +
                    Counted(report.check->Count(Severity::Error), "error") + ", " +
                    Counted(report.check->Count(Severity::Warning), "warning") +
                    " (checked as on a Windows-1252 machine; each machine's rehearsal tells its "
                    "own; zrt-check without --fleet tells them step by step)\n";
  for (const Noted& n : Notable(*report.check)) {
    out += std::string("  ") + (n.step == 0 ? "" : "step " + std::to_string(n.step) + ": ") +
           SeverityWord(n.finding->severity) + ": " + utf8(n.finding->subject) + ": " +
           utf8(n.finding->text) + "\n";
  }
  const Shard& shard = report.part.shard;
  const std::string part = shard.parts == 1 ? "" : PartName(shard);
  out += "\nFleet " + report.fleet + (part.empty() ? "" : " (" + part + ")") + ": " +
         Counted(total, "machine") + ", each rehearsed on a copy (left untouched)\n";
  out += "\nOutcomes, the worst first:\n";
  std::string kind;
  for (const FleetSummary::Group& g : summary.Outcomes()) {
    if (g.key[0] != kind) {
      kind = g.key[0];
      const OutcomeKind k = OutcomeKindOf(kind);
      out += "  " + std::string(OutcomeHeading(k)) + " (" + Counted(summary.Count(k), "machine") +
             ")\n";
    }
    out += "    " + std::to_string(g.count) + " " +
           (g.key[2].empty() ? "status " + g.key[1] : g.key[2]) + "\n        " +
           Named(summary, summary.Members(g)) + "\n";
  }
  out += "\nCommands run:\n";
  if (summary.Commands().empty()) out += "  (none)\n";
  for (const FleetSummary::Group& g : summary.Commands()) {
    out += "  " + std::to_string(g.count) + " " + Ended(g.key[1], g.key[2]) + " " + g.key[0] +
           "\n      " + Named(summary, summary.Members(g)) + "\n";
  }
  out += "\nChanges on the machines:\n";
  if (summary.Changes().empty()) out += "  (none)\n";
  for (const FleetSummary::Group& g : summary.Changes()) {
    out += "  " + std::to_string(g.count) + " " + ChangeText(g.key) + "\n      " +
           Named(summary, summary.Members(g)) + "\n";
  }
  const std::size_t success = summary.Count(OutcomeKind::Success);
  const std::size_t filed = summary.Count(OutcomeKind::Filed);
  out += "\n" + std::to_string(success) + " of " + Counted(total, "machine") +
         (success == 1 ? " ends" : " end") + " in Success with the status delivered" +
         (total == 0 && !part.empty() ? ": " + part + " holds none of the fleet's machines"
          : total == 0                ? ": the fleet folder holds no machine"
          : success == total          ? ""
          : success + filed == total
              ? ": the others end in Success with the status only filed on the machine"
              : ": the job would fail or cannot be rehearsed on the others") +
         "\n";
  return out;
}

namespace {

std::string Dumped(const Json& json, int indent = -1) {
  return json.dump(indent, ' ', false, Json::error_handler_t::replace);
}

// The members of a JSON object as dumped, without its closing brace, so
// more members can follow.
std::string Opened(const Json& object, int indent = -1) {
  std::string text = Dumped(object, indent);
  text.erase(text.find_last_of('}'));
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

// One list of groups, a group to a line, each with its machines' names
// written a few hundred at a time: a group may hold the whole fleet.
void WriteGroups(const FleetSummary& summary, const char* name,
                 const std::vector<FleetSummary::Group>& groups,
                 const std::function<Json(const FleetSummary::Group&)>& members,
                 const FleetOutput& out) {
  constexpr std::size_t kPerPiece = 256;
  out(",\n  \"" + std::string(name) + "\": [");
  for (std::size_t i = 0; i < groups.size(); ++i) {
    Json group = members(groups[i]);
    group["count"] = groups[i].count;
    std::string piece = (i == 0 ? "\n    " : ",\n    ") + Opened(group) + ",\"machines\":[";
    const std::vector<std::size_t> machines = summary.Members(groups[i]);
    for (std::size_t k = 0; k < machines.size(); ++k) {
      piece += (k == 0 ? "" : ",") + Dumped(Json(summary.Names()[machines[k]]));
      if ((k + 1) % kPerPiece == 0) out(std::exchange(piece, {}));
    }
    out(piece + "]}");
  }
  out(groups.empty() ? "]" : "\n  ]");
}

}  // namespace

Json MachineRowJson(const FleetSummary::Machine& machine) {
  const MachineOutcome& m = machine.outcome;
  Json commands = Json::array(), changes = Json::array();
  for (const RunCommand& c : m.commands) {
    commands.push_back(
        {{"command_line", c.line}, {"exit_code", Value(c.exitCode)}, {"trouble", c.trouble}});
  }
  for (const Change& c : m.changes) changes.push_back(ChangeJson(c.what, c.before, c.after));
  return {{"machine", machine.name},
          {"entry", m.entry},
          {"outcome", OutcomeWord(m.kind)},
          {"reason", m.reason},
          {"message", m.message},
          {"delivery", m.delivery},
          {"windows", m.windows},
          {"capabilities", m.capabilities},
          {"commands", std::move(commands)},
          {"changes", std::move(changes)},
          {"log", m.log},
          {"log_lines", m.logLines},
          {"status", m.status}};
}

void WriteFleetJson(const FleetReport& report, const ToUtf8& utf8, const FleetOutput& out) {
  const FleetSummary& summary = *report.summary;
  Json head = Json::object();
  head["document"] = utf8(report.check->document);
  head["fleet"] = report.fleet;
  // A part tells which it is, and of which document's content, so that only
  // the parts of one job merge; a whole run's result merges as it is.
  const FleetPart& part = report.part;
  if (part.shard.parts != 1) {
    head["shard"] = {
        {"part", part.shard.part},
        {"parts", part.shard.parts},
        {"document_sha256", part.documentSha256.empty() ? Json() : Json(part.documentSha256)}};
  }
  Json findings = Json::array();
  for (const Noted& n : Notable(*report.check)) {
    findings.push_back({{"step", n.step},
                        {"severity", SeverityWord(n.finding->severity)},
                        {"subject", utf8(n.finding->subject)},
                        {"text", utf8(n.finding->text)}});
  }
  head["findings"] = std::move(findings);
  head["machine_count"] = summary.Names().size();
  head["success_count"] = summary.Count(OutcomeKind::Success);
  Json counts = Json::object();
  for (const OutcomeKind kind : kOutcomeKinds) counts[OutcomeWord(kind)] = summary.Count(kind);
  head["outcome_counts"] = std::move(counts);
  out(Opened(head, 2));

  // The groups, then the machines row by row.
  WriteGroups(
      summary, "outcomes", summary.Outcomes(),
      [](const FleetSummary::Group& g) {
        return Json{{"outcome", g.key[0]}, {"reason", g.key[1]}, {"message", g.key[2]}};
      },
      out);
  WriteGroups(
      summary, "commands", summary.Commands(),
      [](const FleetSummary::Group& g) {
        return Json{
            {"command_line", g.key[0]}, {"exit_code", Value(g.key[1])}, {"trouble", g.key[2]}};
      },
      out);
  WriteGroups(
      summary, "changes", summary.Changes(),
      [](const FleetSummary::Group& g) { return ChangeJson(g.key[0], g.key[1], g.key[2]); }, out);
  const Json tail = {{"errors", report.check->Count(Severity::Error)},
                     {"warnings", report.check->Count(Severity::Warning)},
                     {"exit_code", report.ExitCode()}};
  out(",\n  " + Opened(tail).substr(1) + ",\n  \"machines\": [");
  bool any = false;
  summary.JsonRows([&](std::size_t, const std::string& row) {
    out((any ? ",\n    " : "\n    ") + row);
    any = true;
  });
  out(any ? "\n  ]\n}\n" : "]\n}\n");
}

}  // namespace zrt::check
