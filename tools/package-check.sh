#!/bin/sh
# The image builders' packages (Debian 12, as root): builds the Debian package in a clean copy
# of the tree and runs lintian on it; installs it on this machine and checks its files, its
# user, that nothing enabled or started the service, and what its bus policy allows on a bus
# that reads it; removes and purges it and checks that nothing is left; then holds the
# package, the BitBake recipe and the Buildroot package against meson install.
set -eu
cd "$(dirname "$0")/.."

tools/install-packages.sh debhelper dpkg-dev fakeroot lintian meson ninja-build pkg-config \
    g++ libglib2.0-dev libgtest-dev python3 systemd dbus dbus-daemon dbus-bin python3-dbus \
    python3-dbusmock util-linux procps git

package=ptz-preset-sync
user=ptz-preset-sync
policy=/usr/share/dbus-1/system.d/$package.conf
marker=/var/lib/$package/created-user
version=$(meson introspect --projectinfo meson.build |
    /usr/bin/python3 -c 'import json, sys; print(json.load(sys.stdin)["version"])')
arch=$(dpkg --print-architecture)
export DEBIAN_FRONTEND=noninteractive PYTHONDONTWRITEBYTECODE=1

fail() {
    echo "package check: $*" >&2
    exit 1
}
if dpkg-query -W -f='${Status}' $package 2>/dev/null | grep -qv 'not-installed$'; then
    fail "$package is on this machine already; this check installs and purges it"
fi

work=$(mktemp -d)
chmod 755 "$work"
bus_pid=""
camera_pid=""
installed=""
# Account files' backups, which useradd, userdel and systemd-sysusers rewrite.
backups="/etc/passwd- /etc/group- /etc/shadow- /etc/gshadow-"
mkdir "$work/backups"
for f in $backups; do
    [ ! -e "$f" ] || cp -p "$f" "$work/backups/"
done
restore_backups() {
    for f in $backups; do
        if [ -e "$work/backups/${f##*/}" ]; then
            cmp -s "$work/backups/${f##*/}" "$f" || cp -p "$work/backups/${f##*/}" "$f"
        else
            rm -f "$f"
        fi
    done
}
finish() {
    status=$?
    if [ -n "$installed" ]; then
        dpkg --purge $package >/dev/null 2>&1 || echo "could not purge $package" >&2
    fi
    for pid in $camera_pid $bus_pid; do
        if kill "$pid" 2>/dev/null; then
            wait "$pid" 2>/dev/null || true
        fi
    done
    restore_backups
    rm -rf "$work"
    exit $status
}
trap finish EXIT
trap 'exit 1' INT TERM

# What the package may touch, and the packages installed.
snapshot() {
    find /etc /usr /var/lib -xdev \( -path /var/lib/dpkg -o -path /var/lib/apt \) -prune \
        -o -print | sort
    sha256sum /etc/passwd /etc/group /etc/shadow /etc/gshadow
    dpkg-query -W -f='${db:Status-Abbrev} ${Package} ${Version}\n' | grep '^ii'
}

echo "== build: dpkg-buildpackage -us -uc -b in a clean copy"
start=$(date +%s)
src=$work/$package-$version
mkdir "$src"
git ls-files -z --cached --others --exclude-standard |
    tar --null -T - --ignore-failed-read -cf - | tar -xf - -C "$src"
if ! (cd "$src" && env -u DEB_BUILD_OPTIONS dpkg-buildpackage -us -uc -b) \
        >"$work/build.log" 2>&1; then
    tail -n 60 "$work/build.log" >&2
    fail "the package did not build"
fi
# The unit tests ran, and DEB_BUILD_OPTIONS=nocheck leaves them out.
grep -q 'meson test --suite unit' "$work/build.log" || fail "the unit tests did not run"
sed -n '/meson test --suite unit/,/^Timeout:/p' "$work/build.log" | grep -E '^(Ok|Fail):'
skipped=$(cd "$src" && DEB_BUILD_OPTIONS=nocheck debian/rules override_dh_auto_test 2>&1)
case $skipped in *"meson test"*) fail "nocheck ran the tests: $skipped" ;; esac
deb=$work/${package}_${version}_$arch.deb
[ -f "$deb" ] || fail "no ${deb##*/}"
echo "built ${deb##*/} in $(($(date +%s) - start)) s"

