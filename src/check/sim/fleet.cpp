#include "check/sim/fleet.h"

#include <algorithm>
#include <system_error>

#include "check/sim/row_spool.h"
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

}  // namespace

std::vector<FleetEntry> ListFleet(const fs::path& folder,
                                  const std::function<bool(const std::string&)>& keep) {
  std::error_code error;
  std::vector<FleetEntry> entries;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().u8string();
    if (name.empty() || name[0] == '.' || (keep && !keep(name))) continue;
    // An entry whose kind cannot be told (a link loop) is a file: its
    // rehearsal tells why it cannot be read.
    std::error_code unknown;
    entries.push_back(
        {name, it->path().string(),
         it->is_directory(unknown) ? FleetEntry::Kind::Folder : FleetEntry::Kind::File});
  }
  if (error)
    throw sim::MachineError("cannot list the fleet " + folder.string() + ": " + error.message());
  std::sort(entries.begin(), entries.end(),
            [](const FleetEntry& a, const FleetEntry& b) { return a.name < b.name; });
  return entries;
}

// The message without the line ends a status or log may carry.
std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

const char* kPostTroubles[][2] = {
    {"refused", "the post library refused the status"},
    {"raised", "the post library raised an exception"},
    {"hung", "the post library did not return within the program's bound"},
    {"no post library", "there is no post library"}};

std::string PostTroubleText(const std::string& trouble) {
  for (const auto& [code, why] : kPostTroubles) {
    if (trouble == code) return why;
  }
  return trouble;
}

MachineOutcome OutcomeOf(const Rehearsal& rehearsal) {
  const sim::AnsiCodePage ansi(rehearsal.codePage);
  const auto utf8 = [&](const std::string& text) { return Trimmed(ansi.ToUtf8(text)); };
  MachineOutcome outcome;
  std::string desc;
  for (const std::string& status : rehearsal.status) {
    const std::string found = Between(status, "<desc><![CDATA[", "]]></desc>");
    if (!found.empty()) desc = utf8(found);
  }
  outcome.delivery = rehearsal.delivery == Delivery::Delivered ? "delivered"
                     : rehearsal.delivery == Delivery::Filed   ? "filed"
                                                               : "none";
  const std::string filedWhy =
      rehearsal.delivery == Delivery::Filed ? PostTroubleText(rehearsal.postTrouble) : "";
  const std::string filedNote =
      filedWhy.empty() ? "" : " (status filed, not delivered: " + filedWhy + ")";
  std::string reason = rehearsal.delivery == Delivery::Filed ? rehearsal.postTrouble : "delivered";
  std::replace(reason.begin(), reason.end(), ' ', '-');
  std::string notStarted;
  for (const RunCommand& command : rehearsal.commands) {
    outcome.commands.push_back({utf8(command.line), command.exitCode, command.trouble});
    if (notStarted.empty() && command.trouble.rfind("did not start", 0) == 0) {
      notStarted = "Powercfg.exe " + command.trouble;
    }
  }
  if (rehearsal.ended.rfind("did not end", 0) == 0) {
    outcome.kind = OutcomeKind::Hung;
    outcome.reason = "time-out";
    outcome.message = "the program " + rehearsal.ended;
  } else if (!rehearsal.ended.empty()) {
    outcome.kind = OutcomeKind::Crashed;
    outcome.reason = "crash";
    outcome.message = "the program " + rehearsal.ended;
  } else if (rehearsal.outcome.empty()) {
    outcome.kind = OutcomeKind::NoStatus;
    outcome.reason = "no-status";
    for (auto line = rehearsal.log.rbegin(); line != rehearsal.log.rend(); ++line) {
      const std::string fields = LogFields(*line);
      if (fields.empty() || (*line)[0] == '#' || fields == "WinMain INFO Application End") {
        continue;
      }
      outcome.message = "the log ends with: " + utf8(fields);
      break;
    }
  } else if (rehearsal.delivery == Delivery::None) {
    outcome.kind = OutcomeKind::NoStatus;
    outcome.reason = "no-status";
    outcome.message = "the status was lost: " + PostTroubleText(rehearsal.postTrouble) +
                      ", and the fallback file could not be written";
  } else if (!notStarted.empty()) {
    outcome.kind = OutcomeKind::NoPowercfg;
    outcome.reason = "powercfg-not-started";
    outcome.message = notStarted + "; the job ends in " +
                      (rehearsal.outcome == "1" ? std::string("Success") : "Fail: " + desc) +
                      filedNote;
  } else if (rehearsal.outcome == "0") {
    outcome.kind = OutcomeKind::Fail;
    outcome.reason = "fail";
    outcome.message = desc + filedNote;
  } else {
    outcome.kind = filedWhy.empty() ? OutcomeKind::Success : OutcomeKind::Filed;
    outcome.reason = reason;
    outcome.message = filedWhy;
  }
  outcome.changes = rehearsal.namedChanges;
  outcome.windows = rehearsal.windows;
  outcome.capabilities = rehearsal.capabilities;
  outcome.logLines = rehearsal.log.size();
  for (std::size_t i = rehearsal.log.size() - std::min(rehearsal.log.size(), kLogTail);
       i < rehearsal.log.size(); ++i) {
    outcome.log.push_back(ansi.ToUtf8(rehearsal.log[i]));  // as written, spaces and all
  }
  for (const std::string& status : rehearsal.status) outcome.status.push_back(utf8(status));
  return outcome;
}

