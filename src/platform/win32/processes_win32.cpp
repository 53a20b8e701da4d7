// Processes and tokens: the toolhelp process snapshot, OpenProcess,
// OpenProcessToken, ImpersonateLoggedOnUser, RevertToSelf, GetUserNameA,
// CreateProcessAsUserA and the calls on the process it started, and the
// named mutex that keeps the program's runs apart.
#include <windows.h>
// The toolhelp header expects the Windows types to be declared already.
#include <tlhelp32.h>

#include <algorithm>
#include <vector>

#include "platform/win32/unique_resource.h"
#include "platform/win32/win32_adapters.h"

namespace zrt::win32 {
namespace {

class Win32KernelHandle final : public port::KernelHandle {
 public:
  explicit Win32KernelHandle(HANDLE handle) : handle_(handle) {}
  HANDLE get() const { return handle_.get(); }

 private:
  UniqueHandle handle_;
};

HANDLE Raw(const port::KernelHandle* handle) {
  const auto* own = dynamic_cast<const Win32KernelHandle*>(handle);
  return own != nullptr ? own->get() : nullptr;
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
    HANDLE process = ::OpenProcess(MAXIMUM_ALLOWED, FALSE, pid);
    if (process == nullptr) return nullptr;
    return std::make_unique<Win32KernelHandle>(process);
  }

  std::unique_ptr<port::KernelHandle> OpenProcessToken(const port::KernelHandle* process) override {
    // A missing process is passed on as NULL so the system reports the error.
    UniqueHandle token;
    if (!::OpenProcessToken(Raw(process), TOKEN_ALL_ACCESS, token.put())) return nullptr;
    return std::make_unique<Win32KernelHandle>(token.release());
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
    std::vector<char> desktop(startup.desktop.begin(), startup.desktop.end());
    desktop.push_back('\0');
    STARTUPINFOA info = {};
    info.cb = startup.cb;
    info.dwFlags = startup.dwFlags;
    info.wShowWindow = startup.wShowWindow;
    info.lpDesktop = startup.desktop.empty() ? nullptr : desktop.data();
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessAsUserA(Raw(&token), nullptr, commandLine, nullptr, nullptr,
                                inheritHandles ? TRUE : FALSE, creationFlags, nullptr, nullptr,
                                &info, &process)) {
      return false;
    }
    started.process = std::make_unique<Win32KernelHandle>(process.hProcess);
    started.thread = std::make_unique<Win32KernelHandle>(process.hThread);
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
    UniqueHandle mutex(::CreateMutexA(nullptr, FALSE, name));
    if (!mutex) return nullptr;
    auto handle = std::make_unique<Win32KernelHandle>(mutex.get());
    mutex.release();  // owned by `handle` from here
    return handle;
  }

  bool ReleaseMutex(const port::KernelHandle& mutex) override {
    return ::ReleaseMutex(Raw(&mutex)) != FALSE;
  }
};

}  // namespace

std::unique_ptr<port::Processes> MakeProcesses() { return std::make_unique<Win32Processes>(); }

}  // namespace zrt::win32
