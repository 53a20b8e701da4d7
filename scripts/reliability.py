#!/usr/bin/env python3
"""Measures the job program's reliability and prints the figures as Markdown.

    scripts/reliability.py [options] SECTION...

Sections (`all` runs every one that applies to the target):
  concurrency  several jobs at once on one machine: processes appending to
               one day's activity log (torn, lost, duplicated and reordered
               lines, header blocks), jobs started in the same millisecond
               without a post library (fallback status files kept, replaced
               and lost), and jobs deleting or creating one scheme each
               (changes lost, indices taken twice; also under Wine)
  documents    hostile job documents: the outcome against the defined one,
               peak memory, files opened beyond those a run needs, and
               connections to a listener the documents point at
  faults       registry values, read-only and full folders, a post library
               and Powercfg.exe that crash, hang or answer garbage, token
               refusals, Sleep and the clock: each outcome against the
               documented one (the status reported, nothing run twice)
  crashes      on Linux the crash-point sweep (tests/crash/crash_sweep.py):
               the program killed at every change it makes to the machine,
               for a few jobs and post answers, each kill followed by a
               clean job; under Wine random kills of the Windows program,
               also while it holds the lock on the power schemes, each
               followed by a clean job: every status delivered once (twice
               only in the named window), every log file with its one
               header, the power state whole
  fuzz         each libFuzzer target of the fuzz build for a time or a
               number of executions: executions, crashes, time-outs

Options:
  --target linux|wine|both
                       the Linux program on a simulated machine (default), the
                       Windows program under Wine (where Wine can express the
                       case), or both in turn; the fuzz section measures the
                       fuzz build, once
  --build-dir DIR      the build to measure (default build/linux, or under Wine
                       the Windows lane this host runs: build/win32 where it
                       executes 32-bit programs, build/win64 where it does
                       not; scripts/windows_lane.py)
  --fuzz-build-dir DIR the fuzz build (default build/fuzz)
  --prefix DIR         the Wine prefix (default: the build's ZRT_WINE_PREFIX)
  --processes N        log writers at once (default 8)
  --lines N            lines each writer logs (default 1000)
  --jobs N             jobs started at once (default 8)
  --kills N            random kills under Wine (default 12)
  --seconds N          how long each fuzzer runs (default 10)
  --fuzz-runs N        how many inputs each fuzzer runs, instead of a time
  --quick              leave out the cases that wait out a five-minute bound
  --check              exit with 1 when a figure breaks its bound
  --write FILE         also write the figures into FILE (docs/reliability.md),
                       replacing the blocks of the sections measured now and
                       keeping the others

Each section is a function below that returns its tables; add a section by
writing one and naming it in SECTIONS. The cases the documents and faults
sections run, with their documented outcomes, and the notes of the tables
are data: scripts/reliability_cases.json (its "$repeat", "$steps" and
"$job" members stand for long texts; see `expand`). The programs are driven
through tests/harness/target.py. Only the Python standard library is
used, and GNU time (peak memory) and strace (files opened under Wine) where
they are installed.
"""

import argparse
import datetime
import json
import os
import pathlib
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
from dataclasses import dataclass, field

import windows_lane  # beside this script

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "tests"))
from harness import target as harness  # noqa: E402

# The cases each section runs, their documented outcomes and the notes of
# its tables.
with open(os.path.join(REPO, "scripts", "reliability_cases.json"), encoding="utf-8") as file:
    DATA = json.load(file)
NOTES = DATA["notes"]
FILLER = "x" * 120  # what the log writer puts in val3 (tests/tools/log_lines.cpp)
HEADER_STARTS = ("#Software:", "#Version:", "#Regid :", "#Operating System :", "#Date:",
                 "#Fields:")
RECORD = re.compile(r"\d\d/\d\d/\d{4} \d\d:\d\d:\d\d [AP]M\t[^\t]*\tConcurrency\tINFO\t"
                    r"P(\d+)\t(\d+)\t" + FILLER)


@dataclass
class Table:
    title: str
    columns: list
    rows: list = field(default_factory=list)
    notes: list = field(default_factory=list)
    failures: list = field(default_factory=list)  # figures that break their bound

    def markdown(self):
        lines = [f"### {self.title}", "", "| " + " | ".join(self.columns) + " |",
                 "|" + "---|" * len(self.columns)]
        lines += ["| " + " | ".join(str(cell) for cell in row) + " |" for row in self.rows]
        lines += [""] + [f"- {note}" for note in self.notes + self.failures]
        return "\n".join(lines).rstrip() + "\n"


def make_target(args):
    """The harness's target (tests/harness/target.py) of the build measured."""
    lane = "linux" if args.target == "linux" else windows_lane.host_lane()[0]
    build = os.path.abspath(args.build_dir or os.path.join(REPO, "build", lane))
    try:
        target = harness.make_target(args.target, build, prefix=args.prefix)
        if not target.tool("zrt_log_lines").exists():
            raise harness.Skip(f"{target.tool('zrt_log_lines')} is missing")
        if target.name == "wine":
            target.start_prefix()
    except harness.Skip as e:
        sys.exit(f"reliability: {e}; build the {args.target} preset first")
    return target


def start(target, program, arguments, machine=None):
    """Starts a program; its error output goes to a file, since Wine's
    services started on the way keep a pipe open."""
    env = dict(target.env)
    if machine is not None:
        env["ZRT_SIM_MACHINE"] = machine
    errors = tempfile.TemporaryFile()
    return subprocess.Popen(target.command + [str(program)] + arguments, env=env,
                            stdout=subprocess.DEVNULL, stderr=errors), errors


def wait_all(started, timeout=600):
    """Waits for every started program; the error output of those that
    failed."""
    failed = []
    for process, errors in started:
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
        if process.returncode != 0:
            errors.seek(0)
            text = errors.read().decode(errors="replace").strip()
            failed.append(f"exit {process.returncode}: {text}")
        errors.close()
    return failed


def read_files(folder):
    """The contents of each file in `folder` (none when it is missing)."""
    if not os.path.isdir(folder):
        return {}
    contents = {}
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as file:
            contents[name] = file.read()
    return contents


def new_machine(scratch, scenario=None):
    """A simulated machine folder: a bundled one set up as `scenario` (the
    harness's terms) says, or an empty one with a fixed clock."""
    machine = os.path.join(scratch, "machine")
    if scenario:
        harness.prepare_machine(scenario, pathlib.Path(machine), harness.load_preludes())
    else:
        os.makedirs(machine)
        harness.write_json(pathlib.Path(machine, "machine.json"), {
            "drives": {"C": "drive_c"}, "local_time": "2026-12-07 14:05:09.123"})
    return machine


