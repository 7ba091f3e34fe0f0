# Sourced: what the demo, the benchmark and the engine's Wine test share to set up ports
# against device servers on loopback. The functions that call `wine` run inside
# scripts/winebench.sh.

# devserver_line_field LOG PREFIX FIELD: field FIELD of the device server's first line
# that starts with PREFIX (waits up to 5 s for it; prints nothing if it never came).
devserver_line_field() {
    local log=$1 prefix=$2 field=$3 value=
    for _ in $(seq 50); do
        value=$(awk -v p="$prefix" -v f="$field" 'index($0, p) == 1 {print $f; exit}' "$log" 2>/dev/null)
        [ -n "$value" ] && break
        sleep 0.1
    done
    echo "$value"
}

# The TCP port a device server chose, from its "listening ADDR PORT" line.
devserver_port_of() { devserver_line_field "$1" "listening " 3; }

# The pty a device server bridges to, from its "pty PATH" line.
devserver_pty_of() { devserver_line_field "$1" "pty " 2; }

# devserver_start LOG STDIN ARG...: starts the device server on a free loopback port in
# the background, its standard input from STDIN (a file or fifo, /dev/null for none) and
# its output in LOG. Sets devserver_pid and devserver_port; returns 1 if it did not come
# up. Pass --lifetime so that it stops by itself.
devserver_start() {
    local log=$1 input=$2
    shift 2
    "${PTA_DEVSERVER:?PTA_DEVSERVER names the device server}" --port 0 "$@" <"$input" >"$log" 2>&1 &
    devserver_pid=$!
    devserver_port=$(devserver_port_of "$log")
    [ -n "$devserver_port" ]
}

# A Linux path as Windows programs under Wine see it (through the Z: drive).
wine_path() {
    echo "Z:$(echo "$1" | tr / '\\')"
}

# configure_slots FIRST COUNT FIRST_COM TCP_PORT [PROTOCOL]: slots FIRST.. as COM
# FIRST_COM.., each to a device server at 127.0.0.1:TCP_PORT with protocol code PROTOCOL
# (0 "COM", 1 "Encryption", 2 "Raw"), written in one registry import.
configure_slots() {
    local first=$1 count=$2 com=$3 port=$4 protocol=${5:-0}
    local file; file=$(mktemp --suffix=.reg)
    {
        printf 'REGEDIT4\r\n\r\n'
        local slot
        for ((slot = first; slot < first + count; ++slot)); do
            printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvor\\Portara\\%04d]\r\n' "$slot"
            # 127.0.0.1, first octet in the most significant byte.
            printf '"IPaddress"=dword:7f000001\r\n'
            printf '"Port"=dword:%08x\r\n' "$port"
            printf '"ComPort"=dword:%08x\r\n' $((com + slot - first))
            printf '"Encryption"=dword:%08x\r\n\r\n' "$protocol"
        done
    } >"$file"
    wine reg import "$(wine_path "$file")" >/dev/null 2>&1
    local rc=$?
    rm -f "$file"
    return $rc
}

# How many of our ports the device map lists (the bus has brought them up).
serial_port_count() {
    wine reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' 2>/dev/null | tr -d '\r' | grep -ci ptaser
}

# wait_for_serial_ports COUNT SECONDS: until the device map lists COUNT of our ports.
wait_for_serial_ports() {
    local want=$1 seconds=$2 have=0
    for _ in $(seq $((seconds * 2))); do
        have=$(serial_port_count)
        [ "$have" -ge "$want" ] && return 0
        sleep 0.5
    done
    return 1
}

# workers_start DIR LIFETIME_MS COUNT: the port workers (ptaworkers from $build) for every
# configured slot, stopping by themselves after LIFETIME_MS, their output in
# DIR/workers.log and their commands on fd 4; waits until COUNT of them run (1 when
# they did not). Sets workers_pid.
workers_start() {
    local dir=$1 lifetime=$2 want=$3
    rm -f "$dir/workers.in"
    mkfifo "$dir/workers.in"
    wine "$build/tools/ptaworkers/ptaworkers.exe" --time "$lifetime" \
        <"$dir/workers.in" >"$dir/workers.log" 2>&1 &
    workers_pid=$!
    exec 4>"$dir/workers.in"
    for _ in $(seq 1200); do
        [ "$(tr -d '\r' <"$dir/workers.log" | grep -c ' running$')" -ge "$want" ] && return 0
        sleep 0.1
    done
    return 1
}

# workers_stop: asks the workers started by workers_start to quit, and ends them if they
# do not within 30 s.
workers_stop() {
    [ -n "${workers_pid:-}" ] || return 0
    { echo quit >&4; } 2>/dev/null
    exec 4>&-
    for _ in $(seq 300); do kill -0 "$workers_pid" 2>/dev/null || break; sleep 0.1; done
    kill "$workers_pid" 2>/dev/null
    wait "$workers_pid" 2>/dev/null
    workers_pid=
}

# process_counts PATTERN: threads and open files of this prefix's Wine processes whose
# command line matches PATTERN, summed.
process_counts() {
    local threads=0 files=0 pid
    for pid in $(pgrep -f "$1"); do
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" || continue
        threads=$((threads + $(awk '/^Threads:/ {print $2}' "/proc/$pid/status")))
        files=$((files + $(ls "/proc/$pid/fd" 2>/dev/null | wc -l)))
    done
    echo "$threads $files"
}
