#!/usr/bin/env bash
# The demonstration, in a Wine prefix of its own:
#   1. the shared definitions as a Windows program prints them;
#   2. the drivers installed and four ports configured (COM5 "COM" and COM6 "Encryption" to
#      a device server on 127.0.0.1 that echoes and reports its modem lines, COM7 and COM8
#      to a second one), brought up by the bus;
#   3. the control program PortaraCtl.exe started: it runs a worker for every port;
#   4. a plain serial program exchanging a message on COM5 and COM6 through the driver,
#      PortaraCtl's workers, TCP and the device server;
#   5. pictures of the port list (COM5 open), the monitor with live traffic and the
#      settings dialog in its three modes, in build/screenshots;
#   6. COM5 moved to the second device server from the port list, forced closed while an
#      application holds it, and the next open reaching the second server;
#   7. PortaraCtl quit through its quit request; nothing of the run is left running.
# Exits 0 only when every echo came back as sent and every step did what it should.
# PORTARA_DEMO_PICTURES=0 leaves the pictures out (the end-to-end test runs it so).
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Outside the bench: make the prefix and run the rest of this script inside the bench.
if [ "${PORTARA_DEMO_INSIDE:-}" != 1 ]; then
    source "$root/scripts/scratch-prefix.sh"
    PORTARA_DEMO_INSIDE=1 "$root/scripts/winebench.sh" bash "$root/scripts/demo.sh"
    exit $?
fi

source "$root/scripts/ports-lib.sh"
build=$root/build/win64
export PTA_DEVSERVER=$root/build/native/devserver/ptadevsrv
run=$(mktemp -d)
shots=$root/build/screenshots
pictures=${PORTARA_DEMO_PICTURES:-1}
lifetime_ms=300000   # the device servers stop by themselves after this
server_pid=
server2_pid=
ctl_pid=
holder_pid=
shot() { [ "$pictures" = 1 ] && probe shot "$(wine_path "$run/$1.bmp")"; }
probe() { timeout 90 wine "$build/tools/ctlprobe/ctlprobe.exe" "$@" | tr -d '\r'; }
finish() {
    [ -n "$holder_pid" ] && { kill "$holder_pid" 2>/dev/null; wait "$holder_pid" 2>/dev/null; }
    if [ -n "$ctl_pid" ]; then
        probe quit >/dev/null 2>&1
        for _ in $(seq 100); do kill -0 "$ctl_pid" 2>/dev/null || break; sleep 0.1; done
        kill "$ctl_pid" 2>/dev/null
        wait "$ctl_pid" 2>/dev/null
    fi
    for pid in $server_pid $server2_pid; do
        kill -TERM "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    rm -rf "$run"
}
trap finish EXIT
fail() { echo "demo: $*" >&2; exit 1; }
[ -x "$PTA_DEVSERVER" ] || fail "no device server at $PTA_DEVSERVER (make build)"
rc=0
step_failed() { echo "   FAILED: $*"; rc=1; }

echo "== The shared definitions"
wine "$build/tools/ptainfo/ptainfo.exe" | head -n 12
echo "   ..."
echo

echo "== Two device servers on loopback: they echo, and report CTS, DSR and DCD on (0xB0)"
devserver_start "$run/server.log" /dev/null --echo --modem 0xB0 --lifetime $lifetime_ms \
    || fail "the device server did not start"
server_pid=$devserver_pid
port1=$devserver_port
devserver_start "$run/server2.log" /dev/null --echo --modem 0xB0 --lifetime $lifetime_ms \
    || fail "the second device server did not start"
server2_pid=$devserver_pid
port2=$devserver_port
echo "   ptadevsrv pid $server_pid on 127.0.0.1:$port1, pid $server2_pid on 127.0.0.1:$port2"
echo

echo "== Installing the bus driver and staging the port driver"
wine "$build/tools/ptadrv/ptadrv.exe" install "$(wine_path "$build/package")" || fail "install failed"
echo "== Configuring COM5 (\"COM\") and COM6 (\"Encryption\") to :$port1, COM7 and COM8 to :$port2"
configure_slots 0 1 5 "$port1" 0 || fail "configuring slot 0 failed"
configure_slots 1 1 6 "$port1" 1 || fail "configuring slot 1 failed"
configure_slots 2 2 7 "$port2" 2 || fail "configuring slots 2 and 3 failed"
wine reg add 'HKLM\SOFTWARE\Kelvor\Portara' /v COMMapInited /t REG_DWORD /d 1 /f >/dev/null
wine "$build/tools/ptadrv/ptadrv.exe" add 4 || fail "the bus refused the ports"
wait_for_serial_ports 4 60 || fail "the bus did not bring up the ports"
echo "== Serial ports in the device map"
wine reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' | tr -d '\r' | grep -i ptaser
echo

# Every program of this prefix shows its windows on one virtual desktop with frames and a
# tray, which the pictures show.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d portara /f >/dev/null
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v portara /d 1024x768 /f >/dev/null

echo "== Starting the control program PortaraCtl.exe (its window hidden, its tray icon shown)"
wine "$build/ctl/app/PortaraCtl.exe" >"$run/ctl.log" 2>&1 &
ctl_pid=$!
probe wait | sed 's/^/   /' || fail "PortaraCtl did not come up"
echo

