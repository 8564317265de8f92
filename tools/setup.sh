#!/bin/sh
# Installs what the build, the tests and the demo need (Debian 12, as root) and builds into build/.
set -eu
cd "$(dirname "$0")/.."

packages="meson ninja-build pkg-config g++ libglib2.0-dev libgtest-dev dbus dbus-daemon
          python3-dbus python3-dbusmock python3-gi util-linux mount valgrind systemd"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # shellcheck disable=SC2086
    apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi

[ -f build/build.ninja ] || meson setup build >/dev/null
ninja -C build
