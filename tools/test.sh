#!/bin/sh
# Builds and runs every test: the unit tests, then the integration suite on a private bus.
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh
meson test -C build --print-errorlogs
/usr/bin/python3 tests/integration/run.py
