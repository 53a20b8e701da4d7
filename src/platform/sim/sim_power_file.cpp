#include "platform/sim/sim_power_file.h"

#include <cstddef>
#include <cstring>
#include <vector>

namespace zrt::sim {
namespace {

const std::string kWhere = machine_file::kPower;

enum class Kind { Byte, Dword, Action };

struct Field {
  const char* name;
  std::size_t offset;  // in the whole record
  Kind kind;
};

#define ZRT_FIELD(record, part, partType, member, kind) \
  Field { #member, offsetof(record, part) + offsetof(partType, member), Kind::kind }
#define ZRT_POLICY(part, partType, member, kind) \
  ZRT_FIELD(port::POWER_POLICY, part, port::partType, member, kind)
#define ZRT_GLOBAL(member, kind) \
  ZRT_FIELD(port::GLOBAL_POWER_POLICY, user, port::GLOBAL_USER_POWER_POLICY, member, kind)

// The fields the program and the power configuration tool set or read.
const std::vector<Field> kPolicyFields = {
    ZRT_POLICY(user, USER_POWER_POLICY, Revision, Dword),
    ZRT_POLICY(user, USER_POWER_POLICY, IdleAc, Action),
    ZRT_POLICY(user, USER_POWER_POLICY, IdleDc, Action),
    ZRT_POLICY(user, USER_POWER_POLICY, IdleTimeoutAc, Dword),
    ZRT_POLICY(user, USER_POWER_POLICY, IdleTimeoutDc, Dword),
    ZRT_POLICY(user, USER_POWER_POLICY, ThrottlePolicyAc, Byte),
    ZRT_POLICY(user, USER_POWER_POLICY, ThrottlePolicyDc, Byte),
    ZRT_POLICY(user, USER_POWER_POLICY, MaxSleepAc, Dword),
    ZRT_POLICY(user, USER_POWER_POLICY, MaxSleepDc, Dword),
    ZRT_POLICY(user, USER_POWER_POLICY, VideoTimeoutAc, Dword),
    ZRT_POLICY(user, USER_POWER_POLICY, VideoTimeoutDc, Dword),
    ZRT_POLICY(user, USER_POWER_POLICY, SpindownTimeoutAc, Dword),
    ZRT_POLICY(user, USER_POWER_POLICY, SpindownTimeoutDc, Dword),
    ZRT_POLICY(mach, MACHINE_POWER_POLICY, DozeS4TimeoutAc, Dword),
    ZRT_POLICY(mach, MACHINE_POWER_POLICY, DozeS4TimeoutDc, Dword),
};

const std::vector<Field> kGlobalFields = {
    ZRT_GLOBAL(Revision, Dword),       ZRT_GLOBAL(PowerButtonAc, Action),
    ZRT_GLOBAL(PowerButtonDc, Action), ZRT_GLOBAL(SleepButtonAc, Action),
    ZRT_GLOBAL(SleepButtonDc, Action), ZRT_GLOBAL(LidCloseAc, Action),
    ZRT_GLOBAL(LidCloseDc, Action),
};

const std::vector<Field> kCapabilityFields = {
    {"PowerButtonPresent", offsetof(port::SYSTEM_POWER_CAPABILITIES, PowerButtonPresent),
     Kind::Byte},
    {"SleepButtonPresent", offsetof(port::SYSTEM_POWER_CAPABILITIES, SleepButtonPresent),
     Kind::Byte},
    {"LidPresent", offsetof(port::SYSTEM_POWER_CAPABILITIES, LidPresent), Kind::Byte},
    {"ProcessorThrottle", offsetof(port::SYSTEM_POWER_CAPABILITIES, ProcessorThrottle), Kind::Byte},
    {"SystemBatteriesPresent", offsetof(port::SYSTEM_POWER_CAPABILITIES, SystemBatteriesPresent),
     Kind::Byte},
};

#undef ZRT_GLOBAL
#undef ZRT_POLICY
#undef ZRT_FIELD

constexpr const char* kActionMembers[] = {"Action", "Flags", "EventCode"};

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

template <typename Record>
void WriteRecord(Json& object, const std::vector<Field>& fields, const Record& record) {
  if (!object.is_object()) object = Json::object();
  const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
  const auto dword = [&](std::size_t offset) {
    std::uint32_t number = 0;
    std::memcpy(&number, bytes + offset, sizeof number);
    return number;
  };
  for (const Field& field : fields) {
    if (field.kind == Kind::Byte) {
      object[field.name] = bytes[field.offset];
    } else if (field.kind == Kind::Dword) {
      object[field.name] = dword(field.offset);
    } else {
      Json action = Json::object();
      for (std::size_t i = 0; i < 3; ++i) {
        action[kActionMembers[i]] = dword(field.offset + i * sizeof(std::uint32_t));
      }
      object[field.name] = action;
    }
  }
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
  return ReadRecord<port::POWER_POLICY>(object, kPolicyFields, where);
}

port::GLOBAL_POWER_POLICY ReadGlobalPolicy(const Json* object, const std::string& where) {
  return ReadRecord<port::GLOBAL_POWER_POLICY>(object, kGlobalFields, where);
}

port::SYSTEM_POWER_CAPABILITIES ReadCapabilities(const Json* object, const std::string& where) {
  return ReadRecord<port::SYSTEM_POWER_CAPABILITIES>(object, kCapabilityFields, where);
}

void WritePowerPolicy(Json& object, const port::POWER_POLICY& policy) {
  WriteRecord(object, kPolicyFields, policy);
}

void WriteGlobalPolicy(Json& object, const port::GLOBAL_POWER_POLICY& global) {
  WriteRecord(object, kGlobalFields, global);
}

}  // namespace zrt::sim
