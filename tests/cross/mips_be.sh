#!/usr/bin/env bash
# The daemon's tests built for the router's CPU (32-bit big-endian MIPS, by
# mips_build.sh) and run under QEMU user-mode emulation: catches byte-order
# and word-size assumptions that an x86-64 host never shows. Each test runs in
# a process of its own, as on the host, through the build's emulator.
#   mips_be.sh WORK_DIR CTEST
set -u
out=$1
ctest=$2
if [ ! -f "$out/ready" ]; then
	[ -f "$out/skipped" ] && { echo "SKIP: $(cat "$out/skipped")"; exit 77; }
	echo "FAIL: no MIPS build in $out"
	exit 1
fi
cd "$out/build" || exit 1
"$ctest" -R '^daemon\.' -j 2 --output-on-failure --timeout 120 >"$out/ctest.log" 2>&1
status=$?
# The summary, skipped tests included, on success; all of it otherwise.
if [ $status -eq 0 ]; then
	sed -n '/tests passed/,$p' "$out/ctest.log"
else
	cat "$out/ctest.log"
fi
echo "(daemon tests on big-endian MIPS, log in $out/ctest.log)"
exit $status
