// power.json, the power state of the simulated machine: reading and writing
// the file, and its power-profile records. A record is an object with one
// member per field, named as the platform names the field; an action policy
// is an object {"Action", "Flags", "EventCode"}. Fields a record leaves out
// are zero; members this part does not know are kept when it writes.
#pragma once

#include <functional>

#include "platform/port/power_policy.h"
#include "platform/sim/sim_json_file.h"
#include "platform/sim/sim_machine.h"

namespace zrt::sim {

// The file's contents (an empty object when it is missing), valid until the
// next call. The file is parsed again only when it has changed on disk.
// Throws MachineError when it is not a JSON object.
const Json& LoadPowerFile(SimMachine& machine);
// Changes the contents and writes them back at once.
void UpdatePowerFile(SimMachine& machine, const std::function<void(Json&)>& change);

// A truth value given as true/false or as a number (kept as it is, so a
// machine can answer 2 where callers ask for exactly 1).
std::uint8_t TruthMember(const Json& object, const char* name, const std::string& where);

// The record from `object` (null: all zero). Throws MachineError when a
// field has the wrong form.
port::POWER_POLICY ReadPowerPolicy(const Json* object, const std::string& where);
port::GLOBAL_POWER_POLICY ReadGlobalPolicy(const Json* object, const std::string& where);
port::SYSTEM_POWER_CAPABILITIES ReadCapabilities(const Json* object, const std::string& where);

}  // namespace zrt::sim
