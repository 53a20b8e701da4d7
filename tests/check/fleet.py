#!/usr/bin/env python3
"""zrt-check --fleet on the sample fleet (made by scripts/make_sample_fleet.py):
the summary must be tests/check/fleet.txt, the JSON must tell the same groups,
the page must be self-contained and list every machine, the output must not
depend on how many rehearsals run at once, and the fleet must be left
untouched. Then a fleet of faults (a post library that hangs or refuses, a
crash, a link loop, a FIFO, read-only and non-UTF-8 folders, stray files):
each ends in its own outcome and reason, at once (the program's waits pass
on the simulated clock), and nothing is dropped; --machine on a crashing
machine tells the crash and leaves no scratch folder, nor does a fleet
stopped midway; bad options are named.

  fleet.py --program build/linux/zrt-check [--update]"""
import argparse
import json
import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from rehearsal_vs_program import tree_digest as digest  # beside this script

REPO = pathlib.Path(__file__).resolve().parents[2]
EXPECTED = REPO / "tests" / "check" / "fleet.txt"
JOB = REPO / "examples" / "jobs" / "create-field-work.xml"


def run(program, cwd, *args, fleet=("--fleet", "fleet"), env=None, job=(JOB.name,)):
    done = subprocess.run([program, *job, *fleet, *args], cwd=cwd, env=env,
                          capture_output=True, timeout=600)
    return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8")


def write_json(path, value):
    path.write_text(json.dumps(value))


def named(machines):
    return ", ".join(machines[:3]) + (f" and {len(machines) - 3} more" if len(machines) > 3 else "")


HEADINGS = {"crashed": "crashed: changes made, no status", "did not end": "did not end: no status",
            "Powercfg.exe did not start": "Powercfg.exe could not start",
            "Success, filed": "Success, status filed, not delivered"}


def groups_as_text(report):
    """The group lines of the text summary, made from the JSON (whose values
    are JSON values, shown as the text shows them)."""
    lines = ["Outcomes, the worst first:"]
    kind = None
    for g in report["outcomes"]:
        if g["outcome"] != kind:
            kind = g["outcome"]
            n = report["outcome_counts"][kind]
            lines.append(f"  {HEADINGS.get(kind, kind)} ({n} machine{'' if n == 1 else 's'})")
        lines += [f"    {g['count']} " + (g["message"] or f"status {g['reason']}"),
                  "        " + named(g["machines"])]
    lines += ["", "Commands run:"]
    for g in report["commands"]:
        ended = g["trouble"] or f"exit {json.dumps(g['exit_code'])}"
        lines += [f"  {g['count']} [{ended}] {g['command_line']}", "      " + named(g["machines"])]
    lines += ["", "Changes on the machines:"]
    for g in report["changes"]:
        b, a = (json.dumps(v, ensure_ascii=False) if v is not None else None
                for v in (g["before"], g["after"]))
        change = f"added {a}" if b is None else f"removed {b}" if a is None else f"{b} -> {a}"
        lines += [f"  {g['count']} {g['what']}: {change}", "      " + named(g["machines"])]
    return lines


