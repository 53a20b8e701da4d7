// What the fuzzers share: a scratch folder in memory where the host has one
// (files written at every input would otherwise go to the disk), and a log
// writer that keeps nothing.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "run/run.h"

namespace zrt::fuzz {

// A folder of this process's own, created on first use and removed when the
// process exits.
inline const std::filesystem::path& ScratchFolder() {
  struct Folder {
    Folder() {
      std::error_code ec;
      const std::filesystem::path shm = "/dev/shm";
      path =
          (std::filesystem::is_directory(shm, ec) ? shm : std::filesystem::temp_directory_path()) /
          ("zrt-fuzz-" + std::to_string(::getpid()));
      std::filesystem::create_directories(path);
    }
    ~Folder() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
    std::filesystem::path path;
  };
  static const Folder folder;
  return folder.path;
}

class DiscardLog : public run::LogWriter {
 public:
  void WriteLog(std::string_view, std::string_view, std::string_view, std::string_view,
                std::string_view, std::string_view) noexcept override {}
};

inline std::unique_ptr<run::LogWriter> MakeDiscardLog(port::Platform&, const run::JobContext&) {
  return std::make_unique<DiscardLog>();
}

}  // namespace zrt::fuzz
