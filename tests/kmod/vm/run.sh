#!/usr/bin/env bash
# Boots the test VM built by build.sh (QEMU, TCG) with SMP processors and
# checks the serial log: every check passed, the run finished, and no
# kernel BUG, WARNING or Oops appeared.
#   run.sh OUT SMP
set -u
out=$1
smp=$2

skip() { echo "SKIP: $*"; exit 77; }

command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 not installed (qemu-system-x86)"
[ -f "$out/initramfs.cpio" ] && [ -f "$out/vmlinuz.path" ] ||
	skip "no VM image built (kmod.vm.build skipped or failed)"
vmlinuz=$(cat "$out/vmlinuz.path")
[ -r "$vmlinuz" ] || skip "$vmlinuz not readable"

log=$out/serial-smp$smp.log
start=$(date +%s)
# KVM is not used: nested virtualisation hangs on the CI hosts.
timeout 170 qemu-system-x86_64 -accel tcg -m 256M -smp "$smp" \
	-nographic -no-reboot \
	-kernel "$vmlinuz" -initrd "$out/initramfs.cpio" \
	-append "console=ttyS0 panic=-1 printk.time=0 loglevel=4" \
	</dev/null >"$log" 2>&1
rc=$?
echo "qemu exited $rc after $(($(date +%s) - start)) s (log: $log)"
tr -d '\r' <"$log" | grep -E '^(CHECK FAIL|FIGURE|VMTEST)'

status=0
tr -d '\r' <"$log" | grep -q '^VMTEST DONE checks=[0-9]* fails=0$' || {
	echo "FAIL: the VM run did not finish with every check passed"
	status=1
}
if tr -d '\r' <"$log" | grep -E 'BUG|WARNING|Oops|Call Trace|Kernel panic'; then
	echo "FAIL: kernel trouble on the console"
	status=1
fi
if [ $status -ne 0 ]; then
	echo "--- serial log tail"
	tr -d '\r' <"$log" | tail -n 60
fi
exit $status
