#include "check/sim/scratch_folder.h"

#include <stdlib.h>

#include <string>
#include <system_error>

#include "platform/sim/sim_json_file.h"

namespace zrt::check {

ScratchFolder::ScratchFolder(const std::filesystem::path& parent) {
  std::string pattern = (parent / "zrt-check-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw sim::MachineError("cannot make a folder in " + parent.string());
  }
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace zrt::check
