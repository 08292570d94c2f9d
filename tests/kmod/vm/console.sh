#!/bin/busybox sh
# /init of the lumabar VM for trying the module by hand (tools/led-vm.sh):
# the board stand-in and lumabar loaded as at boot on the router (lumabar
# through modprobe, from /lib/modules), then either the command lines of
# /cmds, each echoed as "$ LINE" before its output, between the lines
# "LEDVM BEGIN" and "LEDVM END", or a shell on the console. Powers off after.

/bin/busybox mkdir -p /sbin /usr/bin /usr/sbin /proc /sys /dev /tmp
/bin/busybox --install -s
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t debugfs debugfs /sys/kernel/debug
mount -t tmpfs tmpfs /tmp
# The console's own tty, for a shell with job control.
mount -t devtmpfs devtmpfs /dev

mods=/lib/modules/$(uname -r)
mkdir -p "$mods/extra"
cp /lumabar.ko /board_standin.ko "$mods/extra/"
depmod
insmod /board_standin.ko || echo "LEDVM cannot load the board stand-in"
modprobe lumabar || echo "LEDVM cannot load lumabar"
export PATH=/bin:/sbin:/usr/bin:/usr/sbin HOME=/root PS1='# '
mkdir -p /root
cd /root

if [ -f /cmds ]; then
	echo "LEDVM BEGIN"
	while IFS= read -r line; do
		echo "\$ $line"
		sh -c "$line" 2>&1
	done </cmds
	echo "LEDVM END"
else
	echo "lumabar and the GPIO board stand-in are loaded; /proc/simple_config has the LED files,"
	echo "/sys/kernel/debug/board_standin the GPIO lines. 'exit' powers the VM off."
	setsid cttyhack sh
fi
poweroff -f
