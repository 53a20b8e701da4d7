// zrt-check on Linux: tells what a job document will do, reading it with the
// program's own reader through a simulated machine whose drive C: is the
// document's folder; with --machine, rehearses the job on a copy of a
// simulated machine; with --fleet, on every machine of a folder of them.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "check/document_check.h"
#include "check/render.h"
#include "check/sim/fleet.h"
#include "check/sim/fleet_runner.h"
#include "check/sim/rehearsal.h"
#include "check/sim/scratch_folder.h"
#include "platform/sim/sim_code_page.h"
#include "platform/sim/sim_json_file.h"
#include "platform/sim/sim_platform.h"

namespace {

namespace fs = std::filesystem;
using zrt::check::Report;
using zrt::check::Severity;

int Usage() {
  std::fprintf(stderr,
               "usage: zrt-check JOB.xml [--machine DIR] [--json]\n"
               "       zrt-check JOB.xml --fleet DIR [--json] [--html FILE] [--jobs N] "
               "[--timeout SECONDS]\n");
  return 2;
}

// Reads the document through a throwaway machine whose drive C: is the
// document's folder, in the ANSI code page `ansi`; nothing is written there.
Report Check(const fs::path& document, const std::string& shown,
             const zrt::sim::AnsiCodePage& ansi) {
  zrt::check::ScratchFolder scratch;
  const fs::path folder = fs::absolute(document).parent_path();
  zrt::sim::Json machine = {{"current_directory", "C:\\"},
                            {"folders", zrt::sim::Json::array()},
                            {"code_pages", {{"ansi", ansi.Number()}}}};
  // A folder that does not exist is not made: the document is then not found.
  machine["drives"]["C"] = fs::is_directory(folder) ? folder.u8string() : scratch.Path().u8string();
  zrt::sim::WriteJsonFile(scratch.Path() / "machine.json", machine);
  zrt::sim::SimPlatform platform(scratch.Path(), "");
  return zrt::check::CheckDocument(platform.Platform(),
                                   "C:\\" + ansi.FromUtf8(document.filename().u8string()),
                                   ansi.FromUtf8(shown));
}

// A whole number from 1 on, or 0 when the text is not one.
unsigned Count(const char* text) {
  char* end = nullptr;
  const unsigned long n = std::strtoul(text, &end, 10);
  return *text >= '0' && *text <= '9' && *end == '\0' && n > 0 && n < 100000 ? n : 0;
}

// Rehearses the checked job on every machine of the fleet and prints the
// summary; writes the page when asked.
int Fleet(const Report& report, const char* document, const char* fleet, bool json,
          const char* html, const zrt::check::FleetOptions& options) {
  const auto utf8 = [](std::string_view ansi) { return zrt::sim::Windows1252().ToUtf8(ansi); };
  const auto entries = zrt::check::ListFleet(fs::u8path(fleet));
  std::vector<std::string> names;
  for (const auto& entry : entries) names.push_back(entry.name);
  zrt::check::FleetSummary summary(std::move(names));
  if (report.readable) {
    zrt::check::RehearseFleet(entries, fs::u8path(document), report.scriptId, options, summary);
  } else {
    const zrt::check::MachineOutcome unread{
        zrt::check::OutcomeKind::NotRehearsed, "the job document cannot be read", {}, {}};
    for (std::size_t i = 0; i < entries.size(); ++i) summary.Add(i, unread);
  }
  const zrt::check::FleetReport fleetReport{&report, fleet, &summary};
  if (html != nullptr) {
    std::ofstream page(fs::u8path(html), std::ios::binary);
    page << zrt::check::RenderFleetHtml(fleetReport, utf8);
    if (!page.flush()) throw zrt::sim::MachineError(std::string("cannot write ") + html);
  }
  const std::string out = json ? zrt::check::RenderFleetJson(fleetReport, utf8)
                               : zrt::check::RenderFleetText(fleetReport, utf8);
  std::fwrite(out.data(), 1, out.size(), stdout);
  return fleetReport.ExitCode();
}

}  // namespace

int main(int argc, char** argv) {
  const char* document = nullptr;
  const char* machine = nullptr;
  const char* fleet = nullptr;
  const char* html = nullptr;
  zrt::check::FleetOptions options;
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (std::strcmp(argv[i], "--machine") == 0 && i + 1 < argc) {
      machine = argv[++i];
    } else if (std::strcmp(argv[i], "--fleet") == 0 && i + 1 < argc) {
      fleet = argv[++i];
    } else if (std::strcmp(argv[i], "--html") == 0 && i + 1 < argc) {
      html = argv[++i];
    } else if (std::strcmp(argv[i], "--jobs") == 0 && i + 1 < argc &&
               (options.jobs = Count(argv[i + 1])) != 0) {
      ++i;
    } else if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc &&
               (options.timeoutSeconds = Count(argv[i + 1])) != 0) {
      ++i;
    } else if (argv[i][0] == '-' || document != nullptr) {
      return Usage();
    } else {
      document = argv[i];
    }
  }
  if (document == nullptr || (fleet != nullptr && machine != nullptr) ||
      ((html != nullptr || options.jobs != 0) && fleet == nullptr)) {
    return Usage();
  }

  try {
    // A job checked for one machine is read in that machine's code page; a
    // fleet's machines each rehearse it in their own.
    const zrt::sim::AnsiCodePage ansi = machine != nullptr
                                            ? zrt::sim::MachineCodePage(fs::u8path(machine))
                                            : zrt::sim::Windows1252();
    Report report = Check(fs::u8path(document), document, ansi);
    if (fleet != nullptr) return Fleet(report, document, fleet, json, html, options);
    if (machine != nullptr && report.readable) {
      report.rehearsal =
          zrt::check::Rehearse(fs::u8path(machine), fs::u8path(document), report.scriptId);
      if (report.rehearsal->outcome != "1") {
        report.findings.push_back(
            {Severity::Error, "rehearsal",
             report.rehearsal->outcome == "0"
                 ? "the job fails on this machine: its status document says Fail"
                 : "the job ends before its steps on this machine: no status is reported"});
      }
    }
    const auto utf8 = [&](std::string_view text) { return ansi.ToUtf8(text); };
    const std::string out =
        json ? zrt::check::RenderJson(report, utf8) : zrt::check::RenderText(report, utf8);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return report.ExitCode();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zrt-check: %s\n", e.what());
    return 2;
  }
}
