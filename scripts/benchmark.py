#!/usr/bin/env python3
"""Measures the job program's own cost beside its floor and prints Markdown.

    scripts/benchmark.py [options]

Runs jobs of create, modify and delete steps on machines with many power
schemes, each run on a fresh machine, and prints per job its wall time, the
time of the Powercfg.exe children, the program's own time per step and per
activity-log line, and its peak memory; beside them the floors measured in
the same run: a bare process start, and the bare file calls of one log line
(probe the folder, open to append, write, close) in a small C program, in a
folder as deep as the log's.

The program's own time is the wall time less the children and less a bare
process start. On the simulated machine the two fixed 1000 ms pauses are
recorded, not waited (its Sleep does not wait), and Powercfg.exe runs inside
the program: the machine records how long each simulated command ran
(commands.jsonl, "time_us"), and that is the children's time. Under Wine the
pauses are waited and taken off too, and the Powercfg.exe double is a real
process: it records how long it ran from its creation ("time_us" in its
record), and what a started child costs its parent beyond that is measured
in the same run (the median over a minimal Windows program starting the
double as the program does) and added per command.

Options:
  --target linux|wine  the Linux program on simulated machines (default), or
                       the Windows program under Wine with its test doubles
  --build-dir DIR      the build to measure (default build/linux, or under Wine
                       the Windows lane this host runs, build/win32 or
                       build/win64: scripts/windows_lane.py)
  --prefix DIR         the Wine prefix (default: the build's ZRT_WINE_PREFIX)
  --schemes LIST       schemes on the machine (default 5,100,1000)
  --steps LIST         steps of each job (default 1,10,100,1000; under Wine
                       1,10: a create step there starts 22 children of about
                       0.1 s each)
  --actions LIST       create, modify, delete (default all three)
  --repeat N           runs of each job; the best (the least own time) is
                       shown, with the largest peak memory (default 3)
  --memory-steps N     also a delete job of N steps on 5 schemes for peak
                       memory (default 10000; 0 leaves it out; Linux only)
  --check              exit with 1 when a job does not run as generated (a
                       step not taken, the enumerations not as many as the
                       machine's schemes call for, no command recorded for a
                       step that runs commands, an outcome other than Success)

The machines are copies of examples/machines/xp-laptop with the schemes
"Scheme 0" (active) to "Scheme N-1". Step k of a delete job deletes
"Scheme k" (absent once k >= N); of a create job creates "New scheme k" with
the settings of examples/jobs/create-field-work.xml; of a modify job changes
"Scheme 1 + (k-1) mod (N-1)" with those of examples/jobs/modify-night-shift.xml.
Only the Python standard library is used.
"""

import argparse
import datetime
import json
import os
import pathlib
import platform
import re
import shutil
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ElementTree
from dataclasses import dataclass, field
from xml.sax.saxutils import escape

import windows_lane  # beside this script

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "tests"))
from harness import target as harness  # noqa: E402

ARGUMENT = ("OD@#@5012@#@C:\\Jobs\\job.xml@#@JOB-77@#@jsmith@#@12/07/2026 10:30:00@#@88231"
            "@#@0@#@4411")
LOG_FOLDER = "\\Merqel\\ApplicationLog\\zQTVLog"  # below the common application data
ACTIONS = ("create", "modify", "delete")
VERBS = {"create": "Create Scheme", "modify": "Modify Scheme", "delete": "Delete Scheme"}
SAMPLES = {"create": "create-field-work.xml", "modify": "modify-night-shift.xml"}
FLOOR_LINE_BYTES = 100  # about a record line of these jobs
FLOOR_LINES = 20000


# ---------------------------------------------------------------------------
# Jobs and machines


def step_settings(action):
    """The option elements of the action's sample job, but the action and
    the name."""
    if action not in SAMPLES:
        return []
    step = ElementTree.parse(os.path.join(REPO, "examples", "jobs", SAMPLES[action])).find(
        ".//step")
    return [(child.tag, child.text or "") for child in step
            if child.tag not in ("action", "schemename")]


def step_scheme(action, k, schemes):
    if action == "delete":
        return f"Scheme {k}"
    if action == "create":
        return f"New scheme {k}"
    return f"Scheme {1 + (k - 1) % (schemes - 1)}"


def job_document(action, steps, schemes):
    settings = "".join(f"<{tag}>{escape(text)}</{tag}>" for tag, text in step_settings(action))
    parts = ['<?xml version="1.0" encoding="UTF-8"?>\n<job>\n  <scriptinstance scriptid="5012" '
             'scriptver="1.0" category="Power" fncname="Power Management" logonuser="jsmith">\n']
    for k in range(1, steps + 1):
        parts.append(f'    <step value="{k}"><action>{VERBS[action]}</action><schemename>'
                     f"{escape(step_scheme(action, k, schemes))}</schemename>{settings}</step>\n")
    parts.append("  </scriptinstance>\n</job>\n")
    return "".join(parts)


