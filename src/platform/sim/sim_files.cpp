#include "platform/sim/sim_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/sim/sim_code_page.h"
#include "platform/sim/sim_crash_point.h"

namespace zrt::sim {
namespace {

namespace fs = std::filesystem;

constexpr port::ErrorCode kInvalidName = 123;
constexpr port::ErrorCode kInsufficientBuffer = 122;
constexpr port::ErrorCode kWriteFault = 29;
constexpr port::ErrorCode kDiskFull = 112;

bool HasWildcard(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return c == '*' || c == '?'; });
}

bool IsDirectory(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
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

// A file open for writing: each WriteFile is one write of the host file (for
// a file opened to append, the kernel puts it whole at the end). On a full
// disk every write fails and writes nothing.
class SimOutputFile : public port::OutputFile {
 public:
  SimOutputFile(SimMachine& machine, std::shared_ptr<HostFile> file, bool diskFull,
                std::string path)
      : machine_(machine), file_(std::move(file)), diskFull_(diskFull), path_(std::move(path)) {}

  bool ReadFile(std::string& bytes, std::size_t capacity) override {
    bytes.assign(capacity, '\0');
    std::size_t done = 0;
    while (done < capacity) {
      const ssize_t count =
          ::pread(Fd(), bytes.data() + done, capacity - done, static_cast<off_t>(done));
      if (count < 0 && errno == EINTR) continue;
      if (count < 0) {
        bytes.clear();
        return Fail(port::err::kAccessDenied);
      }
      if (count == 0) break;
      done += static_cast<std::size_t>(count);
    }
    bytes.resize(done);
    return true;
  }

  bool WriteFile(const void* data, std::size_t size) override {
    CrashPoint("write", path_);
    if (diskFull_ && size > 0) {
      machine_.SetLastError(kDiskFull);
      return false;
    }
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
      const ssize_t written = ::write(Fd(), bytes, size);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        file_->size.reset();  // part of it may have been written
        machine_.SetLastError(kWriteFault);
        return false;
      }
      if (file_->size) *file_->size += static_cast<std::uint64_t>(written);
      bytes += written;
      size -= static_cast<std::size_t>(written);
    }
    if (file_->written) file_->written();
    return true;
  }

  bool GetFileSize(std::uint64_t& size) override {
    if (file_->size) {
      size = *file_->size;
      return true;
    }
    struct stat status {};
    if (::fstat(Fd(), &status) != 0) return Fail(port::err::kAccessDenied);
    size = static_cast<std::uint64_t>(status.st_size);
    return true;
  }

 private:
  int Fd() const { return file_->fd.get(); }

  bool Fail(port::ErrorCode code) {
    machine_.SetLastError(code);
    return false;
  }

  SimMachine& machine_;
  std::shared_ptr<HostFile> file_;
  bool diskFull_;
  std::string path_;
};

int OpenFlags(port::OpenMode mode) {
  switch (mode) {
    case port::OpenMode::AppendExisting:
      return O_WRONLY | O_APPEND;
    case port::OpenMode::ClaimExisting:
      return O_RDWR | O_APPEND;
    case port::OpenMode::CreateNew:
      return O_WRONLY | O_CREAT | O_EXCL;
    case port::OpenMode::CreateNewAlone:
    case port::OpenMode::CreateNewHeld:
      return O_WRONLY | O_APPEND;  // made by MakeHeldAlone
    case port::OpenMode::Replace:
      break;
  }
  return O_WRONLY;  // truncated once the sharing allows it
}

// No file, with the reason in errno (after the file, if any, is closed).
UniqueFd Failed(UniqueFd file, int error) {
  file = UniqueFd();
  errno = error;
  return file;
}

// Makes the file `host` held alone (LOCK_EX) from the moment it has its
// name, so that no other process can open it first: the file is made
// without a name, held, and then linked under its name; where the host's
// file system cannot make a file without a name, under a name of this
// process's own, which it then gives up. Fails with EEXIST when the name is
// taken.
UniqueFd MakeHeldAlone(const std::string& host) {
  const int flags = OpenFlags(port::OpenMode::CreateNewAlone) | O_CLOEXEC;
  const std::string folder = host.substr(0, host.rfind('/'));
  UniqueFd fd(::open(folder.c_str(), flags | O_TMPFILE, 0666));
  if (!fd && (errno == ENOENT || errno == ENOTDIR)) return fd;
  if (fd) {
    ::flock(fd.get(), LOCK_EX);
    const std::string self = "/proc/self/fd/" + std::to_string(fd.get());
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, host.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      return fd;
    }
    if (errno == EEXIST) return Failed(std::move(fd), EEXIST);
  }
  const std::string own = host + ".new" + std::to_string(::getpid());
  fd = UniqueFd(::open(own.c_str(), flags | O_CREAT | O_TRUNC, 0666));
  if (!fd) return fd;
  ::flock(fd.get(), LOCK_EX);
  const int error = ::link(own.c_str(), host.c_str()) == 0 ? 0 : errno;
  ::unlink(own.c_str());
  return error == 0 ? std::move(fd) : Failed(std::move(fd), error);
}

