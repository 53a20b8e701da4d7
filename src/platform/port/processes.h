// Processes and tokens: the process snapshot, OpenProcess,
// OpenProcessToken, impersonation and the current user's name.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/port/platform_types.h"

namespace zrt::port {

// A kernel object handle (process or token); destroying it closes it
// (CloseHandle).
class KernelHandle {
 public:
  virtual ~KernelHandle() = default;
};

struct ProcessEntry {
  std::uint32_t processId = 0;
  std::string exeFile;  // image name as PROCESSENTRY32::szExeFile
};

class Processes {
 public:
  virtual ~Processes() = default;

  // CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS) walked with Process32First
  // and Process32Next, in snapshot order. False when the snapshot cannot be
  // taken or walked.
  virtual bool SnapshotProcesses(std::vector<ProcessEntry>& entries) = 0;

  // OpenProcess(MAXIMUM_ALLOWED, FALSE, pid). Null with the last error set
  // when refused.
  virtual std::unique_ptr<KernelHandle> OpenProcess(std::uint32_t pid) = 0;

  // OpenProcessToken(process, TOKEN_ALL_ACCESS). A null process fails as the
  // platform does (ERROR_INVALID_HANDLE).
  virtual std::unique_ptr<KernelHandle> OpenProcessToken(const KernelHandle* process) = 0;

  virtual bool ImpersonateLoggedOnUser(const KernelHandle& token) = 0;
  virtual bool RevertToSelf() = 0;

  // GetUserNameA into a buffer of `capacity` bytes: the account of the
  // security context the thread runs in.
  virtual bool GetUserNameA(std::string& name, std::size_t capacity) = 0;
};

}  // namespace zrt::port
