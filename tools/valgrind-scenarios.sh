#!/bin/sh
# Runs the long scenario of each mirror kind (recall, creation, update, removal) with the daemon
# under valgrind; fails on any valgrind error or definite or indirect leak.
#   tools/valgrind-scenarios.sh         the four long scenarios
#   tools/valgrind-scenarios.sh --all   the whole integration suite
# PTZ_TEST_VALGRIND=1 is all it takes: the harness runs every daemon under valgrind, ends each
# one still running at teardown with SIGTERM so that valgrind checks for leaks, fails a test on
# what valgrind found in its daemons, and run.py sums up every daemon run on its last line.
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh >/dev/null

export PTZ_TEST_VALGRIND=1
if [ "${1:-}" = --all ]; then
    exec /usr/bin/python3 tests/integration/run.py
fi
exec /usr/bin/python3 tests/integration/run.py test_long_scenarios
