"""One way to drive the two programs: the Linux program on a simulated
machine (a folder, docs/simulated-machine.md) or the Windows program in a
Wine prefix with the test doubles (docs/wine.md).

    target = make_target("linux" or "wine", build_dir)
    observed, builtins = target.run(scenario)

`scenario` describes the machine and the job in the scenario format
(tests/scenarios/README.md: machine, machine_settings, registry, files,
post_library, power, processes, job, argument, program, runs, wine). A run
copies the base machine, applies the scenario, runs the job with its nine-field
command line and reads back what it left (`Observed`): the activity logs,
posts, fallback status files, commands run, power state and schemes.

A caller that measures the program passes `launch` (run_program's stand-in)
to `run`; `command` and `env` start other programs as the target starts the
job program (`tool(name)`: the build's test-only programs). Under Wine,
`around_run` runs beside the job, `trace_opens` records the files it opens,
and `start_prefix`, `reset` and `drive_host` reach the prefix itself.

Python standard library only.
"""

import json
import os
import pathlib
import pwd
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time

from . import wine_power, wine_prefix
from .wine_power import reg_string

REPO = pathlib.Path(__file__).resolve().parents[2]
MACHINES = REPO / "examples" / "machines"
PRELUDES = REPO / "tests" / "scenarios" / "preludes.json"
ANSI = "cp1252"  # the ANSI code page of a machine that names none
# The locale under which Wine takes each ANSI code page of a machine.
WINE_LOCALES = {
    874: "th_TH.UTF-8", 932: "ja_JP.UTF-8", 936: "zh_CN.UTF-8", 949: "ko_KR.UTF-8",
    950: "zh_TW.UTF-8", 1250: "pl_PL.UTF-8", 1251: "ru_RU.UTF-8", 1252: "C.UTF-8",
    1253: "el_GR.UTF-8", 1254: "tr_TR.UTF-8", 1255: "he_IL.UTF-8", 1256: "ar_EG.UTF-8",
    1257: "lt_LT.UTF-8", 1258: "vi_VN.UTF-8",
}
# Programs a scenario may ask for instead of the build's own, by the name of
# the file beside it (".exe" added under Wine).
PROGRAMS = {"short-post-bound": "zReTessalyXP-shortpost"}
INSTANCE_ATTRIBUTES = ("scriptid", "scriptver", "category", "fncname", "logonuser")
DATETIME_PATTERN = r"\d\d/\d\d/\d{4} \d\d:\d\d:\d\d (?:AM|PM)"
# Other locales name the half of the day in their own words, or not at all.
LOCAL_DATETIME_PATTERN = r"\d\d/\d\d/\d{4} \d\d:\d\d:\d\d(?: \S*)?"


def ansi_code_page(machine):
    """The machine's ANSI code page (machine.json `code_pages.ansi`)."""
    return int(machine.get("code_pages", {}).get("ansi", 1252))


def ansi_codec(machine):
    """The Python codec of the machine's ANSI code page."""
    return f"cp{ansi_code_page(machine)}"


def datetime_pattern(machine):
    return Pattern(DATETIME_PATTERN if ansi_code_page(machine) == 1252
                   else LOCAL_DATETIME_PATTERN)
# Exit codes of a test that drives a target: 77 when it cannot run here.
EXIT_PASS, EXIT_FAIL, EXIT_SKIP = 0, 1, 77
# How a run of the program ends: normally, or by a processor fault (the
# Linux program dies of SIGSEGV, 128 + 11 as GNU time reports it; under Wine
# the process ends with the exception's code).
ENDINGS = {"exit 0": {0}, "crash": {-11, 139, 0xC0000005 & 0xFF, 0xC0000005}}


def ending(exit_code):
    """The name of a run's ending in ENDINGS, else "exit <code>"."""
    return next((name for name, codes in ENDINGS.items() if exit_code in codes),
                f"exit {exit_code}")


class Skip(Exception):
    """The target cannot run here."""


class ScenarioError(Exception):
    """The scenario is malformed or asks what its target cannot do."""


class Lit(str):
    """A placeholder value matched literally."""