def fault_fleet(program, work, fleet):
    """The sample machines once each, with the faults of FAULTS added."""
    subprocess.run([sys.executable, REPO / "scripts" / "make_sample_fleet.py", fleet,
                    "--count", "15"], check=True, capture_output=True)
    machine = fleet / "acct-xp-01-001"
    write_json(fleet / "acct.capture.json", {
        "format": "zrt-capture", "version": 1, "complete": True, "problems": [],
        "files": {str(p.relative_to(machine)): {"hex": p.read_bytes().hex()}
                  for p in machine.rglob("*") if p.is_file()}})
    # Windows-1252 bytes, not UTF-8, and a name that spells such a byte out
    for name in ("ro-xp", "caf\udce9-01", "caf\udce8-02", "caf\\xe9-03"):
        shutil.copytree(machine, fleet / name)
    for path in sorted((fleet / "ro-xp").rglob("*"), reverse=True) + [fleet / "ro-xp"]:
        path.chmod(path.stat().st_mode & ~0o222)
    for name, answers in (("acct-xp-01-001", [{"hangs": True}]),
                          ("acct-xp-02-001", [{"result": "0", "error": "busy"}])):
        for library in (fleet / name).rglob("zCourier.dll"):
            write_json(library, {"answers": answers})
    shutil.copytree(machine, fleet / "twice-0")  # damaged where only the program reads it
    power = json.loads((fleet / "twice-0" / "power.json").read_text())
    power["schemes"][1]["index"] = power["schemes"][0]["index"]
    write_json(fleet / "twice-0" / "power.json", power)
    shutil.copytree(machine, fleet / "jobs-file")  # where the job goes, a file
    (fleet / "jobs-file" / "drive_c" / "Jobs").write_text("a file")
    shutil.copytree(machine, fleet / "lost-0")  # refused, and its fallback file may not be written
    write_json(next((fleet / "lost-0").rglob("zCourier.dll")), {"answers": [{"result": "0"}]})
    settings = json.loads((fleet / "lost-0" / "machine.json").read_text())
    write_json(fleet / "lost-0" / "machine.json", {**settings, "write_denied": [
        "C:\\Documents and Settings\\All Users\\Application Data\\Merqel\\QTVPostLogs"]})
    # drives outside the machine folder: up, absolute, through a link
    for name, drive in (("out-up", "../../escaped"), ("out-abs", str(work)), ("out-link", "c")):
        shutil.copytree(machine, fleet / name)
        settings = json.loads((fleet / name / "machine.json").read_text())
        write_json(fleet / name / "machine.json", {**settings, "drives": {"C": drive}})
    (fleet / "out-link" / "c").symlink_to(work)
    shutil.copytree(machine, fleet / "pipe-json")
    (fleet / "pipe-json" / "machine.json").unlink()
    os.mkfifo(fleet / "pipe-json" / "machine.json")
    processes = fleet / "acct-xp-02-001" / "processes.json"  # a control in its log
    processes.write_text(processes.read_text().replace('"jsmith"', '"j\\u001bsmith"', 1))
    (fleet / "laptop.capture").write_text("not a folder")
    (fleet / "loop").symlink_to("loop")
    os.mkfifo(fleet / "pipe")
    for empty in ("empty-1", "empty-2"):
        (fleet / empty).mkdir()


# Entry of the fault fleet: outcome, reason, entry kind.
FAULTS = {
    "acct-xp-01-001": ("Success, filed", "hung", "folder"),
    "acct-xp-02-001": ("Success, filed", "refused", "folder"),
    "acct.capture.json": ("Success", "delivered", "bundle"),
    "ro-xp": ("Success", "delivered", "folder"),
    "caf\\xe9-01": ("Success", "delivered", "folder"),
    "caf\\xe8-02": ("Success", "delivered", "folder"),
    "caf\\x5cxe9-03": ("Success", "delivered", "folder"),
    "spare-xp-14-001": ("crashed", "crash", "folder"),
    "kiosk-xp-12-001": ("Powercfg.exe did not start", "powercfg-not-started", "folder"),
    "laptop.capture": ("not rehearsed", "not-a-machine", "file"),
    "loop": ("not rehearsed", "unreadable", "file"),
    "pipe": ("not rehearsed", "unreadable", "file"),
    "empty-1": ("not rehearsed", "damaged", "folder"),
    "empty-2": ("not rehearsed", "damaged", "folder"),
    "twice-0": ("not rehearsed", "damaged", "folder"),
    "lost-0": ("no status", "no-status", "folder"),
    "jobs-file": ("not rehearsed", "damaged", "folder"),
    **{name: ("not rehearsed", "damaged", "folder") for name in ("out-up", "out-abs", "out-link")},
    "pipe-json": ("not rehearsed", "damaged", "folder"),
}

# Bad values: each is named, and nothing is rehearsed.
BAD_OPTIONS = [("--jobs", "0"), ("--jobs", "100000"), ("--timeout", "-1"), ("--timeout", "0"),
               ("--html", "missing/page.html")]
