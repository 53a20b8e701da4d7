#include "platform/sim/sim_paths.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <system_error>

#include "platform/sim/sim_code_page.h"

namespace zrt::sim {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::vector<std::string> SplitComponents(std::string_view path) {
  std::vector<std::string> parts;
  while (!path.empty()) {
    const std::size_t end = std::min(path.find_first_of("\\/"), path.size());
    if (end > 0) parts.emplace_back(path.substr(0, end));
    path.remove_prefix(std::min(end + 1, path.size()));
  }
  return parts;
}

// Splits "C:rest" into its drive letter and the rest.
bool SplitDrive(std::string_view path, char& drive, std::string_view& rest) {
  if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
    drive = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    rest = path.substr(2);
    return true;
  }
  rest = path;
  return false;
}

// The type of the host entry at `path`; not_found when there is none, or
// when it cannot be looked at (as a listing would not show it).
std::filesystem::file_type TypeOnHost(const std::string& path) {
  using std::filesystem::file_type;
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) return file_type::not_found;
  if (S_ISREG(status.st_mode)) return file_type::regular;
  return S_ISDIR(status.st_mode) ? file_type::directory : file_type::unknown;
}

// The host path of the first `count` names below `root`.
std::string Below(const std::string& root, const std::vector<std::string>& names,
                  std::size_t count) {
  std::string path = root;
  for (std::size_t i = 0; i < count; ++i) (path += '/') += names[i];
  return path;
}

// The name in `folder` that equals `name` ignoring case; empty when none.
std::string FindNameNoCase(const std::filesystem::path& folder, const std::string& name) {
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec);
  if (ec) return {};
  const std::u16string wanted = FoldUtf16(Utf8ToUtf16(name));
  std::string found;
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    std::string candidate = it->path().filename().string();
    if (candidate == name) return candidate;  // an exact match wins over others
    if (found.empty() && FoldUtf16(Utf8ToUtf16(candidate)) == wanted) found = candidate;
  }
  return found;
}

}  // namespace

std::string ResolvedPath::WindowsPath() const {
  std::string path{drive, ':', '\\'};
  for (std::size_t i = 0; i < components.size(); ++i) {
    if (i > 0) path += '\\';
    path += components[i];
  }
  return path;
}

std::u16string ResolvedPath::FoldedPath() const { return FoldUtf16(Utf8ToUtf16(WindowsPath())); }

ResolvedPath ResolvedPath::Parent() const {
  ResolvedPath parent = *this;
  parent.trailingSeparator = false;
  parent.type = std::filesystem::file_type::none;
  if (!parent.components.empty()) {
    parent.components.pop_back();
    parent.host.resize(host.rfind('/'));
  }
  return parent;
}

PathResolver::PathResolver(const std::filesystem::path& machineFolder,
                           const std::map<char, std::string>& drives,
                           const std::string& currentDirectory) {
  for (const auto& [letter, folder] : drives) {
    const std::filesystem::path root = folder;
    roots_[letter] = (root.is_absolute() ? root : machineFolder / root).string();
  }
  std::string_view rest;
  if (!SplitDrive(currentDirectory, currentDrive_, rest)) currentDrive_ = 'C';
  currentComponents_ = SplitComponents(rest);
}

bool PathResolver::HasDrive(char letter) const {
  return roots_.count(static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))) > 0;
}

const std::optional<ResolvedPath>& PathResolver::AsSpelt(std::string_view windowsPath) const {
  // The same few paths come at every call (the log's folder and file at
  // every line), and what a path spelt so names depends on its text alone.
  constexpr std::size_t kRemembered = 64;
  if (const auto it = spelt_.find(windowsPath); it != spelt_.end()) return it->second;
  if (spelt_.size() >= kRemembered) spelt_.clear();
  return spelt_.emplace(windowsPath, Parse(windowsPath)).first->second;
}

std::optional<ResolvedPath> PathResolver::Parse(std::string_view windowsPath) const {
  if (windowsPath.empty()) return std::nullopt;
  if (windowsPath.size() >= 2 && IsSeparator(windowsPath[0]) && IsSeparator(windowsPath[1])) {
    return std::nullopt;  // network and device paths are not part of the machine
  }
  ResolvedPath resolved;
  std::string_view rest;
  if (SplitDrive(windowsPath, resolved.drive, rest)) {
    // "D:name" is relative to the drive's root unless it is the current drive.
    if (!(!rest.empty() && IsSeparator(rest[0])) && resolved.drive == currentDrive_) {
      resolved.components = currentComponents_;
    }
  } else {
    resolved.drive = currentDrive_;
    if (!IsSeparator(rest[0])) resolved.components = currentComponents_;
  }
  if (!HasDrive(resolved.drive)) return std::nullopt;
  resolved.trailingSeparator = !rest.empty() && IsSeparator(rest.back());

  std::vector<std::string>& logical = resolved.components;
  for (std::string& part : SplitComponents(rest)) {
    if (part == ".") continue;
    if (part == "..") {
      if (!logical.empty()) logical.pop_back();
      continue;
    }
    logical.push_back(std::move(part));
  }
  resolved.host = Below(roots_.at(resolved.drive), logical, logical.size());
  return resolved;
}

std::optional<ResolvedPath> PathResolver::Resolve(std::string_view windowsPath) const {
  std::optional<ResolvedPath> resolved = AsSpelt(windowsPath);
  if (!resolved) return std::nullopt;
  // A path spelt as it is on disk, as the program spells what it made, is
  // settled by one look: an exact name is the one a listing would pick.
  resolved->type = TypeOnHost(resolved->host);
  if (resolved->type == std::filesystem::file_type::not_found) {
    resolved->components = Walk(resolved->drive, resolved->components, resolved->type);
    resolved->host =
        Below(roots_.at(resolved->drive), resolved->components, resolved->components.size());
  }
  return resolved;
}

std::vector<std::string> PathResolver::Walk(char drive, const std::vector<std::string>& logical,
                                            std::filesystem::file_type& type) const {
  namespace fs = std::filesystem;
  const std::string& root = roots_.at(drive);

  // Start below the longest prefix that exists: as found by an earlier
  // listing, or spelt exactly.
  std::vector<std::u16string> keys{std::u16string(1, static_cast<char16_t>(drive))};
  for (const std::string& part : logical) {
    keys.push_back(keys.back() + u'\\' + FoldUtf16(Utf8ToUtf16(part)));
  }
  const auto exists = [](const std::string& path) {
    return TypeOnHost(path) != fs::file_type::not_found;
  };
  std::vector<std::string> names;
  std::size_t known = logical.size();
  for (; known > 0; --known) {
    const auto it = found_.find(keys[known]);
    if (it != found_.end() && exists(Below(root, it->second, known))) {
      names = it->second;
      break;
    }
    if (known < logical.size() && exists(Below(root, logical, known))) {
      names.assign(logical.begin(), logical.begin() + static_cast<std::ptrdiff_t>(known));
      break;
    }
  }

  // List each folder from there, taking each name as it is spelt on disk;
  // from the first missing name on, the names stay as given.
  fs::path host = Below(root, names, names.size());
  for (std::size_t i = known; i < logical.size(); ++i) {
    const std::string found = FindNameNoCase(host, logical[i]);
    if (found.empty()) {
      names.insert(names.end(), logical.begin() + static_cast<std::ptrdiff_t>(i), logical.end());
      type = fs::file_type::not_found;
      return names;
    }
    names.push_back(found);
    host /= found;
    found_[keys[i + 1]] = names;
  }
  type = TypeOnHost(host.string());
  return names;
}

}  // namespace zrt::sim
