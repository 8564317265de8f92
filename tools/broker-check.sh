#!/bin/sh
# Runs the integration suite on dbus-broker as the private system bus (Debian 12, as root).
# The deployment tests are a suite of their own: their bus is a dbus-daemon with the shipped
# policy. Arguments go to meson test (a test file's name runs that one).
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

PTZ_TEST_BUS=broker exec meson test -C build --suite integration --print-errorlogs "$@"
