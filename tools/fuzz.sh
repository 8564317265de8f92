#!/bin/sh
# Builds the libFuzzer targets with clang and the sanitizers, then runs each one.
#   tools/fuzz.sh            about 20 s per target (the CI smoke run)
#   tools/fuzz.sh --runs N   N executions per target
set -eu
cd "$(dirname "$0")/.."

limit="-max_total_time=20"
[ "${1:-}" = "--runs" ] && limit="-runs=$2"

tools/setup.sh >/dev/null
tools/install-packages.sh clang libclang-rt-14-dev
[ -f build-fuzz/build.ninja ] ||
    CC=clang CXX=clang++ meson setup build-fuzz -Dfuzzing=true \
        -Db_sanitize=address,undefined -Db_lundef=false >/dev/null
ninja -C build-fuzz >/dev/null

export ASAN_OPTIONS=halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in listing configuration_change preset_state preset_speed; do
    mkdir -p "$work/$target"
    # New inputs go to a scratch folder; the committed seeds stay as they are.
    build-fuzz/fuzz/${target}_fuzzer $limit -print_final_stats=1 -artifact_prefix="$work/" \
        "$work/$target" "fuzz/corpus/$target" >"$work/$target.log" 2>&1 || {
        cat "$work/$target.log"
        echo "fuzz: $target found a crash"
        exit 1
    }
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target.log")
    echo "fuzz: $target: $runs executions, no crash"
done
