#!/usr/bin/env bash
# The benchmark (make bench): prints figures, checks nothing against a target.
#   (a) one-byte round trips through an echo: application, driver, port worker, TCP,
#       device server and back;
#   (b) 1 MiB of random data each way at baud index 13 (921600) and 6 (9600), checked
#       byte for byte on arrival (nothing lost, nothing reordered);
#   (c) the processor time of the Wine processes with 256 configured ports, their
#       workers running and no application open: under the workers' runner, then under
#       PortaraCtl.exe with its window hidden, and with its Monitor page shown (ten
#       updates a second over 256 rows);
#   (d) all 256 ports at once: opened by four applications (tools/comsoak, 64 ports
#       each) against the echoing device server, numbered records streaming both ways
#       for 30 s; the time from the first open to the last port carrying data, MB/s each
#       way, the slowest port's share of the mean, bytes lost, processor time per MB,
#       and the threads and open files of the engine and the driver hosts before,
#       during and after.
# (a) and (b) are measured the same way on a baseline: a Linux pty bridged by socat to
# TCP, with the same device server at the far end, so the figures read as ratios. The
# measuring client is tools/combench on both paths (combench.exe under Wine).
#
# Environment: BENCH_ROUND_TRIPS (1000), BENCH_BYTES (1048576), BENCH_IDLE_SECONDS (10),
# BENCH_STREAM_SECONDS (30), BENCH_IDLE=0 to leave out (c) and (d).
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/ports-lib.sh"
export PTA_DEVSERVER=$root/build/native/devserver/ptadevsrv
round_trips=${BENCH_ROUND_TRIPS:-1000}
bytes=${BENCH_BYTES:-1048576}
idle_seconds=${BENCH_IDLE_SECONDS:-10}
stream_seconds=${BENCH_STREAM_SECONDS:-30}
stream_processes=4
stall_ms=30000           # a transfer that makes no progress for this long has failed
server_lifetime_ms=240000
fail() { echo "bench: $*" >&2; exit 1; }

# transfer LABEL send|recv BAUD SETTLE_MS FAR_PTY CLIENT...: one direction of one
# transfer, starting SETTLE_MS after the open. The far end of the device server's pty
# checks what arrives (send) or sources the data (recv); the client is run as
# CLIENT... DIRECTION BAUD SETTLE_MS, and its figures line goes to the figures file as
# "LABEL LINE".
transfer() {
    local label=$1 direction=$2 baud=$3 settle=$4 far=$5
    shift 5
    local helper
    if [ "$direction" = send ]; then
        timeout $((stall_ms / 1000 + 30)) bash -c \
            'head -c "$1" <"$2" >"$3"; if cmp -s "$3" "$4"; then printf K; else printf X; fi >"$2"' \
            _ "$bytes" "$far" "$work/arrived" "$work/data" &
    else
        timeout $((stall_ms / 1000 + 30)) bash -c 'head -c 1 <"$1" >/dev/null && cat "$2" >"$1"' \
            _ "$far" "$work/data" &
    fi
    helper=$!
    local line
    line=$("$@" "$direction" "$baud" "$settle" | tr -d '\r' | grep -E '^(send|recv) ')
    line="$line settle_ms=$settle"
    kill "$helper" 2>/dev/null
    wait "$helper" 2>/dev/null
    # What reached the far end, for a send that was not answered.
    [ "$direction" = send ] && line="$line far_end_got=$(stat -c %s "$work/arrived" 2>/dev/null || echo 0)"
    echo "   $label: $line"
    echo "$label $line" >>"$work/figures"
    [ -n "${BENCH_KEEP:-}" ] && cp "$work/arrived" "$BENCH_KEEP/arrived.$label.$direction.$baud" 2>/dev/null && cp "$work/data" "$BENCH_KEEP/data"
    rm -f "$work/arrived"
}

