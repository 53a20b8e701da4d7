// Registry access: RegOpenKeyExA, RegQueryValueExA, RegCloseKey.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/port/platform_types.h"

namespace zrt::port {

enum class Hive { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig };

// Value types as RegQueryValueExA reports them.
namespace regtype {
constexpr std::uint32_t kNone = 0;
constexpr std::uint32_t kSz = 1;
constexpr std::uint32_t kExpandSz = 2;
constexpr std::uint32_t kBinary = 3;
constexpr std::uint32_t kDword = 4;
constexpr std::uint32_t kDwordBigEndian = 5;
constexpr std::uint32_t kMultiSz = 7;
constexpr std::uint32_t kQword = 11;
}  // namespace regtype

// An open registry key; destroying it closes the key (RegCloseKey).
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
};

class Registry {
 public:
  virtual ~Registry() = default;

  // RegOpenKeyExA(hive, subKey, 0, KEY_READ). Returns the status code;
  // on 0 `opened` holds the key.
  virtual long RegOpenKeyExA(Hive hive, const char* subKey,
                             std::unique_ptr<RegistryKey>& opened) = 0;

  // RegQueryValueExA. `size` holds the capacity of `data` on entry and the
  // size of the value on return, also when the status is ERROR_MORE_DATA
  // (234), in which case nothing is copied. Returns the status code.
  virtual long RegQueryValueExA(RegistryKey& key, const char* valueName, std::uint32_t& type,
                                std::uint8_t* data, std::uint32_t& size) = 0;
};

}  // namespace zrt::port
