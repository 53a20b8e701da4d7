// Windows paths of the simulated machine and where their files live on the
// host. Each drive letter is a folder inside the machine folder; path
// components are matched case-insensitively against the names on the host,
// as the Windows file system matches them.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zrt::sim {

// A Windows path taken apart. Texts are UTF-8.
struct ResolvedPath {
  char drive = 'C';                     // upper-case drive letter
  std::vector<std::string> components;  // below the drive root; existing ones as named on disk
  std::string host;                     // the file or folder on the host
  bool trailingSeparator = false;       // the path as given ended in a backslash
  // What `host` was when the path was resolved: not_found when missing,
  // none when not looked at (a Parent()).
  std::filesystem::file_type type = std::filesystem::file_type::none;

  bool IsRoot() const { return components.empty(); }
  bool Exists() const { return type != std::filesystem::file_type::not_found; }
  bool IsFolder() const { return type == std::filesystem::file_type::directory; }
  // "C:\Program Files\Merqel" with the names as resolved.
  std::string WindowsPath() const;
  // The same, case-folded: equal for paths naming the same file.
  std::u16string FoldedPath() const;
  ResolvedPath Parent() const;
};

class PathResolver {
 public:
  // `drives` maps an upper-case drive letter to its folder (relative to
  // `machineFolder` or absolute); `currentDirectory` is the Windows path that
  // relative paths start from.
  PathResolver(const std::filesystem::path& machineFolder,
               const std::map<char, std::string>& drives, const std::string& currentDirectory);

  // Resolves a Windows path (UTF-8; backslash or slash as separator; "."
  // and ".." understood). Empty when the path is empty, lies on a drive the
  // machine does not have, or is a network path.
  std::optional<ResolvedPath> Resolve(std::string_view windowsPath) const;
  // The same path taken as it is spelt, without a look at the host: its
  // `host` is the file the path names when it is spelt as it is on disk,
  // and its type is none. Valid until the next call.
  const std::optional<ResolvedPath>& AsSpelt(std::string_view windowsPath) const;

  bool HasDrive(char letter) const;

 private:
  // The names on disk of `logical` below the root of `drive`, and the type
  // of the entry they name; names past the first missing one stay as given.
  // For a path not spelt as it is on disk.
  std::vector<std::string> Walk(char drive, const std::vector<std::string>& logical,
                                std::filesystem::file_type& type) const;

  std::optional<ResolvedPath> Parse(std::string_view windowsPath) const;

  std::map<char, std::string> roots_;  // drive letter -> its folder on the host
  mutable std::map<std::string, std::optional<ResolvedPath>, std::less<>> spelt_;
  char currentDrive_ = 'C';
  std::vector<std::string> currentComponents_;
  // Folded path of an entry found by listing folders -> its names on disk.
  // Files may change under the machine at any time, so an entry is only
  // used after its host path has been seen to exist.
  mutable std::unordered_map<std::u16string, std::vector<std::string>> found_;
};

}  // namespace zrt::sim
