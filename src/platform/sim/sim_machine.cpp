#include "platform/sim/sim_machine.h"

#include <fcntl.h>
#include <sys/file.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <system_error>

#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_code_page.h"

namespace zrt::sim {
namespace {

const std::string kWhere = machine_file::kMachine;

void ParseVersion(const Json& machine, MachineSettings& settings) {
  const Json* version = Member(machine, "version");
  if (version == nullptr) return;
  if (!version->is_object()) throw MachineError(kWhere + ": \"version\" must be an object");
  const std::string where = kWhere + ": version";
  settings.version.major = Uint32Member(*version, "major", settings.version.major, where);
  settings.version.minor = Uint32Member(*version, "minor", settings.version.minor, where);
  settings.version.build = Uint32Member(*version, "build", settings.version.build, where);
  settings.extendedVersionRefused = BoolMember(*version, "extended_record_refused", false, where);
  settings.basicVersionRefused = BoolMember(*version, "basic_record_refused", false, where);
}

// The machine's ANSI code page, as a capture records it; Windows-1252 when
// machine.json names none.
void ParseCodePages(const Json& machine, MachineSettings& settings) {
  const Json* pages = Member(machine, "code_pages");
  if (pages == nullptr) return;
  const std::uint32_t ansi = Uint32Member(*pages, "ansi", 1252, kWhere + ": code_pages");
  if (!AnsiCodePage::Known(ansi)) {
    throw MachineError(kWhere + ": the simulated machine has no ANSI code page " +
                       std::to_string(ansi) + " (it has 874, 932, 936, 949, 950 and 1250 to 1258)");
  }
  settings.ansi = AnsiCodePage(ansi);
}

}  // namespace

AnsiCodePage MachineCodePage(const std::filesystem::path& folder) {
  MachineSettings settings;
  ParseCodePages(ReadJsonFile(folder / machine_file::kMachine, Json::object()), settings);
  return settings.ansi;
}

namespace {

void ParseDrives(const Json& machine, MachineSettings& settings) {
  const Json* drives = Member(machine, "drives");
  if (drives == nullptr) return;
  if (!drives->is_object()) throw MachineError(kWhere + ": \"drives\" must be an object");
  settings.drives.clear();
  for (const auto& [letter, folder] : drives->items()) {
    const bool oneLetter = letter.size() == 1 || (letter.size() == 2 && letter[1] == ':');
    if (!oneLetter || !std::isalpha(static_cast<unsigned char>(letter[0])) || !folder.is_string()) {
      throw MachineError(kWhere + ": drives must map a letter such as \"C\" to a folder name");
    }
    const char drive = static_cast<char>(std::toupper(static_cast<unsigned char>(letter[0])));
    const std::filesystem::path path = std::filesystem::u8path(folder.get<std::string>());
    // An absolute folder is the owner's choice; a relative one stays inside
    // the machine folder, so that a copy of the folder holds the drive.
    const std::filesystem::path normal = path.lexically_normal();
    if (path.is_relative() && !normal.empty() && *normal.begin() == "..") {
      throw MachineError(kWhere + ": drive " + drive + ": " + folder.get<std::string>() +
                         " lies outside the machine folder");
    }
    settings.drives[drive] = folder.get<std::string>();
  }
}

void ParseCommonAppData(const Json& machine, MachineSettings& settings) {
  const Json* folder = Member(machine, "common_app_data");
  if (folder == nullptr) return;
  if (folder->is_string()) {
    settings.commonAppData = folder->get<std::string>();
    return;
  }
  const std::string where = kWhere + ": common_app_data";
  settings.commonAppData = StringMember(*folder, "path", settings.commonAppData, where);
  if (const Json* error = Member(*folder, "error")) {
    settings.commonAppDataError = static_cast<port::HResult>(Uint32Value(*error, where));
  }
}

void ParseWriteDenied(const Json& machine, MachineSettings& settings) {
  const Json* denied = Member(machine, "write_denied");
  if (denied == nullptr) return;
  if (!denied->is_array()) throw MachineError(kWhere + ": \"write_denied\" must be a list");
  for (const Json& entry : *denied) {
    if (entry.is_string()) {
      settings.writeDenied.emplace_back(entry.get<std::string>(), port::err::kAccessDenied);
      continue;
    }
    const std::string where = kWhere + ": write_denied";
    const std::string path = StringMember(entry, "path", "", where);
    if (path.empty()) throw MachineError(where + ": every entry needs a \"path\"");
    settings.writeDenied.emplace_back(
        path, Uint32Member(entry, "error", port::err::kAccessDenied, where));
  }
}

// A member that lists texts, such as "folders".
std::vector<std::string> TextList(const Json& machine, const char* name) {
  std::vector<std::string> texts;
  const Json* list = Member(machine, name);
  if (list == nullptr) return texts;
  if (!list->is_array()) throw MachineError(kWhere + ": \"" + name + "\" must be a list");
  for (const Json& text : *list) {
    if (!text.is_string()) throw MachineError(kWhere + ": \"" + name + "\" must list texts");
    texts.push_back(text.get<std::string>());
  }
  return texts;
}

void ReadLocalTime(const Json& machine, MachineSettings& settings) {
  const std::string text = StringMember(machine, "local_time", "host", kWhere);
  if (text == "host") return;
  settings.fixedLocalTime = ParseLocalTime(text);
  if (!settings.fixedLocalTime) {
    throw MachineError(kWhere + ": \"local_time\" must be \"host\" or a time such as " +
                       "\"2026-12-07 14:05:09.123\", not \"" + text + "\"");
  }
}

// Reads machine.json's contents; throws MachineError on a malformed member.
MachineSettings ParseMachineSettings(const Json& machine) {
  if (!machine.is_object()) throw MachineError(kWhere + " must hold a JSON object");
  MachineSettings settings;
  ParseCodePages(machine, settings);
  ParseVersion(machine, settings);
  ParseDrives(machine, settings);
  ParseCommonAppData(machine, settings);
  ParseWriteDenied(machine, settings);
  settings.diskFull = TextList(machine, "disk_full");
  settings.folders = TextList(machine, "folders");
  ReadLocalTime(machine, settings);
  settings.windowsFolder = StringMember(machine, "windows_folder", settings.windowsFolder, kWhere);
  settings.currentDirectory =
      StringMember(machine, "current_directory", settings.currentDirectory, kWhere);
  settings.programPath = StringMember(machine, "program_path", settings.programPath, kWhere);
  settings.sleepWaits = BoolMember(machine, "sleep_waits", false, kWhere);
  settings.xmlParserInstalled = BoolMember(machine, "xml_parser_installed", true, kWhere);
  settings.openRecord = StringMember(machine, "record_opens", "", kWhere);
  if (settings.openRecord.find_first_of("/\\") != std::string::npos) {
    throw MachineError(kWhere + ": \"record_opens\" names a file in the machine folder");
  }
  if (const Json* raises = Member(machine, "raises")) {
    if (!raises->is_object()) throw MachineError(kWhere + ": \"raises\" must be an object");
    for (const auto& [call, count] : raises->items()) {
      settings.raises[call] = Uint32Value(count, kWhere + ": raises: " + call);
    }
  }
  return settings;
}

MachineSettings LoadSettings(const std::filesystem::path& folder) {
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    throw MachineError("the machine folder " + folder.string() + " does not exist");
  }
  const std::filesystem::path file = folder / machine_file::kMachine;
  if (std::filesystem::status(file, ec).type() == std::filesystem::file_type::not_found) {
    throw MachineError(folder.string() + " is not a simulated machine: it has no " +
                       machine_file::kMachine);
  }
  try {
    return ParseMachineSettings(ReadJsonFile(file, Json::object()));
  } catch (const MachineError& e) {
    throw MachineError(folder.string() + ": " + e.what());
  }
}

}  // namespace

