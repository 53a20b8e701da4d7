#!/usr/bin/env python3
"""Measures the job program's reliability and prints the figures as Markdown.

    scripts/reliability.py [options] SECTION...

Sections (`all` runs every one):
  concurrency  several jobs at once on one machine: processes appending to
               one day's activity log (torn, lost, duplicated and reordered
               lines, header blocks), jobs started in the same millisecond
               without a post library (fallback status files kept, replaced
               and lost), and jobs deleting or creating one scheme each
               (changes lost, indices taken twice)

Options:
  --target linux|wine  the Linux program on a simulated machine (default), or
                       the Windows program under Wine (log part only: Wine has
                       no fixed clock to start jobs in one millisecond)
  --build-dir DIR      the build to measure (default build/linux or build/win32)
  --prefix DIR         the Wine prefix (default: the build's ZRT_WINE_PREFIX)
  --processes N        log writers at once (default 8)
  --lines N            lines each writer logs (default 1000)
  --jobs N             jobs started at once (default 8)
  --check              exit with 1 when a figure breaks its bound

Each section is a function below that returns its tables; add a section by
writing one and naming it in SECTIONS. Only the Python standard library is
used.
"""

import argparse
import datetime
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
from dataclasses import dataclass, field

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
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


class Target:
    """Runs the programs of one build: on simulated machines, or under Wine."""

    def __init__(self, args):
        self.name = args.target
        self.build = os.path.abspath(args.build_dir or os.path.join(
            REPO, "build", "linux" if self.name == "linux" else "win32"))
        suffix = ".exe" if self.name == "wine" else ""
        self.program = os.path.join(self.build, "zReTessalyXP" + suffix)
        self.log_lines = os.path.join(self.build, "tests", "tools", "zrt_log_lines" + suffix)
        for path in (self.program, self.log_lines):
            if not os.path.exists(path):
                sys.exit(f"reliability: {path} is missing; build the {self.name} preset first")
        self.env = dict(os.environ)
        if self.name == "wine":
            prefix = args.prefix or cache_value(self.build, "ZRT_WINE_PREFIX") or os.path.join(
                self.build, "wineprefix")
            subprocess.run([os.path.join(REPO, "scripts", "wine-prefix.sh"), "start", prefix],
                           check=True, stdout=subprocess.DEVNULL)
            self.env.update(WINEPREFIX=prefix, WINEARCH="win32",
                            WINEDEBUG=self.env.get("WINEDEBUG", "-all"))

    def start(self, program, arguments, machine=None):
        """Starts a program; its error output goes to a file, since Wine's
        services started on the way keep a pipe open."""
        env = dict(self.env)
        if machine is not None:
            env["ZRT_SIM_MACHINE"] = machine
        command = (["wine"] if self.name == "wine" else []) + [program] + arguments
        errors = tempfile.TemporaryFile()
        return subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                                stderr=errors), errors


def cache_value(build, name):
    try:
        with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as cache:
            for line in cache:
                if line.startswith(name + ":"):
                    return line.split("=", 1)[1].strip()
    except OSError:
        pass
    return None


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


