#!/usr/bin/env bash
# The demonstration: the shared definitions as a Windows program prints them, then the
# drivers installed in a Wine prefix of the demo's own, two ports configured and brought
# up by the bus and opened by their COM names and device names.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/scratch-prefix.sh"
bench=$root/scripts/winebench.sh
build=$root/build/win64
package=Z:$(echo "$build/package" | tr / '\\')

"$bench" bash -euo pipefail -c '
    echo "== The shared definitions"
    wine "$1/tools/ptainfo/ptainfo.exe"
    echo
    echo "== Installing the bus driver and staging the port driver"
    wine "$1/tools/ptadrv/ptadrv.exe" install "$2"
    echo "== Configuring slot 0 as COM5 and slot 1 as COM12, asking the bus for 2 ports"
    wine reg add "HKLM\\SOFTWARE\\Kelvor\\Portara\\0000" /v ComPort /t REG_DWORD /d 5 /f >/dev/null
    wine reg add "HKLM\\SOFTWARE\\Kelvor\\Portara\\0001" /v ComPort /t REG_DWORD /d 12 /f >/dev/null
    wine "$1/tools/ptadrv/ptadrv.exe" add 2
    serialcomm() { wine reg query "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM" 2>/dev/null | tr -d "\r" | grep -i ptaser || true; }
    for _ in $(seq 100); do [ "$(serialcomm | wc -l)" -ge 2 ] && break; sleep 0.1; done
    echo "== Serial ports in the device map"
    serialcomm
    echo "== Opening the ports by both names"
    wine "$1/tools/ptadrv/ptadrv.exe" probe COM5 COM12 ptaser21 ptaser22
' _ "$build" "$package"
