#!/usr/bin/env bash
# Runs the driver test in a prefix of its own (a copy of the bench's cached prefix when
# there is one), in two benches: the wineserver restart between them is part of the test.
#   run_driver_test.sh <driver_win_test.exe> <package folder>
set -u
exe=$1
export PORTARA_PACKAGE_DIR=$2
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
if [ -n "${WINEPREFIX:-}" ] && [ -f "$WINEPREFIX/.portara-ready" ]; then
    cp -a "$WINEPREFIX" "$tmp/prefix"
fi
export PORTARA_WINEPREFIX=$tmp/prefix

rc=0
"$root/scripts/winebench.sh" wine "$exe" --gtest_filter='Install.*' || rc=1
[ $rc -eq 0 ] && { "$root/scripts/winebench.sh" wine "$exe" --gtest_filter='Restart.*' || rc=1; }
exit $rc
