#!/usr/bin/env bash
# Runs the kernel package's build steps and declaration checks against a
# stub of the firmware build's rules (package/), building the module for
# the host's kernel with the board stand-in, as no router tree is here.
# Exit 77 (skip) without kernel headers.
#   package.sh OUT SOURCE_ROOT
set -u
out=$1
src=$2
here=$(cd "$(dirname "$0")" && pwd)

# shellcheck source=tests/kmod/vm/kernel.sh
. "$here/vm/kernel.sh"
find_kernel || { echo "SKIP: no kernel headers (linux-headers-amd64)"; exit 77; }

rm -rf "$out"
mkdir -p "$out"
cp -r "$src/host/board" "$out/board"
make -C "$src/packaging/kmod-lumabar" TOPDIR="$here/package" \
	BUILD_DIR="$out/build_dir" LINUX_DIR="$kbuild" \
	KERNEL_MAKE_FLAGS="LUMABAR_BOARD_STANDIN=1 BOARD=$out/board" \
	compile check >"$out/make.log" 2>&1
rc=$?
tail -n 20 "$out/make.log"
exit $rc
