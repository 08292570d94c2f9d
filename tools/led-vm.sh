#!/usr/bin/env bash
# Try lumabar by hand: boots the VM of the module's tests (tests/kmod/vm:
# Debian's kernel under QEMU without acceleration, the GPIO board stand-in
# and lumabar loaded) and gives a shell on its console, or runs the given
# command lines there and prints what they print.
#
# Usage: tools/led-vm.sh                 a shell; 'exit' powers the VM off
#        tools/led-vm.sh LINE...         each LINE run by sh in the VM, shown
#                                        as "$ LINE" before its output
# The image is built into build/led-vm (kernel headers, QEMU and
# busybox-static needed: tools/install-deps.sh); VX_LED_VM_IMAGE names an
# image built already (the tests' kmod.vm.build output).
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
vm=$top/tests/kmod/vm
image=${VX_LED_VM_IMAGE:-}

if [ -z "$image" ]; then
	image=$top/build/led-vm
	echo "building the VM image into $image ..." >&2
	mkdir -p "$top/build"
	bash "$vm/build.sh" "$image" "$top" >"$image.log" 2>&1 || {
		cat "$image.log" >&2
		echo "the VM image could not be built (log: $image.log)" >&2
		exit 1
	}
fi
[ -f "$image/vmlinuz.path" ] && [ -d "$image/root" ] || { echo "no VM image in $image" >&2; exit 1; }
command -v qemu-system-x86_64 >/dev/null || { echo "qemu-system-x86_64 not installed (qemu-system-x86)" >&2; exit 1; }

tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
cp -a "$image/root" "$tmp/root"
cp "$vm/console.sh" "$tmp/root/init"
chmod 755 "$tmp/root/init"
[ $# -eq 0 ] || printf '%s\n' "$@" >"$tmp/root/cmds"
(cd "$tmp/root" && find . | cpio -o -H newc --quiet) >"$tmp/initramfs.cpio" || exit 1

# no_timer_check: a slow emulated boot fails the IO-APIC timer test.
qemu=(qemu-system-x86_64 -accel tcg -m 256M -smp 1 -nographic -no-reboot
	-kernel "$(cat "$image/vmlinuz.path")" -initrd "$tmp/initramfs.cpio")
if [ $# -eq 0 ]; then
	echo "booting; the shell comes in a minute or so (Ctrl-A X leaves QEMU at any time)" >&2
	"${qemu[@]}" -append "console=ttyS0 panic=-1 printk.time=0 loglevel=4 no_timer_check"
	exit $?
fi
# The console carries only the transcript: kernel messages stay in dmesg.
timeout 300 "${qemu[@]}" -append "console=ttyS0 panic=-1 printk.time=0 loglevel=1 no_timer_check" \
	</dev/null >"$tmp/serial.log" 2>&1
status=$?
tr -d '\r' <"$tmp/serial.log" | sed -n '/LEDVM BEGIN$/,/^LEDVM END$/p' | sed '1d;$d' >"$tmp/out"
if ! tr -d '\r' <"$tmp/serial.log" | grep -q '^LEDVM END$'; then
	tr -d '\r' <"$tmp/serial.log" | tail -n 40 >&2
	echo "the VM did not run the commands to the end (QEMU exit $status)" >&2
	exit 1
fi
tr -d '\r' <"$tmp/serial.log" | grep '^LEDVM cannot' >&2
cat "$tmp/out"
