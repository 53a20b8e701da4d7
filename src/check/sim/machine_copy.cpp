#include "check/sim/machine_copy.h"

#include <fstream>
#include <iterator>
#include <string>

#include "capture/unpack.h"
#include "platform/sim/sim_json_file.h"
#include "platform/sim/sim_machine.h"

namespace zrt::check {
namespace {

namespace fs = std::filesystem;
using sim::Json;

// Deeper than any machine: a link that leads back up.
constexpr int kDeepest = 40;

void CopyTree(const fs::path& from, const fs::path& to, const fs::path& shown, int depth) {
  if (depth > kDeepest) {
    throw sim::MachineError(shown.string() + ": folders nested too deep (a link loop?)");
  }
  fs::create_directory(to);
  for (const fs::directory_entry& entry : fs::directory_iterator(from)) {
    const fs::path name = entry.path().filename();
    const fs::file_status status = entry.status();  // through links
    if (fs::is_directory(status)) {
      CopyTree(entry.path(), to / name, shown / name, depth + 1);
    } else if (fs::is_regular_file(status)) {
      fs::copy_file(entry.path(), to / name);
      fs::permissions(to / name, fs::perms::owner_read | fs::perms::owner_write,
                      fs::perm_options::add);
    } else {
      throw sim::MachineError((shown / name).string() + " is neither a file nor a folder");
    }
  }
}

// Copies `from` to `to`, telling a failure by what it could not copy.
void Copy(const fs::path& from, const fs::path& to, const fs::path& shown) {
  try {
    CopyTree(from, to, shown, 0);
  } catch (const fs::filesystem_error& e) {
    std::error_code ignored;
    const fs::path failed = fs::relative(e.path1(), from, ignored);
    throw sim::MachineError("cannot copy " +
                            (failed.empty() || failed == "." ? shown : shown / failed).string() +
                            ": " + e.code().message());
  }
}

}  // namespace

fs::path MachineFolder(const fs::path& entry, const fs::path& scratch) {
  std::error_code error;
  const fs::file_status status = fs::status(entry, error);
  if (error) throw sim::MachineError("cannot be read: " + error.message());
  if (fs::is_directory(status)) return entry;
  if (!fs::is_regular_file(status)) throw sim::MachineError("neither a file nor a folder");
  std::ifstream file(entry, std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (!file.good() && !file.eof()) throw sim::MachineError("the file cannot be read");
  if (!capture::IsBundle(text)) {
    throw sim::MachineError("a file, not a machine folder or a capture bundle");
  }
  fs::path folder = scratch / "machine-bundle";
  capture::UnpackBundle(text, folder);
  return folder;
}

void CopyMachine(const fs::path& machine, const fs::path& copy) {
  if (!fs::is_regular_file(machine / sim::machine_file::kMachine)) {
    throw sim::MachineError(machine.string() + " has no machine.json");
  }
  Copy(machine, copy, machine);
  Json settings = sim::ReadJsonFile(copy / sim::machine_file::kMachine, Json::object());
  Json* drives =
      settings.is_object() && settings.contains("drives") ? &settings["drives"] : nullptr;
  if (drives == nullptr || !drives->is_object()) return;
  bool moved = false;
  for (auto& [letter, folder] : drives->items()) {
    if (!folder.is_string() || !fs::u8path(folder.get<std::string>()).is_absolute()) continue;
    const std::string inside = "drive_" + letter + "_copied";
    Copy(fs::u8path(folder.get<std::string>()), copy / inside,
         fs::u8path(folder.get<std::string>()));
    folder = inside;
    moved = true;
  }
  if (moved) sim::WriteJsonFile(copy / sim::machine_file::kMachine, settings);
}

}  // namespace zrt::check