# ---------------------------------------------------------------------------------------
# Inside the Wine bench: the virtual ports.
if [ "${PORTARA_BENCH_INSIDE:-}" = 1 ]; then
    work=$PORTARA_BENCH_WORK
    build=$root/build/win64
    combench=$build/tools/combench/combench.exe
    echo_pid= pty_pid= workers_pid=
    finish() {
        workers_stop
        for pid in $echo_pid $pty_pid; do kill -TERM "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
    }
    trap finish EXIT
    # CPU of this bench's Wine processes (wineserver and every Windows process) over
    # SECONDS, as % of one core, per process name and in total; "cpu LABEL NAME=%..".
    wine_pids() {
        grep -lz "^PORTARA_BENCH_ID=$PORTARA_BENCH_ID\$" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3 |
            while read -r pid; do
                case "$(cat "/proc/$pid/comm" 2>/dev/null)" in
                    wineserver*|*.exe) echo "$pid" ;;
                esac
            done
    }
    cpu_ticks() {
        local pid stat name fields
        for pid in $(wine_pids); do
            stat=$(cat "/proc/$pid/stat" 2>/dev/null) || continue
            name=$(cat "/proc/$pid/comm" 2>/dev/null)
            read -r -a fields <<<"${stat##*) }"
            echo "$pid ${name// /_} $((fields[11] + fields[12]))"
        done
    }
    # cpu_used BEFORE AFTER SECONDS: "total=% NAME=%.." from two cpu_ticks lists, as % of
    # one core over SECONDS; with SECONDS 0, processor seconds instead.
    cpu_used() {
        awk -v hz="$(getconf CLK_TCK)" -v s="$3" '
            NR == FNR { start[$1] = $3; next }
            ($1 in start) { used[$2] += $3 - start[$1]; total += $3 - start[$1] }
            END {
                f = s > 0 ? 100 / hz / s : 1 / hz
                out = sprintf("total=%.2f", total * f)
                for (n in used) out = out sprintf(" %s=%.2f", n, used[n] * f)
                print out
            }' <(echo "$1") <(echo "$2")
    }
    cpu_sample() {
        local label=$1 before after line
        before=$(cpu_ticks)
        sleep "$idle_seconds"
        after=$(cpu_ticks)
        line=$(cpu_used "$before" "$after" "$idle_seconds")
        echo "   $label (% of one core over ${idle_seconds} s): $line"
        echo "cpu $label $line" >>"$work/figures"
    }
    # counts LABEL: threads and open files of the engine and of the driver hosts.
    counts() {
        local line
        line="$(process_counts ptaworkers.exe | awk '{print "engine_threads=" $1 " engine_files=" $2}')"
        line="$line $(process_counts winedevice.exe | awk '{print "host_threads=" $1 " host_files=" $2}')"
        echo "   $1: $line"
        echo "counts $1 $line" >>"$work/figures"
    }
    # stream SECONDS PROCESSES: every configured port opened by PROCESSES comsoak
    # processes at once (each holding its share of the ports), numbered records streaming
    # through the echo both ways for SECONDS; the figures go to "stream" lines.
    stream() {
        local seconds=$1 processes=$2 per=$((256 / $2)) i pids=() before after
        counts "stream-before"
        before=$(cpu_ticks)
        for ((i = 0; i < processes; ++i)); do
            wine "$build/tools/comsoak/comsoak.exe" run --seconds "$seconds" --cycle-ms 3600000 --baud 921600 \
                --ports "$(seq -s, -f 'COM%g' $((5 + i * per)) $((4 + (i + 1) * per)))" \
                </dev/null >"$work/stream.$i.log" 2>&1 &
            pids+=("$!")
        done
        sleep $((seconds / 2))
        counts "stream-during"
        for i in "${pids[@]}"; do wait "$i"; done
        after=$(cpu_ticks)
        sleep 5
        counts "stream-after"
        local cpu engine
        cpu=$(cpu_used "$before" "$after" 0)
        # Per port: written received lost garbled opened_at first_echo_at last_echo_at.
        tr -d '\r' <<<"$(cat "$work"/stream.*.log)" | awk -v cpu="$cpu" '
            function get(k,   i, kv) { for (i = 2; i <= NF; ++i) { split($i, kv, "="); if (kv[1] == k) return kv[2] } return "" }
            $1 == "port" {
                ++ports; w = get("written"); r = get("received")
                written += w; received += r
                # Everything written comes back before a session ends; garbled bytes are lost too.
                lost += (w > r ? w - r : 0) + get("garbled") + get("garbled_in_faults")
                errors += get("errors") + get("disorders")
                o = get("opened_at"); f = get("first_echo_at"); l = get("last_echo_at")
                if (o > 0 && (first_open == "" || o < first_open)) first_open = o
                if (f == 0) ++dead; else if (f > last_first) last_first = f
                if (l > last_echo) last_echo = l
                if (min == "" || r < min) min = r
            }
            END {
                split(cpu, c, " "); split(c[1], t, "="); total_cpu = t[2]
                for (i in c) { split(c[i], kv, "="); if (kv[1] == "ptaworkers.exe") engine_cpu = kv[2] }
                s = (last_echo - first_open) / 1000
                mb_tx = written / 1e6; mb_rx = received / 1e6; mb = mb_tx + mb_rx
                tx = 0; rx = 0; share = 0; per_mb = 0; engine_per_mb = 0
                if (s > 0) { tx = mb_tx / s; rx = mb_rx / s }
                if (ports > 0 && received > 0) share = min / (received / ports)
                if (mb > 0) { per_mb = total_cpu * 1000 / mb; engine_per_mb = engine_cpu * 1000 / mb }
                printf "ports=%d carried=%d to_last_carrying_ms=%d seconds=%.1f tx_MBps=%.3f rx_MBps=%.3f", ports, ports - dead, last_first - first_open, s, tx, rx
                printf " slowest_share=%.2f lost_bytes=%d errors=%d", share, lost, errors
                printf " cpu_s=%.2f engine_cpu_s=%.2f cpu_ms_per_MB=%.1f engine_cpu_ms_per_MB=%.1f\n", total_cpu, engine_cpu, per_mb, engine_per_mb
            }' >"$work/stream.figures"
        echo "   $(cat "$work/stream.figures")"
        echo "stream 256 $(cat "$work/stream.figures")" >>"$work/figures"
        grep -h '^error' "$work"/stream.*.log | head -5 | sed 's/^/   /'
    }

    echo "== Wine side: drivers, two ports, device servers"
    devserver_start "$work/echo.log" /dev/null --echo --modem 0x30 --lifetime $server_lifetime_ms ||
        fail "the echoing device server did not start"
    echo_pid=$devserver_pid
    echo_port=$devserver_port
    devserver_start "$work/pty.log" /dev/null --pty --lifetime $server_lifetime_ms ||
        fail "the pty device server did not start"
    pty_pid=$devserver_pid
    far_pty=$(devserver_pty_of "$work/pty.log")
    [ -n "$far_pty" ] || fail "the device server made no pty"
    # Wine's own cost first: the same prefix before our drivers are installed, once its
    # start-up has settled.
    sleep 3
    cpu_sample "prefix-no-drivers"
    wine "$build/tools/ptadrv/ptadrv.exe" install "$(wine_path "$build/package")" || fail "driver install failed"
    configure_slots 0 1 5 "$echo_port" 0 || fail "configuring slot 0 failed"
    configure_slots 1 1 6 "$devserver_port" 0 || fail "configuring slot 1 failed"
    wine "$build/tools/ptadrv/ptadrv.exe" add 2 || fail "the bus refused the ports"
    wait_for_serial_ports 2 60 || fail "the bus did not bring up both ports"
    echo "   COM5 -> echo 127.0.0.1:$echo_port, COM6 -> pty $far_pty via 127.0.0.1:$devserver_port"
    cpu_sample "prefix-2ports-no-runner"
    workers_start "$work" "$server_lifetime_ms" 2 || fail "the workers did not start"

    echo "== Wine side: latency (${round_trips} one-byte round trips on COM5)"
    line=$(wine "$combench" latency COM5 "$round_trips" 115200 | tr -d '\r' | grep '^latency ')
    echo "   portara: $line"
    echo "portara $line" >>"$work/figures"

    echo "== Wine side: throughput on COM6, $bytes random bytes each way"
    data_win=$(wine_path "$work/data")
    # The megabyte written the moment the port is open, as applications do, beginning
    # with the port's first open since the workers started.
    for _ in 1 2 3; do
        transfer portara send 921600 0 "$far_pty" \
            bash -c 'wine "$1" "$4" COM6 "$2" "$5" "$3" "$6"' _ "$combench" "$data_win" $stall_ms
    done
    for baud in 921600 9600; do
        for direction in send recv; do
            transfer portara $direction $baud 1000 "$far_pty" \
                bash -c 'wine "$1" "$4" COM6 "$2" "$5" "$3" "$6"' _ "$combench" "$data_win" $stall_ms
        done
    done
    echo "   baud indexes the device server was told: $(grep -o 'MSG_BAUD [0-9a-f]*' "$work/pty.log" |
        awk '{print $2}' | sort -u | tr '\n' ' ')"
    workers_stop
    [ "${BENCH_IDLE:-1}" = 1 ] || exit 0

    echo "== Wine side: 256 configured ports, no application open"
    start=$(date +%s)
    configure_slots 2 254 7 "$echo_port" 0 || fail "configuring 254 more slots failed"
    wine "$build/tools/ptadrv/ptadrv.exe" add 254 || fail "the bus refused the ports"
    if wait_for_serial_ports 256 150; then
        echo "   the bus brought up 256 ports in $(( $(date +%s) - start )) s"
    else
        echo "   the bus brought up only $(serial_port_count) ports in $(( $(date +%s) - start )) s"
    fi
    echo "ports-up count=$(serial_port_count) seconds=$(( $(date +%s) - start ))" >>"$work/figures"
    cpu_sample "256ports-no-runner"
    start=$(date +%s)
    workers_start "$work" "$server_lifetime_ms" 256 || echo "   only $(tr -d '\r' <"$work/workers.log" | grep -c ' running$') workers are running"
    echo "   $(tr -d '\r' <"$work/workers.log" | grep -c ' running$') workers running after $(( $(date +%s) - start )) s"
    sleep 3
    cpu_sample "256ports-runner"

    echo "== Wine side: all 256 ports streaming at once for ${stream_seconds} s, $stream_processes applications"
    # The second slot's server goes away with the throughput runs: every slot echoes now.
    configure_slots 1 1 6 "$echo_port" 0 || fail "configuring slot 1 failed"
    stream "$stream_seconds" "$stream_processes"
    workers_stop

    echo "== Wine side: the same 256 ports under PortaraCtl.exe"
    probe() { timeout 200 wine "$build/tools/ctlprobe/ctlprobe.exe" "$@" | tr -d '\r'; }
    wine reg add 'HKLM\SOFTWARE\Kelvor\Portara' /v COMMapInited /t REG_DWORD /d 1 /f >/dev/null
    start=$(date +%s)
    wine "$build/ctl/app/PortaraCtl.exe" >"$work/ctl.log" 2>&1 &
    ctl_pid=$!
    if probe wait 150 >/dev/null; then
        echo "   PortaraCtl is up with its workers after $(( $(date +%s) - start )) s"
        sleep 3
        cpu_sample "256ports-ctl-hidden"
        probe show 1
        sleep 2
        echo "   the Monitor page shows $(probe cell 1007 255 0) in its row 256"
        cpu_sample "256ports-ctl-monitor"
        probe quit >/dev/null || echo "   PortaraCtl did not take the quit request"
    else
        # A start-up that failed says why in a box.
        echo "   PortaraCtl did not come up: $(probe answer PortaraCtl 1 | sed 's/^ctlprobe: answered //')"
    fi
    for _ in $(seq 300); do kill -0 "$ctl_pid" 2>/dev/null || break; sleep 0.1; done
    kill "$ctl_pid" 2>/dev/null
    wait "$ctl_pid" 2>/dev/null
    exit 0