# ---------------------------------------------------------------------------
# concurrency


def analyse_log(texts, processes, lines):
    """Counts what became of `processes` x `lines` records in the day's log
    files `texts` (bytes each)."""
    seen = {}
    figures = dict(torn=0, headers=0, header_first=True, out_of_order=0)
    for text in texts:
        rows = text.decode("latin-1").split("\r\n")
        if rows[-1] == "":
            rows.pop()  # the file ends with a line end
        figures["header_first"] &= len(rows) >= len(HEADER_STARTS) and all(
            row.startswith(start) for row, start in zip(rows, HEADER_STARTS))
        for row in rows:
            if row.startswith("#"):
                figures["headers"] += row.startswith("#Software:")
                figures["torn"] += not row.startswith(HEADER_STARTS)
                continue
            match = RECORD.fullmatch(row)
            if not match:
                figures["torn"] += 1
                continue
            writer, number = int(match.group(1)), int(match.group(2))
            order = seen.setdefault(writer, [])
            figures["out_of_order"] += bool(order) and number <= order[-1]
            order.append(number)
    expected = {(p, i) for p in range(1, processes + 1) for i in range(lines)}
    found = [(p, i) for p, numbers in seen.items() for i in numbers]
    figures["intact"] = len(set(found) & expected)
    figures["lost"] = len(expected - set(found))
    figures["duplicated"] = len(found) - len(set(found))
    return figures


def log_writers(target, args):
    table = Table(
        f"Concurrency: {args.processes} processes x {args.lines} lines into one day's log "
        f"({target.name})",
        ["lines expected", "intact", "torn or interleaved", "lost", "duplicated", "out of order",
         "header blocks", "header first"])
    scratch = tempfile.mkdtemp(prefix="zrt-reliability-")
    try:
        if target.name == "wine":
            # Wine's drive Z: is the host's root: nothing is left in the prefix.
            folder, machine, data = "Z:" + scratch.replace("/", "\\"), None, scratch
        else:
            folder, machine = "C:\\Data\\Merqel", new_machine(scratch)
            data = os.path.join(machine, "drive_c", "Data", "Merqel")
        writers = [start(target, target.tool("zrt_log_lines"), [folder, f"P{k}", str(args.lines)],
                         machine)
                   for k in range(1, args.processes + 1)]
        table.failures += wait_all(writers)
        logs = read_files(os.path.join(data, "ApplicationLog", "zQTVLog"))
        f = analyse_log(logs.values(), args.processes, args.lines)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    table.rows.append([args.processes * args.lines, f["intact"], f["torn"], f["lost"],
                       f["duplicated"], f["out_of_order"], f["headers"],
                       "yes" if f["header_first"] else "no"])
    if f["headers"] != 1 or not f["header_first"]:
        table.failures.append("the log must hold exactly one header block, at its start")
    table.notes.append(NOTES[f"log writers {target.name}"])
    if target.name == "linux":
        if any(f[name] for name in ("torn", "lost", "duplicated", "out_of_order")):
            table.failures.append("every line must reach the log whole, once and in order")
    return table


def same_millisecond_jobs(target, args):
    table = Table(
        f"Concurrency: {args.jobs} jobs in the same millisecond without a post library",
        ["jobs", "fallback files", "kept", "replaced", "lost"])
    scratch = tempfile.mkdtemp(prefix="zrt-reliability-")
    try:
        with open(os.path.join(REPO, "examples", "jobs", "delete-night-shift.xml"),
                  encoding="utf-8") as source:
            job = source.read().replace("Night Shift", "No Such Scheme")  # nothing to change
        # The laptop has a fixed clock.
        machine = new_machine(scratch, {"machine": "xp-laptop", "post_library": None,
                                        "files": {"C:\\Jobs\\job.xml": {"text": job}}})
        jobs = [start(target, target.program, [
            f"OD@#@5012@#@C:\\Jobs\\job.xml@#@J-{k}@#@jsmith@#@07/12/2026 14:05:09@#@I-{k}"
            "@#@0@#@SJ-3"], machine) for k in range(1, args.jobs + 1)]
        table.failures += wait_all(jobs)
        merqel = os.path.join(machine, "drive_c", "Documents and Settings", "All Users",
                              "Application Data", "Merqel")
        files = read_files(os.path.join(merqel, "QTVPostLogs"))
        logs = b"".join(read_files(os.path.join(merqel, "ApplicationLog", "zQTVLog")).values())
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    # A file is kept when it holds one whole status document; the jobs it
    # belongs to are told apart by their job id.
    kept = {}
    for name, text in files.items():
        ids = re.findall(rb"<jobid>(J-\d+)</jobid>", text)
        # The file's XML declaration, then the document.
        text = re.sub(rb"^<\?xml [^>]*\?>\r?\n", b"", text)
        whole = text.startswith(b"<wpdcmscriptjobinstancestatus>") and text.count(
            b"</wpdcmscriptjobinstancestatus>") == 1
        if len(ids) == 1 and whole:
            kept[ids[0]] = name
    claimed = len(re.findall(rb"\tCreated File \t", logs))
    replaced = max(claimed - len(files), 0)  # two jobs reported making one file
    lost = args.jobs - len(kept)
    table.rows.append([args.jobs, len(files), len(kept), replaced, lost])
    if replaced or lost:
        table.failures.append("every job's status must be kept in a file of its own")
    return table


def scheme_job_argument(k):
    return (f"OD@#@5012@#@C:\\Jobs\\job{k}.xml@#@J-{k}@#@jsmith@#@07/12/2026 14:05:09@#@I-{k}"
            "@#@0@#@SJ-3")


def succeeded_jobs(documents):
    """The ids of the jobs whose status documents say Success."""
    return {int(m.group(1)) for document in documents for m in [re.search(
        r"<jobid>J-(\d+)</jobid>.*<status>Success</status>", document, re.S)] if m}


