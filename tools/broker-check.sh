#!/bin/sh
# Runs the integration suite on dbus-broker as the private system bus (Debian 12, as root):
# every test file but test_deployment, whose bus is a dbus-daemon with the shipped policy.
# The harness starts dbus-broker-launch itself (PTZ_TEST_BUS=broker, see
# tests/integration/testbed.py): no booted systemd is needed.
set -eu
cd "$(dirname "$0")/.."

tools/setup.sh >/dev/null
if ! dpkg-query -W -f='${Status}' dbus-broker 2>/dev/null | grep -q "ok installed"; then
    tools/install-packages.sh dbus-broker
    # The package makes itself the system bus from the next boot on, and in the containers the
    # deployment checks boot over this root. It is here for the tests' private bus only.
    systemctl disable --quiet dbus-broker.service
    systemctl --global disable --quiet dbus-broker.service
fi

tests=$(cd tests/integration && ls test_*.py | sed 's/\.py$//' | grep -vx test_deployment)
# shellcheck disable=SC2086
PTZ_TEST_BUS=broker /usr/bin/python3 tests/integration/run.py $tests
