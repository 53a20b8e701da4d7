#!/usr/bin/env python3
"""Makes the sample fleet of simulated machines described in
examples/fleet/fleet.json: one folder per machine under OUT, each a copy of a
bundled machine (examples/machines/) with what the description changes.

  scripts/make_sample_fleet.py OUT               # the sample fleet
  scripts/make_sample_fleet.py OUT --count 1000  # its machines in turn, 1000 in all

OUT must be empty, missing, or a fleet this script made before (which it
replaces): anything else is refused, so a folder named by mistake is never
emptied. The same description always gives the same folders.
Only the Python standard library is used."""
import argparse
import json
import pathlib
import shutil
import sys

REPO = pathlib.Path(__file__).resolve().parents[1]
MACHINES = REPO / "examples" / "machines"
DESCRIPTION = REPO / "examples" / "fleet" / "fleet.json"
MARK = ".sample-fleet"  # hidden: zrt-check --fleet passes over it


def merge(target, patch):
    """Merges `patch` into `target`: objects member by member, null removes."""
    for key, value in patch.items():
        if value is None:
            target.pop(key, None)
        elif isinstance(value, dict) and isinstance(target.get(key), dict):
            merge(target[key], value)
        else:
            target[key] = value


def edit_json(path, change):
    data = json.loads(path.read_text(encoding="utf-8"))
    change(data)
    path.write_text(json.dumps(data, indent=2, ensure_ascii=False) + "\n", encoding="utf-8")


def rename_schemes(power, names):
    schemes = []
    for scheme in power.get("schemes", []):
        name = names.get(scheme["name"], scheme["name"])
        if name is not None:
            schemes.append({**scheme, "name": name})
    power["schemes"] = schemes


def set_user(processes, user):
    shells = [p for p in processes["processes"] if p["name"].lower() == "explorer.exe"]
    for shell in shells:
        if user is None:
            processes["processes"].remove(shell)
        else:
            shell["user"] = user


def make_machine(folder, plan):
    shutil.copytree(MACHINES / plan["from"], folder)
    edit_json(folder / "machine.json", lambda m: merge(m, {
        **({"description": plan["description"]} if "description" in plan else {}),
        **plan.get("machine", {})}))
    if "power" in plan or "scheme_names" in plan:
        edit_json(folder / "power.json", lambda p: (merge(p, plan.get("power", {})),
                                                    rename_schemes(p, plan.get("scheme_names", {}))))
    if "user" in plan:
        edit_json(folder / "processes.json", lambda p: set_user(p, plan["user"]))
    if "post_answers" in plan:
        for library in folder.rglob("zCourier.dll"):
            edit_json(library, lambda d: d.update(answers=plan["post_answers"]))
    for name, text in plan.get("files", {}).items():
        (folder / name).write_text(text, encoding="utf-8")


def positive(text):
    if not text.isdigit() or int(text) < 1:
        raise argparse.ArgumentTypeError(f"{text}: wants a whole number from 1")
    return int(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out", type=pathlib.Path)
    parser.add_argument("--count", type=positive, help="machines in all (default: one of each)")
    args = parser.parse_args()

    plans = list(json.loads(DESCRIPTION.read_text(encoding="utf-8"))["machines"].items())
    count = args.count or len(plans)
    if args.out.is_symlink() or (args.out.exists() and not args.out.is_dir()):
        print(f"make_sample_fleet.py: {args.out} is no folder: name an empty or new folder",
              file=sys.stderr)
        return 2
    if args.out.exists() and any(args.out.iterdir()) and not (args.out / MARK).exists():
        print(f"make_sample_fleet.py: {args.out} holds files this script did not make: "
              "name an empty or new folder", file=sys.stderr)
        return 2
    shutil.rmtree(args.out, ignore_errors=True)
    args.out.mkdir(parents=True)
    (args.out / MARK).write_text("made by scripts/make_sample_fleet.py; replaced when run again\n")
    for n in range(count):
        name, plan = plans[n % len(plans)]
        if args.count:
            name = f"{name}-{n // len(plans) + 1:03d}"
        make_machine(args.out / name, plan)
    print(f"{count} machines in {args.out}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
