// Texts made one by one as the machines of a fleet finish, in any order,
// and read back in the machines' order. Each text goes to a file at once
// and only where it lies is kept, so memory stays flat however many
// machines there are.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/sim/sim_unique_fd.h"

namespace zrt::check {

class RowSpool {
 public:
  // Texts for `count` machines, kept in `file` (made, and removed when the
  // spool ends). Throws sim::MachineError when it cannot be made.
  RowSpool(std::filesystem::path file, std::size_t count);
  ~RowSpool();
  RowSpool(const RowSpool&) = delete;
  RowSpool& operator=(const RowSpool&) = delete;

  // The text of machine `index` (the last one put counts).
  void Put(std::size_t index, std::string_view text);
  // Calls `out` with each machine's index and text, in order; nothing for a
  // machine never put.
  void ForEach(const std::function<void(std::size_t, const std::string&)>& out) const;

 private:
  std::filesystem::path file_;
  sim::UniqueFd fd_;
  std::uint64_t end_ = 0;
  std::vector<std::pair<std::uint64_t, std::uint32_t>> where_;  // offset, size
};

}  // namespace zrt::check
