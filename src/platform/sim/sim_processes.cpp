#include "platform/sim/sim_processes.h"

#include <chrono>

#include "platform/sim/sim_code_page.h"
#include "platform/sim/sim_mutex.h"
#include "platform/sim/sim_powercfg.h"

namespace zrt::sim {
namespace {

const std::string kWhere = machine_file::kProcesses;
constexpr port::ErrorCode kInsufficientBuffer = 122;
constexpr std::uint32_t kStillActive = 259;

std::optional<port::ErrorCode> OptionalCode(const Json& object, const char* name,
                                            const std::string& where) {
  const Json* value = Member(object, name);
  if (value == nullptr) return std::nullopt;
  return Uint32Value(*value, where + ": \"" + name + "\"");
}

// A process the program started. Its record goes into commands.jsonl when
// the program has closed its last handle to it.
struct StartedProcess {
  StartedProcess(const SimMachine& simMachine, Json startRecord, bool never)
      : machine(simMachine), record(std::move(startRecord)), running(never) {}
  StartedProcess(const StartedProcess&) = delete;
  StartedProcess& operator=(const StartedProcess&) = delete;
  ~StartedProcess() {
    try {
      record["exit_code"] = running ? Json() : Json(exitCode);
      record["waits"] = waits;
      record["terminated"] = terminated;
      machine.AppendRecord(machine_file::kCommands, record.dump() + "\n");
    } catch (...) {
      // the record is lost; the run goes on
    }
  }

  const SimMachine& machine;
  Json record;
  bool running;  // a process that never ends runs until it is terminated
  std::uint32_t exitCode = 0;
  std::optional<port::ErrorCode> exitCodeError;  // reading the exit code fails with it
  Json waits = Json::array();                    // the time-out of every wait, in milliseconds
  bool terminated = false;
};

// A handle to a process, its token or its thread; each carries what the
// next call needs to know about the process.
class SimHandle : public port::KernelHandle {
 public:
  enum class Kind { Process, Token, Thread };
  SimHandle(Kind kind, const SimProcess& process, std::shared_ptr<StartedProcess> started = nullptr)
      : kind_(kind), process_(process), started_(std::move(started)) {}
  Kind kind() const { return kind_; }
  const SimProcess& process() const { return process_; }
  // The process the program started, or null for one of processes.json.
  StartedProcess* started() const { return started_.get(); }

 private:
  Kind kind_;
  SimProcess process_;
  std::shared_ptr<StartedProcess> started_;
};

// The handle as one of `kind`; null, with error 6, when it is not one.
const SimHandle* HandleOf(SimMachine& machine, const port::KernelHandle* handle,
                          SimHandle::Kind kind) {
  const auto* sim = dynamic_cast<const SimHandle*>(handle);
  if (sim != nullptr && sim->kind() == kind) return sim;
  machine.SetLastError(port::err::kInvalidHandle);
  return nullptr;
}

}  // namespace

SimProcesses::SimProcesses(SimMachine& machine) : machine_(machine) {
  const Json file = ReadJsonFile(machine.File(machine_file::kProcesses), Json::object());
  if (!file.is_object()) throw MachineError(kWhere + " must hold a JSON object");
  agentAccount_ = StringMember(file, "agent_account", "SYSTEM", kWhere);
  snapshotError_ = OptionalCode(file, "snapshot_error", kWhere);
  const Json* list = Member(file, "processes");
  if (list == nullptr) return;
  if (!list->is_array()) throw MachineError(kWhere + ": \"processes\" must be a list");
  for (const Json& entry : *list) {
    const std::string where = kWhere + ": process " + entry.dump();
    SimProcess process;
    if (Member(entry, "pid") == nullptr) throw MachineError(where + " has no \"pid\"");
    process.pid = Uint32Member(entry, "pid", 0, where);
    process.name = StringMember(entry, "name", "", where);
    process.user = StringMember(entry, "user", agentAccount_, where);
    process.openError = OptionalCode(entry, "open_error", where);
    process.tokenError = OptionalCode(entry, "token_error", where);
    process.impersonateError = OptionalCode(entry, "impersonate_error", where);
    processes_.push_back(std::move(process));
  }
}

bool SimProcesses::SnapshotProcesses(std::vector<port::ProcessEntry>& entries) {
  entries.clear();
  if (snapshotError_) {
    machine_.SetLastError(*snapshotError_);
    return false;
  }
  for (const SimProcess& process : processes_) {
    entries.push_back({process.pid, machine_.Ansi().FromUtf8(process.name)});
  }
  return true;
}

std::unique_ptr<port::KernelHandle> SimProcesses::OpenProcess(std::uint32_t pid) {
  for (const SimProcess& process : processes_) {
    if (process.pid != pid) continue;
    if (process.openError) {
      machine_.SetLastError(*process.openError);
      return nullptr;
    }
    return std::make_unique<SimHandle>(SimHandle::Kind::Process, process);
  }
  machine_.SetLastError(port::err::kInvalidParameter);
  return nullptr;
}

std::unique_ptr<port::KernelHandle> SimProcesses::OpenProcessToken(
    const port::KernelHandle* process) {
  const SimHandle* handle = HandleOf(machine_, process, SimHandle::Kind::Process);
  if (handle == nullptr) return nullptr;
  if (handle->process().tokenError) {
    machine_.SetLastError(*handle->process().tokenError);
    return nullptr;
  }
  return std::make_unique<SimHandle>(SimHandle::Kind::Token, handle->process());
}

bool SimProcesses::ImpersonateLoggedOnUser(const port::KernelHandle& token) {
  const SimHandle* handle = HandleOf(machine_, &token, SimHandle::Kind::Token);
  if (handle == nullptr) return false;
  if (handle->process().impersonateError) {
    machine_.SetLastError(*handle->process().impersonateError);
    return false;
  }
  impersonated_ = handle->process().user;
  return true;
}

bool SimProcesses::RevertToSelf() {
  impersonated_.reset();
  return true;
}

bool SimProcesses::GetUserNameA(std::string& name, std::size_t capacity) {
  const std::string user = machine_.Ansi().FromUtf8(impersonated_ ? *impersonated_ : agentAccount_);
  if (user.size() + 1 > capacity) {
    machine_.SetLastError(kInsufficientBuffer);
    return false;
  }
  name = user;
  return true;
}

bool SimProcesses::CreateProcessAsUserA(const port::KernelHandle& token, char* commandLine,
                                        bool inheritHandles, std::uint32_t creationFlags,
                                        const port::StartupInfo& startup,
                                        port::ProcessInformation& started) {
  const SimHandle* user = HandleOf(machine_, &token, SimHandle::Kind::Token);
  if (user == nullptr) return false;
  if (commandLine == nullptr) {
    machine_.SetLastError(port::err::kInvalidParameter);
    return false;
  }
  // The tool runs inside this process; how long it took is recorded, so
  // that a measurement can count the child's time apart from the program's.
  const auto begun = std::chrono::steady_clock::now();
  const PowercfgOutcome outcome = RunPowercfg(machine_, commandLine, powercfgStates_);
  const auto ran = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - begun);
  if (outcome.startError) {
    // Told apart from the commands that ran, where in their order it came.
    machine_.AppendRecord(machine_file::kNotStarted,
                          Json{{"command_line", machine_.Ansi().ToUtf8(commandLine)},
                               {"start_error", *outcome.startError},
                               {"started_before", (nextProcessId_ - kFirstProcessId) / 8}}
                                  .dump() +
                              "\n");
    machine_.SetLastError(*outcome.startError);
    return false;
  }
  const Json record = {{"command_line", machine_.Ansi().ToUtf8(commandLine)},
                       {"account", user->process().user},
                       {"desktop", machine_.Ansi().ToUtf8(startup.desktop)},
                       {"show_window", startup.wShowWindow},
                       {"flags", startup.dwFlags},
                       {"creation_flags", creationFlags},
                       {"inherit_handles", inheritHandles},
                       {"time_us", ran.count()}};
  auto process = std::make_shared<StartedProcess>(machine_, record, outcome.neverEnds);
  process->exitCode = outcome.exitCode;
  process->exitCodeError = outcome.exitCodeError;
  const SimProcess child{nextProcessId_, "powercfg.exe", user->process().user, {}, {}, {}};
  started.process = std::make_unique<SimHandle>(SimHandle::Kind::Process, child, process);
  started.thread = std::make_unique<SimHandle>(SimHandle::Kind::Thread, child, process);
  started.processId = nextProcessId_;
  started.threadId = nextProcessId_ + 4;
  nextProcessId_ += 8;
  return true;
}

