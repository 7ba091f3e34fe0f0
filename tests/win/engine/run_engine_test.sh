#!/usr/bin/env bash
# Runs the engine test under Wine in a prefix of its own, against the real drivers and three
# device servers on loopback: one that echoes (and reports modem status 0x30), one that
# refuses every connection, and one that keeps what it receives (printed to "sink.log").
#   run_engine_test.sh <engine_win_test.exe> <package folder> <ptadevsrv> [gtest args...]
# The test sends commands to the echoing server by writing them to the file "command" in
# the run folder; this script passes each on to the server's standard input. The server's
# output goes to "server.log" there, for the test to read.
set -u
exe=$1
export PORTARA_PACKAGE_DIR=$2
devsrv=$3
shift 3
if [ ! -x "$devsrv" ]; then
    echo "run_engine_test: no device server at $devsrv (build the native preset first)" >&2
    exit 1
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
source "$root/scripts/scratch-prefix.sh"
source "$root/scripts/ports-lib.sh"

run=$scratch_dir/run
mkdir -p "$run"
mkfifo "$run/commands"

# Every server stops by itself after this long, whatever happens to this script.
lifetime=$((280 * 1000))
"$devsrv" --port 0 --echo --modem 0x30 --alive 1000 --lifetime $lifetime \
    <"$run/commands" >"$run/server.log" 2>&1 &
echo_pid=$!
exec 3>"$run/commands"
"$devsrv" --port 0 --refuse --lifetime $lifetime >"$run/refusing.log" 2>&1 &
refuse_pid=$!
"$devsrv" --port 0 --trace-data --lifetime $lifetime >"$run/sink.log" 2>&1 &
sink_pid=$!

export PORTARA_SERVER_PORT=$(devserver_port_of "$run/server.log")
export PORTARA_REFUSING_PORT=$(devserver_port_of "$run/refusing.log")
export PORTARA_SINK_PORT=$(devserver_port_of "$run/sink.log")
export PORTARA_RUN_DIR=$(wine_path "$run")

# Passes the test's commands on to the echoing server.
(
    while kill -0 $echo_pid 2>/dev/null; do
        if [ -f "$run/command" ]; then
            cat "$run/command" >&3
            rm -f "$run/command"
        fi
        sleep 0.05
    done
) &
bridge_pid=$!

"$root/scripts/winebench.sh" wine "$exe" "$@"
rc=$?

echo quit >&3
exec 3>&-
kill $refuse_pid $sink_pid $bridge_pid 2>/dev/null
wait $echo_pid $refuse_pid $sink_pid $bridge_pid 2>/dev/null
exit $rc
