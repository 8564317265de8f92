#!/bin/sh
# Deployment checks (Debian 12, as root): a staged install and its manual page, the unit's
# verification and exposure score, the unit run by systemd in a container, the bus policy and
# readiness tests, and both ARM builds with their tests under qemu-user.
set -eu
cd "$(dirname "$0")/.."

tools/install-packages.sh meson ninja-build pkg-config g++ libglib2.0-dev libgtest-dev \
    dbus-daemon dbus python3-dbus python3-dbusmock util-linux mount systemd systemd-container \
    qemu-user-static groff-base man-db \
    g++-aarch64-linux-gnu libglib2.0-dev:arm64 libgtest-dev:arm64 libstdc++6:arm64 \
    g++-arm-linux-gnueabihf libglib2.0-dev:armhf libgtest-dev:armhf libstdc++6:armhf

echo "== staged install"
[ -f build-stage/build.ninja ] || meson setup build-stage --prefix=/usr >/dev/null
ninja -C build-stage >/dev/null
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage meson install -C build-stage --no-rebuild --quiet
expected="/lib/systemd/system/ptz-preset-sync.service
/usr/lib/sysusers.d/ptz-preset-sync.conf
/usr/sbin/ptz-preset-sync
/usr/share/dbus-1/system.d/ptz-preset-sync.conf
/usr/share/doc/ptz-preset-sync/examples/platform-services.conf
/usr/share/man/man8/ptz-preset-sync.8"
installed=$(cd "$stage" && find . -type f | sed 's/^\.//' | sort)
if [ "$installed" != "$expected" ]; then
    printf 'staged install differs; it holds:\n%s\n' "$installed" >&2
    exit 1
fi
mkdir "$stage/etc"
systemd-sysusers --root="$stage"
grep -q '^ptz-preset-sync:x:[0-9]*:[0-9]*:PTZ preset synchronisation:/:/usr/sbin/nologin$' \
    "$stage/etc/passwd"
echo "staged: binary, unit, sysusers entry, bus policy, example drop-in, manual page; user created"
# The installed daemon needs GLib and libc only: no C++ runtime (the ARM builds check theirs).
libraries=$(readelf -d "$stage/usr/sbin/ptz-preset-sync" |
    sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
if [ "$libraries" != "libgio-2.0.so.0 libgobject-2.0.so.0 libglib-2.0.so.0 libc.so.6 " ]; then
    echo "the installed daemon needs other libraries than GLib's and libc: $libraries" >&2
    exit 1
fi
echo "staged daemon needs: $libraries"

echo "== manual page"
# Any warning fails: groff's own, and man's as it renders the page for an 80-column terminal.
page=$stage/usr/share/man/man8/ptz-preset-sync.8
warnings=$(groff -man -ww -z -t "$page" 2>&1 &&
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || status=$?
if [ -n "$warnings" ] || [ "${status:-0}" != 0 ]; then
    printf 'manual page: status %s, warnings:\n%s\n' "${status:-0}" "$warnings" >&2
    exit 1
fi
found=$(MANPATH=$stage/usr/share/man man -w ptz-preset-sync)
if [ "$found" != "$page" ]; then
    printf 'man finds %s, not the staged page\n' "$found" >&2
    exit 1
fi
echo "manual page: renders without warnings, found by man"

echo "== systemd-analyze"
# The unit's default dependencies are the platform's units, so they go beside it.
mkdir -p "$stage/usr/lib/systemd/system"
cp -a /usr/lib/systemd/system/. "$stage/usr/lib/systemd/system/"
systemd-analyze verify --root="$stage" ptz-preset-sync.service
echo "verify: clean"
systemd-analyze security --offline=true --root="$stage" --threshold=15 \
    ptz-preset-sync.service | grep 'Overall exposure level'

echo "== the unit under systemd"
tools/systemd-check.sh build-stage

echo "== bus policy and readiness"
meson test -C build-stage --suite deployment --print-errorlogs

echo "== ARM"
tools/arm.sh arm64
tools/arm.sh armhf
