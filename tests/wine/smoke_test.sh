#!/usr/bin/env bash
# Smoke run of the Windows program under Wine with the test doubles: a
# machine with the product installed, a logged-on shell, three power schemes
# and a job that deletes one of them. Passes when the program exits with 0;
# prints the activity log, the posts and the schemes afterwards.
#
#   smoke_test.sh PREFIX PROGRAM DOUBLES_DIR
set -euo pipefail

prefix=$1
program=$2
doubles=$3
repo=$(cd "$(dirname "$0")/../.." && pwd)

"$repo/scripts/wine-prefix.sh" start "$prefix"
eval "$("$repo/scripts/wine-prefix.sh" env "$prefix")"
drive_c=$prefix/drive_c

# The installation folder (with the post library) and the folder the agent
# starts the program from (with the power-profile double beside it).
install="$drive_c/Program Files/Merqel/zReTessalyXP"
run="$drive_c/zrt-smoke"
rm -rf "$run" "$drive_c/Program Files/Merqel"
mkdir -p "$install/Configuration" "$run"
cp "$doubles/zCourier.dll" "$install/"
cp "$program" "$doubles/powrprof.dll" "$run/"
printf '[wpdcmscriptjobinstancestatus]\r\nURL=https://status.smoke.invalid\r\n' \
  >"$install/Configuration/zLocator.ini"
cat >"$run/job.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<job>
  <scriptinstance scriptid="5012" scriptver="1.0" category="Power" fncname="Power Management" logonuser="jsmith">
    <step value="1">
      <action>Delete Scheme</action>
      <schemename>Night Shift</schemename>
    </step>
  </scriptinstance>
</job>
XML

cat >"$run/machine.reg" <<'REG'
REGEDIT4

[-HKEY_LOCAL_MACHINE\SOFTWARE\MERQEL]
[HKEY_LOCAL_MACHINE\SOFTWARE\MERQEL]
"REGID"="R-SMOKE"
"InstallationPath"="C:\\Program Files\\Merqel\\zReTessalyXP"
"MEMBERID"="M-1"
"TYPE"="WS"
"SITEID"="S-1"

[-HKEY_CURRENT_USER\Control Panel\PowerCfg]
[HKEY_CURRENT_USER\Control Panel\PowerCfg]
"CurrentPowerPolicy"="0"
[HKEY_CURRENT_USER\Control Panel\PowerCfg\PowerPolicies\0]
"Name"="Home/Office Desk"
"Description"="This scheme is suited to most home or desktop computers."
[HKEY_CURRENT_USER\Control Panel\PowerCfg\PowerPolicies\1]
"Name"="Portable/Laptop"
"Description"="This scheme is designed for extended battery life."
[HKEY_CURRENT_USER\Control Panel\PowerCfg\PowerPolicies\3]
"Name"="Night Shift"
"Description"="Overnight jobs"

[-HKEY_LOCAL_MACHINE\Software\ZrtTestDoubles]
[HKEY_LOCAL_MACHINE\Software\ZrtTestDoubles\zCourier]
"RecordFile"="C:\\zrt-smoke\\posts.jsonl"
"Answers"="[{\"result\": \"1\"}]"
REG
"$ZRT_WINE" reg import 'C:\zrt-smoke\machine.reg' >/dev/null

status=0
WINEDLLOVERRIDES=powrprof=n "$ZRT_WINE" 'C:\zrt-smoke\zReTessalyXP.exe' \
  'OD@#@5012@#@C:\zrt-smoke\job.xml@#@J-1@#@jsmith@#@2024-03-09T13:05:09@#@I-1@#@0@#@SJ-1' ||
  status=$?

echo "== exit code: $status"
echo "== activity log"
find "$drive_c" -path '*Merqel/ApplicationLog*' -type f -exec cat {} + 2>/dev/null || true
echo "== posts"
cat "$run/posts.jsonl" 2>/dev/null || echo "(none)"
echo "== fallback status files"
find "$drive_c" -path '*Merqel/QTVPostLogs*' -type f 2>/dev/null || true
echo "== schemes after the run"
"$ZRT_WINE" reg query 'HKCU\Control Panel\PowerCfg\PowerPolicies' 2>/dev/null | tr -d '\r' || true
[ "$status" -eq 0 ]