for com in COM5 COM6; do
    echo "== comdemo $com, through PortaraCtl's worker"
    wine "$build/tools/comdemo/comdemo.exe" "$com" | tr -d '\r' | sed 's/^/   /'
    [ "${PIPESTATUS[0]}" -eq 0 ] || rc=1
    echo
done

echo "== The port list and the monitor while an application holds COM5 open with traffic"
# An application holds COM5 open with a stream of round trips while the pictures are made.
wine "$build/tools/combench/combench.exe" latency COM5 200000 115200 >"$run/holder.log" 2>&1 &
holder_pid=$!
probe show 0
if probe wait-cell COM5 4 Open | sed 's/^/   /'; then
    echo "   the port list shows COM5 open without a refresh"
else
    step_failed "the port list did not show COM5 open"
fi
shot port-list
probe show 1
sleep 1
tx=$(for _ in 1 2 3 4 5 6; do probe image 0 6; sleep 0.15; done | tr '\n' ' ')
rx=$(for _ in 1 2 3 4 5 6; do probe image 0 7; sleep 0.15; done | tr '\n' ' ')
echo "   monitor row COM5, TX images: $tx(3 green: sent), RX images: $rx(4 orange: received)"
case "$tx$rx" in *3*4*) ;; *) step_failed "the monitor showed no traffic on COM5" ;; esac
shot monitor
probe show 0
probe press 1034
shot settings-configure
probe answer "Multiport Configuration" 2 >/dev/null || step_failed "the settings dialog did not come up"
echo

if [ "$pictures" = 1 ]; then
echo "== Pictures of the control program in $shots"
mkdir -p "$shots"
probe hide
for mode in add remove; do
    timeout 90 wine "$build/tests/win/app/main_window_view.exe" "$(wine_path "$run/settings-$mode.bmp")" conf $mode \
        >/dev/null 2>&1 || step_failed "the settings dialog in $mode mode could not be shown"
done
if ! "$root/scripts/screenshot.sh" | sed 's/^/   /'; then
    step_failed "the pictures of the main window and its tray menu could not be made"
fi
for name in port-list monitor settings-configure settings-add settings-remove; do
    if [ -f "$run/$name.bmp" ]; then
        convert "$run/$name.bmp" "$shots/$name.png" && echo "   $shots/$name.png"
    else
        step_failed "no picture $name"
    fi
done
echo
fi

echo "== COM5 moved to the second server (:$port2) in the port list, then forced closed"
probe show 0
probe click COM5
probe set 1010 "$port2"
probe press 1012
sleep 1
shown=$(probe cell 1000 "$(probe row COM5)" 2)
echo "   the list now shows TCP port $shown"
[ "$shown" = "$port2" ] || step_failed "Apply Settings did not reach the list"
probe press 1016
probe answer WARNING 1 | sed 's/^/   /'
[ "${PIPESTATUS[0]}" -eq 0 ] || step_failed "no confirmation before the forced close"
answer=$(probe answer PortaraCtl 1)
echo "   $answer"
case "$answer" in *": Port Closed") ;; *) step_failed "the forced close did not report \"Port Closed\"" ;; esac
for _ in $(seq 50); do kill -0 "$holder_pid" 2>/dev/null || break; sleep 0.1; done
kill "$holder_pid" 2>/dev/null
wait "$holder_pid" 2>/dev/null
holder_pid=
tr -d '\r' <"$run/holder.log" | tail -n 2 | sed 's/^/   combench (the application that held COM5): /'
before=$(grep -c '^connect' "$run/server2.log")
echo "== comdemo COM5 again: the new open reaches the second server"
wine "$build/tools/comdemo/comdemo.exe" COM5 | tr -d '\r' | sed 's/^/   /'
[ "${PIPESTATUS[0]}" -eq 0 ] || rc=1
after=$(grep -c '^connect' "$run/server2.log")
if [ "$after" -gt "$before" ]; then
    echo "   the second server saw the connection ($before -> $after connects)"
else
    step_failed "the second server saw no new connection"
fi
echo

echo "== What the device servers saw"
grep -E '^(connect|close|key|msg [0-9]+ MSG_(BAUD|LINE|MODEM))' "$run/server.log" | sed 's/^/   ptadevsrv 1: /' | head -n 20
grep -E '^(connect|close)' "$run/server2.log" | sed 's/^/   ptadevsrv 2: /'
echo

echo "== Quitting PortaraCtl through its quit request"
probe quit | sed 's/^/   /' || step_failed "PortaraCtl's window stayed"
for _ in $(seq 150); do kill -0 "$ctl_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$ctl_pid" 2>/dev/null; then
    step_failed "PortaraCtl is still running after the quit request"
else
    wait "$ctl_pid"
    echo "   PortaraCtl ended"
    ctl_pid=
fi
for pid in $server_pid $server2_pid; do kill -TERM "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
server_pid= server2_pid=
echo

if [ $rc -eq 0 ]; then
    echo "== Demo passed: every port carried its message there and back through PortaraCtl"
else
    echo "== Demo FAILED: see the lines marked FAILED above"
fi
exit $rc
