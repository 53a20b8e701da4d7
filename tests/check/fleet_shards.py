#!/usr/bin/env python3
"""zrt-check --fleet --shard K/N and --merge on the sample fleet: the parts
hold every machine once, a machine keeps its part when others leave the
fleet, and the merged parts print the summary, JSON and page of one run on
the whole fleet, without keeping the parts' group lists, however the parts
spell the document and the fleet; only the parts 1..N of one document's
content on one fleet merge, and a part may hold no machine.

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

        def run(*args, err=False):
            done = subprocess.run([program, *args], cwd=work, capture_output=True, timeout=120)
            return done.returncode, (done.stderr if err else done.stdout).decode("utf-8")

        # The same document and fleet, spelled in other ways by the parts after the first.
        spellings = [(JOB.name, "fleet"), (str(work / JOB.name), "fleet/"), ("./" + JOB.name, "./fleet")]

        def parts(n, name="part", job=JOB.name):
            out = {}
            for k in range(1, n + 1):
                document, fleet = spellings[(k - 1) % 3] if job == JOB.name else (job, "fleet")
                code, text = run(document, "--fleet", fleet, "--json", "--shard", f"{k}/{n}")
                (work / f"{name}{k}.json").write_text(text, encoding="utf-8")
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
        page = work / "merged.html"
        if not page.exists() or page.read_bytes() != (work / "whole.html").read_bytes():
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

        # What is not exactly the parts 1..N of one document's content on one
        # fleet is refused, with what is wrong: a part forgotten or given
        # twice, parts of different splits, of another document of the same
        # name, of another fleet, or no fleet's result at all.
        (work / "whole.json").write_text(whole["json"][1], encoding="utf-8")
        parts(2, "halves")
        (work / "other").mkdir()
        shutil.copy(JOB.parent / "delete-night-shift.xml", work / "other" / JOB.name)
        parts(3, "other", f"other/{JOB.name}")
        elsewhere = json.loads((work / "part2.json").read_text(encoding="utf-8"))
        elsewhere["fleet"] = "/srv/fleet-eu/"
        (work / "elsewhere.json").write_text(json.dumps(elsewhere), encoding="utf-8")
        (work / "machine.json").write_text(
            run(JOB.name, "--machine", f"fleet/{everyone[0]}", "--json")[1], encoding="utf-8")
        for bad, words in [
                (["part1.json", "part3.json"], "the results lack part 2 of 3"),
                (["part1.json", "part2.json", "part3.json", "part2.json"], "part 2 of 3 is given twice"),
                (["part1.json", "part2.json", "halves2.json"], "parts of 3 and of 2 do not go together"),
                (["whole.json", "whole.json"], "part 1 of 1 is given twice"),
                (["part1.json", "other2.json", "part3.json"], "different job documents"),
                (["part1.json", "elsewhere.json", "part3.json"], "fleets fleet and fleet-eu"),
                (["part1.json", "machine.json"], 'machine.json: not a fleet\'s JSON result (no "fleet")'),
                (["part1.json", "other"], "other: is a folder, not a result")]:
            code, said = run("--merge", *bad, err=True)
            if code != 2 or words not in said:
                problems.append(f"--merge {' '.join(bad)}: exit code {code}, said {said!r}")
        if run("--merge", "whole.json", "--json") != whole["json"]:
            problems.append("a whole run's result does not merge as itself")

        # A part may hold none of the fleet's machines: it says so and fails not.
        (work / "one").mkdir()
        shutil.copytree(work / "fleet" / everyone[0], work / "one" / everyone[0])
        halves = [run(JOB.name, "--fleet", "one", "--shard", f"{k}/2") for k in (1, 2)]
        if [code for code, _ in halves] != [0, 0] or not any(
                "of 2 holds none of the fleet's machines" in text for _, text in halves):
            problems.append(f"a part without machines: {[(c, t[-80:]) for c, t in halves]}")

        # Two machines leave: every other machine stays in its part.
        for gone in everyone[:2]:
            entry = work / "fleet" / gone
            shutil.rmtree(entry) if entry.is_dir() else entry.unlink()
        fewer = parts(3)
        if any(set(fewer[k]) != set(three[k]) - set(everyone[:2]) for k in three):
            problems.append(f"machines changed parts when others left: {three} then {fewer}")

    for problem in problems:
        print("FAILED:", problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
