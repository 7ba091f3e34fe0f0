#!/usr/bin/env bash
# The Wine bench: runs one command with a cached Wine prefix, one persistent wineserver
# and one Xvfb display, then stops exactly the processes it started.
#
#   scripts/winebench.sh COMMAND [ARG...]
#
# Environment:
#   PORTARA_WINEPREFIX  prefix to use (default: $XDG_CACHE_HOME/portara/wineprefix)
#   PORTARA_FRESH_PREFIX=1  build the prefix anew even if a cached one exists
# The command sees WINEPREFIX, DISPLAY, WINEDEBUG and PORTARA_BENCH=1; its exit code is
# the bench's exit code.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$here/deps.sh" || exit 1

cache=${XDG_CACHE_HOME:-$HOME/.cache}/portara
export WINEPREFIX=${PORTARA_WINEPREFIX:-$cache/wineprefix}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko install prompts: nothing here needs them.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export PORTARA_BENCH=1
bench_id=$$.$(date +%s%N)
export PORTARA_BENCH_ID=$bench_id
logdir=$cache/logs
mkdir -p "$logdir" "$(dirname "$WINEPREFIX")"

wineserver_bin=$(command -v wineserver || echo /usr/lib/wine/wineserver)

xvfb_pid=
server_pid=
stop_all() {
    if [ -n "$server_pid" ]; then
        # Our server ends the processes of our prefix (services, driver hosts, programs
        # left behind) and then exits; the signals are the fallback if it does not.
        "$wineserver_bin" -k >/dev/null 2>&1
        for _ in $(seq 100); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
        kill -TERM "$server_pid" 2>/dev/null
        for _ in $(seq 100); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
        server_pid=
    fi
    # Wine processes that outlived their server (it was killed from outside): ours are
    # the ones whose environment carries this bench's id.
    local pid
    for pid in $(grep -lz "^PORTARA_BENCH_ID=$bench_id\$" /proc/[0-9]*/environ 2>/dev/null \
                 | cut -d/ -f3); do
        [ "$pid" != $$ ] && kill -KILL "$pid" 2>/dev/null
    done
    if [ -n "$xvfb_pid" ]; then
        kill -TERM "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
        xvfb_pid=
    fi
}
trap stop_all EXIT
trap 'exit 130' INT TERM

# Display: Xvfb picks a free number and reports it through -displayfd once it is ready.
start_xvfb() {
    local fdfile; fdfile=$(mktemp)
    Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$fdfile" >"$logdir/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$fdfile" ] && break
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.1
    done
    local num; num=$(tr -dc '0-9' <"$fdfile"); rm -f "$fdfile"
    if [ -z "$num" ]; then echo "winebench: Xvfb did not start (see $logdir/xvfb.log)" >&2; exit 1; fi
    export DISPLAY=:$num
}

start_server() {
    "$wineserver_bin" -f -p >"$logdir/wineserver.log" 2>&1 </dev/null &
    server_pid=$!
    # Start Wine's background services now, with their output going to a log: they keep
    # the output of the command that starts them, and a pipe held open never closes.
    wine cmd /c exit >"$logdir/services.log" 2>&1 </dev/null
}

# A prefix is complete once wineboot has finished and AeDebug is set; the marker says so.
prepare_prefix() {
    if [ "${PORTARA_FRESH_PREFIX:-0}" = 1 ] || [ ! -f "$WINEPREFIX/.portara-ready" ]; then
        rm -rf "$WINEPREFIX"
        wine wineboot -i >"$logdir/wineboot.log" 2>&1 </dev/null
        "$wineserver_bin" -w
        # A crash must end the process, not start a debugger.
        wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
            /v Auto /t REG_SZ /d 1 /f >>"$logdir/wineboot.log" 2>&1 </dev/null
        wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
            /v Debugger /t REG_SZ /d false /f >>"$logdir/wineboot.log" 2>&1 </dev/null
        "$wineserver_bin" -w
        touch "$WINEPREFIX/.portara-ready"
    fi
}

[ $# -gt 0 ] || { echo "usage: $0 COMMAND [ARG...]" >&2; exit 2; }

start_xvfb
prepare_prefix
start_server
"$@" </dev/null
rc=$?
exit $rc
