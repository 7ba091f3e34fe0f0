#!/usr/bin/env bash
# Runs every test tier: the native tests, the fuzz targets for a bounded time each, the
# Windows-side tests under the Wine bench, then the soak under faults (150 s of streaming).
# Exits non-zero when any test of any tier fails.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

ctest --preset native
native=$?
scripts/fuzz.sh
fuzz=$?
scripts/winebench.sh ctest --preset win64
windows=$?
# The soak under faults, shortened.
scripts/soak.sh "${SOAK_SECONDS:-150}"
soak=$?

[ $native -eq 0 ] && [ $fuzz -eq 0 ] && [ $windows -eq 0 ] && [ $soak -eq 0 ]
