#!/usr/bin/env bash
# Runs clang-tidy with the repository's .clang-tidy over every source the
# Linux build compiles (the core, the simulated machine, the check and the
# capture; the tests are left out). Any finding fails. Usage:
#   scripts/tidy.sh [BUILD_DIR]     # default build/linux, configured first if needed
set -uo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/linux}
[ -f "$build/compile_commands.json" ] || cmake --preset linux >/dev/null || exit 1
log=$(mktemp)
run-clang-tidy -quiet -p "$build" -j "$(nproc)" "$PWD/src/" >"$log" 2>&1
status=$?
# Without colours, so that the findings can be picked out.
sed -E 's/\x1b\[[0-9;]*m//g' "$log" | grep -E ': (warning|error):' -A3
rm -f "$log"
if [ $status -ne 0 ]; then echo "clang-tidy: findings (or a failed run) above"; exit 1; fi
echo "clang-tidy: no findings"
