#!/bin/sh
# Installs what is missing, builds into build/ and runs `meson test`: the unit tests and the
# integration suite, each test file on a private bus of its own.
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh
exec meson test -C build --print-errorlogs "$@"
