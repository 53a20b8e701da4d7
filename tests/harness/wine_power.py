"""The simulated machine's power state (power.json) in the terms of the Wine
test doubles, and back: registry values for the power-profile double and
the Powercfg.exe double (docs/wine.md), and the power state read back from
an export of those keys, in power.json's form.

Python standard library only.
"""

import json
import re
import struct

POWERCFG = "HKEY_CURRENT_USER\\Control Panel\\PowerCfg"
MACHINE_POWERCFG = ("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion"
                    "\\Controls Folder\\PowerCfg")
DOUBLES = "HKEY_LOCAL_MACHINE\\Software\\ZrtTestDoubles"
POWRPROF = DOUBLES + "\\powrprof"
POWERCFG_DOUBLE = DOUBLES + "\\Powercfg"
# What a scenario's power state occupies, below the doubles' configuration:
# the machine halves of the schemes and of the global policy (the PowerCfg
# key above them holds Wine's own values, which plain Wine needs).
MACHINE_KEYS = (MACHINE_POWERCFG + "\\PowerPolicies", MACHINE_POWERCFG + "\\GlobalPowerPolicy")

# The power-profile records in the platform's binary layout (32-bit Windows),
# field by field: the fields the simulated machine keeps, by its names, and
# the bytes between them. "B" is a byte, "I" a 32-bit number, "A" an action
# policy, "<n>x" bytes no one here reads.
ACTION = ("Action", "Flags", "EventCode")


def _actions(*names):
    return [(name, "A") for name in names]


USER_POLICY = [("Revision", "I"), *_actions("IdleAc", "IdleDc"), ("IdleTimeoutAc", "I"),
               ("IdleTimeoutDc", "I"), (None, "2x"), ("ThrottlePolicyAc", "B"),
               ("ThrottlePolicyDc", "B"), ("MaxSleepAc", "I"), ("MaxSleepDc", "I"),
               (None, "8x"), ("VideoTimeoutAc", "I"), ("VideoTimeoutDc", "I"),
               ("SpindownTimeoutAc", "I"), ("SpindownTimeoutDc", "I"), (None, "8x")]
MACHINE_POLICY = [(None, "28x"), ("DozeS4TimeoutAc", "I"), ("DozeS4TimeoutDc", "I"),
                  (None, "28x")]
GLOBAL_USER_POLICY = [("Revision", "I"),
                      *_actions("PowerButtonAc", "PowerButtonDc", "SleepButtonAc",
                                "SleepButtonDc", "LidCloseAc", "LidCloseDc"),
                      (None, "100x")]  # four discharge policies and the global flags
GLOBAL_MACHINE_POLICY = [(None, "16x")]
CAPABILITIES = [("PowerButtonPresent", "B"), ("SleepButtonPresent", "B"), ("LidPresent", "B"),
                (None, "11x"), ("ProcessorThrottle", "B"), (None, "15x"),
                ("SystemBatteriesPresent", "B"), (None, "45x")]


def _format(layout):
    return "<" + "".join("3I" if code == "A" else code for _, code in layout)


# The sizes of USER_POWER_POLICY, MACHINE_POWER_POLICY, GLOBAL_USER_POWER_POLICY,
# GLOBAL_MACHINE_POWER_POLICY and SYSTEM_POWER_CAPABILITIES.
assert [struct.calcsize(_format(layout)) for layout in (
    USER_POLICY, MACHINE_POLICY, GLOBAL_USER_POLICY, GLOBAL_MACHINE_POLICY, CAPABILITIES)] \
    == [80, 64, 176, 16, 76]


class PowerError(Exception):
    """power.json holds what the doubles cannot be given."""


def pack(layout, fields, where):
    """The record's bytes from its fields (missing ones are 0)."""
    fields = fields or {}
    if not isinstance(fields, dict):
        raise PowerError(f"{where} must be an object")
    values = []
    for name, code in layout:
        if name is None:
            continue
        value = fields.get(name, {} if code == "A" else 0)
        parts = [value.get(m, 0) for m in ACTION] if code == "A" else [value]
        if code == "B" and not 0 <= int(value) <= 0xFF:
            raise PowerError(f"{where}: {name} is a byte, not {value!r}")
        values += [int(v) & 0xFFFFFFFF for v in parts]
    return struct.pack(_format(layout), *values)