echo "== lintian"
setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME=/nonexistent \
    lintian --fail-on error,warning --display-level '>=pedantic' \
    "$work/${package}_${version}_$arch.changes" || fail "lintian reports errors or warnings"
echo "lintian: no error, no warning"

echo "== maintainer scripts"
dpkg-deb -e "$deb" "$work/control"
# Only a service already running is restarted, after an upgrade.
starts=$(cat "$work/control/postinst" "$work/control/preinst" 2>/dev/null |
    grep -o 'deb-systemd-invoke [^ ]*\|systemctl [^|;]*start[^|;]*' |
    grep -v '^deb-systemd-invoke try-restart$' || true)
[ -z "$starts" ] || fail "the maintainer scripts start the service: $starts"
echo "no start on install"

# A private bus that reads the installed policy, as the system bus would, and refuses method
# calls no policy allows (the deployment tests' configuration); the simulated camera owns both
# platform services on it.
/usr/bin/python3 -c '
import sys
sys.path.insert(0, "tests/integration")
from test_deployment import DENY_BY_DEFAULT
work, policy = sys.argv[1:]
config = DENY_BY_DEFAULT.format(include=f"<include ignore_missing=\"yes\">{policy}</include>")
print(config.replace("unix:tmpdir=/tmp", f"unix:path={work}/bus"))
' "$work" "$policy" >"$work/bus.conf"
grep -q "<listen>unix:path=$work/bus</listen>" "$work/bus.conf" || fail "no bus configuration"
address=unix:path=$work/bus
dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile --nosyslog 2>"$work/bus.log" &
bus_pid=$!
DBUS_SYSTEM_BUS_ADDRESS=$address /usr/bin/python3 -m dbusmock --system \
    --template simulated_camera/ptz_camera.py --parameters '{"channels": 2}' \
    >"$work/camera.log" 2>&1 &
camera_pid=$!

# Runs dbus-send as $1 on the private bus; prints "reply" or the error's name.
outcome() {
    who=$1
    shift
    if out=$(setpriv --reuid="$(id -u "$who")" --regid="$(id -g "$who")" --clear-groups \
            dbus-send --bus="$address" --print-reply "$@" 2>&1); then
        echo reply
    else
        printf '%s\n' "$out" | sed -n 's/^Error \([^:]*\):.*/\1/p'
    fi
}
expect() {
    want=$1
    shift
    got=$(outcome "$@")
    [ "$got" = "$want" ] || fail "as $*: ${got:-no answer}, not $want"
}
coordinator() {
    expect "$1" "$2" --dest=com.orvo.PTZ.Coordinator /com/orvo/PTZ/Coordinator \
        com.orvo.PTZ.Coordinator.GetNumberOfChannels
}
seconds=30
until [ "$(outcome root --dest=com.orvo.Ptz1 /com/orvo/Ptz1/Channel/1 \
        com.orvo.Ptz1.Channel.GetPresets)" = reply ]; do
    seconds=$((seconds - 1))
    [ $seconds -gt 0 ] || { cat "$work/bus.log" "$work/camera.log" >&2; fail "no camera"; }
    sleep 1
done

echo "== install: apt-get install ./${deb##*/}"
user_before=$(getent passwd $user || true)
if [ -n "$user_before" ]; then
    echo "the user $user exists already: installing must keep it, purging too"
    coordinator org.freedesktop.DBus.Error.AccessDenied $user
fi
before=$work/before.txt
snapshot >"$before"
installed=yes
# The bus address reaches the maintainer scripts, which tell that bus to reload.
if ! DBUS_SYSTEM_BUS_ADDRESS=$address apt-get install -y -q "$deb" >"$work/apt.log" 2>&1; then
    cat "$work/apt.log" >&2
    fail "apt-get install failed"