MachineOutcome NotRehearsed(std::string reason, std::string why) {
  MachineOutcome outcome;
  outcome.reason = std::move(reason);
  outcome.message = std::move(why);
  return outcome;
}

namespace {
struct KindText {
  OutcomeKind kind;
  const char* word;
  const char* heading;
};
constexpr KindText kKindTexts[] = {
    {OutcomeKind::Crashed, "crashed", "crashed: changes made, no status"},
    {OutcomeKind::Hung, "did not end", "did not end: no status"},
    {OutcomeKind::NoStatus, "no status", "no status"},
    {OutcomeKind::NoPowercfg, "Powercfg.exe did not start", "Powercfg.exe could not start"},
    {OutcomeKind::Fail, "Fail", "Fail"},
    {OutcomeKind::NotRehearsed, "not rehearsed", "not rehearsed"},
    {OutcomeKind::Filed, "Success, filed", "Success, status filed, not delivered"},
    {OutcomeKind::Success, "Success", "Success"}};
}  // namespace

const char* OutcomeWord(OutcomeKind kind) {
  for (const KindText& k : kKindTexts) {
    if (k.kind == kind) return k.word;
  }
  return "";
}

const char* OutcomeHeading(OutcomeKind kind) {
  for (const KindText& k : kKindTexts) {
    if (k.kind == kind) return k.heading;
  }
  return "";
}

OutcomeKind OutcomeKindOf(const std::string& word) {
  for (const KindText& k : kKindTexts) {
    if (word == k.word) return k.kind;
  }
  return OutcomeKind::NotRehearsed;
}

FleetSummary::FleetSummary(const std::vector<std::string>& names, const fs::path& folder)
    : kinds_(names.size(), OutcomeKind::NotRehearsed),
      jsonRows_(std::make_unique<RowSpool>(folder / "rows.json", names.size())),
      htmlRows_(std::make_unique<RowSpool>(folder / "rows.html", names.size())) {
  names_.reserve(names.size());
  for (const std::string& name : names) names_.push_back(ShownName(name));
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

FleetSummary::~FleetSummary() = default;

void FleetSummary::JsonRows(const RowOutput& out) const { jsonRows_->ForEach(out); }

void FleetSummary::HtmlRows(const RowOutput& out) const { htmlRows_->ForEach(out); }

void FleetSummary::Add(std::size_t index, const MachineOutcome& outcome) {
  const Machine whole{names_.at(index), outcome};
  jsonRows_->Put(index, MachineRowJson(whole).dump(-1, ' ', false, Json::error_handler_t::replace));
  htmlRows_->Put(index, MachineRowHtml(whole, index));
  kinds_[index] = outcome.kind;
  std::vector<std::uint32_t> profile;
  profile.push_back(
      Gather(outcomes_, {OutcomeWord(outcome.kind), outcome.reason, outcome.message}, index, 0));
  for (std::size_t i = 0; i < outcome.commands.size(); ++i) {
    const RunCommand& c = outcome.commands[i];
    profile.push_back(Gather(commands_, {c.line, c.exitCode, c.trouble}, index, i));
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
  return static_cast<std::size_t>(std::count(kinds_.begin(), kinds_.end(), kind));
}

std::vector<FleetSummary::Group> FleetSummary::Sorted(const Groups& groups, bool byKind) const {
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
  const auto rank = [byKind](const Group& g) {
    return byKind ? static_cast<int>(OutcomeKindOf(g.key[0])) : 0;
  };
  std::sort(order.begin(), order.end(), [&](const auto& a, const auto& b) {
    if (rank(a.first) != rank(b.first)) return rank(a.first) < rank(b.first);
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
  // likely, and not a job that works everywhere. A part of a fleet may hold
  // none of its machines.
  if (summary->Names().empty() && part.shard.parts == 1) return 2;
  // A status only filed is a warning; any other outcome than Success fails.
  const std::size_t filed = summary->Count(OutcomeKind::Filed);
  if (summary->Count(OutcomeKind::Success) + filed != summary->Names().size()) return 2;
  // The machines' own rehearsals tell whether the job fails on them: the
  // document's errors, checked as on a Windows-1252 machine (a name outside
  // that code page may be inside theirs), only warn here.
  return std::max(std::min(check->ExitCode(), 1), filed != 0 ? 1 : 0);
}

}  // namespace zrt::check