def expected_enumerations(action, steps, schemes):
    """How many scheme names the job's lookups enumerate (one log line each):
    every step looks its scheme up once among those the machine has then."""
    if action == "delete":
        return sum(schemes - min(k - 1, schemes - 1) for k in range(1, steps + 1))
    if action == "create":
        return sum(schemes + k - 1 for k in range(1, steps + 1))
    return steps * schemes


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


def job_spec(power, document):
    """The benchmark's machine and job in the harness's terms."""
    return {"machine": "xp-laptop", "power": power, "argument": ARGUMENT,
            "files": {"C:\\Jobs\\job.xml": {"text": document}}}


# ---------------------------------------------------------------------------
# What a run left behind


@dataclass
class Counts:
    lines: int = 0         # record lines of the activity log
    steps: int = 0         # steps taken (the run's "Action" lines)
    enumerations: int = 0  # scheme names enumerated ("SCHEMESENUMPROC" lines)


def count_log(raw, counts):
    """Adds the record lines of an activity log's bytes to `counts`."""
    for row in raw.decode("latin-1").split("\r\n"):
        if not row or row.startswith("#"):
            continue
        module, kind, val1 = (row.split("\t") + [""] * 5)[2:5]
        counts.lines += 1
        counts.steps += module == "WinMain" and kind == "INFO" and val1 == "Action"
        counts.enumerations += module == "SCHEMESENUMPROC"
    return counts


def outcome(observed):
    """"Success" or "Fail" of the job's status report; None without one."""
    found = observed.posts and re.search(r"<status>(\w+)</status>",
                                         observed.posts[-1][1] or "")
    return found.group(1) if found else None


# ---------------------------------------------------------------------------
# Running programs


@dataclass
class Ended:
    wall: float    # seconds from the start to the end of the process
    peak_kib: int  # its peak resident memory (0: not known)
    code: int      # exit code
    output: str
    errors: str


def spawn(argv, env, cwd=None):
    """Starts a program and waits for it. Its peak memory is not known here:
    a process started from Python counts Python's own memory as its peak."""
    output, errors = tempfile.TemporaryFile(), tempfile.TemporaryFile()
    actions = [(os.POSIX_SPAWN_OPEN, 0, os.devnull, os.O_RDONLY, 0),
               (os.POSIX_SPAWN_DUP2, output.fileno(), 1),
               (os.POSIX_SPAWN_DUP2, errors.fileno(), 2)]
    here = os.getcwd()
    if cwd:
        os.chdir(cwd)
    try:
        start = time.perf_counter()
        pid = os.posix_spawnp(argv[0], [str(a) for a in argv], env, file_actions=actions)
        _, status, _ = os.wait4(pid, 0)
        wall = time.perf_counter() - start
    finally:
        os.chdir(here)
    texts = []
    for file in (output, errors):
        file.seek(0)
        texts.append(file.read().decode(errors="replace").strip())
        file.close()
    return Ended(wall, 0, os.waitstatus_to_exitcode(status), *texts)


@dataclass
class Run:
    wall: float
    peak_kib: int
    children: float  # seconds the Powercfg.exe children took
    commands: int
    counts: Counts
    outcome: str


