#!/usr/bin/env python3
"""Measures the job program's own cost beside its floor and prints Markdown.

    scripts/benchmark.py [options]

Runs jobs of create, modify and delete steps on machines with many power
schemes, each job on a fresh machine, and prints per job its wall time, the
time of the Powercfg.exe children, the program's own time per step and per
activity-log line, and its peak memory; beside them the floors measured in
the same run: a bare process start, and the bare file calls of one log line
(probe the folder, open to append, write, close) in a small C program.

The program's own time is the wall time less the children and less a bare
process start (under Wine also less the two fixed 1000 ms pauses, which Wine
waits). On the simulated machine the pauses are recorded, not waited, and
Powercfg.exe runs inside the program: the machine records how long each
simulated child ran (commands.jsonl, "run_us") and the benchmark takes that
apart. Under Wine the Powercfg.exe double is a real process.

Options:
  --target linux|wine  the Linux program on simulated machines (default), or
                       the Windows program under Wine with its test doubles
  --build-dir DIR      the build to measure (default build/linux or build/win32)
  --prefix DIR         the Wine prefix (default: the build's ZRT_WINE_PREFIX)
  --schemes LIST       schemes on the machine (default 5,100,1000)
  --steps LIST         steps of each job (default 1,10,100,1000)
  --actions LIST       create, modify, delete (default: those the build has)
  --repeat N           runs of each job; the best is shown (default 3)
  --memory-steps N     also a delete job of N steps for peak memory (default
                       10000; 0 leaves it out)
  --check              exit with 1 when a job does not run as generated (a
                       step not taken, the enumerations not as many as the
                       machine's schemes call for, a failed outcome)

The machines are copies of examples/machines/xp-laptop with the schemes
"Scheme 0" (active) to "Scheme N-1". Step k of a delete job deletes
"Scheme k" (absent once k >= N); of a create job creates "New scheme k" with
the settings of examples/jobs/create-field-work.xml; of a modify job changes
"Scheme 1 + (k-1) mod (N-1)" with the same settings. Only the Python
standard library is used.
"""

import argparse
import datetime
import json
import os
import platform
import re
import shutil
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ElementTree
from dataclasses import dataclass
from xml.sax.saxutils import escape

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ARGUMENT = ("OD@#@5012@#@C:\\Jobs\\job.xml@#@JOB-77@#@jsmith@#@12/07/2026 10:30:00@#@88231"
            "@#@0@#@4411")
DATA_FOLDER = os.path.join("drive_c", "Documents and Settings", "All Users", "Application Data",
                           "Merqel")
PAUSES_MS = 2000  # the two fixed pauses of every job that reaches its end
FLOOR_LINE_BYTES = 100  # about a record line of these jobs
FLOOR_LINES = 20000
ACTIONS = ("create", "modify", "delete")


# ---------------------------------------------------------------------------
# Jobs and machines


def create_settings():
    """The option elements of the sample creation job, but the name."""
    step = ElementTree.parse(os.path.join(REPO, "examples", "jobs", "create-field-work.xml")).find(
        ".//step")
    return [(child.tag, child.text or "") for child in step if child.tag != "schemename"]


def step_scheme(action, k, schemes):
    if action == "delete":
        return f"Scheme {k}"
    if action == "create":
        return f"New scheme {k}"
    return f"Scheme {1 + (k - 1) % (schemes - 1)}"


def job_document(action, steps, schemes):
    settings = [] if action == "delete" else create_settings()
    verb = {"create": "Create Scheme", "modify": "Modify Scheme", "delete": "Delete Scheme"}[action]
    parts = ['<?xml version="1.0" encoding="UTF-8"?>\n<job>\n  <scriptinstance scriptid="5012" '
             'scriptver="1.0" category="Power" fncname="Power Management" logonuser="jsmith">\n']
    for k in range(1, steps + 1):
        parts.append(f'    <step value="{k}"><action>{verb}</action>'
                     f"<schemename>{escape(step_scheme(action, k, schemes))}</schemename>")
        parts += [f"<{tag}>{escape(text)}</{tag}>" for tag, text in settings]
        parts.append("</step>\n")
    parts.append("  </scriptinstance>\n</job>\n")
    return "".join(parts)


