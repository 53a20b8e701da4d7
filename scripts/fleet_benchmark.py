#!/usr/bin/env python3
"""Measures zrt-check --fleet and prints Markdown.

    scripts/fleet_benchmark.py [--machines 100,300,1000] [--steps 10] [--build-dir DIR]

For each fleet size N: the sample fleet's machines in turn, N in all
(scripts/make_sample_fleet.py --count N), and a creation job of --steps
steps (step k creates "New scheme k" with the settings of
examples/jobs/create-field-work.xml). In the same run it measures the
fleet, `zrt-check JOB --fleet DIR`, then the single rehearsals one after the
other, `zrt-check JOB --machine M` for every machine, then the fleet again,
and prints the fleet's wall time (the mean of its two runs, so a load that
rises or falls meanwhile weighs on both sides alike) against the sum of the
single ones, and the fleet's peak memory
(the largest of zrt-check and the children it forks, through
zrt_run_measured). The load average before and after is printed: other
work on the machine takes cores from the fleet.

  --check   exit with 1 when the fleet's wall time is above 0.6 of the sum
            of the single rehearsals at the largest size, or its peak memory
            at the largest size is above 1.5 times that at the smallest.
Only the Python standard library is used."""
import argparse
import datetime
import os
import pathlib
import platform
import subprocess
import sys
import tempfile

REPO = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "scripts"))
import benchmark  # noqa: E402  (the job documents of the benchmark)


def measured(build, result, argv):
    """Wall seconds, peak KiB and exit code of one run through the starter."""
    # A rehearsal with --machine that the program crashes leaves its copy
    # behind: keep the copies in the run's own folder.
    subprocess.run([build / "tests" / "tools" / "zrt_run_measured", result, *argv],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False,
                   env={**os.environ, "TMPDIR": str(result.parent)})
    wall_ns, peak_kib, code = result.read_text().split()
    return int(wall_ns) / 1e9, int(peak_kib), int(code)


def load():
    return ", ".join(f"{x:.1f}" for x in os.getloadavg())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--machines", default="100,300,1000")
    parser.add_argument("--steps", type=int, default=10)
    parser.add_argument("--build-dir", type=pathlib.Path, default=REPO / "build" / "linux")
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args()
    build = args.build_dir.resolve()
    check = build / "zrt-check"
    sizes = [int(n) for n in args.machines.split(",")]

    commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], cwd=REPO,
                            capture_output=True, text=True).stdout.strip()
    print(f"Measured {datetime.datetime.now():%Y-%m-%d %H:%M} on commit {commit}; "
          f"{platform.processor() or platform.machine()}, {os.cpu_count()} CPUs, "
          f"Linux {platform.release()}; load average before {load()}.\n")
    print(f"A creation job of {args.steps} steps on the sample fleet's machines in turn.\n")
    print("| machines | fleet wall s (before, after) | single rehearsals, sum s | fleet / sum | "
          "fleet peak MiB | single peak MiB | fleet exit code |")
    print("|---|---|---|---|---|---|---|")
    rows = []
    with tempfile.TemporaryDirectory() as scratch:
        work = pathlib.Path(scratch)
        job = work / "create-job.xml"
        job.write_text(benchmark.job_document("create", args.steps, 7), encoding="utf-8")
        result = work / "result.txt"
        for n in sizes:
            fleet = work / "fleet"
            subprocess.run([sys.executable, REPO / "scripts" / "make_sample_fleet.py", fleet,
                            "--count", str(n)], check=True, stdout=subprocess.DEVNULL)
            first, peak, code = measured(build, result, [check, job, "--fleet", fleet])
            singles, single_peak = 0.0, 0
            for machine in sorted(fleet.iterdir()):
                w, p, _ = measured(build, result, [check, job, "--machine", machine])
                singles += w
                single_peak = max(single_peak, p)
            second, peak2, _ = measured(build, result, [check, job, "--fleet", fleet])
            wall, peak = (first + second) / 2, max(peak, peak2)
            rows.append((n, wall, singles, peak))
            print(f"| {n:,} | {wall:.2f} ({first:.2f}, {second:.2f}) | {singles:.2f} | "
                  f"{wall / singles:.2f} | {peak / 1024:.1f} | {single_peak / 1024:.1f} | {code} |",
                  flush=True)
    print(f"\nLoad average after: {load()}.")
    if not args.check:
        return 0
    n, wall, singles, peak = rows[-1]
    ok = wall <= 0.6 * singles and peak <= 1.5 * rows[0][3]
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
