#include "platform/sim/sim_paths.h"

#include <cctype>
#include <system_error>

#include "platform/sim/sim_code_page.h"

namespace zrt::sim {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::vector<std::string> SplitComponents(std::string_view path) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : path) {
    if (IsSeparator(c)) {
      if (!current.empty()) parts.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) parts.push_back(current);
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
  if (!parent.components.empty()) {
    parent.components.pop_back();
    parent.host = host.parent_path();
  }
  return parent;
}

std::string FindNameNoCase(const std::filesystem::path& folder, const std::string& name) {
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec);
  if (ec) return {};
  const std::u16string wanted = FoldUtf16(Utf8ToUtf16(name));
  std::string found;
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const std::string candidate = it->path().filename().string();
    if (candidate == name) return candidate;  // an exact match wins over others
    if (found.empty() && FoldUtf16(Utf8ToUtf16(candidate)) == wanted) found = candidate;
  }
  return found;
}

PathResolver::PathResolver(std::filesystem::path machineFolder, std::map<char, std::string> drives,
                           const std::string& currentDirectory)
    : machineFolder_(std::move(machineFolder)), drives_(std::move(drives)) {
  std::string_view rest;
  if (!SplitDrive(currentDirectory, currentDrive_, rest)) currentDrive_ = 'C';
  currentComponents_ = SplitComponents(rest);
}

bool PathResolver::HasDrive(char letter) const {
  return drives_.count(static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))) > 0;
}

std::filesystem::path PathResolver::DriveRoot(char drive) const {
  const std::filesystem::path folder = drives_.at(drive);
  return folder.is_absolute() ? folder : machineFolder_ / folder;
}

std::optional<ResolvedPath> PathResolver::Resolve(std::string_view windowsPath) const {
  if (windowsPath.empty()) return std::nullopt;
  if (windowsPath.size() >= 2 && IsSeparator(windowsPath[0]) && IsSeparator(windowsPath[1])) {
    return std::nullopt;  // network and device paths are not part of the machine
  }
  ResolvedPath resolved;
  std::string_view rest;
  std::vector<std::string> logical;
  if (SplitDrive(windowsPath, resolved.drive, rest)) {
    // "D:name" is relative to the drive's root unless it is the current drive.
    if (!(!rest.empty() && IsSeparator(rest[0])) && resolved.drive == currentDrive_) {
      logical = currentComponents_;
    }
  } else {
    resolved.drive = currentDrive_;
    if (!IsSeparator(rest[0])) logical = currentComponents_;
  }
  if (!HasDrive(resolved.drive)) return std::nullopt;
  resolved.trailingSeparator = !rest.empty() && IsSeparator(rest.back());

  for (std::string& part : SplitComponents(rest)) {
    if (part == ".") continue;
    if (part == "..") {
      if (!logical.empty()) logical.pop_back();
      continue;
    }
    logical.push_back(std::move(part));
  }

  // Walk down from the drive root, taking each name as it is spelt on disk.
  std::filesystem::path host = DriveRoot(resolved.drive);
  bool onDisk = true;
  for (const std::string& part : logical) {
    std::string name = part;
    if (onDisk) {
      const std::string found = FindNameNoCase(host, part);
      if (found.empty()) {
        onDisk = false;
      } else {
        name = found;
      }
    }
    resolved.components.push_back(name);
    host /= name;
  }
  resolved.host = host;
  return resolved;
}

}  // namespace zrt::sim
