#!/usr/bin/env python3
"""Runs one black-box scenario against the Linux program on a simulated
machine or against the Windows program under Wine, and compares what the run
left behind with the scenario's expectations.

    run_scenario.py --target linux --build-dir build/linux CASE.json
    run_scenario.py --target wine  --build-dir build/win32 CASE.json

Exit code: 0 passed, 1 failed (or the scenario is malformed), 77 skipped
(the target is not available: program not built, Wine missing, ...).

The scenario format is described in tests/scenarios/README.md.
Python standard library only.
"""

import argparse
import difflib
import json
import os
import pathlib
import pwd
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading

import wine_power
import wine_prefix
from wine_power import reg_string

EXIT_PASS, EXIT_FAIL, EXIT_SKIP = 0, 1, 77

REPO = pathlib.Path(__file__).resolve().parents[2]
MACHINES = REPO / "examples" / "machines"
ANSI = "cp1252"

TOP_LEVEL_KEYS = {
    "description", "targets", "machine", "machine_settings", "registry", "files",
    "post_library", "power", "processes", "wine", "job", "argument", "vars", "expect",
    "program", "runs",
}
# Programs a scenario may ask for instead of the build's own, by the name of
# the file beside it (".exe" added under Wine).
PROGRAMS = {"short-post-bound": "zReTessalyXP-shortpost"}
PRELUDES = pathlib.Path(__file__).resolve().parent / "preludes.json"
INSTANCE_ATTRIBUTES = ("scriptid", "scriptver", "category", "fncname", "logonuser")
EXPECT_KEYS = {"log", "posts", "fallback", "schemes", "commands", "power", "ends"}
# How every run of a scenario ends: normally, or by a processor fault (the
# Linux program dies of SIGSEGV, 128 + 11 as GNU time reports it; under Wine
# the process ends with the exception's code).
ENDINGS = {"exit 0": {0}, "crash": {-11, 139, 0xC0000005 & 0xFF, 0xC0000005}}
LOG_KEYS = {"location", "header", "records", "end_line"}


class Skip(Exception):
    """The target cannot run here."""


class ScenarioError(Exception):
    """The scenario file is malformed or asks what its target cannot do."""


# --------------------------------------------------------------------------
# Scenario file



def walk_ignoring_case(base, rest):
    """The host path below `base` for the Windows path tail `rest`, matching
    each existing folder entry ignoring case as Windows does."""
    path = base
    for part in [p for p in rest.replace("/", "\\").split("\\") if p]:
        match = None
        if path.is_dir():
            for entry in path.iterdir():
                if entry.name.lower() == part.lower():
                    match = entry
                    break
        path = match if match is not None else path / part
    return path

def load_scenario(path):
    try:
        with open(path, encoding="utf-8") as f:
            scenario = json.load(f)
    except (OSError, ValueError) as e:
        raise ScenarioError(f"cannot read {path}: {e}")
    if not isinstance(scenario, dict):
        raise ScenarioError("a scenario is a JSON object")
    unknown = set(scenario) - TOP_LEVEL_KEYS
    if unknown:
        raise ScenarioError(f"unknown members: {sorted(unknown)}")
    for member in ("machine", "expect"):
        if member not in scenario:
            raise ScenarioError(f"missing member {member!r}")
    expect = scenario["expect"]
    unknown = set(expect) - EXPECT_KEYS
    if unknown:
        raise ScenarioError(f"unknown members of expect: {sorted(unknown)}")
    if "log" not in expect:
        raise ScenarioError("expect.log is required")
    if expect.get("ends", "exit 0") not in ENDINGS:
        raise ScenarioError(f"expect.ends is one of {sorted(ENDINGS)}")
    if scenario.get("program", "short-post-bound") not in PROGRAMS:
        raise ScenarioError(f"program is one of {sorted(PROGRAMS)}")
    runs = scenario.get("runs", 1)
    if not isinstance(runs, int) or isinstance(runs, bool) or runs < 1:
        raise ScenarioError("runs is a number of runs, at least 1")
    unknown = set(expect["log"]) - LOG_KEYS
    if unknown:
        raise ScenarioError(f"unknown members of expect.log: {sorted(unknown)}")
    return scenario


def scenario_targets(scenario):
    return scenario.get("targets", ["linux", "wine"])


def load_preludes():
    with open(PRELUDES, encoding="utf-8") as f:
        return json.load(f)


def scenario_vars(scenario, preludes):
    """The variables expected values use: the shared defaults, then the job's
    script-instance attributes and the argument, then the scenario's own."""
    values = dict(preludes["vars"])
    values.update(scenario.get("job", {}).get("scriptinstance", {}))
    if "argument" in scenario:
        values["argument"] = Lit(scenario["argument"])
    values.update(scenario.get("vars", {}))
    return values


def scenario_argument(scenario, preludes):
    return scenario.get("argument", preludes["vars"]["argument"])


def xml_escape(text, quote=False):
    text = text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
    return text.replace('"', "&quot;") if quote else text


def job_document(job, preludes):
    """The job document a scenario's 'job' describes: one script instance
    (attributes from the shared defaults, replaced by the job's own) holding
    the steps, each an object of option elements in order; a member "@value"
    gives the step's value attribute (default: its position; null: a step
    without attributes)."""
    if set(job) - {"scriptinstance", "steps"}:
        raise ScenarioError(f"unknown members of job: {sorted(set(job))}")
    attributes = {name: preludes["vars"][name] for name in INSTANCE_ATTRIBUTES}
    attributes.update(job.get("scriptinstance", {}))
    lines = ['<?xml version="1.0" encoding="UTF-8"?>', "<job>",
             "  <scriptinstance " + " ".join(f'{k}="{xml_escape(v, True)}"'
                                             for k, v in attributes.items()) + ">"]
    for position, step in enumerate(job.get("steps", []), 1):
        value = step.get("@value", str(position))
        lines.append("    <step>" if value is None else f'    <step value="{xml_escape(value, True)}">')
        for name, text in step.items():
            if not name.startswith("@"):
                lines.append(f"      <{name}>{xml_escape(text)}</{name}>")
        lines.append("    </step>")
    lines += ["  </scriptinstance>", "</job>"]
    return {"lines": lines}


# --------------------------------------------------------------------------
# Expected values: texts with ${name} placeholders, lists of lines, and
# per-target values.

PLACEHOLDER = re.compile(r"\$\{([A-Za-z_][A-Za-z0-9_]*)\}")


class Lit(str):
    """A placeholder value matched literally."""


class Pattern(str):
    """A placeholder value matched as a regular expression."""


