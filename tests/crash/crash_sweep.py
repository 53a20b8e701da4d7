#!/usr/bin/env python3
"""Crash-point sweep of the Linux program on the simulated machine.

For each job and post answer, the program is killed at its 1st, 2nd, ...
change of the machine (ZRT_SIM_CRASH_AT, docs/simulated-machine.md) until a
run ends by itself; after each kill a clean job runs on the same machine with
a post library that accepts. Per crash point the killed job's status must be
delivered (posted and accepted, or filed as a fallback file) exactly once,
none when the kill came before its pending file was written whole, and twice
only in the one named window (accepted, killed before the pending file
went); every filed file is a whole document, no pending file is left, every
log file has its one header at the top, the power state is whole and the
clean job's status is posted once. Prints the figures; exits 1 on any
failure.

    crash_sweep.py --build-dir build/linux [--json FILE]
"""

import argparse
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

REPO = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests"))
from harness.target import load_preludes, prepare_machine  # noqa: E402

DOC_END = b"</wpdcmscriptjobinstancestatus>"
KILLED = "<instanceid>I-9</instanceid>"
CLEAN = "<instanceid>I-clean</instanceid>"
CLEAN_ARGUMENT = "OD@#@5012@#@C:\\Jobs\\job.xml@#@J-clean@#@jsmith@#@07/12/2026 14:06:00@#@I-clean@#@0@#@SJ-4"
DATA = "drive_c/Documents and Settings/All Users/Application Data/Merqel"

JOBS = {
    "create": [{"action": "Create Scheme", "schemename": "Crash Point", "overwriteifexst": "0",
                "actpowesch": "1", "turnoffpi": "600", "powerbtn": "2", "procthrotac": "4",
                "lowbatactivate": "1", "lowbatlev": "12"}],
    "modify-missing": [{"action": "Modify Scheme", "schemename": "No Such Scheme",
                        "overwriteifexst": "0"}],
    "nothing": [{"action": "Archive Scheme", "schemename": "Night Shift"}],
}
ANSWERS = {
    "accepted": [{"result": "1"}],
    "failing": [{"result": "0"}],
    "hanging": [{"hangs": True}],
}


def statuses(folder, marker):
    """(accepted posts, filed files, pending files, kept-aside files, cut
    files) of the status whose document holds `marker`."""
    accepted = 0
    posts = folder / "posts.jsonl"
    for line in posts.read_text().splitlines() if posts.exists() else []:
        post = json.loads(line)
        answer = post.get("answer", {})
        if (marker in post["texts"][1] and post["outcome"] == "returned"
                and answer.get("result") == "1" and "error" not in answer):
            accepted += 1
    filed = pending = aside = cut = 0
    logs = folder / DATA / "QTVPostLogs"
    for f in sorted(logs.iterdir()) if logs.is_dir() else []:
        data = f.read_bytes()
        if f.suffix == ".incomplete":
            aside += 1
        elif marker.encode() in data:
            if f.suffix == ".xml":
                filed += 1
                cut += not data.endswith(DOC_END)
            elif f.suffix == ".pending":
                pending += 1
        elif f.suffix == ".xml" and not data.endswith(DOC_END):
            cut += 1
    return accepted, filed, pending, aside, cut


def log_faults(folder):
    faults = []
    logs = folder / DATA / "ApplicationLog" / "zQTVLog"
    for f in sorted(logs.iterdir()) if logs.is_dir() else []:
        lines = f.read_bytes().split(b"\r\n")
        headers = sum(line.startswith(b"#Software: ") for line in lines)
        if headers != 1 or not lines[0].startswith(b"#Software: "):
            faults.append(f"{f.name}: {headers} headers, first line {lines[0][:30]!r}")
    return faults


def power_faults(folder):
    try:
        power = json.loads((folder / "power.json").read_text())
    except (OSError, ValueError) as e:
        return [f"power.json unreadable: {e}"]
    indices = [s["index"] for s in power.get("schemes", [])]
    faults = []
    if len(indices) != len(set(indices)):
        faults.append(f"scheme indices taken twice: {indices}")
    if power.get("active_scheme", 0) not in indices:
        faults.append(f"active scheme {power.get('active_scheme')} is no scheme")
    return faults


