# SPDX-License-Identifier: MIT
# vorn for a Yocto layer: copy this file into a recipes-*/vorn/ folder of
# the layer. The build needs the meta-oe layer of meta-openembedded, whose
# gtk+ recipe is GTK+ 2, and the device library's own recipe, which
# provides zerovora. Set where the builds take vorn's source from and the
# project's page, in the layer or in local.conf, for instance:
#   VORN_SRC_URI = "git://git.example.org/vorn.git;protocol=https;branch=main"
#   VORN_SRCREV = "0123456789abcdef0123456789abcdef01234567"
#   VORN_HOMEPAGE = "https://git.example.org/vorn"
# Without VORN_SRC_URI the recipe is skipped, saying so.
SUMMARY = "Records a file's title, author and tag in the card's metadata database"
DESCRIPTION = "vorn FILE TITLE AUTHOR TAG adds a file of the device's card, \
with its size and modification time, to the card's global metadata \
database, or changes the title, author and tag of the entry it holds, \
through the device's own libzerovora.so.0."
HOMEPAGE = "${VORN_HOMEPAGE}"
LICENSE = "MIT"
LIC_FILES_CHKSUM = "file://LICENSE;md5=fd2c990f57ad9113b6c9d7e78ced3abe"

VORN_SRC_URI ??= ""
VORN_SRCREV ??= ""
VORN_HOMEPAGE ??= ""
# The source lands where every release's default S points.
SRC_URI = "${VORN_SRC_URI};destsuffix=${BP}"
SRCREV = "${VORN_SRCREV}"

python () {
    if not d.getVar("VORN_SRC_URI"):
        raise bb.parse.SkipRecipe("set VORN_SRC_URI (and VORN_SRCREV) to where vorn's source is")
}

DEPENDS = "gtk+ glib-2.0 zerovora"
inherit cmake pkgconfig features_check ptest
# GTK+ 2 draws on X11.
REQUIRED_DISTRO_FEATURES = "x11"

# vorn-ptest: run-ptest and the contract suite that holds the device's
# libzerovora.so.0 to what vorn relies on, in ${PTEST_PATH}.
do_install_ptest() {
    DESTDIR='${D}' cmake --install '${B}' --component ptest
}

# No option of vorn's own is needed: it links against the sysroot's
# libzerovora.so.0 and installs vorn, its man page and its licence alone.
EXTRA_OECMAKE = ""
