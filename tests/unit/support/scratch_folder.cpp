#include "support/scratch_folder.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace zrt::test {

ScratchFolder::ScratchFolder() {
  static std::atomic<int> serial{0};
  const auto path = std::filesystem::temp_directory_path() /
                    ("zrt-unit-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
  std::filesystem::create_directories(path);
  root_ = path.string();
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::string ScratchFolder::PathOf(std::string_view name) const {
  return (std::filesystem::path(root_) / std::string(name)).string();
}

std::string ScratchFolder::Write(std::string_view name, std::string_view bytes) const {
  const std::string path = PathOf(name);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
  return path;
}

}  // namespace zrt::test