def scheme_jobs(extra_schemes, steps, policy):
    """The XP laptop with `extra_schemes` (each with the laptop's first
    scheme's policy when `policy`) and one job document per step (`action`,
    `schemename`); the harness's scenario, its first job's argument given."""
    laptop = harness.read_json(harness.MACHINES / "xp-laptop" / "power.json", {})
    first = laptop["schemes"][0].get("policy", {})
    return {
        "machine": "xp-laptop",
        "power": {"schemes": laptop["schemes"] + [dict(scheme, policy=first) if policy else scheme
                                                  for scheme in extra_schemes]},
        "files": {f"C:\\Jobs\\job{k}.xml": {"text": SCHEME_JOB.format(action=action, name=name)}
                  for k, (action, name) in enumerate(steps, 1)},
        "argument": scheme_job_argument(1),
        "expect": {"schemes": {}},
    }


def run_scheme_jobs(target, scratch, extra_schemes, steps):
    """Runs one job per step at once; the failures, the ids of the jobs that
    reported Success, and the machine's schemes after. Under Wine the
    harness sets the prefix up and starts the first job, the others are
    started with it."""
    scenario = scheme_jobs(extra_schemes, steps, policy=target.name == "wine")
    if target.name == "linux":
        machine = new_machine(scratch, scenario)
        failures = wait_all([start(target, target.program, [scheme_job_argument(k)], machine)
                             for k in range(1, len(steps) + 1)])
        observed = harness.Observed()
        observed.read_records(pathlib.Path(machine))
        with open(os.path.join(machine, "power.json"), encoding="utf-8") as file:
            schemes = json.load(file).get("schemes", [])  # a torn file fails here
        return failures, succeeded_jobs(texts[1] for texts in observed.posts), schemes
    target.timeout = 600
    others = []

    def start_the_others(drive_c):
        env = dict(target.env, WINEDLLOVERRIDES="mscoree,mshtml=;powrprof=n")
        for k in range(2, len(steps) + 1):
            errors = tempfile.TemporaryFile()
            others.append((subprocess.Popen(
                [*target.command, "C:\\Program Files\\Merqel\\zReTessalyXP.exe",
                 *scheme_job_argument(k).split(" ")], env=env, cwd=drive_c / "windows" / "system32",
                stdout=subprocess.DEVNULL, stderr=errors), errors))
        return lambda: failures.extend(wait_all(others))

    failures = []
    target.around_run = start_the_others
    observed, _ = target.run(scenario)
    if observed.exit_code != 0:
        failures.append(f"exit {observed.exit_code}: {observed.stderr.strip()}")
    return (failures, succeeded_jobs(texts[1] for texts in observed.posts),
            observed.power.get("schemes", []))


# A job of one step; creation also runs the throttle commands of Powercfg.exe.
SCHEME_JOB = """<job><scriptinstance scriptid="5012" fncname="Power Management">
<step value="1"><action>{action}</action><schemename>{name}</schemename>
<overwriteifexst>0</overwriteifexst><turnoffpi>600</turnoffpi>
<procthrotac>4</procthrotac><procthrotdc>3</procthrotdc></step>
</scriptinstance></job>"""


def concurrent_scheme_changes(target, args):
    table = Table(
        f"Concurrency: {args.jobs} jobs at once on one machine, each deleting or creating one "
        "scheme",
        ["jobs", "action", "reported Success", "schemes left as asked", "changes lost",
         "indices taken twice"])
    names = [f"Spare {k}" for k in range(1, args.jobs + 1)]
    for action in ("Delete Scheme", "Create Scheme"):
        extra = [{"index": 100 + k, "name": name} for k, name in enumerate(names)] \
            if action == "Delete Scheme" else []
        steps = [(action, name) for name in names]
        scratch = tempfile.mkdtemp(prefix="zrt-reliability-")
        try:
            failures, succeeded, schemes = run_scheme_jobs(target, scratch, extra, steps)
        except (harness.ScenarioError, harness.Skip, OSError, ValueError) as e:
            table.failures.append(f"{action}: could not run: {e}")
            continue
        finally:
            shutil.rmtree(scratch, ignore_errors=True)
        table.failures += failures
        present = [s["name"] for s in schemes if s.get("name") in names]
        if action == "Delete Scheme":
            as_asked = len(names) - len(present)
            lost = sum(1 for k in succeeded if names[k - 1] in present)
            twice = "-"
            if len(succeeded) != len(names) or lost:
                table.failures.append("every deletion must succeed and stay done")
        else:
            as_asked = len(present)
            lost = sum(1 for k in succeeded if names[k - 1] not in present)
            indices = [s["index"] for s in schemes if s.get("name") in names]
            # Two schemes at one index, or one replaced by another's.
            twice = len(indices) - len(set(indices)) + len(names) - as_asked
            if len(succeeded) != len(names) or lost or twice:
                table.failures.append("every creation must succeed and keep an index of its own")
        table.rows.append([len(names), action, len(succeeded), as_asked, lost, twice])
    table.notes.append(NOTES["scheme changes"])
    return table


def concurrency(target, args):
    tables = [log_writers(target, args)]
    if target.name == "linux":
        tables.append(same_millisecond_jobs(target, args))
    tables.append(concurrent_scheme_changes(target, args))
    return tables


# ---------------------------------------------------------------------------
# Cases: one job each, run through the harness's targets
# (tests/harness/target.py), which set a machine up on the simulated machine
# or in the Wine prefix from a scenario and collect what the run left.

END = ("WinMain", "INFO", "Application", "End")


@dataclass
class Expect:
    """A documented outcome: records the log must hold (module, type, val1,
    val2, val3; None matches anything, a compiled pattern must match whole),
    whether the run ends with the End line, the status reported ("Success",
    "Fail" or None for none) and how (post or fallback), and how the process
    ends ("exit 0", "crash" for a processor fault, "hang" for one still
    running at the time-out)."""
    text: str
    records: list = field(default_factory=list)
    end_line: bool = True
    status: str = None
    via: str = "post"
    ends: str = "exit 0"
    logged: bool = True    # False: no line reaches the log
    document: str = None   # a pattern the status document must hold


@dataclass
class Case:
    name: str
    scenario: dict
    expect: Expect
    targets: tuple = ("linux", "wine")
    wine: dict = None    # scenario members that differ under Wine
    wine_expect: Expect = None  # the outcome under Wine, where Wine's platform differs
    # Under Wine, called with drive C:'s host folder just before the run; what
    # it returns, if anything, is called after the run.
    wine_around: object = None
    timeout: int = 60
    slow: bool = False   # left out with --quick


