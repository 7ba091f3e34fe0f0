#!/usr/bin/env bash
# The demonstration, in a Wine prefix of its own:
#   1. the shared definitions as a Windows program prints them;
#   2. the drivers installed, two ports configured (COM5 with the "COM" protocol, COM6 with
#      "Encryption") to a device server on 127.0.0.1 that echoes and reports its modem
#      lines, and brought up by the bus;
#   3. the port workers started, and a plain serial program exchanging a message on each
#      port through the driver, the workers, TCP and the device server.
# Exits 0 only when both echoes came back as sent.
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
lifetime_ms=180000   # the device server and the workers stop by themselves after this
server_pid=
workers_pid=
finish() {
    if [ -n "$workers_pid" ]; then
        { echo quit >&4; } 2>/dev/null
        exec 4>&-
        for _ in $(seq 100); do kill -0 "$workers_pid" 2>/dev/null || break; sleep 0.1; done
        kill "$workers_pid" 2>/dev/null
        wait "$workers_pid" 2>/dev/null
    fi
    if [ -n "$server_pid" ]; then
        kill -TERM "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
    fi
    rm -rf "$run"
}
trap finish EXIT
fail() { echo "demo: $*" >&2; exit 1; }
[ -x "$PTA_DEVSERVER" ] || fail "no device server at $PTA_DEVSERVER (make build)"

echo "== The shared definitions"
wine "$build/tools/ptainfo/ptainfo.exe" | head -n 12
echo "   ..."
echo

echo "== A device server on loopback: echoes, reports CTS, DSR and DCD on (0xB0)"
devserver_start "$run/server.log" /dev/null --echo --modem 0xB0 --lifetime $lifetime_ms \
    || fail "the device server did not start"
server_pid=$devserver_pid
echo "   ptadevsrv pid $server_pid listening on 127.0.0.1:$devserver_port"
echo

echo "== Installing the bus driver and staging the port driver"
wine "$build/tools/ptadrv/ptadrv.exe" install "$(wine_path "$build/package")" || fail "install failed"
echo "== Configuring slot 0 as COM5 (\"COM\") and slot 1 as COM6 (\"Encryption\")," \
     "both to 127.0.0.1:$devserver_port"
configure_slots 0 1 5 "$devserver_port" 0 || fail "configuring slot 0 failed"
configure_slots 1 1 6 "$devserver_port" 1 || fail "configuring slot 1 failed"
wine "$build/tools/ptadrv/ptadrv.exe" add 2 || fail "the bus refused the ports"
wait_for_serial_ports 2 60 || fail "the bus did not bring up both ports"
echo "== Serial ports in the device map"
wine reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' | tr -d '\r' | grep -i ptaser
echo

echo "== Starting the port workers"
mkfifo "$run/workers.in"
wine "$build/tools/ptaworkers/ptaworkers.exe" --time $lifetime_ms \
    <"$run/workers.in" >"$run/workers.log" 2>&1 &
workers_pid=$!
exec 4>"$run/workers.in"
workers_log() { tr -d '\r' <"$run/workers.log"; }
for _ in $(seq 150); do
    [ "$(workers_log | grep -c ' running$')" -ge 2 ] && break
    workers_log | grep -q 'not running' && break
    sleep 0.1
done
workers_log | sed 's/^/   ptaworkers: /'
[ "$(workers_log | grep -c ' running$')" -ge 2 ] || fail "the workers did not start"
echo

rc=0
for com in COM5 COM6; do
    echo "== comdemo $com"
    wine "$build/tools/comdemo/comdemo.exe" "$com" | tr -d '\r' | sed 's/^/   /'
    [ "${PIPESTATUS[0]}" -eq 0 ] || rc=1
    echo
done

echo "== The workers' view (status SLOT ACT CON ERR TX RX RTS CTS DTR DSR DCD), then quit"
echo status >&4
echo quit >&4
exec 4>&-
for _ in $(seq 100); do kill -0 "$workers_pid" 2>/dev/null || break; sleep 0.1; done
workers_pid=
workers_log | grep -v ' running$' | sed 's/^/   ptaworkers: /'
echo

echo "== What the device server saw"
grep -E '^(connect|close|key|msg [0-9]+ MSG_(BAUD|LINE|MODEM))' "$run/server.log" | sed 's/^/   ptadevsrv: /'
kill -TERM "$server_pid" 2>/dev/null
wait "$server_pid" 2>/dev/null
server_pid=
echo

echo "== The control program's main window"
if "$root/scripts/screenshot.sh" | sed 's/^/   /'; then
    echo "   (the window shown, and its tray menu open)"
else
    echo "   the screenshots could not be made"
    rc=1
fi
echo

if [ $rc -eq 0 ]; then
    echo "== Demo passed: both ports carried the message there and back"
else
    echo "== Demo FAILED: an echo did not come back as sent"
fi
exit $rc
