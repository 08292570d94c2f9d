#!/usr/bin/env bash
# One end-to-end check of tests/e2e against the MIPS build: ubusd, veloxd
# (with the MIPS switch stand-in preloaded inside the emulated process) and
# the debug probe run under qemu-mips; the bus client and the uci tool are
# the MIPS ones or the host's, as CLIENT says. The frame generator is the
# host's: it only stands in for the PCs and stations.
#   e2e.sh CASE CLIENT WORK_DIR HOST_UBUS HOST_UCI TRAFGEN
#   CLIENT: mips or host
set -u
case_=$1
client=$2
out=$3
src=$(cd "$(dirname "$0")/../.." && pwd)
if [ ! -f "$out/ready" ]; then
	[ -f "$out/skipped" ] && { echo "SKIP: $(cat "$out/skipped")"; exit 77; }
	echo "FAIL: no MIPS build in $out"
	exit 1
fi
bin=$out/bin
export VX_BIN_UBUSD=$bin/ubusd
export VX_BIN_VELOXD=$bin/veloxd
export VX_BIN_DEBUG_PROBE=$bin/vx_debug_probe
export VX_LIB_SWITCHSIM=$out/build/host/switch/libswitchsim.so
# Into the emulated process only: the host's programs on the way (env,
# timeout, qemu) would refuse a MIPS library.
export VX_PRELOAD_VAR=QEMU_SET_ENV=LD_PRELOAD
export VX_BIN_TRAFGEN=$6
export VX_CONFIG_DIR=$src/packaging/veloxd/files/etc/config
case $client in
mips) export VX_BIN_UBUS=$bin/ubus VX_BIN_UCI=$bin/uci;;
host) export VX_BIN_UBUS=$4 VX_BIN_UCI=$5;;
*) echo "unknown client architecture $client"; exit 2;;
esac
echo "veloxd, ubusd: big-endian MIPS under qemu-mips; ubus and uci clients: $client"
exec bash "$src/tests/e2e/$case_.sh"