def load_cases(section, values=None):
    """The cases of `section` in scripts/reliability_cases.json: Case objects
    whose texts take `values` (the run's ${url}, ${file_url}, ${devices});
    the faults in groups (title, cases, notes)."""
    def expect(member):
        member = DATA["expects"][member] if isinstance(member, str) else member
        records = [tuple(re.compile(v["re"]) if isinstance(v, dict) else v for v in record)
                   for record in member.get("records", [])]
        return Expect(**dict(member, records=records))

    def case(member):
        hook = member.get("wine_around")
        return Case(member["name"], expand(member.get("scenario", {}), values),
                    expect(member["expect"]), tuple(member.get("targets", ("linux", "wine"))),
                    member.get("wine"), member.get("wine_expect") and expect(member["wine_expect"]),
                    full_log if hook == "full log" else hook and immutable(hook["immutable"]),
                    member.get("timeout", 60), member.get("slow", False))
    if section == "faults":
        return [(g["title"], [case(c) for c in g["cases"]], g["notes"]) for g in DATA["faults"]]
    return [case(c) for c in DATA[section]]


def expand(value, values):
    """A value of the case file as the run takes it: {"$repeat": text,
    "times": n}; {"$concat": [...]}; {"$steps": text, "from": a, "to": b},
    the text once for each n (its {n}); {"$job": {"prolog", "body"}}, a job
    document around the steps; ${name} the run's value `name`."""
    if isinstance(value, list):
        return [expand(v, values) for v in value]
    if isinstance(value, str):
        return re.sub(r"\$\{(\w+)\}", lambda m: values[m.group(1)], value)
    if not isinstance(value, dict):
        return value
    if "$repeat" in value:
        return value["$repeat"] * value["times"]
    if "$concat" in value:
        return "".join(expand(v, values) for v in value["$concat"])
    if "$steps" in value:
        return "".join(value["$steps"].replace("{n}", str(n))
                       for n in range(value["from"], value["to"] + 1))
    if "$job" in value:
        return job_text(**expand(value["$job"], values))
    return {k: expand(v, values) for k, v in value.items()}


def text_of(raw):
    """A file the program wrote, as text."""
    return raw.replace(b"\r\n", b"\n").decode(harness.ANSI, errors="replace")


def matches(expected, actual):
    return expected is None or (expected.fullmatch(actual) is not None if hasattr(
        expected, "fullmatch") else expected == actual)


def records_of(observed):
    records = []
    for _, _, raw in observed.log_files:
        records += harness.parse_log(text_of(raw))[1]
    return [tuple(r[1:]) for r in records]  # without the user column


def status_of(observed):
    """The status reported (the document of the post the library accepted,
    else of the fallback file), how, and the text of the document."""
    records = records_of(observed)
    # The log tells which post the library accepted; when no line reached
    # the log, a run that ended normally had its last post accepted (the
    # cases without a log use a library that accepts every post).
    accepted = any(r[:4] == ("1.0", "CREATEWEBPOST", "Info", "Success Webpost Return Status")
                   for r in records) or (not records and ending(observed) == "exit 0")
    documents = [(texts[1], "post") for texts in observed.posts[-1:] if accepted]
    documents += [(text_of(raw), "pending" if name.lower().endswith(".pending") else "fallback")
                  for _, name, raw in observed.fallback_files]
    if not documents:
        return None, None, None
    document, via = documents[0]
    word = re.search(r"<status>(\w+)</status>", document)
    return (word.group(1) if word else "?"), via, document


def describe(observed):
    """What a run did, in a few words."""
    records = records_of(observed)
    decisive = [r for r in records if r[1] in ("FAILED", "ERROR") and r[2] != "OpenProcessToken"]
    parts = []
    if decisive:  # the first failure is the cause; the later ones report it
        module, kind, val1, val2, val3 = decisive[0]
        parts.append(" ".join([f'{kind} "{val1}"'] + [f'"{v.strip()[:50]}"' for v in (val2, val3)
                                                      if v.strip()]))
    parts.append("nothing logged" if not records else "End" if records[-1][:4] == END
                 else "no End")
    status, via, _ = status_of(observed)
    parts.append(f"status {status} ({via})" if status else "no status")
    return "; ".join(parts)


def ending(observed):
    return "hang" if observed.timed_out else harness.ending(observed.exit_code)


def expected(case, target_name):
    return case.wine_expect if target_name == "wine" and case.wine_expect else case.expect


def check(expect, observed):
    """The ways the run departs from the documented outcome."""
    problems = []
    if ending(observed) != expect.ends:
        problems.append(f"ended with {ending(observed)}, not {expect.ends}")
    records = records_of(observed)
    for wanted in expect.records:
        if not any(all(matches(w, a) for w, a in zip(wanted, r)) for r in records):
            problems.append("no line " + "|".join("*" if w is None else getattr(w, "pattern", w)
                                                  for w in wanted))
    if not expect.logged:
        if records:
            problems.append(f"{len(records)} lines logged")
    elif expect.ends == "exit 0" and (bool(records) and records[-1][:4] == END) != expect.end_line:
        problems.append("the End line is missing" if expect.end_line else "an End line")
    status, via, document = status_of(observed)
    if (status, via if status else None) != (expect.status, expect.via if expect.status else None):
        problems.append(f"status {status} ({via})" if status else "no status")
    elif expect.document and not re.search(expect.document, document or ""):
        problems.append(f"the status document lacks {expect.document}")
    lines = [c.get("command_line") for c in observed.commands]
    if len(lines) != len(set(lines)):
        problems.append("a command ran twice")
    return problems


def run_cases(target, args, cases, trace_opens=False):
    """Runs each case meant for the target; rows of (case, observed, problems).
    Under Wine, `trace_opens` records the files the program opens."""
    preludes = harness.load_preludes()
    results = []
    for case in cases:
        if target.name not in case.targets or (args.quick and case.slow):
            continue
        scenario = dict(case.scenario)
        if target.name == "wine" and case.wine:
            scenario.update(case.wine)
        scenario.setdefault("machine", "xp-laptop")
        if "files" not in scenario:
            scenario.setdefault("job", {"steps": [
                {"action": "Delete Scheme", "schemename": "Night Shift"}]})
        scenario.setdefault("expect", {"log": {}})
        if target.name == "linux":
            settings = dict(scenario.get("machine_settings", {}), record_opens="opens.txt")
            scenario["machine_settings"] = settings
        target.timeout = case.timeout
        if target.name == "wine":
            target.around_run = case.wine_around
            target.trace_opens = trace_opens
        try:
            observed, _ = target.run(scenario, "", preludes)
        except (harness.ScenarioError, harness.Skip, OSError,
                subprocess.CalledProcessError) as e:
            results.append((case, None, [f"could not run: {e}"]))
            continue
        results.append((case, observed, check(expected(case, target.name), observed)))
    return results


