#include "check/sim/fleet_runner.h"

#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <stdexcept>
#include <thread>

#include "check/sim/interruption.h"
#include "check/sim/rehearsal.h"
#include "check/sim/scratch_folder.h"
#include "platform/sim/sim_code_page.h"
#include "platform/sim/sim_json_file.h"

namespace zrt::check {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using sim::Json;

unsigned Processors() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
    return static_cast<unsigned>(CPU_COUNT(&set));
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

// Every `from` in `text` replaced by `to`.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// A machine's problem without the folders it was found in, so machines with
// the same problem share one group.
std::string Unplaced(std::string message, const fs::path& machine, const fs::path& scratch) {
  // The copy, or the bundle unpacked, lies in a folder of its own under
  // `scratch`: .../zrt-check-XXXXXX/machine or .../machine-bundle
  const std::string root = scratch.string() + "/zrt-check-";
  for (std::size_t at = message.find(root); at != std::string::npos; at = message.find(root)) {
    std::size_t end = message.find("/machine", at + root.size());
    if (end == std::string::npos) break;
    end += std::strlen("/machine");
    if (message.compare(end, 7, "-bundle") == 0) end += 7;
    if (end < message.size() && message[end] == '/') ++end;
    if (message.compare(end, 2, ": ") == 0) end += 2;  // the copy as the message's subject
    message.erase(at, end - at);
  }
  message = Replaced(message, machine.string() + "/", "");
  return Replaced(message, machine.string(), "the machine folder");
}

// Why an entry cannot be rehearsed, as a reason word.
std::string ReasonOf(const std::string& why) {
  if (why.rfind("a file, not a machine folder", 0) == 0) return "not-a-machine";
  if (why.rfind("cannot be read", 0) == 0 || why.rfind("neither a file", 0) == 0 ||
      why.find(": Permission denied") != std::string::npos) {
    return "unreadable";
  }
  return "damaged";
}

MachineOutcome RehearseEntry(const FleetEntry& entry, const fs::path& document,
                             const std::string& scriptId, const RehearsalOptions& options) {
  MachineOutcome outcome;
  try {
    outcome = OutcomeOf(Rehearse(entry.path, document, scriptId, options));
  } catch (const std::exception& e) {
    const std::string why = MachineProblem(e.what(), entry.path, options.scratchRoot);
    outcome = NotRehearsed(ReasonOf(why), why);
  }
  outcome.entry = entry.kind == FleetEntry::Kind::Folder                                ? "folder"
                  : outcome.reason == "not-a-machine" || outcome.reason == "unreadable" ? "file"
                                                                                        : "bundle";
  return outcome;
}

// The outcome as the child hands it to the parent, and back.
Json ToJson(const MachineOutcome& o) {
  Json commands = Json::array(), changes = Json::array();
  for (const RunCommand& c : o.commands) commands.push_back({c.line, c.exitCode, c.trouble});
  for (const Change& c : o.changes) changes.push_back({c.what, c.before, c.after});
  return {{"kind", static_cast<int>(o.kind)},
          {"reason", o.reason},
          {"message", o.message},
          {"delivery", o.delivery},
          {"entry", o.entry},
          {"commands", std::move(commands)},
          {"changes", std::move(changes)},
          {"windows", o.windows},
          {"capabilities", o.capabilities},
          {"log", o.log},
          {"log_lines", o.logLines},
          {"status", o.status}};
}

MachineOutcome FromJson(const Json& json) {
  MachineOutcome o;
  o.kind = static_cast<OutcomeKind>(json.at("kind").get<int>());
  for (auto [text, name] : {std::pair{&o.reason, "reason"},
                            {&o.message, "message"},
                            {&o.delivery, "delivery"},
                            {&o.entry, "entry"},
                            {&o.windows, "windows"}}) {
    *text = json.at(name).get<std::string>();
  }
  for (const Json& c : json.at("commands")) o.commands.push_back({c[0], c[1], c[2]});
  for (const Json& c : json.at("changes")) o.changes.push_back({c[0], c[1], c[2]});
  o.capabilities = json.at("capabilities").get<std::vector<std::string>>();
  o.log = json.at("log").get<std::vector<std::string>>();
  o.logLines = json.at("log_lines").get<std::size_t>();
  o.status = json.at("status").get<std::vector<std::string>>();
  return o;
}

// Blocks SIGCHLD while the fleet runs, so the parent can wait for it with a
// time-out; the children start with the mask as it was.
class ChildSignalBlock {
 public:
  ChildSignalBlock() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGCHLD);
    sigprocmask(SIG_BLOCK, &set_, &previous_);
  }
  ~ChildSignalBlock() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  ChildSignalBlock(const ChildSignalBlock&) = delete;
  ChildSignalBlock& operator=(const ChildSignalBlock&) = delete;

  const sigset_t& Set() const { return set_; }
  const sigset_t& Previous() const { return previous_; }

 private:
  sigset_t set_, previous_;
};

struct Running {
  std::size_t index;
  Clock::time_point deadline;
  bool killed = false;
};

