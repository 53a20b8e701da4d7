#include "platform/sim/sim_power.h"

#include <exception>
#include <set>
#include <vector>

#include "platform/sim/sim_code_page.h"

namespace zrt::sim {
namespace {

const std::string kWhere = machine_file::kPower;

struct Scheme {
  std::uint32_t index = 0;
  std::u16string name;
  std::u16string description;
};

std::vector<Scheme> ReadSchemes(const Json& power) {
  std::vector<Scheme> schemes;
  const Json* list = Member(power, "schemes");
  if (list == nullptr) return schemes;
  if (!list->is_array()) throw MachineError(kWhere + ": \"schemes\" must be a list");
  std::set<std::uint32_t> seen;
  for (const Json& entry : *list) {
    const std::string where = kWhere + ": scheme " + entry.dump();
    if (Member(entry, "index") == nullptr) throw MachineError(where + " has no \"index\"");
    Scheme scheme;
    scheme.index = Uint32Member(entry, "index", 0, where);
    if (!seen.insert(scheme.index).second) throw MachineError(where + ": index used twice");
    scheme.name = Utf8ToUtf16(StringMember(entry, "name", "", where));
    scheme.description = Utf8ToUtf16(StringMember(entry, "description", "", where));
    schemes.push_back(std::move(scheme));
  }
  return schemes;
}

}  // namespace

SimPowerProfile::SimPowerProfile(SimMachine& machine) : machine_(machine) {
  ReadSchemes(Load());  // a malformed file is reported when the machine opens
}

Json SimPowerProfile::Load() const {
  Json power = ReadJsonFile(machine_.File(machine_file::kPower), Json::object());
  if (!power.is_object()) throw MachineError(kWhere + " must hold a JSON object");
  return power;
}

bool SimPowerProfile::Fail(port::ErrorCode code) {
  machine_.SetLastError(code);
  return false;
}

bool SimPowerProfile::Forced(const Json& power, const char* call) {
  machine_.RaiseIfDue(call);
  const Json* failures = Member(power, "failures");
  if (failures == nullptr) return false;
  const Json* code = Member(*failures, call);
  if (code == nullptr) return false;
  Fail(Uint32Value(*code, kWhere + ": failures: " + call));
  return true;
}

bool SimPowerProfile::EnumPwrSchemes(const port::SchemeEnumCallback& callback) {
  const Json power = Load();
  if (Forced(power, "EnumPwrSchemes")) return false;
  std::exception_ptr raised;
  for (const Scheme& scheme : ReadSchemes(power)) {
    bool goOn = false;
    try {
      goOn = callback(scheme.index, scheme.name, scheme.description);
    } catch (...) {
      raised = std::current_exception();
    }
    if (raised || !goOn) break;
  }
  if (raised) std::rethrow_exception(raised);
  return true;
}

bool SimPowerProfile::CanUserWritePwrScheme() {
  const Json power = Load();
  if (Forced(power, "CanUserWritePwrScheme")) return false;
  if (!BoolMember(power, "user_may_write", true, kWhere)) return Fail(port::err::kAccessDenied);
  return true;
}

bool SimPowerProfile::GetActivePwrScheme(std::uint32_t& index) {
  const Json power = Load();
  if (Forced(power, "GetActivePwrScheme")) return false;
  index = Uint32Member(power, "active_scheme", 0, kWhere);
  return true;
}

bool SimPowerProfile::DeletePwrScheme(std::uint32_t index) {
  Json power = Load();
  if (Forced(power, "DeletePwrScheme")) return false;
  if (!BoolMember(power, "user_may_write", true, kWhere)) return Fail(port::err::kAccessDenied);
  ReadSchemes(power);  // validates the list before it is changed
  Json* list = power.contains("schemes") ? &power["schemes"] : nullptr;
  if (list == nullptr || !list->is_array()) return Fail(port::err::kFileNotFound);
  for (auto it = list->begin(); it != list->end(); ++it) {
    if (Uint32Member(*it, "index", 0, kWhere) == index) {
      list->erase(it);
      WriteJsonFile(machine_.File(machine_file::kPower), power);
      return true;
    }
  }
  return Fail(port::err::kFileNotFound);
}

bool SimPowerProfile::ReadPwrScheme(std::uint32_t, port::POWER_POLICY&) {
  return Fail(port::err::kCallNotImplemented);
}
bool SimPowerProfile::WritePwrScheme(std::uint32_t&, const port::WideText&, const port::WideText&,
                                     const port::POWER_POLICY&) {
  return Fail(port::err::kCallNotImplemented);
}
bool SimPowerProfile::GetCurrentPowerPolicies(port::GLOBAL_POWER_POLICY&, port::POWER_POLICY&) {
  return Fail(port::err::kCallNotImplemented);
}
bool SimPowerProfile::WriteGlobalPwrPolicy(const port::GLOBAL_POWER_POLICY&) {
  return Fail(port::err::kCallNotImplemented);
}
bool SimPowerProfile::GetPwrCapabilities(port::SYSTEM_POWER_CAPABILITIES&) {
  return Fail(port::err::kCallNotImplemented);
}
port::BOOLEAN SimPowerProfile::IsPwrHibernateAllowed() { return 0; }
port::BOOLEAN SimPowerProfile::IsPwrSuspendAllowed() { return 0; }

}  // namespace zrt::sim