class Expander:
    """Turns an expected value into a compiled regular expression."""

    def __init__(self, target, builtins, user_vars):
        self.target = target
        self.values = dict(builtins)
        for name, value in (user_vars or {}).items():
            picked = self.pick(value, f"vars.{name}")
            self.values[name] = Pattern(r"(?s:.*)") if picked is None else picked

    def _raw(self, value, where):
        if isinstance(value, list):
            if not all(isinstance(v, str) for v in value):
                raise ScenarioError(f"{where}: a list of lines must hold texts only")
            return "\n".join(value)
        if isinstance(value, str):
            return value
        raise ScenarioError(f"{where}: expected a text or a list of lines, got {value!r}")

    def pick(self, value, where):
        """The value for this target: None when any value is accepted here."""
        if isinstance(value, Lit):
            return value
        if isinstance(value, dict):
            if "why" not in value:
                raise ScenarioError(f"{where}: a per-target value needs a 'why'")
            if set(value) - {"linux", "wine", "why"}:
                raise ScenarioError(f"{where}: unknown members {sorted(set(value))}")
            if self.target not in value:
                return None
            value = value[self.target]
        return self._raw(value, where)

    def regex(self, value, where, depth=0):
        """Regular expression source for a text that may hold placeholders."""
        if isinstance(value, Lit):
            return re.escape(value)
        if depth > 5:
            raise ScenarioError(f"{where}: placeholders nest too deep")
        parts = []
        pos = 0
        for m in PLACEHOLDER.finditer(value):
            parts.append(re.escape(value[pos:m.start()]))
            name = m.group(1)
            if name not in self.values:
                raise ScenarioError(f"{where}: unknown placeholder ${{{name}}}")
            replacement = self.values[name]
            if isinstance(replacement, Pattern):
                parts.append("(?:" + replacement + ")")
            elif isinstance(replacement, Lit):
                parts.append(re.escape(replacement))
            else:  # a scenario variable: may hold placeholders itself
                parts.append(self.regex(replacement, where, depth + 1))
            pos = m.end()
        parts.append(re.escape(value[pos:]))
        return "".join(parts)

    def matcher(self, value, where):
        picked = self.pick(value, where)
        if picked is None:
            return None
        return re.compile(self.regex(picked, where), re.DOTALL)

    def matches(self, value, actual, where):
        m = self.matcher(value, where)
        return m is None or m.fullmatch(actual) is not None

    def display(self, value, where, depth=0):
        """The expected text with its placeholders filled in for reading;
        a pattern shows as <name>."""
        def fill(m):
            name = m.group(1)
            replacement = self.values.get(name)
            if replacement is None or isinstance(replacement, Pattern):
                return "<" + name + ">"
            if isinstance(replacement, Lit) or depth > 5:
                return replacement
            return self.display(replacement, where, depth + 1)
        return PLACEHOLDER.sub(fill, value)

    def show(self, value, where):
        """How an expected value reads in a report (one line)."""
        if isinstance(value, dict):
            picked = self.pick(value, where)
            if picked is None:
                return "<any: " + value["why"] + ">"
            return visible(self.display(picked, where))
        return visible(self.display(self._raw(value, where), where))

    def diff(self, value, actual, where):
        """Line by line differences between an expected and an actual text."""
        picked = self.pick(value, where)
        want = self.display(picked if picked is not None else "", where)
        return ["  " + visible(line) for line in difflib.unified_diff(
            want.split("\n"), actual.split("\n"), "expected", "actual", lineterm="", n=1)]


def visible(text):
    return (text.replace("\\", "\\\\").replace("\r", "\\r").replace("\n", "\\n")
            .replace("\t", "\\t"))


# --------------------------------------------------------------------------
# The simulated machine: a scenario is first applied to a copy of its base
# machine. The Linux target runs on that folder; the Wine target translates
# the folder into the prefix.


def read_json(path, default):
    if not path.exists():
        return default
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def write_json(path, data):
    with open(path, "w", encoding="utf-8") as f:
        json.dump(data, f, indent=2, ensure_ascii=False)
        f.write("\n")


def find_key(keys, name):
    for key in keys:
        if key.lower() == name.lower():
            return key
    return None


def canonical_hive(path):
    hives = {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER",
             "HKCR": "HKEY_CLASSES_ROOT", "HKU": "HKEY_USERS", "HKCC": "HKEY_CURRENT_CONFIG"}
    head, _, rest = path.partition("\\")
    head = hives.get(head.upper(), head.upper())
    return head + ("\\" + rest if rest else "")


def host_path(machine_dir, machine, windows_path):
    """The host file of a Windows path on the simulated machine: the drive
    through the machine's drive table, each name matched ignoring case where
    it exists already."""
    drive, sep, rest = windows_path.partition(":")
    if not sep or len(drive) != 1:
        raise ScenarioError(f"not an absolute Windows path: {windows_path!r}")
    drives = machine.get("drives", {"C": "drive_c"})
    folder = drives.get(drive.upper()) or drives.get(drive.lower())
    if folder is None:
        raise ScenarioError(f"the machine has no drive {drive}:")
    return walk_ignoring_case(machine_dir / folder, rest)


def file_bytes(entry, where):
    if isinstance(entry, bytes):  # given from Python (scripts/reliability.py)
        return entry
    if not isinstance(entry, dict):
        raise ScenarioError(f"{where}: a file is an object with 'copy', 'text' or 'lines'")
    encoding = entry.get("encoding", "utf-8")
    if "copy" in entry:
        return (REPO / entry["copy"]).read_bytes()
    if "text" in entry:
        return entry["text"].encode(encoding)
    if "lines" in entry:
        return "".join(line + "\r\n" for line in entry["lines"]).encode(encoding)
    raise ScenarioError(f"{where}: a file needs 'copy', 'text' or 'lines'")


def product_installation_path(registry, machine_dir, machine):
    """InstallationPath under the product key the program will read."""
    sixty_four = is_64bit(machine_dir, machine)
    wanted = "HKEY_LOCAL_MACHINE\\SOFTWARE\\" + ("Wow6432Node\\MERQEL" if sixty_four else "MERQEL")
    key = find_key(registry.get("keys", {}), wanted)
    if key is None:
        return None
    values = registry["keys"][key].get("values", {})
    name = find_key(values, "InstallationPath")
    value = values.get(name) if name else None
    return value if isinstance(value, str) else None


def is_64bit(machine_dir, machine):
    windows = machine.get("windows_folder", "C:\\WINDOWS")
    return host_path(machine_dir, machine, windows[:2] + "\\Program Files (x86)").is_dir() or any(
        f.lower().rstrip("\\") == (windows[:2] + "\\Program Files (x86)").lower()
        for f in machine.get("folders", []))


def prepare_machine(scenario, folder, preludes):
    """Copies the base machine into `folder` and applies the overrides."""
    base = MACHINES / scenario["machine"]
    if not (base / "machine.json").is_file():
        raise ScenarioError(f"no base machine {scenario['machine']!r} under {MACHINES}")
    shutil.copytree(base, folder)

    machine = read_json(folder / "machine.json", {})
    for name, value in scenario.get("machine_settings", {}).items():
        machine[name] = value
    write_json(folder / "machine.json", machine)

    registry = read_json(folder / "registry.json", {"keys": {}})
    keys = registry.setdefault("keys", {})
    for key_path, values in scenario.get("registry", {}).items():
        canonical = canonical_hive(key_path)
        existing = next((k for k in keys if canonical_hive(k).lower() == canonical.lower()), None)
        if values is None:
            if existing is not None:
                del keys[existing]
            continue
        key = keys.setdefault(existing or canonical, {})
        stored = key.setdefault("values", {})
        for name, value in values.items():
            old = find_key(stored, name)
            if old is not None:
                del stored[old]
            if value is not None:
                stored[name] = value
    write_json(folder / "registry.json", registry)

    if "power" in scenario:
        power = read_json(folder / "power.json", {})
        power.update(scenario["power"])
        write_json(folder / "power.json", power)

    if "processes" in scenario:
        processes = read_json(folder / "processes.json", {})
        processes.update(scenario["processes"])
        write_json(folder / "processes.json", processes)

    files = dict(scenario.get("files", {}))
    if "job" in scenario:
        job_path = scenario.get("vars", {}).get("job_path", preludes["vars"]["job_path"])
        if job_path in files:
            raise ScenarioError(f"both 'job' and 'files' give {job_path}")
        files[job_path] = job_document(scenario["job"], preludes)
    for windows_path, entry in files.items():
        target = host_path(folder, machine, windows_path)
        if entry is None:
            if target.is_dir():
                shutil.rmtree(target)
            elif target.exists():
                target.unlink()
            continue
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(file_bytes(entry, f"files[{windows_path!r}]"))

    if "post_library" in scenario:
        installation = product_installation_path(registry, folder, machine)
        if installation is None:
            raise ScenarioError("post_library needs InstallationPath under the product key")
        target = host_path(folder, machine, installation + "\\zCourier.dll")
        entry = scenario["post_library"]
        if entry is None:
            if target.exists():
                target.unlink()
        elif isinstance(entry, dict) and "text" in entry:
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(entry["text"].encode("utf-8"))
        else:
            target.parent.mkdir(parents=True, exist_ok=True)
            write_json(target, entry)
    return machine