class Bench:
    """A target of the harness (tests/harness/target.py) and how programs
    are measured on it. On the simulated machine each program runs through
    the measuring starter (wall time and peak memory); under Wine it is
    timed from here, and the two pauses are waited."""

    def __init__(self, args):
        self.name = args.target
        self.linux = self.name == "linux"
        build = os.path.abspath(args.build_dir or os.path.join(
            REPO, "build", "linux" if self.linux else windows_lane.host_lane()[0]))
        try:
            self.target = harness.make_target(self.name, build, prefix=args.prefix)
        except harness.Skip as e:
            sys.exit(f"benchmark: {e}")
        self.program = self.target.program
        self.scratch = tempfile.mkdtemp(prefix="zrt-benchmark-")
        self.overhead = 0.0 if self.linux else None
        if self.linux:
            self.pauses = 0.0  # the simulated machine records the pauses without waiting
            self.tools_used = ("zrt_run_measured", "zrt_bare_start", "zrt_floor_log_lines")
            self.default_steps = [1, 10, 100, 1000]
            self.common_app_data = "C:\\Documents and Settings\\All Users\\Application Data"
            self.env = self.target.env
        else:
            self.pauses = 2.0  # Wine waits the two pauses
            self.tools_used = ("zrt_bare_start", "zrt_floor_log_lines", "zrt_start_children")
            self.default_steps = [1, 10]
            self.target.start_prefix()
            self.target.reset()
            self.common_app_data = self.target.common_app_data()
            self.env = dict(self.target.env, WINEDLLOVERRIDES="mscoree,mshtml=;powrprof=n")

    def close(self):
        if not self.linux:
            self.target.reset()
        shutil.rmtree(self.scratch, ignore_errors=True)

    def measured(self, argv, env=None, cwd=None):
        """Runs a command line and measures it."""
        if not self.linux:
            return spawn(argv, env or self.env, cwd)
        result = os.path.join(self.scratch, "measured")
        ended = spawn([self.target.tool("zrt_run_measured"), result] + argv, env or self.env, cwd)
        with open(result, encoding="utf-8") as file:
            wall_ns, ended.peak_kib, ended.code, _ = (int(x) for x in file.read().split())
        ended.wall = wall_ns / 1e9
        return ended

    def start(self, program, arguments):
        return self.measured(self.target.command + [program] + arguments)

    def floor_folder(self):
        """A folder as deep as the log's: its host path and Windows path."""
        windows = self.common_app_data + LOG_FOLDER
        if self.linux:
            root = pathlib.Path(tempfile.mkdtemp(prefix="floor-", dir=self.scratch))
            host = str(harness.walk_ignoring_case(root, windows[2:]))
            windows = host
        else:
            host = str(self.target.drive_host(windows))
        os.makedirs(host, exist_ok=True)
        return host, windows

    def job(self, power, document):
        def launch(command, env, cwd=None, **_):
            ended = self.measured(command, env, cwd)
            return ended.code, ended.errors, ended.peak_kib, False, ended.wall
        observed, _ = self.target.run(job_spec(power, document), launch=launch)
        if observed.exit_code != 0:
            sys.exit(f"benchmark: the program ended with {observed.exit_code}: "
                     f"{observed.stderr}")
        counts = Counts()
        log_folder = (self.common_app_data + LOG_FOLDER).lower()
        for folder, _, raw in sorted(observed.log_files):
            if folder.lower() == log_folder:
                count_log(raw, counts)
        commands = observed.commands
        return Run(observed.wall, observed.peak_rss_kib or 0,
                   sum(c["time_us"] for c in commands) / 1e6
                   + len(commands) * self.child_overhead(), len(commands), counts,
                   outcome(observed))

    def child_overhead(self):
        """What a started command costs its parent beyond the time it
        records: a minimal Windows program beside the job program starts the
        Powercfg.exe double (doing nothing: "-LIST") as the job program
        starts a command, and the median of the parent's times less the
        double's own is taken. Nothing on the simulated machine, where the
        simulated child runs inside the program."""
        if self.overhead is None:
            started = []

            def launch(command, env, cwd=None, **_):
                starter = command[1].rsplit("\\", 1)[0] + "\\zrt_start_children.exe"
                shutil.copyfile(self.target.tool("zrt_start_children"),
                                self.target.drive_host(starter))
                started.append(spawn(self.target.command + [starter, "Powercfg.exe -LIST", "21"],
                                     env, cwd))
                return started[0].code, started[0].errors, None, False, started[0].wall
            observed, _ = self.target.run(job_spec(power_state(2), ""), launch=launch)
            if started[0].code != 0:
                sys.exit(f"benchmark: the children could not be started: {started[0].errors}")
            parent = [int(x) / 1e6 for x in started[0].output.split()]
            own = [c["time_us"] / 1e6 for c in observed.commands]
            beyond = sorted(p - o for p, o in zip(parent, own))
            self.overhead = max(beyond[len(beyond) // 2], 0.0)
            self.target.reset()
        return self.overhead


# ---------------------------------------------------------------------------
# The measurements


@dataclass
class Floors:
    start: float     # seconds of a bare process start
    per_line: float  # seconds of the bare file calls of one log line


def measure_floors(target, repeat):
    starts = [target.start(target.target.tool("zrt_bare_start"), []).wall
              for _ in range(5 * repeat)]
    per_line = []
    for _ in range(repeat):
        host, windows = target.floor_folder()
        ended = target.start(target.target.tool("zrt_floor_log_lines"),
                             [windows, str(FLOOR_LINES), str(FLOOR_LINE_BYTES)])
        written = os.path.join(host, "floor.Log")
        lines = 0
        if os.path.exists(written):
            with open(written, "rb") as file:
                lines = file.read().count(b"\r\n")
            os.remove(written)
        if ended.code != 0 or lines != FLOOR_LINES:
            sys.exit(f"benchmark: the floor program wrote {lines} lines: {ended.errors}")
        per_line.append(int(ended.output) / 1e9 / FLOOR_LINES)
    return Floors(min(starts), min(per_line))


@dataclass
class Job:
    action: str
    schemes: int
    steps: int
    run: Run = None
    problems: list = field(default_factory=list)

    def own(self, target, floors):
        """The program's own time: the wall time less the pauses waited, the
        children and a bare process start."""
        return self.run.wall - target.pauses - self.run.children - floors.start


def run_job(target, job, floors, repeat):
    power = power_state(job.schemes)
    document = job_document(job.action, job.steps, job.schemes)
    runs = [target.job(power, document) for _ in range(repeat)]
    job.run = min(runs, key=lambda r: r.wall - r.children)
    job.run.peak_kib = max(r.peak_kib for r in runs)
    counts = job.run.counts
    if counts.steps != job.steps:
        job.problems.append(f"{counts.steps} of {job.steps} steps taken")
    enumerations = expected_enumerations(job.action, job.steps, job.schemes)
    if counts.enumerations != enumerations:
        job.problems.append(f"{counts.enumerations} scheme names enumerated, "
                            f"{enumerations} expected")
    if job.action != "delete" and job.run.commands < job.steps:
        job.problems.append(f"{job.run.commands} commands recorded for {job.steps} steps")
    if job.run.outcome != "Success":
        job.problems.append(f"outcome {job.run.outcome}")
    return job


def fmt(value, digits=1):
    return f"{value:,.{digits}f}"


def table(target, jobs, floors):
    lines = ["| job | schemes | steps | log lines | commands | wall ms | children ms | own ms "
             "| own µs/step | own µs/line | × floor | peak MiB |", "|" + "---|" * 12]
    for job in jobs:
        run = job.run
        own = job.own(target, floors)
        per_line = own / max(run.counts.lines, 1)
        peak = fmt(run.peak_kib / 1024) if run.peak_kib else "–"
        lines.append(
            f"| {job.action} | {job.schemes:,} | {job.steps:,} | {run.counts.lines:,} "
            f"| {run.commands:,} | {fmt(run.wall * 1e3)} | {fmt(run.children * 1e3)} "
            f"| {fmt(own * 1e3)} | {fmt(own / job.steps * 1e6, 0)} | {fmt(per_line * 1e6, 2)} "
            f"| {fmt(per_line / floors.per_line, 2)} | {peak} |")
    return "\n".join(lines) + "\n"


def machine_description():
    cpu = platform.machine()
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as file:
            found = re.search(r"^model name\s*:\s*(.*)$", file.read(), re.M)
            cpu = found.group(1) if found else cpu
    except OSError:
        pass
    load = ", ".join(f"{x:.1f}" for x in os.getloadavg())
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
    parser.add_argument("--steps", type=parse_list)
    parser.add_argument("--actions", type=lambda t: t.split(","), default=list(ACTIONS))
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--memory-steps", type=int, default=10000)
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args()
    if set(args.actions) - set(ACTIONS) or min(args.schemes) < 2 or args.repeat < 1:
        parser.error("actions are create, modify, delete; machines need 2 schemes or more")

    target = Bench(args)
    try:
        for path in [target.program] + [target.target.tool(name) for name in target.tools_used]:
            if not os.path.exists(path):
                sys.exit(f"benchmark: {path} is missing; build the {target.name} preset first")
        commit = subprocess.run(["git", "-C", REPO, "rev-parse", "--short", "HEAD"],
                                capture_output=True, text=True).stdout.strip() or "unknown"
        lane = "" if target.linux else f", {windows_lane.DESCRIPTIONS[target.target.arch]}"
        print(f"# Benchmark ({target.name}{lane})\n")
        print(f"Measured {datetime.datetime.now().isoformat(' ', 'minutes')} on commit {commit}; "
              f"{machine_description()}; best of {args.repeat} runs.\n")
        floors = measure_floors(target, args.repeat)
        overhead = target.child_overhead()
        print(f"Floors: a bare process start {fmt(floors.start * 1e3, 2)} ms; the bare file calls "
              f"of one log line {fmt(floors.per_line * 1e6, 2)} µs"
              + (f"; a started command beyond its own time {fmt(overhead * 1e3, 2)} ms"
                 if overhead else "") + ".\n")
        jobs = [Job(action, schemes, steps) for action in args.actions
                for schemes in args.schemes for steps in args.steps or target.default_steps]
        if args.memory_steps and target.name == "linux":
            jobs.append(Job("delete", 5, args.memory_steps))
        for job in jobs:
            run_job(target, job, floors, args.repeat)
            print(f"  {job.action} {job.schemes} x {job.steps}: {fmt(job.run.wall, 3)} s",
                  file=sys.stderr)
        print(table(target, jobs, floors))
        problems = [f"- {j.action} {j.schemes} x {j.steps}: {p}" for j in jobs for p in j.problems]
        print("\n".join(problems))
    finally:
        target.close()
    return 1 if args.check and problems else 0


if __name__ == "__main__":
    sys.exit(main())