// The rehearsals still running, each ended with its group and waited for
// when the fleet stops early (an interruption): nothing writes into the
// scratch folder as it goes.
class RunningRehearsals : public std::map<pid_t, Running> {
 public:
  RunningRehearsals() = default;
  RunningRehearsals(const RunningRehearsals&) = delete;
  RunningRehearsals& operator=(const RunningRehearsals&) = delete;
  ~RunningRehearsals() {
    for (const auto& [pid, r] : *this) kill(-pid, SIGKILL);
    for (const auto& [pid, r] : *this) waitpid(pid, nullptr, 0);
  }
};

}  // namespace

std::string MachineProblem(const std::string& what, const fs::path& machine,
                           const fs::path& scratch) {
  return ShownText(Unplaced(what, machine, scratch));
}

void RehearseFleet(const std::vector<FleetEntry>& entries, const fs::path& document,
                   const std::string& scriptId, const FleetOptions& options,
                   FleetSummary& summary) {
  const unsigned jobs = options.jobs != 0 ? options.jobs : 2 * Processors();
  ScratchFolder scratch(options.rehearsal.scratchRoot);
  const auto resultFile = [&scratch](std::size_t index) {
    return scratch.Path() / (std::to_string(index) + ".json");
  };
  ChildSignalBlock block;
  RunningRehearsals running;
  std::size_t next = 0;
  std::fflush(nullptr);

  const auto finished = [&](pid_t pid, int status) {
    const Running done = running.at(pid);
    running.erase(pid);
    const std::string& name = entries[done.index].name;
    MachineOutcome outcome;
    // The program runs in a child of the rehearsal, which tells how it
    // ended; the rehearsal itself (the copy, the reading of what changed)
    // is ended here only when it runs away too.
    if (done.killed) {
      // The copy or the reading of what changed ran away: the machine's run
      // did not end.
      outcome = NotRehearsed("time-out", "the rehearsal did not end within " +
                                             std::to_string(2 * options.rehearsal.timeoutSeconds) +
                                             " s (twice --timeout)");
      outcome.kind = OutcomeKind::Hung;
    } else if (WIFSIGNALED(status)) {
      outcome =
          NotRehearsed("crash", "the rehearsal died of signal " + std::to_string(WTERMSIG(status)) +
                                    " (" + strsignal(WTERMSIG(status)) + ")");
    } else {
      try {
        outcome = FromJson(sim::ReadJsonFile(resultFile(done.index), Json()));
      } catch (const std::exception&) {
        outcome =
            NotRehearsed("crash", "the rehearsal of " + name + " ended with exit code " +
                                      std::to_string(WEXITSTATUS(status)) + " and told nothing");
      }
    }
    summary.Add(done.index, outcome);
    std::error_code ignored;
    fs::remove(resultFile(done.index), ignored);
  };

  while (next < entries.size() || !running.empty()) {
    ThrowIfInterrupted();
    while (running.size() < jobs && next < entries.size()) {
      const std::size_t index = next++;
      const pid_t pid = fork();
      if (pid < 0) {
        if (running.empty()) {
          summary.Add(index, NotRehearsed("unreadable", std::string("cannot start a rehearsal: ") +
                                                            std::strerror(errno)));
          continue;
        }
        --next;  // try again once a rehearsal has ended
        break;
      }
      if (pid == 0) {
        // The child: rehearse, leave the outcome in a file, end without
        // running the parent's destructors (its scratch folder is the
        // parent's).
        sigprocmask(SIG_SETMASK, &block.Previous(), nullptr);
        setpgid(0, 0);  // a group of its own, ended with the program it runs
        int code = 0;
        try {
          RehearsalOptions rehearsal = options.rehearsal;
          rehearsal.scratchRoot = scratch.Path();
          const Json outcome = ToJson(RehearseEntry(entries[index], document, scriptId, rehearsal));
          sim::WriteJsonFile(resultFile(index), outcome);
        } catch (...) {
          code = 3;
        }
        std::fflush(nullptr);
        _exit(code);
      }
      setpgid(pid, pid);
      running[pid] = {index,
                      Clock::now() + std::chrono::seconds(2 * options.rehearsal.timeoutSeconds)};
    }

    bool reaped = false;
    for (auto it = running.begin(); it != running.end();) {
      int status = 0;
      const pid_t pid = it->first;
      ++it;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        finished(pid, status);
        reaped = true;
      }
    }
    if (reaped || running.empty()) continue;

    Clock::time_point soonest = Clock::time_point::max();
    for (const auto& [pid, r] : running) {
      if (!r.killed) soonest = std::min(soonest, r.deadline);
    }
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(soonest - Clock::now());
    if (soonest != Clock::time_point::max() && left.count() <= 0) {
      for (auto& [pid, r] : running) {
        if (!r.killed && r.deadline <= Clock::now()) {
          kill(-pid, SIGKILL);
          r.killed = true;
        }
      }
      continue;
    }
    // At most a second: an interruption that came just before is seen then.
    const auto wait = std::min<std::chrono::nanoseconds>(left, std::chrono::seconds(1));
    timespec ts{static_cast<time_t>(wait.count() / 1000000000),
                static_cast<long>(wait.count() % 1000000000)};
    sigtimedwait(&block.Set(), nullptr, &ts);
  }
}

}  // namespace zrt::check
