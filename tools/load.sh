#!/bin/sh
# The load, on the native stand-in of the camera (tests/load/load_test.py): three bursts each of
# 10,000 recalls at 4 channels, 1,000 recalls at 16 channels and 10,000 configuration changes at
# 4 channels, sent as fast as the bus takes them (about 8 minutes on 2 cores). Fails on a lost or
# extra call, a wrong log message, a daemon off the bus, or memory that stays more than 1 MiB
# above its idle figure once a burst has been handled.
#   tools/load.sh                  the full load
#   tools/load.sh --short          300, 100 and 300 per burst, under a minute (CI)
#   tools/load.sh --report FILE    also writes every figure to FILE as JSON
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh >/dev/null
[ -f build-bench/build.ninja ] || meson setup build-bench -Dbenchmarks=true >/dev/null
ninja -C build-bench bench/ptz-stand-in >/dev/null
exec /usr/bin/python3 tests/load/load_test.py "$@"
