// zrt-check on Linux: tells what a job document will do, reading it with the
// program's own reader through a simulated machine whose drive C: is the
// document's folder; with --machine, rehearses the job on a copy of a
// simulated machine; with --fleet, on every machine of a folder of them.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "check/document_check.h"
#include "check/render.h"
#include "check/sim/fleet.h"
#include "check/sim/fleet_merge.h"
#include "check/sim/fleet_runner.h"
#include "check/sim/fleet_shard.h"
#include "check/sim/interruption.h"
#include "check/sim/page_file.h"
#include "check/sim/rehearsal.h"
#include "check/sim/scratch_folder.h"
#include "platform/sim/sim_code_page.h"
#include "platform/sim/sim_json_file.h"
#include "platform/sim/sim_platform.h"

namespace {

namespace fs = std::filesystem;
using zrt::check::Report;
using zrt::check::Severity;

#ifndef ZRT_POST_BOUND_MS
#define ZRT_POST_BOUND_MS 300000
#endif

constexpr unsigned long kMostJobs = 256;
constexpr unsigned long kLongestTimeout = 86400;

int Usage() {
  std::fprintf(stderr,
               "usage: zrt-check JOB.xml [--machine DIR|BUNDLE] [--json] [--timeout SECONDS]\n"
               "       zrt-check JOB.xml --fleet DIR [--json] [--html FILE] [--jobs N] "
               "[--timeout SECONDS] [--shard K/N]\n"
               "       zrt-check --merge RESULT.json... [--json] [--html FILE]\n");
  return 2;
}

// The host's temporary folder ($TMPDIR, else /tmp), where every scratch
// folder is made.
fs::path TemporaryFolder() {
  std::error_code error;
  fs::path folder = fs::temp_directory_path(error);
  if (error) {
    const char* tmpdir = std::getenv("TMPDIR");
    throw zrt::sim::MachineError(
        "no temporary folder" + (tmpdir != nullptr ? " (TMPDIR " + std::string(tmpdir) + ")" : "") +
        ": " + error.message());
  }
  return folder;
}

// Reads the document through a throwaway machine whose drive C: is the
// document's folder, in the ANSI code page `ansi`; nothing is written there.
Report Check(const fs::path& document, const std::string& shown, const zrt::sim::AnsiCodePage& ansi,
             const fs::path& scratchRoot) {
  zrt::check::ScratchFolder scratch(scratchRoot);
  const fs::path folder = fs::absolute(document).parent_path();
  zrt::sim::Json machine = {{"current_directory", "C:\\"},
                            {"folders", zrt::sim::Json::array()},
                            {"code_pages", {{"ansi", ansi.Number()}}}};
  // A folder that does not exist is not made: the document is then not found.
  machine["drives"]["C"] = fs::is_directory(folder) ? folder.u8string() : scratch.Path().u8string();
  zrt::sim::WriteJsonFile(scratch.Path() / "machine.json", machine);
  zrt::sim::SimPlatform platform(scratch.Path(), "");
  platform.Machine().KeepPrivate();
  Report report = zrt::check::CheckDocument(platform.Platform(),
                                            "C:\\" + ansi.FromUtf8(document.filename().u8string()),
                                            ansi.FromUtf8(shown));
  platform.Machine().DropRecords();
  return report;
}

// A whole number from `least` to `most`, or nothing when the text is not one.
std::optional<unsigned> Number(const char* text, unsigned long least, unsigned long most) {
  char* end = nullptr;
  errno = 0;
  const unsigned long n = std::strtoul(text, &end, 10);
  if (*text < '0' || *text > '9' || *end != '\0' || errno != 0 || n < least || n > most) {
    return std::nullopt;
  }
  return static_cast<unsigned>(n);
}

// Writes to the standard output; output that cannot be written (a full
// disk) fails the run, and a reader gone ends it as its signal asks.
bool outputFailed = false;  // and told

void Print(const std::string& text) {
  zrt::check::ThrowIfInterrupted();
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
    const int error = errno;
    zrt::check::ThrowIfInterrupted();
    outputFailed = true;
    throw zrt::sim::MachineError(std::string("cannot write the output: ") + std::strerror(error));
  }
}

