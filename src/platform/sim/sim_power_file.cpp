#include "platform/sim/sim_power_file.h"

#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/sim/power_records.h"

namespace zrt::sim {
namespace {

const std::string kWhere = machine_file::kPower;

using records::Field;
using records::kActionMembers;
using records::Kind;

std::uint8_t ByteValue(const Json& value, const std::string& where) {
  if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
  const std::uint32_t number = Uint32Value(value, where);
  if (number > 0xFF) throw MachineError(where + ": expected a number from 0 to 255");
  return static_cast<std::uint8_t>(number);
}

template <typename Record>
Record ReadRecord(const Json* object, const std::vector<Field>& fields, const std::string& where) {
  Record record = {};
  if (object == nullptr) return record;
  if (!object->is_object()) throw MachineError(where + " must be an object");
  auto* bytes = reinterpret_cast<unsigned char*>(&record);
  for (const Field& field : fields) {
    const Json* value = Member(*object, field.name);
    if (value == nullptr) continue;
    // The messages start after the field; where it is is put before them
    // only when one is thrown.
    try {
      if (field.kind == Kind::Byte) {
        bytes[field.offset] = ByteValue(*value, "");
      } else if (field.kind == Kind::Dword) {
        const std::uint32_t number = Uint32Value(*value, "");
        std::memcpy(bytes + field.offset, &number, sizeof number);
      } else {
        if (!value->is_object()) throw MachineError(" must be an object");
        for (std::size_t i = 0; i < 3; ++i) {
          const std::uint32_t number = Uint32Member(*value, kActionMembers[i], 0, "");
          std::memcpy(bytes + field.offset + i * sizeof number, &number, sizeof number);
        }
      }
    } catch (const MachineError& e) {
      throw MachineError(where + ": " + field.name + e.what());
    }
  }
  return record;
}

}  // namespace

const Json& LoadPowerFile(SimMachine& machine) {
  const Json& power = machine.PowerFile().Read();
  if (!power.is_object()) throw MachineError(kWhere + " must hold a JSON object");
  return power;
}

void UpdatePowerFile(SimMachine& machine, const std::function<void(Json&)>& change) {
  LoadPowerFile(machine);
  machine.PowerFile().Update(change);
}

std::uint8_t TruthMember(const Json& object, const char* name, const std::string& where) {
  const Json* value = Member(object, name);
  return value == nullptr ? 0 : ByteValue(*value, where + ": " + name);
}

port::POWER_POLICY ReadPowerPolicy(const Json* object, const std::string& where) {
  return ReadRecord<port::POWER_POLICY>(object, records::PolicyFields(), where);
}

port::GLOBAL_POWER_POLICY ReadGlobalPolicy(const Json* object, const std::string& where) {
  return ReadRecord<port::GLOBAL_POWER_POLICY>(object, records::GlobalFields(), where);
}

port::SYSTEM_POWER_CAPABILITIES ReadCapabilities(const Json* object, const std::string& where) {
  return ReadRecord<port::SYSTEM_POWER_CAPABILITIES>(object, records::CapabilityFields(), where);
}

}  // namespace zrt::sim
