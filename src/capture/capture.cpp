#include "capture/capture.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <iterator>
#include <nlohmann/json.hpp>

#include "platform/ascii_case.h"
#include "platform/registry_reader.h"
#include "platform/sim/power_records.h"
#include "platform/sim/powercfg_policy.h"
#include "platform/system_facts.h"
#include "platform/text_conversion.h"
#include "platform/user_context.h"

namespace zrt::capture {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kProductKeys[] = {"SOFTWARE\\MERQEL", "SOFTWARE\\Wow6432Node\\MERQEL"};
constexpr const char* kProductValues[] = {"REGID", "InstallationPath", "MEMBERID", "TYPE",
                                          "SITEID"};
// Values whose contents identify the machine or its owner.
constexpr const char* kIdentifyingValues[] = {"REGID", "MEMBERID", "SITEID", "TYPE"};
constexpr const char* kIniSection = "wpdcmscriptjobinstancestatus";
// The program reads the address into a buffer of this size.
constexpr std::size_t kIniValueCapacity = 260;
constexpr std::size_t kWindowsFolderCapacity = 512;
constexpr std::size_t kUserNameCapacity = 257;
// Large enough for any value the program could read whole (1024 bytes).
constexpr std::uint32_t kValueCapacity = 64 * 1024;
// Accounts of the system itself, which identify nobody.
constexpr const char* kServiceAccounts[] = {"SYSTEM", "LOCAL SERVICE", "NETWORK SERVICE"};

std::string Hex(const void* data, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    if (i != 0) text += ' ';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xF];
  }
  return text;
}

