// Registry: RegOpenKeyExA, RegQueryValueExA, RegCloseKey.
#include <utility>

#include "platform/win32/unique_resource.h"
#include "platform/win32/win32_adapters.h"

namespace zrt::win32 {
namespace {

class Win32RegistryKey final : public port::RegistryKey {
 public:
  explicit Win32RegistryKey(UniqueHkey key) : key_(std::move(key)) {}
  HKEY get() const { return key_.get(); }

 private:
  UniqueHkey key_;
};

HKEY ToHkey(port::Hive hive) {
  switch (hive) {
    case port::Hive::ClassesRoot:
      return HKEY_CLASSES_ROOT;
    case port::Hive::CurrentUser:
      return HKEY_CURRENT_USER;
    case port::Hive::Users:
      return HKEY_USERS;
    case port::Hive::CurrentConfig:
      return HKEY_CURRENT_CONFIG;
    case port::Hive::LocalMachine:
      break;
  }
  return HKEY_LOCAL_MACHINE;
}

class Win32Registry final : public port::Registry {
 public:
  long RegOpenKeyExA(port::Hive hive, const char* subKey,
                     std::unique_ptr<port::RegistryKey>& opened) override {
    opened.reset();
    UniqueHkey key;
    const LONG status = ::RegOpenKeyExA(ToHkey(hive), subKey, 0, KEY_READ, key.put());
    // The key stays owned here until its wrapper exists.
    if (status == ERROR_SUCCESS) opened = std::make_unique<Win32RegistryKey>(std::move(key));
    return status;
  }

  long RegQueryValueExA(port::RegistryKey& key, const char* valueName, std::uint32_t& type,
                        std::uint8_t* data, std::uint32_t& size) override {
    const auto* own = dynamic_cast<const Win32RegistryKey*>(&key);
    if (own == nullptr) return ERROR_INVALID_HANDLE;
    DWORD valueType = REG_NONE;
    DWORD valueSize = size;
    const LONG status =
        ::RegQueryValueExA(own->get(), valueName, nullptr, &valueType, data, &valueSize);
    type = valueType;
    size = valueSize;
    return status;
  }
};

}  // namespace

std::unique_ptr<port::Registry> MakeRegistry() { return std::make_unique<Win32Registry>(); }

}  // namespace zrt::win32
