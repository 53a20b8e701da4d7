#!/usr/bin/env python3
"""Fails when a Windows program needs anything Windows XP SP3 does not have.

Reads the PE headers and import tables with `i686-w64-mingw32-objdump -p` and
checks:
  - every imported DLL and every function imported from it is on the
    allow-list (a reviewed list of what exists on Windows XP SP3);
  - the image is 32-bit and asks for subsystem and OS version 5.1 at most;
  - the image does not carry the NO_SEH flag (the program's structured
    exception guard needs frame-based handlers).

Usage: check_xp_imports.py [--objdump TOOL] --allow-list FILE PROGRAM.exe...
"""
import argparse
import re
import subprocess
import sys

NO_SEH = 0x0400
XP_VERSION = (5, 1)


def read_allow_list(path):
    """[dll.dll] sections of function names; '#' starts a comment."""
    allowed = {}
    current = None
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.split("#", 1)[0].strip()
            if not line:
                continue
            section = re.fullmatch(r"\[([^\]]+)\]", line)
            if section:
                current = allowed.setdefault(section.group(1).lower(), set())
            elif current is None:
                sys.exit(f"{path}:{number}: function outside a [dll] section")
            else:
                current.add(line)
    return allowed


def parse_objdump(text):
    """Returns (headers, {dll: [function or #ordinal]})."""
    headers = {}
    for key in ("Magic", "MajorSubsystemVersion", "MinorSubsystemVersion",
                "MajorOSystemVersion", "MinorOSystemVersion", "DllCharacteristics"):
        match = re.search(rf"^{key}\s+([0-9a-fA-F]+)", text, re.M)
        if match:
            base = 16 if key in ("Magic", "DllCharacteristics") else 10
            headers[key] = int(match.group(1), base)

    # Each DLL's block lists one import a line ("<vma> <hint> <name>") and
    # ends at a blank line. Any other line (an import by ordinal, say) is
    # kept as is, so that it fails the check.
    imports = {}
    current = None
    for line in text.splitlines():
        dll = re.match(r"\s*DLL Name: (\S+)", line)
        if dll:
            current = imports.setdefault(dll.group(1).lower(), [])
            continue
        if current is None or line.strip().startswith("vma:"):
            continue
        if not line.strip():
            current = None
            continue
        entry = re.match(r"\s+[0-9a-fA-F]+\s+\d+\s+(\S+)\s*$", line)
        current.append(entry.group(1) if entry else f"unrecognised import line: {line.strip()}")
    return headers, imports


def check(program, allowed, objdump):
    text = subprocess.run([objdump, "-p", program], check=True, capture_output=True,
                          text=True).stdout
    headers, imports = parse_objdump(text)
    problems = []

    if headers.get("Magic") != 0x10B:
        problems.append("not a 32-bit (PE32) image")
    for kind in ("Subsystem", "OSystem"):
        version = (headers.get(f"Major{kind}Version", 99), headers.get(f"Minor{kind}Version", 99))
        if version > XP_VERSION:
            problems.append(f"{kind} version {version[0]}.{version[1]} is above Windows XP's 5.1")
    if headers.get("DllCharacteristics", 0) & NO_SEH:
        problems.append("the image carries the NO_SEH flag")
    if not imports:
        problems.append("no import table found")

    count = 0
    for dll, functions in sorted(imports.items()):
        if dll not in allowed:
            problems.append(f"{dll}: DLL not allowed ({len(functions)} functions)")
            continue
        for function in functions:
            count += 1
            if function not in allowed[dll]:
                problems.append(f"{dll}: {function} is not on the Windows XP SP3 allow-list")

    if problems:
        print(f"{program}: FAILED")
        for problem in problems:
            print(f"  {problem}")
        print("Only add a function to the allow-list after checking that Windows XP SP3 "
              "exports it.")
        return False
    print(f"{program}: {count} imports from {len(imports)} DLLs, "
          f"all present on Windows XP SP3")
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    parser.add_argument("--allow-list", required=True)
    parser.add_argument("programs", nargs="+")
    args = parser.parse_args()
    allowed = read_allow_list(args.allow_list)
    results = [check(program, allowed, args.objdump) for program in args.programs]
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
