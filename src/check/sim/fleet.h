// One job rehearsed on a fleet of simulated machines, told as one summary:
// the machines grouped by outcome, by the commands they ran and by what
// changed on them. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "check/render.h"
#include "check/report.h"

namespace zrt::check {

// An entry of the fleet folder: a machine folder, or a file (a capture of a
// machine in one file, which this version does not read).
struct FleetEntry {
  enum class Kind { Folder, File };
  std::string name;  // the entry's name in the fleet folder
  std::filesystem::path path;
  Kind kind = Kind::Folder;
};

// Every entry of `folder` but hidden ones, sorted by name. Throws
// sim::MachineError when the folder cannot be listed.
std::vector<FleetEntry> ListFleet(const std::filesystem::path& folder);

enum class OutcomeKind { Success, Fail, NoStatus, NotRehearsed };

// What the job did on one machine.
struct MachineOutcome {
  OutcomeKind kind = OutcomeKind::NotRehearsed;
  // Fail: the status document's failure message; NoStatus: the activity
  // log's last line before the end; NotRehearsed: why.
  std::string message;
  std::vector<RunCommand> commands;
  std::vector<Change> changes;  // schemes told by name
};

// The outcome of a rehearsal as a fleet groups it (Rehearsal texts are ANSI).
MachineOutcome OutcomeOf(const Rehearsal& rehearsal);

// Machines gathered by what they have in common. Each distinct outcome,
// command and change is kept once; machines with the same outcome, commands
// and changes (in the same order) share one profile, and a group knows its
// machines through the profiles that hold it. So the summary grows with the
// machines' names and the profiles, not with what each machine did, and
// still tells each machine's commands and changes.
class FleetSummary {
 public:
  struct Group {
    std::vector<std::string> key;  // outcome: kind, message; command: line,
                                   // exit code; change: what, before, after
    std::size_t count = 0;         // machines
    std::vector<std::uint32_t> profiles;
  };
  struct Machine {
    std::string name;
    OutcomeKind kind = OutcomeKind::NotRehearsed;
    std::string message;
    std::size_t commands = 0;
    std::size_t changes = 0;
    std::uint32_t profile = 0;
  };

  explicit FleetSummary(std::vector<std::string> names);
  // The outcome of machine `index`; machines may come in any order.
  void Add(std::size_t index, const MachineOutcome& outcome);

  const std::vector<Machine>& Machines() const { return machines_; }
  std::size_t Count(OutcomeKind kind) const;
  // Groups with the most machines first; equal ones in the order of their
  // first machine, then of first appearance on it.
  std::vector<Group> Outcomes() const { return Sorted(outcomes_); }
  std::vector<Group> Commands() const { return Sorted(commands_); }
  std::vector<Group> Changes() const { return Sorted(changes_); }
  // The group's machines (indices into Machines()), ascending.
  std::vector<std::size_t> Members(const Group& group) const;
  // What machine `index` ran and changed, in order.
  std::vector<RunCommand> CommandsOf(std::size_t index) const;
  std::vector<Change> ChangesOf(std::size_t index) const;

 private:
  struct Gathered {
    std::uint32_t id;
    std::pair<std::size_t, std::size_t> first;  // machine, position on it
  };
  using Groups = std::map<std::vector<std::string>, Gathered>;
  std::uint32_t Gather(Groups& groups, std::vector<std::string> key, std::size_t machine,
                       std::size_t position);
  std::vector<Group> Sorted(const Groups& groups) const;

  std::vector<Machine> machines_;
  Groups outcomes_, commands_, changes_;
  std::uint32_t nextId_ = 0;
  std::vector<const std::vector<std::string>*> keys_;  // by group id
  // The group ids of a machine in order (outcome, commands, changes) -> profile
  std::map<std::vector<std::uint32_t>, std::uint32_t> profileIds_;
  std::vector<const std::vector<std::uint32_t>*> profileGroups_;  // keys of profileIds_
  std::vector<std::vector<std::uint32_t>> profileMachines_;       // ascending
};

const char* OutcomeWord(OutcomeKind kind);

// The document's check as a header (its warnings and errors) and the fleet.
struct FleetReport {
  const Report* check;  // the document's check
  std::string fleet;    // the fleet folder as given (UTF-8)
  const FleetSummary* summary;
  // 2 when a machine does not end in Success or there is none; else the
  // document check's.
  int ExitCode() const;
};

// Where a writer puts its text, piece by piece, so a large fleet's output
// is never held whole.
using FleetOutput = std::function<void(std::string_view)>;

// `utf8` converts the check's ANSI texts.
std::string RenderFleetText(const FleetReport& report, const ToUtf8& utf8);
// The groups, then one row per machine with its commands and changes.
void WriteFleetJson(const FleetReport& report, const ToUtf8& utf8, const FleetOutput& out);
// One self-contained page: no outside scripts, styles or fonts.
void WriteFleetHtml(const FleetReport& report, const ToUtf8& utf8, const FleetOutput& out);

}  // namespace zrt::check