fi

# ---------------------------------------------------------------------------------------
# Outside: the data, the baseline, then the Wine side in a prefix of its own.
"$root/scripts/deps.sh" || exit 1
for f in "$PTA_DEVSERVER" "$root/build/native/tools/combench/combench" \
         "$root/build/win64/tools/combench/combench.exe"; do
    [ -x "$f" ] || [ -f "$f" ] || fail "missing $f (make build)"
done
source "$root/scripts/scratch-prefix.sh"   # its EXIT trap removes the prefix
work=$scratch_dir/bench
mkdir -p "$work"
: >"$work/figures"
base_pids=()
finish_outside() {
    local pid
    for pid in "${base_pids[@]}"; do kill -TERM "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
    rm -rf "$scratch_dir"
}
trap finish_outside EXIT
echo "Portara benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores," \
     "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

# Random data, but none of the in-band message starts of the link (0x7F 0xFE and a
# command letter): those are messages by definition, not data, on either path.
for _ in $(seq 50); do
    head -c "$bytes" /dev/urandom >"$work/data"
    LC_ALL=C grep -qaP '\x7f\xfe[AELMSmp]' "$work/data" || break
done

echo "== Baseline: a Linux pty bridged by socat to TCP, the same device server beyond"
combench_native=$root/build/native/tools/combench/combench
# bridge LOG ARGS...: a device server with ARGS and socat bridging a new pty to it; sets
# bridge_pty (the pty the client opens).
bridge() {
    local log=$1
    shift
    devserver_start "$work/$log" /dev/null --alive 0 --lifetime 60000 "$@" || fail "device server did not start"
    base_pids+=("$devserver_pid")
    bridge_pty=$work/$log.pty
    timeout 70 socat PTY,link="$bridge_pty",rawer TCP:127.0.0.1:"$devserver_port" >"$work/$log.socat" 2>&1 &
    base_pids+=("$!")
    for _ in $(seq 50); do [ -e "$bridge_pty" ] && break; sleep 0.1; done
    [ -e "$bridge_pty" ] || fail "socat made no pty"
}
bridge base-echo.log --echo
line=$("$combench_native" latency "$bridge_pty" "$round_trips")
echo "   baseline: $line"
echo "baseline $line" >>"$work/figures"
bridge base-pty.log --pty
far_pty=$(devserver_pty_of "$work/base-pty.log")
for baud in 921600 9600; do
    for direction in send recv; do
        transfer baseline $direction $baud 1000 "$far_pty" \
            bash -c '"$1" "$4" "$2" "$3" "$5" '"$stall_ms"' "$6"' _ "$combench_native" "$bridge_pty" "$work/data"
    done
