#!/usr/bin/env python3
"""Rehearses a sample job with zrt-check --machine on the bundled XP laptop and
runs the program itself on a copy of the same machine with the same argument:
the activity log, the status documents, the commands and the changes the
rehearsal reports must be what the program did, and the bundled machine must
be left untouched.

  rehearsal_vs_program.py --build-dir build/linux"""
import argparse
import hashlib
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

REPO = pathlib.Path(__file__).resolve().parents[2]
MACHINE = REPO / "examples" / "machines" / "xp-laptop"
JOB = REPO / "examples" / "jobs" / "modify-night-shift.xml"


def tree_digest(folder):
    digest = hashlib.sha256()
    for path in sorted(folder.rglob("*")):
        digest.update(str(path.relative_to(folder)).encode())
        if path.is_file():
            digest.update(path.read_bytes())
    return digest.hexdigest()


def zero(value):
    return value in (0, False, "") and not isinstance(value, (dict, list))


def flatten(prefix, value, out):
    if isinstance(value, dict):
        for key, item in value.items():
            flatten(f"{prefix}.{key}" if prefix else key, item, out)
    else:
        out[prefix] = value


def changes(before, after):
    """What changed, as the rehearsal names it: schemes by index (added and
    removed by name, others field by field), then every other member; an
    absent member equals a zero one."""
    found = set()
    old = {s["index"]: s for s in before.get("schemes", [])}
    new = {s["index"]: s for s in after.get("schemes", [])}
    flat_old, flat_new = {}, {}
    for index in old.keys() | new.keys():
        what = f"schemes[{index}]"
        if index not in new:
            found.add((what, json.dumps(old[index].get("name", "")), None))
        elif index not in old:
            found.add((what, None, json.dumps(new[index].get("name", ""))))
        else:
            flatten(what, old[index], flat_old)
            flatten(what, new[index], flat_new)
    flatten("", {k: v for k, v in before.items() if k != "schemes"}, flat_old)
    flatten("", {k: v for k, v in after.items() if k != "schemes"}, flat_new)
    for what in flat_old.keys() | flat_new.keys():
        b, a = flat_old.get(what), flat_new.get(what)
        if b == a or (what not in flat_old and zero(a)) or (what not in flat_new and zero(b)):
            continue
        found.add((what, None if what not in flat_old else json.dumps(b),
                   None if what not in flat_new else json.dumps(a)))
    return {(w, b and json.loads(b), a and json.loads(a)) for w, b, a in found}


def compare(build, answers, program):
    """The problems of one rehearsal against the program's own run."""
    with tempfile.TemporaryDirectory() as scratch:
        machine = pathlib.Path(scratch) / "machine"
        shutil.copytree(MACHINE, machine)
        if answers is not None:
            for library in machine.rglob("zCourier.dll"):
                library.write_text(json.dumps({"answers": answers}))
        digest = tree_digest(machine)
        checked = subprocess.run([build / "zrt-check", "--machine", machine, "--json", JOB],
                                 capture_output=True, check=False)
        report = json.loads(checked.stdout)
        rehearsal = report["rehearsal"]
        problems = []
        if tree_digest(machine) != digest:
            problems.append("the machine folder changed")
        # A status only filed (the post hung) is a warning.
        if rehearsal["outcome"] != "1" or checked.returncode != (0 if answers is None else 1):
            problems.append(f"outcome {rehearsal['outcome']}, exit code {checked.returncode}")

        (machine / "drive_c" / "Jobs").mkdir(parents=True, exist_ok=True)
        shutil.copy(JOB, machine / "drive_c" / "Jobs" / JOB.name)
        before = json.loads((machine / "power.json").read_text())
        subprocess.run([build / program, rehearsal["argument"]], check=True,
                       env={**os.environ, "ZRT_SIM_MACHINE": str(machine)})
        after = json.loads((machine / "power.json").read_text())
        log = b"".join(p.read_bytes() for p in machine.rglob("*.Log")).decode("cp1252")
        status = [p.read_bytes().decode("cp1252") for p in sorted(machine.rglob("QTVPostLogs/*"))]
        status += [json.loads(line)["texts"][1]
                   for line in (machine / "posts.jsonl").read_text().splitlines()]
        commands = [json.loads(line) for line in (machine / "commands.jsonl").read_text().splitlines()]

    bound = re.compile(r"within [^;]*;")  # the bound's length, which the two builds differ in
    if bound.sub("", "\r\n".join(rehearsal["log"]) + "\r\n") != bound.sub("", log):
        problems.append("the activity logs differ")
    if rehearsal["status"] != status:
        problems.append("the status documents differ")
    if [(c["command_line"], c["exit_code"]) for c in rehearsal["commands"]] != \
            [(c["command_line"], c["exit_code"]) for c in commands]:
        problems.append("the commands differ")
    reported = {(c["what"], c["before"] and json.loads(c["before"]),
                 c["after"] and json.loads(c["after"])) for c in rehearsal["changes"]}
    if reported != changes(before, after) or not reported:
        problems.append(f"the changes differ: {sorted(map(str, reported ^ changes(before, after)))}")
    print(f"{answers}: {len(rehearsal['commands'])} commands, {len(rehearsal['changes'])} changes, "
          f"{len(rehearsal['log'])} log lines compared")
    return problems


# The post library's answers, and the program to compare with.
CASES = [(None, "zReTessalyXP"), ([{"hangs": True}], "zReTessalyXP-shortpost")]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    build = pathlib.Path(parser.parse_args().build_dir)
    digest = tree_digest(MACHINE)
    problems = [f"{answers}: {p}" for answers, program in CASES
                for p in compare(build, answers, program)]
    if tree_digest(MACHINE) != digest:
        problems.append("the bundled machine folder changed")
    for problem in problems:
        print("FAILED:", problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
