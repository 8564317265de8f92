#!/bin/sh
# Runs the whole benchmark on a private system bus and writes docs/BENCHMARKS.md and its plot.
#   bench/run.sh           the full run (about 20 minutes on 2 cores)
#   bench/run.sh --smoke   a short run at 2 channels, written to build-bench/smoke/; fails on
#                          a wrong call count, as CI uses it
# The figures of the last run stay in build-bench/last-run/ (results.json, callgrind.jsonl).
set -eu
cd "$(dirname "$0")/.."

smoke=""
[ "${1:-}" = "--smoke" ] && smoke="--smoke"

packages="meson ninja-build pkg-config g++ libglib2.0-dev libgtest-dev dbus-daemon valgrind
          gnuplot-nox python3-gi"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "bench: installing$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # shellcheck disable=SC2086
    apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi

build=build-bench
[ -f $build/build.ninja ] || meson setup $build -Dbenchmarks=true >/dev/null
ninja -C $build >/dev/null
meson test -C $build --suite bench --print-errorlogs >$build/bench-tests.log 2>&1 || {
    cat $build/bench-tests.log
    exit 1
}

work=$(mktemp -d)
bus_pid=""
cleanup() {
    [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
dbus-daemon --config-file=bench/bus.conf --fork --print-address=1 --print-pid=1 >"$work/bus"
DBUS_SYSTEM_BUS_ADDRESS=$(sed -n 1p "$work/bus")
bus_pid=$(sed -n 2p "$work/bus")
export DBUS_SYSTEM_BUS_ADDRESS

docs=docs
[ -n "$smoke" ] && docs=$build/smoke
mkdir -p "$docs"
load_start=$(cut -d' ' -f1-3 /proc/loadavg)
service=$build/ptz-preset-sync
floor=$build/bench/bench-floor
driver=$build/bench/bench-driver

$driver --service $service --floor $floor --out "$work/results.json" $smoke

# Instructions per action: two runs of each peer under callgrind, N1 and N2 actions.
profile() { # peer kind channels n1 n2
    case $1 in
    service) command=$service handler=$([ "$2" = recall ] && echo on_ptz_preset_state ||
        echo on_preset_configuration_changed) ours=/src/ caller=call_preset_method extra="" ;;
    floor) command=$floor handler=$([ "$2" = recall ] && echo floor_on_preset_state ||
        echo floor_on_change) ours=/bench/floor_client caller=call extra=--floor-echoes ;;
    esac
    for n in "$4" "$5"; do
        $driver ops --service "valgrind --tool=callgrind -q --callgrind-out-file=$work/$1-$2-$3-$n.cg $command" \
            --kind "$2" --channels "$3" --count "$n" --timeout 120000 $extra
    done
    printf '{"peer": "%s", "kind": "%s", "channels": %s, "costs": %s}\n' "$1" "$2" "$3" \
        "$(/usr/bin/python3 bench/callgrind_costs.py "$work/$1-$2-$3-$4.cg" "$4" \
            "$work/$1-$2-$3-$5.cg" "$5" "$handler" "$ours" "$caller")" >>"$work/callgrind.jsonl"
}
echo "bench: instruction counts" >&2
if [ -n "$smoke" ]; then
    profile service recall 2 5 15
    profile service update-moved 2 5 15
else
    for peer in service floor; do
        for kind in recall update-moved; do
            profile $peer $kind 2 20 220
            profile $peer $kind 16 3 13
        done
    done
fi

/usr/bin/python3 bench/report.py --results "$work/results.json" \
    --callgrind "$work/callgrind.jsonl" --docs "$docs" \
    --command "bench/run.sh${smoke:+ $smoke}" \
    --load "$load_start at the start, $(cut -d' ' -f1-3 /proc/loadavg) at the end"
mkdir -p $build/last-run
cp "$work/results.json" "$work/callgrind.jsonl" $build/last-run/
echo "bench: wrote $docs/BENCHMARKS.md and $docs/bench-latency.svg"
