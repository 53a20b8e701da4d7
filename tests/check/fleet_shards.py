#!/usr/bin/env python3
"""zrt-check --fleet --shard K/N and --merge on the sample fleet: the parts
hold every machine once, a machine keeps its part when others leave the
fleet, and the merged parts print the summary, JSON and page of one run on
the whole fleet, without keeping the parts' group lists; results of another
document are refused.

  fleet_shards.py --program build/linux/zrt-check"""
import argparse
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

from fleet import JOB, sample_fleet  # beside this script



def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    # A sanitizer's allocator keeps what is freed for a while: peaks tell nothing there.
    parser.add_argument("--no-peaks", action="store_true")
    args = parser.parse_args()
    program = pathlib.Path(args.program).resolve()
    problems = []
    with tempfile.TemporaryDirectory() as scratch:
        work = pathlib.Path(scratch)
        sample_fleet(work)
        # Names that are no UTF-8 sort by their bytes, not as they are shown.
        first = min(p for p in (work / "fleet").iterdir() if p.is_dir() and p.name[0] != ".")
        for name in ("caf\udce9-01", "cafe-02"):
            shutil.copytree(first, work / "fleet" / name)

        def run(*args):
            done = subprocess.run([program, *args], cwd=work, capture_output=True, timeout=120)
            return done.returncode, done.stdout.decode("utf-8")

        def parts(n):
            out = {}
            for k in range(1, n + 1):
                code, text = run(JOB.name, "--fleet", "fleet", "--json", "--shard", f"{k}/{n}")
                (work / f"part{k}.json").write_text(text, encoding="utf-8")
                out[k] = [m["machine"] for m in json.loads(text)["machines"]]
            return out

        three = parts(3)
        everyone = sorted(os.fsencode(p.name).decode("utf-8", "backslashreplace")
                          for p in (work / "fleet").iterdir() if p.name[0] != ".")
        if sorted(sum(three.values(), [])) != everyone or not all(three.values()):
            problems.append(f"the parts do not hold every machine once: {three}")

        whole = {form: run(JOB.name, "--fleet", "fleet", *args)
                 for form, args in {"text": [], "json": ["--json"],
                                    "page": ["--html", "whole.html"]}.items()}
        results = [f"part{k}.json" for k in (2, 3, 1)]  # in any order
        merged = {form: run("--merge", *results, *args)
                  for form, args in {"text": [], "json": ["--json"],
                                     "page": ["--html", "merged.html"]}.items()}
        for form in whole:
            if merged[form] != whole[form]:
                problems.append(f"the merged {form} is not the whole fleet's")
        if (work / "merged.html").read_bytes() != (work / "whole.html").read_bytes():
            problems.append("the merged page is not the whole fleet's")

        # A result's group lists are neither read nor kept: a million made-up
        # members change neither the merge nor its peak (~150 MiB, kept). Written
        # piece by piece, as this script's memory counts in its children's peaks.
        padded = json.loads((work / "part1.json").read_text(encoding="utf-8"))
        padded["commands"][0]["machines"] = ["made-up members"]
        head, tail = json.dumps(padded).split('"made-up members"')
        with open(work / "padded.json", "w", encoding="utf-8") as out:
            out.write(head)
            for k in range(1000):
                out.write(("," if k else "") + ",".join(f'"made-up-{k}-{i}"' for i in range(1000)))
            out.write(tail)
        peaks = {}
        for first in ("part1.json", "padded.json"):
            child = subprocess.Popen([program, "--merge", first, "part2.json", "part3.json",
                                      "--json"], cwd=work, stdout=subprocess.PIPE)
            text = child.stdout.read().decode("utf-8")
            peaks[first] = os.wait4(child.pid, 0)[2].ru_maxrss  # KiB
            if text != whole["json"][1]:
                problems.append(f"--merge {first} part2.json part3.json is not the whole fleet's")
        if not args.no_peaks and peaks["padded.json"] > peaks["part1.json"] + 16 * 1024:
            problems.append(f"the merge keeps a result's group lists: peaks {peaks} KiB")

        # Two machines leave: every other machine stays in its part.
        for gone in everyone[:2]:
            entry = work / "fleet" / gone
            shutil.rmtree(entry) if entry.is_dir() else entry.unlink()
        fewer = parts(3)
        if any(set(fewer[k]) != set(three[k]) - set(everyone[:2]) for k in three):
            problems.append(f"machines changed parts when others left: {three} then {fewer}")

        # Results of another document, or a machine twice, are refused.
        other = json.loads((work / "part1.json").read_text(encoding="utf-8"))
        other["document"] = "another.xml"
        (work / "other.json").write_text(json.dumps(other), encoding="utf-8")
        for bad in (["part1.json", "other.json"], ["part1.json", "part1.json"]):
            code, _ = run("--merge", *bad)
            if code != 2:
                problems.append(f"--merge {' '.join(bad)}: exit code {code}, not 2")

    for problem in problems:
        print("FAILED:", problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
