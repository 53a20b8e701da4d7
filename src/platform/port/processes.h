// Processes and tokens: the process snapshot, OpenProcess,
// OpenProcessToken, impersonation, the current user's name, starting a
// process as a user and waiting for it, and named mutexes.
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

// STARTUPINFOA as far as a started process sees it; every other member is
// zero (so the standard handles are null). The size member is the adapter's:
// the platform's own size of the record, which differs between 32 and 64 bits.
struct StartupInfo {
  std::uint32_t dwFlags = 0;
  std::uint16_t wShowWindow = 0;
  std::string desktop;  // lpDesktop
};

constexpr std::uint32_t kStartfUseShowWindow = 0x00000001;
constexpr std::uint32_t kStartfUseStdHandles = 0x00000100;
constexpr std::uint16_t kSwHide = 0;
constexpr std::uint32_t kCreateNewConsole = 0x00000010;

// WaitForSingleObject.
constexpr std::uint32_t kInfinite = 0xFFFFFFFF;
constexpr std::uint32_t kWaitObject0 = 0x00000000;
constexpr std::uint32_t kWaitAbandoned = 0x00000080;
constexpr std::uint32_t kWaitTimeout = 0x00000102;
constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;

// PROCESS_INFORMATION: destroying it closes the thread handle, then the
// process handle (members go in reverse order).
struct ProcessInformation {
  std::unique_ptr<KernelHandle> process;
  std::unique_ptr<KernelHandle> thread;
  std::uint32_t processId = 0;
  std::uint32_t threadId = 0;
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

  // CreateProcessAsUserA(token, NULL, commandLine, NULL, NULL,
  // inheritHandles, creationFlags, NULL, NULL, startup, started): no
  // application name (the program is searched for as the platform searches
  // the first word of the command line), the caller's environment and
  // current folder. `commandLine` is a writable zero-terminated buffer, as
  // the call requires. False with the last error set when nothing started.
  virtual bool CreateProcessAsUserA(const KernelHandle& token, char* commandLine,
                                    bool inheritHandles, std::uint32_t creationFlags,
                                    const StartupInfo& startup, ProcessInformation& started) = 0;

  // WaitForSingleObject on a process or a mutex: kWaitObject0 when the
  // process has ended or the mutex is taken, kWaitAbandoned when the mutex
  // is taken from a holder that ended without releasing it, kWaitTimeout
  // when `milliseconds` passed first, kWaitFailed (last error set)
  // otherwise.
  virtual std::uint32_t WaitForSingleObject(const KernelHandle& object,
                                            std::uint32_t milliseconds) = 0;

  virtual bool GetExitCodeProcess(const KernelHandle& process, std::uint32_t& exitCode) = 0;

  // TerminateProcess: ends a process that is still running.
  virtual bool TerminateProcess(const KernelHandle& process, std::uint32_t exitCode) = 0;

  // CreateMutexA(NULL, FALSE, name): the named mutex, made when no process
  // has it open, not taken. Null with the last error set when refused.
  virtual std::unique_ptr<KernelHandle> CreateMutexA(const char* name) = 0;

  // ReleaseMutex: gives up a mutex taken by WaitForSingleObject; false with
  // the last error set when it is not held.
  virtual bool ReleaseMutex(const KernelHandle& mutex) = 0;
};

}  // namespace zrt::port