// Opens the host file as the mode's disposition says, in one step of the
// host's file system, with the sharing the mode asks for; `existed` tells
// whether the file was there before. A file held alone elsewhere fails with
// EWOULDBLOCK and is left as it was.
UniqueFd OpenHostFile(const std::string& host, port::OpenMode mode, bool& existed) {
  existed = mode == port::OpenMode::AppendExisting || mode == port::OpenMode::Replace ||
            mode == port::OpenMode::ClaimExisting;
  // A held file differs from one made alone only in what it lets others do
  // with its name, which the host allows to every file.
  if (mode == port::OpenMode::CreateNewAlone || mode == port::OpenMode::CreateNewHeld) {
    return MakeHeldAlone(host);
  }
  const int flags = OpenFlags(mode) | O_CLOEXEC;
  UniqueFd fd(::open(host.c_str(), flags, 0666));
  while (!fd && errno == ENOENT && mode == port::OpenMode::Replace) {
    // CREATE_ALWAYS of a missing file: create it, unless another process
    // has just done so (then open that one).
    fd = UniqueFd(::open(host.c_str(), flags | O_CREAT | O_EXCL, 0666));
    if (fd) existed = false;
    if (fd || errno != EEXIST) break;
    fd = UniqueFd(::open(host.c_str(), flags, 0666));
  }
  // A claim shares nothing but the name, so it takes the file alone; every
  // other handle but one made alone shares reading and writing: it clashes
  // only with a file held alone, which was held before it had its name.
  const int share = mode == port::OpenMode::ClaimExisting ? LOCK_EX : LOCK_SH;
  if (fd && ::flock(fd.get(), share | LOCK_NB) != 0) return Failed(std::move(fd), EWOULDBLOCK);
  return fd;
}

// The Windows error of a failed open of `path`.
port::ErrorCode OpenError(int error, const ResolvedPath& path) {
  switch (error) {
    case EWOULDBLOCK:
      return port::err::kSharingViolation;
    case EEXIST:
      return port::err::kFileExists;
    case ENOENT:
      return MissingError(path);
    case ENOTDIR:
      return port::err::kPathNotFound;
    default:
      return port::err::kAccessDenied;
  }
}

// The value of `key` in `section` of INI text, or none.
std::optional<std::string> FindIniValue(const AnsiCodePage& ansi, const std::string& iniText,
                                        const std::string& section, const std::string& key) {
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
      inSection = !sectionSeen && ansi.EqualNoCase(name, section);
      sectionSeen = sectionSeen || inSection;
      continue;
    }
    if (!inSection) continue;
    const std::size_t equals = trimmed.find('=');
    if (equals == std::string::npos || !ansi.EqualNoCase(Trim(trimmed.substr(0, equals)), key)) {
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

}  // namespace

bool MatchesPattern(const std::string& name, const std::string& pattern) {
  const std::u16string foldedPattern = FoldUtf16(Utf8ToUtf16(pattern));
  if (foldedPattern == u"*.*") return true;
  return MatchFolded(FoldUtf16(Utf8ToUtf16(name)), foldedPattern);
}

std::shared_ptr<HostFile> SimFileSystem::HeldForAppending(const std::string& host) {
  auto held = heldForAppending_.find(host);
  if (held != heldForAppending_.end()) return held->second;
  bool existed = false;
  UniqueFd fd = OpenHostFile(host, port::OpenMode::AppendExisting, existed);
  struct stat status {};
  if (!fd || ::fstat(fd.get(), &status) != 0) return nullptr;
  auto file = std::make_shared<HostFile>(
      HostFile{std::move(fd), static_cast<std::uint64_t>(status.st_size), {}});
  heldForAppending_.emplace(host, file);
  return file;
}

void SimFileSystem::LetGo(const std::string& host) {
  const auto held = heldForAppending_.find(host);
  if (held == heldForAppending_.end()) return;
  held->second->size.reset();  // handles still open on it no longer write it alone
  heldForAppending_.erase(held);
}

bool SimFileSystem::HoldsHeldFile(const std::string& folder) const {
  const auto next = heldForAppending_.upper_bound(folder + "/");
  return next != heldForAppending_.end() && next->first.size() > folder.size() + 1 &&
         next->first.compare(0, folder.size() + 1, folder + "/") == 0;
}

bool SimFileSystem::Fail(port::ErrorCode code) {
  machine_.SetLastError(code);
  return false;
}