def unpack(layout, data):
    """The record's fields from its bytes (a shorter value fills the start)."""
    size = struct.calcsize(_format(layout))
    values = iter(struct.unpack(_format(layout), (bytes(data) + bytes(size))[:size]))
    fields = {}
    for name, code in layout:
        if name is not None:
            fields[name] = ({m: next(values) for m in ACTION} if code == "A"
                            else next(values))
    return fields


def reg_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def _hex(data):
    return "hex:" + ",".join(f"{b:02x}" for b in data)


def _dword(value):
    return f"dword:{int(value) & 0xFFFFFFFF:08x}"


def reg_lines(power, record_file):
    """The .reg file lines (REGEDIT4) that give the doubles the machine's
    power state. Raises PowerError for what they cannot express."""
    lines = [f"[{POWERCFG}]", f'"CurrentPowerPolicy"="{int(power.get("active_scheme", 0))}"', "",
             f"[{POWERCFG}\\PowerPolicies]", ""]
    for scheme in power.get("schemes", []):
        index = int(scheme["index"])
        policy = scheme.get("policy")
        where = f"power.json: scheme {index}: policy"
        lines += [f"[{POWERCFG}\\PowerPolicies\\{index}]",
                  f'"Name"={reg_string(scheme.get("name", ""))}',
                  f'"Description"={reg_string(scheme.get("description", ""))}',
                  f'"Policies"={_hex(pack(USER_POLICY, policy, where))}', "",
                  f"[{MACHINE_POWERCFG}\\PowerPolicies\\{index}]",
                  f'"Policies"={_hex(pack(MACHINE_POLICY, policy, where))}', ""]
    if "global_policy" in power:
        where = "power.json: global_policy"
        lines += [f"[{POWERCFG}\\GlobalPowerPolicy]",
                  f'"Policies"={_hex(pack(GLOBAL_USER_POLICY, power["global_policy"], where))}',
                  "", f"[{MACHINE_POWERCFG}\\GlobalPowerPolicy]",
                  f'"Policies"={_hex(pack(GLOBAL_MACHINE_POLICY, {}, where))}', ""]

    lines.append(f"[{POWRPROF}]")
    if not power.get("user_may_write", True):
        lines.append('"CanUserWrite"=dword:00000000')
    for call, code in power.get("failures", {}).items():
        # A list fails the calls in turn: the double takes it as a text.
        value = (reg_string(" ".join(str(int(c)) for c in code)) if isinstance(code, list)
                 else _dword(code))
        lines.append(f"{reg_string(call)}={value}")
    for member, name in (("hibernation_allowed", "HibernationAllowed"),
                         ("standby_allowed", "StandbyAllowed")):
        if member in power:
            lines.append(f'"{name}"={_dword(power[member])}')
    if "capabilities" in power:
        capabilities = pack(CAPABILITIES, power["capabilities"], "power.json: capabilities")
        lines.append(f'"Capabilities"={_hex(capabilities)}')
    lines.append("")

    lines += [f"[{POWERCFG_DOUBLE}]", f'"RecordFile"={reg_string(record_file)}']
    for member, name in (("battery_alarms", "BatteryAlarms"), ("global_flags", "GlobalFlags")):
        if member in power:
            lines.append(f'"{name}"={reg_string(json.dumps(power[member]))}')
    commands = powercfg_commands(power)
    if commands:
        lines.append(f'"Commands"={reg_string(json.dumps(commands, ensure_ascii=False))}')
    lines.append("")
    return lines


# scripts/reliability.py lets a command never end, and waits the bound out.
ENDLESS_COMMANDS_ALLOWED = False


def powercfg_installed(power):
    return power.get("powercfg", {}).get("installed", True)


