#!/bin/sh
# PID 1 of the test machine: mounts the project and the lane folder shared by the host, runs
# /lane/command.sh in the project folder, writes its output and exit code back, and powers off.
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev 2>/dev/null
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
mount -o remount,rw /
modprobe 9pnet_virtio
modprobe 9p
mkdir -p /project /lane
mount -t 9p -o trans=virtio,version=9p2000.L,msize=524288 project /project
mount -t 9p -o trans=virtio,version=9p2000.L,msize=524288 lane /lane
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root
cd /project && sh /lane/command.sh >/lane/output.log 2>&1
echo $? >/lane/rc
sync
echo o >/proc/sysrq-trigger
sleep 60