// Prints the fleet's summary (or JSON) and writes its page, when one is
// asked for, each piece as it is made.
int Tell(const zrt::check::FleetReport& report, bool json, zrt::check::PageFile* page,
         const char* html, const zrt::check::ToUtf8& utf8) {
  const auto print = [](const std::string& text) { Print(text); };
  if (json) {
    zrt::check::WriteFleetJson(report, utf8, print);
  } else {
    print(zrt::check::RenderFleetText(report, utf8));
  }
  if (page != nullptr) {
    zrt::check::WriteFleetHtml(report, utf8, [page](const std::string& text) {
      zrt::check::ThrowIfInterrupted();
      page->Stream() << text;
    });
    if (!page->Commit()) {
      std::fprintf(stderr, "zrt-check: cannot write %s\n", html);
      return 2;
    }
  }
  return report.ExitCode();
}

// Makes the page's file first: a page that cannot be written is told before
// the rehearsals, not after.
std::unique_ptr<zrt::check::PageFile> OpenPage(const char* html) {
  if (html == nullptr) return nullptr;
  return std::make_unique<zrt::check::PageFile>(fs::u8path(html));
}

// Rehearses the checked job on every machine of the fleet (or of its part)
// and tells the summary.
int Fleet(const Report& report, const char* document, const char* fleet, bool json,
          const char* html, const zrt::check::FleetOptions& options,
          const zrt::check::Shard& shard) {
  const auto utf8 = [](std::string_view ansi) { return zrt::sim::Windows1252().ToUtf8(ansi); };
  auto page = OpenPage(html);
  const auto entries = zrt::check::ListFleet(
      fs::u8path(fleet), [&shard](const std::string& name) { return InShard(name, shard); });
  std::vector<std::string> names;
  for (const auto& entry : entries) names.push_back(entry.name);
  const zrt::check::ScratchFolder rows(options.rehearsal.scratchRoot);
  zrt::check::FleetSummary summary(names, rows.Path());
  if (report.readable) {
    zrt::check::RehearseFleet(entries, fs::u8path(document), report.scriptId, options, summary);
  } else {
    auto unread = zrt::check::NotRehearsed("document", "the job document cannot be read");
    for (std::size_t i = 0; i < entries.size(); ++i) {
      unread.entry = entries[i].kind == zrt::check::FleetEntry::Kind::Folder ? "folder" : "file";
      summary.Add(i, unread);
    }
  }
  return Tell({&report, zrt::check::ShownName(fleet), &summary,
               zrt::check::PartOf(shard, fs::u8path(document))},
              json, page.get(), html, utf8);
}

// Merges the JSON results of a fleet's parts and tells them as one.
int Merge(const std::vector<fs::path>& results, bool json, const char* html) {
  auto page = OpenPage(html);
  const zrt::check::ScratchFolder rows(TemporaryFolder());
  const zrt::check::MergedFleet merged = zrt::check::MergeFleetResults(results, rows.Path());
  const auto same = [](std::string_view utf8) { return std::string(utf8); };  // already UTF-8
  return Tell({&merged.check, merged.fleet, merged.summary.get()}, json, page.get(), html, same);
}

bool TakesValue(const char* option) {
  for (const char* known : {"--machine", "--fleet", "--html", "--jobs", "--timeout", "--shard"}) {
    if (std::strcmp(option, known) == 0) return true;
  }
  return false;
}

// Rehearses the job on one machine; a machine that cannot be rehearsed is
// named in the message, as a fleet names it in its row.
zrt::check::Rehearsal RehearseMachine(const char* machine, const char* document,
                                      const std::string& scriptId,
                                      const zrt::check::RehearsalOptions& options) {
  try {
    return zrt::check::Rehearse(fs::u8path(machine), fs::u8path(document), scriptId, options);
  } catch (const zrt::sim::MachineError& e) {
    const std::string why =
        zrt::check::MachineProblem(e.what(), fs::u8path(machine), options.scratchRoot);
    throw zrt::sim::MachineError(zrt::check::ShownText(machine) + ": " + why);
  }
}

