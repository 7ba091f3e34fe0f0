#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demonstration need, and only
# when something is missing. Safe to run again.
set -euo pipefail

packages=(cmake make g++ googletest clang libclang-rt-14-dev
          g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64
          wine wine64 xvfb xauth socat ser2net imagemagick)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "deps: installing ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
