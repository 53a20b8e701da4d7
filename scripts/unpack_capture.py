#!/usr/bin/env python3
"""Unpacks a zrt-capture bundle into a simulated machine's folder, which
the Linux program (ZRT_SIM_MACHINE) and zrt-check --machine then use:

    scripts/unpack_capture.py CAPTURE.json DIR

DIR must not exist yet. A capture that says it is incomplete is unpacked all
the same, and what could not be read is printed; the exit code is then 1
(0 for a whole capture, 2 for a file that is no bundle). Python standard
library only.
"""

import json
import pathlib
import sys


def unpack(bundle, folder):
    """Writes the bundle's files below `folder`; returns its problems."""
    if not isinstance(bundle, dict) or bundle.get("format") != "zrt-capture":
        raise ValueError("not a zrt-capture bundle")
    if bundle.get("version") != 1:
        raise ValueError(f"bundle version {bundle.get('version')!r} is not known")
    files = bundle.get("files")
    if not isinstance(files, dict) or "machine.json" not in files:
        raise ValueError("the bundle holds no machine.json")
    root = folder.resolve()
    for name, content in files.items():
        target = (folder / name).resolve()
        if root not in target.parents:
            raise ValueError(f"{name!r} lies outside the machine folder")
        if "text" in content:
            data = content["text"].encode("latin-1")
        else:
            data = bytes.fromhex(content["hex"].replace(" ", ""))
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data)
    return bundle.get("problems", [])


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().split("\n\n")[1], file=sys.stderr)
        return 2
    source, folder = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    if folder.exists():
        print(f"unpack_capture: {folder} exists already", file=sys.stderr)
        return 2
    try:
        problems = unpack(json.loads(source.read_text("utf-8")), folder)
    except (OSError, ValueError, KeyError, TypeError, AttributeError) as e:
        print(f"unpack_capture: {source}: {e}", file=sys.stderr)
        return 2
    for problem in problems:
        print(f"unpack_capture: the capture could not read {problem}", file=sys.stderr)
    print(f"unpack_capture: machine written to {folder}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
