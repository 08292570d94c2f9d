#!/usr/bin/env bash
# Load benchmark: veloxd sampling real traffic in the namespace sandbox while
# 1, 4 and 16 concurrent bus clients call get_throughput and
# get_lan_port_info in loops. Prints calls/s, p50/p99 latency and the count
# of failed or malformed replies per round.
#
# Usage: bench/load/run.sh [BUILD_DIR] [SECONDS_PER_ROUND]   (default build/main, 5)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
. "$top/tools/sandbox.sh"

if [ -z "${VX_IN_NS:-}" ]; then
	build=$(cd "${1:-$top/build/main}" && pwd)
	bin() {
		find "$build" \( -path "$build/CMakeFiles" -o -path "$build/tests/cross" -o -path "$build/tests/syslibs" \) \
			-prune -o -type f -name "$1" -perm -u+x -print | head -n 1
	}
	export VX_BIN_UBUSD=$(bin ubusd) VX_BIN_UBUS=$(bin ubus) VX_BIN_VELOXD=$(bin veloxd)
	export VX_BIN_TRAFGEN=$(bin vx_trafgen) VX_BIN_LOAD=$(bin veloxd_load)
	export VX_LIB_SWITCHSIM=$build/host/switch/libswitchsim.so
	export VX_BIN_UCI=$(bin uci) VX_CONFIG_DIR=$top/packaging/veloxd/files/etc/config
	for v in VX_BIN_UBUSD VX_BIN_UBUS VX_BIN_VELOXD VX_BIN_TRAFGEN VX_BIN_LOAD VX_LIB_SWITCHSIM; do
		[ -n "${!v}" ] || { echo "not built in $build: $v" >&2; exit 1; }
	done
	vx_reexec_in_ns "$here/run.sh" "$build" "${2:-5}"
fi

seconds=${2:-5}
vx_sandbox_up
vx_start_ubusd
vx_start_veloxd /tmp/veloxd.log
vx_traffic host1 br-lan 256000 >/dev/null
vx_traffic br-lan host2 640000 >/dev/null
sleep 2.5

status=0
floor=-f
for c in 1 4 16; do
	"$VX_BIN_LOAD" -s "$VX_SOCK" -c "$c" -t "$seconds" $floor || status=1
	floor=
done
kill -0 "$VX_VELOXD_PID" || { echo "veloxd died under load"; status=1; }

# The sampler kept its pace beside the load: speeds still match the traffic
# (256000 B/s in on port 1 = 2000.00, 640000 B/s out on port 2 = 5000.00).
speed() {
	"$VX_BIN_UBUS" -s "$VX_SOCK" call veloxd get_lan_port_info "{\"interface1\": $1}" |
		sed -n "s/^\t\"$2\": \"\(.*\)\",*\$/\1/p"
}
echo "after the load: slot 0 rx $(speed 0 rx_speed) (expected 2000.00), slot 1 tx $(speed 1 tx_speed) (expected 5000.00)"
exit $status
