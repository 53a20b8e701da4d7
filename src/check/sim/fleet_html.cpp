// The fleet summary as one page for those who would rather look than read:
// a bar of outcomes, the groups (each machine a link to its row), and a
// table of the machines that filters and sorts by any column, each row with
// its detail (the log's end, the status, the commands and the changes).
// Everything is inline: no outside scripts, styles or fonts.
#include <functional>
#include <utility>

#include "check/sim/fleet.h"

namespace zrt::check {
namespace {

// Text for the page: markup's own characters as references, and controls
// (C0 but tab and line ends, DEL, C1), which no page may hold, as \xNN the
// way names show them (C1 as \u00NN: their \xNN would read as a byte).
std::string Escaped(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (c == 0xC2 && next >= 0x80 && next < 0xA0) {
      out += "\\u00" + HexByte(next);
      ++i;
    } else if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F) {
      out += "\\x" + HexByte(c);
    } else if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '"') {
      out += "&quot;";
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// Each at least 4.5:1 against white, as text on white and as white on it.
const char* Colour(OutcomeKind kind) {
  switch (kind) {
    case OutcomeKind::Crashed:
      return "#6a1b9a";
    case OutcomeKind::Hung:
      return "#880e4f";
    case OutcomeKind::NoStatus:
      return "#a84300";
    case OutcomeKind::NoPowercfg:
      return "#4e342e";
    case OutcomeKind::Fail:
      return "#c62828";
    case OutcomeKind::NotRehearsed:
      return "#616161";
    case OutcomeKind::Filed:
      return "#1565c0";
    case OutcomeKind::Success:
      return "#2e7d32";
  }
  return "#212121";
}

std::string MachineLink(const FleetSummary& summary, std::size_t machine) {
  return "<a href=\"#m" + std::to_string(machine) + "\">" + Escaped(summary.Names()[machine]) +
         "</a>";
}

// The group's machines as links, given to `out` a few hundred at a time, so
// a group of the whole fleet is never held as one text.
void MachineList(const FleetSummary& summary, const std::vector<std::size_t>& machines,
                 const FleetOutput& out) {
  constexpr std::size_t kPerPiece = 256;
  const bool folded = machines.size() > 3;
  std::string piece =
      folded ? "<details><summary>" + std::to_string(machines.size()) + " machines</summary>" : "";
  for (std::size_t i = 0; i < machines.size(); ++i) {
    piece += (i == 0 ? "" : ", ") + MachineLink(summary, machines[i]);
    if ((i + 1) % kPerPiece == 0) out(std::exchange(piece, {}));
  }
  out(piece + (folded ? "</details>" : ""));
}

void GroupTable(const FleetSummary& summary, const std::vector<FleetSummary::Group>& groups,
                const std::string& heading,
                const std::function<std::string(const FleetSummary::Group&)>& what,
                const FleetOutput& out) {
  out("<h2>" + heading + "</h2>\n");
  if (groups.empty()) return out("<p>(none)</p>\n");
  out("<table class=groups><thead><tr><th scope=col>Machines</th><th scope=col>What</th>"
      "<th scope=col>Which</th></tr></thead><tbody>\n");
  for (const FleetSummary::Group& g : groups) {
    out("<tr><td class=n>" + std::to_string(g.count) + "</td><td>" + what(g) + "</td><td>");
    MachineList(summary, summary.Members(g), out);
    out("</td></tr>\n");
  }
  out("</tbody></table>\n");
}

std::string ChangeHtml(const std::string& what, const std::string& before,
                       const std::string& after) {
  const std::string shown = "<code>" + Escaped(what) + "</code>: ";
  if (before.empty()) return shown + "added " + Escaped(after);
  if (after.empty()) return shown + "removed " + Escaped(before);
  return shown + Escaped(before) + " &rarr; " + Escaped(after);
}

std::string CommandHtml(const std::string& line, const std::string& exitCode,
                        const std::string& trouble) {
  return "<code>" + Escaped(line) + "</code> (" +
         Escaped(trouble.empty() ? "exit " + exitCode : trouble) + ")";
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += Escaped(line) + "\n";
  return out;
}

// Names keep their spaces (two may differ only there) and wrap when long, a
// short one staying on one line; an outcome's words never break.
const char* kStyle = R"(body{font:14px/1.4 sans-serif;margin:1.5em;color:#212121;max-width:1600px}
table{border-collapse:collapse;margin:.5em 0 1.5em;width:100%}
td,th{border:1px solid #bdbdbd;padding:3px 8px;text-align:left;vertical-align:top;
overflow-wrap:anywhere}th{background:#eee;overflow-wrap:normal;white-space:nowrap}td.n{text-align:right;white-space:nowrap}
table.groups td:first-child{width:5em}table.groups td:last-child{width:30%}
#machines td.name{white-space:pre-wrap;font-weight:bold;min-width:10em}#machines td.k{overflow-wrap:normal}
table.groups a,tr.more summary{white-space:pre-wrap}#machines td.msg{min-width:14em}
#machines th button{font:inherit;font-weight:bold;background:none;border:0;padding:0;
cursor:pointer;color:inherit}#machines th button:focus{outline:2px solid #1565c0}
#machines th[aria-sort=ascending] button::after{content:" \25B2"}
#machines th[aria-sort=descending] button::after{content:" \25BC"}
tr.more td{border-top:0;padding-top:0}tr.more summary{color:#1565c0;cursor:pointer}
pre{white-space:pre-wrap;overflow-wrap:anywhere;background:#f5f5f5;padding:4px;margin:2px 0}
.bar{display:flex;height:28px;border-radius:4px;overflow:hidden}
.bar div{color:#fff;text-align:center;line-height:28px;white-space:nowrap;overflow:hidden}
.key span{display:inline-block;width:12px;height:12px;margin:0 4px 0 12px}code{font-size:13px}
#filter{font:inherit;padding:3px 6px;width:24em}:target{background:#fff8e1})";

// Sorts the machine table by the heading's button (mouse or keyboard),
// again for the other way, telling the order in aria-sort: by a cell's
// data-sort key if it has one (the outcome's rank), else by its text, runs
// of digits as numbers (so versions part by part). Filters the machines by
// their row's text and their outcome's heading. A link to a machine shows
// its row (clearing a filter that hides it) and opens its detail.
const char* kScript = R"((function(){var t=document.getElementById('machines');
var heads=t.tHead.rows[0].cells;function key(b,col){var c=b.rows[0].cells[col];
return c.getAttribute('data-sort')||c.textContent;}
Array.prototype.forEach.call(heads,function(th,col){
th.querySelector('button').addEventListener('click',function(){
var up=th.getAttribute('aria-sort')!=='ascending';
Array.prototype.forEach.call(heads,function(h){h.setAttribute('aria-sort','none');});
th.setAttribute('aria-sort',up?'ascending':'descending');
var bodies=Array.prototype.slice.call(t.tBodies);bodies.sort(function(a,b){
var c=key(a,col).localeCompare(key(b,col),undefined,{numeric:true});return up?c:-c;});
bodies.forEach(function(b){t.appendChild(b);});});});
var f=document.getElementById('filter'),n=document.getElementById('shown');
function filter(){var q=f.value.toLowerCase(),k=0;
Array.prototype.forEach.call(t.tBodies,function(b){var r=b.rows[0];
var on=(r.textContent+' '+r.cells[1].title).toLowerCase().indexOf(q)>=0;b.hidden=!on;if(on)k++;});
n.textContent=k+' of '+t.tBodies.length+' machines shown';}
f.addEventListener('input',filter);if(f.value)filter();
function show(id){var b=document.getElementById(id);if(!b||b.parentNode!==t)return null;
if(b.hidden){f.value='';filter();}var d=b.querySelector('details');if(d)d.open=true;return b;}
document.addEventListener('click',function(e){var a=e.target.closest('a[href^="#m"]');
if(a)show(a.getAttribute('href').slice(1));});
function open(){var b=location.hash&&show(location.hash.slice(1));if(b)b.scrollIntoView();}
window.addEventListener('hashchange',open);open();})();)";

}  // namespace

void WriteFleetHtmlHead(const FleetReport& report, const ToUtf8& utf8, const FleetOutput& write) {
  const FleetSummary& summary = *report.summary;
  const std::size_t total = summary.Names().size();
  const std::string title =
      "zrt-check: " + utf8(report.check->document) + " on the fleet " + report.fleet;
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width\"><title>" +
      Escaped(title) + "</title>\n<style>" + kStyle + "</style></head><body>\n";
  out += "<h1>" + Escaped(title) + "</h1>\n<p>" +
         std::to_string(summary.Count(OutcomeKind::Success)) + " of " + std::to_string(total) +
         " machines end in Success with the status delivered. The document has " +
         std::to_string(report.check->Count(Severity::Error)) + " error(s) and " +
         std::to_string(report.check->Count(Severity::Warning)) + " warning(s).</p>\n";

  // The bar: the worst first, one part per group.
  const auto outcomes = summary.Outcomes();
  out += "<div class=bar role=img aria-label=\"outcomes\">";
  for (const FleetSummary::Group& g : outcomes) {
    const double share = total == 0 ? 0 : 100.0 * static_cast<double>(g.count) / total;
    out += "<div style=\"width:" + std::to_string(share) +
           "%;background:" + Colour(OutcomeKindOf(g.key[0])) + "\" title=\"" +
           Escaped(g.key[0] + (g.key[2].empty() ? "" : ": " + g.key[2])) + " (" +
           std::to_string(g.count) + ")\">" + std::to_string(g.count) + "</div>";
  }
  out += "</div>\n<p class=key>";
  for (const OutcomeKind kind : kOutcomeKinds) {
    if (summary.Count(kind) == 0) continue;
    out += std::string("<span style=\"background:") + Colour(kind) + "\"></span>" +
           OutcomeHeading(kind) + ": " + std::to_string(summary.Count(kind));
  }
  out += "</p>\n";
  write(std::exchange(out, {}));

  GroupTable(
      summary, outcomes, "Outcomes, the worst first",
      [](const FleetSummary::Group& g) {
        return "<b style=\"color:" + std::string(Colour(OutcomeKindOf(g.key[0]))) + "\">" +
               Escaped(OutcomeHeading(OutcomeKindOf(g.key[0]))) + "</b> " +
               Escaped(g.key[2].empty() ? "status " + g.key[1] : g.key[2]) + " <small>(" +
               Escaped(g.key[1]) + ")</small>";
      },
      write);
  GroupTable(
      summary, summary.Commands(), "Commands run",
      [](const FleetSummary::Group& g) { return CommandHtml(g.key[0], g.key[1], g.key[2]); },
      write);
  GroupTable(
      summary, summary.Changes(), "Changes on the machines",
      [](const FleetSummary::Group& g) { return ChangeHtml(g.key[0], g.key[1], g.key[2]); }, write);

  out +=
      "<h2>Machines</h2>\n<p><label>Filter: <input type=search id=filter "
      "placeholder=\"name, outcome, message, version...\"></label> <span id=shown "
      "aria-live=polite></span></p>\n<table id=machines><thead><tr>";
  for (const char* heading :
       {"Machine", "Outcome", "Message", "Windows", "Capabilities", "Commands", "Changes"}) {
    out += std::string("<th scope=col aria-sort=none><button type=button>") + heading +
           "</button></th>";
  }
  write(out + "</tr></thead>\n");
}

std::string MachineRowHtml(const FleetSummary::Machine& machine, std::size_t index) {
  const MachineOutcome& m = machine.outcome;
  std::string capabilities;
  for (const std::string& c : m.capabilities) {
    capabilities += (capabilities.empty() ? "" : ", ") + c;
  }
  std::string out =
      "<tbody id=\"m" + std::to_string(index) + "\"><tr><td class=name>" + Escaped(machine.name) +
      "</td><td class=k data-sort=" + std::to_string(static_cast<int>(m.kind)) + " title=\"" +
      Escaped(std::string(OutcomeHeading(m.kind)) + " (" + m.reason + ")") +
      "\" style=\"color:" + Colour(m.kind) + "\">" + OutcomeWord(m.kind) + "</td><td class=msg>" +
      Escaped(m.message) + "</td><td class=n>" + Escaped(m.windows) + "</td><td>" +
      Escaped(capabilities) + "</td><td class=n>" + std::to_string(m.commands.size()) +
      "</td><td class=n>" + std::to_string(m.changes.size()) + "</td></tr>\n";
  out += "<tr class=more><td colspan=7><details><summary>Detail of " + Escaped(machine.name) +
         " (" + Escaped(m.entry) + ", reason " + Escaped(m.reason) + ", status " +
         Escaped(m.delivery) + ")</summary>\n<b>Commands</b><ol>";
  for (const RunCommand& c : m.commands) {
    out += "<li>" + CommandHtml(c.line, c.exitCode, c.trouble) + "</li>";
  }
  out += "</ol><b>Changes</b><ul>";
  for (const Change& c : m.changes) out += "<li>" + ChangeHtml(c.what, c.before, c.after) + "</li>";
  out += "</ul><b>Status</b><pre>" + Lines(m.status) + "</pre><b>Activity log</b> (" +
         std::to_string(m.logLines) + " lines" +
         (m.logLines > m.log.size() ? ", the last " + std::to_string(m.log.size()) + " here" : "") +
         ")<pre>" + Lines(m.log) + "</pre></details></td></tr></tbody>\n";
  return out;
}

std::string FleetHtmlEnd() {
  return "</table>\n<script>" + std::string(kScript) + "</script>\n</body></html>\n";
}

void WriteFleetHtml(const FleetReport& report, const ToUtf8& utf8, const FleetOutput& out) {
  WriteFleetHtmlHead(report, utf8, out);
  report.summary->HtmlRows([&out](std::size_t, const std::string& row) { out(row); });
  out(FleetHtmlEnd());
}

}  // namespace zrt::check
