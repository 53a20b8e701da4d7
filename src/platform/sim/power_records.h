// The power-profile records as power.json holds them: which fields are kept,
// and their JSON form. An action policy is {"Action", "Flags", "EventCode"}.
// Standard C++ and the JSON library only, so that the capture program, which
// writes a real machine's records in this form, shares these very tables.
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <vector>

#include "platform/port/power_policy.h"

namespace zrt::records {

using Json = nlohmann::ordered_json;

enum class Kind { Byte, Dword, Action };

struct Field {
  const char* name;
  std::size_t offset;  // in the whole record
  Kind kind;
};

// The fields the program and the power configuration tool set or read, of
// POWER_POLICY, GLOBAL_POWER_POLICY and SYSTEM_POWER_CAPABILITIES.
const std::vector<Field>& PolicyFields();
const std::vector<Field>& GlobalFields();
const std::vector<Field>& CapabilityFields();

constexpr const char* kActionMembers[] = {"Action", "Flags", "EventCode"};

// Sets the record's fields in `object` (made an object if it is not one),
// keeping its other members.
void WriteFields(Json& object, const std::vector<Field>& fields, const void* record);

inline void WritePowerPolicy(Json& object, const port::POWER_POLICY& policy) {
  WriteFields(object, PolicyFields(), &policy);
}
inline void WriteGlobalPolicy(Json& object, const port::GLOBAL_POWER_POLICY& global) {
  WriteFields(object, GlobalFields(), &global);
}
inline void WriteCapabilities(Json& object, const port::SYSTEM_POWER_CAPABILITIES& capabilities) {
  WriteFields(object, CapabilityFields(), &capabilities);
}

}  // namespace zrt::records
