#!/bin/sh
# Builds the service and shows it keeping a simulated 4-channel camera in step.
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh >/dev/null
exec /usr/bin/python3 tools/demo.py "$@"