def scheme_names(folder, registry_order=False):
    """The names of the machine's schemes in the order the power profile
    enumerates them: stored order, or (Wine's registry) by index as text."""
    schemes = read_json(folder / "power.json", {}).get("schemes", [])
    if registry_order:
        schemes = sorted(schemes, key=lambda s: str(s.get("index", 0)))
    return [s.get("name", "") for s in schemes]


# --------------------------------------------------------------------------
# What a run leaves behind


class Observed:
    def __init__(self):
        self.exit_code = None
        self.exit_codes = []      # of every run, in order (exit_code is the last)
        self.stderr = ""
        self.log_files = []       # (windows folder, file name, bytes)
        self.posts = []           # the seven texts of each post
        self.fallback_files = []  # (windows folder, file name, bytes)
        self.schemes = None       # {"active": ..., "list": [[index, name], ...]}
        self.schemes_before = []  # scheme names in enumeration order, before the run
        self.commands = []        # the records of the commands started, in order
        self.power = None         # the power state after the run, in power.json's form
        self.timed_out = False    # still running at the time-out, and killed
        self.peak_rss_kib = None  # the program's peak resident memory
        self.opened = None        # host files it opened, when asked to record them


def program_of(scenario, program):
    """The program the scenario runs: the build's own (`program`), or the one
    it names, beside it."""
    if "program" not in scenario:
        return program
    chosen = program.with_name(PROGRAMS[scenario["program"]] + program.suffix)
    if not chosen.is_file():
        raise Skip(f"the program {scenario['program']} is not built: {chosen}")
    return chosen


def run_program(command, env, cwd=None, timeout=60, trace=None):
    """Runs the program under test: (exit code, error output, peak resident
    memory in KiB or None, timed out). A program still running after
    `timeout` seconds is killed with everything it started. With `trace` (a
    file name), strace writes every file the program and its children open
    there. The peak memory is measured by GNU time, a small process of its
    own: a child forked from this script would count the script's memory."""
    if trace:
        command = ["strace", "-f", "-qq", "-e", "trace=open,openat,openat2,creat", "-o", trace,
                   *command]
    with tempfile.TemporaryFile() as errors, tempfile.NamedTemporaryFile() as peak:
        if os.path.exists("/usr/bin/time"):
            command = ["/usr/bin/time", "-q", "-f", "%M", "-o", peak.name, *command]
        # The error output goes to a file: Wine's services keep a pipe open.
        proc = subprocess.Popen(command, env=env, cwd=cwd, stdout=subprocess.DEVNULL,
                                stderr=errors, start_new_session=True)

        def kill():
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        timer = threading.Timer(timeout, kill)
        timer.start()
        proc.wait()
        timed_out = not timer.is_alive()
        timer.cancel()
        errors.seek(0)
        memory = peak.read().decode().strip()
        return (proc.returncode, errors.read().decode("utf-8", "replace"),
                int(memory) if memory.isdigit() else None, timed_out)


OPEN_CALL = re.compile(r'\b(?:open|openat|openat2|creat)\((?:AT_FDCWD, |\d+, )?"((?:[^"\\]|\\.)*)"')


def traced_opens(trace):
    """The paths the strace record `trace` shows opened or tried."""
    try:
        return OPEN_CALL.findall(pathlib.Path(trace).read_text("utf-8", "replace"))
    except OSError:
        return []


def read_lines(path):
    """The lines of a record file (UTF-8); none when it does not exist."""
    return [line for line in path.read_text("utf-8").splitlines() if line] \
        if path.exists() else []


def schemes_of(power):
    """The active scheme and the [index, name] pairs of a power state."""
    return {"active": power.get("active_scheme"),
            "list": sorted([s["index"], s.get("name", "")] for s in power.get("schemes", []))}


def windows_path_of(root_host, root_windows, host):
    rel = host.relative_to(root_host)
    return root_windows + "".join("\\" + p for p in rel.parts)


def collect_files(drive_host, drive_letter, observed):
    """Activity logs and fallback status files anywhere on a drive."""
    for dirpath, dirnames, filenames in os.walk(drive_host):
        dirnames[:] = [d for d in dirnames if d.lower() != "windows"]
        here = pathlib.Path(dirpath)
        # Fallback files first, then what else a status left (pending files).
        for name in sorted(filenames, key=lambda n: (not n.lower().endswith(".xml"), n)):
            host = here / name
            folder = windows_path_of(drive_host, drive_letter + ":", here)
            if here.name.lower() == "zqtvlog" and name.lower().endswith(".log"):
                observed.log_files.append((folder, name, host.read_bytes()))
            elif name.lower().startswith("wpdcmscriptjobinstancestatus"):
                observed.fallback_files.append((folder, name, host.read_bytes()))


# --------------------------------------------------------------------------
# Linux: the program on a simulated machine


class LinuxTarget:
    name = "linux"

    def __init__(self, args, cache):
        self.program = pathlib.Path(args.program or pathlib.Path(args.build_dir) / "zReTessalyXP")
        if not self.program.is_file():
            raise Skip(f"the Linux program is not built: {self.program}")
        self.keep = args.keep
        self.timeout = 60  # seconds before a run counts as hung and is killed

    def run(self, scenario, default_url, preludes):
        work = pathlib.Path(tempfile.mkdtemp(prefix="zrt-scenario-"))
        try:
            folder = work / "machine"
            machine = prepare_machine(scenario, folder, preludes)
            builtins = self._builtins(folder, machine, default_url)
            observed = Observed()
            observed.schemes_before = scheme_names(folder)
            env = dict(os.environ, ZRT_SIM_MACHINE=str(folder))
            program = program_of(scenario, self.program)
            for _ in range(scenario.get("runs", 1)):
                (observed.exit_code, observed.stderr, observed.peak_rss_kib,
                 observed.timed_out) = run_program(
                     [str(program), scenario_argument(scenario, preludes)], env,
                     timeout=self.timeout)
                observed.exit_codes.append(observed.exit_code)
                if observed.timed_out:
                    break
            if machine.get("record_opens"):
                observed.opened = read_lines(folder / machine["record_opens"])
            for letter, drive in machine.get("drives", {"C": "drive_c"}).items():
                collect_files(folder / drive, letter.upper(), observed)
            for line in read_lines(folder / "posts.jsonl"):
                observed.posts.append(json.loads(line)["texts"])
            observed.power = read_json(folder / "power.json", {})
            observed.power.setdefault("active_scheme", 0)
            observed.schemes = schemes_of(observed.power)
            observed.commands = [json.loads(line) for line in
                                 read_lines(folder / "commands.jsonl")]
            return observed, builtins
        finally:
            if self.keep:
                print(f"kept the machine in {work}")
            else:
                shutil.rmtree(work, ignore_errors=True)

    @staticmethod
    def _builtins(folder, machine, default_url):
        processes = read_json(folder / "processes.json", {})
        agent = processes.get("agent_account", "SYSTEM")
        user = agent
        for p in processes.get("processes", []):
            if p.get("name", "").lower() == "explorer.exe":
                user = p.get("user", agent)
                break
        app_data = machine.get("common_app_data",
                               "C:\\Documents and Settings\\All Users\\Application Data")
        if isinstance(app_data, dict):
            app_data = app_data.get("path", "")
        clock = machine.get("local_time", "host")
        m = re.fullmatch(r"(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)(?:\.(\d{1,3}))?", clock)
        values = {
            "agent": Lit(agent), "user": Lit(user), "data_folder": Lit(app_data + "\\Merqel"),
            "default_url": Lit(default_url),
        }
        if m:
            year, month, day, hour, minute, second, ms = m.groups()
            h12 = int(hour) % 12 or 12
            values["datetime"] = Lit(f"{day}/{month}/{year} {h12:02d}:{minute}:{second} "
                                     + ("PM" if int(hour) >= 12 else "AM"))
            values["timestamp"] = Lit(f"{year}{month}{day}{hour}{minute}{second}"
                                      + f"{int(ms or 0):03d}")
        else:
            values["datetime"] = Pattern(DATETIME_PATTERN)
            values["timestamp"] = Pattern(r"\d{17}")
        return values


