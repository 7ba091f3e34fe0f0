#!/usr/bin/env bash
# The soak, in a Wine prefix of its own: 16 ports (COM5..COM20) through the real drivers and
# the real engine (ptaworkers) to one echoing device server, each streaming numbered
# records both ways (tools/comsoak), while on a schedule the device server drops every
# connection, refuses new ones, stalls (stops reading) and falls silent, a port is forced
# closed by the control side, and the control side is stopped and started again. Two of
# the ports are opened by child processes that are killed with requests pending.
#
# Usage: scripts/soak.sh [SECONDS]   (default 240; SOAK_SECONDS too). The logs of the last
# run are left in build/soak/.
# Prints the figures; exits non-zero on any record lost outside a fault, repeated,
# reordered or corrupted, any hang, or growth of the driver host's or the engine's threads
# or open files.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-${SOAK_SECONDS:-240}}

if [ "${PORTARA_SOAK_INSIDE:-}" != 1 ]; then
    source "$root/scripts/scratch-prefix.sh"
    PORTARA_SOAK_INSIDE=1 "$root/scripts/winebench.sh" bash "$root/scripts/soak.sh" "$seconds"
    exit $?
fi

source "$root/scripts/ports-lib.sh"
build=$root/build/win64
export PTA_DEVSERVER=$root/build/native/devserver/ptadevsrv
run=$(mktemp -d)
ports=16
lifetime_ms=$(((seconds + 180) * 1000))
server_pid=
workers_pid=
soak_pid=
finish() {
    [ -n "$soak_pid" ] && kill "$soak_pid" 2>/dev/null
    workers_stop
    if [ -n "$server_pid" ]; then
        kill -TERM "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
    fi
    # The logs stay for a look after the run.
    mkdir -p "$root/build/soak"
    cp "$run"/*.log "$root/build/soak/" 2>/dev/null
    rm -rf "$run"
}
trap finish EXIT
fail() { echo "soak: $*" >&2; exit 1; }
# A notice to a program that has already ended must not end this script.
trap '' PIPE
say() { echo "soak: $(date +%T) $*"; }

[ -x "$PTA_DEVSERVER" ] || fail "no device server at $PTA_DEVSERVER (make build)"
[ -x "$build/tools/comsoak/comsoak.exe" ] || fail "no comsoak.exe (make build)"

mkfifo "$run/server.in"
exec 3<>"$run/server.in"
devserver_start "$run/server.log" "$run/server.in" --echo --alive 2000 --lifetime $lifetime_ms \
    || fail "the device server did not start"
server_pid=$devserver_pid
wine "$build/tools/ptadrv/ptadrv.exe" install "$(wine_path "$build/package")" >/dev/null || fail "install failed"
configure_slots 0 $ports 5 "$devserver_port" 0 || fail "configuring the slots failed"
wine "$build/tools/ptadrv/ptadrv.exe" add $ports >/dev/null || fail "the bus refused the ports"
wait_for_serial_ports $ports 120 || fail "the bus did not bring up $ports ports"
workers_start "$run" $lifetime_ms $ports || fail "the workers did not start"
say "$ports ports up, device server on 127.0.0.1:$devserver_port, ${seconds}s of streaming under faults"

list=$(seq -s, -f 'COM%g' 5 $((5 + ports - 1)))
mkfifo "$run/soak.in"
# comsoak's own time limit is a backstop: the schedule below ends it with "quit".
wine "$build/tools/comsoak/comsoak.exe" run --ports "$list" --kill COM19,COM20 --seconds $((seconds + 60)) \
    <"$run/soak.in" >"$run/soak.log" 2>&1 &
soak_pid=$!
exec 5>"$run/soak.in"
notice() { echo "$1" >&5; }
server() { echo "$1" >&3; }

sleep 15
read -r host_threads_before host_files_before < <(process_counts winedevice.exe)
read -r engine_threads_before engine_files_before < <(process_counts ptaworkers.exe)
faults=(drop stall restart refuse silent force drop stall)
# Faults begin until 20 s before the end; the last one and its pause take up to 24 s more.
end=$((SECONDS + seconds - 15 - 20))
i=0
restarted=
while [ $SECONDS -lt $end ] && kill -0 "$soak_pid" 2>/dev/null; do
    fault=${faults[$((i % ${#faults[@]}))]}
    i=$((i + 1))
    case $fault in
    drop)    say "the device server drops every connection"
             notice fault; server drop; sleep 1; notice restored ;;
    stall)   # Back-pressure, not a fault of the link: nothing may be lost.
             say "the device server stops reading for 6 s"
             server "stall 6000"; sleep 6.5 ;;
    refuse)  say "the device server drops and refuses connections for 5 s"
             notice fault; server "refuse on"; server drop; sleep 5; server "refuse off"; notice restored ;;
    silent)  say "the device server falls silent for 9 s"
             notice fault; server "silent 9000"; sleep 9.5; notice restored ;;
    force)   slot=$((i % 12)); com=COM$((5 + slot))
             say "the control side forces $com closed"
             notice "force $com"; echo "force $slot" >&4 ;;
    restart) say "the control side stops and starts again"
             notice restart; restarted=1; workers_stop; sleep 1
             workers_start "$run" $lifetime_ms $ports || say "the workers did not start again"
             notice restored ;;
    esac
    sleep 14
done
notice quit 2>/dev/null
for _ in $(seq 900); do kill -0 "$soak_pid" 2>/dev/null || break; sleep 0.2; done
if kill -0 "$soak_pid" 2>/dev/null; then
    kill "$soak_pid" 2>/dev/null
    soak_rc=1
    say "comsoak did not end"
else
    wait "$soak_pid"
    soak_rc=$?
fi
soak_pid=
sleep 2
read -r host_threads_after host_files_after < <(process_counts winedevice.exe)
read -r engine_threads_after engine_files_after < <(process_counts ptaworkers.exe)
exec 5>&-

tr -d '\r' <"$run/soak.log" | grep -E '^(port|error|note|notice)' | sed 's/^/   /'
tr -d '\r' <"$run/soak.log" | grep -E '^(recovery|total)' | sed 's/^/soak: /'
echo "soak: reconnections $(grep -c '^connect ' "$run/server.log") (connections the device server accepted)"
echo "soak: driver host threads $host_threads_before -> $host_threads_after, open files $host_files_before -> $host_files_after"
echo "soak: engine threads $engine_threads_before -> $engine_threads_after," \
     "open files $engine_files_before -> $engine_files_after${restarted:+ (restarted in between)}"
rc=$soak_rc
# grew BEFORE AFTER SLACK: AFTER is more than a tenth and SLACK above BEFORE.
grew() { [ "$2" -gt $(($1 + $1 / 10 + $3)) ]; }
if grew "$host_threads_before" "$host_threads_after" 4 || grew "$host_files_before" "$host_files_after" 8 ||
   grew "$engine_threads_before" "$engine_threads_after" 4 || grew "$engine_files_before" "$engine_files_after" 8; then
    echo "soak: the driver host or the engine grew"
    rc=1
fi
workers_stop
[ $rc -eq 0 ] && echo "soak: passed" || echo "soak: FAILED"
exit $rc
