// What the Wine test doubles share: registry values, their configuration
// under HKEY_LOCAL_MACHINE\Software\ZrtTestDoubles\<double>, their record
// files, and text conversion.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace zrt::doubles {

constexpr const wchar_t* kConfigRoot = L"Software\\ZrtTestDoubles\\";

// Closes a registry key when it goes out of scope.
class RegKey {
 public:
  RegKey() = default;
  ~RegKey() {
    if (key_ != nullptr) ::RegCloseKey(key_);
  }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  HKEY* put() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

inline std::optional<DWORD> ReadDword(HKEY root, const std::wstring& subKey, const wchar_t* name) {
  RegKey key;
  if (::RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (::RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD) {
    return std::nullopt;
  }
  return value;
}

// A REG_SZ or REG_EXPAND_SZ value (not expanded); nothing when missing.
inline std::optional<std::wstring> ReadString(HKEY root, const std::wstring& subKey,
                                              const wchar_t* name, LONG* status = nullptr) {
  RegKey key;
  LONG result = ::RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ, key.put());
  if (status != nullptr) *status = result;
  if (result != ERROR_SUCCESS) return std::nullopt;
  DWORD type = 0;
  DWORD size = 0;
  result = ::RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &size);
  if (status != nullptr) *status = result;
  if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
  std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
  result = ::RegQueryValueExW(key.get(), name, nullptr, &type,
                              reinterpret_cast<BYTE*>(buffer.data()), &size);
  if (status != nullptr) *status = result;
  if (result != ERROR_SUCCESS) return std::nullopt;
  buffer.back() = L'\0';
  return std::wstring(buffer.data());
}

// The raw bytes and type of a value; nothing when it cannot be read.
inline std::optional<std::vector<BYTE>> ReadValue(HKEY root, const std::wstring& subKey,
                                                  const wchar_t* name, DWORD* type = nullptr) {
  RegKey key;
  if (::RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  DWORD size = 0;
  if (::RegQueryValueExW(key.get(), name, nullptr, type, nullptr, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::vector<BYTE> bytes(size);
  if (::RegQueryValueExW(key.get(), name, nullptr, type, bytes.data(), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  bytes.resize(size);
  return bytes;
}

// Creates the key when needed; the registry's status.
inline LONG WriteValue(HKEY root, const std::wstring& subKey, const wchar_t* name, DWORD type,
                       const void* data, std::size_t size) {
  RegKey key;
  const LONG created = ::RegCreateKeyExW(root, subKey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                         key.put(), nullptr);
  if (created != ERROR_SUCCESS) return created;
  return ::RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data),
                          static_cast<DWORD>(size));
}

inline LONG WriteDword(HKEY root, const std::wstring& subKey, const wchar_t* name, DWORD value) {
  return WriteValue(root, subKey, name, REG_DWORD, &value, sizeof(value));
}

inline LONG WriteString(HKEY root, const std::wstring& subKey, const wchar_t* name,
                        const std::wstring& value) {
  return WriteValue(root, subKey, name, REG_SZ, value.c_str(),
                    (value.size() + 1) * sizeof(wchar_t));
}

inline std::wstring ConfigKey(const wchar_t* component) {
  return std::wstring(kConfigRoot) + component;
}

// UTF-16 to a code page (CP_UTF8, CP_ACP) and back.
inline std::string Narrow(const wchar_t* text, std::size_t length, UINT codePage = CP_UTF8) {
  if (length == 0) return {};
  const int size = ::WideCharToMultiByte(codePage, 0, text, static_cast<int>(length), nullptr, 0,
                                         nullptr, nullptr);
  std::string result(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    ::WideCharToMultiByte(codePage, 0, text, static_cast<int>(length), result.data(), size, nullptr,
                          nullptr);
  }
  return result;
}

inline std::wstring Widen(const std::string& text, UINT codePage = CP_UTF8) {
  if (text.empty()) return {};
  const int size =
      ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring result(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
  if (size > 0) {
    ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), result.data(),
                          size);
  }
  return result;
}

inline std::string ToUtf8(const wchar_t* text, std::size_t length) { return Narrow(text, length); }
inline std::string ToUtf8(const std::wstring& text) { return Narrow(text.data(), text.size()); }
inline std::wstring FromUtf8(const std::string& text) { return Widen(text); }

// The full path of a module, or empty.
inline std::wstring ModulePath(HMODULE module) {
  std::vector<wchar_t> buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

// The record file of a double: the configured `RecordFile` of its
// configuration key, or `defaultName` beside `module`.
inline std::wstring RecordFile(const wchar_t* component, HMODULE module,
                               const wchar_t* defaultName) {
  if (auto configured = ReadString(HKEY_LOCAL_MACHINE, ConfigKey(component), L"RecordFile")) {
    if (!configured->empty()) return *configured;
  }
  std::wstring path = ModulePath(module);
  const auto slash = path.find_last_of(L"\\/");
  path.erase(slash == std::wstring::npos ? 0 : slash + 1);
  return path + defaultName;
}

inline void AppendToFile(const std::wstring& path, const std::string& text) {
  HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::CloseHandle(file);
}

}  // namespace zrt::doubles
