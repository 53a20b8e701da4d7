#!/usr/bin/env bash
# Installs the Debian packages the build needs, once. Usage:
#   scripts/install-deps.sh linux   # the Linux program and its tests
#   scripts/install-deps.sh all     # also MinGW-w64 and Wine for the Windows program
set -euo pipefail

what=${1:-all}
# libssl-dev: SHA-256 for zrt-check's fleet parts and the unit tests of the capture's keyed
# placeholders.
packages=(g++ cmake ninja-build libgtest-dev libgmock-dev libpugixml-dev nlohmann-json3-dev python3
  libssl-dev)
# time and strace: the peak memory and the files opened that scripts/reliability.py measures.
if [ "$what" = all ]; then packages+=(clang clang-tidy libclang-rt-14-dev time strace); fi
if [ "$what" = all ]; then
  # locales-all: the locales under which Wine takes the ANSI code pages of the
  # scenario machines (ru_RU.UTF-8 gives 1251, ja_JP.UTF-8 932, ...).
  packages+=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine32:i386 wine64
             locales-all)
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$what" = all ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