DATETIME_PATTERN = r"\d\d/\d\d/\d{4} \d\d:\d\d:\d\d (?:AM|PM)"


# --------------------------------------------------------------------------
# Wine: the Windows program in a prefix, with the test doubles

# Registry keys a scenario may write under Wine; the reset removes them all.
WINE_PRODUCT_KEYS = ("HKEY_LOCAL_MACHINE\\SOFTWARE\\MERQEL",
                     "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\MERQEL")
WINE_RESET_KEYS = WINE_PRODUCT_KEYS + (
    wine_power.POWERCFG, wine_power.DOUBLES,
    "HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\zReTessalyXP.exe",
) + wine_power.MACHINE_KEYS
# Windows versions the prefix can report, by (major, minor).
WINE_VERSIONS = {(5, 1): "winxp", (5, 2): "win2003", (6, 0): "vista", (6, 1): "win7"}
# machine.json members the Wine target follows; the others are ignored when
# they keep the base machine's value (clock, folders of the simulated layout)
# and refused when a scenario changes them.
WINE_MACHINE_MEMBERS = {"version", "folders", "program_path", "description"}
STATE_FILE = ".zrt-scenario-state.json"
RUN_FOLDER = "zrt-scenario"  # C:\zrt-scenario: the records of the post library and Powercfg.exe


REG_TYPES = {"REG_NONE": 0, "REG_SZ": 1, "REG_EXPAND_SZ": 2, "REG_BINARY": 3, "REG_DWORD": 4,
             "REG_DWORD_BIG_ENDIAN": 5, "REG_LINK": 6, "REG_MULTI_SZ": 7,
             "REG_RESOURCE_LIST": 8, "REG_FULL_RESOURCE_DESCRIPTOR": 9,
             "REG_RESOURCE_REQUIREMENTS_LIST": 10, "REG_QWORD": 11}
REG_TEXT_TYPES = {1, 2, 6, 7}


def reg_typed_value(value, name):
    """A registry.json value {"type", "hex"} as a .reg file (version 5) gives
    it: the hex bytes are what the ANSI call delivers, so a text type is
    stored as their UTF-16 form, as the Unicode registry keeps it."""
    kind = value["type"]
    number = kind if isinstance(kind, int) else REG_TYPES.get(str(kind).upper())
    if number is None:
        raise ScenarioError(f"unknown registry type {kind!r} of {name}")
    data = bytes.fromhex(re.sub(r"[\s,:]", "", value["hex"]))
    if number in REG_TEXT_TYPES:
        # The five bytes Windows-1252 leaves undefined stand for the C1
        # controls of the same value.
        data = "".join(chr(b) if b in (0x81, 0x8D, 0x8F, 0x90, 0x9D) else bytes([b]).decode(ANSI)
                       for b in data).encode("utf-16-le")
    return f"hex({number:x}):" + ",".join(f"{b:02x}" for b in data)


