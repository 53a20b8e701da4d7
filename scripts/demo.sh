#!/usr/bin/env bash
# The demo: builds the Linux program, checks a sample "Create Scheme" job with
# zrt-check and runs it on a copy of the bundled simulated Windows XP laptop,
# then shows the power schemes before and after, the activity log, the
# Powercfg.exe commands run and the status document; last, the same job
# rehearsed on the sample fleet of sixteen machines.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh linux
cmake --preset linux >/dev/null
cmake --build --preset linux --target zReTessalyXP zrt-check >/dev/null

work=$(mktemp -d)
machine="$work/xp-laptop"
cp -r examples/machines/xp-laptop "$machine"
mkdir -p "$machine/drive_c/Jobs"
cp examples/jobs/create-field-work.xml "$machine/drive_c/Jobs/"

schemes() {
  python3 - "$machine/power.json" <<'PY'
import json, sys
power = json.load(open(sys.argv[1]))
for s in power["schemes"]:
    mark = "  (active)" if s["index"] == power.get("active_scheme") else ""
    print(f'  {s["index"]:>3}  {s["name"]}{mark}')
PY
}

job='OD@#@5012@#@C:\Jobs\create-field-work.xml@#@JOB-77@#@jsmith@#@12/07/2026 10:30:00@#@88231@#@0@#@4411'

echo "== Machine: $machine (simulated Windows XP laptop)"
echo "== Job document C:\\Jobs\\create-field-work.xml:"
sed 's/^/  /' examples/jobs/create-field-work.xml
echo
echo "== What the job will do, told by zrt-check before it goes out:"
build/linux/zrt-check examples/jobs/create-field-work.xml | sed 's/^/  /' || true
echo
echo "== Power schemes before:"
schemes
echo
echo "== Running: zReTessalyXP \"$job\""
ZRT_SIM_MACHINE="$machine" build/linux/zReTessalyXP "$job"
echo "   exit code $?"
echo
echo "== Activity log:"
find "$machine/drive_c" -name 'zReTessalyXP_*.Log' -exec cat {} \; | tr -d '\r'
echo
echo "== Powercfg.exe commands run as the logged-on user:"
python3 - "$machine/commands.jsonl" <<'PY'
import json, sys
for line in open(sys.argv[1]):
    c = json.loads(line)
    print(f'  [{c["account"]} on {c["desktop"]}, exit code {c["exit_code"]}]  {c["command_line"]}')
PY
echo
echo "== Status document received by the post library:"
python3 - "$machine/posts.jsonl" <<'PY'
import json, sys
for line in open(sys.argv[1]):
    post = json.loads(line)
    print("  URL:", post["texts"][0])
    print(post["texts"][1])
PY
echo
echo "== Power schemes after:"
schemes
echo
echo "== The same job rehearsed on the sample fleet (examples/fleet/fleet.json), one summary:"
scripts/make_sample_fleet.py "$work/fleet" >/dev/null
build/linux/zrt-check examples/jobs/create-field-work.xml --fleet "$work/fleet" \
  --html "$work/fleet.html" | sed 's/^/  /' || true
echo "   (the same as a page: $work/fleet.html)"
