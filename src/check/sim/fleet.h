// One job rehearsed on a fleet of simulated machines, told as one summary:
// the machines grouped by outcome, by the commands they ran and by what
// changed on them. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "check/render.h"
#include "check/report.h"
#include "check/sim/fleet_shard.h"
#include "check/sim/shown_name.h"
#include "platform/sim/sim_json_file.h"

namespace zrt::check {

class RowSpool;

// An entry of the fleet folder: a machine folder, or a file (a capture of a
// machine in one file, which this version does not read).
struct FleetEntry {
  enum class Kind { Folder, File };
  std::string name;  // the entry's name in the fleet folder
  std::string path;  // kept as text: a path's parts would cost more than the fleet's rows
  Kind kind = Kind::Folder;
};

// Every entry of `folder` but hidden ones, and with `keep` only those whose
// name it keeps, sorted by name. Throws sim::MachineError when the folder
// cannot be listed.
std::vector<FleetEntry> ListFleet(const std::filesystem::path& folder,
                                  const std::function<bool(const std::string&)>& keep = {});

// How the job ended on a machine, the worst first.
enum class OutcomeKind {
  Crashed,       // the program died: changes may be made, no status
  Hung,          // the program ran away (a real hang, not a wait): no status
  NoStatus,      // the program ended without reporting a status
  NoPowercfg,    // a Powercfg.exe command could not start
  Fail,          // the status says Fail
  NotRehearsed,  // the entry is no usable machine
  Filed,         // Success, but the status was filed on the machine, not delivered
  Success,       // Success, delivered
};
constexpr OutcomeKind kOutcomeKinds[] = {
    OutcomeKind::Crashed, OutcomeKind::Hung,         OutcomeKind::NoStatus, OutcomeKind::NoPowercfg,
    OutcomeKind::Fail,    OutcomeKind::NotRehearsed, OutcomeKind::Filed,    OutcomeKind::Success};

constexpr std::size_t kLogTail = 40;

// What the job did on one machine. Texts are UTF-8.
struct MachineOutcome {
  OutcomeKind kind = OutcomeKind::NotRehearsed;
  // A word a program can test: "crash", "time-out", "no-status",
  // "powercfg-not-started", "fail", "damaged", "not-a-machine", "unreadable",
  // "document"; for a status: "delivered", or why it was filed: "refused",
  // "raised", "hung", "no-post-library".
  std::string reason;
  // Fail: the status document's failure message; NoStatus: the activity
  // log's last line before the end; others: what happened.
  std::string message;
  std::string delivery = "none";  // "delivered", "filed" or "none"
  std::string entry = "folder";   // "folder", "bundle" or "file"
  std::vector<RunCommand> commands;
  std::vector<Change> changes;  // schemes told by name
  std::string windows;          // "5.1.2600"; empty when not rehearsed
  std::vector<std::string> capabilities;
  // The activity log's last new lines (at most kLogTail: a fleet keeps
  // every machine's), of logLines.
  std::vector<std::string> log;
  std::size_t logLines = 0;
  std::vector<std::string> status;  // the status documents
};

// What the post library did with the status ("refused", ...), told.
std::string PostTroubleText(const std::string& trouble);
// The outcome of a rehearsal as a fleet groups it (Rehearsal texts are ANSI).
MachineOutcome OutcomeOf(const Rehearsal& rehearsal);

// A fleet entry that cannot be rehearsed, and why (`reason` as above).
MachineOutcome NotRehearsed(std::string reason, std::string why);

// Machines gathered by what they have in common. Each distinct outcome,
// command and change is kept once; machines with the same outcome, commands
// and changes share one profile, and a group knows its machines through the
// profiles that hold it. Each machine's rows (JSON and page) are made when
// it is added and kept in files; of the machine itself only its name and
// its outcome's kind stay. So the summary grows with the machines' names and
// the profiles, not with what each machine did.
class FleetSummary {
 public:
  struct Group {
    // outcome: kind word, reason, message; command: line, exit code,
    // trouble; change: what, before, after
    std::vector<std::string> key;
    std::size_t count = 0;  // machines
    std::vector<std::uint32_t> profiles;
  };
  struct Machine {
    std::string name;
    MachineOutcome outcome;
  };

