// The fleet summary as one page for those who would rather look than read:
// a bar of outcomes, the groups, and a table of the machines that sorts by
// any column. Everything is inline: no outside scripts, styles or fonts.
#include "check/sim/fleet.h"

namespace zrt::check {
namespace {

std::string Escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

const char* Colour(const std::string& outcome) {
  if (outcome == OutcomeWord(OutcomeKind::Success)) return "#2e7d32";
  if (outcome == OutcomeWord(OutcomeKind::Fail)) return "#c62828";
  if (outcome == OutcomeWord(OutcomeKind::NoStatus)) return "#ef6c00";
  return "#616161";
}

std::string MachineList(const FleetSummary& summary, const std::vector<std::size_t>& machines) {
  std::string out;
  for (std::size_t i = 0; i < machines.size(); ++i) {
    out += (i == 0 ? "" : ", ") + Escaped(summary.Machines()[machines[i]].name);
  }
  return machines.size() > 3 ? "<details><summary>" + std::to_string(machines.size()) +
                                   " machines</summary>" + out + "</details>"
                             : out;
}

void GroupTable(const FleetSummary& summary, const std::vector<FleetSummary::Group>& groups,
                const std::string& heading,
                const std::function<std::string(const FleetSummary::Group&)>& what,
                const FleetOutput& out) {
  out("<h2>" + heading + "</h2>\n");
  if (groups.empty()) return out("<p>(none)</p>\n");
  out("<table><tr><th>Machines</th><th>What</th><th>Which</th></tr>\n");
  for (const FleetSummary::Group& g : groups) {
    out("<tr><td class=n>" + std::to_string(g.count) + "</td><td>" + what(g) + "</td><td>" +
        MachineList(summary, summary.Members(g)) + "</td></tr>\n");
  }
  out("</table>\n");
}

const char* kStyle = R"(body{font:14px/1.4 sans-serif;margin:2em;color:#212121}
table{border-collapse:collapse;margin:.5em 0 1.5em}td,th{border:1px solid #ccc;padding:3px 8px;
text-align:left;vertical-align:top}th{background:#eee}td.n{text-align:right}
#machines th{cursor:pointer}.bar{display:flex;height:28px;border-radius:4px;overflow:hidden}
.bar div{color:#fff;text-align:center;line-height:28px;white-space:nowrap;overflow:hidden}
.key span{display:inline-block;width:12px;height:12px;margin:0 4px 0 12px}code{font-size:13px})";

// Sorts the machine table by the column clicked; again for the other way.
const char* kScript = R"(document.querySelectorAll('#machines th').forEach(function(th,col){
th.onclick=function(){var t=th.closest('table'),rows=Array.from(t.rows).slice(1),
up=th.dataset.up!=='1';th.dataset.up=up?'1':'0';rows.sort(function(a,b){
var x=a.cells[col].textContent,y=b.cells[col].textContent,
c=(isNaN(x)||isNaN(y))?x.localeCompare(y):x-y;return up?c:-c;});
rows.forEach(function(r){t.tBodies[0].appendChild(r);});};});)";

}  // namespace

void WriteFleetHtml(const FleetReport& report, const ToUtf8& utf8, const FleetOutput& write) {
  const FleetSummary& summary = *report.summary;
  const std::size_t total = summary.Machines().size();
  const std::string title =
      "zrt-check: " + utf8(report.check->document) + " on the fleet " + report.fleet;
  std::string out = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" +
                    Escaped(title) + "</title>\n<style>" + kStyle + "</style></head><body>\n";
  out += "<h1>" + Escaped(title) + "</h1>\n<p>" +
         std::to_string(summary.Count(OutcomeKind::Success)) + " of " + std::to_string(total) +
         " machines end in Success. The document has " +
         std::to_string(report.check->Count(Severity::Error)) + " errors and " +
         std::to_string(report.check->Count(Severity::Warning)) + " warnings.</p>\n";

  // The bar: Success first, then each kind of trouble, one part per group.
  out += "<div class=bar>";
  const auto outcomes = summary.Outcomes();
  const OutcomeKind kinds[] = {OutcomeKind::Success, OutcomeKind::Fail, OutcomeKind::NoStatus,
                               OutcomeKind::NotRehearsed};
  for (const OutcomeKind kind : kinds) {
    for (const FleetSummary::Group& g : outcomes) {
      if (g.key[0] != OutcomeWord(kind)) continue;
      const double share = total == 0 ? 0 : 100.0 * g.count / total;
      out += "<div style=\"width:" + std::to_string(share) + "%;background:" + Colour(g.key[0]) +
             "\" title=\"" + Escaped(g.key[0] + (g.key[1].empty() ? "" : ": " + g.key[1])) + " (" +
             std::to_string(g.count) + ")\">" + std::to_string(g.count) + "</div>";
    }
  }
  out += "</div>\n<p class=key>";
  for (const OutcomeKind kind : kinds) {
    out += std::string("<span style=\"background:") + Colour(OutcomeWord(kind)) + "\"></span>" +
           OutcomeWord(kind) + " " + std::to_string(summary.Count(kind));
  }
  out += "</p>\n";
  write(out);

  GroupTable(
      summary, outcomes, "Outcomes",
      [](const FleetSummary::Group& g) {
        return "<b>" + Escaped(g.key[0]) + "</b>" +
               (g.key[1].empty() ? "" : " " + Escaped(g.key[1]));
      },
      write);
  GroupTable(
      summary, summary.Commands(), "Commands run",
      [](const FleetSummary::Group& g) {
        return "<code>" + Escaped(g.key[0]) + "</code> (exit " + Escaped(g.key[1]) + ")";
      },
      write);
  GroupTable(
      summary, summary.Changes(), "Changes on the machines",
      [](const FleetSummary::Group& g) {
        const std::string what = "<code>" + Escaped(g.key[0]) + "</code>: ";
        if (g.key[1].empty()) return what + "added " + Escaped(g.key[2]);
        if (g.key[2].empty()) return what + "removed " + Escaped(g.key[1]);
        return what + Escaped(g.key[1]) + " &rarr; " + Escaped(g.key[2]);
      },
      write);

  write(
      "<h2>Machines</h2>\n<p>Click a heading to sort.</p>\n<table id=machines><thead><tr>"
      "<th>Machine</th><th>Outcome</th><th>Message</th><th>Commands</th><th>Changes</th>"
      "</tr></thead><tbody>\n");
  for (const FleetSummary::Machine& m : summary.Machines()) {
    write("<tr><td>" + Escaped(m.name) + "</td><td style=\"color:" + Colour(OutcomeWord(m.kind)) +
          "\">" + OutcomeWord(m.kind) + "</td><td>" + Escaped(m.message) + "</td><td class=n>" +
          std::to_string(m.commands) + "</td><td class=n>" + std::to_string(m.changes) +
          "</td></tr>\n");
  }
  write("</tbody></table>\n<script>" + std::string(kScript) + "</script>\n</body></html>\n");
}

}  // namespace zrt::check
