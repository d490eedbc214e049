# SPDX-License-Identifier: MIT
# vorn for a Yocto layer: copy this file into a recipes-*/vorn/ folder of
# the layer, and set VORN_SRC_URI (and VORN_SRCREV) to where the layer's
# builds take vorn's source from, in the layer or in local.conf. The device
# library's own recipe provides zerovora.
SUMMARY = "Records a file's title, author and tag in the card's metadata database"
LICENSE = "MIT"
LIC_FILES_CHKSUM = "file://LICENSE;md5=fd2c990f57ad9113b6c9d7e78ced3abe"

SRC_URI = "${VORN_SRC_URI}"
SRCREV = "${VORN_SRCREV}"
S = "${WORKDIR}/git"

DEPENDS = "gtk+ glib-2.0 zerovora"
inherit cmake pkgconfig

# No option of vorn's own is needed: it links against the sysroot's
# libzerovora.so.0 and installs vorn, its man page and its licence alone.
EXTRA_OECMAKE = ""
