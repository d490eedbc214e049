################################################################################
#
# vorn
#
################################################################################

# SPDX-License-Identifier: MIT
# vorn for a Buildroot tree or external tree: copy this folder into its
# package/ folder and source its Config.in there. VORN_SITE is where the
# builds take vorn's source from: here a checkout beside Buildroot's own
# (for a git server, its URL and VORN_SITE_METHOD = git). The device's
# external tree provides zerovora and, from Buildroot 2025.11, libgtk2.
VORN_VERSION = 0.1.0
VORN_SITE = $(TOPDIR)/../vorn
VORN_SITE_METHOD = local
VORN_LICENSE = MIT
VORN_LICENSE_FILES = LICENSE
VORN_DEPENDENCIES = libgtk2 libglib2 zerovora
# No option of vorn's own is needed: it links against the staging tree's
# libzerovora.so.0 and installs vorn, its man page and its licence alone.
VORN_CONF_OPTS =

ifeq ($(BR2_PACKAGE_VORN_PTEST),y)
define VORN_INSTALL_PTEST
	$(TARGET_MAKE_ENV) DESTDIR=$(TARGET_DIR) $(BR2_CMAKE) --install \
		$(VORN_BUILDDIR) --component ptest
endef
VORN_POST_INSTALL_TARGET_HOOKS += VORN_INSTALL_PTEST
endif

$(eval $(cmake-package))
