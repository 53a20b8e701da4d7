// A fresh folder under the host's temporary directory, removed with its
// contents when the object goes.
#pragma once

#include <string>
#include <string_view>

namespace zrt::test {

class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // Writes `bytes` into the file `name` and returns the file's full path.
  std::string Write(std::string_view name, std::string_view bytes) const;
  std::string PathOf(std::string_view name) const;

 private:
  std::string root_;
};

}  // namespace zrt::test
