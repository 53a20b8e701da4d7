// A simulated Windows machine: a folder holding its description and state.
// The machine's facts (machine.json) are read once; the parts that change
// (power schemes, files, the records of posts, debugger output and sleeps)
// are written back into the folder as they change. The folder format is
// described in docs/simulated-machine.md.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/port/platform_types.h"
#include "platform/sim/sim_cached_json_file.h"
#include "platform/sim/sim_code_page.h"
#include "platform/sim/sim_json_file.h"
#include "platform/sim/sim_paths.h"
#include "platform/sim/sim_unique_fd.h"

namespace zrt::sim {

// The contents of machine.json. Texts are UTF-8.
struct MachineSettings {
  AnsiCodePage ansi;  // the ANSI code page of every narrow text
  port::OsVersion version{5, 1, 2600};
  bool extendedVersionRefused = false;  // GetVersionExA refuses OSVERSIONINFOEXA
  bool basicVersionRefused = false;     // ... and OSVERSIONINFOA
  std::string windowsFolder = "C:\\WINDOWS";
  std::string commonAppData = "C:\\Documents and Settings\\All Users\\Application Data";
  std::optional<port::HResult> commonAppDataError;  // SHGetFolderPathA fails with it
  std::map<char, std::string> drives{{'C', "drive_c"}};
  std::string currentDirectory = "C:\\WINDOWS\\system32";
  std::vector<std::string> folders;  // created when the machine is opened
  std::vector<std::pair<std::string, port::ErrorCode>> writeDenied;
  std::vector<std::string> diskFull;  // writes below these paths find no room
  std::string openRecord;             // file in the machine folder naming every open
  std::string programPath = "\"C:\\Program Files\\Merqel\\zReTessalyXP.exe\"";
  std::optional<port::SystemTime> fixedLocalTime;  // none: the host's clock
  bool sleepWaits = false;
  bool xmlParserInstalled = true;
  // Calls that raise a SimulatedFault at their n-th call (1 for the first).
  std::map<std::string, std::uint32_t> raises;
};

// The exception a call named in "raises" throws, as a platform call that
// fails to allocate would.
class SimulatedFault : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Names of the files inside a machine folder.
namespace machine_file {
constexpr const char* kMachine = "machine.json";
constexpr const char* kRegistry = "registry.json";
constexpr const char* kProcesses = "processes.json";
constexpr const char* kPower = "power.json";
constexpr const char* kPosts = "posts.jsonl";
constexpr const char* kDebugOutput = "debug_output.txt";
constexpr const char* kSleep = "sleep.json";
constexpr const char* kCommands = "commands.jsonl";
constexpr const char* kNotStarted = "commands_not_started.jsonl";
}  // namespace machine_file

// The ANSI code page the machine in `folder` declares, without opening it.
// Throws MachineError when its machine.json cannot be used.
AnsiCodePage MachineCodePage(const std::filesystem::path& folder);

class SimMachine {
 public:
  // Opens the machine in `folder`. Throws MachineError when the folder or
  // its machine.json cannot be used.
  explicit SimMachine(std::filesystem::path folder);
  // Writes back what it keeps in memory (see KeepPrivate); a failure then
  // goes unheard: call Flush first to hear it.
  ~SimMachine();
  SimMachine(const SimMachine&) = delete;
  SimMachine& operator=(const SimMachine&) = delete;

  // For a folder only this process uses while the machine is open (a
  // rehearsal's own copy): the machine's lock is taken once and held until
  // it is closed, and power.json and the appended record files are kept in
  // memory and written back by Flush, not at every change. Other processes
  // see them only after a Flush.
  void KeepPrivate();
  bool Private() const { return private_; }
  // Writes back what a private machine keeps in memory. Throws MachineError
  // when a file cannot be written.
  void Flush();
  // Drops the records a private machine has not yet written: for a machine
  // used only to read through.
  void DropRecords() {
    unwrittenRecords_.clear();
    unwrittenSleeps_.clear();
  }

