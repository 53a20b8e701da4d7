"""The Wine prefix the Windows program's tests run in, as scripts/wine-prefix.sh
makes it: a 32-bit prefix for the 32-bit program, a 64-bit one for the
x86-64 test build. The script is the one place that knows how each is made
and which Wine loader runs it; this module asks it."""

import os
import pathlib
import shlex
import struct
import subprocess

SCRIPT = pathlib.Path(__file__).resolve().parents[2] / "scripts" / "wine-prefix.sh"
PE_MACHINES = {0x014C: "win32", 0x8664: "win64"}


def program_arch(program):
    """win32 or win64: the machine type in a Windows program's PE header."""
    with open(program, "rb") as f:
        header = f.read(4096)
    if header[:2] != b"MZ" or len(header) < 0x40:
        raise ValueError(f"{program} is not a Windows program")
    (offset,) = struct.unpack_from("<I", header, 0x3C)
    if header[offset:offset + 4] != b"PE\0\0":
        raise ValueError(f"{program} has no PE header")
    (machine,) = struct.unpack_from("<H", header, offset + 4)
    if machine not in PE_MACHINES:
        raise ValueError(f"{program} is for machine type {machine:#x}")
    return PE_MACHINES[machine]


def create(prefix, arch, **run_options):
    """Makes the prefix if needed and starts it (server and shell)."""
    return subprocess.run([str(SCRIPT), "create", str(prefix), arch], **run_options)


def environment(prefix, arch, base=None):
    """The environment to run programs in the prefix, with ZRT_WINE naming
    the loader to run them with."""
    out = subprocess.run([str(SCRIPT), "env", str(prefix), arch], check=True,
                         capture_output=True, text=True).stdout
    env = dict(os.environ if base is None else base)
    for line in out.splitlines():
        words = shlex.split(line)
        for word in words[1:] if words and words[0] == "export" else []:
            name, _, value = word.partition("=")
            env[name] = value
    return env