class Pattern(str):
    """A placeholder value matched as a regular expression."""


# --------------------------------------------------------------------------
# The machine folder: a scenario is first applied to a copy of its base
# machine. The Linux target runs on that folder; the Wine target translates
# the folder into the prefix.

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


def load_preludes():
    with open(PRELUDES, encoding="utf-8") as f:
        return json.load(f)



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
        self.wall = None          # seconds the last run took
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
        self.ansi = ANSI          # the codec of the machine's ANSI code page

    def read_records(self, folder):
        """The posts and commands the machine or the doubles recorded in `folder`."""
        self.posts += [json.loads(line)["texts"] for line in read_lines(folder / "posts.jsonl")]
        self.commands += [json.loads(line) for line in read_lines(folder / "commands.jsonl")]


def run_program(command, env, cwd=None, timeout=60, trace=None):
    """Runs the program under test: (exit code, error output, peak resident
    memory in KiB or None, timed out, wall seconds). A program still running
    after `timeout` seconds is killed with everything it started. With
    `trace` (a file name), strace writes every file the program and its
    children open there. The peak memory is measured by GNU time, a small
    process of its own: a child forked from this script would count the
    script's memory."""
    if trace:
        command = ["strace", "-f", "-qq", "-e", "trace=open,openat,openat2,creat", "-o", trace,
                   *command]
    with tempfile.TemporaryFile() as errors, tempfile.NamedTemporaryFile() as peak:
        if os.path.exists("/usr/bin/time"):
            command = ["/usr/bin/time", "-q", "-f", "%M", "-o", peak.name, *command]
        # The error output goes to a file: Wine's services keep a pipe open.
        start = time.perf_counter()
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
        wall = time.perf_counter() - start
        timed_out = not timer.is_alive()
        timer.cancel()
        errors.seek(0)
        memory = peak.read().decode().strip()
        return (proc.returncode, errors.read().decode("utf-8", "replace"),
                int(memory) if memory.isdigit() else None, timed_out, wall)


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
# The targets


def make_target(name, build_dir, program=None, doubles=None, prefix=None, keep=False):
    """The target `name` ("linux" or "wine") of the build in `build_dir`;
    raises Skip when it cannot run here."""
    if name == "linux":
        return LinuxTarget(build_dir, program, keep)
    return WineTarget(build_dir, program, doubles, prefix, keep)


class Target:
    """What both targets share: the build, its program, and a run in four
    steps (begin, set the machine up, run the job, read back)."""
    suffix = ""
    registry_order = False  # the order the power profile enumerates schemes in

    def __init__(self, build_dir, program, keep):
        self.build = pathlib.Path(build_dir)
        self.cache = read_cache(self.build)
        self.program = pathlib.Path(program or self.build / ("zReTessalyXP" + self.suffix))
        if not self.program.is_file():
            raise Skip(f"the {self.label} program is not built: {self.program}")
        self.keep = keep
        self.env = dict(os.environ)
        self.command = []  # what runs a program: nothing, or the Wine loader

    def tool(self, name):
        """A test-only program of the build (tests/tools)."""
        return self.build / "tests" / "tools" / (name + self.suffix)

    def program_of(self, scenario):
        """The program the scenario runs: the build's own, or the one it names,
        beside it."""
        if "program" not in scenario:
            return self.program
        chosen = self.program.with_name(PROGRAMS[scenario["program"]] + self.program.suffix)
        if not chosen.is_file():
            raise Skip(f"the program {scenario['program']} is not built: {chosen}")
        return chosen

    def run(self, scenario, default_url="", preludes=None, launch=run_program):
        """Sets up the machine `scenario` describes, runs the job on it (`runs`
        times, through `launch`, run_program's stand-in) and reads back what
        it left: (Observed, the built-in values of expected texts)."""
        preludes = preludes or load_preludes()
        argument = scenario_argument(scenario, preludes)
        self.begin(argument)
        work = pathlib.Path(tempfile.mkdtemp(prefix="zrt-scenario-"))
        try:
            folder = work / "machine"
            machine = prepare_machine(scenario, folder, preludes)
            observed = Observed()
            observed.ansi = ansi_codec(machine)
            observed.schemes_before = scheme_names(folder, self.registry_order)
            command, env, cwd = self.setup(scenario, folder, machine, argument)
            builtins = self.builtins(folder, machine, default_url)
            finish, trace = self.watch(work)
            try:
                for _ in range(scenario.get("runs", 1)):
                    (observed.exit_code, observed.stderr, observed.peak_rss_kib,
                     observed.timed_out, observed.wall) = launch(
                         command, env, cwd=cwd, timeout=self.timeout, trace=trace)
                    observed.exit_code = self.exit_code_of(observed.exit_code, observed.stderr)
                    observed.exit_codes.append(observed.exit_code)
                    if observed.timed_out:
                        break
            finally:
                finish()
            self.collect(scenario, folder, machine, observed, work)
            return observed, builtins
        finally:
            if self.keep:
                print(f"kept the machine in {work}"
                      + (f"; the prefix is {self.prefix}" if self.name == "wine" else ""))
            else:
                shutil.rmtree(work, ignore_errors=True)

    def exit_code_of(self, code, stderr):
        """The run's exit code as the machine would give it."""
        return code

    def begin(self, argument):
        pass

    def watch(self, work):
        """What runs around the job: (called after it, the strace file)."""
        return (lambda: None), None


