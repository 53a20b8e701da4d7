#include "platform/sim/sim_processes.h"

#include "platform/sim/sim_code_page.h"

namespace zrt::sim {
namespace {

const std::string kWhere = machine_file::kProcesses;
constexpr port::ErrorCode kInsufficientBuffer = 122;

std::optional<port::ErrorCode> OptionalCode(const Json& object, const char* name,
                                            const std::string& where) {
  const Json* value = Member(object, name);
  if (value == nullptr) return std::nullopt;
  return Uint32Value(*value, where + ": \"" + name + "\"");
}

// A handle to a process or to its token; both carry what the next call
// needs to know about the process.
class SimHandle : public port::KernelHandle {
 public:
  enum class Kind { Process, Token };
  SimHandle(Kind kind, const SimProcess& process) : kind_(kind), process_(process) {}
  Kind kind() const { return kind_; }
  const SimProcess& process() const { return process_; }

 private:
  Kind kind_;
  SimProcess process_;
};

const SimHandle* AsHandle(const port::KernelHandle* handle, SimHandle::Kind kind) {
  const auto* sim = dynamic_cast<const SimHandle*>(handle);
  return sim != nullptr && sim->kind() == kind ? sim : nullptr;
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
    entries.push_back({process.pid, Utf8ToAnsi(process.name)});
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
  const SimHandle* handle = AsHandle(process, SimHandle::Kind::Process);
  if (handle == nullptr) {
    machine_.SetLastError(port::err::kInvalidHandle);
    return nullptr;
  }
  if (handle->process().tokenError) {
    machine_.SetLastError(*handle->process().tokenError);
    return nullptr;
  }
  return std::make_unique<SimHandle>(SimHandle::Kind::Token, handle->process());
}

bool SimProcesses::ImpersonateLoggedOnUser(const port::KernelHandle& token) {
  const SimHandle* handle = AsHandle(&token, SimHandle::Kind::Token);
  if (handle == nullptr) {
    machine_.SetLastError(port::err::kInvalidHandle);
    return false;
  }
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
  const std::string user = Utf8ToAnsi(impersonated_ ? *impersonated_ : agentAccount_);
  if (user.size() + 1 > capacity) {
    machine_.SetLastError(kInsufficientBuffer);
    return false;
  }
  name = user;
  return true;
}

bool SimProcesses::CreateProcessAsUserA(const port::KernelHandle&, char*, bool, std::uint32_t,
                                        const port::StartupInfo&, port::ProcessInformation&) {
  machine_.SetLastError(port::err::kFileNotFound);
  return false;
}
std::uint32_t SimProcesses::WaitForSingleObject(const port::KernelHandle&, std::uint32_t) {
  machine_.SetLastError(port::err::kInvalidHandle);
  return port::kWaitFailed;
}
bool SimProcesses::GetExitCodeProcess(const port::KernelHandle&, std::uint32_t&) {
  machine_.SetLastError(port::err::kInvalidHandle);
  return false;
}
bool SimProcesses::TerminateProcess(const port::KernelHandle&, std::uint32_t) {
  machine_.SetLastError(port::err::kInvalidHandle);
  return false;
}

}  // namespace zrt::sim
