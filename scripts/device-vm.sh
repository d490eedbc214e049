#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Boots the emulated device, an armhf board (QEMU's virt machine with a
# Cortex-A15) on Debian 11's own armmp kernel and runtime with an SD card,
# and runs a command there as root, beside an X server and the armhf build
# of vorn and the stand-in (build-device-armhf/, from
# scripts/device-build.sh --test armhf) on the card the guest's kernel
# mounts at the media root:
#   scripts/device-vm.sh CARD [-- COMMAND [ARGS...]]
# CARD is fat32 or exfat for a new card of 64 MiB (one MBR partition, made
# by the guest's own mkfs), fat32:FILE or exfat:FILE to make that new card
# as FILE and keep it, or the FILE of a card image to use as it is. Without
# a command, it runs a shell's "true". The command sees the source tree at
# its path on this machine, read-only; its status is this script's, and
# what it writes goes to standard output with the kernel's console.
# VORN_VM_FORMAT_ONLY=1 formats the card and runs nothing.
# The guest has no network, and nothing of this machine changes: QEMU runs
# as this user, with no binfmt handler and no mount. The guest's root (a
# squashfs of Debian 11 armhf with its kernel, made with mmdebstrap) is
# cached beside the sysroots and made again when its package list changes.
# SIGTERM kills the board at once, as a card pulled mid-write would stop it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: scripts/device-vm.sh fat32|exfat|fat32:FILE|exfat:FILE|FILE [-- COMMAND [ARGS...]]"
card=${1:?$usage}
shift
if [ $# -gt 0 ]; then
  [ "$1" = -- ] || { echo "$usage" >&2; exit 2; }
  shift
fi
[ $# -gt 0 ] || set -- true
build=$top/build-device-armhf
[ -x "$build/bin/vorn" ] ||
  { echo "device-vm.sh: no armhf build in $build: run scripts/device-build.sh --test armhf" >&2; exit 1; }
"$top/scripts/install-deps.sh" vm

# shellcheck source=root-cache.sh
. "$top/scripts/root-cache.sh"
# The release is the armhf sysroot's, which the build ran on.
sysroot=$("$top/scripts/sysroot.sh" armhf)
codename=$(basename "$sysroot" | cut -d- -f1)
mirror=$("$top/scripts/debian-mirror.sh")

# What the guest boots: the kernel and the modules that its root, its SD
# card, its shares and the card's file systems need, loaded in this order
# from the initramfs (virtio's core is built in).
modules="virtio_pci virtio_blk squashfs overlay 9pnet 9pnet_virtio fscache 9p sdhci cqhci sdhci-pci fat vfat exfat nls_cp437 nls_ascii nls_utf8"
packages="linux-image-armmp,busybox-static,bash,dash,coreutils,util-linux,mount,grep,sed,findutils,diffutils,libc-bin,procps,xvfb,libgtk2.0-0,libsqlite3-0,sqlite3,libstdc++6,dosfstools,exfatprogs,strace,inotify-tools"
# The layout version changes when what the hook below does changes.
key=$(printf '%s' "vm 1 $codename $packages $modules" | sha256sum | cut -c1-12)
guest=$cache/vm-$codename-armhf-$key
if [ ! -e "$guest/.complete" ]; then
  echo "Making the emulated board's $codename armhf root in $guest" >&2
  mkdir -p "$cache"
  # Open to the ids of mmdebstrap's namespace, whose hook writes into it.
  partial=$(mktemp -d "$guest.partial.XXXXXX")
  chmod 0777 "$partial"
  remove_partial() {
    rm -rf "$partial" 2>/dev/null || unshare --map-auto --map-root-user rm -rf "$partial"
  }
  trap remove_partial EXIT
  # The packages are only unpacked (their scripts would need this machine to
  # run ARM programs), so the hook writes what their scripts would: the
  # accounts and the list of mounts. It takes out the kernel, the modules
  # and busybox for the initramfs, and packs the rest as a squashfs.
  hook=$(
    cat <<HOOK
set -e
umask 022
printf 'root:x:0:0:root:/root:/bin/bash\n' >"\$1/etc/passwd"
printf 'root:x:0:\n' >"\$1/etc/group"
ln -sf ../proc/self/mounts "\$1/etc/mtab"
version=\$(ls "\$1/lib/modules")
cp "\$1/boot/vmlinuz-\$version" "$partial/vmlinuz"
mkdir "$partial/initramfs" "$partial/initramfs/bin" "$partial/initramfs/modules"
cp "\$1/bin/busybox" "$partial/initramfs/bin/busybox"
/usr/sbin/depmod -b "\$1" "\$version"
for module in $modules; do
  path=\$(/usr/sbin/modprobe -d "\$1" -S "\$version" --show-depends "\$module" | tail -n 1 | cut -d' ' -f2)
  cp "\$path" "$partial/initramfs/modules/\$module.ko"
done
mksquashfs "\$1" "$partial/root.squashfs" -all-root -noappend -quiet -comp zstd -wildcards -e boot "lib/modules" "dev/*" "proc/*" "sys/*" >/dev/null
touch "$partial/.complete"
HOOK
  )
  mmdebstrap --quiet --mode="$mode" --variant=extract --architectures=armhf --include="$packages" \
    --extract-hook="$hook" "$codename" /dev/null "$mirror" >&2
  [ -e "$partial/.complete" ] || { echo "device-vm.sh: mmdebstrap did not finish the root" >&2; exit 1; }
  chmod 0755 "$partial"
  rm -rf "$guest"
  mv "$partial" "$guest"
  trap - EXIT
fi

run=$(mktemp -d "${TMPDIR:-/tmp}/vorn-vm.XXXXXX")
finish() {
  [ ! -s "$run/qemu.pid" ] || kill -KILL "$(cat "$run/qemu.pid" 2>/dev/null)" 2>/dev/null || true
  rm -rf "$run"
}
trap finish EXIT
trap 'exit 143' TERM INT

# The card: a new image holds one MBR partition from 1 MiB, which the guest
# formats; QEMU's SD card needs a power-of-two size.
format=
case "$card" in
  fat32 | exfat) format=$card image=$run/card.img ;;
  fat32:* | exfat:*) format=${card%%:*} image=${card#*:} ;;
  *) image=$card ;;