// What an administrator must know of a rehearsal's outcome, as findings:
// what a fleet files under any outcome but Success fails, a status only
// filed warns.
void TellRehearsal(const zrt::check::Rehearsal& r, std::vector<zrt::check::Finding>& findings) {
  const auto tell = [&findings](Severity severity, std::string what) {
    findings.push_back({severity, "rehearsal", std::move(what)});
  };
  if (!r.ended.empty()) {
    return tell(Severity::Error,
                "the program " + r.ended + " on this machine: changes may be made, no status");
  }
  if (r.outcome.empty()) {
    return tell(Severity::Error,
                "the job ends before its steps on this machine: no status is reported");
  }
  const std::string trouble = zrt::check::PostTroubleText(r.postTrouble);
  if (r.delivery == zrt::check::Delivery::None) {
    tell(Severity::Error, "the status is lost on this machine: " + trouble +
                              ", and the fallback file could not be written");
  } else if (r.delivery == zrt::check::Delivery::Filed) {
    tell(Severity::Warning, "the status is filed on this machine, not delivered: " + trouble);
  }
  if (r.outcome == "0") {
    tell(Severity::Error, "the job fails on this machine: its status document says Fail");
  }
  for (const zrt::check::RunCommand& command : r.commands) {
    if (command.trouble.rfind("did not start", 0) == 0) {
      tell(Severity::Error, "Powercfg.exe " + command.trouble + ": " + command.line);
    }
  }
}

// A command line zrt-check cannot follow: says why, then how it is used.
int Misuse(const std::string& why) {
  std::fprintf(stderr, "zrt-check: %s\n", why.c_str());
  return Usage();
}

int BadValue(const char* option, const char* value, const char* wanted) {
  return Misuse(std::string(option) + " " + value + ": " + wanted);
}

// What the command line asks for.
struct CommandLine {
  const char* document = nullptr;
  const char* machine = nullptr;
  const char* fleet = nullptr;
  const char* html = nullptr;
  bool json = false;
  bool merge = false;
  std::vector<fs::path> results;
  zrt::check::FleetOptions options;
  std::optional<zrt::check::Shard> shard;
  bool timeoutGiven = false;
};

// Why options given together cannot be followed, or nothing when they can.
std::optional<std::string> Conflict(const CommandLine& line) {
  const bool jobsGiven = line.options.jobs != 0;
  if (line.merge) {
    if (line.document != nullptr) return "--merge takes results, not a job document";
    if (line.machine != nullptr || line.fleet != nullptr) {
      return "--merge goes without --machine or --fleet";
    }
    if (line.results.empty()) return "--merge wants at least one RESULT.json";
    if (jobsGiven || line.shard || line.timeoutGiven) {
      return "--jobs, --shard and --timeout go with --fleet";
    }
    return std::nullopt;
  }
  if (line.document == nullptr) return "no job document given";
  if (line.fleet != nullptr && line.machine != nullptr) {
    return "--machine and --fleet do not go together";
  }
  if (line.fleet != nullptr) return std::nullopt;
  if (line.html != nullptr) return "--html goes with --fleet or --merge";
  if (jobsGiven) return "--jobs goes with --fleet";
  if (line.shard) return "--shard goes with --fleet";
  if (line.timeoutGiven && line.machine == nullptr) {
    return "--timeout goes with --machine or --fleet";
  }
  return std::nullopt;
}