class WineTarget:
    name = "wine"

    def __init__(self, args, cache):
        if shutil.which("wineserver") is None:
            raise Skip("wine is not installed")
        build = pathlib.Path(args.build_dir)
        self.program = pathlib.Path(args.program or build / "zReTessalyXP.exe")
        if not self.program.is_file():
            raise Skip(f"the Windows program is not built: {self.program}")
        self.doubles = pathlib.Path(args.doubles or build / "tests" / "wine" / "doubles")
        self.prefix = pathlib.Path(args.prefix or cache.get("ZRT_WINE_PREFIX")
                                   or build / "wineprefix").resolve()
        self.keep = args.keep
        # The prefix's architecture follows the program's: the 32-bit program
        # in a 32-bit prefix, the x86-64 test build in a 64-bit one.
        self.arch = wine_prefix.program_arch(self.program)
        self.env = wine_prefix.environment(self.prefix, self.arch)
        self.env.pop("WINEDLLOVERRIDES", None)
        self.command = [self.env["ZRT_WINE"]]
        # Wine names the user after $USER (its process helpers after the
        # password database): make both the same, whoever calls the runner.
        try:
            account = pwd.getpwuid(os.getuid()).pw_name
        except KeyError:
            account = os.environ.get("USER", "wine")
        self.env["USER"] = self.env["LOGNAME"] = account
        # An English locale, whoever calls the runner: the ANSI code page is
        # then 1252 and the log's time carries AM/PM, as on the simulated
        # machine.
        self.env["LC_ALL"] = "C.UTF-8"
        self.drive_c = self.prefix / "drive_c"
        self.timeout = 120  # seconds before a run counts as hung and is killed
        self.trace_opens = False  # record the files the program opens (strace)
        # Called with drive C:'s host folder just before the program starts;
        # what it returns, if anything, is called after the run.
        self.around_run = None

    # -- the prefix --------------------------------------------------------

    def start_prefix(self):
        proc = wine_prefix.create(self.prefix, self.arch, env=self.env, capture_output=True,
                                  text=True, timeout=600)
        if proc.returncode != 0:
            raise Skip(f"the Wine prefix cannot be started: {proc.stderr.strip()}")

    def wine(self, *args, overrides="", cwd=None, timeout=120):
        env = dict(self.env)
        env["WINEDLLOVERRIDES"] = "mscoree,mshtml=" + (";" + overrides if overrides else "")
        return subprocess.run([*self.command, *args], env=env, capture_output=True,
                              cwd=cwd or self.drive_c, timeout=timeout)

    def common_app_data(self):
        """CSIDL_COMMON_APPDATA of the prefix, as its registry records it."""
        try:
            text = (self.prefix / "system.reg").read_text("utf-8", "replace")
        except OSError:
            return "C:\\ProgramData"
        section = re.search(r"^\[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer"
                            r"\\\\Shell Folders\][^\n]*\n(.*?)(?:\n\n|\Z)", text, re.M | re.S)
        if section:
            m = re.search(r'^"Common AppData"="(.*)"$', section.group(1), re.M)
            if m:
                return m.group(1).replace("\\\\", "\\")
        return "C:\\ProgramData"

    def wine_user(self):
        """The account Wine reports for every thread of the program: $USER,
        which the runner sets to the Linux account's name."""
        return self.env["USER"]

    def drive_host(self, windows_path):
        if not re.match(r"^[A-Za-z]:", windows_path) or windows_path[0].upper() != "C":
            raise ScenarioError(f"the Wine target has drive C: only: {windows_path!r}")
        return walk_ignoring_case(self.drive_c, windows_path[2:])

    # -- reset and set-up --------------------------------------------------

    def reset(self):
        """Removes whatever the previous scenario placed in the prefix."""
        state_file = self.prefix / STATE_FILE
        placed = read_json(state_file, {"placed": []})["placed"]
        for host in sorted(placed, key=len, reverse=True):
            p = pathlib.Path(host)
            if not str(p.resolve()).startswith(str(self.drive_c.resolve()) + os.sep):
                continue
            if p.is_dir() and not p.is_symlink():
                shutil.rmtree(p, ignore_errors=True)
            elif p.exists() or p.is_symlink():
                p.unlink()
        # What the program itself writes.
        data = self.drive_host(self.common_app_data() + "\\Merqel")
        for p in (data, self.drive_c / "ApplicationLog", self.drive_c / RUN_FOLDER):
            shutil.rmtree(p, ignore_errors=True)
        write_json(state_file, {"placed": []})

    def place(self, placed, target):
        """Remembers the topmost new path on the way to `target`."""
        path = target
        topmost = None
        while path != self.drive_c and not path.exists():
            topmost = path
            path = path.parent
        if topmost is not None:
            placed.append(str(topmost))

    def setup(self, scenario, folder, machine):
        self.chosen_program = program_of(scenario, self.program)
        wine_options = scenario.get("wine", {})
        doubles = wine_options.get("doubles", True)
        if set(wine_options) - {"doubles"}:
            raise ScenarioError(f"unknown members of wine: {sorted(wine_options)}")
        if doubles and not all((self.doubles / name).is_file()
                               for name in ("powrprof.dll", "zCourier.dll", "Powercfg.exe")):
            raise Skip(f"the test doubles are not built in {self.doubles}")
        if "processes" in scenario:
            raise ScenarioError("the Wine target cannot set processes; limit the targets")
        base_machine = read_json(MACHINES / scenario["machine"] / "machine.json", {})
        for name in set(machine) | set(base_machine):
            if name in WINE_MACHINE_MEMBERS:
                continue
            if machine.get(name) != base_machine.get(name):
                raise ScenarioError(f"the Wine target cannot set machine member {name!r}")
        version = machine.get("version", {"major": 5, "minor": 1})
        if set(version) - {"major", "minor", "build"}:
            raise ScenarioError("the Wine target cannot refuse GetVersionExA")
        wine_version = WINE_VERSIONS.get((version.get("major", 5), version.get("minor", 1)))
        if wine_version is None:
            raise ScenarioError(f"the Wine target cannot report Windows {version}")

        placed = []
        # The Unicode form of the file, so that names beyond the ANSI code
        # page (scheme names, say) reach the registry unchanged.
        reg = ["Windows Registry Editor Version 5.00", ""]
        reg += [f"[-{key}]" for key in WINE_RESET_KEYS]
        reg.append("")
        if wine_version != "winxp":
            reg += ["[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\zReTessalyXP.exe]",
                    f'"Version"="{wine_version}"', ""]

        # Product key values.
        registry = read_json(folder / "registry.json", {"keys": {}})
        for key, content in registry.get("keys", {}).items():
            canonical = canonical_hive(key)
            if canonical.lower() not in (k.lower() for k in WINE_PRODUCT_KEYS):
                raise ScenarioError(f"the Wine target writes the product key only, not {key}")
            if set(content) - {"values"}:
                raise ScenarioError(f"the Wine target cannot make {key} refuse to open")
            reg.append(f"[{canonical}]")
            for name, value in content.get("values", {}).items():
                if isinstance(value, str):
                    reg.append(f"{reg_string(name)}={reg_string(value)}")
                elif isinstance(value, int) and not isinstance(value, bool):
                    reg.append(f"{reg_string(name)}=dword:{value & 0xFFFFFFFF:08x}")
                elif isinstance(value, dict) and set(value) == {"type", "hex"}:
                    reg.append(f"{reg_string(name)}={reg_typed_value(value, name)}")
                else:
                    raise ScenarioError(f"the Wine target writes texts, numbers and typed values "
                                        f"given as hex only: {name}")
            reg.append("")

        # The power state, for the power-profile and Powercfg.exe doubles.
        power = read_json(folder / "power.json", {})
        if doubles:
            try:
                reg += wine_power.reg_lines(power, "C:\\" + RUN_FOLDER + "\\commands.jsonl")
            except (wine_power.PowerError, ValueError, TypeError, KeyError) as e:
                raise ScenarioError(f"power.json: {e}")
        elif "power" in scenario:
            raise ScenarioError("power settings need the power-profile double")

        try:
            answers = self._place_files(folder, machine, placed, doubles)
        finally:
            # Whatever was placed is removed by the next reset, even after a
            # failure half-way.
            write_json(self.prefix / STATE_FILE, {"placed": placed})
        if doubles:
            record = "C:\\" + RUN_FOLDER + "\\posts.jsonl"
            reg.append("[HKEY_LOCAL_MACHINE\\Software\\ZrtTestDoubles\\zCourier]")
            reg.append(f'"RecordFile"={reg_string(record)}')
            if answers is not None:
                reg.append(f'"Answers"={reg_string(json.dumps(answers))}')
            reg.append("")

        run_folder = self.drive_c / RUN_FOLDER
        reg_file = run_folder / "machine.reg"
        reg_file.write_bytes("\r\n".join(reg + [""]).encode("utf-16"))
        proc = self.wine("reg", "import", "C:\\" + RUN_FOLDER + "\\machine.reg")
        if proc.returncode != 0:
            raise ScenarioError("wine reg import failed: "
                                + proc.stderr.decode("utf-8", "replace"))
        program_path = machine.get("program_path",
                                   '"C:\\Program Files\\Merqel\\zReTessalyXP.exe"').strip('"')
        return program_path, doubles

    def _place_files(self, folder, machine, placed, doubles):
        """Copies the simulated drive C: into the prefix, the post library
        descriptions turned into the post-library double, and puts the program
        where the agent starts it, with the power-profile double beside it.
        Returns the post library's answers (None: the double's default)."""
        run_folder = self.drive_c / RUN_FOLDER
        run_folder.mkdir(parents=True, exist_ok=True)
        answers = None
        power = read_json(folder / "power.json", {})
        drives = machine.get("drives", {"C": "drive_c"})
        if set(k.upper() for k in drives) != {"C"}:
            raise ScenarioError("the Wine target has drive C: only")
        sim_drive = folder / next(iter(drives.values()))
        for windows_folder in machine.get("folders", []):
            target = self.drive_host(windows_folder)
            self.place(placed, target)
            target.mkdir(parents=True, exist_ok=True)
        for dirpath, _, filenames in os.walk(sim_drive):
            for name in filenames:
                source = pathlib.Path(dirpath) / name
                windows = windows_path_of(sim_drive, "C:", source)
                target = self.drive_host(windows)
                self.place(placed, target)
                target.parent.mkdir(parents=True, exist_ok=True)
                if name.lower() == "zcourier.dll":
                    answers = self._place_post_library(source, target, doubles)
                else:
                    shutil.copyfile(source, target)
        for dirpath, dirnames, _ in os.walk(sim_drive):
            for d in dirnames:
                target = self.drive_host(windows_path_of(sim_drive, "C:",
                                                         pathlib.Path(dirpath) / d))
                self.place(placed, target)
                target.mkdir(parents=True, exist_ok=True)
        program_path = machine.get("program_path",
                                   '"C:\\Program Files\\Merqel\\zReTessalyXP.exe"').strip('"')
        program = self.drive_host(program_path)
        self.place(placed, program)
        program.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(self.chosen_program, program)
        # Beside the program: CreateProcess looks for Powercfg.exe there
        # first, and Wine has none of its own.
        beside = ["powrprof.dll"] + (["Powercfg.exe"] if wine_power.powercfg_installed(power)
                                     else [])
        for name in beside if doubles else []:
            double = program.parent / name
            self.place(placed, double)
            shutil.copyfile(self.doubles / name, double)
        return answers

    def _place_post_library(self, source, target, doubles):
        """A simulated post library becomes the post-library double (or a
        library without the export); anything else is copied as it is."""
        try:
            description = json.loads(source.read_text("utf-8"))
        except ValueError:
            description = None
        if not isinstance(description, dict):
            shutil.copyfile(source, target)
            return None
        if not doubles:
            return None
        if "WebPostData" in description.get("exports", ["WebPostData"]):
            shutil.copyfile(self.doubles / "zCourier.dll", target)
            return description.get("answers") or [{"result": "1"}]
        # A library that loads but lacks the export: the other double.
        shutil.copyfile(self.doubles / "powrprof.dll", target)
        return None

    # -- the run -----------------------------------------------------------

    def trace_server(self, trace):
        """strace attached to the prefix's wineserver, which opens the files
        every Wine process asks for; returned once attached."""
        for proc in pathlib.Path("/proc").iterdir():
            try:
                if not (proc / "comm").read_text().startswith("wineserver"):
                    continue
                environ = (proc / "environ").read_bytes().split(b"\0")
            except OSError:
                continue
            if f"WINEPREFIX={self.prefix}".encode() in environ:
                tracer = subprocess.Popen(
                    ["strace", "-f", "-e", "trace=open,openat,openat2,creat", "-o", str(trace),
                     "-p", proc.name], stderr=subprocess.PIPE, text=True)
                tracer.stderr.readline()  # "Process N attached"
                return tracer
        raise ScenarioError(f"no wineserver runs for {self.prefix}")

    def run(self, scenario, default_url, preludes):
        argument = scenario_argument(scenario, preludes)
        if any(c in argument for c in '"\t') or "  " in argument or argument != argument.strip():
            raise ScenarioError("under Wine the argument may not hold quotation marks, tabs, "
                                "or leading, trailing or doubled blanks")
        self.start_prefix()
        self.reset()
        work = pathlib.Path(tempfile.mkdtemp(prefix="zrt-scenario-"))
        try:
            folder = work / "machine"
            machine = prepare_machine(scenario, folder, preludes)
            schemes_before = scheme_names(folder, registry_order=True)
            program_path, doubles = self.setup(scenario, folder, machine)
            # The current drive is C: (the drive-root log folder lands there).
            cwd = self.drive_c / "windows" / "system32"
            env = dict(self.env, WINEDLLOVERRIDES="mscoree,mshtml=" + (
                ";powrprof=n" if doubles else ""))
            observed = Observed()
            observed.schemes_before = schemes_before
            trace = work / "opens.trace" if self.trace_opens else None
            server = self.trace_server(work / "server.trace") if trace else None
            undo = self.around_run(self.drive_c) if self.around_run else None
            try:
                for _ in range(scenario.get("runs", 1)):
                    (observed.exit_code, observed.stderr, observed.peak_rss_kib,
                     observed.timed_out) = run_program(
                         [*self.command, program_path, *argument.split(" ")], env, cwd=cwd,
                         timeout=self.timeout, trace=trace)
                    observed.exit_codes.append(observed.exit_code)
                    if observed.timed_out:
                        break
            finally:
                if undo:
                    undo()
                if server:
                    server.send_signal(signal.SIGINT)  # strace detaches
                    server.wait()
            if trace:
                observed.opened = traced_opens(trace) + traced_opens(work / "server.trace")
            collect_files(self.drive_c, "C", observed)
            records = self.drive_c / RUN_FOLDER
            for line in read_lines(records / "posts.jsonl"):
                observed.posts.append(json.loads(line)["texts"])
            observed.commands = [json.loads(line) for line in
                                 read_lines(records / "commands.jsonl")]
            if {"schemes", "power"} & set(scenario["expect"]):
                observed.power = self.read_power()
                observed.schemes = schemes_of(observed.power)
            user = self.wine_user()
            builtins = {
                "agent": Lit(user), "user": Lit(user),
                "data_folder": Lit(self.common_app_data() + "\\Merqel"),
                "default_url": Lit(default_url),
                "datetime": Pattern(DATETIME_PATTERN), "timestamp": Pattern(r"\d{17}"),
            }
            return observed, builtins
        finally:
            if self.keep:
                print(f"kept the scenario's machine in {work}; the prefix is {self.prefix}")
            else:
                shutil.rmtree(work, ignore_errors=True)

    def read_power(self):
        """The power state the doubles keep, read back from the registry."""
        keys = {}
        for k, key in enumerate((wine_power.POWERCFG, wine_power.DOUBLES)
                                + wine_power.MACHINE_KEYS):
            name = f"export{k}.reg"
            proc = self.wine("reg", "export", key, f"C:\\{RUN_FOLDER}\\{name}", "/y")
            out = self.drive_c / RUN_FOLDER / name
            if proc.returncode != 0 or not out.exists():
                continue  # no such key
            raw = out.read_bytes()
            keys.update(wine_power.parse_export(
                raw.decode("utf-16") if raw[:2] in (b"\xff\xfe", b"\xfe\xff")
                else raw.decode(ANSI)))
        return wine_power.power_from_registry(keys)


