#!/usr/bin/env bash
# Runs the driver test in a prefix of its own, in two benches: the wineserver restart
# between them is part of the test.
#   run_driver_test.sh <driver_win_test.exe> <package folder>
set -u
exe=$1
export PORTARA_PACKAGE_DIR=$2
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
source "$root/scripts/scratch-prefix.sh"

"$root/scripts/winebench.sh" wine "$exe" --gtest_filter='Install.*' || exit 1
"$root/scripts/winebench.sh" wine "$exe" --gtest_filter='Restart.*'
