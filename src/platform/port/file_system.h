// Files and folders: FindFirstFileA, FindNextFileA, CreateDirectoryA,
// CreateFileA and WriteFile, DeleteFileA, MoveFileA, GetWindowsDirectoryA,
// SHGetFolderPathA, GetPrivateProfileStringA.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/port/platform_types.h"

namespace zrt::port {

// A file opened for writing; destroying it closes the file (CloseHandle).
// Bytes are written as given: line-end conversion is the caller's business.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  virtual bool WriteFile(const void* data, std::size_t size) = 0;
  // ReadFile from the start of a file opened with ClaimExisting: at most
  // `capacity` bytes into `bytes`. False on a handle without read access.
  virtual bool ReadFile(std::string& bytes, std::size_t capacity) = 0;
  // GetFileSize of the open file: no path to look up again, so it is the
  // size of this very file.
  virtual bool GetFileSize(std::uint64_t& size) = 0;
};

// How CreateFileA opens a file for writing. Every mode but CreateNewAlone
// shares reading and writing with other handles; a mode whose sharing clashes
// with a handle open elsewhere fails with ERROR_SHARING_VIOLATION (32).
enum class OpenMode {
  // OPEN_EXISTING with append-only access (FILE_APPEND_DATA): each WriteFile
  // lands whole at the end of the file, whatever other writers do meanwhile.
  // ERROR_FILE_NOT_FOUND (2) when the file is missing.
  AppendExisting,
  // CREATE_NEW: fails with ERROR_FILE_EXISTS (80) if present.
  CreateNew,
  // CREATE_NEW with append-only access, sharing reading only: until it is
  // closed, every other open for writing fails with 32.
  CreateNewAlone,
  // CREATE_NEW with append-only access, sharing reading and deleting: until
  // it is closed, every other open for writing fails with 32, while the file
  // may still be renamed (MoveFileA) or deleted, also through other handles.
  CreateNewHeld,
  // OPEN_EXISTING with read and append-only access, sharing deleting only:
  // fails with 32 while any other handle is open on the file, and until it
  // is closed every other open fails with 32, while the holder may still
  // rename (MoveFileA) or delete the file. 2 when the file is missing.
  ClaimExisting,
  // CREATE_ALWAYS; the last error is ERROR_ALREADY_EXISTS (183) when the
  // file existed, else 0.
  Replace,
};

constexpr int kCsidlCommonAppData = 0x23;

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // FindFirstFileA followed at once by FindClose: true when the path (or
  // pattern) matches a file or folder.
  virtual bool FindFirstFileA(const char* path) = 0;

  // GetFileAttributesExA: size of an existing file.
  virtual bool GetFileSize(const char* path, std::uint64_t& size) = 0;

  // FindFirstFileA, FindNextFileA and FindClose: the names (without folder)
  // of the files, not folders, that `pattern` matches, in the order the
  // platform gives them. False with the last error set when none matches or
  // the folder cannot be read.
  virtual bool FindFileNames(const char* pattern, std::vector<std::string>& names) = 0;

  // CreateDirectoryA with default security.
  virtual bool CreateDirectoryA(const char* path) = 0;

  // CreateFileA as `mode` says. Null with the thread's last error set when
  // the file cannot be opened.
  virtual std::unique_ptr<OutputFile> CreateFileA(const char* path, OpenMode mode) = 0;

  // DeleteFileA: removes a file (not a folder); false with the thread's last
  // error set when it cannot.
  virtual bool DeleteFileA(const char* path) = 0;

  // MoveFileA: gives a file a new name in the same folder in one step (no
  // moment has both names or neither), never replacing one:
  // ERROR_ALREADY_EXISTS (183) when the new name is taken, 2 when the file
  // is missing, 32 when a handle open on it does not share deleting.
  virtual bool MoveFileA(const char* existing, const char* newName) = 0;

  // GetWindowsDirectoryA into a buffer of `capacity` bytes; false on failure.
  virtual bool GetWindowsDirectoryA(std::string& path, std::size_t capacity) = 0;

  // SHGetFolderPathA(NULL, csidl, NULL, SHGFP_TYPE_CURRENT, path).
  virtual HResult SHGetFolderPathA(int csidl, std::string& path) = 0;

  // GetPrivateProfileStringA with a result buffer of `capacity` bytes.
  virtual std::string GetPrivateProfileStringA(const char* section, const char* key,
                                               const char* defaultValue, std::size_t capacity,
                                               const char* iniPath) = 0;
};

}  // namespace zrt::port