bool IsAscii(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// Every text is converted to UTF-8 before; a byte that still is not UTF-8
// is replaced rather than failing the capture.
std::string Dump(const Json& json) {
  return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

// The folder of drive `letter` in the machine folder.
std::string DriveFolder(char letter) {
  const char lower = (letter >= 'A' && letter <= 'Z') ? static_cast<char>(letter + 32) : letter;
  return std::string("drive_") + lower;
}

// The file's place in the machine folder, or empty for a path without a
// drive letter.
std::string MachinePath(const std::string& windowsPath) {
  if (windowsPath.size() < 3 || windowsPath[1] != ':' || windowsPath[2] != '\\') return {};
  std::string rest = windowsPath.substr(3);
  for (char& c : rest) {
    if (c == '\\') c = '/';
  }
  return DriveFolder(windowsPath[0]) + "/" + rest;
}

class Capturer {
 public:
  Capturer(port::Platform& platform, const Options& options) : p_(platform), options_(options) {}

  Capture Run() {
    Json machine = Json::object();
    machine["description"] =
        "Captured by zrt-capture" + (options_.computerName.empty()
                                         ? std::string()
                                         : " from " + Name("pc", options_.computerName));
    Version(machine);
    Folders(machine);
    Json registry = Registry();
    Json processes = Json::object();
    Json power = Json::object();
    UserAndPower(processes, power);
    if (options_.ansiCodePage || options_.oemCodePage) {
      Json pages = Json::object();
      if (options_.ansiCodePage) pages["ansi"] = *options_.ansiCodePage;
      if (options_.oemCodePage) pages["oem"] = *options_.oemCodePage;
      machine["code_pages"] = pages;
    }
    machine["drives"] = drives_;
    machine["folders"] = folders_;
    if (!installationPath_.empty()) {
      machine["program_path"] = "\"" + ShownPath(installationPath_) + "\\zReTessalyXP.exe\"";
    }
    machine["local_time"] = "host";
    machine["sleep_waits"] = false;
    machine["capture"] = Json{{"complete", capture_.problems.empty()},
                              {"anonymised", options_.anonymiser.has_value()},
                              {"problems", capture_.problems}};

    capture_.files.insert(capture_.files.begin(), {{"machine.json", Dump(machine)},
                                                   {"registry.json", Dump(registry)},
                                                   {"processes.json", Dump(processes)},
                                                   {"power.json", Dump(power)}});
    return std::move(capture_);
  }

 private:
  void Problem(const std::string& what, port::ErrorCode code) {
    std::string text = SystemErrorText(p_.system, code);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    capture_.problems.push_back(what + ": error " + std::to_string(code) +
                                (text.empty() ? "" : " (" + AnsiToUtf8(text) + ")"));
  }

  std::string Name(const char* kind, const std::string& value) const {
    return options_.anonymiser ? options_.anonymiser->Placeholder(kind, value) : value;
  }

  // A Windows path (ANSI) as the capture gives it: UTF-8, and without the
  // users' folders when anonymising.
  std::string ShownPath(const std::string& windowsPath) {
    return AnsiToUtf8(AnonymisedPath(windowsPath));
  }

  std::string AnonymisedPath(const std::string& windowsPath) {
    if (!options_.anonymiser) return windowsPath;
    return options_.anonymiser->PathWithoutUsers(
        windowsPath, [this](const std::string& name) { return AnsiToUtf8(name); });
  }

  std::string AnsiToUtf8(const std::string& ansi) {
    if (IsAscii(ansi)) return ansi;
    port::WideText wide;
    return ToWide(p_.system, ansi, wide) ? WideToUtf8(wide) : ansi;
  }

  void UseDrive(const std::string& windowsPath) {
    if (windowsPath.size() < 2 || windowsPath[1] != ':') return;
    const char letter = static_cast<char>(
        (windowsPath[0] >= 'a' && windowsPath[0] <= 'z') ? windowsPath[0] - 32 : windowsPath[0]);
    drives_[std::string(1, letter)] = DriveFolder(letter);
  }

  void AddFolder(const std::string& windowsPath) {
    if (windowsPath.empty()) return;
    UseDrive(windowsPath);
    const std::string utf8 = ShownPath(windowsPath);
    for (const Json& folder : folders_) {
      if (folder == utf8) return;
    }
    folders_.push_back(utf8);
  }

  void Version(Json& machine) {
    port::OsVersion version;
    Json facts = Json::object();
    const bool extended = p_.system.GetVersionExA(version, true);
    if (!extended) {
      facts["extended_record_refused"] = true;
      if (!p_.system.GetVersionExA(version, false)) {
        facts["basic_record_refused"] = true;
        Problem("GetVersionExA", p_.system.GetLastError());
      }
    }
    machine["version"] =
        Json{{"major", version.major}, {"minor", version.minor}, {"build", version.build}};
    for (auto& [name, value] : facts.items()) machine["version"][name] = value;
  }

  void Folders(Json& machine) {
    std::string windows;
    if (p_.files.GetWindowsDirectoryA(windows, kWindowsFolderCapacity)) {
      machine["windows_folder"] = ShownPath(windows);
      machine["current_directory"] = ShownPath(windows + "\\system32");
      AddFolder(windows + "\\system32");
      if (IsSixtyFourBitMachine(p_.files)) {
        AddFolder(windows.substr(0, windows.rfind('\\') + 1) + "Program Files (x86)");
      }
    } else {
      Problem("GetWindowsDirectoryA", p_.system.GetLastError());
    }
    std::string appData;
    const port::HResult hr = p_.files.SHGetFolderPathA(port::kCsidlCommonAppData, appData);
    if (port::Succeeded(hr)) {
      machine["common_app_data"] = ShownPath(appData);
      AddFolder(appData);
    } else {
      char code[16];
      std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
      machine["common_app_data"] = Json{{"path", ""}, {"error", code}};
    }
  }

  // One value as registry.json gives it: a text, a number, or its type and
  // exact bytes.
  Json RegistryValueJson(const char* name, std::uint32_t type, std::string bytes) {
    const bool identifying =
        std::any_of(std::begin(kIdentifyingValues), std::end(kIdentifyingValues),
                    [&](const char* value) { return std::string(value) == name; });
    const bool anonymise = options_.anonymiser.has_value();
    // The path read as text up to its end, whatever the value's type says.
    if (anonymise && type != port::regtype::kDword && std::string(name) == "InstallationPath") {
      const std::size_t end = bytes.find('\0');
      bytes = AnonymisedPath(bytes.substr(0, end)) +
              (end == std::string::npos ? std::string() : bytes.substr(end));
    }
    if (type == port::regtype::kSz && !bytes.empty() && bytes.back() == '\0' &&
        bytes.find('\0') == bytes.size() - 1 && IsAscii(bytes)) {
      const std::string text = bytes.substr(0, bytes.size() - 1);
      return identifying ? Name(name, text) : text;
    }
    if (type == port::regtype::kDword && bytes.size() == 4 && !(identifying && anonymise)) {
      std::uint32_t number = 0;
      for (int i = 3; i >= 0; --i) number = number << 8 | static_cast<unsigned char>(bytes[i]);
      return number;
    }
    if (identifying && anonymise) return options_.anonymiser->Placeholder(name, bytes);
    return Json{{"type", type}, {"hex", Hex(bytes.data(), bytes.size())}};
  }

  Json Registry() {
    Json keys = Json::object();
    for (const char* key : kProductKeys) {
      std::unique_ptr<port::RegistryKey> opened;
      const long status = p_.registry.RegOpenKeyExA(port::Hive::LocalMachine, key, opened);
      const std::string path = std::string("HKEY_LOCAL_MACHINE\\") + key;
      if (status == 2) continue;  // no such key: the machine has none
      if (status != 0) {
        keys[path] = Json{{"open_error", status}};
        Problem("RegOpenKeyExA " + path, static_cast<port::ErrorCode>(status));
        continue;
      }
      Json values = Json::object();
      for (const char* name : kProductValues) {
        std::string bytes(kValueCapacity, '\0');
        std::uint32_t type = 0;
        std::uint32_t size = kValueCapacity;
        const long read = p_.registry.RegQueryValueExA(
            *opened, name, type, reinterpret_cast<std::uint8_t*>(bytes.data()), size);
        if (read == 2) continue;  // a missing value is a fact of the machine
        if (read != 0) {
          Problem("RegQueryValueExA " + path + " " + name, static_cast<port::ErrorCode>(read));
          continue;
        }
        bytes.resize(size);
        values[name] = RegistryValueJson(name, type, bytes);
      }
      keys[path] = Json{{"values", values}};
    }
    // The key the program reads, and its installation folder, as it reads them.
    productKey_ = IsSixtyFourBitMachine(p_.files) ? kProductKeys[1] : kProductKeys[0];
    CRegistry reader(p_.registry, p_.system);
    RegistryValue installation;
    if (reader.QueryValue("HKEY_LOCAL_MACHINE", productKey_, "InstallationPath", installation)) {
      installationPath_ = std::string(installation.Text());
      InstallationFiles();
    }
    return Json{{"keys", keys}};
  }

  // The INI file's status address and whether the post library is there;
  // nothing else of the installation folder is read.
  void InstallationFiles() {
    const std::string ini = installationPath_ + "\\Configuration\\zLocator.ini";
    const std::string iniFile = MachinePath(ShownPath(ini));
    if (!iniFile.empty() && FileExists(p_.files, ini)) {
      UseDrive(ini);
      std::string address =
          p_.files.GetPrivateProfileStringA(kIniSection, "URL", "", kIniValueCapacity, ini.c_str());
      if (options_.anonymiser && !address.empty()) {
        address = "https://" + options_.anonymiser->Placeholder("status", address) + ".invalid";
      }
      std::string text = std::string("[") + kIniSection + "]\r\n";
      if (!address.empty()) text += "URL=" + address + "\r\n";
      capture_.files.push_back({iniFile, text});
    }
    const std::string library = installationPath_ + "\\zCourier.dll";
    const std::string libraryFile = MachinePath(ShownPath(library));
    if (!libraryFile.empty() && FileExists(p_.files, library)) {
      UseDrive(library);
      // The library is not loaded (that would run its code): a capture
      // takes it for one that accepts every post.
      capture_.files.push_back(
          {libraryFile, Dump(Json{{"description", "present on the captured machine, not loaded"},
                                  {"exports", Json::array({"WebPostData"})},
                                  {"answers", Json::array({Json{{"result", "1"}}})}})});
    } else if (!installationPath_.empty()) {
      AddFolder(installationPath_);
    }
  }

  std::string Account(const std::string& name) {
    for (const char* service : kServiceAccounts) {
      if (EqualsIgnoringAsciiCase(name, service)) return name;
    }
    return Name("user", AnsiToUtf8(name));
  }

  // The processes, the logged-on user as the program finds them, and the
  // power state read as that user.
  void UserAndPower(Json& processes, Json& power) {
    std::string agent;
    if (p_.processes.GetUserNameA(agent, kUserNameCapacity)) {
      processes["agent_account"] = Account(agent);
    } else {
      Problem("GetUserNameA", p_.system.GetLastError());
    }
    std::vector<port::ProcessEntry> entries;
    Json list = Json::array();
    if (!p_.processes.SnapshotProcesses(entries)) {
      const port::ErrorCode code = p_.system.GetLastError();
      processes["snapshot_error"] = code;
      Problem("CreateToolhelp32Snapshot", code);
    }
    bool shellSeen = false;
    for (const port::ProcessEntry& entry : entries) {
      // The capture itself is not part of the machine the program meets.
      if (options_.ownProcessId && entry.processId == *options_.ownProcessId) continue;
      Json process{{"pid", entry.processId}, {"name", AnsiToUtf8(entry.exeFile)}};
      if (!shellSeen && EqualsIgnoringAsciiCase(entry.exeFile, "explorer.exe")) {
        shellSeen = true;
        Shell(entry.processId, process, power);
      }
      list.push_back(process);
    }
    processes["processes"] = list;
    if (!shellSeen) Power(power);  // nobody logged on: read as the agent
  }

  void Shell(std::uint32_t processId, Json& process, Json& power) {
    const auto handle = OpenShellProcess(p_.processes, processId);
    if (!handle) {
      process["open_error"] = p_.system.GetLastError();
      Power(power);
      return;
    }
    std::unique_ptr<port::KernelHandle> token;
    if (!OpenSessionUserToken(p_.processes, handle.get(), token)) {
      process["token_error"] = p_.system.GetLastError();
      Power(power);
      return;
    }
    if (!p_.processes.ImpersonateLoggedOnUser(*token)) {
      process["impersonate_error"] = p_.system.GetLastError();
      p_.processes.RevertToSelf();
      Power(power);
      return;
    }
    std::string user;
    if (p_.processes.GetUserNameA(user, kUserNameCapacity)) {
      process["user"] = Account(user);
    } else {
      Problem("GetUserNameA as the logged-on user", p_.system.GetLastError());
    }
    try {
      Power(power);
    } catch (...) {
      p_.processes.RevertToSelf();
      throw;
    }
    p_.processes.RevertToSelf();
  }

  void Failed(Json& power, const char* call) {
    const port::ErrorCode code = p_.system.GetLastError();
    if (code == port::err::kSuccess) {
      // A failure entry of 0 would let the call through on the simulated
      // machine, which cannot fail a call without an error code.
      capture_.problems.push_back(std::string(call) +
                                  ": failed without an error code, which the simulated machine "
                                  "cannot repeat");
      return;
    }
    power["failures"][call] = code;
    Problem(call, code);
  }

  static Json Truth(port::BOOLEAN value) {
    return value == 0 ? Json(false) : value == 1 ? Json(true) : Json(value);
  }

  void Power(Json& power) {
    power["failures"] = Json::object();
    std::uint32_t active = 0;
    if (p_.power.GetActivePwrScheme(active)) {
      power["active_scheme"] = active;
    } else {
      Failed(power, "GetActivePwrScheme");
    }
    if (p_.power.CanUserWritePwrScheme()) {
      power["user_may_write"] = true;
    } else if (p_.system.GetLastError() == port::err::kAccessDenied) {
      power["user_may_write"] = false;
    } else {
      Failed(power, "CanUserWritePwrScheme");
    }
    power["hibernation_allowed"] = Truth(p_.power.IsPwrHibernateAllowed());
    power["standby_allowed"] = Truth(p_.power.IsPwrSuspendAllowed());
    port::SYSTEM_POWER_CAPABILITIES capabilities{};
    if (p_.power.GetPwrCapabilities(capabilities)) {
      records::WriteCapabilities(power["capabilities"], capabilities);
    } else {
      Failed(power, "GetPwrCapabilities");
    }
    port::GLOBAL_POWER_POLICY global{};
    port::POWER_POLICY current{};
    if (p_.power.GetCurrentPowerPolicies(global, current)) {
      records::WriteGlobalPolicy(power["global_policy"], global);
      powercfg::State alarms;
      powercfg::AlarmsFromPolicy(global.user, alarms);
      power["battery_alarms"] =
          Json{{"low", AlarmJson(alarms.low)}, {"critical", AlarmJson(alarms.critical)}};
      Json flags = Json::object();
      for (std::size_t i = 0; i < powercfg::kGlobalFlags.size(); ++i) {
        flags[powercfg::kGlobalFlags[i]] = alarms.globalFlags[i];
      }
      power["global_flags"] = flags;
    } else {
      Failed(power, "GetCurrentPowerPolicies");
    }
    Schemes(power);
    if (power["failures"].empty()) power.erase("failures");
  }

  static Json AlarmJson(const powercfg::BatteryAlarm& alarm) {
    return Json{{"activate", alarm.activate}, {"level", alarm.level},
                {"text", alarm.text},         {"sound", alarm.sound},
                {"action", alarm.action},     {"forceaction", alarm.forceAction},
                {"program", alarm.program}};
  }

  // A scheme's name or description, as a placeholder when asked for; an
  // empty text tells nothing and stays.
  std::string SchemeText(const char* kind, const std::string& text) const {
    if (!options_.anonymiseNames || !options_.anonymiser || text.empty()) return text;
    return options_.anonymiser->Placeholder(kind, text);
  }

  void Schemes(Json& power) {
    struct Listed {
      std::uint32_t index;
      port::WideText name;
      port::WideText description;
    };
    std::vector<Listed> listed;
    if (!p_.power.EnumPwrSchemes([&](std::uint32_t index, const port::WideText& name,
                                     const port::WideText& description) {
          listed.push_back({index, name, description});
          return true;
        })) {
      Failed(power, "EnumPwrSchemes");
    }
    Json schemes = Json::array();
    for (const Listed& scheme : listed) {
      Json entry{{"index", scheme.index},
                 {"name", SchemeText("scheme", WideToUtf8(scheme.name))},
                 {"description", SchemeText("description", WideToUtf8(scheme.description))}};
      port::POWER_POLICY policy{};
      if (p_.power.ReadPwrScheme(scheme.index, policy)) {
        records::WritePowerPolicy(entry["policy"], policy);
      } else {
        Problem("ReadPwrScheme " + std::to_string(scheme.index), p_.system.GetLastError());
      }
      schemes.push_back(entry);
    }
    power["schemes"] = schemes;
  }

  port::Platform& p_;
  const Options& options_;
  Capture capture_;
  Json drives_ = Json::object();
  Json folders_ = Json::array();
  std::string productKey_;
  std::string installationPath_;
};

}  // namespace

Capture CaptureMachine(port::Platform& platform, const Options& options) {
  return Capturer(platform, options).Run();
}

std::string BundleText(const Capture& capture) {
  Json files = Json::object();
  for (const File& file : capture.files) {
    files[file.path] = IsAscii(file.bytes)
                           ? Json{{"text", file.bytes}}
                           : Json{{"hex", Hex(file.bytes.data(), file.bytes.size())}};
  }
  return Dump(Json{{"format", "zrt-capture"},
                   {"version", 1},
                   {"complete", capture.problems.empty()},
                   {"problems", capture.problems},
                   {"files", files}});
}

namespace {

bool WriteFile(port::Platform& platform, const std::string& path, const std::string& bytes,
               std::string& error) {
  auto output = platform.files.CreateFileA(path.c_str(), port::OpenMode::Replace);
  if (!output || !output->WriteFile(bytes.data(), bytes.size())) {
    error = path + ": error " + std::to_string(platform.system.GetLastError());
    return false;
  }
  return true;
}

}  // namespace

bool WriteBundle(port::Platform& platform, const std::string& path, const Capture& capture,
                 std::string& error) {
  return WriteFile(platform, path, BundleText(capture), error);
}

bool WriteFolder(port::Platform& platform, const std::string& folder, const Capture& capture,
                 std::string& error) {
  for (const File& file : capture.files) {
    std::string path = folder + "\\" + file.path;
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
    CreateDirectoryPath(platform.files, path.substr(0, path.rfind('\\')));
    if (!WriteFile(platform, path, file.bytes, error)) return false;
  }
  return true;
}

}  // namespace zrt::capture