def powercfg_commands(power):
    """What power.json says of particular command lines, as the Powercfg.exe
    double takes it."""
    tool = power.get("powercfg", {})
    if "start_error" in tool:
        raise PowerError("under Wine Powercfg.exe can only be missing (\"installed\": false), "
                         "not fail to start with another error: limit the targets")
    commands = tool.get("commands", {})
    for line, told in commands.items():
        if "start_error" in told:
            raise PowerError(f"under Wine a started program cannot make its own start fail "
                             f"({line!r}): limit the targets")
        if told.get("never_ends") and not ENDLESS_COMMANDS_ALLOWED:
            raise PowerError(f"a command that never ends ({line!r}) holds the program for its "
                             "five-minute bound under Wine: limit the targets to linux")
    return commands


def parse_export(text):
    """The values of a `reg export` file: {key path in lower case: {name:
    value}}, keys in the file's (the registry's) order; a REG_SZ is a text,
    a REG_DWORD a number, anything else its bytes."""
    keys = {}
    values = None
    for line in re.sub(r"\\\r?\n\s*", "", text).splitlines():
        m = re.fullmatch(r"\[(.*)\]", line)
        if m:
            values = keys.setdefault(m.group(1).lower(), {})
            continue
        m = re.fullmatch(r'("(?:[^"\\]|\\.)*"|@)=(.*)', line)
        if not m or values is None:
            continue
        name = "" if m.group(1) == "@" else re.sub(r"\\(.)", r"\1", m.group(1)[1:-1])
        data = m.group(2)
        if data.startswith('"'):
            values[name] = re.sub(r"\\(.)", r"\1", data[1:-1])
        elif data.startswith("dword:"):
            values[name] = int(data[6:], 16)
        elif data.startswith("hex"):
            digits = data.partition(":")[2].replace(",", "").strip()
            values[name] = bytes.fromhex(digits)
    return keys


def _truth(value):
    return bool(value) if value in (0, 1) else value


def power_from_registry(keys):
    """The power state the doubles keep, in power.json's form: schemes with
    their policies, the active scheme, the global policy, capabilities,
    whether hibernation and standby are allowed, the battery alarms and the
    global flags."""
    def values(path):
        return keys.get(path.lower(), {})

    power = {}
    active = values(POWERCFG).get("CurrentPowerPolicy")
    if active is not None:
        power["active_scheme"] = int(active) if str(active).isdigit() else active
    schemes = []
    pattern = re.compile(re.escape((POWERCFG + "\\PowerPolicies\\").lower()) + r"(\d+)")
    for path, scheme in keys.items():
        m = pattern.fullmatch(path)
        if not m:
            continue
        machine = values(f"{MACHINE_POWERCFG}\\PowerPolicies\\{m.group(1)}")
        schemes.append({"index": int(m.group(1)), "name": scheme.get("Name", ""),
                        "description": scheme.get("Description", ""),
                        "policy": {**unpack(USER_POLICY, scheme.get("Policies", b"")),
                                   **unpack(MACHINE_POLICY, machine.get("Policies", b""))}})
    power["schemes"] = schemes
    if "Policies" in values(POWERCFG + "\\GlobalPowerPolicy"):
        power["global_policy"] = unpack(GLOBAL_USER_POLICY,
                                        values(POWERCFG + "\\GlobalPowerPolicy")["Policies"])
    powrprof = values(POWRPROF)
    for member, name in (("hibernation_allowed", "HibernationAllowed"),
                         ("standby_allowed", "StandbyAllowed")):
        if name in powrprof:
            power[member] = _truth(powrprof[name])
    if "Capabilities" in powrprof:
        power["capabilities"] = unpack(CAPABILITIES, powrprof["Capabilities"])
    tool = values(POWERCFG_DOUBLE)
    for member, name in (("battery_alarms", "BatteryAlarms"), ("global_flags", "GlobalFlags")):
        if name in tool:
            power[member] = json.loads(tool[name])
    return power
