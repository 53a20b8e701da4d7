// Processes, tokens and the thread's security context on the simulated
// machine, from processes.json. The list is fixed for the run.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/port/processes.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_powercfg.h"

namespace zrt::sim {

struct SimProcess {
  std::uint32_t pid = 0;
  std::string name;                                 // image name, UTF-8
  std::string user;                                 // account the process runs as, UTF-8
  std::optional<port::ErrorCode> openError;         // OpenProcess refused
  std::optional<port::ErrorCode> tokenError;        // OpenProcessToken refused
  std::optional<port::ErrorCode> impersonateError;  // ImpersonateLoggedOnUser refused
};

class SimProcesses : public port::Processes {
 public:
  explicit SimProcesses(SimMachine& machine);

  // The processes in stored order; false with the stored "snapshot_error".
  bool SnapshotProcesses(std::vector<port::ProcessEntry>& entries) override;
  // Error 87 for an unknown process id, else the process's "open_error".
  std::unique_ptr<port::KernelHandle> OpenProcess(std::uint32_t pid) override;
  // Error 6 for a null or non-process handle, else the "token_error".
  std::unique_ptr<port::KernelHandle> OpenProcessToken(const port::KernelHandle* process) override;
  // Error 6 for a handle that is not a token, else the "impersonate_error";
  // on success the thread runs as the token's user until RevertToSelf, even
  // after the token is closed.
  bool ImpersonateLoggedOnUser(const port::KernelHandle& token) override;
  bool RevertToSelf() override;
  // The impersonated user, or the agent's own account; error 122 when the
  // name and its terminator do not fit in `capacity`.
  bool GetUserNameA(std::string& name, std::size_t capacity) override;
  // Starts the machine's Powercfg.exe (see sim_powercfg.h) as the token's
  // user: error 6 for a handle that is not a token, the tool's start error
  // otherwise. The command is recorded in commands.jsonl once the program
  // has closed both handles.
  bool CreateProcessAsUserA(const port::KernelHandle& token, char* commandLine, bool inheritHandles,
                            std::uint32_t creationFlags, const port::StartupInfo& startup,
                            port::ProcessInformation& started) override;
  // A started command has ended already, unless it never ends: then every
  // finite wait times out at once, and a wait without end throws
  // MachineError (the run would hang). A mutex: see SimMutex::Wait.
  std::uint32_t WaitForSingleObject(const port::KernelHandle& process,
                                    std::uint32_t milliseconds) override;
  // 259 (STILL_ACTIVE) while the process runs.
  bool GetExitCodeProcess(const port::KernelHandle& process, std::uint32_t& exitCode) override;
  // Ends a started process that still runs; error 5 otherwise.
  bool TerminateProcess(const port::KernelHandle& process, std::uint32_t exitCode) override;
  // A lock file in the machine's folder (sim_mutex.h): waits on it wait in
  // real time, for other programs running on the machine.
  std::unique_ptr<port::KernelHandle> CreateMutexA(const char* name) override;
  // Error 6 for a handle that is not a mutex, 288 when it is not held.
  bool ReleaseMutex(const port::KernelHandle& mutex) override;

 private:
  SimMachine& machine_;
  std::string agentAccount_;
  std::optional<port::ErrorCode> snapshotError_;
  std::vector<SimProcess> processes_;
  std::optional<std::string> impersonated_;
  static constexpr std::uint32_t kFirstProcessId = 3000;
  std::uint32_t nextProcessId_ = kFirstProcessId;
  PowercfgStateCache powercfgStates_;
};

}  // namespace zrt::sim
