#!/usr/bin/env bash
# boot.sh [--persist] [--ro TAG=DIR]... IMAGE_DIR SHARE_DIR LIMIT_SECONDS
# Boots the emulated Debian machine of IMAGE_DIR once. SHARE_DIR is its /share: the job script
# /share/job.sh goes in, the job's output (job.log), its exit code (exit-code) and the serial console
# log (console.log) come out. Each --ro folder is offered read-only under its 9p mount tag for the
# job to mount. Without --persist the disk image is not written (-snapshot), so every boot starts
# from the cached image. Exits with the job's exit code; when the machine did not report one,
# prints what the machine printed and exits 125.
set -eu
persist=0
extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    --persist) persist=1; shift ;;
    --ro)
      tag=${2%%=*} dir=${2#*=}
      extra+=(-virtfs "local,path=$(cd "$dir" && pwd),mount_tag=$tag,security_model=none,readonly=on,id=$tag")
      shift 2 ;;
    *) break ;;
  esac
done
image=$1 share=$(cd "$2" && pwd) limit=$3

snapshot=(-snapshot) cache=unsafe
[ "$persist" = 1 ] && snapshot=() cache=writeback
# The guest gets the job's limit plus time to boot and to power off; the host's limit stops an
# emulator that hangs anyway.
host_limit=$((limit + 300))
rm -f "$share/exit-code" "$share/console.log"

# -cpu qemu64: with -cpu max Wine dies on a fault of QEMU 7.2's emulation. The whole machine is
# emulated, about ten times slower than the host: these machines have a /dev/kvm, but a guest
# started on it stops for good right after "Probing EDD". VXIDENT_EMU32_ACCEL=kvm tries it anyway.
accel=(-accel tcg,thread=multi)
[ "${VXIDENT_EMU32_ACCEL:-}" = kvm ] && accel=(-accel kvm)
started=$(date +%s)
status=0
timeout -k 10 "$host_limit" qemu-system-x86_64 "${accel[@]}" -cpu qemu64 -m 2048 -smp 2 \
  -display none -no-reboot -nic none -monitor none -serial "file:$share/console.log" \
  -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
  -append "root=/dev/vda rw console=ttyS0 init=/run-test.sh panic=-1 vxlimit=$limit" \
  -drive "file=$image/image.raw,format=raw,if=virtio,cache=$cache" "${snapshot[@]}" \
  -virtfs "local,path=$share,mount_tag=vxshare,security_model=none,id=vxshare" "${extra[@]}" \
  </dev/null || status=$?
echo "emu32: the machine ran $(( $(date +%s) - started )) s (emulator status $status)" >&2

if [ ! -s "$share/exit-code" ]; then
  echo "emu32: the machine reported no exit code; its console:" >&2
  cat "$share/console.log" >&2 2>/dev/null || echo "(no console log)" >&2
  exit 125
fi
exit "$(cat "$share/exit-code")"
