#!/usr/bin/env bash
# A private 32-bit Wine prefix set to Windows XP, for running the Windows
# program and its test doubles.
#
#   scripts/wine-prefix.sh create [PREFIX]  make the prefix if needed, then start it
#   scripts/wine-prefix.sh start  [PREFIX]  start a persistent wineserver and a shell
#                                           (explorer.exe) if they are not running
#   scripts/wine-prefix.sh stop   [PREFIX]  stop every Wine process of the prefix
#   scripts/wine-prefix.sh env    [PREFIX]  print the environment to use it
#
# PREFIX defaults to build/win32/wineprefix in the repository. Commands in the
# prefix are then run with the environment that `env` prints, for example:
#   eval "$(scripts/wine-prefix.sh env)"; wine reg query 'HKCU\Software\Wine'
#
# Wine starts its own explorer.exe with a session only for a while; the
# program looks for a process named explorer.exe as the logged-on user's
# shell, so `start` keeps one running for as long as the prefix is started
# (a desktop named "shell"; no X display is needed).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
command=${1:-}
prefix=${2:-$repo/build/win32/wineprefix}

usage() {
  sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
}

[ -n "$command" ] || usage
case "$prefix" in /*) ;; *) prefix=$(pwd)/$prefix ;; esac

export WINEPREFIX=$prefix
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
# No prompts to install Mono or Gecko: the program needs neither.
boot_overrides="mscoree,mshtml="

ready_marker=$prefix/.zrt-prefix-ready

# True when the prefix's shell (explorer.exe /desktop=shell) runs. Wine
# processes keep WINEPREFIX in their environment, which tells prefixes apart.
shell_running() {
  local pid environment
  for pid in $(pgrep -f 'explorer.exe /desktop=shell' || true); do
    environment=$(tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ") || continue
    grep -qxF "WINEPREFIX=$prefix" <<<"$environment" && return 0
  done
  return 1
}

create() {
  if [ ! -f "$ready_marker" ]; then
    mkdir -p "$prefix"
    echo "wine-prefix: creating $prefix (32-bit, Windows XP)"
    WINEDLLOVERRIDES=$boot_overrides wineboot -i >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d winxp /f >/dev/null
    wineserver -w
    touch "$ready_marker"
  fi
  start
}

start() {
  if [ ! -f "$ready_marker" ]; then
    echo "wine-prefix: $prefix is not set up; run: $0 create $prefix" >&2
    exit 1
  fi
  # A persistent server keeps the session (and the shell) between programs.
  wineserver -p </dev/null >/dev/null 2>&1 || true  # fails when one runs already
  if ! shell_running; then
    setsid wine explorer.exe /desktop=shell,800x600 </dev/null >/dev/null 2>&1 &
    local deadline=$((SECONDS + 60))
    until shell_running; do
      if [ $SECONDS -ge $deadline ]; then
        echo "wine-prefix: the shell did not start within 60 s" >&2
        exit 1
      fi
      sleep 0.2
    done
  fi
}

stop() {
  [ -d "$prefix" ] || return 0
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}

case "$command" in
  create) create ;;
  start) start ;;
  stop) stop ;;
  env)
    printf 'export WINEPREFIX=%q WINEARCH=win32 WINEDEBUG=%q\n' "$prefix" "$WINEDEBUG"
    ;;
  *) usage ;;
esac
