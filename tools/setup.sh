#!/bin/sh
# Installs what the build, the tests and the demo need (Debian 12, as root) and builds into build/.
set -eu
cd "$(dirname "$0")/.."

tools/install-packages.sh meson ninja-build pkg-config g++ libglib2.0-dev libgtest-dev dbus \
    dbus-daemon python3-dbus python3-dbusmock python3-gi util-linux mount valgrind systemd

[ -f build/build.ninja ] || meson setup build >/dev/null
ninja -C build
