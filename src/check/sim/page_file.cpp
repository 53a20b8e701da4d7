#include "check/sim/page_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

#include "platform/sim/sim_json_file.h"

namespace zrt::check {
namespace fs = std::filesystem;

PageFile::PageFile(const fs::path& target) : target_(target) {
  const auto refused = [&target](int error) {
    return sim::MachineError("cannot write " + target.u8string() + ": " + std::strerror(error));
  };
  std::error_code ignored;
  if (fs::is_directory(target, ignored)) throw refused(EISDIR);
  // A hidden name of its own in the same folder, so the move is a rename;
  // made with the modes a plain new file would get.
  const std::string base = "." + target.filename().string() + "." + std::to_string(::getpid());
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  for (int attempt = 0;; ++attempt) {
    written_ = folder / (base + (attempt == 0 ? "" : "-" + std::to_string(attempt)));
    const int fd = ::open(written_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      break;
    }
    if (errno != EEXIST || attempt == 100) throw refused(errno);
  }
  out_.open(written_, std::ios::binary | std::ios::trunc);
  if (!out_) {
    const int error = errno;
    fs::remove(written_, ignored);
    throw refused(error);
  }
}

PageFile::~PageFile() {
  if (committed_) return;
  out_.close();
  std::error_code ignored;
  fs::remove(written_, ignored);
}

bool PageFile::Commit() {
  out_.close();
  if (out_.fail()) return false;
  std::error_code error;
  fs::rename(written_, target_, error);
  committed_ = !error;
  return committed_;
}

}  // namespace zrt::check