SimMachine::SimMachine(std::filesystem::path folder)
    : folder_(std::move(folder)),
      settings_(LoadSettings(folder_)),
      paths_(folder_, settings_.drives, settings_.currentDirectory),
      powerFile_(folder_ / machine_file::kPower, Json::object()) {
  for (const auto& [letter, driveFolder] : settings_.drives) {
    std::filesystem::path root = driveFolder;
    if (root.is_relative()) root = folder_ / root;
    std::error_code ec;
    std::filesystem::create_directories(root, ec);
    if (ec)
      throw MachineError("cannot create drive " + std::string(1, letter) + ": at " + root.string() +
                         ": " + ec.message());
  }
  for (const std::string& path : settings_.folders) {
    const auto resolved = paths_.Resolve(path);
    if (!resolved) throw MachineError(kWhere + ": folder " + path + " lies on no drive");
    std::error_code ec;
    std::filesystem::create_directories(resolved->host, ec);
    if (ec) throw MachineError("cannot create folder " + path + ": " + ec.message());
  }
  lockFile_ = UniqueFd(::open((folder_ / machine_file::kMachine).c_str(), O_RDONLY | O_CLOEXEC));
  if (!lockFile_) throw MachineError("cannot open " + (folder_ / machine_file::kMachine).string());
  for (const auto& [path, code] : settings_.writeDenied) {
    const auto resolved = paths_.Resolve(path);
    if (!resolved) throw MachineError(kWhere + ": write_denied path " + path + " lies on no drive");
    deniedFolded_.emplace_back(resolved->FoldedPath(), code);
  }
  for (const std::string& path : settings_.diskFull) {
    const auto resolved = paths_.Resolve(path);
    if (!resolved) throw MachineError(kWhere + ": disk_full path " + path + " lies on no drive");
    fullFolded_.push_back(resolved->FoldedPath());
  }
}

