#include "platform/user_context.h"

#include <vector>

#include "platform/ascii_case.h"

namespace zrt {

std::optional<std::uint32_t> FindSessionShell(port::Processes& processes) {
  std::vector<port::ProcessEntry> entries;
  if (!processes.SnapshotProcesses(entries)) return std::nullopt;
  for (const auto& entry : entries) {
    if (EqualsIgnoringAsciiCase(entry.exeFile, "explorer.exe")) return entry.processId;
  }
  return std::nullopt;
}

std::unique_ptr<port::KernelHandle> OpenShellProcess(port::Processes& processes,
                                                     std::uint32_t processId) {
  return processes.OpenProcess(processId);
}

bool OpenSessionUserToken(port::Processes& processes, const port::KernelHandle* process,
                          std::unique_ptr<port::KernelHandle>& userToken) {
  userToken = processes.OpenProcessToken(process);
  return userToken != nullptr;
}

}  // namespace zrt