std::uint32_t SimProcesses::WaitForSingleObject(const port::KernelHandle& process,
                                                std::uint32_t milliseconds) {
  if (const auto* mutex = dynamic_cast<const SimMutex*>(&process)) {
    return mutex->Wait(machine_, milliseconds);
  }
  const SimHandle* handle = HandleOf(machine_, &process, SimHandle::Kind::Process);
  if (handle == nullptr) return port::kWaitFailed;
  StartedProcess* started = handle->started();
  if (started != nullptr) started->waits.push_back(milliseconds);
  if (started != nullptr && !started->running) return port::kWaitObject0;
  if (milliseconds == port::kInfinite) {
    throw MachineError("the program waits without end for a process that never ends");
  }
  if (machine_.SimulatedTime()) machine_.PassTime(milliseconds);
  return port::kWaitTimeout;  // at once: the simulated clock does not wait
}

bool SimProcesses::GetExitCodeProcess(const port::KernelHandle& process, std::uint32_t& exitCode) {
  const SimHandle* handle = HandleOf(machine_, &process, SimHandle::Kind::Process);
  if (handle == nullptr) return false;
  const StartedProcess* started = handle->started();
  if (started != nullptr && started->exitCodeError) {
    machine_.SetLastError(*started->exitCodeError);
    return false;
  }
  exitCode = started != nullptr && !started->running ? started->exitCode : kStillActive;
  return true;
}

bool SimProcesses::TerminateProcess(const port::KernelHandle& process, std::uint32_t exitCode) {
  const SimHandle* handle = HandleOf(machine_, &process, SimHandle::Kind::Process);
  if (handle == nullptr) return false;
  StartedProcess* started = handle->started();
  if (started == nullptr || !started->running) {
    machine_.SetLastError(port::err::kAccessDenied);
    return false;
  }
  started->running = false;
  started->exitCode = exitCode;
  started->terminated = true;
  return true;
}

std::unique_ptr<port::KernelHandle> SimProcesses::CreateMutexA(const char* name) {
  return SimMutex::Open(machine_, name != nullptr ? name : "");
}

bool SimProcesses::ReleaseMutex(const port::KernelHandle& mutex) {
  const auto* own = dynamic_cast<const SimMutex*>(&mutex);
  if (own == nullptr) {
    machine_.SetLastError(port::err::kInvalidHandle);
    return false;
  }
  return own->Release(machine_);
}

}  // namespace zrt::sim