SimMachine::~SimMachine() {
  try {
    Flush();
  } catch (const std::exception&) {
    // Nothing to tell it to: a caller that must know calls Flush itself.
  }
}

void SimMachine::KeepPrivate() {
  if (private_) return;
  // One more holder than any Lock: held until the machine is closed.
  if (lockDepth_++ == 0) {
    while (::flock(lockFile_.get(), LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  powerFile_.KeepInMemory();
  private_ = true;
}

void SimMachine::Flush() {
  powerFile_.Flush();
  if (!unwrittenSleeps_.empty()) {
    WriteSleeps(unwrittenSleeps_);
    unwrittenSleeps_.clear();
  }
  for (auto record = unwrittenRecords_.begin(); record != unwrittenRecords_.end();) {
    if (!AppendToFile(File(record->first), record->second)) {
      throw MachineError("cannot write " + File(record->first).string());
    }
    record = unwrittenRecords_.erase(record);
  }
}

void SimMachine::RecordSleep(std::uint32_t milliseconds) {
  if (private_) {
    unwrittenSleeps_.push_back(milliseconds);
  } else {
    WriteSleeps({milliseconds});
  }
}

void SimMachine::WriteSleeps(const std::vector<std::uint32_t>& sleeps) const {
  const auto lock = LockMachine();
  const auto file = File(machine_file::kSleep);
  const Json before = ReadJsonFile(file, Json::object());
  const Json* total = Member(before, "total_ms");
  const Json* calls = Member(before, "calls");
  Json record = Json::object();
  std::uint64_t sum =
      total != nullptr && total->is_number_unsigned() ? total->get<std::uint64_t>() : 0;
  record["calls"] = calls != nullptr && calls->is_array() ? *calls : Json::array();
  for (const std::uint32_t milliseconds : sleeps) {
    sum += milliseconds;
    record["calls"].push_back(milliseconds);
  }
  record["total_ms"] = sum;
  WriteJsonFile(file, record);
}

SimMachine::Lock::Lock(const SimMachine& machine) : machine_(machine) {
  if (machine_.lockDepth_++ > 0) return;
  while (::flock(machine_.lockFile_.get(), LOCK_EX) != 0 && errno == EINTR) {
  }
}

SimMachine::Lock::~Lock() {
  if (--machine_.lockDepth_ == 0) ::flock(machine_.lockFile_.get(), LOCK_UN);
}

std::string SimMachine::HostPath(const std::string& windowsPath) const {
  const auto resolved = paths_.Resolve(windowsPath);
  return resolved ? resolved->host : std::string();
}

void SimMachine::RaiseIfDue(const std::string& call) {
  const auto due = settings_.raises.find(call);
  if (due != settings_.raises.end() && ++callCounts_[call] == due->second) {
    throw SimulatedFault("simulated fault in " + call);
  }
}

namespace {

// Whether `folded` is `under` or lies below it (both folded Windows paths).
bool IsAtOrBelow(const std::u16string& folded, const std::u16string& under) {
  return folded == under ||
         (folded.size() > under.size() && folded.compare(0, under.size(), under) == 0 &&
          (under.back() == u'\\' || folded[under.size()] == u'\\'));
}

}  // namespace

std::optional<port::ErrorCode> SimMachine::WriteDenied(const ResolvedPath& path) const {
  if (deniedFolded_.empty()) return std::nullopt;
  const std::u16string folded = path.FoldedPath();
  for (const auto& [denied, code] : deniedFolded_) {
    if (IsAtOrBelow(folded, denied)) return code;
  }
  return std::nullopt;
}

bool SimMachine::DiskFull(const ResolvedPath& path) const {
  if (fullFolded_.empty()) return false;
  const std::u16string folded = path.FoldedPath();
  return std::any_of(fullFolded_.begin(), fullFolded_.end(),
                     [&](const std::u16string& full) { return IsAtOrBelow(folded, full); });
}

void SimMachine::RecordOpen(const std::filesystem::path& host) const {
  if (!settings_.openRecord.empty()) AppendRecord(settings_.openRecord, host.string() + "\n");
}

void SimMachine::AppendRecord(std::string_view name, std::string_view text) const {
  if (private_) {
    auto record = unwrittenRecords_.find(name);
    if (record == unwrittenRecords_.end()) record = unwrittenRecords_.emplace(name, "").first;
    record->second.append(text);
    return;
  }
  const auto lock = LockMachine();
  AppendToFile(File(name), text);
}

}  // namespace zrt::sim
