#!/usr/bin/env bash
# The statistics core and its tests, built for the router's CPU (32-bit
# big-endian MIPS) and run under QEMU user-mode emulation: catches byte-order
# and word-size assumptions that an x86-64 host never shows.
#   mips_be.sh SOURCE_DIR WORK_DIR
set -u
src=$1
out=$2
skip() { echo "SKIP: $*"; exit 77; }

cc=mips-linux-gnu-gcc
cxx=mips-linux-gnu-g++
sysroot=/usr/mips-linux-gnu
gtest=/usr/src/googletest/googletest
command -v $cxx >/dev/null || skip "$cxx not installed (g++-mips-linux-gnu)"
command -v qemu-mips >/dev/null || skip "qemu-mips not installed (qemu-user)"
[ -f $gtest/src/gtest-all.cc ] || skip "no GoogleTest sources in $gtest (googletest)"

mkdir -p "$out/obj"
cd "$out/obj" || exit 1
flags="-O1 -g0 -fPIC -Wall"
inc="-I $src/daemon -I $src/daemon/core -I $src/daemon/stats -I $src/host/uci/include -I $src/tests/daemon"

# Everything the daemon's statistics tests link, as the target build has it.
core=$(ls "$src"/daemon/core/*.cpp "$src"/daemon/stats/*.cpp | grep -v '/main\.cpp$')
tests=$(ls "$src"/tests/daemon/*.cpp | grep -v '/fuzz_')
build() {
	$cc $flags -std=gnu11 -c "$src"/host/uci/lib/*.c -I "$src/host/uci/include" -I "$src/host/uci/lib" &&
	$cxx $flags -std=c++17 -fno-exceptions -fno-rtti -c $core $inc &&
	$cxx $flags -std=c++17 -c $tests $inc -I $gtest/include &&
	$cxx $flags -std=c++17 -c $gtest/src/gtest-all.cc $gtest/src/gtest_main.cc -I $gtest -I $gtest/include &&
	$cxx -o ../daemon_tests ./*.o -lpthread -latomic &&
	$cc $flags -shared -o ../libswitchsim.so "$src/host/switch/switchsim.c" -ldl
}
if ! build >../build.log 2>&1; then
	cat ../build.log
	echo "FAIL: cross build"
	exit 1
fi
cd "$out" || exit 1
# ELF class 1 (32-bit), data 2 (big-endian), machine 8 (MIPS).
elf=$(od -An -tx1 -j4 -N2 daemon_tests | tr -d ' ')$(od -An -tx1 -j18 -N2 daemon_tests | tr -d ' ')
[ "$elf" = 01020008 ] || { echo "FAIL: not a 32-bit big-endian MIPS executable ($elf)"; exit 1; }

# Each test in a process of its own, as ctest runs them on the host.
fails=0
n=0
for t in $(qemu-mips -L $sysroot ./daemon_tests --gtest_list_tests | awk '/^[^ ]/ { s = $1 } /^  / { print s $1 }'); do
	n=$((n + 1))
	res=$(qemu-mips -L $sysroot -E LD_PRELOAD="$out/libswitchsim.so" -E VELOXD_TEST_EMULATED=qemu-mips ./daemon_tests --gtest_filter="$t" 2>&1)
	case "$res" in
	*"[  PASSED  ] 1 test"*) ;;
	*"[  SKIPPED ]"*) echo "skipped: $t: $(printf '%s\n' "$res" | grep -m1 -i 'skip')";;
	*) fails=$((fails + 1)); echo "FAILED: $t"; printf '%s\n' "$res" | grep -v '^\[' | head -n 20;;
	esac
done
echo "$n tests on big-endian MIPS, $fails failed"
[ $fails -eq 0 ] && [ $n -gt 0 ]
