#!/bin/sh
# Runs the long scenario of each mirror kind (recall, creation, update, removal) with the daemon
# under valgrind; fails on any valgrind error or definite or indirect leak.
#   tools/valgrind-scenarios.sh         the four long scenarios (CI)
#   tools/valgrind-scenarios.sh --all   the whole integration suite, with a summary of every run
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh >/dev/null

if [ "${1:-}" = --all ]; then
    exec /usr/bin/python3 tools/valgrind_report.py
fi
exec /usr/bin/python3 tools/valgrind_report.py test_long_scenarios
