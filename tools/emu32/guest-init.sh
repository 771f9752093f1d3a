#!/bin/sh
# PID 1 of the emulated machine (installed as /run-test.sh in the image). It mounts what Wine and the
# job need, runs /share/job.sh under a time limit, leaves the job's exit code in /share/exit-code
# and powers the machine off. The job's output goes to the serial console and to /share/job.log.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export HOME=/root LANG=C.UTF-8

mounted() { grep -q " $1 " /proc/mounts 2>/dev/null; }
mounted /proc || mount -t proc proc /proc
mounted /sys || mount -t sysfs sysfs /sys
mounted /dev || mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm /share
mount -t devpts -o gid=5,mode=620,ptmxmode=666 devpts /dev/pts
mount -t tmpfs -o mode=1777 tmpfs /dev/shm
mount -t tmpfs -o mode=1777 tmpfs /tmp
mount -t tmpfs tmpfs /run
# The kernel mounts the root read-only when the command line says nothing; the setup boot writes it.
mount -o remount,rw /
# A large msize: the Windows programs are read through this share, and the default of 8 KiB makes
# every read a round trip through the emulator.
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 vxshare /share
busybox ip link set lo up
hostname vxguest

limit=$(sed -n 's/.*vxlimit=\([0-9]*\).*/\1/p' /proc/cmdline)
[ -n "$limit" ] || limit=600
echo "vxguest: job starts, limit ${limit} s"
rm -f /share/exit-code
# The pipe keeps the console copy; the exit code travels through a file because sh has no pipefail.
( timeout -k 10 "$limit" sh /share/job.sh; echo $? > /share/exit-code.tmp ) 2>&1 | tee /share/job.log
mv /share/exit-code.tmp /share/exit-code 2>/dev/null || echo 125 > /share/exit-code
echo "vxguest: job ended with $(cat /share/exit-code)"
sync
umount /share 2>/dev/null
mount -o remount,ro / 2>/dev/null
# Power off at once: PID 1 has nothing to hand the machine back to, and returning would panic it.
echo o > /proc/sysrq-trigger
sleep 30