done
transfer baseline send 921600 0 "$far_pty" \
    bash -c '"$1" "$4" "$2" "$3" "$5" '"$stall_ms"' "$6"' _ "$combench_native" "$bridge_pty" "$work/data"
for pid in "${base_pids[@]}"; do kill -TERM "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
base_pids=()

# The whole Wine side is bounded too: the bench stops everything it started on timeout.
PORTARA_BENCH_INSIDE=1 PORTARA_BENCH_WORK=$work \
    timeout 420 "$root/scripts/winebench.sh" bash "$root/scripts/bench.sh"
inside_rc=$?
[ $inside_rc -eq 0 ] || echo "bench: the Wine side ended with $inside_rc"

# ---------------------------------------------------------------------------------------
echo
echo "== Summary (targets are for comparison only)"
field() {  # field PATH KIND KEY [MATCH]: a value from the figures file
    awk -v p="$1" -v k="$2" -v key="$3" -v m="${4:-}" '
        function all(line, words,   n, w, i) { n = split(words, w, " "); for (i = 1; i <= n; ++i) if (!index(line " ", w[i] " ")) return 0; return 1 }
        $1 == p && $2 == k && all($0, m) {
            for (i = 3; i <= NF; ++i) { split($i, kv, "="); if (kv[1] == key) { print kv[2]; exit } } }' \
        "$work/figures"
}
# portara / baseline
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a != "" && b != "" && b + 0 > 0) printf "%.2fx", a / b; else print "-" }'; }
printf '%-34s %-14s %-14s %-8s %s\n' figure portara baseline ratio target
row() { printf '%-34s %-14s %-14s %-8s %s\n' "$1" "${2:--}" "${3:--}" "$(ratio "$2" "$3")" "$4"; }
# throughput_row TITLE DIRECTION MATCH TARGET: MB/s and whether it arrived intact.
throughput_row() {
    local p b pok bok
    p=$(field portara "$2" MBps "$3")
    b=$(field baseline "$2" MBps "$3")
    pok=$(field portara "$2" ack "$3")$(field portara "$2" match "$3")
    bok=$(field baseline "$2" ack "$3")$(field baseline "$2" match "$3")
    printf '%-34s %-14s %-14s %-8s %s\n' "$1" "${p:--} ${pok:-?}" "${b:--} ${bok:-?}" \
        "$(ratio "$p" "$b")" "$4"
}
row "round trip median (ms)" "$(field portara latency median_ms)" "$(field baseline latency median_ms)" "<= 3 ms"
row "round trip 99th percentile (ms)" "$(field portara latency p99_ms)" "$(field baseline latency p99_ms)" ""
for stage in write echo; do
    row "  $stage stage median (ms)" "$(field portara latency ${stage}_median_ms)" "$(field baseline latency ${stage}_median_ms)" ""
    row "  $stage stage 99th pct (ms)" "$(field portara latency ${stage}_p99_ms)" "$(field baseline latency ${stage}_p99_ms)" ""
    row "  $stage stage, slowest 1% (ms)" "$(field portara latency tail_${stage}_ms)" "$(field baseline latency tail_${stage}_ms)" ""