esac
if [ -n "$format" ]; then
  rm -f "$image"
  truncate -s 64M "$image"
  echo 'start=2048, type=0c' | sfdisk --quiet "$image"
  echo "$format" >"$run/format"
fi
[ -f "$image" ] || { echo "device-vm.sh: no card image $image" >&2; exit 1; }
[ "${VORN_VM_FORMAT_ONLY:-}" != 1 ] || set -- true
printf '%s\0' "$@" >"$run/command"

# The initramfs loads the modules and mounts the root (the squashfs under a
# tmpfs, so that the guest may write) and the run's share, then starts the
# second stage from the share as the first process; that one mounts the
# source tree once /tmp and /run are there, since the tree may be in one.
mkdir "$run/initramfs"
cp -r "$guest/initramfs/." "$run/initramfs"
cat >"$run/initramfs/init" <<INIT
#!/bin/busybox sh
/bin/busybox --install -s /bin
mkdir -p /proc /sys /dev /lower /upper /root
mount -t proc proc /proc
mount -t devtmpfs dev /dev
for module in $modules; do insmod /modules/\$module.ko; done
while [ ! -b /dev/vda ]; do sleep 0.1; done
mount -t squashfs -o ro /dev/vda /lower
mount -t tmpfs -o mode=0755 upper /upper
mkdir /upper/data /upper/work
mount -t overlay -o lowerdir=/lower,upperdir=/upper/data,workdir=/upper/work root /root
mkdir -p /root/vm
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 vm /root/vm
umount /proc
exec switch_root /root /bin/bash /vm/stage2
INIT
chmod +x "$run/initramfs/init"
(cd "$run/initramfs" && find . | cpio --quiet -o -H newc | gzip -1) >"$run/initrd.gz"
rm -rf "$run/initramfs"

cat >"$run/stage2" <<STAGE2
set -u
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs -o mode=1777 tmp /tmp
mount -t tmpfs -o mode=0755 run /run
mkdir -p "$top"
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,ro,cache=loose top "$top"
status=125
for _ in \$(seq 300); do [ -b /dev/mmcblk0p1 ] || sleep 0.1; done
case "\$(cat /vm/format 2>/dev/null)" in
  fat32) mkfs.vfat -F 32 -n CARD /dev/mmcblk0p1 >/dev/null ;;
  exfat) mkfs.exfat -n CARD /dev/mmcblk0p1 >/dev/null ;;
esac
mkdir -p /media/mmcblk0p1
if mount /dev/mmcblk0p1 /media/mmcblk0p1; then
  Xvfb :0 -nolisten tcp -noreset -screen 0 640x480x24 >/dev/null 2>&1 &
  while [ ! -e /tmp/.X11-unix/X0 ]; do sleep 0.1; done
  export DISPLAY=:0 PATH=$build/bin:\$PATH
  mapfile -d '' command </vm/command
  cd /root
  "\${command[@]}"
  status=\$?
  cd /
  umount /media/mmcblk0p1 2>/dev/null
fi
echo "\$status" >/vm/status
sync
busybox poweroff -f
STAGE2

# The board, with the card behind an SDHCI controller as an SDHC card.
qemu-system-arm -M virt,highmem=off -cpu cortex-a15 -smp 2 -m 1024 -nodefaults -no-reboot -pidfile "$run/qemu.pid" \
  -display none -monitor none -serial stdio -nic none \
  -kernel "$guest/vmlinuz" -initrd "$run/initrd.gz" \
  -append "console=ttyAMA0 ${VORN_VM_KERNEL_ARGS:-quiet loglevel=3} panic=-1" \
  -drive "if=none,id=root,file=$guest/root.squashfs,format=raw,readonly=on" \
  -device virtio-blk-pci,drive=root \
  -drive "if=none,id=card,file=$image,format=raw" -device sdhci-pci -device sd-card,drive=card \
  -fsdev "local,id=top,path=$top,security_model=none,readonly=on" \
  -device virtio-9p-pci,fsdev=top,mount_tag=top \
  -fsdev "local,id=vm,path=$run,security_model=none" -device virtio-9p-pci,fsdev=vm,mount_tag=vm \
  </dev/null | stdbuf -oL tr -d '\r' &
# A board that hangs is stopped after VORN_VM_LIMIT seconds (an hour).
limit=${VORN_VM_LIMIT:-3600}
while kill -0 $! 2>/dev/null && [ "$limit" -gt 0 ]; do
  sleep 1
  limit=$((limit - 1))
done
if [ "$limit" -eq 0 ]; then
  echo "device-vm.sh: the board ran past its limit of ${VORN_VM_LIMIT:-3600} s" >&2
  exit 124
fi
wait $! || true
rm -f "$run/qemu.pid"
[ -s "$run/status" ] || { echo "device-vm.sh: the board stopped without the command's status" >&2; exit 125; }
exit "$(cat "$run/status")"
