// Helpers for the adapter tests that run under Wine: registry set-up and
// clean-up, scratch folders, file contents.
#pragma once

#include <windows.h>
// Headers that expect the Windows types to be declared already.
#include <shlwapi.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace zrt::wine_test {

// Creates (or opens) a key for writing and sets values in it.
class RegistryWriter {
 public:
  RegistryWriter(HKEY root, const std::wstring& subKey) {
    ::RegCreateKeyExW(root, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
  }
  ~RegistryWriter() {
    if (key_ != nullptr) ::RegCloseKey(key_);
  }
  RegistryWriter(const RegistryWriter&) = delete;
  RegistryWriter& operator=(const RegistryWriter&) = delete;

  bool ok() const { return key_ != nullptr; }

  void SetString(const wchar_t* name, const std::wstring& value) {
    ::RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }
  void SetDword(const wchar_t* name, DWORD value) {
    ::RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                     sizeof(value));
  }
  void SetBytes(const wchar_t* name, DWORD type, const std::vector<BYTE>& bytes) {
    ::RegSetValueExW(key_, name, 0, type, bytes.data(), static_cast<DWORD>(bytes.size()));
  }

 private:
  HKEY key_ = nullptr;
};

inline void DeleteKeyTree(HKEY root, const std::wstring& subKey) {
  ::SHDeleteKeyW(root, subKey.c_str());
}

inline bool KeyExists(HKEY root, const std::wstring& subKey) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  ::RegCloseKey(key);
  return true;
}

// A fresh folder under the temporary folder, removed with its files.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& name) {
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + name + "-" + std::to_string(::GetCurrentProcessId());
    Remove();
    ::CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~ScratchFolder() { Remove(); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "\\" + name; }

 private:
  void Remove() {
    // SHFileOperation would need a window station; two levels are enough here.
    WIN32_FIND_DATAA entry;
    HANDLE search = ::FindFirstFileA((path_ + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        const std::string full = path_ + "\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          ::RemoveDirectoryA(full.c_str());
        } else {
          ::DeleteFileA(full.c_str());
        }
      } while (::FindNextFileA(search, &entry));
      ::FindClose(search);
    }
    ::RemoveDirectoryA(path_.c_str());
  }

  std::string path_;
};

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// The folder of the running test program, with a trailing backslash.
inline std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path);
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

// Lets the next `count` allocations of the test program go through and the
// one after fail with std::bad_alloc; a negative count lets all through
// (allocation_failure.cpp).
void FailAllocationAfter(int count);

}  // namespace zrt::wine_test