# --------------------------------------------------------------------------
# Linux: the program on a simulated machine


class LinuxTarget(Target):
    name = "linux"
    label = "Linux"
    drive_c_of = staticmethod(lambda folder: folder / "drive_c")

    def __init__(self, build_dir, program=None, keep=False):
        super().__init__(build_dir, program, keep)
        self.timeout = 60  # seconds before a run counts as hung and is killed

    def setup(self, scenario, folder, machine, argument):
        env = dict(self.env, ZRT_SIM_MACHINE=str(folder))
        return [str(self.program_of(scenario)), argument], env, None

    def collect(self, scenario, folder, machine, observed, work):
        if machine.get("record_opens"):
            observed.opened = read_lines(folder / machine["record_opens"])
        for letter, drive in machine.get("drives", {"C": "drive_c"}).items():
            collect_files(folder / drive, letter.upper(), observed)
        observed.read_records(folder)
        observed.power = read_json(folder / "power.json", {})
        observed.power.setdefault("active_scheme", 0)
        observed.schemes = schemes_of(observed.power)

    @staticmethod
    def builtins(folder, machine, default_url):
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
            values["datetime"] = datetime_pattern(machine)
            values["timestamp"] = Pattern(r"\d{17}")
        return values


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
WINE_MACHINE_MEMBERS = {"version", "folders", "program_path", "description", "code_pages"}
STATE_FILE = ".zrt-scenario-state.json"
RUN_FOLDER = "zrt-scenario"  # C:\zrt-scenario: the records of the post library and Powercfg.exe


REG_TYPES = {"REG_NONE": 0, "REG_SZ": 1, "REG_EXPAND_SZ": 2, "REG_BINARY": 3, "REG_DWORD": 4,
             "REG_DWORD_BIG_ENDIAN": 5, "REG_LINK": 6, "REG_MULTI_SZ": 7,
             "REG_RESOURCE_LIST": 8, "REG_FULL_RESOURCE_DESCRIPTOR": 9,
             "REG_RESOURCE_REQUIREMENTS_LIST": 10, "REG_QWORD": 11}
REG_TEXT_TYPES = {1, 2, 6, 7}


def reg_typed_value(value, name, codec=ANSI):
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
        data = (data.decode(codec) if codec != ANSI else "".join(
            chr(b) if b in (0x81, 0x8D, 0x8F, 0x90, 0x9D) else bytes([b]).decode(ANSI)
            for b in data)).encode("utf-16-le")
    return f"hex({number:x}):" + ",".join(f"{b:02x}" for b in data)


def program_path(machine):
    """Where the agent starts the program on the machine."""
    return machine.get("program_path",
                       '"C:\\Program Files\\Merqel\\zReTessalyXP.exe"').strip('"')


