#!/usr/bin/env python3
"""Which lane the Windows program's tests take on this host.

win32: the shipped 32-bit program in a 32-bit Wine prefix, where the host
executes 32-bit x86 programs natively. win64: the same sources built for
x86-64 in a 64-bit prefix, where it does not (some kernels run 64-bit user
code only, and there 32-bit Wine cannot start). A host that runs 32-bit
programs only through an emulator registered with binfmt_misc (qemu-i386)
counts as not running them: Wine would be tens of times slower.

Run as a script it prints the lane on the first line and the reason on the
second. ZRT_WINDOWS_LANE=win32 or win64 in the environment forces a lane.
"""

import os
import pathlib
import struct
import subprocess
import sys
import tempfile

LANES = ("win32", "win64")
DESCRIPTIONS = {"win32": "win32 lane: the 32-bit program in a 32-bit prefix",
                "win64": "win64 lane: the x86-64 build in a 64-bit prefix"}
BINFMT = pathlib.Path("/proc/sys/fs/binfmt_misc")


def probe_program():
    """The smallest static 32-bit x86 ELF program: exit(0) through int 0x80."""
    code = bytes.fromhex("b801000000" "31db" "cd80")  # mov eax,1; xor ebx,ebx; int 0x80
    base, header, entry_size = 0x08048000, 52, 32
    size = header + entry_size + len(code)
    elf = b"\x7fELF" + bytes([1, 1, 1]) + bytes(9)
    elf += struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, base + header + entry_size, header, 0, 0,
                       header, entry_size, 1, 0, 0, 0)
    elf += struct.pack("<IIIIIIII", 1, 0, base, base, size, size, 5, 0x1000)
    return elf + code


def emulator_for_i386():
    """The binfmt_misc entry that would run 32-bit x86 programs, if any."""
    if not BINFMT.is_dir():
        return None
    for entry in BINFMT.iterdir():
        if entry.name in ("register", "status"):
            continue
        try:
            text = entry.read_text()
        except OSError:
            continue
        lines = text.splitlines()
        magic = next((l.split()[1] for l in lines if l.startswith("magic ")), "")
        # ELF, 32-bit, little-endian; e_machine (bytes 18-19) 3 or 6: i386, i486.
        if (lines and lines[0] == "enabled" and magic.startswith("7f454c4601")
                and magic[36:40] in ("0300", "0600")):
            return entry.name
    return None


def host_lane():
    """(lane, reason) for this host."""
    forced = os.environ.get("ZRT_WINDOWS_LANE", "")
    if forced:
        if forced not in LANES:
            raise SystemExit(f"ZRT_WINDOWS_LANE must be one of {', '.join(LANES)}, not {forced!r}")
        return forced, "forced by ZRT_WINDOWS_LANE"
    emulator = emulator_for_i386()
    if emulator:
        return "win64", f"32-bit x86 programs run here only through the emulator {emulator!r}"
    with tempfile.NamedTemporaryFile(prefix="zrt-i386-probe-", delete=False) as f:
        f.write(probe_program())
    try:
        os.chmod(f.name, 0o700)
        code = subprocess.run([f.name], timeout=10).returncode
        if code == 0:
            return "win32", "the host executes 32-bit x86 programs"
        return "win64", f"a 32-bit x86 probe program ended with {code}"
    except OSError as e:
        return "win64", f"the host executes no 32-bit x86 program ({e.strerror})"
    finally:
        os.unlink(f.name)


if __name__ == "__main__":
    lane, reason = host_lane()
    print(lane)
    print(reason)
    sys.exit(0)
