#include "support/host_file_system.h"

#include <filesystem>

namespace zrt::test {

bool HostFileSystem::FindFirstFileA(const char* path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

bool HostFileSystem::GetFileSize(const char* path, std::uint64_t& size) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  size = reportedSize ? *reportedSize : std::filesystem::file_size(path, error);
  return !error;
}

}  // namespace zrt::test