# --------------------------------------------------------------------------
# Comparison

RECORD_START = re.compile(r"^\d\d/\d\d/\d{4} [^\t\n]*\t", re.M)


def undo_text_mode(raw):
    """The text the program wrote, and whether every line feed reached the
    disk as CR LF."""
    bare_lf = re.search(rb"(?<!\r)\n", raw) is not None
    return raw.replace(b"\r\n", b"\n").decode(ANSI), not bare_lf


def parse_log(text):
    """Header lines and records (user, module, type, val1, val2, val3)."""
    header = []
    body = text
    while body.startswith("#"):
        line, _, body = body.partition("\n")
        header.append(line)
    records = []
    starts = [m.start() for m in RECORD_START.finditer(body)]
    junk = body[:starts[0]] if starts else body
    for i, start in enumerate(starts):
        end = starts[i + 1] if i + 1 < len(starts) else len(body)
        chunk = body[start:end]
        if chunk.endswith("\n"):
            chunk = chunk[:-1]
        columns = chunk.split("\t", 6)
        columns += [""] * (7 - len(columns))
        records.append(columns[1:])
    return header, records, junk


class Report:
    def __init__(self, target):
        self.target = target
        self.failures = []

    def fail(self, title, lines=()):
        self.failures.append((title, list(lines)))

    def print(self):
        for title, lines in self.failures:
            print(f"FAIL [{self.target}] {title}")
            for line in lines:
                print("    " + line)


def align(expected, actual, match):
    """Longest common subsequence under `match`: a list of (i, j) pairs,
    with None for a line on one side only."""
    n, m = len(expected), len(actual)
    table = [[0] * (m + 1) for _ in range(n + 1)]
    for i in range(n - 1, -1, -1):
        for j in range(m - 1, -1, -1):
            if match(i, j):
                table[i][j] = table[i + 1][j + 1] + 1
            else:
                table[i][j] = max(table[i + 1][j], table[i][j + 1])
    pairs, i, j = [], 0, 0
    while i < n and j < m:
        if match(i, j) and table[i][j] == table[i + 1][j + 1] + 1:
            pairs.append((i, j))
            i, j = i + 1, j + 1
        elif table[i + 1][j] >= table[i][j + 1]:
            pairs.append((i, None))
            i += 1
        else:
            pairs.append((None, j))
            j += 1
    pairs += [(k, None) for k in range(i, n)] + [(None, k) for k in range(j, m)]
    return pairs


