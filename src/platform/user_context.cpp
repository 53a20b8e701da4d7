#include "platform/user_context.h"

#include <vector>

namespace zrt {

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

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
