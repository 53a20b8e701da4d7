#!/usr/bin/env python3
"""Runs zrt-check on every sample job document that has an expected output
(examples/jobs/check/NAME.txt and NAME.json for examples/jobs/NAME.xml) and
compares what it prints, and its exit code, with them.

  check_samples.py --program build/linux/zrt-check
  check_samples.py --program build/win32/zrt-check.exe --wine PREFIX
  check_samples.py --program build/linux/zrt-check --update   # rewrite them

The documents are named by the same relative path on every target, so the
Windows program under Wine must print exactly what the Linux one prints
(line ends aside)."""
import argparse
import json
import pathlib
import subprocess
import sys

REPO = pathlib.Path(__file__).resolve().parents[2]
SAMPLES = REPO / "examples" / "jobs"
EXPECTED = SAMPLES / "check"


def run(args, program, wine, document, *options):
    command = [str(program), f"examples/jobs/{document.name}", *options]
    if wine:
        command = [str(REPO / "scripts" / "wine-run.sh"), wine, *command]
    done = subprocess.run(command, cwd=REPO, capture_output=True, timeout=120)
    return done.returncode, done.stdout.decode("utf-8").replace("\r\n", "\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--wine", help="Wine prefix to run a Windows program in")
    parser.add_argument("--update", action="store_true")
    args = parser.parse_args()

    failures = 0
    documents = sorted(d for d in SAMPLES.glob("*.xml") if (EXPECTED / f"{d.stem}.json").exists())
    for document in documents:
        for suffix, options in ((".txt", ()), (".json", ("--json",))):
            expected_file = EXPECTED / f"{document.stem}{suffix}"
            code, out = run(args, args.program, args.wine, document, *options)
            if args.update:
                expected_file.write_text(out, encoding="utf-8")
                continue
            expected = expected_file.read_text(encoding="utf-8")
            wanted_code = json.loads((EXPECTED / f"{document.stem}.json").read_text())["exit_code"]
            if out != expected or code != wanted_code:
                failures += 1
                print(f"FAILED {expected_file.relative_to(REPO)}: exit code {code}, wanted "
                      f"{wanted_code}")
                if out != expected:
                    import difflib
                    sys.stdout.writelines(difflib.unified_diff(
                        expected.splitlines(True), out.splitlines(True), "expected", "printed"))
            else:
                print(f"ok {expected_file.relative_to(REPO)} (exit code {code})")
    if not documents:
        print("no samples with expected output")
        return 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
