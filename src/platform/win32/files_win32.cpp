// Files and folders: FindFirstFileA/FindNextFileA, GetFileAttributesExA,
// CreateDirectoryA, CreateFileA/WriteFile/ReadFile, DeleteFileA, MoveFileA,
// GetWindowsDirectoryA, SHGetFolderPathA, GetPrivateProfileStringA.
#include <windows.h>
// The shell header expects the Windows types to be declared already.
#include <shlobj.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "platform/win32/unique_resource.h"
#include "platform/win32/win32_adapters.h"

namespace zrt::win32 {
namespace {

class Win32OutputFile final : public port::OutputFile {
 public:
  explicit Win32OutputFile(UniqueFileHandle file) : file_(std::move(file)) {}

  bool ReadFile(std::string& bytes, std::size_t capacity) override {
    bytes.assign(capacity, '\0');
    if (::SetFilePointer(file_.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
      bytes.clear();
      return false;
    }
    std::size_t done = 0;
    while (done < capacity) {
      const DWORD chunk = static_cast<DWORD>(
          std::min<std::size_t>(capacity - done, std::numeric_limits<DWORD>::max()));
      DWORD read = 0;
      if (!::ReadFile(file_.get(), bytes.data() + done, chunk, &read, nullptr)) {
        bytes.clear();
        return false;
      }
      if (read == 0) break;
      done += read;
    }
    bytes.resize(done);
    return true;
  }

  bool WriteFile(const void* data, std::size_t size) override {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
      const DWORD chunk =
          static_cast<DWORD>(std::min<std::size_t>(size, std::numeric_limits<DWORD>::max()));
      DWORD written = 0;
      if (!::WriteFile(file_.get(), bytes, chunk, &written, nullptr)) return false;
      if (written == 0) return false;
      bytes += written;
      size -= written;
    }
    return true;
  }

  bool GetFileSize(std::uint64_t& size) override {
    DWORD high = 0;
    const DWORD low = ::GetFileSize(file_.get(), &high);
    if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) return false;
    size = (static_cast<std::uint64_t>(high) << 32) | low;
    return true;
  }

 private:
  UniqueFileHandle file_;
};

// How each mode calls CreateFileA.
struct OpenParameters {
  DWORD access;
  DWORD share;
  DWORD disposition;
};

// A handle with FILE_APPEND_DATA but without FILE_WRITE_DATA writes only at
// the end of the file: for each WriteFile the file system finds the end and
// writes there as one step, so the records of several processes appending
// to one file never overwrite, tear or interleave one another. This is the
// platform's counterpart of O_APPEND, on which the simulated machine's
// appends rest.
constexpr DWORD kAppendOnly = FILE_APPEND_DATA | SYNCHRONIZE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

OpenParameters Parameters(port::OpenMode mode) {
  switch (mode) {
    case port::OpenMode::AppendExisting:
      return {kAppendOnly, kShareAll, OPEN_EXISTING};
    case port::OpenMode::CreateNew:
      return {GENERIC_WRITE, kShareAll, CREATE_NEW};
    case port::OpenMode::CreateNewAlone:
      // No FILE_SHARE_WRITE: every other open for writing fails with
      // ERROR_SHARING_VIOLATION until this handle is closed.
      return {kAppendOnly, FILE_SHARE_READ, CREATE_NEW};
    case port::OpenMode::CreateNewHeld:
      // The same, but the name may be removed or changed meanwhile.
      return {kAppendOnly, FILE_SHARE_READ | FILE_SHARE_DELETE, CREATE_NEW};
    case port::OpenMode::ClaimExisting:
      // Sharing only deleting: no other handle may be open on the file
      // meanwhile, yet MoveFileA and DeleteFileA of the holder work.
      return {GENERIC_READ | kAppendOnly, FILE_SHARE_DELETE, OPEN_EXISTING};
    case port::OpenMode::Replace:
      break;
  }
  return {GENERIC_WRITE, kShareAll, CREATE_ALWAYS};
}

// Buffers handed to the system are limited to what a DWORD or int counts.
DWORD BoundedCapacity(std::size_t capacity) {
  return static_cast<DWORD>(std::min<std::size_t>(capacity, 0x7fffffff));
}

class Win32FileSystem final : public port::FileSystem {
 public:
  bool FindFirstFileA(const char* path) override {
    WIN32_FIND_DATAA found;
    UniqueFindHandle search(::FindFirstFileA(path, &found));
    return search.valid();
  }

  bool FindFileNames(const char* pattern, std::vector<std::string>& names) override {
    names.clear();
    WIN32_FIND_DATAA found;
    UniqueFindHandle search(::FindFirstFileA(pattern, &found));
    if (!search.valid()) return false;
    do {
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        names.emplace_back(found.cFileName);
      }
    } while (::FindNextFileA(search.get(), &found));
    if (::GetLastError() != ERROR_NO_MORE_FILES) return false;
    if (names.empty()) {
      ::SetLastError(ERROR_FILE_NOT_FOUND);
      return false;
    }
    return true;
  }

  bool GetFileSize(const char* path, std::uint64_t& size) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
    size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
  }

  bool CreateDirectoryA(const char* path) override {
    return ::CreateDirectoryA(path, nullptr) != FALSE;
  }

  std::unique_ptr<port::OutputFile> CreateFileA(const char* path, port::OpenMode mode) override {
    const OpenParameters open = Parameters(mode);
    UniqueFileHandle file(::CreateFileA(path, open.access, open.share, nullptr, open.disposition,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return nullptr;
    return std::make_unique<Win32OutputFile>(std::move(file));
  }

  bool DeleteFileA(const char* path) override { return ::DeleteFileA(path) != FALSE; }

  bool MoveFileA(const char* existing, const char* newName) override {
    return ::MoveFileA(existing, newName) != FALSE;
  }

  bool GetWindowsDirectoryA(std::string& path, std::size_t capacity) override {
    path.clear();
    if (capacity == 0) return false;
    std::vector<char> buffer(capacity, '\0');
    const UINT length = ::GetWindowsDirectoryA(buffer.data(), BoundedCapacity(capacity));
    // A result as large as the buffer is the size it would need.
    if (length == 0 || length >= capacity) return false;
    path.assign(buffer.data(), length);
    return true;
  }

  port::HResult SHGetFolderPathA(int csidl, std::string& path) override {
    char buffer[MAX_PATH] = {};
    const HRESULT hr = ::SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer);
    path = SUCCEEDED(hr) ? std::string(buffer) : std::string();
    return hr;
  }

  std::string GetPrivateProfileStringA(const char* section, const char* key,
                                       const char* defaultValue, std::size_t capacity,
                                       const char* iniPath) override {
    if (capacity == 0) return {};
    std::vector<char> buffer(capacity, '\0');
    const DWORD length = ::GetPrivateProfileStringA(section, key, defaultValue, buffer.data(),
                                                    BoundedCapacity(capacity), iniPath);
    return std::string(buffer.data(), std::min<std::size_t>(length, capacity - 1));
  }
};

}  // namespace

std::unique_ptr<port::FileSystem> MakeFileSystem() { return std::make_unique<Win32FileSystem>(); }

}  // namespace zrt::win32
