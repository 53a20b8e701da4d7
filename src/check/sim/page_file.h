// A file written beside its place and moved into it only when whole: a run
// that fails or is stopped leaves what was there before, not a part.
#pragma once

#include <filesystem>
#include <fstream>

namespace zrt::check {

class PageFile {
 public:
  // Makes the file it is written into, in the folder of `target`; throws
  // sim::MachineError when it cannot, so that is told before the work.
  explicit PageFile(const std::filesystem::path& target);
  ~PageFile();  // removes the unfinished file
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;

  std::ofstream& Stream() { return out_; }
  // Moves the whole file into its place; false when it cannot.
  bool Commit();

 private:
  std::filesystem::path target_, written_;
  std::ofstream out_;
  bool committed_ = false;
};

}  // namespace zrt::check
