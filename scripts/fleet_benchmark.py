#!/usr/bin/env python3
"""Measures zrt-check --machine and --fleet against their floors and prints Markdown.

    scripts/fleet_benchmark.py [--machines 100,1000] [--memory 10000] [--steps 10]
                               [--repeat 5] [--serial-sample 100] [--build-dir DIR]

The job is a creation job of --steps steps (step k creates "New scheme k"
with the settings of examples/jobs/create-field-work.xml); the machines are
the sample fleet's in turn (scripts/make_sample_fleet.py --count N). Every
figure is measured in the same run, through zrt_run_measured (wall time, CPU
time of the program and every child it waited for, peak memory):

1. One rehearsal against its floor: `zrt-check JOB --machine M` on the first
   sample machine, beside zrt_floor_rehearsal on the same machine (a fork,
   a copy of the machine folder, the same number of log lines of the same
   length written as the program writes them, reading them back, removal):
   once with the lines at the top of the copy, once in the folder where the
   program logs (found by running the Linux program on a copy), as deep as
   the program's. The median of --repeat runs of each, alternately.
2. The fleet against the single rehearsals, for each size of --machines:
   the fleet's wall and CPU time against the sum over its machines of
   `--machine` runs (--serial-sample machines spread evenly over the fleet
   measured, the sum scaled to the fleet: said in the table). The ratio of CPU per machine.
3. Peak memory by fleet size, with --json and --html (the sizes of
   --machines and --memory; --memory sizes are run once, fleet only).
4. With --shards N, the --memory fleet run as N shards at once on this host
   (`--shard K/N --json`), then merged (`zrt-check --merge`): wall, the
   largest peak of a shard and the merge's peak.

The load average before and after is printed: other work on the machine
takes cores from the fleet. Only the Python standard library is used."""
import argparse
import datetime
import os
import pathlib
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import json

REPO = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "scripts"))
import benchmark  # noqa: E402  (the job documents of the benchmark)


class Run:
    def __init__(self, wall_ns, peak_kib, code, cpu_ns):
        self.wall, self.peak, self.code, self.cpu = wall_ns / 1e9, peak_kib, code, cpu_ns / 1e9


def measured(build, result, argv, stdout=subprocess.DEVNULL):
    """One run through the starter."""
    # A rehearsal that the program crashes may leave its copy behind: keep
    # the copies in the run's own folder.
    subprocess.run([build / "tests" / "tools" / "zrt_run_measured", result, *argv],
                   stdout=stdout, stderr=subprocess.DEVNULL, check=False,
                   env={**os.environ, "TMPDIR": str(result.parent)})
    return Run(*(int(x) for x in result.read_text().split()))


def load():
    return ", ".join(f"{x:.1f}" for x in os.getloadavg())


def make_fleet(folder, n):
    subprocess.run([sys.executable, REPO / "scripts" / "make_sample_fleet.py", folder,
                    "--count", str(n)], check=True, stdout=subprocess.DEVNULL)
    return sorted(p for p in folder.iterdir() if not p.name.startswith("."))


def logged_lines(check, job, machine):
    """How many lines the rehearsal logs on `machine`, and their mean length
    with the line end."""
    out = subprocess.run([check, job, "--machine", machine, "--json"], capture_output=True,
                         text=True, check=False).stdout
    log = json.loads(out)["rehearsal"]["log"]
    return len(log), round(sum(len(line.encode("latin-1", "replace")) + 2 for line in log)
                           / max(1, len(log)))


