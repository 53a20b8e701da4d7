#include "platform/sim/sim_crash_point.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <string>

namespace zrt::sim {
namespace {

long CrashAt() {
  static const long at = [] {
    const char* text = std::getenv("ZRT_SIM_CRASH_AT");
    return text != nullptr ? std::strtol(text, nullptr, 10) : 0L;
  }();
  return at;
}

}  // namespace

void CrashPoint(std::string_view change, std::string_view what) {
  const long at = CrashAt();
  if (at <= 0) return;
  static std::atomic<long> changes{0};
  const long number = ++changes;
  if (number != at) return;
  if (const char* note = std::getenv("ZRT_SIM_CRASH_NOTE")) {
    const int fd = ::open(note, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd >= 0) {
      std::string text = std::to_string(number);
      text.append("\t").append(change).append("\t").append(what).append("\n");
      [[maybe_unused]] const ssize_t written = ::write(fd, text.data(), text.size());
      ::close(fd);
    }
  }
  ::kill(::getpid(), SIGKILL);
}

}  // namespace zrt::sim
