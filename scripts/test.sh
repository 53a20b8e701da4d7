#!/usr/bin/env bash
# Builds both programs and runs every test: unit tests and Linux scenarios
# (also under AddressSanitizer and UndefinedBehaviorSanitizer), then the
# Windows program's checks and scenarios under Wine.
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh all || { echo "could not install the build packages"; exit 1; }

summary=()
passed=0
failed=0
status=0

run_preset() {
  local preset=$1
  echo "== $preset: configure and build"
  if ! cmake --preset "$preset" >/dev/null || ! cmake --build --preset "$preset"; then
    echo "== $preset: build failed"
    status=1
    failed=$((failed + 1))
    return
  fi
  echo "== $preset: tests"
  local log
  log=$(mktemp)
  ctest --preset "$preset" 2>&1 | tee "$log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  local line total bad
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -n "$line" ]; then
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
    summary+=("$preset: $line")
  fi
  rm -f "$log"
}

run_preset linux
run_preset linux-asan
run_preset fuzz
run_preset win32

echo
printf '%s\n' "${summary[@]}"
echo "all presets: $passed passed, $failed failed"
exit $status
