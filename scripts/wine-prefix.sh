#!/usr/bin/env bash
# A private Wine prefix set to Windows XP, for running the Windows program
# and its test doubles: 32-bit (win32, the shipped program) or 64-bit (win64,
# the same sources built for x86-64, for hosts that run no 32-bit code).
#
#   scripts/wine-prefix.sh create [PREFIX [ARCH]]  make the prefix if needed, then start it
#   scripts/wine-prefix.sh start  [PREFIX]  start a persistent wineserver and a shell
#                                           (explorer.exe) if they are not running
#   scripts/wine-prefix.sh stop   [PREFIX]  stop every Wine process of the prefix
#   scripts/wine-prefix.sh env    [PREFIX]  print the environment to use it
#
# PREFIX defaults to build/win32/wineprefix in the repository; ARCH (win32 or
# win64, default $WINEARCH or win32) is kept with the prefix. Commands in the
# prefix are then run with the environment that `env` prints, which names
# the Wine loader for the prefix's architecture in ZRT_WINE, for example:
#   eval "$(scripts/wine-prefix.sh env)"; "$ZRT_WINE" reg query 'HKCU\Software\Wine'
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
  sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
}

[ -n "$command" ] || usage
case "$prefix" in /*) ;; *) prefix=$(pwd)/$prefix ;; esac

# The marker of a prefix that is set up holds its architecture.
ready_marker=$prefix/.zrt-prefix-ready
arch=${3:-${WINEARCH:-win32}}
if [ -s "$ready_marker" ]; then
  made=$(cat "$ready_marker")
  if [ -n "${3:-}" ] && [ "$3" != "$made" ]; then
    echo "wine-prefix: $prefix is a $made prefix, not $3" >&2
    exit 1
  fi
  arch=$made
elif [ -f "$ready_marker" ]; then
  arch=win32 # made before prefixes recorded their architecture
fi
case "$arch" in win32 | win64) ;; *) usage ;; esac

export WINEPREFIX=$prefix
export WINEARCH=$arch
export WINEDEBUG=${WINEDEBUG:--all}
# The 64-bit lane calls the 64-bit loader itself: Debian's `wine` starts the
# 32-bit one whenever it is installed, and that cannot start on a host
# without 32-bit code. Wine starts its helper programs with WINELOADER.
if [ "$arch" = win64 ]; then
  wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
  export WINELOADER=$wine
else
  wine=wine
fi
# No prompts to install Mono or Gecko: the program needs neither.
boot_overrides="mscoree,mshtml="

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
    echo "wine-prefix: creating $prefix ($arch, Windows XP)"
    # On a host without 32-bit code a 64-bit prefix's boot fails at once to
    # start its 32-bit part (syswow64\rundll32.exe) and goes on without it.
    WINEDLLOVERRIDES=$boot_overrides timeout 300 "$wine" wineboot -i >/dev/null 2>&1
    "$wine" reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d winxp /f >/dev/null
    wineserver -w
    # The machines the tests describe are 32-bit Windows XP unless a case
    # says otherwise, and the program takes a machine with this folder for a
    # 64-bit one.
    [ "$arch" = win32 ] || rm -rf "$prefix/drive_c/Program Files (x86)"
    echo "$arch" >"$ready_marker"
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
    setsid "$wine" explorer.exe /desktop=shell,800x600 </dev/null >/dev/null 2>&1 &
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
    printf 'export WINEPREFIX=%q WINEARCH=%q WINEDEBUG=%q ZRT_WINE=%q\n' \
      "$prefix" "$arch" "$WINEDEBUG" "$wine"
    [ "$arch" = win32 ] || printf 'export WINELOADER=%q\n' "$wine"
    ;;
  *) usage ;;
esac