done
# requests_row TITLE KIND MATCH: the driver's request counters of one measurement.
requests_row() {
    local words="" kind
    for kind in reads writes serial fetches empty_fetches puts drains reports; do
        words="$words $kind=$(field portara "$2" rq_$kind "$3")"
    done
    printf '%-34s %-14s %s\n' "$1" "$(field portara "$2" rq_total "$3")" "${words# }"
}
requests_row "requests per round trip" latency ""
requests_row "requests per KiB, PC -> server" send "baud=921600 settle_ms=1000"
requests_row "requests per KiB, server -> PC" recv "baud=921600 settle_ms=1000"
printf '%-34s %-14s %-14s\n' "round trips that lost their byte" "$(field portara latency failed)" "$(field baseline latency failed)"
for baud in 921600 9600; do
    index=$([ $baud = 921600 ] && echo 13 || echo 6)
    for direction in send recv; do
        what=$([ $direction = send ] && echo "PC -> server" || echo "server -> PC")
        throughput_row "index $index $what" $direction "baud=$baud settle_ms=1000" \
            "$([ $index = 13 ] && echo ">= 1 MB/s, intact")"
    done
done
throughput_row "index 13 PC -> server, at open" send "baud=921600 settle_ms=0" ""
echo "  at open, intact: portara $(grep -c '^portara send .*ack=K.*settle_ms=0 ' "$work/figures") of $(grep -c '^portara send .*settle_ms=0 ' "$work/figures")," \
     "baseline $(grep -c '^baseline send .*ack=K.*settle_ms=0 ' "$work/figures") of $(grep -c '^baseline send .*settle_ms=0 ' "$work/figures")"
