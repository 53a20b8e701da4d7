#include "platform/sim/sim_power.h"

#include <algorithm>
#include <exception>
#include <set>
#include <vector>

#include "platform/sim/power_records.h"
#include "platform/sim/powercfg_policy.h"
#include "platform/sim/sim_code_page.h"
#include "platform/sim/sim_power_file.h"
#include "platform/sim/sim_powercfg.h"

namespace zrt::sim {
namespace {

const std::string kWhere = machine_file::kPower;

// Reads what the calls read besides the schemes, so that a damaged value is
// refused when the file is read, not told as a failing call.
void CheckMembers(const Json& power) {
  Uint32Member(power, "active_scheme", 0, kWhere);
  BoolMember(power, "user_may_write", true, kWhere);
  for (const char* truth : {"hibernation_allowed", "standby_allowed"}) {
    TruthMember(power, truth, kWhere);
  }
  ReadGlobalPolicy(Member(power, "global_policy"), kWhere + ": global_policy");
  ReadCapabilities(Member(power, "capabilities"), kWhere + ": capabilities");
}

std::vector<StoredScheme> ReadSchemes(const Json& power) {
  CheckMembers(power);
  std::vector<StoredScheme> schemes;
  const Json* list = Member(power, "schemes");
  if (list == nullptr) return schemes;
  if (!list->is_array()) throw MachineError(kWhere + ": \"schemes\" must be a list");
  schemes.reserve(list->size());
  std::set<std::uint32_t> seen;
  std::size_t position = 0;
  for (const Json& entry : *list) {
    ++position;
    // The messages start at the member; the scheme's text is put before
    // them only when one is thrown.
    try {
      if (Member(entry, "index") == nullptr) throw MachineError(" has no \"index\"");
      StoredScheme scheme;
      scheme.index = Uint32Member(entry, "index", 0, "");
      if (!seen.insert(scheme.index).second) throw MachineError(": index used twice");
      scheme.name = Utf8ToUtf16(StringMember(entry, "name", "", ""));
      scheme.description = Utf8ToUtf16(StringMember(entry, "description", "", ""));
      ReadPowerPolicy(Member(entry, "policy"), ": policy");
      schemes.push_back(std::move(scheme));
    } catch (const MachineError& e) {
      // The scheme told by its place and name, not by its whole text.
      const Json* name = entry.is_object() ? Member(entry, "name") : nullptr;
      throw MachineError(kWhere + ": scheme " + std::to_string(position) + " of the list" +
                         (name != nullptr && name->is_string() ? " (" + name->dump() + ")" : "") +
                         e.what());
    }
  }
  return schemes;
}

// The stored scheme of this index, or null.
const Json* FindScheme(const Json& power, std::uint32_t index) {
  const Json* list = Member(power, "schemes");
  if (list == nullptr) return nullptr;
  for (const Json& scheme : *list) {
    if (Uint32Member(scheme, "index", 0, kWhere) == index) return &scheme;
  }
  return nullptr;
}

}  // namespace

SimPowerProfile::SimPowerProfile(SimMachine& machine) : machine_(machine) {
  Schemes(Load());  // a malformed file is reported when the machine opens
}

const Json& SimPowerProfile::Load() { return LoadPowerFile(machine_); }

std::shared_ptr<const std::vector<StoredScheme>> SimPowerProfile::Schemes(const Json& power) {
  const std::uint64_t version = machine_.PowerFile().Version();
  if (!schemes_ || version != schemesVersion_) {
    schemes_ = std::make_shared<const std::vector<StoredScheme>>(ReadSchemes(power));
    schemesVersion_ = version;
  }
  return schemes_;
}

bool SimPowerProfile::Fail(port::ErrorCode code) {
  machine_.SetLastError(code);
  return false;
}

bool SimPowerProfile::Forced(const Json& power, const char* call) {
  machine_.RaiseIfDue(call);
  const std::size_t number = ++calls_[call];
  const Json* failures = Member(power, "failures");
  const Json* entry = failures == nullptr ? nullptr : Member(*failures, call);
  if (entry == nullptr) return false;
  const std::string where = kWhere + ": failures: " + call;
  if (entry->is_array()) {
    // One code per call in turn; 0 and the calls past the list go through.
    if (number > entry->size()) return false;
    entry = &(*entry)[number - 1];
  }
  const port::ErrorCode code = Uint32Value(*entry, where);
  if (code == 0) return false;
  Fail(code);
  return true;
}

bool SimPowerProfile::EnumPwrSchemes(const port::SchemeEnumCallback& callback) {
  const Json& power = Load();
  if (Forced(power, "EnumPwrSchemes")) return false;
  std::exception_ptr raised;
  const auto schemes = Schemes(power);  // kept while the callback runs
  for (const StoredScheme& scheme : *schemes) {
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
  const Json& power = Load();
  if (Forced(power, "CanUserWritePwrScheme")) return false;
  if (!BoolMember(power, "user_may_write", true, kWhere)) return Fail(port::err::kAccessDenied);
  return true;
}

bool SimPowerProfile::GetActivePwrScheme(std::uint32_t& index) {
  const Json& power = Load();
  if (Forced(power, "GetActivePwrScheme")) return false;
  index = Uint32Member(power, "active_scheme", 0, kWhere);
  return true;
}

bool SimPowerProfile::DeletePwrScheme(std::uint32_t index) {
  const auto lock = machine_.LockMachine();  // read, change and write as one step
  const Json& power = Load();
  if (Forced(power, "DeletePwrScheme")) return false;
  if (!BoolMember(power, "user_may_write", true, kWhere)) return Fail(port::err::kAccessDenied);
  const auto schemes = Schemes(power);
  for (std::size_t i = 0; i < schemes->size(); ++i) {
    if ((*schemes)[i].index == index) {
      UpdatePowerFile(machine_, [i](Json& changed) { changed["schemes"].erase(i); });
      return true;
    }
  }
  return Fail(port::err::kFileNotFound);
}

bool SimPowerProfile::ReadPwrScheme(std::uint32_t index, port::POWER_POLICY& policy) {
  const Json& power = Load();
  if (Forced(power, "ReadPwrScheme")) return false;
  const Json* scheme = FindScheme(power, index);
  if (scheme == nullptr) return Fail(port::err::kFileNotFound);
  policy = ReadPowerPolicy(Member(*scheme, "policy"), kWhere + ": scheme policy");
  return true;
}

bool SimPowerProfile::WritePwrScheme(std::uint32_t& index, const port::WideText& name,
                                     const port::WideText& description,
                                     const port::POWER_POLICY& policy) {
  const auto lock = machine_.LockMachine();  // read, change and write as one step
  const Json& power = Load();
  if (Forced(power, "WritePwrScheme")) return false;
  if (!BoolMember(power, "user_may_write", true, kWhere)) return Fail(port::err::kAccessDenied);
  Schemes(power);  // validates the list before it is changed
  UpdatePowerFile(machine_, [&](Json& changed) {
    Json& list = changed["schemes"];
    if (list.is_null()) list = Json::array();
    auto scheme = std::find_if(list.begin(), list.end(), [&](const Json& entry) {
      return Uint32Member(entry, "index", 0, kWhere) == index;
    });
    if (scheme == list.end()) scheme = list.insert(list.end(), Json{{"index", index}});
    (*scheme)["name"] = Utf16ToUtf8(name);
    (*scheme)["description"] = Utf16ToUtf8(description);
    records::WritePowerPolicy((*scheme)["policy"], policy);
  });
  return true;
}

bool SimPowerProfile::GetCurrentPowerPolicies(port::GLOBAL_POWER_POLICY& global,
                                              port::POWER_POLICY& policy) {
  const Json& power = Load();
  if (Forced(power, "GetCurrentPowerPolicies")) return false;
  const Json* active = FindScheme(power, Uint32Member(power, "active_scheme", 0, kWhere));
  if (active == nullptr) return Fail(port::err::kFileNotFound);
  global = ReadGlobalPolicy(Member(power, "global_policy"), kWhere + ": global_policy");
  // The alarms and flags Powercfg.exe sets, where Windows XP keeps them.
  powercfg::AlarmsToPolicy(powercfgStates_.Of(machine_, power), global.user);
  policy = ReadPowerPolicy(Member(*active, "policy"), kWhere + ": scheme policy");
  return true;
}

bool SimPowerProfile::WriteGlobalPwrPolicy(const port::GLOBAL_POWER_POLICY& global) {
  const auto lock = machine_.LockMachine();  // read, change and write as one step
  if (Forced(Load(), "WriteGlobalPwrPolicy")) return false;
  UpdatePowerFile(machine_, [&](Json& changed) {
    records::WriteGlobalPolicy(changed["global_policy"], global);
  });
  return true;
}

bool SimPowerProfile::GetPwrCapabilities(port::SYSTEM_POWER_CAPABILITIES& capabilities) {
  const Json& power = Load();
  if (Forced(power, "GetPwrCapabilities")) return false;
  capabilities = ReadCapabilities(Member(power, "capabilities"), kWhere + ": capabilities");
  return true;
}

port::BOOLEAN SimPowerProfile::IsPwrHibernateAllowed() {
  return TruthMember(Load(), "hibernation_allowed", kWhere);
}

port::BOOLEAN SimPowerProfile::IsPwrSuspendAllowed() {
  return TruthMember(Load(), "standby_allowed", kWhere);
}

}  // namespace zrt::sim
