#!/bin/sh
# Installs those of the named Debian packages that are missing (as root). Packages of another
# architecture ("name:arm64") make that architecture known to dpkg first.
set -eu
missing=""
for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
[ -n "$missing" ] || exit 0
echo "installing:$missing"
for arch in $(printf '%s\n' $missing | sed -n 's/.*:\([a-z0-9]*\)$/\1/p' | sort -u); do
    dpkg --add-architecture "$arch"
done
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $missing >/dev/null
