#!/usr/bin/env bash
# Runs a Windows test program under Wine in a prefix of its own (its own wineserver and
# display), so that no other bench's programs or tray icons meet the windows under test.
#   run_app_test.sh <program.exe> [args...]
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
source "$root/scripts/scratch-prefix.sh"
"$root/scripts/winebench.sh" wine "$@"