def peak_mib(observed):
    return "-" if observed is None or observed.peak_rss_kib is None else \
        f"{observed.peak_rss_kib / 1024:.1f}"


# ---------------------------------------------------------------------------
# documents

# Files a run may open, by the end of their host path (lower case): the job
# document (or what its path names), the INI file, the post library, the
# program and the doubles beside it, the activity log, fallback status files
# and the doubles' records.
EXPECTED_OPENS = re.compile(
    r".*(/jobs/job\.xml|/jobs|/dev/zero|/zlocator\.ini|/zcourier\.dll|/zretessalyxp\.exe"
    r"|/powrprof\.dll|/powercfg\.exe|/zqtvlog/[^/]*\.log|/qtvpostlogs/[^/]*\.(?:xml|pending)"
    r"|/zrt-scenario/[^/]*)")


def other_opens(observed, scratch, drive_c):
    """Files the run opened beyond those it needs: on the simulated machine,
    every file a call of the program opened; under Wine, the files strace saw
    opened on drive C: (outside C:\\windows, Wine's own) and in the scratch
    folder holding the files the hostile documents point at."""
    if observed is None or observed.opened is None:
        return None
    others = set()
    for path in observed.opened:
        if drive_c is not None:
            # Wine reaches drive C: and Z: (the host's root) by its own links.
            path = re.sub(r"^.*/dosdevices/c:(?=/|$)", drive_c, path, flags=re.I)
            path = re.sub(r"^.*/dosdevices/z:(?=/)", "", path, flags=re.I).rstrip("/")
            inside = path.startswith(drive_c + "/") and not path.lower().startswith(
                drive_c.lower() + "/windows/")
            if not (inside or path.startswith(scratch)) or os.path.isdir(path):
                continue
        if not EXPECTED_OPENS.fullmatch(path.lower()):
            others.add(path)
    return sorted(others)


class Listener:
    """A TCP listener on the loopback address that counts connections."""

    def __init__(self):
        self.socket = socket.socket()
        self.socket.bind(("127.0.0.1", 0))
        self.socket.listen(16)
        self.socket.settimeout(0.2)
        self.port = self.socket.getsockname()[1]
        self.connections = 0
        self.stopped = threading.Event()
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        while not self.stopped.is_set():
            try:
                connection, _ = self.socket.accept()
            except OSError:
                continue
            self.connections += 1
            connection.close()

    def close(self):
        self.stopped.set()
        self.thread.join()
        self.socket.close()


JOB_HEAD = ('<job><scriptinstance scriptid="5012" scriptver="1.0" category="Power" '
            'fncname="Power Management" logonuser="jsmith">')
JOB_TAIL = "</scriptinstance></job>"
DELETE_STEP = ('<step value="{n}"><action>Delete Scheme</action>'
               "<schemename>Night Shift</schemename></step>")


def job_text(body=DELETE_STEP.format(n=1), prolog='<?xml version="1.0" encoding="UTF-8"?>'):
    return f"{prolog}{JOB_HEAD}{body}{JOB_TAIL}"


def documents(target, args):
    table = Table(
        f"Hostile documents ({target.name})",
        ["document", "defined outcome", "observed", "exit", "peak RSS (MiB)",
         "other files opened", "connections", "result"])
    scratch = tempfile.mkdtemp(prefix="zrt-reliability-")
    listener = Listener()
    try:
        with open(os.path.join(scratch, "secret.txt"), "w", encoding="utf-8") as file:
            file.write("the external entity's text\n")
        drive_c = str(target.drive_c) if target.name == "wine" else None
        # The simulated machine's drive Z: holds the host's /dev/zero, as
        # Wine's drive Z: (the host's root) does.
        devices = os.path.join(scratch, "z")
        os.makedirs(os.path.join(devices, "dev"))
        os.symlink("/dev/zero", os.path.join(devices, "dev", "zero"))
        secret = os.path.join(scratch, "secret.txt")
        values = {"url": f"http://127.0.0.1:{listener.port}", "devices": devices,
                  "file_url": "file:///" + ("Z:" + secret.replace("/", "\\")
                                            if target.name == "wine" else secret.lstrip("/"))}
        for case in load_cases("documents", values):
            before = listener.connections
            results = run_cases(target, args, [case], trace_opens=True)
            if not results:
                continue
            _, observed, problems = results[0]
            others = other_opens(observed, scratch, drive_c)
            if others:
                problems.append("opened " + ", ".join(others))
            table.rows.append([case.name, expected(case, target.name).text,
                               describe(observed) if observed else "-",
                               ending(observed) if observed else "-", peak_mib(observed),
                               "not recorded" if others is None else len(others),
                               listener.connections - before,
                               "ok" if not problems else "FAILED: " + "; ".join(problems)])
            table.failures += [f"{case.name}: {p}" for p in problems]
        if listener.connections:
            table.failures.append(f"{listener.connections} connections to the listener")
    finally:
        listener.close()
        shutil.rmtree(scratch, ignore_errors=True)
    table.notes += [NOTES["documents"], NOTES[f"documents {target.name}"],
                    NOTES["documents connections"]]
    return [table]


# ---------------------------------------------------------------------------
# faults

# Where the program keeps its data, below drive C:.
DATA_FOLDER = "ProgramData\\Merqel"
LOG_FOLDER = "ApplicationLog\\zQTVLog"
# The line of a pending status filed by a later run.
RECOVERED = ("SendWebpost", "INFO", "Recovered File ")


def immutable(relative):
    """A hook that makes the data folder's `relative` folder immutable
    (chattr +i) for the run: nothing can be created in it, as in a folder
    the user may not write."""
    def around(drive_c):
        folder = os.path.join(drive_c, *(DATA_FOLDER + "\\" + relative).split("\\"))
        os.makedirs(folder, exist_ok=True)
        subprocess.run(["chattr", "+i", folder], check=True, capture_output=True)
        return lambda: subprocess.run(["chattr", "-i", folder], capture_output=True)
    return around


