// The registry of the simulated machine, read from registry.json. The
// simulation only reads the registry; nothing is written back.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/port/registry.h"
#include "platform/sim/sim_json_file.h"
#include "platform/sim/sim_machine.h"

namespace zrt::sim {

// One stored value: its type and the exact bytes RegQueryValueExA hands out.
struct RegistryValue {
  std::uint32_t type = port::regtype::kNone;
  std::vector<std::uint8_t> bytes;
};

class SimRegistry : public port::Registry {
 public:
  explicit SimRegistry(SimMachine& machine);

  // Opens an existing key: one listed in registry.json, a key above one, or
  // the hive itself (empty path). Names are compared ignoring case. Status 2
  // for a missing key, a listed key's "open_error" when it has one.
  long RegOpenKeyExA(port::Hive hive, const char* subKey,
                     std::unique_ptr<port::RegistryKey>& opened) override;

  // Status 2 for a missing value (size left as it was), 234 with the size
  // set when the value does not fit (nothing copied), 0 with type, data and
  // size set otherwise. A null `data` asks for type and size only.
  long RegQueryValueExA(port::RegistryKey& key, const char* valueName, std::uint32_t& type,
                        std::uint8_t* data, std::uint32_t& size) override;

 private:
  struct Key {
    std::optional<port::ErrorCode> openError;
    std::map<std::u16string, RegistryValue> values;  // by case-folded name
  };

  void Load(const Json& registry);
  bool KeyExists(const std::u16string& path) const;

  std::map<std::u16string, Key> keys_;  // by case-folded path, hive first
  const AnsiCodePage& ansi_;            // the machine's, for names and texts
};

}  // namespace zrt::sim
