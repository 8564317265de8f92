#!/bin/sh
# Runs the whole benchmark on a private system bus and writes docs/BENCHMARKS.md and its plot.
#   bench/run.sh           the full run (about 47 minutes on 2 idle cores, 18 of them the
#                          growth over 10,000,000 signals)
#   bench/run.sh --smoke   a short run at 2 channels, written to build/bench/smoke/; fails on
#                          a wrong call count, as CI uses it
#   bench/run.sh --growth-signals N   the full run with the growth run cut to N signals
# It builds into build/ with -Dbenchmarks=true. The full run also cross-builds the service
# and the floor for arm64 and armhf into build-arm64/ and build-armhf/ (turning the benchmark
# on there too) for their sizes and libraries.
# The figures of the last run stay in build/bench/last-run/ (results.json, callgrind.jsonl,
# sizes.jsonl).
set -eu
cd "$(dirname "$0")/.."

smoke=""
growth=""
while [ $# -gt 0 ]; do
    case $1 in
    --smoke) smoke="--smoke" ;;
    --growth-signals) growth="--signals ${2:?}"; shift ;;
    *) echo "usage: bench/run.sh [--smoke] [--growth-signals N]" >&2; exit 2 ;;
    esac
    shift
done
arches="amd64"
[ -z "$smoke" ] && arches="amd64 arm64 armhf"

packages="meson ninja-build pkg-config g++ libglib2.0-dev libgtest-dev dbus-daemon valgrind
          gnuplot-nox python3-gi"
# The cross compilers and the ARM GLib for the sizes (the set tools/ci-deploy-checks.sh uses).
[ -z "$smoke" ] && packages="$packages qemu-user-static
          g++-aarch64-linux-gnu libglib2.0-dev:arm64 libgtest-dev:arm64 libstdc++6:arm64
          g++-arm-linux-gnueabihf libglib2.0-dev:armhf libgtest-dev:armhf libstdc++6:armhf"
# shellcheck disable=SC2086
tools/install-packages.sh $packages

# Configures a build tree once (setup arguments after its name), with the benchmark on.
benchmark_tree() {
    tree=$1
    shift
    if [ ! -f "$tree/build.ninja" ]; then
        meson setup "$tree" -Dbenchmarks=true "$@" >/dev/null
    elif ! grep -q '^build bench/bench-floor:' "$tree/build.ninja"; then
        meson configure "$tree" -Dbenchmarks=true
    fi
}
build=build
benchmark_tree $build
ninja -C $build >/dev/null
meson test -C $build --suite bench --print-errorlogs >$build/bench/tests.log 2>&1 || {
    cat $build/bench/tests.log
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
[ -n "$smoke" ] && docs=$build/bench/smoke
mkdir -p "$docs"
load_start=$(cut -d' ' -f1-3 /proc/loadavg)
# Service and floor run with the environment the unit gives the service (how the allocator
# and GLib's slice allocator behave), so that they compare as deployed; the service without it
# is measured beside them for a burst of each kind and a shorter growth run.
unit_env=$(sed -n 's/^Environment=//p' packaging/ptz-preset-sync.service.in | tr '\n' ' ')
service_bin=$build/ptz-preset-sync
floor_bin=$build/bench/bench-floor
service="env $unit_env$service_bin"
floor="env $unit_env$floor_bin"
driver=$build/bench/bench-driver

# Stripped size, loaded size (text + data + bss) and needed libraries of the service and the
# floor, per architecture; the ARM builds compile those two targets only.
sizes() { # arch build-dir
    case $1 in
    amd64) tools="" ;;
    arm64) tools=aarch64-linux-gnu- ;;
    armhf) tools=arm-linux-gnueabihf- ;;
    esac
    if [ "$1" != amd64 ]; then
        benchmark_tree "$2" --cross-file "cross/$1.ini"
        ninja -C "$2" ptz-preset-sync bench/bench-floor >/dev/null
    fi
    for peer in service floor; do
        binary=$2/ptz-preset-sync
        [ $peer = floor ] && binary=$2/bench/bench-floor
        "${tools}strip" -o "$work/stripped" "$binary"
        needed=$("${tools}readelf" -d "$work/stripped" |
            sed -n 's/.*(NEEDED).*\[\(.*\)\]/"\1"/p' | paste -sd, -)
        loaded=$("${tools}size" "$work/stripped" | awk 'NR == 2 { print $4 }')
        printf '{"arch": "%s", "peer": "%s", "stripped_bytes": %s, "loaded_bytes": %s, "needed": [%s]}\n' \
            "$1" $peer "$(stat -c %s "$work/stripped")" "$loaded" "$needed" >>"$work/sizes.jsonl"
    done
}
echo "bench: sizes ($arches)" >&2
: >"$work/sizes.jsonl"
for arch in $arches; do
    case $arch in
    amd64) sizes amd64 $build ;;
    *) sizes "$arch" "build-$arch" ;;
    esac
done

# shellcheck disable=SC2086
$driver --service "$service" --floor "$floor" --compare "$service_bin" --out "$work/results.json" \
    $smoke $growth

# Instructions per action: two runs of each peer under callgrind, N1 and N2 actions.
profile() { # peer kind channels n1 n2
    case $1 in
    service) command=$service_bin handler=$([ "$2" = recall ] && echo on_ptz_preset_state ||
        echo on_preset_configuration_changed) ours=/src/ caller=call_preset_method ;;
    floor) command=$floor_bin handler=$([ "$2" = recall ] && echo floor_on_preset_state ||
        echo floor_on_change) ours=/bench/floor_client caller=call ;;
    esac
    for n in "$4" "$5"; do
        $driver ops --service "env ${unit_env}valgrind --tool=callgrind -q --callgrind-out-file=$work/$1-$2-$3-$n.cg $command" \
            --kind "$2" --channels "$3" --count "$n" --timeout 120000
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
    --callgrind "$work/callgrind.jsonl" --sizes "$work/sizes.jsonl" --docs "$docs" \
    --command "bench/run.sh${smoke:+ $smoke}" \
    --load "$load_start at the start, $(cut -d' ' -f1-3 /proc/loadavg) at the end"
mkdir -p $build/bench/last-run
cp "$work/results.json" "$work/callgrind.jsonl" "$work/sizes.jsonl" $build/bench/last-run/
echo "bench: wrote $docs/BENCHMARKS.md and $docs/bench-latency.svg"