def expected_enumerations(action, steps, schemes):
    """The scheme names the job's lookups enumerate (one log line each), or
    None when the count is not worked out here."""
    if action == "delete":
        return sum(schemes - min(k - 1, schemes - 1) for k in range(1, steps + 1))
    if action == "create":
        return sum(schemes + k - 1 for k in range(1, steps + 1))
    return None


def power_state(schemes):
    """The sample laptop's power state with `schemes` schemes."""
    with open(os.path.join(REPO, "examples", "machines", "xp-laptop", "power.json"),
              encoding="utf-8") as file:
        power = json.load(file)
    policy = power["schemes"][1]["policy"]
    power["active_scheme"] = 0
    power["schemes"] = [{"index": i, "name": f"Scheme {i}", "description": f"Benchmark scheme {i}",
                         "policy": policy} for i in range(schemes)]
    return power


def new_machine(scratch, power, job):
    """A copy of the sample laptop with this power state and job document."""
    machine = tempfile.mkdtemp(prefix="machine-", dir=scratch)
    os.rmdir(machine)
    shutil.copytree(os.path.join(REPO, "examples", "machines", "xp-laptop"), machine)
    with open(os.path.join(machine, "power.json"), "w", encoding="utf-8") as file:
        json.dump(power, file, indent=2)
    os.makedirs(os.path.join(machine, "drive_c", "Jobs"))
    with open(os.path.join(machine, "drive_c", "Jobs", "job.xml"), "w", encoding="utf-8") as file:
        file.write(job)
    return machine


# ---------------------------------------------------------------------------
# What a run left behind


@dataclass
class Counts:
    lines: int = 0         # record lines of the activity log
    steps: int = 0         # steps taken (the run's "Action" lines)
    enumerations: int = 0  # scheme names enumerated ("SCHEMESENUMPROC" lines)


def count_log(raw):
    """Counts the record lines of an activity log's bytes."""
    counts = Counts()
    for row in raw.decode("latin-1").split("\r\n"):
        if not row or row.startswith("#"):
            continue
        fields = row.split("\t")
        counts.lines += 1
        module, kind, val1 = (fields + ["", "", "", "", ""])[2:5]
        counts.steps += module == "WinMain" and kind == "INFO" and val1 == "Action"
        counts.enumerations += module == "SCHEMESENUMPROC"
    return counts


def read_logs(folder):
    counts = Counts()
    log_folder = os.path.join(folder, "ApplicationLog", "zQTVLog")
    for name in sorted(os.listdir(log_folder)) if os.path.isdir(log_folder) else []:
        with open(os.path.join(log_folder, name), "rb") as file:
            one = count_log(file.read())
        counts.lines += one.lines
        counts.steps += one.steps
        counts.enumerations += one.enumerations
    return counts


def outcome(posts_file):
    """"Success" or "Fail" of the job's status report; None without one."""
    if not os.path.exists(posts_file):
        return None
    with open(posts_file, encoding="utf-8") as file:
        lines = [line for line in file if line.strip()]
    if not lines:
        return None
    found = re.search(r"<status>(\w+)</status>", json.loads(lines[-1])["texts"][1] or "")
    return found.group(1) if found else None


def children_seconds(commands_file):
    """How long the simulated Powercfg.exe ran, over every command."""
    if not os.path.exists(commands_file):
        return 0.0, 0
    with open(commands_file, encoding="utf-8") as file:
        records = [json.loads(line) for line in file if line.strip()]
    return sum(r.get("run_us", 0) for r in records) / 1e6, len(records)


# ---------------------------------------------------------------------------
# Running programs


@dataclass
class Run:
    wall: float          # seconds, from the start of the process to its end
    peak_kib: int        # the process's peak resident memory
    children: float = 0  # seconds the Powercfg.exe children took
    commands: int = 0
    counts: Counts = None
    outcome: str = None


@dataclass
class Ended:
    wall: float    # seconds from the start to the end of the process
    peak_kib: int  # its peak resident memory
    code: int      # exit code
    output: str
    errors: str


