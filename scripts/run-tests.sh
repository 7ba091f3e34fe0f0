#!/usr/bin/env bash
# Runs every test tier: the native tests, the fuzz targets for a bounded time each, then the
# Windows-side tests under the Wine bench.
# Exits non-zero when any test of any tier fails.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

ctest --preset native
native=$?
scripts/fuzz.sh
fuzz=$?
scripts/winebench.sh ctest --preset win64
windows=$?

[ $native -eq 0 ] && [ $fuzz -eq 0 ] && [ $windows -eq 0 ]