printf '%-34s %-14s %-14s %-8s %s\n' "256 idle ports, Wine CPU (%core)" "$(field cpu 256ports-runner total)" "" "" "< 2% of one core"
printf '%-34s %-14s\n' "  same, before the runner started" "$(field cpu 256ports-no-runner total)"
printf '%-34s %-14s %s\n' "  same, PortaraCtl, window hidden" "$(field cpu 256ports-ctl-hidden total)" \
    "(PortaraCtl.exe itself: $(field cpu 256ports-ctl-hidden PortaraCtl.exe))"
printf '%-34s %-14s %s\n' "  same, PortaraCtl, Monitor shown" "$(field cpu 256ports-ctl-monitor total)" \
    "(PortaraCtl.exe itself: $(field cpu 256ports-ctl-monitor PortaraCtl.exe))"
printf '%-34s %-14s\n' "  prefix with 2 ports, no runner" "$(field cpu prefix-2ports-no-runner total)"
printf '%-34s %-14s\n' "  same prefix before our drivers" "$(field cpu prefix-no-drivers total)"
stream() { field stream 256 "$1"; }
printf '%-34s %-14s\n' "256 ports streaming: carried" "$(stream carried) of $(stream ports)"
printf '%-34s %-14s\n' "  first open to last carrying (s)" "$(awk -v ms="$(stream to_last_carrying_ms)" 'BEGIN { if (ms != "") printf "%.1f", ms / 1000 }')"
printf '%-34s %-14s\n' "  MB/s PC -> server, all ports" "$(stream tx_MBps)"
printf '%-34s %-14s\n' "  MB/s server -> PC, all ports" "$(stream rx_MBps)"
printf '%-34s %-14s\n' "  slowest port / mean" "$(stream slowest_share)"
printf '%-34s %-14s\n' "  bytes lost" "$(stream lost_bytes)"
printf '%-34s %-14s %s\n' "  CPU ms per MB, Wine side" "$(stream cpu_ms_per_MB)" "(engine $(stream engine_cpu_ms_per_MB))"
for what in engine host; do
    printf '%-34s %s\n' "  $what threads, open files" \
        "$(for when in before during after; do printf '%s/%s ' "$(field counts stream-$when ${what}_threads)" "$(field counts stream-$when ${what}_files)"; done)(before, during, after)"
done
echo "(throughput in MB/s, MB = 10^6 bytes, of 1 MiB random data; K = the far end got every
 byte in order, yes = the client did, none = not all of it arrived; transfers start 1 s
 after the open unless "at open")"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $inside_rc