def expand_records(expected, preludes, schemes_before, depth=0):
    """Replaces each "@name" (or {"prelude": name, ...}) by the records it
    stands for: a named run of preludes.json (which may name others), or
    "enum", one enumeration line per scheme of the machine before the run
    ("without" leaves names out, "with" adds names at the end)."""
    if depth > 5:
        raise ScenarioError("preludes name each other too deep")
    out = []
    for k, record in enumerate(expected):
        if isinstance(record, str) and record.startswith("@"):
            record = {"prelude": record[1:]}
        if not isinstance(record, dict):
            out.append(record)
            continue
        name = record.get("prelude")
        if set(record) - {"prelude", "without", "with"} or not isinstance(name, str):
            raise ScenarioError(f"expect.log.records[{k}]: a prelude is "
                                '{"prelude": name} with optional "without" and "with"')
        if name == "enum":
            names = [n for n in schemes_before if n not in record.get("without", [])]
            out += [["${user}", "SCHEMESENUMPROC", "SUCCESS", "EnumPwrSchemes", "", Lit(n)]
                    for n in names + record.get("with", [])]
        elif name in preludes["records"] and set(record) == {"prelude"}:
            out += expand_records(preludes["records"][name], preludes, schemes_before,
                                  depth + 1)
        else:
            raise ScenarioError(f"expect.log.records[{k}]: no prelude {name!r}")
    return out


def compare_records(exp, expected, actual, report):
    for k, record in enumerate(expected):
        if not isinstance(record, list) or len(record) not in (5, 6):
            raise ScenarioError(f"expect.log.records[{k}]: a record is a list of 5 values "
                                "(module, type, val1, val2, val3) or 6 (user first)")
    matchers = []
    for k, record in enumerate(expected):
        offset = 0 if len(record) == 6 else 1
        matchers.append([(col + offset, exp.matcher(value, f"expect.log.records[{k}][{col}]"))
                         for col, value in enumerate(record)])

    def match(i, j):
        return all(m is None or m.fullmatch(actual[j][col]) is not None
                   for col, m in matchers[i])

    pairs = align(expected, actual, match)
    if all(i is not None and j is not None for i, j in pairs):
        return

    def show_expected(i):
        record = expected[i]
        cols = [exp.show(v, f"records[{i}]") for v in record]
        if len(record) == 5:
            cols = ["(any user)"] + cols
        return " | ".join(cols)

    lines = ["(= same, - expected only, + actual only; \\r \\n \\t made visible)"]
    for i, j in pairs:
        if i is not None and j is not None:
            lines.append("  " + " | ".join(visible(c) for c in actual[j]))
        elif i is not None:
            lines.append("- " + show_expected(i))
        else:
            lines.append("+ " + " | ".join(visible(c) for c in actual[j]))
    report.fail("activity log records differ", lines)


def compare(scenario, target, observed, builtins, report, preludes):
    exp = Expander(target, builtins, scenario_vars(scenario, preludes))
    expect = scenario["expect"]

    ends = expect.get("ends", "exit 0")
    for code in observed.exit_codes or [observed.exit_code]:
        if code not in ENDINGS[ends]:
            report.fail(f"exit code {code}, expected {ends}",
                        observed.stderr.strip().splitlines()[-20:])

    # The activity log: one file, in the expected folder.
    log = expect["log"]
    location = log.get("location", "data_folder")
    if location == "data_folder":
        folder = builtins["data_folder"] + "\\ApplicationLog\\zQTVLog"
    elif location == "drive_root":
        folder = "C:\\ApplicationLog\\zQTVLog"
    else:
        raise ScenarioError("expect.log.location is 'data_folder' or 'drive_root'")
    if len(observed.log_files) != 1:
        report.fail(f"expected one activity log file in {folder}, found "
                    f"{len(observed.log_files)}",
                    [f"{d}\\{n}" for d, n, _ in observed.log_files])
    if not observed.log_files:
        return
    log_folder, log_name, raw = observed.log_files[0]
    if log_folder.lower() != folder.lower():
        report.fail("activity log in the wrong folder",
                    [f"expected {folder}", f"actual   {log_folder}"])
    if not re.fullmatch(r"zReTessalyXP_\[\d{8}\]\.Log", log_name):
        report.fail(f"activity log file name {log_name!r} is not zReTessalyXP_[DDMMYYYY].Log")
    text, crlf = undo_text_mode(raw)
    if not crlf:
        report.fail("activity log has a line feed without a carriage return before it")
    header, records, junk = parse_log(text)
    if junk:
        report.fail("activity log has text that is neither header nor record",
                    [visible(junk[:300])])

    if "header" in log:
        want = log["header"]
        ok = len(want) == len(header) and all(
            exp.matches(w, h, f"expect.log.header[{k}]") for k, (w, h) in
            enumerate(zip(want, header)))
        if not ok:
            report.fail("activity log header differs",
                        ["expected:"] + ["  " + exp.show(w, "header") for w in want]
                        + ["actual:"] + ["  " + visible(h) for h in header])
    elif len(header) != 6:
        report.fail(f"activity log header has {len(header)} lines, expected 6",
                    [visible(h) for h in header])

    compare_records(exp, expand_records(log.get("records", []), preludes,
                                        observed.schemes_before), records, report)

    if "end_line" in log:
        ends = [r for r in records if r[1:5] == ["WinMain", "INFO", "Application", "End"]]
        if log["end_line"]:
            if not records or records[-1][1:5] != ["WinMain", "INFO", "Application", "End"]:
                report.fail("the last log record is not the End line")
        elif ends:
            report.fail("an End line was written", [" | ".join(map(visible, r)) for r in ends])

    # Posts through the post library.
    if "posts" in expect:
        want = expect["posts"]
        lines = []
        if len(want) != len(observed.posts):
            lines.append(f"expected {len(want)} posts, got {len(observed.posts)}")
        for k in range(max(len(want), len(observed.posts))):
            got = observed.posts[k] if k < len(observed.posts) else None
            w = want[k] if k < len(want) else None
            if w is None:
                lines.append(f"unexpected post {k + 1}: {visible(str(got[0]))}")
                continue
            if got is None:
                lines.append(f"missing post {k + 1}: {exp.show(w['url'], 'url')}")
                continue
            if not exp.matches(w["url"], got[0] or "", f"posts[{k}].url"):
                lines += [f"post {k + 1} URL differs:", "  expected " + exp.show(w["url"], "url"),
                          "  actual   " + visible(str(got[0]))]
            if not exp.matches(w["document"], got[1] or "", f"posts[{k}].document"):
                lines += [f"post {k + 1} document differs:"]
                lines += exp.diff(w["document"], got[1] or "", "document")
            if got[2:] != ["N", "", "", "", ""]:
                lines.append(f"post {k + 1}: texts 3 to 7 are {got[2:]!r}, expected "
                             "['N', '', '', '', '']")
        if lines:
            report.fail("posts differ", lines)

    # The fallback status file.
    if "fallback" in expect:
        want = expect["fallback"]
        want = [] if want is None else (want if isinstance(want, list) else [want])
        post_folder = builtins["data_folder"] + "\\QTVPostLogs"
        lines = []
        if len(want) != len(observed.fallback_files):
            lines.append(f"expected {len(want)} fallback files, found "
                         f"{[d + chr(92) + n for d, n, _ in observed.fallback_files]}")
        for k, (w, got) in enumerate(zip(want, observed.fallback_files)):
            folder_found, name, raw = got
            if folder_found.lower() != post_folder.lower():
                lines.append(f"fallback file in {folder_found}, expected {post_folder}")
            if not exp.matches(w["name"], name, f"fallback[{k}].name"):
                lines.append(f"fallback file name {name!r}, expected "
                             f"{exp.show(w['name'], 'name')}")
            text, crlf = undo_text_mode(raw)
            if not crlf:
                lines.append("fallback file has a line feed without a carriage return")
            if not exp.matches(w["text"], text, f"fallback[{k}].text"):
                lines += ["fallback file contents differ (each line ends in CR LF on disk):"]
                lines += exp.diff(w["text"], text, "text")
        if lines:
            report.fail("fallback status files differ", lines)

    compare_machine_state(exp, expect, observed, report)

    # The power schemes after the run.
    if "schemes" in expect:
        want = expect["schemes"]
        got = observed.schemes or {}
        if "active" in want and got.get("active") != want["active"]:
            report.fail(f"active scheme after the run is {got.get('active')!r}, "
                        f"expected {want['active']!r}")
        if "list" in want and got.get("list") != sorted(list(x) for x in want["list"]):
            report.fail("schemes after the run differ",
                        [f"expected {sorted(list(x) for x in want['list'])}",
                         f"actual   {got.get('list')}"])


