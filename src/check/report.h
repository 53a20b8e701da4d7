// What the check finds in a job document, step by step, and what a
// rehearsal on a simulated machine showed. Texts are in the ANSI code page
// of the platform the check ran on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zrt::check {

enum class Severity {
  Info,     // what a value will do
  Warning,  // a value that probably does not do what its author meant
  Error,    // the job would fail, or the document cannot be read
};

struct Finding {
  Severity severity;
  std::string subject;  // a field or element name, or what the finding is about
  std::string text;
};

// A Powercfg.exe command line a step would run.
struct PlannedCommand {
  std::string line;
  std::string condition;  // empty: always; else where it runs
  std::string refusal;    // non-empty: why the program refuses it unrun
};

struct StepReport {
  int number = 0;  // from 1, in document order
  std::string value;
  std::string action;
  std::string schemeName;
  // UTF-8: the whole name as the document spells it, for headings; the name
  // above is what the program reads (cut to its field, in the code page).
  std::string schemeNameAsWritten;
  bool known = false;  // the action names an operation
  std::vector<Finding> findings;
  std::vector<PlannedCommand> commands;
};

// One change of the simulated machine's power state: `before` or `after`
// is empty when the entry did not exist then.
struct Change {
  std::string what;
  std::string before;
  std::string after;
};

struct RunCommand {
  std::string line;
  std::string exitCode;  // "null" while it still ran or when it did not start
  // Empty when the command ran to its end; else "did not start (error N)"
  // or "ended at its time-out".
  std::string trouble;
};

// How the status document left the machine.
enum class Delivery {
  None,       // no status was reported, or it was neither delivered nor filed
  Delivered,  // the post library took it
  Filed,      // written as a fallback file on the machine: not delivered
};

struct Rehearsal {
  std::string machine;              // the machine folder as given, shown in UTF-8
  std::string argument;             // the job argument the program was started with
  std::vector<std::string> log;     // the activity log's new lines
  std::vector<std::string> status;  // the status documents posted or written
  std::vector<RunCommand> commands;
  std::vector<Change> changes;
  // The same changes with schemes told by name rather than index (the
  // active scheme too), as a fleet of machines groups them; UTF-8.
  std::vector<Change> namedChanges;
  std::string outcome;  // "1", "0" or empty when no status was reported
  // Empty when the program ended by itself; else how it ended ("died of
  // signal 11 (Segmentation fault)", "did not end within 60 s").
  std::string ended;
  Delivery delivery = Delivery::None;
  // What the post library did with the last post, when the status was not
  // delivered: "refused", "raised", "hung", "crashed" or "no post library".
  std::string postTrouble;
  std::string windows;                    // "5.1.2600"
  std::vector<std::string> capabilities;  // "batteries", "lid", ...
  std::uint32_t codePage = 1252;          // the machine's ANSI code page, its texts' code page
};

struct Report {
  std::string document;  // the path as given
  bool readable = false;
  std::string root;               // the root element's name
  std::string scriptId;           // the script header's script id
  std::vector<Finding> findings;  // the document and its script header
  std::vector<StepReport> steps;
  std::optional<Rehearsal> rehearsal;

  int Count(Severity severity) const;
  // 0 when nothing is wrong, 1 with warnings, 2 when the job would fail or
  // the document cannot be read.
  int ExitCode() const;
};

}  // namespace zrt::check
