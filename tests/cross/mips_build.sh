#!/usr/bin/env bash
# This project configured and built for the router's CPU (32-bit big-endian
# MIPS32r2) with the cross toolchain file: the platform libraries and tools,
# the switch stand-in, veloxd and the daemon's tests. Leaves launchers that
# run the MIPS programs under qemu-mips in WORK_DIR/bin, and WORK_DIR/ready;
# or WORK_DIR/skipped with the reason.
#   mips_build.sh SOURCE_DIR WORK_DIR CMAKE RUNNER
set -u
src=$1
out=$2
cmake=$3
runner=$4
toolchain=$src/cmake/toolchain-mips-linux-gnu.cmake
rm -f "$out/ready" "$out/skipped"
mkdir -p "$out"
skip() {
	echo "$*" >"$out/skipped"
	echo "SKIP: $*"
	exit 77
}

command -v mips-linux-gnu-g++ >/dev/null || skip "mips-linux-gnu-g++ not installed (g++-mips-linux-gnu)"
command -v qemu-mips >/dev/null || skip "qemu-mips not installed (qemu-user)"
[ -f /usr/src/googletest/CMakeLists.txt ] || skip "no GoogleTest sources in /usr/src/googletest (googletest)"

staged=$(bash "$src/tests/cross/mips_stage.sh" "$out/stage" "$toolchain" "$cmake")
case $? in
0) [ -n "$staged" ] && echo "$staged";;
77) skip "target libraries not staged: ${staged#SKIP: }";;
*) echo "$staged"; exit 1;;
esac

# 64-bit atomics in the test programs need libatomic on this 32-bit CPU;
# veloxd links with the C driver and so never sees it.
if ! "$cmake" -S "$src" -B "$out/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
	-DVELOXD_MIPS_STAGE="$out/stage" -DCMAKE_CROSSCOMPILING_EMULATOR="$runner" \
	-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELOXD_FUZZ=OFF -DVELOXD_WERROR=ON \
	-DCMAKE_CXX_STANDARD_LIBRARIES=-latomic >"$out/configure.log" 2>&1; then
	cat "$out/configure.log"
	echo "FAIL: configure for MIPS"
	exit 1
fi
targets="veloxd veloxd-collectd vx_debug_probe switchsim ubusd ubus_cli uci_cli daemon_unit_tests daemon_ns_tests daemon_stress_tests"
# shellcheck disable=SC2086
if ! "$cmake" --build "$out/build" -j 2 --target $targets >"$out/build.log" 2>&1; then
	grep -E -A5 'error|Error' "$out/build.log" | head -n 60
	echo "FAIL: build for MIPS"
	exit 1
fi

b=$out/build
elf_id() { # ELF class, data encoding and machine: 01 02 0008 is 32-bit big-endian MIPS
	echo "$(od -An -tx1 -j4 -N2 "$1" | tr -d ' ')$(od -An -tx1 -j18 -N2 "$1" | tr -d ' ')"
}
mkdir -p "$out/bin"
for p in veloxd:daemon/veloxd vx_debug_probe:tests/e2e/vx_debug_probe ubusd:host/ubus/ubusd \
	ubus:host/ubus/ubus uci:host/uci/uci; do
	prog=$b/${p#*:}
	[ "$(elf_id "$prog")" = 01020008 ] || { echo "FAIL: $prog is not a 32-bit big-endian MIPS program"; exit 1; }
	printf '#!/bin/sh\nexec %s %s "$@"\n' "$runner" "$prog" >"$out/bin/${p%%:*}"
	chmod +x "$out/bin/${p%%:*}"
done
touch "$out/ready"
echo "ok: built for big-endian MIPS in $b"
