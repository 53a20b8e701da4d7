#include "check/sim/machine_copy.h"

#include <cctype>
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

// Refuses a drive whose folder lies outside the machine folder, absolute or
// reached through "..", or a link: the copy would not hold it, and the
// rehearsal would write into the host's own files.
void RefuseDrivesOutside(const fs::path& machine, const Json& settings) {
  const Json* drives = sim::Member(settings, "drives");
  if (drives == nullptr || !drives->is_object()) return;  // refused when the machine opens
  std::error_code error;
  const fs::path root = fs::canonical(machine, error);
  for (const auto& [letter, folder] : drives->items()) {
    if (letter.empty() || !folder.is_string()) continue;  // refused when the machine opens
    const fs::path path = fs::u8path(folder.get<std::string>());
    const fs::path inside =
        path.is_absolute() ? fs::path() : fs::weakly_canonical(machine / path, error);
    const fs::path below = inside.lexically_relative(root);
    if (error || below.empty() || *below.begin() == "..") {
      throw sim::MachineError(
          std::string(sim::machine_file::kMachine) + ": drive " +
          static_cast<char>(std::toupper(static_cast<unsigned char>(letter[0]))) + ": " +
          folder.get<std::string>() + " lies outside the machine folder");
    }
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
  const fs::path settings = machine / sim::machine_file::kMachine;
  std::error_code error;
  if (fs::status(settings, error).type() == fs::file_type::not_found) {
    throw sim::MachineError(machine.string() + " has no machine.json");
  }
  RefuseDrivesOutside(machine, sim::ReadJsonFile(settings, Json::object()));
  Copy(machine, copy, machine);
}

}  // namespace zrt::check
