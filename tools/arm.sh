#!/bin/sh
# Cross-builds for one ARM architecture into build-ARCH/, runs the unit tests and the
# deployment tests with that build under qemu-user, and reports its stripped size and the
# shared libraries it needs, which must be GLib's and libc only.  Usage: tools/arm.sh arm64|armhf
set -eu
cd "$(dirname "$0")/.."

arch=${1:?usage: tools/arm.sh arm64|armhf}
case $arch in
    arm64) triplet=aarch64-linux-gnu qemu=qemu-aarch64-static ;;
    armhf) triplet=arm-linux-gnueabihf qemu=qemu-arm-static ;;
    *) echo "unknown architecture: $arch" >&2; exit 2 ;;
esac
build=build-$arch

[ -f "$build/build.ninja" ] || meson setup "$build" --cross-file "cross/$arch.ini" >/dev/null
ninja -C "$build"
# The cross file's exe_wrapper runs the unit tests through qemu; the deployment tests start
# the daemon through it.
PTZ_PRESET_SYNC_WRAPPER=$qemu meson test -C "$build" --suite unit --suite deployment \
    --print-errorlogs

stripped=$(mktemp)
trap 'rm -f "$stripped"' EXIT
"$triplet-strip" -o "$stripped" "$build/ptz-preset-sync"
libraries=$("$triplet-readelf" -d "$stripped" |
    sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
# The service needs GLib and libc only: no C++ runtime.
if [ "$libraries" != "libgio-2.0.so.0 libgobject-2.0.so.0 libglib-2.0.so.0 libc.so.6 " ]; then
    echo "$arch: the daemon needs other libraries than GLib's and libc: $libraries" >&2
    exit 1
fi
# aarch64 pads its segments to 64 KiB in the file; text + data + bss is what is loaded.
loaded=$("$triplet-size" "$stripped" | awk 'NR == 2 { print $4 }')
echo "$arch: stripped daemon $(stat -c %s "$stripped") bytes ($loaded loaded); needs $libraries"