std::optional<ResolvedPath> SimFileSystem::Resolve(const char* path) {
  if (path == nullptr) return std::nullopt;
  return machine_.Paths().Resolve(machine_.Ansi().ToUtf8(path));
}

bool SimFileSystem::FindFirstFileA(const char* path) {
  if (path == nullptr || *path == '\0') return Fail(port::err::kFileNotFound);
  const std::string text = machine_.Ansi().ToUtf8(path);
  std::size_t start = text.size();
  while (start > 0 && text[start - 1] != '\\' && text[start - 1] != '/') --start;
  if (start == 0) start = text.find(':') + 1;  // npos + 1 is 0
  const std::string lastName = text.substr(start);
  if (lastName.empty()) return Fail(port::err::kFileNotFound);  // "C:\dir\" names no entry
  const std::string_view folderPart = std::string_view(text).substr(0, start);
  if (HasWildcard(folderPart)) return Fail(kInvalidName);

  if (!HasWildcard(lastName)) {
    // The folder of a held file, spelt as on disk (the log's folder, probed
    // at every line), is there without a look.
    if (machine_.Private()) {
      const auto& spelt = machine_.Paths().AsSpelt(text);
      if (spelt && HoldsHeldFile(spelt->host)) return true;
    }
    const auto resolved = machine_.Paths().Resolve(text);
    if (!resolved) return Fail(port::err::kPathNotFound);
    if (resolved->Exists()) return true;
    return Fail(MissingError(*resolved));
  }

  const auto folder = machine_.Paths().Resolve(folderPart.empty() ? "." : folderPart);
  if (!folder || !folder->IsFolder()) return Fail(port::err::kPathNotFound);
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

bool SimFileSystem::FindFileNames(const char* pattern, std::vector<std::string>& names) {
  names.clear();
  if (pattern == nullptr) return Fail(port::err::kFileNotFound);
  const std::string text = machine_.Ansi().ToUtf8(pattern);
  const std::size_t slash = text.find_last_of("\\/");
  const std::string folderPart = slash == std::string::npos ? "." : text.substr(0, slash + 1);
  const std::string lastName = slash == std::string::npos ? text : text.substr(slash + 1);
  if (lastName.empty()) return Fail(port::err::kFileNotFound);
  if (HasWildcard(folderPart)) return Fail(kInvalidName);
  const auto folder = machine_.Paths().Resolve(folderPart);
  if (!folder || !folder->IsFolder()) return Fail(port::err::kPathNotFound);
  std::error_code ec;
  for (fs::directory_iterator it(folder->host, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (it->is_regular_file(ec) && MatchesPattern(name, lastName)) {
      names.push_back(machine_.Ansi().FromUtf8(name));
    }
  }
  return !names.empty() || Fail(port::err::kFileNotFound);
}

bool SimFileSystem::GetFileSize(const char* path, std::uint64_t& size) {
  const auto resolved = Resolve(path);
  if (!resolved) return Fail(port::err::kPathNotFound);
  if (resolved->trailingSeparator && !resolved->IsFolder()) {
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
  if (resolved->IsRoot() || resolved->Exists()) return Fail(port::err::kAlreadyExists);
  if (!IsDirectory(resolved->Parent().host)) return Fail(port::err::kPathNotFound);
  if (const auto denied = machine_.WriteDenied(*resolved)) return Fail(*denied);
  CrashPoint("mkdir", path);
  std::error_code ec;
  if (!fs::create_directory(resolved->host, ec)) return Fail(port::err::kAccessDenied);
  return true;
}

std::unique_ptr<port::OutputFile> SimFileSystem::CreateFileA(const char* path,
                                                             port::OpenMode mode) {
  const auto fail = [this](port::ErrorCode code) {
    Fail(code);
    return nullptr;
  };
  if (path == nullptr) return fail(port::err::kPathNotFound);
  const std::string text = machine_.Ansi().ToUtf8(path);
  bool existed = false;
  // An existing file spelt as it is on disk (as a log file is at every line
  // but its first) is found by the open itself; any other path is resolved
  // first.
  if (mode == port::OpenMode::AppendExisting) {
    const auto& spelt = machine_.Paths().AsSpelt(text);
    if (spelt && !spelt->IsRoot() && !spelt->trailingSeparator && !machine_.WriteDenied(*spelt)) {
      std::shared_ptr<HostFile> file;
      if (machine_.Private()) {
        file = HeldForAppending(spelt->host);
      } else if (UniqueFd fd = OpenHostFile(spelt->host, mode, existed)) {
        file = std::make_shared<HostFile>(HostFile{std::move(fd), {}, {}});
      }
      if (file) {
        machine_.RecordOpen(spelt->host);
        machine_.SetLastError(port::err::kSuccess);
        return std::make_unique<SimOutputFile>(machine_, std::move(file), machine_.DiskFull(*spelt),
                                               text);
      }
    }
  }

  const auto resolved = machine_.Paths().Resolve(text);
  if (!resolved) return fail(port::err::kPathNotFound);
  if (resolved->IsRoot() || resolved->IsFolder()) return fail(port::err::kAccessDenied);
  if (resolved->trailingSeparator) return fail(kInvalidName);
  if (const auto denied = machine_.WriteDenied(*resolved)) {
    return fail(IsDirectory(resolved->Parent().host) ? *denied : port::err::kPathNotFound);
  }
  machine_.RecordOpen(resolved->host);
  LetGo(resolved->host);
  if (mode != port::OpenMode::AppendExisting && mode != port::OpenMode::ClaimExisting) {
    CrashPoint("create", text);
  }
  UniqueFd fd = OpenHostFile(resolved->host, mode, existed);
  if (!fd) return fail(OpenError(errno, *resolved));
  if (mode == port::OpenMode::Replace && ::ftruncate(fd.get(), 0) != 0) {
    return fail(port::err::kAccessDenied);
  }
  machine_.SetLastError(existed && mode == port::OpenMode::Replace ? port::err::kAlreadyExists
                                                                   : port::err::kSuccess);
  auto file = std::make_shared<HostFile>(HostFile{std::move(fd), {}, {}});
  if (machine_.Private()) file->written = [this, host = resolved->host] { LetGo(host); };
  return std::make_unique<SimOutputFile>(machine_, std::move(file), machine_.DiskFull(*resolved),
                                         text);
}

bool SimFileSystem::DeleteFileA(const char* path) {
  const auto resolved = Resolve(path);
  if (!resolved) return Fail(port::err::kPathNotFound);
  if (!resolved->Exists()) return Fail(MissingError(*resolved));
  if (resolved->IsRoot() || resolved->IsFolder()) return Fail(port::err::kAccessDenied);
  if (const auto denied = machine_.WriteDenied(*resolved)) return Fail(*denied);
  CrashPoint("delete", path);
  LetGo(resolved->host);
  std::error_code ec;
  return fs::remove(resolved->host, ec) || Fail(port::err::kAccessDenied);
}

bool SimFileSystem::MoveFileA(const char* existing, const char* newName) {
  const auto from = Resolve(existing);
  const auto to = Resolve(newName);
  if (!from || !to) return Fail(port::err::kPathNotFound);
  if (!from->Exists()) return Fail(MissingError(*from));
  if (from->IsRoot() || from->IsFolder()) return Fail(port::err::kAccessDenied);
  if (to->Exists()) return Fail(port::err::kAlreadyExists);
  if (!IsDirectory(to->Parent().host)) return Fail(port::err::kPathNotFound);
  for (const ResolvedPath* path : {&*from, &*to}) {
    if (const auto denied = machine_.WriteDenied(*path)) return Fail(*denied);
  }
  CrashPoint("rename", existing);
  LetGo(from->host);
  // One step of the host's file system, as MoveFileA within one volume: a
  // name that appeared meanwhile is never replaced.
  if (::renameat2(AT_FDCWD, from->host.c_str(), AT_FDCWD, to->host.c_str(), RENAME_NOREPLACE) !=
      0) {
    switch (errno) {
      case EEXIST:
        return Fail(port::err::kAlreadyExists);
      case ENOENT:
        return Fail(MissingError(*from));
      default:
        return Fail(port::err::kAccessDenied);
    }
  }
  return true;
}

bool SimFileSystem::GetWindowsDirectoryA(std::string& path, std::size_t capacity) {
  const std::string folder = machine_.Ansi().FromUtf8(machine_.Settings().windowsFolder);
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
  path = machine_.Ansi().FromUtf8(settings.commonAppData);
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
    file = machine_.Ansi().FromUtf8(machine_.Settings().windowsFolder) + "\\" + file;
  }
  const auto resolved = Resolve(file.c_str());
  std::ifstream in;
  if (resolved && !resolved->IsFolder()) {
    machine_.RecordOpen(resolved->host);
    in.open(resolved->host, std::ios::binary);
  }
  if (!in) {
    machine_.SetLastError(port::err::kFileNotFound);
  } else if (section != nullptr && key != nullptr) {
    std::ostringstream text;
    text << in.rdbuf();
    if (auto value = FindIniValue(machine_.Ansi(), text.str(), section, key)) {
      result = std::move(*value);
    } else {
      machine_.SetLastError(port::err::kFileNotFound);
    }
  }
  if (result.size() > capacity - 1) result.resize(capacity - 1);
  return result;
}

}  // namespace zrt::sim
