#!/usr/bin/env python3
"""Writes the catalogue section of tests/scenarios/README.md: how many
scenarios each target runs, by group, and every failure the program reports
with the tests that show it (coverage.json). Every test named there must
exist: a scenario "group/name" under cases/, or a unit test "Suite.Name"
under tests/unit.

    catalogue.py          rewrite the section
    catalogue.py --check  exit 1 when the section is out of date or a test is missing

Python standard library only.
"""

import argparse
import json
import pathlib
import re
import sys

HERE = pathlib.Path(__file__).resolve().parent
CASES = HERE / "cases"
UNIT = HERE.parent / "unit"
README = HERE / "README.md"
COVERAGE = HERE / "coverage.json"
TARGETS = ("linux", "wine")
BEGIN = "<!-- catalogue: written by catalogue.py -->"
END = "<!-- end of catalogue -->"


def scenario_counts():
    counts = {}
    for case in sorted(CASES.glob("*/*.json")):
        targets = json.loads(case.read_text(encoding="utf-8")).get("targets", list(TARGETS))
        row = counts.setdefault(case.parent.name, dict.fromkeys(TARGETS, 0))
        for target in TARGETS:
            row[target] += target in targets
    return counts


def unit_tests():
    found = set()
    for source in UNIT.glob("*.cpp"):
        text = source.read_text(encoding="utf-8")
        found.update(f"{s}.{n}" for s, n in re.findall(r"\bTEST(?:_F)?\(\s*(\w+),\s*(\w+)\)", text))
    return found


def missing_tests(coverage):
    units = unit_tests()
    missing = []
    for area in coverage["areas"]:
        for failure, tests in area["rows"]:
            if not tests:
                missing.append(f"{area['area']}: {failure}: no test")
            for test in tests:
                exists = ((CASES / f"{test}.json").is_file() if "/" in test else test in units)
                if not exists:
                    missing.append(f"{area['area']}: {failure}: no test {test}")
    return missing


def section(counts, coverage):
    lines = [BEGIN, "", "Scenarios each target runs, by group:", "",
             "| Group | " + " | ".join(TARGETS) + " |",
             "|---|" + "---:|" * len(TARGETS)]
    for group, row in counts.items():
        lines.append(f"| {group} | " + " | ".join(str(row[t]) for t in TARGETS) + " |")
    totals = [sum(row[t] for row in counts.values()) for t in TARGETS]
    lines.append("| all | " + " | ".join(f"**{n}**" for n in totals) + " |")
    lines += ["", "Every failure the program reports, and the tests that show it "
              "(`group/name` a scenario, `Suite.Name` a unit test):", "",
              "| Area | Failure | Shown by |", "|---|---|---|"]
    for area in coverage["areas"]:
        for failure, tests in area["rows"]:
            shown = ", ".join(f"`{t}`" for t in tests)
            lines.append(f"| {area['area']} | {failure} | {shown} |")
    return "\n".join(lines + ["", END])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args()
    coverage = json.loads(COVERAGE.read_text(encoding="utf-8"))
    missing = missing_tests(coverage)
    for line in missing:
        print(line, file=sys.stderr)

    readme = README.read_text(encoding="utf-8")
    fresh = section(scenario_counts(), coverage)
    if BEGIN in readme and END in readme:
        start, end = readme.index(BEGIN), readme.index(END) + len(END)
        updated = readme[:start] + fresh + readme[end:]
    else:
        updated = readme.rstrip("\n") + "\n\n## Catalogue\n\n" + fresh + "\n"
    if args.check:
        if updated != readme:
            print("README.md's catalogue is out of date: run tests/scenarios/catalogue.py",
                  file=sys.stderr)
            return 1
    elif updated != readme:
        README.write_text(updated, encoding="utf-8")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
