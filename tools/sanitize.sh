#!/bin/sh
# Builds with AddressSanitizer and UndefinedBehaviorSanitizer, then runs the unit tests and
# the whole integration suite against that build. The first report ends the run with a failure.
set -eu
cd "$(dirname "$0")/.."
[ -f build-asan/build.ninja ] ||
    meson setup build-asan -Db_sanitize=address,undefined -Db_lundef=false >/dev/null
ninja -C build-asan >/dev/null

export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
meson test -C build-asan --print-errorlogs
PTZ_PRESET_SYNC_BIN="$PWD/build-asan/ptz-preset-sync" /usr/bin/python3 tests/integration/run.py