fi
changed=$(dpkg --verify $package)
[ -z "$changed" ] || fail "installed files differ from the package: $changed"
# Every file of the package is in place (what it holds, meson install's files and dpkg's
# changelog and copyright, is compared last).
files=$(dpkg -L $package | while read -r f; do [ ! -f "$f" ] || echo "$f"; done | sort)
[ "$files" = "$(dpkg-deb -c "$deb" | awk '!/^d/ {print substr($6, 2)}' | sort)" ] ||
    fail "installed files: $files"
printf '%s\n' "$files" | sed 's/^/installed: /'

entry=$(getent passwd $user) || fail "no user $user"
if [ -n "$user_before" ]; then
    [ "$entry" = "$user_before" ] || fail "the user changed: $entry"
    [ ! -e "$marker" ] || fail "$marker says the package made a user it found"
else
    [ -e "$marker" ] || fail "no $marker for the user the package made"
fi
printf '%s\n' "$entry" |
    grep -q "^$user:x:[0-9]*:[0-9]*:PTZ preset synchronisation:/:/usr/sbin/nologin$" ||
    fail "user: $entry"
[ "$(id -u $user)" -lt 1000 ] || fail "$user is not a system user"
[ "$(id -gn $user)" = $user ] || fail "$user's group is $(id -gn $user)"
echo "user: $entry"

enabled=$(systemctl --root=/ is-enabled $package.service 2>&1 || true)
[ "$enabled" = disabled ] || fail "the unit is $enabled"
if pgrep -u $user >/dev/null; then
    fail "something runs as $user"
fi
echo "unit: disabled, service not running"

# The bus was told to reload: the user may call the two platform services, nothing else,
# and owns no name.
coordinator reply $user
expect reply $user --dest=com.orvo.Ptz1 /com/orvo/Ptz1/Channel/1 com.orvo.Ptz1.Channel.GetPresets
expect org.freedesktop.DBus.Error.AccessDenied $user --dest=com.orvo.PTZ.Coordinator \
    /com/orvo/Sim com.orvo.Sim.Control.GetState
coordinator org.freedesktop.DBus.Error.AccessDenied nobody
for name in com.orvo.PTZ.Coordinator com.orvo.Ptz1 com.orvo.PtzPresetSync; do
    expect org.freedesktop.DBus.Error.AccessDenied $user --dest=org.freedesktop.DBus \
        /org/freedesktop/DBus org.freedesktop.DBus.RequestName string:$name uint32:0
done
echo "bus policy: $user calls both platform services, owns no name; others are refused"

echo "== remove and purge"
DBUS_SYSTEM_BUS_ADDRESS=$address apt-get remove -y -q $package >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log" >&2; fail "apt-get remove failed"; }
if [ -e $policy ] || [ -e /usr/sbin/$package ]; then
    fail "files left after remove"
fi
coordinator org.freedesktop.DBus.Error.AccessDenied $user
echo "removed: the bus reloaded, the user's calls are refused"
DBUS_SYSTEM_BUS_ADDRESS=$address apt-get purge -y -q $package >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log" >&2; fail "apt-get purge failed"; }
installed=""
if [ -n "$user_before" ]; then
    [ "$(getent passwd $user)" = "$user_before" ] || fail "purging changed the user $user"
else
    ! getent passwd $user >/dev/null || fail "the user is left"
    ! getent group $user >/dev/null || fail "the group is left"
fi
restore_backups
snapshot >"$work/after.txt"
if ! diff -u "$before" "$work/after.txt" >&2; then
    fail "the machine differs after the purge"
fi
echo "purged: nothing left"

echo "== the packages against meson install"
tools/packaging-files-check.py --deb "$deb" "$src/obj-$(dpkg-architecture -qDEB_HOST_GNU_TYPE)"
echo "package check: passed"