def is_per_target(value):
    return isinstance(value, dict) and "why" in value and set(value) <= {"linux", "wine", "why"}


def differences(exp, want, got, where):
    """Where `got` does not hold `want`: an object holds the members it
    names (others are ignored), a list has as many entries, each holding
    its counterpart; a text may use placeholders; anything else is equal."""
    if is_per_target(want):
        if exp.target not in want:
            return []
        want = want[exp.target]
    if isinstance(want, dict):
        if not isinstance(got, dict):
            return [f"{where}: expected an object, got {json.dumps(got)}"]
        out = []
        for key, value in want.items():
            if is_per_target(value) and exp.target not in value:
                continue  # any value, or none, on this target
            if key not in got:
                out.append(f"{where}.{key}: missing")
            else:
                out += differences(exp, value, got[key], f"{where}.{key}")
        return out
    if isinstance(want, list):
        if not isinstance(got, list) or len(got) != len(want):
            return [f"{where}: expected {len(want)} entries, got {json.dumps(got)}"]
        return [d for k, (w, g) in enumerate(zip(want, got))
                for d in differences(exp, w, g, f"{where}[{k}]")]
    if isinstance(want, str):
        if isinstance(got, str) and exp.matches(want, got, where):
            return []
        return [f"{where}: expected {exp.show(want, where)}, got {visible(json.dumps(got))}"]
    if want == got and isinstance(want, bool) == isinstance(got, bool):
        return []
    return [f"{where}: expected {json.dumps(want)}, got {json.dumps(got)}"]


def compare_machine_state(exp, expect, observed, report):
    """The commands run and the power state after the run."""
    if "commands" in expect:
        want = expect["commands"]
        if set(want) - {"each", "list"}:
            raise ScenarioError("expect.commands holds 'each' and 'list'")
        listed = [{"command_line": c} if isinstance(c, str) else c for c in want.get("list", [])]
        lines = differences(exp, listed, observed.commands, "commands")
        for k, command in enumerate(observed.commands):
            lines += differences(exp, want.get("each", {}), command, f"commands[{k}]")
        if lines:
            report.fail("commands differ", lines + ["commands run:"] + [
                "  " + visible(c.get("command_line", "")) for c in observed.commands])
    if "power" in expect:
        power = dict(observed.power or {})
        power["schemes"] = {str(s.get("index")): s for s in power.get("schemes", [])}
        lines = differences(exp, expect["power"], power, "power")
        if lines:
            report.fail("power state after the run differs", lines)


def print_observed(observed):
    print("== exit code:", observed.exit_code)
    if observed.stderr.strip():
        print("== stderr\n" + observed.stderr)
    for folder, name, raw in observed.log_files:
        print(f"== log {folder}\\{name}")
        text, _ = undo_text_mode(raw)
        header, records, _ = parse_log(text)
        for h in header:
            print("  " + visible(h))
        for r in records:
            print("  " + json.dumps(r, ensure_ascii=False))
    for k, texts in enumerate(observed.posts):
        print(f"== post {k + 1}: {json.dumps(texts[:2], ensure_ascii=False)}")
    for folder, name, raw in observed.fallback_files:
        print(f"== fallback {folder}\\{name}: {visible(raw.decode(ANSI))}")
    print("== schemes:", json.dumps(observed.schemes))
    for command in observed.commands:
        print("== command:", json.dumps(command, ensure_ascii=False))
    if observed.power is not None:
        print("== power:", json.dumps(observed.power, ensure_ascii=False))


def read_cache(build_dir):
    cache = {}
    path = pathlib.Path(build_dir) / "CMakeCache.txt"
    if path.exists():
        for line in path.read_text("utf-8", "replace").splitlines():
            m = re.match(r"^([A-Za-z_][A-Za-z0-9_]*):[A-Z]+=(.*)$", line)
            if m:
                cache[m.group(1)] = m.group(2)
    return cache


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("scenario", help="the scenario's JSON file")
    parser.add_argument("--target", choices=["linux", "wine"], required=True)
    parser.add_argument("--build-dir", required=True,
                        help="the build folder (its CMakeCache.txt gives the settings)")
    parser.add_argument("--program", help="the program (default: from the build folder)")
    parser.add_argument("--doubles", help="Wine: folder of the test doubles")
    parser.add_argument("--prefix", help="Wine: the prefix (default: ZRT_WINE_PREFIX)")
    parser.add_argument("--keep", action="store_true", help="keep the machine folder")
    parser.add_argument("--show", action="store_true", help="print what the run left behind")
    args = parser.parse_args()

    name = pathlib.Path(args.scenario).stem
    try:
        scenario = load_scenario(args.scenario)
        if args.target not in scenario_targets(scenario):
            print(f"SKIP [{args.target}] {name}: the scenario does not apply to this target")
            return EXIT_SKIP
        cache = read_cache(args.build_dir)
        default_url = cache.get("ZRT_DEFAULT_STATUS_URL", "https://status.server.invalid")
        target = (LinuxTarget if args.target == "linux" else WineTarget)(args, cache)
        preludes = load_preludes()
        observed, builtins = target.run(scenario, default_url, preludes)
        if args.show:
            print_observed(observed)
        report = Report(args.target)
        compare(scenario, args.target, observed, builtins, report, preludes)
    except Skip as e:
        print(f"SKIP [{args.target}] {name}: {e}")
        return EXIT_SKIP
    except ScenarioError as e:
        print(f"ERROR [{args.target}] {name}: {e}")
        return EXIT_FAIL
    except subprocess.TimeoutExpired as e:
        print(f"FAIL [{args.target}] {name}: {e.cmd[0]} did not end within {e.timeout} s")
        return EXIT_FAIL
    if observed.timed_out:
        print(f"FAIL [{args.target}] {name}: the program did not end within {target.timeout} s")
        return EXIT_FAIL
    if report.failures:
        report.print()
        if not args.show:
            print(f"(run again with --show to see everything the run left behind)")
        return EXIT_FAIL
    print(f"PASS [{args.target}] {name}")
    return EXIT_PASS


if __name__ == "__main__":
    sys.exit(main())
