#!/usr/bin/env python3
"""The capture's proof of fidelity, both ways: a Wine prefix is set up as a
bundled machine (with the test doubles), zrt-capture.exe captures it, and
the same job runs twice, with the Windows program in the prefix and with the
Linux program on the capture. The activity log (times aside), the status
documents, the commands and the resulting power state (the prefix captured
again after the Windows run) must be the same.

    round_trip.py --windows-build build/win32 --linux-program build/linux/zReTessalyXP
    round_trip.py ... --code-page 932    # the same under a Japanese machine

With --code-page the prefix runs under that ANSI code page (Wine's follows
LC_ALL), the capture must record it, and the jobs name their new scheme in
its script.

Normalised, and only these, the differences docs/wine.md and the scenarios'
shared prelude name: the system's message texts (Wine's against Windows'),
the order of schemes (the registry's order of index texts against the stored
order), the last error the process snapshot walk leaves behind (18 under
Wine, 0 on the simulated machine: the "OpenProcessToken" line written after
the shell is opened) and the times of day.

Exit code: 0 passed, 1 failed, 77 skipped (Wine, a program or the doubles
missing). Python standard library only.
"""

import argparse
import json
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time

REPO = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests"))
sys.path.insert(0, str(REPO / "scripts"))
from harness import target as rs  # noqa: E402
import placeholder  # noqa: E402
import unpack_capture  # noqa: E402

JOBS = REPO / "examples" / "jobs"
ARGUMENT = ("OD@#@5012@#@C:\\Jobs\\job.xml@#@J-77@#@jsmith@#@07/12/2026 14:05:09@#@I-9@#@0"
            "@#@SJ-3")
JOB_PATH = "C:\\Jobs\\job.xml"
# Ten jobs: creation, modification and deletion, steps the program refuses
# and documents it does not run, on a 32-bit and a 64-bit machine.
CASES = [
    ("xp-laptop", "create-field-work.xml"),
    ("xp-laptop", "modify-night-shift.xml"),
    ("xp-laptop", "delete-night-shift.xml"),
    ("xp-laptop", "delete-two-schemes.xml"),
    ("xp-laptop", "check-values.xml"),
    ("xp-laptop", "check-refusals.xml"),
    ("xp-laptop", "wrong-function.xml"),
    ("xp-x64-desktop", "create-field-work.xml"),
    ("xp-x64-desktop", "check-names.xml"),
    ("xp-x64-desktop", "delete-two-schemes.xml"),
]
# The ANSI code pages a round trip runs under: the locale that gives Wine the
# code page, and the name the jobs give their new scheme there.
CODE_PAGES = {1252: ("C.UTF-8", "Field Work"), 1251: ("ru_RU.UTF-8", "Полевая работа"),
              932: ("ja_JP.UTF-8", "予定表")}
CAPTURE = "zrt-capture.exe"
# The power state the comparison covers: what power.json holds of a machine.
POWER_MEMBERS = ("active_scheme", "hibernation_allowed", "standby_allowed", "capabilities",
                 "global_policy", "battery_alarms", "global_flags", "user_may_write")
# A time of day, with the half-day word of any locale after it (Japanese and
# Chinese locales write their own), or a fallback file's time stamp.
TIME = re.compile(r"\d\d:\d\d:\d\d(?: ?[AP]M| \S+)?|\d{17}")
# Error numbers, then the system's text for them: Wine's texts differ.
ERROR_TEXT = re.compile(r"^(\d+)$")


def windows_path(host):
    return "Z:" + str(host).replace("/", "\\")


class Failure(Exception):
    pass


