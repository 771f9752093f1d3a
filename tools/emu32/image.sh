#!/usr/bin/env bash
# image.sh: makes sure the cached emulated machine exists and prints its folder (vmlinuz, initrd.img,
# image.raw). The machine is Debian 12 amd64 with 32-bit Wine and a ready Wine prefix; it is built
# once per machine and recipe, into $VXIDENT_EMU32_CACHE (default /var/cache/vxident-emu32), so a
# fresh clone on the same machine reuses it and a new machine builds it (a few minutes, as root).
# Needs: debootstrap, qemu-system-x86, and the Debian archive.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=${VXIDENT_EMU32_CACHE:-/var/cache/vxident-emu32}
mirror=${VXIDENT_EMU32_MIRROR:-http://deb.debian.org/debian}
packages=(linux-image-amd64 busybox python3 wine wine32:i386)

# The recipe is these scripts: changing any of them makes a new image.
key=$(cat "$here/image.sh" "$here/guest-init.sh" "$here/setup-job.sh" | sha256sum | cut -c1-16)
out=$cache/$key
if [ -f "$out/ready" ]; then echo "$out"; exit 0; fi

[ "$(id -u)" -eq 0 ] || { echo "image.sh: building the image needs root (debootstrap, chroot)" >&2; exit 1; }
for tool in debootstrap qemu-system-x86_64 mke2fs; do
  command -v "$tool" >/dev/null || { echo "image.sh: $tool is missing (tools/setup.sh installs it)" >&2; exit 1; }
done
mkdir -p "$cache"
# One builder at a time per machine; a second one waits and then finds the image ready.
exec 9>"$cache/lock"
flock 9
if [ -f "$out/ready" ]; then echo "$out"; exit 0; fi

log() { echo "image.sh: $(( $(date +%s) - t0 )) s: $*" >&2; }
t0=$(date +%s)
work=$cache/work-$key
root=$work/root
unmount_all() {
  for m in dev/pts dev sys proc; do
    mountpoint -q "$root/$m" 2>/dev/null && umount -l "$root/$m"
  done
  return 0
}
trap unmount_all EXIT
unmount_all
rm -rf "$work"
mkdir -p "$work/share"

log "debootstrap bookworm into $root"
debootstrap --variant=minbase --arch=amd64 bookworm "$root" "$mirror" >"$work/debootstrap.log" 2>&1 \
  || { tail -50 "$work/debootstrap.log" >&2; exit 1; }

for m in proc sys dev dev/pts; do mount --bind "/$m" "$root/$m"; done
# No service may start inside the chroot.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"
in_root() { DEBIAN_FRONTEND=noninteractive LANG=C.UTF-8 chroot "$root" "$@"; }
apt_install() {
  in_root apt-get install -y -q --no-install-recommends -o Dpkg::Options::=--force-confold "$@" \
    >>"$work/apt.log" 2>&1 || { tail -50 "$work/apt.log" >&2; exit 1; }
}

log "installing ${packages[*]}"
in_root dpkg --add-architecture i386
in_root apt-get update -q >"$work/apt.log" 2>&1 || { tail -50 "$work/apt.log" >&2; exit 1; }
# The initramfs holds only what finding the root and the share needs, so the boot stays short.
apt_install initramfs-tools
sed -i 's/^MODULES=.*/MODULES=list/' "$root/etc/initramfs-tools/initramfs.conf"
printf '%s\n' virtio_pci virtio_blk crc32c_generic ext4 9p 9pnet_virtio >>"$root/etc/initramfs-tools/modules"
# The host kernel does not run i386 programs, so a few i386 post-install scripts print
# "Exec format error"; they only refresh caches that the guest does not need.
apt_install "${packages[@]}"
in_root dpkg -l wine32:i386 >/dev/null

log "copying the kernel out and trimming"
cp "$root"/boot/vmlinuz-* "$work/vmlinuz"
cp "$root"/boot/initrd.img-* "$work/initrd.img"
install -m 755 "$here/guest-init.sh" "$root/run-test.sh"
echo vxguest >"$root/etc/hostname"
printf '127.0.0.1 localhost vxguest\n::1 localhost\n' >"$root/etc/hosts"
unmount_all
rm -rf "$root"/boot/* "$root"/lib/modules/* "$root"/usr/share/doc/* "$root"/usr/share/man \
  "$root"/usr/share/info "$root"/var/cache/apt/* "$root"/var/lib/apt/lists/*
find "$root/usr/share/locale" -mindepth 1 -maxdepth 1 ! -name locale.alias -exec rm -rf {} +

log "making the ext4 image"
mke2fs -q -t ext4 -d "$root" -E root_owner=0:0 -L vxguest "$work/image.raw" 4G
rm -rf "$root"

log "setup boot: making the Wine prefix"
cp "$here/setup-job.sh" "$work/share/job.sh"
"$here/boot.sh" --persist "$work" "$work/share" 900 >&2 \
  || { echo "image.sh: the setup boot failed; its output:" >&2; cat "$work/share/job.log" >&2 2>/dev/null; exit 1; }

# Only the current recipe's image is kept.
find "$cache" -mindepth 1 -maxdepth 1 -type d ! -name "work-$key" -exec rm -rf {} +
rm -rf "$work/share" "$work"/*.log
touch "$work/ready"
mv "$work" "$out"
log "image ready in $out"
echo "$out"