def spawn(argv, env, cwd=None):
    """Starts a program and waits for it."""
    output, errors = tempfile.TemporaryFile(), tempfile.TemporaryFile()
    actions = [(os.POSIX_SPAWN_OPEN, 0, os.devnull, os.O_RDONLY, 0),
               (os.POSIX_SPAWN_DUP2, output.fileno(), 1),
               (os.POSIX_SPAWN_DUP2, errors.fileno(), 2)]
    here = os.getcwd()
    if cwd:
        os.chdir(cwd)
    try:
        start = time.perf_counter()
        pid = os.posix_spawnp(argv[0], argv, env, file_actions=actions)
        _, status, usage = os.wait4(pid, 0)
        wall = time.perf_counter() - start
    finally:
        os.chdir(here)
    texts = []
    for file in (output, errors):
        file.seek(0)
        texts.append(file.read().decode(errors="replace").strip())
        file.close()
    return Ended(wall, usage.ru_maxrss, os.waitstatus_to_exitcode(status), *texts)


def best(runs, key):
    return min(runs, key=key)


class LinuxTarget:
    name = "linux"
    suffix = ""
    pauses = 0.0  # the simulated machine records the pauses without waiting
    tools_used = ("zrt_run_measured", "zrt_bare_start", "zrt_floor_log_lines")

    def __init__(self, args):
        self.build = os.path.abspath(args.build_dir or os.path.join(REPO, "build", "linux"))
        self.program = os.path.join(self.build, "zReTessalyXP")
        self.tools = os.path.join(self.build, "tests", "tools")
        self.env = dict(os.environ)
        self.scratch = tempfile.mkdtemp(prefix="zrt-benchmark-")

    def close(self):
        shutil.rmtree(self.scratch, ignore_errors=True)

    def actions(self):
        return list(ACTIONS)

    def tool(self, name):
        return os.path.join(self.tools, name + self.suffix)

    def start(self, program, arguments, cwd=None, env=None):
        """Runs a program through the measuring starter."""
        result = os.path.join(self.scratch, "measured")
        ended = spawn([self.tool("zrt_run_measured"), result, program] + arguments,
                      env or self.env, cwd)
        with open(result, encoding="utf-8") as file:
            wall_ns, ended.peak_kib, ended.code = (int(x) for x in file.read().split())
        ended.wall = wall_ns / 1e9
        return ended

    def floor_folder(self):
        folder = tempfile.mkdtemp(prefix="floor-", dir=self.scratch)
        return folder, folder

    def job(self, power, job):
        machine = new_machine(self.scratch, power, job)
        env = dict(self.env, ZRT_SIM_MACHINE=machine)
        ended = self.start(self.program, [ARGUMENT], env=env)
        if ended.code != 0:
            sys.exit(f"benchmark: the program ended with {ended.code}: {ended.errors}")
        run = Run(ended.wall, ended.peak_kib)
        run.children, run.commands = children_seconds(os.path.join(machine, "commands.jsonl"))
        run.counts = read_logs(os.path.join(machine, DATA_FOLDER))
        run.outcome = outcome(os.path.join(machine, "posts.jsonl"))
        shutil.rmtree(machine, ignore_errors=True)
        return run


# ---------------------------------------------------------------------------
# The measurements


@dataclass
class Floors:
    start: float     # seconds of a bare process start
    per_line: float  # seconds of the bare file calls of one log line


def measure_floors(target, repeat):
    starts = [target.start(target.tool("zrt_bare_start"), []).wall for _ in range(10 * repeat)]
    per_line = []
    for _ in range(repeat):
        host, windows = target.floor_folder()
        ended = target.start(target.tool("zrt_floor_log_lines"),
                             [windows, str(FLOOR_LINES), str(FLOOR_LINE_BYTES)])
        if ended.code != 0:
            sys.exit(f"benchmark: the floor program failed: {ended.errors}")
        with open(os.path.join(host, "floor.Log"), "rb") as file:
            if file.read().count(b"\r\n") != FLOOR_LINES:
                sys.exit("benchmark: the floor program did not write every line")
        shutil.rmtree(host, ignore_errors=True)
        per_line.append(int(ended.output) / 1e9 / FLOOR_LINES)
    return Floors(min(starts), min(per_line))


@dataclass
class Job:
    action: str
    schemes: int
    steps: int
    run: Run = None
    problems: tuple = ()

    def own(self, target, floors):
        """The program's own time: wall less pauses, children and a start."""
        return self.run.wall - target.pauses - self.run.children - floors.start


