#!/usr/bin/env bash
# Builds what the lumabar VM test boots: lumabar.ko and board_standin.ko
# against the installed Debian kernel headers (out of tree, in OUT), the
# static procw helper, and a busybox initramfs with tests/kmod/vm/init.sh
# as /init. Exit 77 (skip) when the kernel packages or tools are missing.
#   build.sh OUT SOURCE_ROOT
set -u
out=$1
src=$2
here=$(cd "$(dirname "$0")" && pwd)

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }

# shellcheck source=tests/kmod/vm/kernel.sh
. "$here/kernel.sh"
find_kernel || skip "no /boot/vmlinuz-* with matching /lib/modules/<version>/build (linux-image-amd64, linux-headers-amd64)"
command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 not installed (qemu-system-x86)"
busybox=$(command -v busybox || true)
[ -n "$busybox" ] && file -L "$busybox" 2>/dev/null | grep -q 'statically linked' ||
	busybox=/bin/busybox
[ -x "$busybox" ] || skip "busybox not installed (busybox-static)"
command -v cpio >/dev/null || skip "cpio not installed"
echo "kernel $kver: $vmlinuz"

rm -rf "$out"
mkdir -p "$out/src/host" "$out/root"
cp -r "$src/kmod" "$out/src/kmod"
cp -r "$src/host/board" "$out/src/host/board"

# A tree without the router's GPIO base symbol is refused unless the
# board stand-in is asked for.
log=$out/make-nobase.log
if make -C "$out/src/kmod" KDIR="$kbuild" >"$log" 2>&1 ||
	! grep -q "lacks the router's GPIO base symbol" "$log" ||
	[ -e "$out/src/kmod/lumabar.ko" ]; then
	cat "$log"
	fail "a build without the base symbol was not refused with a message"
fi
echo "build without the base symbol refused"

log=$out/make.log
make -C "$out/src/kmod" KDIR="$kbuild" LUMABAR_BOARD_STANDIN=1 >"$log" 2>&1 ||
	{ cat "$log"; fail "module build failed"; }
# A clean build: no compiler or modpost warnings.
if grep -E -i 'warning|error' "$log"; then
	fail "module build not clean (see above)"
fi
echo "modules built without warnings"

cc -static -O2 -Wall -Wextra -Werror -o "$out/root/procw" "$here/procw.c" ||
	fail "procw build failed"
cp "$out/src/kmod/lumabar.ko" "$out/src/host/board/board_standin.ko" "$out/root/"
mkdir -p "$out/root/bin"
cp "$busybox" "$out/root/bin/busybox"
cp "$here/init.sh" "$out/root/init"
chmod 755 "$out/root/init"
(cd "$out/root" && find . | cpio -o -H newc --quiet) >"$out/initramfs.cpio" ||
	fail "initramfs build failed"
echo "$vmlinuz" >"$out/vmlinuz.path"
echo "initramfs $(stat -c %s "$out/initramfs.cpio") bytes"
