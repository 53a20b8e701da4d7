#include "platform/sim/power_records.h"

#include <cstdint>
#include <cstring>

namespace zrt::records {
namespace {

#define ZRT_FIELD(record, part, partType, member, kind) \
  Field { #member, offsetof(record, part) + offsetof(partType, member), Kind::kind }
#define ZRT_POLICY(part, partType, member, kind) \
  ZRT_FIELD(port::POWER_POLICY, part, port::partType, member, kind)
#define ZRT_GLOBAL(member, kind) \
  ZRT_FIELD(port::GLOBAL_POWER_POLICY, user, port::GLOBAL_USER_POWER_POLICY, member, kind)
#define ZRT_CAPABILITY(member) \
  Field { #member, offsetof(port::SYSTEM_POWER_CAPABILITIES, member), Kind::Byte }

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
    ZRT_CAPABILITY(PowerButtonPresent),
    ZRT_CAPABILITY(SleepButtonPresent),
    ZRT_CAPABILITY(LidPresent),
    ZRT_CAPABILITY(ProcessorThrottle),
    ZRT_CAPABILITY(SystemBatteriesPresent),
};

#undef ZRT_CAPABILITY
#undef ZRT_GLOBAL
#undef ZRT_POLICY
#undef ZRT_FIELD

}  // namespace

const std::vector<Field>& PolicyFields() { return kPolicyFields; }
const std::vector<Field>& GlobalFields() { return kGlobalFields; }
const std::vector<Field>& CapabilityFields() { return kCapabilityFields; }

void WriteFields(Json& object, const std::vector<Field>& fields, const void* record) {
  if (!object.is_object()) object = Json::object();
  const auto* bytes = static_cast<const unsigned char*>(record);
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

}  // namespace zrt::records
