#include "check/sim/row_spool.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "platform/sim/sim_json_file.h"

namespace zrt::check {

RowSpool::RowSpool(std::filesystem::path file, std::size_t count)
    : file_(std::move(file)),
      fd_(::open(file_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)),
      where_(count, {0, 0}) {
  if (!fd_) throw sim::MachineError("cannot make " + file_.string());
}

RowSpool::~RowSpool() {
  std::error_code ignored;
  std::filesystem::remove(file_, ignored);
}

void RowSpool::Put(std::size_t index, std::string_view text) {
  if (text.size() > std::numeric_limits<std::uint32_t>::max()) {
    throw sim::MachineError("a row of " + std::to_string(text.size()) + " bytes is too long");
  }
  const std::uint64_t at = end_;
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t count =
        ::pwrite(fd_.get(), text.data() + done, text.size() - done, static_cast<off_t>(at + done));
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) throw sim::MachineError("cannot write " + file_.string());
    done += static_cast<std::size_t>(count);
  }
  end_ += text.size();
  where_.at(index) = {at, static_cast<std::uint32_t>(text.size())};
}

void RowSpool::ForEach(const std::function<void(std::size_t, const std::string&)>& out) const {
  std::string text;
  for (std::size_t index = 0; index < where_.size(); ++index) {
    const auto [at, size] = where_[index];
    if (size == 0) continue;
    text.resize(size);
    for (std::size_t done = 0; done < size;) {
      const ssize_t count =
          ::pread(fd_.get(), &text[done], size - done, static_cast<off_t>(at + done));
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) throw sim::MachineError("cannot read " + file_.string());
      done += static_cast<std::size_t>(count);
    }
    out(index, text);
  }
}

}  // namespace zrt::check
