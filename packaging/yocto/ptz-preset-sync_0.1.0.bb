SUMMARY = "Keeps the PTZ presets of a camera's video channels in step"
DESCRIPTION = "A preset created, renamed, moved, made home or removed on one video \
channel is applied to every other channel, and a preset recalled on one channel is \
recalled on every other one. A client of the camera's two platform PTZ services on \
the D-Bus system bus; it runs as its own system user and writes nothing to disk."
# meson.build declares the licence 'proprietary': there is no licence text to checksum.
LICENSE = "CLOSED"

# The release tarball, made by `meson dist -C build --no-tests --formats xztar` and put in
# this recipe's files/ directory.
SRC_URI = "file://ptz-preset-sync-${PV}.tar.xz"

DEPENDS = "glib-2.0"
# The service is a client of the system bus.
RDEPENDS:${PN} = "dbus"

inherit meson pkgconfig systemd useradd

# Directories named outright, so that the layout does not hang on which .pc files the
# sysroot holds; the tests need GoogleTest and Python and stay out of an image.
EXTRA_OEMESON = " \
    -Dtests=false \
    -Dwerror=false \
    -Dsystemdsystemunitdir=${systemd_system_unitdir} \
    -Dsysusersdir=${nonarch_libdir}/sysusers.d \
    -Ddbus_policy_dir=${datadir}/dbus-1/system.d \
"

SYSTEMD_SERVICE:${PN} = "ptz-preset-sync.service"
# An image with this recipe is a camera's, which has the platform's PTZ services: the
# service starts at boot.
SYSTEMD_AUTO_ENABLE:${PN} = "enable"

# The bus policy names this user; the sysusers entry makes the same one where
# systemd-sysusers runs.
USERADD_PACKAGES = "${PN}"
USERADD_PARAM:${PN} = "--system --no-create-home --home-dir / --shell ${base_sbindir}/nologin --user-group ptz-preset-sync"

# Every file meson installs, named (tools/packaging-files-check.py compares the two).
FILES:${PN} = " \
    ${sbindir}/ptz-preset-sync \
    ${systemd_system_unitdir}/ptz-preset-sync.service \
    ${nonarch_libdir}/sysusers.d/ptz-preset-sync.conf \
    ${datadir}/dbus-1/system.d/ptz-preset-sync.conf \
"
FILES:${PN}-doc = " \
    ${docdir}/ptz-preset-sync/examples/platform-services.conf \
    ${mandir}/man8/ptz-preset-sync.8 \
"