def full_log(drive_c):
    """A hook that makes today's log file the host's /dev/full, where every
    write fails for want of room; removed before the log is read back."""
    folder = os.path.join(drive_c, *(DATA_FOLDER + "\\" + LOG_FOLDER).split("\\"))
    os.makedirs(folder, exist_ok=True)
    link = os.path.join(folder, datetime.date.today().strftime("zReTessalyXP_[%d%m%Y].Log"))
    os.symlink("/dev/full", link)
    return lambda: os.remove(link)


def post_library_figures(results):
    """The measured figures of the post library's cases: status reports
    lost, and pending files filed by a later run."""
    observed = [o for _, o, _ in results if o is not None]
    lost = sum(1 for o in observed if status_of(o)[0] is None)
    recovered = sum(1 for o in observed for r in records_of(o) if r[:3] == RECOVERED)
    pending = sum(1 for o in observed for _, name, _ in o.fallback_files
                  if name.lower().endswith(".pending"))
    files = lambda n: f"{n} pending file{'' if n == 1 else 's'}"
    return (f"Measured: {lost} status reports lost in {len(observed)} cases of a crashing, "
            f"hanging or garbage-answering post library; {files(recovered)} filed by a later "
            f"run at start-up; {files(pending)} left by a run that crashed or was killed, for "
            f"the next run.")


def faults(target, args):
    harness.wine_power.ENDLESS_COMMANDS_ALLOWED = not args.quick
    tables = []
    for title, cases, notes in load_cases("faults"):
        results = run_cases(target, args, cases)
        if not results:
            continue
        table = Table(f"{title} ({target.name})", ["case", "documented outcome", "observed",
                                                   "exit", "peak RSS (MiB)", "result"],
                      notes=list(notes))
        if title == "The post library":
            table.notes.insert(0, post_library_figures(results))
        for case, observed, problems in results:
            table.rows.append([case.name, expected(case, target.name).text,
                               describe(observed) if observed else "-",
                               ending(observed) if observed else "-", peak_mib(observed),
                               "ok" if not problems else "FAILED: " + "; ".join(problems)])
            table.failures += [f"{case.name}: {p}" for p in problems]
        tables.append(table)
    return tables


# ---------------------------------------------------------------------------
# fuzz

FORK_STATS = re.compile(r"^#(\d+): cov: .* oom/timeout/crash: (\d+)/(\d+)/(\d+) time: (\d+)s",
                        re.M)


def fuzz(target, args):
    build = os.path.abspath(args.fuzz_build_dir or os.path.join(REPO, "build", "fuzz"))
    bound = (f"{args.fuzz_runs:,} executions" if args.fuzz_runs
             else f"{args.seconds} seconds").replace(",", " ")
    table = Table(f"Fuzzing: libFuzzer with ASan and UBSan, each target for {bound}",
                  ["target", "property", "seconds", "executions", "crashes", "time-outs",
                   "out of memory", "corpus"])
    for fuzzer in DATA["fuzzers"]:
        name, checks = fuzzer["name"], fuzzer["checks"]
        program = os.path.join(build, "tests", "fuzz", name)
        if not os.path.exists(program):
            sys.exit(f"reliability: {program} is missing; build the fuzz preset first")
        scratch = tempfile.mkdtemp(prefix="zrt-fuzz-")
        try:
            corpus, artifacts = os.path.join(scratch, "corpus"), os.path.join(scratch, "found")
            os.makedirs(corpus)
            os.makedirs(artifacts)
            limit = f"-runs={args.fuzz_runs}" if args.fuzz_runs else \
                f"-max_total_time={args.seconds}"
            command = [program, "-fork=1", "-ignore_crashes=1", "-ignore_timeouts=1",
                       "-ignore_ooms=1", "-timeout=10", "-rss_limit_mb=2048", "-max_len=4096",
                       limit, f"-artifact_prefix={artifacts}/", corpus,
                       os.path.join(REPO, "tests", "fuzz", "corpus", name),
                       *[os.path.join(REPO, seeds) for seeds in fuzzer["seeds"]]]
            with tempfile.TemporaryFile() as output:
                subprocess.run(command, cwd=scratch, stdout=output, stderr=output)
                output.seek(0)
                text = output.read().decode(errors="replace")
            stats = FORK_STATS.findall(text)
            found = sorted(os.listdir(artifacts))
            units = len(os.listdir(corpus))
            if found:
                kept = os.path.join(REPO, "build", "fuzz-findings", name)
                os.makedirs(kept, exist_ok=True)
                for finding in found:
                    shutil.copy(os.path.join(artifacts, finding), kept)
                table.failures.append(f"{name}: {len(found)} inputs found, kept in {kept}")
        finally:
            shutil.rmtree(scratch, ignore_errors=True)
        if not stats:
            table.failures.append(f"{name}: libFuzzer printed no figures:\n{text[-2000:]}")
            continue
        runs, ooms, timeouts, crashes, seconds = (int(v) for v in stats[-1])
        table.rows.append([name, checks, seconds, f"{runs:,}".replace(",", " "), crashes,
                           timeouts, ooms, units])
        if crashes or timeouts or ooms:
            table.failures.append(f"{name}: {crashes} crashes, {timeouts} time-outs, "
                                  f"{ooms} out of memory")
    table.notes.append(NOTES["fuzz"])
    return [table]


# ---------------------------------------------------------------------------
# crashes

sys.path.insert(0, os.path.join(REPO, "tests", "crash"))
import crash_sweep  # noqa: E402


def crashes(target, args):
    if target.name == "linux":
        return [crash_point_sweep(target)]
    return [random_kills(target, args)]


CRASH_COLUMNS = ["crash points", "none", "posted", "filed", "recovered", "twice in the window",
                 "kept aside"]


def crash_point_sweep(target):
    table = Table("Crash points: killed at every change of the machine, then a clean job (linux)",
                  ["job", "post answer"] + CRASH_COLUMNS + ["faults"],
                  notes=[NOTES["crash points"]])
    work = pathlib.Path(tempfile.mkdtemp(prefix="zrt-crash-"))
    try:
        for job in crash_sweep.JOBS:
            for answer in crash_sweep.ANSWERS:
                counts, faults = crash_sweep.sweep_one(target.build, job, answer,
                                                       harness.load_preludes(), work)
                table.rows.append([job, answer] + [counts[c] for c in CRASH_COLUMNS]
                                  + [len(faults)])
                table.failures += faults
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return table


