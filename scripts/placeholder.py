#!/usr/bin/env python3
"""The placeholders of an anonymised capture (zrt-capture.exe --anonymise-key),
and the fleet's key they are made with:

    scripts/placeholder.py --make-key FILE          a new key: 32 random bytes, owner-only
    scripts/placeholder.py KEYFILE KIND VALUE...    the placeholder of each VALUE

KIND is REGID, MEMBERID, SITEID, TYPE, user, pc (the computer's name),
status (the whole status address), scheme or description (--anonymise-names).
A placeholder is KIND, a dash and the first 12 hex digits of
HMAC-SHA-256(key, KIND ":" VALUE), VALUE in UTF-8 and, for user and pc, with
ASCII letters in lower case. Python standard library only.
"""

import hmac
import os
import sys

DIGITS = 12
MINIMUM_KEY_BYTES = 16
FOLDING_KINDS = ("user", "pc")


def placeholder(key, kind, value):
    if kind in FOLDING_KINDS:
        value = "".join(c.lower() if "A" <= c <= "Z" else c for c in value)
    mac = hmac.new(key, f"{kind}:{value}".encode("utf-8"), "sha256").hexdigest()
    return f"{kind}-{mac[:DIGITS]}"


def make_key(path):
    """Writes a new key; refuses to replace a file."""
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    with os.fdopen(fd, "wb") as out:
        out.write(os.urandom(32))


def main(argv):
    if len(argv) == 3 and argv[1] == "--make-key":
        make_key(argv[2])
        return 0
    if len(argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    with open(argv[1], "rb") as f:
        key = f.read()
    if len(key) < MINIMUM_KEY_BYTES:
        print(f"{argv[1]}: a key has at least {MINIMUM_KEY_BYTES} bytes", file=sys.stderr)
        return 2
    for value in argv[3:]:
        print(placeholder(key, argv[2], value))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
