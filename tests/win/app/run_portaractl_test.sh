#!/usr/bin/env bash
# The real PortaraCtl.exe under Wine in a prefix of its own: the drivers installed, no
# port configured, the first start. The probe checks the program from outside and asks it
# to quit; the program must then end by itself.
#   run_portaractl_test.sh <PortaraCtl.exe> <portaractl_probe.exe> <ptadrv.exe> <package folder>
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
source "$root/scripts/scratch-prefix.sh"

"$root/scripts/winebench.sh" bash -u -c '
    ctl=$1 probe=$2 ptadrv=$3 package=$(winepath -w "$4")
    wine "$ptadrv" install "$package" || exit 1
    wine "$probe" wait-bus || exit 1
    wine reg add "HKLM\\SOFTWARE\\Kelvor\\Portara" /v COMMapInited /t REG_DWORD /d 1 /f >/dev/null
    wine "$ctl" &
    ctl_pid=$!
    wine "$probe" check
    rc=$?
    # The program ends by itself after the quit request; its end is part of the test.
    for _ in $(seq 300); do kill -0 $ctl_pid 2>/dev/null || break; sleep 0.1; done
    if kill -0 $ctl_pid 2>/dev/null; then
        echo "FAILED: PortaraCtl is still running after the quit request"
        kill $ctl_pid
        rc=$((rc + 1))
    else
        wait $ctl_pid
        echo "ok: PortaraCtl ended with exit code $?"
    fi
    exit $rc
' _ "$@"
