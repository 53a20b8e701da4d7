// Named mutexes of the simulated machine: a lock file per name in the
// machine's folder, so that the programs running on one machine at once
// exclude each other as a named mutex in the Global\ namespace does.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>

#include "platform/port/processes.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_unique_fd.h"

namespace zrt::sim {

// The open mutex. It is held while its file is locked (flock); the holder
// writes its process id into the file and empties it on release, so a
// holder that ended without releasing leaves its id behind and the next one
// to take the mutex learns that it was abandoned. Closing the handle of a
// held mutex lets the next waiter take it, as abandoned.
class SimMutex : public port::KernelHandle {
 public:
  // The lock file of `name` ("Global\\x" becomes "mutex-Global-x.lock");
  // null with the last error set when it cannot be opened.
  static std::unique_ptr<SimMutex> Open(SimMachine& machine, std::string_view name);

  // kWaitObject0, kWaitAbandoned, kWaitTimeout (after waiting that long in
  // real time: the holder is another process; at once in simulated time)
  // or kWaitFailed.
  std::uint32_t Wait(SimMachine& machine, std::uint32_t milliseconds) const;
  // False with error 288 (ERROR_NOT_OWNER) when not held.
  bool Release(SimMachine& machine) const;

 private:
  explicit SimMutex(UniqueFd fd) : fd_(std::move(fd)) {}

  UniqueFd fd_;
  mutable bool held_ = false;  // the handle's holding is what the port's calls change
};

// The lock file that stands for the mutex `name` in `machine`.
std::filesystem::path MutexFile(const SimMachine& machine, std::string_view name);

}  // namespace zrt::sim