  // The machines `names`, their rows kept in files in `folder`.
  FleetSummary(const std::vector<std::string>& names, const std::filesystem::path& folder);
  // The outcome of machine `index`; machines may come in any order.
  void Add(std::size_t index, const MachineOutcome& outcome);
  ~FleetSummary();
  FleetSummary(const FleetSummary&) = delete;
  FleetSummary& operator=(const FleetSummary&) = delete;

  // Each added machine's index and row in order: MachineRowJson dumped on
  // one line, or MachineRowHtml.
  using RowOutput = std::function<void(std::size_t, const std::string&)>;
  void JsonRows(const RowOutput& out) const;
  void HtmlRows(const RowOutput& out) const;

  // The machines' names as shown, in order.
  const std::vector<std::string>& Names() const { return names_; }
  std::size_t Count(OutcomeKind kind) const;
  // Groups with the most machines first; equal ones in the order of their
  // first machine, then of first appearance on it. Outcomes by kind, the
  // worst first, then so.
  std::vector<Group> Outcomes() const { return Sorted(outcomes_, true); }
  std::vector<Group> Commands() const { return Sorted(commands_); }
  std::vector<Group> Changes() const { return Sorted(changes_); }
  // The group's machines (indices into Names()), ascending.
  std::vector<std::size_t> Members(const Group& group) const;

 private:
  struct Gathered {
    std::uint32_t id;
    std::pair<std::size_t, std::size_t> first;  // machine, position on it
  };
  using Groups = std::map<std::vector<std::string>, Gathered>;
  std::uint32_t Gather(Groups& groups, std::vector<std::string> key, std::size_t machine,
                       std::size_t position);
  std::vector<Group> Sorted(const Groups& groups, bool byKind = false) const;

  std::vector<std::string> names_;
  std::vector<OutcomeKind> kinds_;  // NotRehearsed until added
  std::unique_ptr<RowSpool> jsonRows_, htmlRows_;
  Groups outcomes_, commands_, changes_;
  std::uint32_t nextId_ = 0;
  std::map<std::vector<std::uint32_t>, std::uint32_t> profileIds_;  // group ids -> profile
  std::vector<const std::vector<std::uint32_t>*> profileGroups_;    // keys of profileIds_
  std::vector<std::vector<std::uint32_t>> profileMachines_;         // ascending
};

const char* OutcomeWord(OutcomeKind kind);
// The kind with what it means, as a heading: "crashed: changes made, no status".
const char* OutcomeHeading(OutcomeKind kind);
OutcomeKind OutcomeKindOf(const std::string& word);

// The document's check as a header (its warnings and errors) and the fleet.
struct FleetReport {
  const Report* check;  // the document's check
  std::string fleet;    // the fleet folder as given (UTF-8)
  const FleetSummary* summary;
  FleetPart part{};  // the part of the fleet rehearsed: 1 of 1 for the whole
  // 2 when a machine does not end in Success or there is none; else the
  // document check's.
  int ExitCode() const;
};

// `utf8` converts the check's ANSI texts.
std::string RenderFleetText(const FleetReport& report, const ToUtf8& utf8);
// Where a writer puts its text, piece by piece, so a large fleet's output is
// never held whole.
using FleetOutput = std::function<void(const std::string&)>;
// The JSON document: the summary's members, its groups a group to a line,
// then one row per machine.
void WriteFleetJson(const FleetReport& report, const ToUtf8& utf8, const FleetOutput& out);
sim::Json MachineRowJson(const FleetSummary::Machine& machine);
// One self-contained page: no outside scripts, styles or fonts. Its head
// and summary, one table row (with its detail) per machine, and its end.
void WriteFleetHtml(const FleetReport& report, const ToUtf8& utf8, const FleetOutput& out);
void WriteFleetHtmlHead(const FleetReport& report, const ToUtf8& utf8, const FleetOutput& out);
std::string MachineRowHtml(const FleetSummary::Machine& machine, std::size_t index);
std::string FleetHtmlEnd();

}  // namespace zrt::check
