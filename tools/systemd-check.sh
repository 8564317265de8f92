#!/bin/sh
# Runs the unit under a real systemd: boots a container over a throw-away copy of this
# machine's root with the staged install in it and the simulated camera as a platform
# service, then checks that the service gets ready inside its sandbox, mirrors over the
# system bus with no call refused, has a failed set-up ended by the start timeout and
# retried until it succeeds, and comes back after the bus goes away.
# Usage: tools/systemd-check.sh BUILD_DIR   (a build configured with --prefix=/usr)
set -eu
cd "$(dirname "$0")/.."

if [ "${1:-}" != --inside ]; then
    # A mount namespace of its own: the overlay and its tmpfs go away with it.
    exec unshare --mount --propagation private "$0" --inside "$@"
fi
build=${2:?usage: tools/systemd-check.sh BUILD_DIR}
machine=ptz-deploy-check
target=$machine.target

work=$(mktemp -d)
mount -t tmpfs tmpfs "$work"
mkdir "$work/upper" "$work/work" "$work/root"
root=$work/root
mount -t overlay overlay -o "lowerdir=/,upperdir=$work/upper,workdir=$work/work" "$root"
DESTDIR=$root meson install -C "$build" --no-rebuild --quiet

mkdir -p "$root/opt/camera"
cp simulated_camera/ptz_camera.py "$root/opt/camera/"
cat >"$root/usr/share/dbus-1/system.d/test-camera.conf" <<'EOF'
<busconfig>
  <policy user="root">
    <allow own="com.orvo.PTZ.Coordinator"/>
    <allow own="com.orvo.Ptz1"/>
    <allow send_destination="com.orvo.PTZ.Coordinator"/>
    <allow send_destination="com.orvo.Ptz1"/>
  </policy>
</busconfig>
EOF
units=$root/etc/systemd/system
cat >"$units/test-camera.service" <<'EOF'
[Service]
Type=dbus
BusName=com.orvo.Ptz1
ExecStart=/usr/bin/python3 -m dbusmock --system --template /opt/camera/ptz_camera.py \
    --parameters '{"channels": 2}'
EOF
mkdir -p "$units/ptz-preset-sync.service.d"
sed 's/ptz-coordinator.service ptz-channels.service/test-camera.service/' \
    packaging/platform-services.conf >"$units/ptz-preset-sync.service.d/platform-services.conf"
printf '[Unit]\nRequires=basic.target dbus.service\nAfter=basic.target dbus.service\n' \
    >"$units/$target"

systemd-nspawn --quiet -D "$root" --machine=$machine --boot --private-network \
    --register=no --keep-unit -- systemd.unit=$target </dev/null >"$work/console.log" 2>&1 &
nspawn=$!

leader=""
in_container() {
    nsenter -t "$leader" -a "$@"
}
finish() {
    status=$?
    if [ $status -ne 0 ] && [ -n "$leader" ]; then
        in_container journalctl --no-pager -n 60 || true
    fi
    kill "$nspawn" 2>/dev/null && wait "$nspawn" || true
    rmdir "/run/systemd/nspawn/propagate/$machine" 2>/dev/null || true
    exit $status
}
trap finish EXIT

# Waits up to $1 seconds for a command to succeed.
wait_for() {
    seconds=$1
    shift
    while ! "$@" >/dev/null 2>&1; do
        seconds=$((seconds - 1))
        [ $seconds -gt 0 ] || { echo "timed out: $*" >&2; return 1; }
        sleep 1
    done
}
find_leader() {
    leader=$(pgrep -f "^/usr/lib/systemd/systemd systemd.unit=$target") || return 1
}
wait_for 30 find_leader
wait_for 60 in_container systemctl is-active --quiet $target

camera() {
    in_container busctl call -- com.orvo.PTZ.Coordinator /com/orvo/Sim com.orvo.Sim.Control "$@"
}
restarts() {
    in_container systemctl show -P NRestarts ptz-preset-sync.service
}
service_log() {
    in_container journalctl --no-pager -o cat -u ptz-preset-sync.service
}
mirrored() {
    [ "$(camera GetState | grep -o Door | wc -l)" -eq 2 ]
}
deactivations() {
    service_log | grep -c 'ptz-preset-sync.service: Deactivated successfully' || true
}
fail() {
    echo "$*" >&2
    exit 1
}
active_after_restart() {
    in_container systemctl is-active --quiet ptz-preset-sync.service && [ "$(restarts)" -gt "$1" ]
}

echo "== ready in its sandbox"
in_container systemctl start ptz-preset-sync.service
pid=$(in_container systemctl show -P MainPID ptz-preset-sync.service)
[ "$(in_container ps -o user= -p "$pid")" = ptz-preset-sync ] || fail "not run as its user"

echo "== mirrors with no call refused"
camera UserCreateByName isb 1 Door false >/dev/null
wait_for 10 mirrored
if in_container journalctl --no-pager -u dbus.service | grep Rejected; then
    fail "the bus refused calls"
fi

echo "== a failed set-up times out and is retried"
camera FailMethod isis 0 GetNumberOfChannels -1 ""
in_container mkdir -p /run/systemd/system/ptz-preset-sync.service.d
printf '[Service]\nTimeoutStartSec=3\n' |
    in_container tee /run/systemd/system/ptz-preset-sync.service.d/quick.conf >/dev/null
in_container systemctl daemon-reload
if in_container systemctl restart ptz-preset-sync.service 2>/dev/null; then
    fail "started although its set-up failed"
fi
service_log | grep -q 'start operation timed out' || fail "no start timeout"
service_log | grep -q 'Could not start service due to failure in DBus setup!' ||
    fail "no start failure logged"
camera ClearFaults
wait_for 20 active_after_restart 0

echo "== back after the bus goes away"
before=$(restarts)
clean_exits=$(deactivations)
in_container systemctl restart dbus.service
in_container systemctl restart test-camera.service
wait_for 30 active_after_restart "$before"
# Status 0 shows as a successful deactivation; "always" restarts it all the same.
[ "$(deactivations)" -gt "$clean_exits" ] || fail "no clean exit when the bus went away"
echo "systemd check: passed"
