// Files and folders of the simulated machine: real files inside the drive
// folders of the machine folder, found by Windows paths.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "platform/port/file_system.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_unique_fd.h"

namespace zrt::sim {

// An open file of the host, shared by the handles that use it.
struct HostFile {
  UniqueFd fd;
  // Its size, where only these handles write it (a held file); else none
  // and the host is asked.
  std::optional<std::uint64_t> size;
  // Called after each write through it (lets a held file of the same name
  // go, whose size it changes).
  std::function<void()> written;
};

class SimFileSystem : public port::FileSystem {
 public:
  explicit SimFileSystem(SimMachine& machine) : machine_(machine) {}

  // Wildcards * and ? are allowed in the last component only (error 123
  // elsewhere). A folder's listing includes "." and "..", as on Windows
  // (not at a drive's root). A path ending in a backslash finds nothing.
  bool FindFirstFileA(const char* path) override;
  // Files (not folders) of one folder whose names match the last component.
  bool FindFileNames(const char* pattern, std::vector<std::string>& names) override;
  bool GetFileSize(const char* path, std::uint64_t& size) override;
  // Error 183 when the path exists, 3 when its parent folder is missing,
  // the configured code when writing there is refused.
  bool CreateDirectoryA(const char* path) override;
  // Each mode is one atomic step of the host's file system, and sharing is
  // kept between every handle of every process on the machine. Error 80
  // (a create-new of an existing file), 2 (AppendExisting of a missing
  // file), 3 (missing folder), 5 (a folder), 32 (the sharing clashes with a
  // handle open elsewhere), or the configured code when writing is refused.
  // Replace leaves the last error at 183 when the file existed, else at 0.
  // ClaimExisting takes the file alone (LOCK_EX): 32 while another handle
  // is open on it.
  std::unique_ptr<port::OutputFile> CreateFileA(const char* path, port::OpenMode mode) override;
  // Error 2 or 3 when the file is missing, 5 for a folder, or the configured
  // code when writing is refused.
  bool DeleteFileA(const char* path) override;
  // One rename(2) that never replaces (RENAME_NOREPLACE). Error 183 when
  // the new name is taken, 2 or 3 when the file is missing, or the
  // configured code when writing is refused. Sharing is not looked at: a
  // file held elsewhere is renamed as one held with CreateNewHeld is.
  bool MoveFileA(const char* existing, const char* newName) override;
  bool GetWindowsDirectoryA(std::string& path, std::size_t capacity) override;
  port::HResult SHGetFolderPathA(int csidl, std::string& path) override;
  // Reads the INI file as it is on disk (texts in the ANSI code page).
  // Section and key names ignore case; the value loses its surrounding
  // blanks and one pair of surrounding quotes. A relative INI path is taken
  // in the Windows folder. The default is given when the file, section or
  // key is missing; the result is cut to capacity - 1 bytes.
  std::string GetPrivateProfileStringA(const char* section, const char* key,
                                       const char* defaultValue, std::size_t capacity,
                                       const char* iniPath) override;

 private:
  // Resolves an ANSI path; sets `error` when it lies on no drive.
  std::optional<ResolvedPath> Resolve(const char* path);
  bool Fail(port::ErrorCode code);
  // A private machine's file opened to append stays open, shared, after its
  // handle is closed: no other process uses the folder, so the next open of
  // it to append shares the open file instead of walking its path again (a
  // log line's open), and its size is known without asking the host. Any
  // other open, a move or a deletion of it lets it go.
  std::shared_ptr<HostFile> HeldForAppending(const std::string& host);
  void LetGo(const std::string& host);
  // Whether `folder` (a host path) holds a file held for appending, and so
  // exists: a folder cannot be removed through the machine.
  bool HoldsHeldFile(const std::string& folder) const;

  SimMachine& machine_;
  std::map<std::string, std::shared_ptr<HostFile>> heldForAppending_;  // by host path
};

// Windows file-name pattern matching (* and ?, ignoring case, "*.*"
// matches every name). Texts are UTF-8.
bool MatchesPattern(const std::string& name, const std::string& pattern);

}  // namespace zrt::sim