def killed_where(lines):
    """Where a run whose log lines are `lines` was when it ended."""
    fields = [line.split(b"\t") for line in lines]
    if not any(len(f) > 5 and f[4] == b"Action" for f in fields):
        return "before its step"
    if not any(len(f) > 4 and f[4].startswith(b"Trying To Send") for f in fields):
        return "in its step (holding the lock)"
    return "reporting its status"


def random_kills(target, args):
    """The Windows program killed (SIGKILL) at a random moment of a job that
    creates a scheme, then a clean job: the same invariants as the sweep.
    Every other kill comes at a random moment after its pending file
    appeared, where the status windows are."""
    import random
    table = Table(f"Crash points: {args.kills} random kills, each followed by a clean job (wine)",
                  ["post answer", "where the kill came", "kills", "none", "posted", "filed",
                   "twice", "faults"], notes=[NOTES["random kills"]])
    chance = random.Random(2026)
    clean = crash_sweep.CLEAN_ARGUMENT.split(" ")
    rows = {}
    for answer in ("accepted", "failing"):
        scenario = {"machine": "xp-laptop", "job": {"steps": crash_sweep.JOBS["create"]},
                    "post_library": {"answers": crash_sweep.ANSWERS[answer]}, "runs": 2,
                    "expect": {"power": True}}
        post_logs = target.drive_host(target.common_app_data() + "\\Merqel\\QTVPostLogs")

        def wait(proc, seconds, after_pending):
            """Waits `seconds`, for the status kills from the moment a pending
            file appears; False when the job ended first. The seconds waited."""
            while after_pending and not any(post_logs.glob("*.pending")):
                if proc.poll() is not None:
                    return False, 0
                time.sleep(0.002)
            started = time.perf_counter()
            try:
                proc.wait(seconds)
                return False, time.perf_counter() - started
            except subprocess.TimeoutExpired:
                return True, seconds

        # One run uninterrupted, for how long a job takes here, and how long
        # it still runs once its pending file appeared.
        tail = []

        def measure(command, env, cwd=None, timeout=60, trace=None):
            started = time.perf_counter()
            proc = subprocess.Popen(command, env=env, cwd=cwd, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL, start_new_session=True)
            tail.append(wait(proc, timeout, True)[1])
            code = proc.wait()
            tail.append(time.perf_counter() - started)
            return code, "", None, False, 0.0

        target.run(dict(scenario, runs=1), launch=measure)
        duration = tail[1]
        for k in range(args.kills // 2):
            after_pending = k % 2 == 1
            moments = [chance.uniform(0, tail[0] if after_pending else duration), None]
            killed = []

            def launch(command, env, cwd=None, timeout=60, trace=None):
                kill_at = moments.pop(0)
                if kill_at is None:  # the clean job
                    return harness.run_program(command[:2] + clean, env, cwd, timeout)
                proc = subprocess.Popen(command, env=env, cwd=cwd, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, start_new_session=True)
                if wait(proc, kill_at, after_pending)[0]:
                    os.killpg(proc.pid, signal.SIGKILL)
                    killed.append(True)
                proc.wait()
                return proc.returncode, "", None, False, 0.0

            observed, _ = target.run(scenario, launch=launch)
            lines = []
            for _, _, data in observed.log_files:
                lines += data.split(b"\r\n")
            cut = next((k for k, line in enumerate(lines) if b"J-clean" in line), len(lines))
            where = killed_where(lines[:cut]) if killed else "ended before the kill"
            faults = crash_faults(observed, answer, lines)
            row = rows.setdefault((answer, where), [0, 0, 0, 0, 0, 0])
            delivered = status_counts(observed, answer, crash_sweep.KILLED)
            row[0] += 1
            # The status exists once it is written whole ahead of the first
            # post, whose log line follows at once; it is delivered twice only
            # when the kill came between an accepted post and the removal of
            # the pending file, with no log line between.
            # (A post's line carries the document, whose line feeds split it.)
            tries = [k for k, line in enumerate(lines[:cut]) if b"Trying To Send" in line]
            in_window = answer == "accepted" and bool(tries) and not any(
                b"Success Webpost Return Status" in line for line in lines[tries[-1]:cut])
            if sum(delivered) == 0:
                row[1] += 1
                if not killed or where == "reporting its status":
                    faults.append("status lost")
            elif sum(delivered) == 1:
                row[2 if delivered[0] else 3] += 1
            else:
                row[4] += 1
                if sum(delivered) > 2 or not in_window:
                    faults.append(f"status delivered {sum(delivered)} times")
            row[5] += len(faults)
            table.failures += [f"{answer}, killed {where}: {f}" for f in faults]
    for (answer, where), row in sorted(rows.items()):
        table.rows.append([answer, where] + row)
    return table


def status_counts(observed, answer, marker):
    """(posts accepted, files filed) of the status whose document holds
    `marker`."""
    posted = sum(marker in texts[1] for texts in observed.posts) if answer == "accepted" else 0
    filed = sum(marker.encode() in data for _, name, data in observed.fallback_files
                if name.lower().endswith(".xml"))
    return posted, filed


def crash_faults(observed, answer, lines):
    faults = []
    if status_counts(observed, answer, crash_sweep.CLEAN) != ((1, 0) if answer == "accepted"
                                                             else (0, 1)):
        faults.append("the clean job's status not delivered once")
    for _, name, data in observed.fallback_files:
        if name.lower().endswith(".pending"):
            faults.append(f"{name} left pending")
        elif name.lower().endswith(".xml") and not data.endswith(crash_sweep.DOC_END):
            faults.append(f"{name} filed cut short")
    for _, name, data in observed.log_files:
        headers = data.count(b"#Software: ")
        if headers != 1 or not data.startswith(b"#Software: "):
            faults.append(f"{name}: {headers} headers")
    schemes = observed.schemes or {"list": [], "active": None}
    indices = [index for index, _ in schemes["list"]]
    if len(indices) != len(set(indices)) or schemes["active"] not in indices:
        faults.append(f"power state not whole: {schemes}")
    return faults

SECTIONS = {
    "concurrency": ("Concurrent runs", concurrency),
    "crashes": ("Crash points", crashes),
    "documents": ("Hostile documents", documents),
    "faults": ("Faults", faults),
    "fuzz": ("Fuzzing", fuzz),
}
# Sections that measure the fuzz build, whatever the target.
TARGETLESS = {"fuzz"}

PREAMBLE = """# Reliability figures

Measured by `scripts/reliability.py`; every figure below is one the script
measured, on the commit, date and machine its section names. Regenerate the
whole file with

    scripts/reliability.py all --target both --fuzz-runs 10000000 --write docs/reliability.md

(it takes hours: it fuzzes each target ten million times); a section run on
its own (`scripts/reliability.py faults --target wine --write
docs/reliability.md`) replaces its own block and keeps the others with their
own dates and commits.

## Delivery promise

Each status a job reaches is delivered at least once and at most twice:
posted (the post library accepted it) or filed (a fallback file
`wpdcmscriptjobinstancestatus.asp_N_<REGID>_PER_<time>.xml` in the post-log
folder, which the collector takes). It is written whole as a pending file
before its first post; a file is filed only whole (a pending file that is not
a whole status document is kept aside as `.incomplete`, with a log line), and
the run that files a pending file left by a process that died holds it alone
from its check to the end of its rename. A status left pending by a process
that died is filed by the next run of the program on that machine. A status
is delivered twice only in two named windows:

1. the process dies after the post library accepted the post and before the
   pending file is removed, which is the very next thing the program does
   (no log line comes between); the next run files it as well;
2. a post abandoned at the post bound (300 s) that the server accepts after
   all: the program has filed the status by then.

A status is never delivered when the process dies before its pending file
was written whole (it never existed), or when the post-log folder cannot be
written and both posts fail (the log then ends with "Creating File Failed" and
"Failed To Send to the QTV Folder"). The collector recognises a duplicate by
the job and instance ids that every status document carries (`jobid`,
`instanceid`, with `inid` for the script job): two documents with the same
ids are one status.
"""


def machine_description(target):
    """The machine the figures were measured on."""
    def first(path, pattern):
        try:
            with open(path, encoding="utf-8") as file:
                match = re.search(pattern, file.read(), re.M)
                return match.group(1) if match else ""
        except OSError:
            return ""
    memory = first("/proc/meminfo", r"^MemTotal:\s+(\d+) kB")
    parts = [first("/etc/os-release", r'^PRETTY_NAME="?([^"\n]*)') or sys.platform,
             f"Linux {os.uname().release} {os.uname().machine}",
             f"{os.cpu_count()} CPUs"]
    if memory:
        parts.append(f"{int(memory) / 1024 / 1024:.0f} GiB")
    if target is not None and target.name == "wine":
        version = subprocess.run(target.command + ["--version"], env=target.env,
                                 capture_output=True, text=True)
        parts.append(version.stdout.strip() or "wine")
        parts.append(windows_lane.DESCRIPTIONS[target.arch])
    return ", ".join(parts)


def block_key(name, target_name):
    return name if name in TARGETLESS else f"{name} {target_name}"


def read_blocks(path):
    """The blocks of a report written before; none when there is none."""
    try:
        with open(path, encoding="utf-8") as file:
            return {m.group(1): m.group(2) for m in re.finditer(
                r"<!-- begin (.+?) -->\n(.*?)<!-- end \1 -->\n", file.read(), re.S)}
    except OSError:
        return {}


def write_report(path, blocks):
    """Replaces the blocks measured now in the report at `path`, keeping the
    others; blocks stand in the order of SECTIONS, Linux before Wine."""
    kept = read_blocks(path)
    kept.update(blocks)
    order = [block_key(name, t) for name in SECTIONS for t in ("linux", "wine")]
    text = PREAMBLE
    for key in dict.fromkeys(order):
        if key in kept:
            text += f"\n<!-- begin {key} -->\n{kept[key]}<!-- end {key} -->\n"
    with open(path, "w", encoding="utf-8") as file:
        file.write(text)


def measure(name, target, args, blocks):
    """Runs one section on one target into `blocks`; the number of figures
    that break their bound."""
    title, section = SECTIONS[name]
    where = "the fuzz build" if name in TARGETLESS else (
        "the Linux program on the simulated machine" if args.target == "linux"
        else f"the Windows program under Wine, {windows_lane.DESCRIPTIONS[target.arch]}")
    commit = subprocess.run(["git", "-C", REPO, "rev-parse", "--short", "HEAD"],
                            capture_output=True, text=True).stdout.strip() or "unknown"
    # The report itself does not count as a change to what is measured.
    exclude = [f":!{os.path.relpath(os.path.abspath(args.write), REPO)}"] if args.write else []
    dirty = subprocess.run(["git", "-C", REPO, "status", "--porcelain", "--untracked-files=no",
                            "--", ".", *exclude], capture_output=True, text=True).stdout.strip()
    text = (f"## {title} ({where})\n\nMeasured {datetime.date.today().isoformat()} on "
            f"commit {commit}{' with changes not yet committed' if dirty else ''}, "
            f"{machine_description(target)}.\n\n")
    print(text, end="", flush=True)
    failures = 0
    for table in section(target, args):
        print(table.markdown(), flush=True)
        text += table.markdown() + "\n"
        failures += len(table.failures)
    blocks[block_key(name, args.target)] = text
    return failures


def main():
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("sections", nargs="+", metavar="SECTION",
                        choices=list(SECTIONS) + ["all"])
    parser.add_argument("--target", choices=["linux", "wine", "both"], default="linux")
    parser.add_argument("--build-dir")
    parser.add_argument("--fuzz-build-dir")
    parser.add_argument("--prefix")
    parser.add_argument("--processes", type=int, default=8)
    parser.add_argument("--lines", type=int, default=1000)
    parser.add_argument("--jobs", type=int, default=8)
    parser.add_argument("--kills", type=int, default=12)
    parser.add_argument("--seconds", type=int, default=10)
    parser.add_argument("--fuzz-runs", type=int)
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--write", metavar="FILE")
    args = parser.parse_args()
    if args.target == "both" and args.build_dir:
        parser.error("--build-dir names one target's build: give --target linux or wine")

    names = list(SECTIONS) if "all" in args.sections else list(dict.fromkeys(args.sections))
    failures = 0
    blocks = {}
    for k, target_name in enumerate(["linux", "wine"] if args.target == "both"
                                    else [args.target]):
        args.target = target_name
        # A section that measures no target runs once, with the first.
        here = [n for n in names if n not in TARGETLESS or k == 0]
        target = make_target(args) if any(n not in TARGETLESS for n in here) else None
        for name in here:
            failures += measure(name, target, args, blocks)
    if args.write:
        write_report(args.write, blocks)
    return 1 if args.check and failures else 0


if __name__ == "__main__":
    sys.exit(main())
