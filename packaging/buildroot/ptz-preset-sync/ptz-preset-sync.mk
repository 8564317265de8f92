################################################################################
#
# ptz-preset-sync
#
################################################################################

PTZ_PRESET_SYNC_VERSION = 0.1.0
# The release tarball, made by `meson dist -C build --no-tests --formats xztar` and put
# beside this file.
PTZ_PRESET_SYNC_SOURCE = ptz-preset-sync-$(PTZ_PRESET_SYNC_VERSION).tar.xz
PTZ_PRESET_SYNC_SITE = $(PTZ_PRESET_SYNC_PKGDIR)
PTZ_PRESET_SYNC_SITE_METHOD = file
# meson.build declares the licence 'proprietary'.
PTZ_PRESET_SYNC_LICENSE = PROPRIETARY
PTZ_PRESET_SYNC_REDISTRIBUTE = NO
PTZ_PRESET_SYNC_DEPENDENCIES = host-pkgconf libglib2 dbus

# Directories named outright, as installed below; the tests need GoogleTest and Python
# and stay out of an image.
PTZ_PRESET_SYNC_CONF_OPTS = \
	-Dtests=false \
	-Dwerror=false \
	-Dsystemdsystemunitdir=/usr/lib/systemd/system \
	-Dsysusersdir=/usr/lib/sysusers.d \
	-Ddbus_policy_dir=/usr/share/dbus-1/system.d

# The bus policy names this user; with systemd the sysusers entry names the same one.
define PTZ_PRESET_SYNC_USERS
	ptz-preset-sync -1 ptz-preset-sync -1 * - - - PTZ preset synchronisation
endef

# File by file, as meson installs them (tools/packaging-files-check.py compares the two).
# The manual page and the example drop-in stay out: Buildroot removes /usr/share/man and
# /usr/share/doc from the target.
define PTZ_PRESET_SYNC_INSTALL_TARGET_CMDS
	$(INSTALL) -D -m 0755 $(@D)/build/ptz-preset-sync \
		$(TARGET_DIR)/usr/sbin/ptz-preset-sync
	$(INSTALL) -D -m 0644 $(@D)/packaging/ptz-preset-sync.conf \
		$(TARGET_DIR)/usr/share/dbus-1/system.d/ptz-preset-sync.conf
endef

define PTZ_PRESET_SYNC_INSTALL_INIT_SYSTEMD
	$(INSTALL) -D -m 0644 $(@D)/build/packaging/ptz-preset-sync.service \
		$(TARGET_DIR)/usr/lib/systemd/system/ptz-preset-sync.service
	$(INSTALL) -D -m 0644 $(@D)/packaging/ptz-preset-sync.sysusers \
		$(TARGET_DIR)/usr/lib/sysusers.d/ptz-preset-sync.conf
endef

$(eval $(meson-package))
