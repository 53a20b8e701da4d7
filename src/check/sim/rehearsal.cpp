#include "check/sim/rehearsal.h"

#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>

#include "app/run_sequence.h"
#include "check/sim/child_run.h"
#include "check/sim/machine_copy.h"
#include "check/sim/scratch_folder.h"
#include "check/sim/shown_name.h"
#include "platform/sim/sim_code_page.h"
#include "platform/sim/sim_json_file.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_platform.h"

namespace zrt::check {
namespace {

namespace fs = std::filesystem;
using sim::Json;

std::string ReadFile(const fs::path& file, std::uintmax_t from = 0) {
  std::ifstream in(file, std::ios::binary | std::ios::ate);
  const std::streamoff start = static_cast<std::streamoff>(from), end = in.tellg();
  if (!in || end <= start) return {};
  std::string text(static_cast<std::size_t>(end - start), '\0');
  in.seekg(start);
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  return text;
}

std::uintmax_t SizeOf(const fs::path& file) {
  std::error_code missing;
  const std::uintmax_t size = fs::file_size(file, missing);
  return missing ? 0 : size;
}

// The lines of a JSON Lines file, from byte `from` on.
std::vector<Json> JsonLines(const fs::path& file, std::uintmax_t from) {
  std::vector<Json> lines;
  std::istringstream in(ReadFile(file, from));
  std::string line;
  while (std::getline(in, line)) {
    Json parsed = Json::parse(line, nullptr, false);
    if (parsed.is_object()) lines.push_back(std::move(parsed));
  }
  return lines;
}

// Every file below the machine's drive folders, with its size.
std::map<fs::path, std::uintmax_t> DriveFiles(const sim::SimMachine& machine) {
  std::map<fs::path, std::uintmax_t> files;
  for (const auto& [letter, folder] : machine.Settings().drives) {
    const fs::path root = machine.Folder() / fs::u8path(folder);
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
         it.increment(error)) {
      if (it->is_regular_file()) files[it->path()] = it->file_size();
    }
  }
  return files;
}

// A value of power.json as a report shows it: in the machine's ANSI code
// page, or as a fleet shows it, in UTF-8 as in the file.
using ShownValue = std::function<std::string(const Json&)>;

// Absent members of power.json records read as zero, so an absent member and
// a zero one are the same state.
bool Zero(const Json& value) {
  return (value.is_number() && value == 0) || (value.is_boolean() && !value.get<bool>()) ||
         (value.is_string() && value.get<std::string>().empty());
}

void Diff(const std::string& what, const Json* before, const Json* after,
          std::vector<Change>& changes, const ShownValue& shown) {
  if (before != nullptr && after != nullptr && before->is_object() && after->is_object()) {
    for (const auto& [key, value] : before->items()) {
      Diff(what + "." + key, &value, after->contains(key) ? &(*after)[key] : nullptr, changes,
           shown);
    }
    for (const auto& [key, value] : after->items()) {
      if (!before->contains(key)) Diff(what + "." + key, nullptr, &value, changes, shown);
    }
    return;
  }
  if (before != nullptr && after != nullptr && *before == *after) return;
  if ((before == nullptr && Zero(*after)) || (after == nullptr && Zero(*before))) return;
  changes.push_back(
      {what, before != nullptr ? shown(*before) : "", after != nullptr ? shown(*after) : ""});
}

// The schemes by index.
std::map<std::uint64_t, Json> Schemes(const Json& power) {
  std::map<std::uint64_t, Json> schemes;
  if (power.contains("schemes") && power["schemes"].is_array()) {
    for (const Json& scheme : power["schemes"]) {
      if (scheme.is_object() && scheme.contains("index") && scheme["index"].is_number_unsigned()) {
        schemes[scheme["index"].get<std::uint64_t>()] = scheme;
      }
    }
  }
  return schemes;
}

// Schemes added, removed and changed field by field; then every other member
// of the power state. `named` tells schemes by name ("schemes[\"Field
// Work\"]") and the active scheme by its scheme's name, so the same change on
// machines that number their schemes differently reads the same; its texts
// are UTF-8, so names outside the code page still read as they are.
std::vector<Change> PowerChanges(const Json& before, const Json& after, bool named,
                                 const sim::AnsiCodePage& ansi) {
  std::vector<Change> changes;
  const ShownValue shown = [&](const Json& value) {
    return named ? value.dump() : ansi.FromUtf8(value.dump());
  };
  const auto oldSchemes = Schemes(before), newSchemes = Schemes(after);
  const auto name = [](const Json& scheme) { return scheme.value("name", Json("")); };
  const auto label = [&](std::uint64_t index, const Json& scheme) {
    return named ? "schemes[" + shown(name(scheme)) + "]"
                 : "schemes[" + std::to_string(index) + "]";
  };
  for (const auto& [index, scheme] : oldSchemes) {
    const auto now = newSchemes.find(index);
    if (now == newSchemes.end()) {
      changes.push_back({named ? "schemes" : label(index, scheme), shown(name(scheme)), ""});
    } else {
      Diff(label(index, scheme), &scheme, &now->second, changes, shown);
    }
  }
  for (const auto& [index, scheme] : newSchemes) {
    if (oldSchemes.count(index) == 0) {
      changes.push_back({named ? "schemes" : label(index, scheme), "", shown(name(scheme))});
    }
  }
  Json rest = before, restAfter = after;
  rest.erase("schemes");
  restAfter.erase("schemes");
  if (named && rest.value("active_scheme", Json()) == restAfter.value("active_scheme", Json())) {
    // The same scheme stays active: a rename of it is told with the schemes.
    rest.erase("active_scheme");
    restAfter.erase("active_scheme");
  }
  if (named) {
    const auto schemeName = [](const std::map<std::uint64_t, Json>& schemes, Json& active) {
      if (!active.is_number_unsigned()) return;
      const auto found = schemes.find(active.get<std::uint64_t>());
      if (found != schemes.end()) active = found->second.value("name", Json(""));
    };
    if (rest.contains("active_scheme")) schemeName(oldSchemes, rest["active_scheme"]);
    if (restAfter.contains("active_scheme")) schemeName(newSchemes, restAfter["active_scheme"]);
  }
  for (const auto& [key, value] : rest.items()) {
    Diff(key, &value, restAfter.contains(key) ? &restAfter[key] : nullptr, changes, shown);
  }
  for (const auto& [key, value] : restAfter.items()) {
    if (!rest.contains(key)) Diff(key, nullptr, &value, changes, shown);
  }
  return changes;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// What a start failure's error code says, shortly.
std::string StartTrouble(const Json& error) {
  const std::uint64_t code = error.is_number_unsigned() ? error.get<std::uint64_t>() : 0;
  const char* what = code == 2 ? ": not found" : code == 5 ? ": access denied" : "";
  return "did not start (error " + std::to_string(code) + what + ")";
}

// The commands the program ran and, where it asked for them, those the
// machine did not start.
std::vector<RunCommand> CommandsRun(const sim::SimMachine& machine, std::uintmax_t from,
                                    std::uintmax_t notStartedFrom) {
  std::vector<RunCommand> commands;
  for (const Json& c : JsonLines(machine.File(sim::machine_file::kCommands), from)) {
    commands.push_back({machine.Ansi().FromUtf8(c.value("command_line", "")),
                        c.value("exit_code", Json()).dump(),
                        c.value("terminated", false) ? "ended at its time-out" : ""});
  }
  std::size_t inserted = 0;
  for (const Json& c : JsonLines(machine.File(sim::machine_file::kNotStarted), notStartedFrom)) {
    const std::size_t at = std::min(commands.size(), inserted++ + c.value("started_before", 0u));
    commands.insert(commands.begin() + static_cast<std::ptrdiff_t>(at),
                    {machine.Ansi().FromUtf8(c.value("command_line", "")), "null",
                     StartTrouble(c.value("start_error", Json()))});
  }
  return commands;
}

// The machine's Windows version and what its power hardware offers.
void Describe(const sim::SimMachine& machine, const Json& power, Rehearsal& rehearsal) {
  const auto& version = machine.Settings().version;
  rehearsal.windows = std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
                      std::to_string(version.build);
  static const std::pair<const char*, const char*> kShown[] = {
      {"SystemBatteriesPresent", "batteries"},
      {"LidPresent", "lid"},
      {"SleepButtonPresent", "sleep button"},
      {"PowerButtonPresent", "power button"},
      {"ProcessorThrottle", "throttle"}};
  const Json* capabilities = sim::Member(power, "capabilities");
  for (const auto& [member, shown] : kShown) {
    const Json* value = capabilities == nullptr ? nullptr : sim::Member(*capabilities, member);
    if (value != nullptr && !Zero(*value)) rehearsal.capabilities.push_back(shown);
  }
  for (const char* allowed : {"hibernation_allowed", "standby_allowed"}) {
    const Json* value = sim::Member(power, allowed);
    if (value != nullptr && !Zero(*value)) {
      rehearsal.capabilities.push_back(std::string(allowed).substr(0, std::strlen(allowed) - 8));
    }
  }
}

// How the status left the machine: filed when a fallback file was written,
// delivered when the program's log says a post took it; else it was lost.
// And what the post library did when it was not delivered.
void TellDelivery(const std::vector<Json>& posts, bool filed, Rehearsal& rehearsal) {
  const bool taken = std::any_of(rehearsal.log.begin(), rehearsal.log.end(), [](const auto& line) {
    return line.find("\tSuccess Webpost Return Status\t") != std::string::npos;
  });
  if (taken && !filed) {
    rehearsal.delivery = check::Delivery::Delivered;
    return;
  }
  rehearsal.delivery = filed ? check::Delivery::Filed : check::Delivery::None;
  const std::string last = posts.empty() ? "" : posts.back().value("outcome", "");
  rehearsal.postTrouble = posts.empty() ? "no post library" : last == "returned" ? "refused" : last;
}

Rehearsal RehearseOnCopy(const fs::path& machine, const fs::path& document,
                         const std::string& scriptId, const RehearsalOptions& options) {
  ScratchFolder scratch(options.scratchRoot);
  const fs::path copy = scratch.Path() / "machine";
  CopyMachine(MachineFolder(machine, scratch.Path()), copy);

  Rehearsal rehearsal;
  const sim::AnsiCodePage ansi = sim::MachineCodePage(copy);
  rehearsal.codePage = ansi.Number();
  rehearsal.machine = ShownName(machine.string());
  const std::string name = ansi.FromUtf8(document.filename().string());
  const std::string jobPath = "C:\\Jobs\\" + name;
  rehearsal.argument = "OD@#@" + (scriptId.empty() ? std::string("-") : scriptId) + "@#@" +
                       jobPath + "@#@CHECK@#@user@#@now@#@1@#@0@#@1";

  // What the machine held before the run; the records are appended to, so
  // their sizes tell where the run's own records start.
  const sim::SimMachine copied(copy);
  const std::string host = copied.HostPath(jobPath);
  if (host.empty()) throw sim::MachineError("the machine has no drive C:");
  fs::create_directories(fs::u8path(host).parent_path());
  fs::copy_file(document, fs::u8path(host), fs::copy_options::overwrite_existing);
  const Json before = sim::ReadJsonFile(copied.File(sim::machine_file::kPower), Json::object());
  const std::uintmax_t commandsBefore = SizeOf(copied.File(sim::machine_file::kCommands));
  const std::uintmax_t notStartedBefore = SizeOf(copied.File(sim::machine_file::kNotStarted));
  const std::uintmax_t postsBefore = SizeOf(copied.File(sim::machine_file::kPosts));
  const std::map<fs::path, std::uintmax_t> filesBefore = DriveFiles(copied);
  Describe(copied, before, rehearsal);

  // The program runs in a child of its own: a fault or a runaway there ends
  // the run, not zrt-check, and what it did so far is still told. The copy
  // is this rehearsal's alone: the machine keeps its state in memory and
  // writes it back once (and before each post, which may end the child).
  rehearsal.ended = RunInChild(
      [&] {
        sim::SimPlatform platform(copy, rehearsal.argument);
        platform.Machine().KeepSimulatedTime();
        platform.Machine().KeepPrivate();
        app::RunJob(platform.Platform(), rehearsal.argument.c_str(), options.postBoundMs);
        platform.Machine().Flush();
      },
      options.timeoutSeconds);

  bool filed = false;
  for (const auto& [file, size] : DriveFiles(copied)) {
    const auto old = filesBefore.find(file);
    const std::uintmax_t from = old == filesBefore.end() ? 0 : old->second;
    if (size == from) continue;
    const std::string added = ReadFile(file, from);
    if (file.extension() == ".Log") {
      for (std::string& line : Lines(added)) rehearsal.log.push_back(std::move(line));
    } else if (file.parent_path().filename() == "QTVPostLogs") {
      filed = filed || file.extension() == ".xml";
      rehearsal.status.push_back(added);
    }
  }
  const std::vector<Json> posts = JsonLines(copied.File(sim::machine_file::kPosts), postsBefore);
  for (const Json& post : posts) {
    if (post.contains("texts") && post["texts"].size() > 1 && post["texts"][1].is_string()) {
      rehearsal.status.push_back(ansi.FromUtf8(post["texts"][1].get<std::string>()));
    }
  }
  rehearsal.commands = CommandsRun(copied, commandsBefore, notStartedBefore);
  const Json powerAfter = sim::ReadJsonFile(copied.File(sim::machine_file::kPower), Json::object());
  rehearsal.changes = PowerChanges(before, powerAfter, false, copied.Ansi());
  rehearsal.namedChanges = PowerChanges(before, powerAfter, true, copied.Ansi());
  for (const std::string& status : rehearsal.status) {
    if (status.find("<status>Success</status>") != std::string::npos) rehearsal.outcome = "1";
    if (status.find("<status>Fail</status>") != std::string::npos) rehearsal.outcome = "0";
  }
  if (!rehearsal.outcome.empty()) TellDelivery(posts, filed, rehearsal);
  return rehearsal;
}

}  // namespace

Rehearsal Rehearse(const fs::path& machine, const fs::path& document, const std::string& scriptId,
                   const RehearsalOptions& options) {
  try {
    return RehearseOnCopy(machine, document, scriptId, options);
  } catch (const fs::filesystem_error& e) {
    // A file of the machine, or one its files lead to, cannot be used: told
    // by its path, without the library's wording.
    throw sim::MachineError(e.path1().string() + ": " + e.code().message());
  }
}

}  // namespace zrt::check
