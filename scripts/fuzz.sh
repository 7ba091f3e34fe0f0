#!/usr/bin/env bash
# Runs every libFuzzer target of the clang tree (build/fuzz): first over its regression
# cases in tests/fuzz/<target>/, then fuzzing for FUZZ_SECONDS (default 60) from them.
# An input that crashes a target is kept beside its regression cases and fails the run.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

seconds=${FUZZ_SECONDS:-60}
targets=(tests/native/port_control_fuzz ctl/engine/protocol/protocol_receive_fuzz ctl/engine/protocol/protocol_telnet_fuzz
         devserver/devserver_input_fuzz)
failed=0
for path in "${targets[@]}"; do
    name=$(basename "$path")
    binary=build/fuzz/$path
    cases=tests/fuzz/$name
    corpus=build/fuzz/corpus/$name
    mkdir -p "$cases" "$corpus"
    regressions=("$cases"/*)
    if [ -e "${regressions[0]}" ]; then
        if ! "$binary" "${regressions[@]}" >"build/fuzz/$name.regressions.log" 2>&1; then
            echo "fuzz: $name fails on a regression case:"; tail -20 "build/fuzz/$name.regressions.log"
            failed=1
            continue
        fi
    fi
    echo "fuzz: $name for ${seconds}s"
    if ! "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
            -artifact_prefix="$cases/" "$corpus" "$cases" >"build/fuzz/$name.log" 2>&1; then
        echo "fuzz: $name crashed; the input is kept in $cases/:"; tail -30 "build/fuzz/$name.log"
        failed=1
        continue
    fi
    grep -E "stat::number_of_executed_units" "build/fuzz/$name.log" | sed "s/^/fuzz: $name /"
done
exit $failed
