#include "platform/sim/sim_files.h"

#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/sim/sim_code_page.h"

namespace zrt::sim {
namespace {

namespace fs = std::filesystem;

constexpr port::ErrorCode kInvalidName = 123;
constexpr port::ErrorCode kInsufficientBuffer = 122;
constexpr port::ErrorCode kWriteFault = 29;

bool HasWildcard(std::string_view text) { return text.find_first_of("*?") != std::string::npos; }

bool IsDirectory(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

bool Exists(const fs::path& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

// The error a missing file gives: "file not found" when its folder exists,
// "path not found" otherwise.
port::ErrorCode MissingError(const ResolvedPath& path) {
  return IsDirectory(path.Parent().host) ? port::err::kFileNotFound : port::err::kPathNotFound;
}

bool MatchFolded(std::u16string_view name, std::u16string_view pattern) {
  // Iterative glob with one backtracking point for the last '*'.
  std::size_t n = 0, p = 0, starP = std::u16string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
      ++n, ++p;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      starP = p++, starN = n;
    } else if (starP != std::u16string_view::npos) {
      p = starP + 1, n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

std::string Trim(std::string_view text) {
  const char* blanks = " \t\r\n";
  const std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(blanks);
  return std::string(text.substr(first, last - first + 1));
}

class SimOutputFile : public port::OutputFile {
 public:
  SimOutputFile(SimMachine& machine, std::ofstream out) : machine_(machine), out_(std::move(out)) {}

  bool WriteFile(const void* data, std::size_t size) override {
    out_.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    out_.flush();  // on disk at once, however the process ends
    if (!out_) {
      machine_.SetLastError(kWriteFault);
      return false;
    }
    return true;
  }

 private:
  SimMachine& machine_;
  std::ofstream out_;
};

}  // namespace

bool MatchesPattern(const std::string& name, const std::string& pattern) {
  const std::u16string foldedPattern = FoldUtf16(Utf8ToUtf16(pattern));
  if (foldedPattern == u"*.*") return true;
  return MatchFolded(FoldUtf16(Utf8ToUtf16(name)), foldedPattern);
}

std::optional<std::string> FindIniValue(const std::string& iniText, const std::string& section,
                                        const std::string& key) {
  std::istringstream lines(iniText);
  std::string line;
  bool inSection = false;
  bool sectionSeen = false;
  while (std::getline(lines, line)) {
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == ';') continue;
    if (trimmed[0] == '[') {
      if (inSection) return std::nullopt;  // only the first section of a name counts
      const std::size_t close = trimmed.find(']');
      const std::string name =
          Trim(trimmed.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      inSection = !sectionSeen && EqualAnsiNoCase(name, section);
      sectionSeen = sectionSeen || inSection;
      continue;
    }
    if (!inSection) continue;
    const std::size_t equals = trimmed.find('=');
    if (equals == std::string::npos || !EqualAnsiNoCase(Trim(trimmed.substr(0, equals)), key)) {
      continue;
    }
    std::string value = Trim(trimmed.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return value;
  }
  return std::nullopt;
}

bool SimFileSystem::Fail(port::ErrorCode code) {
  machine_.SetLastError(code);
  return false;
}

std::optional<ResolvedPath> SimFileSystem::Resolve(const char* path) {
  if (path == nullptr) return std::nullopt;
  return machine_.Paths().Resolve(AnsiToUtf8(path));
}

bool SimFileSystem::FindFirstFileA(const char* path) {
  if (path == nullptr || *path == '\0') return Fail(port::err::kFileNotFound);
  const std::string text = AnsiToUtf8(path);
  const std::size_t lastSeparator = text.find_last_of("\\/");
  const std::string lastName = lastSeparator == std::string::npos ? text.substr(text.find(':') + 1)
                                                                  : text.substr(lastSeparator + 1);
  if (lastName.empty()) return Fail(port::err::kFileNotFound);  // "C:\dir\" names no entry
  const std::string folderPart = text.substr(0, text.size() - lastName.size());
  if (HasWildcard(folderPart)) return Fail(kInvalidName);

  if (!HasWildcard(lastName)) {
    const auto resolved = machine_.Paths().Resolve(text);
    if (!resolved) return Fail(port::err::kPathNotFound);
    if (Exists(resolved->host)) return true;
    return Fail(MissingError(*resolved));
  }

  const auto folder = machine_.Paths().Resolve(folderPart.empty() ? "." : folderPart);
  if (!folder || !IsDirectory(folder->host)) return Fail(port::err::kPathNotFound);
  if (!folder->IsRoot() && (MatchesPattern(".", lastName) || MatchesPattern("..", lastName))) {
    return true;
  }
  std::error_code ec;
  for (fs::directory_iterator it(folder->host, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    if (MatchesPattern(it->path().filename().string(), lastName)) return true;
  }
  return Fail(port::err::kFileNotFound);
}

bool SimFileSystem::GetFileSize(const char* path, std::uint64_t& size) {
  const auto resolved = Resolve(path);
  if (!resolved) return Fail(port::err::kPathNotFound);
  if (resolved->trailingSeparator && !IsDirectory(resolved->host)) {
    return Fail(MissingError(*resolved));
  }
  std::error_code ec;
  const fs::file_status status = fs::status(resolved->host, ec);
  if (ec || !fs::exists(status)) return Fail(MissingError(*resolved));
  size = fs::is_regular_file(status) ? fs::file_size(resolved->host, ec) : 0;
  return !ec || Fail(port::err::kAccessDenied);
}

bool SimFileSystem::CreateDirectoryA(const char* path) {
  const auto resolved = Resolve(path);
  if (!resolved) return Fail(port::err::kPathNotFound);
  if (resolved->IsRoot() || Exists(resolved->host)) return Fail(port::err::kAlreadyExists);
  if (!IsDirectory(resolved->Parent().host)) return Fail(port::err::kPathNotFound);
  if (const auto denied = machine_.WriteDenied(*resolved)) return Fail(*denied);
  std::error_code ec;
  if (!fs::create_directory(resolved->host, ec)) return Fail(port::err::kAccessDenied);
  return true;
}

std::unique_ptr<port::OutputFile> SimFileSystem::CreateFileA(const char* path,
                                                             port::OpenMode mode) {
  const auto resolved = Resolve(path);
  if (!resolved) {
    Fail(port::err::kPathNotFound);
    return nullptr;
  }
  if (resolved->IsRoot() || IsDirectory(resolved->host)) {
    Fail(port::err::kAccessDenied);
    return nullptr;
  }
  if (resolved->trailingSeparator) {
    Fail(kInvalidName);
    return nullptr;
  }
  if (!IsDirectory(resolved->Parent().host)) {
    Fail(port::err::kPathNotFound);
    return nullptr;
  }
  if (const auto denied = machine_.WriteDenied(*resolved)) {
    Fail(*denied);
    return nullptr;
  }
  const bool existed = Exists(resolved->host);
  if (mode == port::OpenMode::CreateNew && existed) {
    Fail(port::err::kFileExists);
    return nullptr;
  }
  const auto flags = std::ios::binary | std::ios::out |
                     (mode == port::OpenMode::Append ? std::ios::app : std::ios::trunc);
  std::ofstream out(resolved->host, flags);
  if (!out) {
    Fail(port::err::kAccessDenied);
    return nullptr;
  }
  machine_.SetLastError(existed && mode != port::OpenMode::CreateNew ? port::err::kAlreadyExists
                                                                     : port::err::kSuccess);
  return std::make_unique<SimOutputFile>(machine_, std::move(out));
}

bool SimFileSystem::DeleteFileA(const char* path) {
  const auto resolved = Resolve(path);
  if (!resolved) return Fail(port::err::kPathNotFound);
  if (!Exists(resolved->host)) return Fail(MissingError(*resolved));
  if (resolved->IsRoot() || IsDirectory(resolved->host)) return Fail(port::err::kAccessDenied);
  if (const auto denied = machine_.WriteDenied(*resolved)) return Fail(*denied);
  std::error_code ec;
  return fs::remove(resolved->host, ec) || Fail(port::err::kAccessDenied);
}

bool SimFileSystem::GetWindowsDirectoryA(std::string& path, std::size_t capacity) {
  const std::string folder = Utf8ToAnsi(machine_.Settings().windowsFolder);
  if (folder.size() + 1 > capacity) return Fail(kInsufficientBuffer);
  path = folder;
  return true;
}

port::HResult SimFileSystem::SHGetFolderPathA(int csidl, std::string& path) {
  path.clear();
  constexpr int kFolderMask = 0xFF;  // the CSIDL_FLAG_* bits are not part of the folder
  if ((csidl & kFolderMask) != port::kCsidlCommonAppData) return port::kE_INVALIDARG;
  const MachineSettings& settings = machine_.Settings();
  if (settings.commonAppDataError) return *settings.commonAppDataError;
  path = Utf8ToAnsi(settings.commonAppData);
  return port::kS_OK;
}

std::string SimFileSystem::GetPrivateProfileStringA(const char* section, const char* key,
                                                    const char* defaultValue, std::size_t capacity,
                                                    const char* iniPath) {
  if (capacity == 0) return {};
  std::string result = defaultValue ? defaultValue : "";
  result.erase(result.find_last_not_of(' ') + 1);  // the default loses trailing blanks

  std::string file = iniPath ? iniPath : "win.ini";
  if (file.find_first_of("\\/") == std::string::npos) {
    file = Utf8ToAnsi(machine_.Settings().windowsFolder) + "\\" + file;
  }
  const auto resolved = Resolve(file.c_str());
  std::ifstream in;
  if (resolved && !IsDirectory(resolved->host)) in.open(resolved->host, std::ios::binary);
  if (!in) {
    machine_.SetLastError(port::err::kFileNotFound);
  } else if (section != nullptr && key != nullptr) {
    std::ostringstream text;
    text << in.rdbuf();
    if (auto value = FindIniValue(text.str(), section, key)) {
      result = std::move(*value);
    } else {
      machine_.SetLastError(port::err::kFileNotFound);
    }
  }
  if (result.size() > capacity - 1) result.resize(capacity - 1);
  return result;
}

}  // namespace zrt::sim