def new_machine(scratch, base=None):
    """A simulated machine folder: a copy of a bundled one, or an empty one
    with a fixed clock."""
    machine = os.path.join(scratch, "machine")
    if base:
        shutil.copytree(os.path.join(REPO, "examples", "machines", base), machine)
    else:
        os.makedirs(machine)
        with open(os.path.join(machine, "machine.json"), "w", encoding="utf-8") as file:
            json.dump({"drives": {"C": "drive_c"}, "local_time": "2026-12-07 14:05:09.123"}, file)
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
        writers = [target.start(target.log_lines, [folder, f"P{k}", str(args.lines)], machine)
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
    atomic = ("torn", "lost", "duplicated", "out_of_order")
    if target.name == "wine":
        table.notes.append(
            "Wine writes an append-only handle by reading the file's size and then writing "
            "there (fstat, pwrite), two steps that other processes can come between, so lines "
            "of processes writing at once may overwrite one another under Wine; on Windows the "
            "file system appends each write whole. Only the header figures are bounds here.")
    elif any(f[name] for name in atomic):
        table.failures.append("every line must reach the log whole, once and in order")
    return table


def same_millisecond_jobs(target, args):
    table = Table(
        f"Concurrency: {args.jobs} jobs in the same millisecond without a post library",
        ["jobs", "fallback files", "kept", "replaced", "lost"])
    scratch = tempfile.mkdtemp(prefix="zrt-reliability-")
    try:
        machine = new_machine(scratch, "xp-laptop")  # a fixed clock
        os.remove(os.path.join(machine, "drive_c", "Program Files", "Merqel", "zCourier.dll"))
        os.makedirs(os.path.join(machine, "drive_c", "Jobs"))
        with open(os.path.join(REPO, "examples", "jobs", "delete-night-shift.xml"),
                  encoding="utf-8") as source:
            job = source.read().replace("Night Shift", "No Such Scheme")  # nothing to change
        with open(os.path.join(machine, "drive_c", "Jobs", "job.xml"), "w",
                  encoding="utf-8") as file:
            file.write(job)
        jobs = [target.start(target.program, [
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


def run_scheme_jobs(target, args, machine, steps):
    """Runs one job per step (`action`, `schemename`) at once on `machine`;
    the ids of the jobs that reported Success, and the machine's schemes."""
    for k, (action, name) in enumerate(steps, 1):
        with open(os.path.join(machine, "drive_c", "Jobs", f"job{k}.xml"), "w",
                  encoding="utf-8") as file:
            file.write(SCHEME_JOB.format(action=action, name=name))
    jobs = [target.start(target.program, [
        f"OD@#@5012@#@C:\\Jobs\\job{k}.xml@#@J-{k}@#@jsmith@#@07/12/2026 14:05:09@#@I-{k}"
        "@#@0@#@SJ-3"], machine) for k in range(1, len(steps) + 1)]
    failures = wait_all(jobs)
    with open(os.path.join(machine, "posts.jsonl"), encoding="utf-8") as file:
        posts = [json.loads(line)["texts"][1] for line in file if line.strip()]
    succeeded = {int(m.group(1)) for post in posts for m in [re.search(
        r"<jobid>J-(\d+)</jobid>.*<status>Success</status>", post, re.S)] if m}
    with open(os.path.join(machine, "power.json"), encoding="utf-8") as file:
        schemes = json.load(file).get("schemes", [])  # a torn file fails here
    return failures, succeeded, schemes


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
        scratch = tempfile.mkdtemp(prefix="zrt-reliability-")
        try:
            machine = new_machine(scratch, "xp-laptop")
            os.makedirs(os.path.join(machine, "drive_c", "Jobs"))
            if action == "Delete Scheme":
                with open(os.path.join(machine, "power.json"), encoding="utf-8") as file:
                    power = json.load(file)
                power["schemes"] += [{"index": 100 + k, "name": name}
                                     for k, name in enumerate(names)]
                with open(os.path.join(machine, "power.json"), "w", encoding="utf-8") as file:
                    json.dump(power, file)
            failures, succeeded, schemes = run_scheme_jobs(
                target, args, machine, [(action, name) for name in names])
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
            twice = len(names) - as_asked
        table.rows.append([len(names), action, len(succeeded), as_asked, lost, twice])
    table.notes.append(
        "A job creating a scheme takes the index one above the highest it enumerated, and the "
        "platform's WritePwrScheme replaces a scheme already at that index: jobs that enumerate "
        "at the same moment take the same index, and the scheme written last is the one kept. "
        "The power-profile API has no way to reserve an index, so this is the platform's "
        "behaviour, measured, not bounded; the job whose scheme was replaced usually fails at its "
        "next Powercfg.exe command (\"Scheme Not Found\").")
    return table


def concurrency(target, args):
    tables = [log_writers(target, args)]
    if target.name == "linux":
        tables += [same_millisecond_jobs(target, args), concurrent_scheme_changes(target, args)]
    return tables


# ---------------------------------------------------------------------------
# fuzz

FUZZERS = [
    ("fuzz_job_argument", "the job argument parser: nine fields exactly, each stored whole or "
     "marked as cut", []),
    ("fuzz_job_document", "the job document reader on the Linux DOM: script instance and every "
     "step into a power request, within its fields, the walk ending",
     [os.path.join(REPO, "examples", "jobs")]),
    ("fuzz_status_document", "the status document, URL and fallback file name: every value "
     "recovered, the name one Windows accepts", []),
    ("fuzz_powercfg_command", "the Powercfg.exe command lines: a command that would run holds "
     "exactly the arguments its setting means, by the Windows command-line rules", []),
]
FORK_STATS = re.compile(r"^#(\d+): cov: .* oom/timeout/crash: (\d+)/(\d+)/(\d+) time: (\d+)s",
                        re.M)


def fuzz(target, args):
    build = os.path.abspath(args.fuzz_build_dir or os.path.join(REPO, "build", "fuzz"))
    bound = (f"{args.fuzz_runs:,} executions" if args.fuzz_runs
             else f"{args.seconds} seconds").replace(",", " ")
    table = Table(f"Fuzzing: libFuzzer with ASan and UBSan, each target for {bound}",
                  ["target", "property", "seconds", "executions", "crashes", "time-outs",
                   "out of memory", "corpus"])
    for name, checks, extra_seeds in FUZZERS:
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
                       os.path.join(REPO, "tests", "fuzz", "corpus", name), *extra_seeds]
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
    table.notes.append(
        "Each target runs in libFuzzer's fork mode (one worker, -fork=1), going on after any "
        "crash so every crash is counted, with a fresh corpus seeded from tests/fuzz/corpus "
        "(and examples/jobs for the job document); inputs up to 4096 bytes, 10 s and 2 GB "
        "each.")
    return [table]


# ---------------------------------------------------------------------------
# The report

SECTIONS = {
    "concurrency": ("Concurrent runs", concurrency),
    "fuzz": ("Fuzzing", fuzz),
}
# Sections that measure the fuzz build, whatever the target.
TARGETLESS = {"fuzz"}

PREAMBLE = """# Reliability figures

Measured by `scripts/reliability.py`; every figure below is one the script
measured, on the commit, date and machine its section names. Regenerate the
whole file with

    scripts/reliability.py all --fuzz-runs 10000000 --write docs/reliability.md
    scripts/reliability.py all --target wine --write docs/reliability.md

(the first takes hours: it fuzzes each target ten million times); a section
run on its own (`scripts/reliability.py faults --write docs/reliability.md`)
replaces its own block and keeps the others with their own dates.
"""


def machine_description(target_name):
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
    if target_name == "wine":
        version = subprocess.run(["wine", "--version"], capture_output=True, text=True)
        parts.append(version.stdout.strip() or "wine")
    return ", ".join(parts)


def block_key(name, target_name):
    return name if name in TARGETLESS else f"{name} {target_name}"


def write_report(path, blocks):
    """Replaces the blocks measured now in the report at `path`, keeping the
    others; blocks stand in the order of SECTIONS, Linux before Wine."""
    kept = {}
    try:
        with open(path, encoding="utf-8") as file:
            for match in re.finditer(r"<!-- begin (.+?) -->\n(.*?)<!-- end \1 -->\n",
                                     file.read(), re.S):
                kept[match.group(1)] = match.group(2)
    except OSError:
        pass
    kept.update(blocks)
    order = [block_key(name, t) for name in SECTIONS for t in ("linux", "wine")]
    text = PREAMBLE
    for key in dict.fromkeys(order):
        if key in kept:
            text += f"\n<!-- begin {key} -->\n{kept[key]}<!-- end {key} -->\n"
    with open(path, "w", encoding="utf-8") as file:
        file.write(text)


def main():
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("sections", nargs="+", metavar="SECTION",
                        choices=list(SECTIONS) + ["all"])
    parser.add_argument("--target", choices=["linux", "wine"], default="linux")
    parser.add_argument("--build-dir")
    parser.add_argument("--fuzz-build-dir")
    parser.add_argument("--prefix")
    parser.add_argument("--processes", type=int, default=8)
    parser.add_argument("--lines", type=int, default=1000)
    parser.add_argument("--jobs", type=int, default=8)
    parser.add_argument("--seconds", type=int, default=10)
    parser.add_argument("--fuzz-runs", type=int)
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--write", metavar="FILE")
    args = parser.parse_args()

    names = list(SECTIONS) if "all" in args.sections else list(dict.fromkeys(args.sections))
    if args.target == "wine":
        names = [n for n in names if n not in TARGETLESS or "all" not in args.sections]
    target = Target(args) if any(n not in TARGETLESS for n in names) else None
    commit = subprocess.run(["git", "-C", REPO, "rev-parse", "--short", "HEAD"],
                            capture_output=True, text=True).stdout.strip() or "unknown"
    dirty = subprocess.run(["git", "-C", REPO, "status", "--porcelain", "--untracked-files=no"],
                           capture_output=True, text=True).stdout.strip()
    failures = 0
    blocks = {}
    for name in names:
        title, section = SECTIONS[name]
        where = "the fuzz build" if name in TARGETLESS else (
            "the Linux program on the simulated machine" if args.target == "linux"
            else "the Windows program under Wine")
        head = (f"## {title} ({where})\n\nMeasured {datetime.date.today().isoformat()} on "
                f"commit {commit}{' with changes not yet committed' if dirty else ''}, "
                f"{machine_description(args.target if target else 'linux')}.\n\n")
        print(head, end="", flush=True)
        text = head
        for table in section(target, args):
            print(table.markdown(), flush=True)
            text += table.markdown() + "\n"
            failures += len(table.failures)
        blocks[block_key(name, args.target)] = text
    if args.write:
        write_report(args.write, blocks)
    return 1 if args.check and failures else 0


if __name__ == "__main__":
    sys.exit(main())
