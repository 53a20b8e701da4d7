#include "power/scheme_lock.h"

namespace zrt::power {
namespace {

// The failed call with its error texts; the message names the lock.
bool LockFailed(run::Run& run, const char* module, const char* call) {
  const run::CapturedError error(run);
  error.Log(module, "Failed", call);
  return error.Fail("Failed to lock the power schemes : ");
}

}  // namespace

std::string WaitText(std::uint32_t milliseconds) {
  return milliseconds % 1000 == 0 ? std::to_string(milliseconds / 1000) + " seconds"
                                  : std::to_string(milliseconds) + " ms";
}

SchemeLock::~SchemeLock() {
  if (run_ == nullptr) return;
  auto& system = run_->platform.system;
  const port::ErrorCode lastError = system.GetLastError();
  run_->platform.processes.ReleaseMutex(*mutex_);
  system.SetLastError(lastError);
}

bool SchemeLock::Take(run::Run& run, const char* module) {
  auto& processes = run.platform.processes;
  mutex_ = processes.CreateMutexA(kSchemeLockName);
  if (!mutex_) return LockFailed(run, module, "CreateMutexA");
  switch (processes.WaitForSingleObject(*mutex_, run.schemeLockWaitMs)) {
    case port::kWaitObject0:
      run_ = &run;
      return true;
    case port::kWaitAbandoned:
      run_ = &run;
      run.log.Write(module, "Info", "Scheme Lock", "Taken Over",
                    "The job that held it ended without releasing it");
      return true;
    case port::kWaitTimeout: {
      const std::string waited = WaitText(run.schemeLockWaitMs);
      run.log.Write(module, "Failed", "Scheme Lock", waited,
                    "Another job held the power schemes all that time");
      run.buffers.failureMessage.Assign("Another job kept the power schemes locked for " + waited +
                                        "; nothing was changed.");
      return false;
    }
    default:
      return LockFailed(run, module, "WaitForSingleObject");
  }
}

}  // namespace zrt::power