class RoundTrip:
    def __init__(self, args):
        self.linux = pathlib.Path(args.linux_program)
        if not self.linux.is_file():
            raise rs.Skip(f"the Linux program is not built: {self.linux}")
        build = pathlib.Path(args.windows_build)
        self.capture = build / CAPTURE
        if not self.capture.is_file():
            raise rs.Skip(f"{CAPTURE} is not built: {self.capture}")
        self.code_page = args.code_page
        locale, self.scheme_name = CODE_PAGES[args.code_page]
        # A prefix of its own for each code page, so none carries another's.
        prefix = args.prefix or (None if args.code_page == 1252
                                 else build / f"wineprefix-{args.code_page}")
        self.wine = rs.WineTarget(build, prefix=prefix)
        self.wine.env["LC_ALL"] = locale
        self.preludes = rs.load_preludes()
        self.capture_seconds = []
        self.bare_start = build / "tests" / "tools" / "zrt_bare_start.exe"
        self.program_dir = None  # of the last case, whose machine the prefix still is
        self.machine_name = None

    def run_capture(self, program_dir, output, bundle):
        """Captures the prefix into the folder `output`, directly or (with
        `bundle`) as one bundle file unpacked by scripts/unpack_capture.py."""
        target = output.with_suffix(".json") if bundle else output
        started = time.monotonic()
        proc = self.wine.wine(f"{program_dir}\\{CAPTURE}", "--bundle" if bundle else "--folder",
                              windows_path(target), overrides="powrprof=n")
        self.capture_seconds.append(time.monotonic() - started)
        if proc.returncode != 0:
            raise Failure(f"{CAPTURE} ended with {proc.returncode}: "
                          + proc.stderr.decode("utf-8", "replace"))
        if bundle:
            problems = unpack_capture.unpack(json.loads(target.read_text("utf-8")), output)
            if problems:
                raise Failure(f"the bundle says the capture is incomplete: {problems}")

    def case(self, machine_name, job, work, bundle):
        document = (JOBS / job).read_text("utf-8").replace("Field Work", self.scheme_name)
        scenario = {"machine": machine_name, "argument": ARGUMENT,
                    "files": {JOB_PATH: {"text": document}}, "expect": {"log": {}}}
        if self.code_page != 1252:
            # The Wine target runs the program under the locale of this code page.
            scenario["machine_settings"] = {"code_pages": {"ansi": self.code_page}}
        machine = rs.read_json(rs.MACHINES / machine_name / "machine.json", {})
        program_path = machine.get("program_path",
                                   '"C:\\Program Files\\Merqel\\zReTessalyXP.exe"').strip('"')
        program_dir = program_path.rpartition("\\")[0]
        version = machine.get("version", {"major": 5, "minor": 1})
        wine_version = rs.WINE_VERSIONS[(version.get("major", 5), version.get("minor", 1))]
        before, after = work / "before", work / "after"
        self.program_dir = program_dir
        self.machine_name = machine_name

        def around_run(drive_c):
            host_dir = self.wine.drive_host(program_dir)
            shutil.copyfile(self.capture, host_dir / CAPTURE)
            # The machine reports one Windows version to every program.
            self.wine.wine("reg", "add",
                           f"HKCU\\Software\\Wine\\AppDefaults\\{CAPTURE}", "/v", "Version",
                           "/d", wine_version, "/f")
            # The Powercfg.exe double keeps the alarms and flags where Windows
            # does from its first command on; the set-up gave its own record.
            self.wine.wine(f"{program_dir}\\Powercfg.exe", "/LIST")
            (drive_c / rs.RUN_FOLDER / "commands.jsonl").unlink(missing_ok=True)
            self.run_capture(program_dir, before, bundle)
            return lambda: self.run_capture(program_dir, after, bundle)

        self.wine.around_run = around_run
        observed, _ = self.wine.run(scenario, "", self.preludes)
        windows = self.outcome(observed, rs.read_json(after / "power.json", {}))
        linux = self.outcome(*self.run_linux(before, document, work / "linux"))
        problems = []
        recorded = rs.read_json(before / "machine.json", {}).get("code_pages", {}).get("ansi")
        if recorded != self.code_page:
            problems.append(f"the capture records the ANSI code page {recorded}, "
                            f"not {self.code_page}")
        if not windows["log"] or not windows["schemes"]:
            problems.append("the Windows run left no log or its machine no schemes")
        for what in windows:
            if windows[what] != linux[what]:
                problems.append(f"{what} differ:\n  Windows: {json.dumps(windows[what])}\n"
                                f"  Linux:   {json.dumps(linux[what])}")
        return problems

    def run_linux(self, capture, document, folder):
        shutil.copytree(capture, folder)
        job = folder / "drive_c" / "Jobs" / "job.xml"
        job.parent.mkdir(parents=True, exist_ok=True)
        job.write_text(document, "utf-8")
        observed = rs.Observed()
        proc = subprocess.run([str(self.linux), ARGUMENT], env={"ZRT_SIM_MACHINE": str(folder)},
                              capture_output=True, timeout=120)
        if proc.returncode != 0:
            raise Failure(f"the Linux program ended with {proc.returncode}: "
                          + proc.stderr.decode("utf-8", "replace"))
        rs.collect_files(folder / "drive_c", "C", observed)
        observed.read_records(folder)
        return observed, rs.read_json(folder / "power.json", {})

    def outcome(self, observed, power):
        logs = []
        for folder, name, raw in sorted(observed.log_files):
            text, _ = rs.undo_text_mode(raw)
            header, records, junk = rs.parse_log(text)
            logs.append({"file": f"{folder}\\{name}",
                         "header": [TIME.sub("<time>", line) for line in header],
                         "records": [normalise_record(r) for r in records], "junk": junk})
        return {
            "log": logs,
            "status": [[TIME.sub("<time>", text or "") for text in post[:2]]
                       for post in observed.posts],
            "fallback": [name for _, name, _ in observed.fallback_files],
            "commands": [[c.get("command_line"), c.get("account"), c.get("exit_code")]
                         for c in observed.commands],
            "power": {member: power.get(member) for member in POWER_MEMBERS},
            "schemes": sorted(([s["index"], s.get("name"), s.get("description"),
                                s.get("policy", {})] for s in power.get("schemes", [])),
                              key=lambda s: s[0]),
        }


    def incomplete(self, work):
        """Without the power-profile double, Wine's own stubs refuse the
        scheme enumeration: the capture still writes the machine, says what
        it could not read, and ends with 1. It is anonymised with a key, and
        its placeholders are those Python's hmac module makes (the CryptoAPI's
        SHA-256 under Wine); without a key it refuses to anonymise."""
        bundle = work / "plain.json"
        key = work / "fleet.key"
        placeholder.make_key(key)
        problems = []
        keyless = self.wine.wine(f"{self.program_dir}\\{CAPTURE}", "--anonymise", "--bundle",
                                 windows_path(bundle))
        if keyless.returncode != 2 or bundle.exists():
            problems.append(f"--anonymise without a key ended with {keyless.returncode}, not 2")
        proc = self.wine.wine(f"{self.program_dir}\\{CAPTURE}", "--anonymise-key",
                              windows_path(key), "--bundle", windows_path(bundle))
        if proc.returncode != 1:
            problems.append(f"{CAPTURE} on plain Wine ended with {proc.returncode}, not 1")
        captured = json.loads(bundle.read_text("utf-8")) if bundle.exists() else {}
        power = json.loads(captured.get("files", {}).get("power.json", {}).get("text", "{}"))
        if captured.get("complete") is not False or \
                power.get("failures", {}).get("EnumPwrSchemes") != 2:
            problems.append(f"the capture on plain Wine is not marked as missing the schemes: "
                            f"{captured.get('problems')}, {power.get('failures')}")
        if b"EnumPwrSchemes" not in proc.stderr:
            problems.append("the error output does not name what could not be read")
        registry = json.loads(captured.get("files", {}).get("registry.json", {}).get("text", "{}"))
        given = rs.read_json(rs.MACHINES / self.machine_name / "registry.json", {})
        for path, content in given.get("keys", {}).items():
            for name in ("REGID", "MEMBERID", "SITEID", "TYPE"):
                want = placeholder.placeholder(key.read_bytes(), name, content["values"][name])
                got = registry.get("keys", {}).get(path, {}).get("values", {}).get(name)
                if got != want:
                    problems.append(f"{name} became {got!r}, not the keyed placeholder {want!r}")
        return problems

    def figure(self, runs, work):
        """A capture's own time beside a bare program start, each started
        with the prefix's loader in the started prefix, alternately, `runs`
        times: (median, min, max) in seconds of both."""
        host_dir = self.wine.drive_host(self.program_dir)
        shutil.copyfile(self.bare_start, host_dir / self.bare_start.name)
        captures, bare = [], []
        for run in range(runs):
            self.capture_seconds = []
            self.run_capture(self.program_dir, work / f"figure-{run}", bundle=False)
            captures += self.capture_seconds
            started = time.monotonic()
            self.wine.wine(f"{self.program_dir}\\{self.bare_start.name}")
            bare.append(time.monotonic() - started)
        return [(sorted(t)[len(t) // 2], min(t), max(t)) for t in (captures, bare)]


def normalise_record(record):
    """A log record (user, module, type, val1, val2, val3) with the system's
    message text after an error number left out."""
    record = list(record)
    if record[1:5] == ["WinMain", "ERROR", "OpenProcessToken", ""] and record[5] in ("0", "18"):
        record[5] = "<last error of the snapshot walk>"
    for i in (4, 5):
        if i - 1 >= 0 and ERROR_TEXT.match(record[i - 1] or "") and record[i].endswith("\r\n"):
            record[i] = "<system text>"
    # "... : <system text>" in the failure texts the operations log.
    record = [re.sub(r" : [^\t]*\r\n", " : <system text>", v) for v in record]
    record = [re.sub(r"(\[\d+\]::)[^\t]*\r\n", r"\1<system text>", v) for v in record]
    return record


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--windows-build", required=True)
    parser.add_argument("--linux-program", required=True)
    parser.add_argument("--prefix")
    parser.add_argument("--code-page", type=int, choices=sorted(CODE_PAGES), default=1252,
                        help="the ANSI code page the prefix runs under (default 1252)")
    parser.add_argument("--only", type=int, action="append",
                        help="run only these cases (1 to 10)")
    parser.add_argument("--figure", type=int, metavar="RUNS",
                        help="then time RUNS captures beside RUNS bare program starts")
    args = parser.parse_args()
    try:
        trip = RoundTrip(args)
    except rs.Skip as e:
        print(f"skipped: {e}")
        return rs.EXIT_SKIP
    failed = 0
    for number, (machine, job) in enumerate(CASES, 1):
        if args.only and number not in args.only:
            continue
        work = pathlib.Path(tempfile.mkdtemp(prefix="zrt-round-trip-"))
        try:
            # Every other case goes through the bundle.
            problems = trip.case(machine, job, work, bundle=number % 2 == 0)
        except rs.Skip as e:
            print(f"skipped: {e}")
            return rs.EXIT_SKIP
        except (Failure, rs.ScenarioError) as e:
            problems = [str(e)]
        finally:
            shutil.rmtree(work, ignore_errors=True)
        print(f"{'ok  ' if not problems else 'FAIL'} {number:2} {machine} {job}")
        for problem in problems:
            print("     " + problem.replace("\n", "\n     "))
        failed += bool(problems)
    if trip.program_dir:
        work = pathlib.Path(tempfile.mkdtemp(prefix="zrt-round-trip-"))
        try:
            problems = trip.incomplete(work)
        finally:
            shutil.rmtree(work, ignore_errors=True)
        print(f"{'ok  ' if not problems else 'FAIL'} an incomplete capture (plain Wine)")
        for problem in problems:
            print("     " + problem)
        failed += bool(problems)
    seconds = sorted(trip.capture_seconds)
    if seconds:
        print(f"capture under Wine: median {seconds[len(seconds) // 2]:.2f} s "
              f"over {len(seconds)} captures")
    if args.figure and trip.program_dir:
        work = pathlib.Path(tempfile.mkdtemp(prefix="zrt-round-trip-"))
        try:
            (capture, bare) = trip.figure(args.figure, work)
        finally:
            shutil.rmtree(work, ignore_errors=True)
        print(f"figure over {args.figure} runs each, median (min, max): capture "
              f"{capture[0] * 1000:.0f} ms ({capture[1] * 1000:.0f}, {capture[2] * 1000:.0f}), "
              f"bare start {bare[0] * 1000:.0f} ms ({bare[1] * 1000:.0f}, {bare[2] * 1000:.0f})")
    print(f"{len(CASES) - failed if not args.only else len(args.only) - failed} passed, "
          f"{failed} failed")
    return rs.EXIT_FAIL if failed else rs.EXIT_PASS


if __name__ == "__main__":
    sys.exit(main())
