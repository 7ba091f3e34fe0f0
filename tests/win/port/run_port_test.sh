#!/usr/bin/env bash
# Runs the serial port test against the real drivers in a prefix of its own.
#   run_port_test.sh <port_win_test.exe> <package folder>
set -u
exe=$1
export PORTARA_PACKAGE_DIR=$2
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
source "$root/scripts/scratch-prefix.sh"

"$root/scripts/winebench.sh" wine "$exe"