int Run(int argc, char** argv) {
  CommandLine line;
  zrt::check::FleetOptions& options = line.options;
  options.rehearsal.postBoundMs = ZRT_POST_BOUND_MS;
  std::set<std::string> given;  // an option given twice is no choice between them
  for (int i = 1; i < argc; ++i) {
    if (TakesValue(argv[i]) && i + 1 < argc && !given.insert(argv[i]).second) {
      return Misuse(argv[i] + std::string(" given twice"));
    }
    if (std::strcmp(argv[i], "--json") == 0) {
      line.json = true;
    } else if (std::strcmp(argv[i], "--machine") == 0 && i + 1 < argc) {
      line.machine = argv[++i];
    } else if (std::strcmp(argv[i], "--fleet") == 0 && i + 1 < argc) {
      line.fleet = argv[++i];
    } else if (std::strcmp(argv[i], "--html") == 0 && i + 1 < argc) {
      line.html = argv[++i];
    } else if (std::strcmp(argv[i], "--jobs") == 0 && i + 1 < argc) {
      const auto jobs = Number(argv[++i], 1, kMostJobs);
      if (!jobs) return BadValue("--jobs", argv[i], "wants a whole number from 1 to 256");
      options.jobs = *jobs;
    } else if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
      const auto seconds = Number(argv[++i], 1, kLongestTimeout);
      if (!seconds) {
        return BadValue("--timeout", argv[i], "wants a whole number of seconds from 1 to 86400");
      }
      options.rehearsal.timeoutSeconds = *seconds;
      line.timeoutGiven = true;
    } else if (std::strcmp(argv[i], "--shard") == 0 && i + 1 < argc) {
      line.shard = zrt::check::ParseShard(argv[++i]);
      if (!line.shard) return BadValue("--shard", argv[i], "wants K/N, 1 <= K <= N <= 10000");
    } else if (std::strcmp(argv[i], "--merge") == 0) {
      line.merge = true;
    } else if (line.merge && argv[i][0] != '-') {
      line.results.push_back(fs::u8path(argv[i]));
    } else if (argv[i][0] == '-') {
      return Misuse(argv[i] + std::string(TakesValue(argv[i]) ? ": wants a value after it"
                                                              : ": not an option of zrt-check"));
    } else if (line.document != nullptr) {
      return Misuse(std::string("one job document only: ") + line.document + " and " + argv[i]);
    } else {
      line.document = argv[i];
    }
  }
  if (const auto why = Conflict(line)) return Misuse(*why);
  // What a rehearsal makes is removed when it is stopped; a check alone
  // makes nothing and stops as any program does.
  if (line.merge || line.fleet != nullptr || line.machine != nullptr) {
    zrt::check::CatchInterruptions();
  }
  if (line.merge) {
    try {
      return Merge(line.results, line.json, line.html);
    } catch (const zrt::check::Interrupted& stop) {
      zrt::check::EndBy(stop.signal);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "zrt-check: %s\n", e.what());
      return 2;
    }
  }

  try {
    // A job checked for one machine is read in that machine's code page; a
    // fleet's machines each rehearse it in their own.
    options.rehearsal.scratchRoot = TemporaryFolder();
    const zrt::sim::AnsiCodePage ansi = line.machine != nullptr
                                            ? zrt::sim::MachineCodePage(fs::u8path(line.machine))
                                            : zrt::sim::Windows1252();
    Report report =
        Check(fs::u8path(line.document), line.document, ansi, options.rehearsal.scratchRoot);
    if (line.fleet != nullptr)
      return Fleet(report, line.document, line.fleet, line.json, line.html, options,
                   line.shard.value_or(zrt::check::Shard{}));
    if (line.machine != nullptr && report.readable) {
      report.rehearsal =
          RehearseMachine(line.machine, line.document, report.scriptId, options.rehearsal);
      TellRehearsal(*report.rehearsal, report.findings);
    }
    const auto utf8 = [&](std::string_view text) { return ansi.ToUtf8(text); };
    const std::string out =
        line.json ? zrt::check::RenderJson(report, utf8) : zrt::check::RenderText(report, utf8);
    Print(out);
    return report.ExitCode();
  } catch (const zrt::check::Interrupted& stop) {
    zrt::check::EndBy(stop.signal);  // everything made for the run is gone by now
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zrt-check: %s\n", e.what());
    return 2;
  }
}

}  // namespace

// Output that cannot be written (a full disk, a closed pipe) fails the run:
// a shard's result cut short must not pass for a whole one.
int main(int argc, char** argv) {
  const int code = Run(argc, argv);
  const bool flushed = std::fflush(stdout) == 0;
  const int error = errno;
  if (flushed && !std::ferror(stdout)) return code;
  if (zrt::check::CaughtSignal() != 0) zrt::check::EndBy(zrt::check::CaughtSignal());
  if (outputFailed) return 2;
  std::fprintf(stderr, "zrt-check: cannot write the output%s%s\n", flushed ? "" : ": ",
               flushed ? "" : std::strerror(error));
  return 2;
}
