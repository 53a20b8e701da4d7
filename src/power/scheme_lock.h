// The machine-wide lock that keeps the steps of this program's jobs on the
// power schemes apart. The power-profile API cannot reserve a scheme index:
// two jobs that list the schemes at the same moment would take the same new
// index, and the scheme written last would replace the other. Each step
// holds the lock from its look-up to its last change.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "run/run.h"

namespace zrt::power {

// A named mutex in the Global\ namespace: one for every session of the
// machine, as the power schemes are.
inline constexpr const char* kSchemeLockName = "Global\\zReTessalyXP.PowerSchemes";

class SchemeLock {
 public:
  SchemeLock() = default;
  // Releases the lock if it is held, keeping the thread's last error.
  ~SchemeLock();
  SchemeLock(const SchemeLock&) = delete;
  SchemeLock& operator=(const SchemeLock&) = delete;

  // Takes the lock, waiting at most run.schemeLockWaitMs for another job
  // to release it. A lock whose holder ended without releasing it is taken
  // over, and the log under `module` says so. False, with the failure
  // logged and run.buffers.failureMessage set, when the wait ends or the
  // lock cannot be had; the step then changes nothing.
  bool Take(run::Run& run, const char* module);

 private:
  run::Run* run_ = nullptr;
  std::unique_ptr<port::KernelHandle> mutex_;
};

// "600 seconds", or "250 ms" for a bound that is not whole seconds.
std::string WaitText(std::uint32_t milliseconds);

}  // namespace zrt::power
