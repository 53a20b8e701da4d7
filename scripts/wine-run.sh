#!/usr/bin/env bash
# Runs a Windows program in a Wine prefix made by wine-prefix.sh, starting
# the prefix (server and shell) first if needed; exits with the program's
# exit code.
#
#   scripts/wine-run.sh PREFIX PROGRAM [ARGUMENTS...]
#
# PROGRAM is a Linux path or a Windows path inside the prefix. To load the
# power-profile double placed beside the program, run with
# WINEDLLOVERRIDES=powrprof=n in the environment.
set -euo pipefail

if [ $# -lt 2 ]; then
  sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
fi
prefix=$1
shift
"$(dirname "$0")/wine-prefix.sh" start "$prefix"
eval "$("$(dirname "$0")/wine-prefix.sh" env "$prefix")"
exec "$ZRT_WINE" "$@"