# Command lines that cannot be followed: each says why.
MISUSES = [((JOB.name, "--bogus"), "--bogus: not an option"),
           ((JOB.name, "--machine"), "--machine: wants a value"),
           ((JOB.name, "--machine", "m", "--html", "p.html"), "--html goes with"),
           ((JOB.name, "--shard", "1/2"), "--shard goes with --fleet"),
           (("--merge", "a.json", "--timeout", "5"), "go with --fleet"),
           (("--merge",), "wants at least one RESULT.json"), (("--json",), "no job document"),
           ((JOB.name, "--fleet", "a", "--fleet", "b"), "--fleet given twice")]


def sample_fleet(work):
    """The sample fleet in `work`/fleet, and the job document beside it."""
    subprocess.run([sys.executable, REPO / "scripts" / "make_sample_fleet.py", work / "fleet"],
                   check=True, capture_output=True)
    shutil.copy(JOB, work / JOB.name)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--update", action="store_true")
    args = parser.parse_args()
    args.program = pathlib.Path(args.program).resolve()
    problems = []

    with tempfile.TemporaryDirectory() as scratch:
        work = pathlib.Path(scratch)
        sample_fleet(work)
        before = digest(work / "fleet")

        code, text, _ = run(args.program, work)
        if args.update:
            EXPECTED.write_text(text, encoding="utf-8")
        elif text != EXPECTED.read_text(encoding="utf-8") or code != 2:
            import difflib
            sys.stdout.writelines(difflib.unified_diff(
                EXPECTED.read_text(encoding="utf-8").splitlines(True), text.splitlines(True),
                "expected", "printed"))
            problems.append(f"the summary is not {EXPECTED.name} (exit code {code})")
        if run(args.program, work, "--jobs", "1")[:2] != (code, text):
            problems.append("one rehearsal at a time prints another summary")

        code, out, _ = run(args.program, work, "--json", "--html", "fleet.html")
        report = json.loads(out)
        start = text.index("Outcomes,")
        wanted = text[start:text.index("\n\n", text.index("Changes on the machines:"))]
        if groups_as_text(report) != wanted.splitlines() or report["exit_code"] != code:
            problems.append("the JSON groups differ from the text's")
        counts = sum(g["count"] for g in report["outcomes"])
        entries = [e for e in (work / "fleet").iterdir() if not e.name.startswith(".")]
        if counts != report["machine_count"] or counts != len(entries):
            problems.append(f"{counts} machines in the outcome groups of {report['machine_count']}")
        for row in report["machines"]:  # a row's lists are the groups that name it
            for what in ("commands", "changes"):
                named_in = sum(row["machine"] in g["machines"] for g in report[what])
                if named_in != len(row[what]):
                    problems.append(f"{row['machine']}: {len(row[what])} {what}, in {named_in} groups")
        page = (work / "fleet.html").read_text(encoding="utf-8")
        if any(outside in page for outside in (" src=", 'href="http', "<link", "@import", "url(")):
            problems.append("the page reaches outside itself")
        if any(f"<td class=name>{m['machine']}</td>" not in page for m in report["machines"]):
            problems.append("the page's table misses machines")
        if not all(part in page for part in ('<html lang="en">', 'aria-sort=none><button',
                                               'id=filter', '<a href="#m0">', '<details>')):
            problems.append("the page lacks its language, sort buttons, filter, links or details")
        row = report["machines"][0]  # its log as a single rehearsal tells it
        single = json.loads(run(args.program, work, "--json",
                                fleet=("--machine", f"fleet/{row['machine']}"))[1])
        if single["rehearsal"]["log"][-len(row["log"]):] != row["log"]:
            problems.append(f"{row['machine']}: the row's log is not the rehearsal's")
        if digest(work / "fleet") != before:
            problems.append("the fleet's folders changed")

        # The fault fleet, with the default time-out: a hang is told by the
        # simulated clock, not by a short limit on every rehearsal.
        shutil.rmtree(work / "fleet")
        fault_fleet(args.program, work, work / "fleet")
        code, out, _ = run(args.program, work, "--json", "--html", "fleet.html")
        rows = {m["machine"]: (m["outcome"], m["reason"], m["entry"])
                for m in json.loads(out)["machines"]}
        got = {name: rows.get(name) for name in FAULTS}
        if got != FAULTS or code != 2:
            problems.append(f"fault fleet: {got}, exit code {code}")
        said = {m["machine"]: m["message"] for m in json.loads(out)["machines"]}
        if said["jobs-file"] != "drive_c/Jobs: Not a directory":
            problems.append(f"jobs-file: {said['jobs-file']!r}")
        if any(m["delivery"] != "none" for m in json.loads(out)["machines"] if m["reason"] == "crash"):
            problems.append("a crash in the post is told as a status delivered")
        outcomes = json.loads(out)["outcomes"]
        if [g["outcome"] for g in outcomes][0] != "crashed" or outcomes[-1]["outcome"] != "Success":
            problems.append(f"outcomes not the worst first: {[g['outcome'] for g in outcomes]}")
        if any(m.endswith("\n") for g in outcomes for m in [g["message"]]):
            problems.append("a message ends in a line end")
        # The page holds no controls; a row's outcome sorts by its rank (the
        # groups' order) and is found by its group's heading.
        page = (work / "fleet.html").read_text(encoding="utf-8")
        if re.search("[\x00-\x08\x0b\x0c\x0e-\x1f\x7f]", page) or "j\\x1bsmith" not in page:
            problems.append("the page holds a control as it came")
        cells = re.findall(r'<td class=k data-sort=(\d+) title="(.*?) \(', page)
        kinds = [m["outcome"] for m in json.loads(out)["machines"]]
        ranked = [kind for _, kind in sorted({(int(r), kind) for (r, _), kind in zip(cells, kinds)})]
        if ([h for _, h in cells] != [HEADINGS.get(k, k) for k in kinds]
                or ranked != list(dict.fromkeys(g["outcome"] for g in outcomes))):
            problems.append(f"the page's outcome cells: {cells}")

        # A modification that respells the active scheme's name changes no
        # active scheme. The fleet's folder name is no UTF-8, and shown as such.
        renamed, xp = work / "renamed", work / "renamed" / "fleet\udce9" / "xp"
        shutil.copytree(REPO / "examples" / "machines" / "xp-laptop", xp)
        power = json.loads((xp / "power.json").read_text())
        write_json(xp / "power.json", {**power, "active_scheme": 6})
        job = (REPO / "examples" / "jobs" / "modify-night-shift.xml").read_text()
        (renamed / JOB.name).write_text(job.replace("Night Shift", "night shift"))
        code, out, _ = run(args.program, renamed, "--json", fleet=("--fleet", xp.parent.name))
        whats = [g["what"] for g in json.loads(out)["changes"]]
        if "active_scheme" in whats or 'schemes["Night Shift"].name' not in whats:
            problems.append(f"respelled active scheme: {whats}")
        if json.loads(out)["fleet"] != "fleet\\xe9":
            problems.append(f"the fleet is shown as {json.loads(out)['fleet']!r}")

        # A name outside Windows-1252 fails no fleet whose machines take it.
        shutil.copytree(work / "fleet" / "plant-xp-15-001", work / "ru" / "fleet" / "ru-1251")
        (work / "ru" / JOB.name).write_text(JOB.read_text().replace("Field Work", "Ночная смена"),
                                            encoding="utf-8")
        code, out, _ = run(args.program, work / "ru")
        if code != 1 or "1 of 1 machine ends in Success" not in out:
            problems.append(f"a Cyrillic name on a Cyrillic fleet: exit code {code}")

        # --machine on the machine that crashes: told, in a child, and the
        # scratch folder goes.
        tmp = work / "tmp"
        tmp.mkdir()
        code, out, _ = run(args.program, work, fleet=("--machine", "fleet/spare-xp-14-001"),
                           env=dict(os.environ, TMPDIR=str(tmp)))
        if code != 2 or "the program died of signal 11" not in out or any(tmp.iterdir()):
            problems.append(f"--machine on a crash: exit code {code}, left {list(tmp.iterdir())}")

        # Stopped midway, a fleet ends by the signal, with its scratch folders
        # and its unfinished page gone.
        subprocess.run([sys.executable, REPO / "scripts" / "make_sample_fleet.py", work / "big",
                        "--count", "100"], check=True, capture_output=True)
        busy = subprocess.Popen([args.program, JOB.name, "--fleet", "big", "--jobs", "1", "--html",
                                 "big.html"], cwd=work, env=dict(os.environ, TMPDIR=str(tmp)),
                                stdout=subprocess.DEVNULL)
        while not any(tmp.glob("*/*/machine")) and busy.poll() is None:
            time.sleep(0.001)
        busy.terminate()
        code = busy.wait()
        left = [p.name for p in [*tmp.iterdir(), *work.glob("*big.html*")]]
        if code != -signal.SIGTERM or left:
            problems.append(f"a stopped fleet: exit code {code}, left {left}")

        # --machine tells what the fleet files apart from Success, at its level.
        for entry, said, wanted in (("lost-0", "error: the status is lost", 2),
                                    ("acct-xp-02-001", "warning: the status is filed", 1),
                                    ("kiosk-xp-12-001", "error: Powercfg.exe did not start", 2)):
            code, out, _ = run(args.program, work, fleet=("--machine", f"fleet/{entry}"))
            if code != wanted or said not in out:
                problems.append(f"--machine fleet/{entry}: exit code {code}, not {said!r}")
        out = run(args.program, work, fleet=("--machine", "fleet/caf\udce9-01"))[1]
        if "machine fleet/caf\\xe9-01 (left untouched)" not in out:
            problems.append("--machine shows a name that is no UTF-8 in another code page")

        for entry in ("pipe", "laptop.capture", "empty-1", "missing"):  # named, as in a fleet
            code, out, err = run(args.program, work, fleet=("--machine", f"fleet/{entry}"))
            if code != 2 or not err.startswith(f"zrt-check: fleet/{entry}"):
                problems.append(f"--machine fleet/{entry}: exit code {code}, said {err!r}")

        for option, value in BAD_OPTIONS:
            code, out, err = run(args.program, work, option, value)
            if code != 2 or f"{value}:" not in err or out:
                problems.append(f"{option} {value}: exit code {code}, said {err!r}")

        for line, said in MISUSES:
            code, out, err = run(args.program, work, *line, fleet=(), job=())
            if code != 2 or said not in err or "usage:" not in err or out:
                problems.append(f"{' '.join(line)}: exit code {code}, said {err!r}")

        # A run that fails keeps the page it would have replaced.
        kept = (work / "fleet.html").read_bytes()
        code, _, _ = run(args.program, work, "--html", "fleet.html", fleet=("--fleet", "missing"))
        if code != 2 or (work / "fleet.html").read_bytes() != kept:
            problems.append(f"a failed run left another page (exit code {code})")

        # A host that lets it down is told, not taken for a result.
        with open("/dev/full", "wb") as full:
            for said, env, out in (("no temporary folder", {"TMPDIR": str(work / "none")}, None),
                                   ("cannot write the output: No space", {}, full)):
                done = subprocess.run([args.program, JOB.name, "--fleet", "fleet", "--json"],
                                      cwd=work, env={**os.environ, **env}, stdout=out,
                                      stderr=subprocess.PIPE)
                if done.returncode != 2 or said not in done.stderr.decode():
                    problems.append(f"{said}: exit code {done.returncode}, said {done.stderr!r}")

        # No machine at all is no good news.
        for entry in (work / "fleet").iterdir():
            shutil.rmtree(entry) if entry.is_dir() and not entry.is_symlink() else entry.unlink()
        code, out, _ = run(args.program, work)
        if code != 2 or "the fleet folder holds no machine" not in out:
            problems.append(f"an empty fleet: exit code {code}")

    for problem in problems:
        print("FAILED:", problem)
    print(f"{len(report['machines'])} machines, {len(report['outcomes'])} outcome groups, "
          f"{len(report['commands'])} command groups, {len(report['changes'])} change groups")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