def run(program, folder, argument, crash_at=0, note=None):
    env = dict(os.environ, ZRT_SIM_MACHINE=str(folder))
    env.pop("ZRT_SIM_CRASH_AT", None)
    if crash_at:
        env.update(ZRT_SIM_CRASH_AT=str(crash_at), ZRT_SIM_CRASH_NOTE=str(note))
    # A generous guard against a program that never ends; the hanging post
    # is bounded by the program itself (the short-bound build).
    return subprocess.run([str(program), argument], env=env, capture_output=True,
                          timeout=120).returncode


def sweep_one(build, job, answer, preludes, work):
    program = build / ("zReTessalyXP-shortpost" if answer == "hanging" else "zReTessalyXP")
    scenario = {"machine": preludes["machine"], "job": {"steps": JOBS[job]},
                "post_library": {"answers": ANSWERS[answer]}}
    counts = {"crash points": 0, "none": 0, "posted": 0, "filed": 0, "recovered": 0,
              "twice in the window": 0, "kept aside": 0}
    faults = []
    status_written = None  # the change that writes the pending file
    point = 0
    while True:
        point += 1
        folder = work / f"{job}-{answer}-{point}"
        prepare_machine(scenario, folder, preludes)
        note = work / "note"
        note.unlink(missing_ok=True)
        code = run(program, folder, preludes["vars"]["argument"], point, note)
        if code != -9:
            shutil.rmtree(folder)
            break
        change = note.read_text().rstrip("\n").split("\t")
        if status_written is None and change[1] == "write" and change[2].endswith(".pending"):
            status_written = point
        pending_before = statuses(folder, KILLED)[2]
        # The clean job, with a post library that accepts.
        (folder / "drive_c/Program Files/Merqel/zCourier.dll").write_text(
            json.dumps({"answers": [{"result": "1"}]}))
        run(program.with_name("zReTessalyXP"), folder, CLEAN_ARGUMENT)
        accepted, filed, pending, aside, cut = statuses(folder, KILLED)
        clean = statuses(folder, CLEAN)
        where = f"{job}/{answer} killed at change {point} ({change[1]} {change[2]})"
        delivered = accepted + filed
        existed = status_written is not None and point > status_written
        window = accepted and change[1] == "delete" and change[2].endswith(".pending")
        counts["crash points"] += 1
        counts["kept aside"] += aside
        if delivered == 0 and not existed:
            counts["none"] += 1
        elif delivered == 1:
            counts["posted" if accepted else "filed"] += 1
            counts["recovered"] += bool(filed and pending_before)
        elif delivered == 2 and window:
            counts["twice in the window"] += 1
        else:
            faults.append(f"{where}: status delivered {delivered} times "
                          f"({accepted} posted, {filed} filed)")
        if pending or cut:
            faults.append(f"{where}: {pending} pending left, {cut} cut files filed")
        if clean[:2] != (1, 0):
            faults.append(f"{where}: the clean job's status posted {clean[0]}, filed {clean[1]}")
        faults += [f"{where}: {f}" for f in log_faults(folder) + power_faults(folder)]
        shutil.rmtree(folder)
    return counts, faults


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", required=True, type=pathlib.Path)
    parser.add_argument("--json", type=pathlib.Path, help="write the figures here")
    args = parser.parse_args()
    preludes = load_preludes()
    work = pathlib.Path(tempfile.mkdtemp(prefix="zrt-crash-"))
    figures, faults = {}, []
    try:
        for job in JOBS:
            for answer in ANSWERS:
                counts, found = sweep_one(args.build_dir, job, answer, preludes, work)
                figures[f"{job}/{answer}"] = counts
                faults += found
                print(f"{job}/{answer}: " + ", ".join(f"{k} {v}" for k, v in counts.items()),
                      flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if args.json:
        args.json.write_text(json.dumps({"figures": figures, "faults": faults}, indent=2))
    for fault in faults:
        print("FAULT", fault)
    print(f"{sum(c['crash points'] for c in figures.values())} crash points, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
