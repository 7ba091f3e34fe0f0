#!/usr/bin/env bash
# The demonstration, run inside the Wine bench.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
wine build/win64/tools/ptainfo/ptainfo.exe
