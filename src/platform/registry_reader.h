// Reads one registry value and delivers it as text, with a readable failure
// text when it cannot.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/fixed_text.h"
#include "platform/port/registry.h"
#include "platform/port/system.h"

namespace zrt {

// What a read delivers: up to 1024 bytes, the size the registry reported and
// the value's type. `Text()` never reads past the bytes delivered.
struct RegistryValue {
  static constexpr std::size_t kCapacity = 1024;
  std::array<char, kCapacity> data{};
  std::uint32_t size = 0;
  std::uint32_t type = port::regtype::kNone;

  std::string_view Text() const;
};

class CRegistry {
 public:
  CRegistry(port::Registry& registry, port::System& system);
  CRegistry(const CRegistry&) = delete;
  CRegistry& operator=(const CRegistry&) = delete;

  // Reads `valueName` under `hiveName`\`subKey`. False with ErrorText() set
  // when the key cannot be opened or the value cannot be read.
  bool QueryValue(std::string_view hiveName, std::string_view subKey, const char* valueName,
                  RegistryValue& output);

  // Opens `subKey` below the hive named `hiveName` (any unknown name selects
  // HKEY_LOCAL_MACHINE).
  bool OpenKey(std::string_view hiveName, const char* subKey);

  // The failure text of the last read, normally ending in the line break of
  // the system's message text.
  const char* ErrorText() const { return errorMessage_.c_str(); }

 private:
  void SetFailure(const char* call, long status);
  void CloseKey();

  port::Registry& registry_;
  port::System& system_;
  std::unique_ptr<port::RegistryKey> openedKey_;
  FixedText<1000> errorMessage_;
};

port::Hive HiveFromName(std::string_view hiveName);

}  // namespace zrt