  const std::filesystem::path& Folder() const { return folder_; }
  std::filesystem::path File(std::string_view name) const { return folder_ / name; }
  const MachineSettings& Settings() const { return settings_; }
  const PathResolver& Paths() const { return paths_; }
  const AnsiCodePage& Ansi() const { return settings_.ansi; }

  // The host file of a Windows path (UTF-8); empty when the path lies on no
  // drive of the machine.
  std::string HostPath(const std::string& windowsPath) const;

  // The error code with which writing at `path` is refused, if it is.
  std::optional<port::ErrorCode> WriteDenied(const ResolvedPath& path) const;
  // Whether the disk holding `path` is full: every write there fails.
  bool DiskFull(const ResolvedPath& path) const;

  // Notes that a call of the program opens (or tries to open) the host file
  // `host`, when machine.json asks for a record of opens.
  void RecordOpen(const std::filesystem::path& host) const;

  // Appends `text` to the record file `name` in the machine folder, under
  // the machine's lock, so records of jobs running at once stay whole (on
  // a private machine, at the next Flush).
  void AppendRecord(std::string_view name, std::string_view text) const;

  // Adds a pause of the program to sleep.json ({"total_ms": the sum,
  // "calls": [each pause]}), which jobs running at once each add to (on a
  // private machine, at the next Flush).
  void RecordSleep(std::uint32_t milliseconds);

  // Held while it lives: the lock every process using this machine folder
  // shares (an flock on machine.json). What is done under it, such as a
  // file's open together with its sharing or the rewrite of a record file,
  // is one step for every other process. Taken again while held, it is
  // released when the outermost holder ends.
  class Lock {
   public:
    explicit Lock(const SimMachine& machine);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    const SimMachine& machine_;
  };
  [[nodiscard]] Lock LockMachine() const { return Lock(*this); }

  // power.json, which the power profile and Powercfg.exe share.
  CachedJsonFile& PowerFile() { return powerFile_; }
  const CachedJsonFile& PowerFile() const { return powerFile_; }

  // The calling thread's last error code, shared by every part of the
  // machine.
  port::ErrorCode LastError() const { return lastError_; }
  void SetLastError(port::ErrorCode code) { lastError_ = code; }

  // Counts a call of `call`; throws SimulatedFault when "raises" names this
  // call and count.
  void RaiseIfDue(const std::string& call);

  // Simulated time: every wait of the program (a post that never returns, a
  // lock another holds, a pause) passes at once and moves the machine's
  // clock on by its length, so the program logs and reports what it would
  // after waiting on a real clock, without the wait. Off: waits are real.
  void KeepSimulatedTime() { simulatedTime_ = true; }
  bool SimulatedTime() const { return simulatedTime_; }
  void PassTime(std::uint64_t milliseconds) { elapsedMs_ += milliseconds; }
  std::uint64_t ElapsedMs() const { return elapsedMs_; }

 private:
  void WriteSleeps(const std::vector<std::uint32_t>& sleeps) const;

  std::filesystem::path folder_;
  MachineSettings settings_;
  PathResolver paths_;
  std::vector<std::pair<std::u16string, port::ErrorCode>> deniedFolded_;
  std::vector<std::u16string> fullFolded_;
  UniqueFd lockFile_;
  CachedJsonFile powerFile_;
  mutable int lockDepth_ = 0;
  bool private_ = false;
  // Record files' text not yet appended, by name (a private machine).
  mutable std::map<std::string, std::string, std::less<>> unwrittenRecords_;
  std::vector<std::uint32_t> unwrittenSleeps_;  // pauses not yet in sleep.json (a private machine)
  port::ErrorCode lastError_ = 0;
  bool simulatedTime_ = false;
  std::uint64_t elapsedMs_ = 0;
  std::map<std::string, std::uint32_t> callCounts_;
};

}  // namespace zrt::sim
