// A port::FileSystem for unit tests that answers size queries from the host's
// files (paths used as given); every other operation fails.
#pragma once

#include <optional>

#include "platform/port/file_system.h"

namespace zrt::test {

class HostFileSystem : public port::FileSystem {
 public:
  // When set, every existing file reports this size instead of its own.
  std::optional<std::uint64_t> reportedSize;

  bool FindFirstFileA(const char* path) override;
  bool GetFileSize(const char* path, std::uint64_t& size) override;
  bool FindFileNames(const char*, std::vector<std::string>&) override { return false; }
  bool CreateDirectoryA(const char*) override { return false; }
  std::unique_ptr<port::OutputFile> CreateFileA(const char*, port::OpenMode) override {
    return nullptr;
  }
  bool DeleteFileA(const char*) override { return false; }
  bool MoveFileA(const char*, const char*) override { return false; }
  bool GetWindowsDirectoryA(std::string&, std::size_t) override { return false; }
  port::HResult SHGetFolderPathA(int, std::string&) override { return port::kE_FAIL; }
  std::string GetPrivateProfileStringA(const char*, const char*, const char* defaultValue,
                                       std::size_t, const char*) override {
    return defaultValue;
  }
};

}  // namespace zrt::test
