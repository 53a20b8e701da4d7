#!/usr/bin/env python3
"""zrt-check --fleet on the sample fleet (made by scripts/make_sample_fleet.py):
the summary must be tests/check/fleet.txt, the JSON must tell the same groups,
the page must be self-contained and list every machine, the output must not
depend on how many rehearsals run at once, and the fleet must be left
untouched. Then a fleet of a hanging machine and a stray file: each is its
own group, nothing is dropped.

  fleet.py --program build/linux/zrt-check [--update]"""
import argparse
import json
import pathlib
import shutil
import subprocess
import sys
import tempfile

from rehearsal_vs_program import tree_digest as digest  # beside this script

REPO = pathlib.Path(__file__).resolve().parents[2]
EXPECTED = REPO / "tests" / "check" / "fleet.txt"
JOB = REPO / "examples" / "jobs" / "create-field-work.xml"


def run(program, cwd, *args):
    done = subprocess.run([program, JOB.name, "--fleet", "fleet", *args], cwd=cwd,
                          capture_output=True, timeout=120)
    return done.returncode, done.stdout.decode("utf-8")


def named(machines):
    return ", ".join(machines[:3]) + (f" and {len(machines) - 3} more" if len(machines) > 3 else "")


def groups_as_text(report):
    """The group lines of the text summary, made from the JSON."""
    lines = ["Outcomes:"]
    for g in report["outcomes"]:
        lines += [f"  {g['count']} {g['outcome']}" + (f": {g['message']}" if g["message"] else ""),
                  "      " + named(g["machines"])]
    lines += ["", "Commands run:"]
    for g in report["commands"]:
        lines += [f"  {g['count']} [exit {json.dumps(g['exit_code'])}] {g['command_line']}",
                  "      " + named(g["machines"])]
    lines += ["", "Changes on the machines:"]
    for g in report["changes"]:
        b, a = g["before"], g["after"]
        change = f"added {a}" if not b else f"removed {b}" if not a else f"{b} -> {a}"
        lines += [f"  {g['count']} {g['what']}: {change}", "      " + named(g["machines"])]
    return lines


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--update", action="store_true")
    args = parser.parse_args()
    args.program = pathlib.Path(args.program).resolve()
    problems = []

    with tempfile.TemporaryDirectory() as scratch:
        work = pathlib.Path(scratch)
        subprocess.run([sys.executable, REPO / "scripts" / "make_sample_fleet.py", work / "fleet"],
                       check=True, capture_output=True)
        shutil.copy(JOB, work / JOB.name)
        before = digest(work / "fleet")

        code, text = run(args.program, work)
        if args.update:
            EXPECTED.write_text(text, encoding="utf-8")
        elif text != EXPECTED.read_text(encoding="utf-8") or code != 2:
            import difflib
            sys.stdout.writelines(difflib.unified_diff(
                EXPECTED.read_text(encoding="utf-8").splitlines(True), text.splitlines(True),
                "expected", "printed"))
            problems.append(f"the summary is not {EXPECTED.name} (exit code {code})")
        if run(args.program, work, "--jobs", "1") != (code, text):
            problems.append("one rehearsal at a time prints another summary")

        code, out = run(args.program, work, "--json", "--html", "fleet.html")
        report = json.loads(out)
        start = text.index("Outcomes:")
        wanted = text[start:text.index("\n\n", text.index("Changes on the machines:"))]
        if groups_as_text(report) != wanted.splitlines() or report["exit_code"] != code:
            problems.append("the JSON groups differ from the text's")
        counts = sum(g["count"] for g in report["outcomes"])
        if counts != report["machine_count"] or counts != len(list((work / "fleet").iterdir())):
            problems.append(f"{counts} machines in the outcome groups of {report['machine_count']}")
        page = (work / "fleet.html").read_text(encoding="utf-8")
        if any(outside in page for outside in ("http:", "https:", "src=", "<link", "@import")):
            problems.append("the page reaches outside itself")
        if any(f"<tr><td>{m['machine']}</td>" not in page for m in report["machines"]):
            problems.append("the page's table misses machines")
        if digest(work / "fleet") != before:
            problems.append("the fleet's folders changed")

        # A machine whose post library never returns, the same machine as a
        # capture bundle made before, a file that is neither machine folder
        # nor bundle, and two folders with the same fault (one group, whatever
        # their paths): each its own group.
        shutil.rmtree(work / "fleet")
        subprocess.run([sys.executable, REPO / "scripts" / "make_sample_fleet.py",
                        work / "fleet", "--count", "1"], check=True, capture_output=True)
        machine = work / "fleet" / "acct-xp-01-001"
        (work / "fleet" / "acct.capture.json").write_text(json.dumps({
            "format": "zrt-capture", "version": 1, "complete": True, "problems": [],
            "files": {str(p.relative_to(machine)): {"hex": p.read_bytes().hex()}
                      for p in machine.rglob("*") if p.is_file()}}))
        for library in (work / "fleet").rglob("zCourier.dll"):
            library.write_text('{"answers": [{"hangs": true}]}')
        (work / "fleet" / "laptop.capture").write_text("not a folder")
        for empty in ("empty-1", "empty-2"):
            (work / "fleet" / empty).mkdir()
        code, out = run(args.program, work, "--json", "--timeout", "1")
        outcomes = {(g["outcome"], g["message"]): g["machines"]
                    for g in json.loads(out)["outcomes"]}
        wanted = {("not rehearsed", "the rehearsal did not end within 1 s"): ["acct-xp-01-001"],
                  ("Success", ""): ["acct.capture.json"],
                  ("not rehearsed", "a file, not a machine folder or a capture bundle"):
                      ["laptop.capture"],
                  ("not rehearsed", "the machine folder has no machine.json"):
                      ["empty-1", "empty-2"]}
        if outcomes != wanted or code != 2:
            problems.append(f"hanging machine and stray file: {outcomes}, exit code {code}")

        # No machine at all is no good news.
        for entry in (work / "fleet").iterdir():
            shutil.rmtree(entry) if entry.is_dir() else entry.unlink()
        code, out = run(args.program, work)
        if code != 2 or "the fleet folder holds no machine" not in out:
            problems.append(f"an empty fleet: exit code {code}")

    for problem in problems:
        print("FAILED:", problem)
    print(f"{len(report['machines'])} machines, {len(report['outcomes'])} outcome groups, "
          f"{len(report['commands'])} command groups, {len(report['changes'])} change groups")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