def run_job(target, job, repeat):
    power = power_state(job.schemes)
    document = job_document(job.action, job.steps, job.schemes)
    runs = [target.job(power, document) for _ in range(repeat)]
    job.run = best(runs, key=lambda r: r.wall - r.children)
    job.run.peak_kib = max(r.peak_kib for r in runs)
    problems = []
    counts = job.run.counts
    if counts.steps != job.steps:
        problems.append(f"{counts.steps} of {job.steps} steps taken")
    enumerations = expected_enumerations(job.action, job.steps, job.schemes)
    if enumerations is not None and counts.enumerations != enumerations:
        problems.append(f"{counts.enumerations} scheme names enumerated, {enumerations} expected")
    if job.run.outcome != "Success":
        problems.append(f"outcome {job.run.outcome}")
    job.problems = tuple(problems)
    return job


def fmt(value, digits=1):
    return f"{value:,.{digits}f}"


def table(target, jobs, floors):
    lines = ["| job | schemes | steps | log lines | wall ms | children ms | own ms | own µs/step "
             "| own µs/line | × floor | peak MiB |", "|" + "---|" * 11]
    for job in jobs:
        run = job.run
        own = job.own(target, floors)
        per_line = own / max(run.counts.lines, 1)
        lines.append(
            f"| {job.action} | {job.schemes:,} | {job.steps:,} | {run.counts.lines:,} "
            f"| {fmt(run.wall * 1e3)} | {fmt(run.children * 1e3)} | {fmt(own * 1e3)} "
            f"| {fmt(own / job.steps * 1e6, 0)} | {fmt(per_line * 1e6, 2)} "
            f"| {fmt(per_line / floors.per_line, 2)} | {fmt(run.peak_kib / 1024, 1)} |")
    return "\n".join(lines) + "\n"


def machine_description():
    cpu = platform.processor() or platform.machine()
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as file:
            found = re.search(r"^model name\s*:\s*(.*)$", file.read(), re.M)
            cpu = found.group(1) if found else cpu
    except OSError:
        pass
    load = ", ".join(f"{x:.2f}" for x in os.getloadavg())
    return f"{cpu}, {os.cpu_count()} CPUs, Linux {platform.release()}, load average {load}"


def parse_list(text):
    return [int(x) for x in text.split(",") if x]


def main():
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--target", choices=["linux", "wine"], default="linux")
    parser.add_argument("--build-dir")
    parser.add_argument("--prefix")
    parser.add_argument("--schemes", type=parse_list, default=[5, 100, 1000])
    parser.add_argument("--steps", type=parse_list, default=[1, 10, 100, 1000])
    parser.add_argument("--actions", type=lambda t: t.split(","))
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--memory-steps", type=int, default=10000)
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args()

    target = LinuxTarget(args)
    for path in [target.program] + [target.tool(name) for name in target.tools_used]:
        if not os.path.exists(path):
            sys.exit(f"benchmark: {path} is missing; build the {target.name} preset first")
    commit = subprocess.run(["git", "-C", REPO, "rev-parse", "--short", "HEAD"],
                            capture_output=True, text=True).stdout.strip() or "unknown"
    print(f"# Benchmark ({target.name})\n")
    print(f"Measured {datetime.datetime.now().isoformat(' ', 'minutes')} on commit {commit}, "
          f"{machine_description()}; best of {args.repeat} runs.\n")
    try:
        floors = measure_floors(target, args.repeat)
        print(f"Floors: a bare process start {fmt(floors.start * 1e3, 2)} ms; the bare file calls "
              f"of one log line {fmt(floors.per_line * 1e6, 2)} µs.\n")
        actions = args.actions or target.actions()
        jobs = [Job(action, schemes, steps) for action in actions for schemes in args.schemes
                for steps in args.steps]
        if args.memory_steps:
            jobs.append(Job("delete", 5, args.memory_steps))
        done = []
        for job in jobs:
            done.append(run_job(target, job, args.repeat))
            print(f"  {job.action} {job.schemes} x {job.steps}: {fmt(job.run.wall, 3)} s",
                  file=sys.stderr)
        print(table(target, done, floors))
        problems = [f"- {j.action} {j.schemes} x {j.steps}: {p}" for j in done for p in j.problems]
        print("\n".join(problems))
    finally:
        target.close()
    return 1 if args.check and problems else 0


if __name__ == "__main__":
    sys.exit(main())
