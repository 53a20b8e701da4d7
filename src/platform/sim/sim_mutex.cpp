#include "platform/sim/sim_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

namespace zrt::sim {
namespace {
constexpr port::ErrorCode kNotOwner = 288;  // ERROR_NOT_OWNER
constexpr auto kPoll = std::chrono::milliseconds(2);
}  // namespace

std::filesystem::path MutexFile(const SimMachine& machine, std::string_view name) {
  std::string file = "mutex-";
  for (const char c : name) file += (c == '\\' || c == '/') ? '-' : c;
  return machine.File(file + ".lock");
}

std::unique_ptr<SimMutex> SimMutex::Open(SimMachine& machine, std::string_view name) {
  if (name.empty() || name.find('\0') != std::string_view::npos) {
    machine.SetLastError(port::err::kInvalidParameter);
    return nullptr;
  }
  UniqueFd fd(::open(MutexFile(machine, name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
  if (!fd) {
    machine.SetLastError(port::err::kAccessDenied);
    return nullptr;
  }
  return std::unique_ptr<SimMutex>(new SimMutex(std::move(fd)));
}

std::uint32_t SimMutex::Wait(SimMachine& machine, std::uint32_t milliseconds) const {
  if (held_) return port::kWaitObject0;  // a mutex is taken again by its holder
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      machine.SetLastError(port::err::kInvalidHandle);
      return port::kWaitFailed;
    }
    if (machine.SimulatedTime() && milliseconds != port::kInfinite) {
      machine.PassTime(milliseconds);  // the holder keeps it for the whole wait
      return port::kWaitTimeout;
    }
    if (milliseconds != port::kInfinite && std::chrono::steady_clock::now() >= deadline) {
      return port::kWaitTimeout;
    }
    std::this_thread::sleep_for(kPoll);
  }
  held_ = true;
  char left = 0;
  const bool abandoned = ::pread(fd_.get(), &left, 1, 0) == 1;
  const std::string holder = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd_.get(), 0) != 0 ||
      ::pwrite(fd_.get(), holder.data(), holder.size(), 0) != static_cast<ssize_t>(holder.size())) {
    // Unmarked, a holder that dies is not told apart from one that released.
  }
  return abandoned ? port::kWaitAbandoned : port::kWaitObject0;
}

bool SimMutex::Release(SimMachine& machine) const {
  if (!held_) {
    machine.SetLastError(kNotOwner);
    return false;
  }
  held_ = false;
  const bool emptied = ::ftruncate(fd_.get(), 0) == 0;
  ::flock(fd_.get(), LOCK_UN);
  return emptied;
}

}  // namespace zrt::sim