# Wine's report of a process that an unhandled processor fault ended. The
# 64-bit loader then sometimes exits with 0 rather than the fault's code
# (the debugger Wine starts ends the process), so the report tells it.
WINE_UNHANDLED_FAULT = re.compile(r"^wine: Unhandled page fault ", re.M)


class WineTarget(Target):
    name = "wine"
    label = "Windows"
    suffix = ".exe"
    registry_order = True

    def __init__(self, build_dir, program=None, doubles=None, prefix=None, keep=False):
        if shutil.which("wineserver") is None:
            raise Skip("wine is not installed")
        super().__init__(build_dir, program, keep)
        self.doubles = pathlib.Path(doubles or self.build / "tests" / "wine" / "doubles")
        self.prefix = pathlib.Path(prefix or self.cache.get("ZRT_WINE_PREFIX")
                                   or self.build / "wineprefix").resolve()
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

    def setup(self, scenario, folder, machine, argument):
        self.chosen_program = self.program_of(scenario)
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
                    reg.append(f"{reg_string(name)}={reg_typed_value(value, name, ansi_codec(machine))}")
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
        # The current drive is C: (the drive-root log folder lands there);
        # the locale gives the machine's ANSI code page.
        code_page = ansi_code_page(machine)
        if code_page not in WINE_LOCALES:
            raise ScenarioError(f"the Wine target has no locale for code page {code_page}")
        env = dict(self.env, LC_ALL=WINE_LOCALES[code_page],
                   WINEDLLOVERRIDES="mscoree,mshtml=" + (";powrprof=n" if doubles else ""))
        return ([*self.command, program_path(machine), *argument.split(" ")], env,
                self.drive_c / "windows" / "system32")

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
        program = self.drive_host(program_path(machine))
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


    # -- the run -----------------------------------------------------------

    def exit_code_of(self, code, stderr):
        if code == 0 and WINE_UNHANDLED_FAULT.search(stderr or ""):
            return 0xC0000005
        return code

    def begin(self, argument):
        if any(c in argument for c in '"\t') or "  " in argument or argument != argument.strip():
            raise ScenarioError("under Wine the argument may not hold quotation marks, tabs, "
                                "or leading, trailing or doubled blanks")
        self.start_prefix()
        self.reset()

    def watch(self, work):
        trace = work / "opens.trace" if self.trace_opens else None
        server = self.trace_server(work / "server.trace") if trace else None
        undo = self.around_run(self.drive_c) if self.around_run else None

        def finish():
            if undo:
                undo()
            if server:
                server.send_signal(signal.SIGINT)  # strace detaches
                server.wait()
        return finish, trace

    def builtins(self, folder, machine, default_url):
        user = self.wine_user()
        return {"agent": Lit(user), "user": Lit(user),
                "data_folder": Lit(self.common_app_data() + "\\Merqel"),
                "default_url": Lit(default_url),
                "datetime": datetime_pattern(machine), "timestamp": Pattern(r"\d{17}")}

    def collect(self, scenario, folder, machine, observed, work):
        if self.trace_opens:
            observed.opened = traced_opens(work / "opens.trace") + traced_opens(
                work / "server.trace")
        collect_files(self.drive_c, "C", observed)
        observed.read_records(self.drive_c / RUN_FOLDER)
        if {"schemes", "power"} & set(scenario.get("expect", {})):
            observed.power = self.read_power()
            observed.schemes = schemes_of(observed.power)

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


def undo_text_mode(raw, codec=ANSI):
    """The text the program wrote (in the code page of `codec`), and whether
    every line feed reached the disk as CR LF."""
    bare_lf = re.search(rb"(?<!\r)\n", raw) is not None
    return raw.replace(b"\r\n", b"\n").decode(codec), not bare_lf


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




def read_cache(build_dir):
    cache = {}
    path = pathlib.Path(build_dir) / "CMakeCache.txt"
    if path.exists():
        for line in path.read_text("utf-8", "replace").splitlines():
            m = re.match(r"^([A-Za-z_][A-Za-z0-9_]*):[A-Z]+=(.*)$", line)
            if m:
                cache[m.group(1)] = m.group(2)
    return cache

