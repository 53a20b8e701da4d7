#!/usr/bin/env bash
# Builds both programs and runs every test: unit tests and Linux scenarios
# (also under AddressSanitizer and UndefinedBehaviorSanitizer), clang-tidy
# (scripts/tidy.sh), the fuzzers' seed runs, then the
# Windows program's checks and scenarios under Wine, in the lane this host
# can run (scripts/windows_lane.py; ZRT_WINDOWS_LANE=win32|win64 forces one):
#   win32  the shipped 32-bit program in a 32-bit prefix, where the host
#          executes 32-bit x86 programs;
#   win64  the same sources built for x86-64 in a 64-bit prefix, where it
#          does not. The 32-bit program is still built and its Windows XP
#          import checks still run.
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh all || { echo "could not install the build packages"; exit 1; }

summary=()
passed=0
failed=0
status=0

# run_preset PRESET [CTEST ARGUMENTS...]: builds the preset and runs its
# tests. In the Windows lane a test that did not run counts as failed.
run_preset() {
  local preset=$1
  shift
  echo "== $preset: configure and build"
  if ! cmake --preset "$preset" >/dev/null || ! cmake --build --preset "$preset"; then
    echo "== $preset: build failed"
    status=1
    failed=$((failed + 1))
    summary+=("$preset: build failed")
    return
  fi
  echo "== $preset: tests"
  local log
  log=$(mktemp)
  ctest --preset "$preset" "$@" 2>&1 | tee "$log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  local line total bad skipped
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  skipped=$(grep -c -E '^\s*[0-9]+ - .*\(Skipped\)' "$log")
  if [ -n "$line" ]; then
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
    passed=$((passed + total - bad - skipped))
    failed=$((failed + bad))
    if [ "$skipped" -gt 0 ] && [ "$preset" = "$lane" ]; then
      failed=$((failed + skipped))
      status=1
      line="$line; $skipped did not run"
    fi
    summary+=("$preset: $line")
  else
    status=1
    failed=$((failed + 1))
    summary+=("$preset: no test ran")
  fi
  rm -f "$log"
}

{ read -r lane; read -r why; } < <(python3 scripts/windows_lane.py) || true
case "${lane:-}" in win32 | win64) ;; *) echo "cannot tell the Windows lane"; exit 1 ;; esac

run_preset linux
# The static checks, on the sources the Linux build compiled.
if scripts/tidy.sh build/linux; then
  summary+=("clang-tidy: no findings")
else
  status=1
  failed=$((failed + 1))
  summary+=("clang-tidy: findings")
fi
run_preset linux-asan
run_preset fuzz
if [ "$lane" = win32 ]; then
  run_preset win32
else
  run_preset win32 -R 'xp_imports'
  run_preset win64
fi

echo
printf '%s\n' "${summary[@]}"
echo "Windows lane: $lane ($why)"
echo "all presets: $passed passed, $failed failed"
exit $status
