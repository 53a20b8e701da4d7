// Processes and tokens: the toolhelp process snapshot, OpenProcess,
// OpenProcessToken, ImpersonateLoggedOnUser, RevertToSelf, GetUserNameA,
// CreateProcessAsUserA and the calls on the process it started, and the
// named mutex that keeps the program's runs apart, open to every user.
#include <windows.h>
// The toolhelp header expects the Windows types to be declared already.
#include <tlhelp32.h>

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/win32/mutex_security.h"
#include "platform/win32/unique_resource.h"
#include "platform/win32/win32_adapters.h"

namespace zrt::win32 {
namespace {

class Win32KernelHandle final : public port::KernelHandle {
 public:
  Win32KernelHandle() = default;
  explicit Win32KernelHandle(UniqueHandle handle) : handle_(std::move(handle)) {}
  HANDLE get() const { return handle_.get(); }
  void reset(HANDLE handle) { handle_.reset(handle); }

 private:
  UniqueHandle handle_;
};

// The system handle behind a port handle; null stays null. A handle made by
// another platform's adapter has no system handle: passing one here is a
// fault of the caller, never a NULL handed to the system.
HANDLE Raw(const port::KernelHandle* handle) {
  if (handle == nullptr) return nullptr;
  const auto* own = dynamic_cast<const Win32KernelHandle*>(handle);
  if (own == nullptr) throw std::invalid_argument("a kernel handle of another platform adapter");
  return own->get();
}

class Win32Processes final : public port::Processes {
 public:
  bool SnapshotProcesses(std::vector<port::ProcessEntry>& entries) override {
    entries.clear();
    UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return false;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);  // the ANSI record
    if (!::Process32First(snapshot.get(), &entry)) return false;
    do {
      entry.szExeFile[sizeof(entry.szExeFile) - 1] = '\0';
      entries.push_back({entry.th32ProcessID, entry.szExeFile});
      entry.dwSize = sizeof(entry);
    } while (::Process32Next(snapshot.get(), &entry));
    return true;
  }

  std::unique_ptr<port::KernelHandle> OpenProcess(std::uint32_t pid) override {
    UniqueHandle process(::OpenProcess(MAXIMUM_ALLOWED, FALSE, pid));
    if (!process) return nullptr;
    return std::make_unique<Win32KernelHandle>(std::move(process));
  }

  std::unique_ptr<port::KernelHandle> OpenProcessToken(const port::KernelHandle* process) override {
    // A missing process is passed on as NULL so the system reports the error.
    UniqueHandle token;
    if (!::OpenProcessToken(Raw(process), TOKEN_ALL_ACCESS, token.put())) return nullptr;
    return std::make_unique<Win32KernelHandle>(std::move(token));
  }

  bool ImpersonateLoggedOnUser(const port::KernelHandle& token) override {
    return ::ImpersonateLoggedOnUser(Raw(&token)) != FALSE;
  }

  bool RevertToSelf() override { return ::RevertToSelf() != FALSE; }

  bool GetUserNameA(std::string& name, std::size_t capacity) override {
    name.clear();
    if (capacity == 0) {
      ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return false;
    }
    std::vector<char> buffer(capacity, '\0');
    DWORD size = static_cast<DWORD>(std::min<std::size_t>(capacity, 0x7fffffff));
    if (!::GetUserNameA(buffer.data(), &size)) return false;
    buffer.back() = '\0';
    name = buffer.data();
    return true;
  }

  bool CreateProcessAsUserA(const port::KernelHandle& token, char* commandLine, bool inheritHandles,
                            std::uint32_t creationFlags, const port::StartupInfo& startup,
                            port::ProcessInformation& started) override {
    // Everything is allocated before the process starts: once it runs,
    // nothing can fail before its handles reach the caller, who waits for it.
    std::vector<char> desktop(startup.desktop.begin(), startup.desktop.end());
    desktop.push_back('\0');
    auto processHandle = std::make_unique<Win32KernelHandle>();
    auto threadHandle = std::make_unique<Win32KernelHandle>();
    HANDLE userToken = Raw(&token);
    STARTUPINFOA info = {};
    info.cb = sizeof(info);
    info.dwFlags = startup.dwFlags;
    info.wShowWindow = startup.wShowWindow;
    info.lpDesktop = startup.desktop.empty() ? nullptr : desktop.data();
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessAsUserA(userToken, nullptr, commandLine, nullptr, nullptr,
                                inheritHandles ? TRUE : FALSE, creationFlags, nullptr, nullptr,
                                &info, &process)) {
      return false;
    }
    processHandle->reset(process.hProcess);
    threadHandle->reset(process.hThread);
    started.process = std::move(processHandle);
    started.thread = std::move(threadHandle);
    started.processId = process.dwProcessId;
    started.threadId = process.dwThreadId;
    return true;
  }

  std::uint32_t WaitForSingleObject(const port::KernelHandle& process,
                                    std::uint32_t milliseconds) override {
    return ::WaitForSingleObject(Raw(&process), milliseconds);
  }

  bool GetExitCodeProcess(const port::KernelHandle& process, std::uint32_t& exitCode) override {
    DWORD code = 0;
    if (!::GetExitCodeProcess(Raw(&process), &code)) return false;
    exitCode = code;
    return true;
  }

  bool TerminateProcess(const port::KernelHandle& process, std::uint32_t exitCode) override {
    return ::TerminateProcess(Raw(&process), exitCode) != FALSE;
  }

  std::unique_ptr<port::KernelHandle> CreateMutexA(const char* name) override {
    // Made open to every user's job. CreateMutexA asks an existing mutex
    // for every right, which only its maker has: one made by another user
    // is opened with the rights a job needs.
    EveryUserMutexSecurity security;
    if (!security) return nullptr;
    UniqueHandle mutex(::CreateMutexA(security.Attributes(), FALSE, name));
    if (!mutex && ::GetLastError() == ERROR_ACCESS_DENIED) {
      mutex.reset(::OpenMutexA(kEveryUserMutexAccess, FALSE, name));
    }
    if (!mutex) return nullptr;
    return std::make_unique<Win32KernelHandle>(std::move(mutex));
  }

  bool ReleaseMutex(const port::KernelHandle& mutex) override {
    return ::ReleaseMutex(Raw(&mutex)) != FALSE;
  }
};

}  // namespace

std::unique_ptr<port::Processes> MakeProcesses() { return std::make_unique<Win32Processes>(); }

}  // namespace zrt::win32
