#!/bin/sh
# Builds, then runs the seeded convergence check on 2,000 scenarios (arguments go to convergence.py, e.g. --seeds, --first, --budget).
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh
exec /usr/bin/python3 tests/integration/convergence.py --seeds 2000 --first 1 "$@"