def log_folder(build, job, machine, work):
    """The folder, relative to the machine folder, where the program writes
    its activity log on `machine`: found by running the Linux program on a
    copy of it."""
    copy = work / "log-folder"
    shutil.copytree(machine, copy)
    (copy / "drive_c" / "Jobs").mkdir(parents=True, exist_ok=True)
    shutil.copy(job, copy / "drive_c" / "Jobs" / "job.xml")
    subprocess.run([build / "zReTessalyXP", benchmark.ARGUMENT], check=False,
                   env={**os.environ, "ZRT_SIM_MACHINE": str(copy)},
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    logs = list(copy.rglob("*.Log"))
    folder = logs[0].parent.relative_to(copy) if logs else None
    shutil.rmtree(copy)
    return folder


def floor_figures(build, check, job, machine, work, repeat):
    result = work / "result.txt"
    lines, length = logged_lines(check, job, machine)
    folder = log_folder(build, job, machine, work)
    floor_dir = work / "floor"
    floor = [build / "tests" / "tools" / "zrt_floor_rehearsal", machine, floor_dir, str(lines),
             str(length)]
    rehearsals, shallow, placed = [], [], []
    for _ in range(repeat):
        rehearsals.append(measured(build, result, [check, job, "--machine", machine]))
        floor_dir.mkdir(exist_ok=True)
        shallow.append(measured(build, result, floor))
        if folder is not None:
            placed.append(measured(build, result, floor + [str(folder)]))
    med = lambda runs, what: statistics.median(getattr(r, what) for r in runs)  # noqa: E731
    r_wall, r_cpu = med(rehearsals, "wall"), med(rehearsals, "cpu")
    print(f"### One rehearsal against its floor\n\n`{machine.name}`: {lines:,} log lines of "
          f"{length} bytes; median of {repeat} runs each. The floor writes its lines at the "
          f"top of its copy, and again where the program writes them (`{folder}`).\n")
    print("| | rehearsal ms | floor ms | rehearsal / floor | floor where the program logs ms "
          "| rehearsal / that floor |")
    print("|---|---|---|---|---|---|")
    for what in ("wall", "cpu"):
        f = med(shallow, what)
        p = med(placed, what) if placed else float("nan")
        r = r_wall if what == "wall" else r_cpu
        print(f"| {what if what == 'wall' else 'CPU'} | {r * 1e3:.1f} | {f * 1e3:.1f} | "
              f"{r / f:.2f} | {p * 1e3:.1f} | {r / p:.2f} |")
    print(flush=True)
    return r_wall, r_cpu


def fleet_figures(build, check, job, work, sizes, sample):
    result = work / "result.txt"
    print("### The fleet against the single rehearsals\n")
    print("| machines | fleet wall s | fleet CPU s | singles wall s | singles CPU s | "
          "wall fleet / singles | CPU fleet / singles | CPU ms per machine, fleet / single |")
    print("|---|---|---|---|---|---|---|---|")
    for n in sizes:
        fleet = work / "fleet"
        machines = make_fleet(fleet, n)
        run = measured(build, result, [check, job, "--fleet", fleet])
        # A sample spread evenly over the fleet: its machines differ along it.
        spread = machines[::max(1, n // sample)][:sample]
        measured_ones = [measured(build, result, [check, job, "--machine", m]) for m in spread]
        scale = n / len(measured_ones)
        wall = sum(r.wall for r in measured_ones) * scale
        cpu = sum(r.cpu for r in measured_ones) * scale
        note = "" if scale == 1 else f" (from {len(measured_ones)})"
        print(f"| {n:,} | {run.wall:.2f} | {run.cpu:.2f} | {wall:.2f}{note} | {cpu:.2f}{note} | "
              f"{run.wall / wall:.2f} | {run.cpu / cpu:.2f} | "
              f"{run.cpu / n * 1e3:.1f} / {cpu / n * 1e3:.1f} |", flush=True)
    print()


def memory_figures(build, check, job, work, sizes):
    result = work / "result.txt"
    print("### Peak memory by fleet size (`--json --html FILE`)\n")
    print("| machines | wall s | CPU s | peak MiB | exit code |")
    print("|---|---|---|---|---|")
    for n in sizes:
        fleet = work / "fleet"
        make_fleet(fleet, n)
        run = measured(build, result, [check, job, "--fleet", fleet, "--json",
                                       "--html", work / "page.html"])
        print(f"| {n:,} | {run.wall:.2f} | {run.cpu:.2f} | {run.peak / 1024:.1f} | {run.code} |",
              flush=True)
    print()


def shard_figures(build, check, job, work, n, shards):
    print(f"### {n:,} machines in {shards} shards at once, then merged\n")
    fleet = work / "fleet"
    make_fleet(fleet, n)
    started = time.monotonic()
    runs = []
    for k in range(1, shards + 1):
        out = open(work / f"shard{k}.json", "w")
        runs.append((subprocess.Popen(
            [build / "tests" / "tools" / "zrt_run_measured", work / f"result{k}.txt", check, job,
             "--fleet", fleet, "--json", "--shard", f"{k}/{shards}"], stdout=out,
            env={**os.environ, "TMPDIR": str(work)}), out))
    for process, out in runs:
        process.wait()
        out.close()
    shard_runs = [Run(*(int(x) for x in (work / f"result{k}.txt").read_text().split()))
                  for k in range(1, shards + 1)]
    merge = measured(build, work / "result.txt",
                     [check, "--merge", *(work / f"shard{k}.json" for k in range(1, shards + 1)),
                      "--html", work / "page.html"])
    wall = time.monotonic() - started
    print("| wall s (shards and merge) | CPU s | largest shard peak MiB | merge wall s | "
          "merge peak MiB |")
    print("|---|---|---|---|---|")
    print(f"| {wall:.1f} | {sum(r.cpu for r in shard_runs) + merge.cpu:.1f} | "
          f"{max(r.peak for r in shard_runs) / 1024:.1f} | {merge.wall:.1f} | "
          f"{merge.peak / 1024:.1f} |\n", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--machines", default="100,1000")
    parser.add_argument("--memory", default="10000")
    parser.add_argument("--steps", type=int, default=10)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--serial-sample", type=int, default=100)
    parser.add_argument("--shards", type=int, default=0)
    parser.add_argument("--shard-machines", type=int, default=100000)
    parser.add_argument("--build-dir", type=pathlib.Path, default=REPO / "build" / "linux")
    args = parser.parse_args()
    build = args.build_dir.resolve()
    check = build / "zrt-check"
    sizes = [int(n) for n in args.machines.split(",") if n]
    memory = [int(n) for n in args.memory.split(",") if n]

    commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], cwd=REPO,
                            capture_output=True, text=True).stdout.strip()
    print(f"Measured {datetime.datetime.now():%Y-%m-%d %H:%M} on commit {commit}; "
          f"{platform.processor() or platform.machine()}, {os.cpu_count()} CPUs, "
          f"Linux {platform.release()}; load average before {load()}.\n")
    print(f"A creation job of {args.steps} steps on the sample fleet's machines in turn.\n")
    with tempfile.TemporaryDirectory() as scratch:
        work = pathlib.Path(scratch)
        job = work / "create-job.xml"
        job.write_text(benchmark.job_document("create", args.steps, 7), encoding="utf-8")
        first = next(p for p in make_fleet(work / "fleet", 1) if p.is_dir())
        floor_figures(build, check, job, first, work, args.repeat)
        if sizes:
            fleet_figures(build, check, job, work, sizes, args.serial_sample)
        memory_figures(build, check, job, work, sizes + memory)
        if args.shards:
            shard_figures(build, check, job, work, args.shard_machines, args.shards)
    print(f"Load average after: {load()}.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
