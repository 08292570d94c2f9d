#!/usr/bin/env bash
# Soak: veloxd in the sandbox for a long run (default 10 minutes) with real
# traffic on the LAN ports and the wireless interface, the wireless mode
# flipped between ap and client every few seconds, and 16 bus clients
# calling get_throughput and get_lan_port_info in loops. Prints the calls
# and failures, and the resident memory, descriptors and threads of veloxd
# and ubusd at the start and at the end. Not a test.
#
# Usage: bench/soak/run.sh [BUILD_DIR] [SECONDS]   (default build/main, 600)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
. "$top/tools/sandbox.sh"

if [ -z "${VX_IN_NS:-}" ]; then
	build=$(cd "${1:-$top/build/main}" && pwd)
	export VX_BIN_UBUSD=$build/host/ubus/ubusd VX_BIN_UBUS=$build/host/ubus/ubus
	export VX_BIN_UCI=$build/host/uci/uci VX_BIN_VELOXD=$build/daemon/veloxd
	export VX_BIN_TRAFGEN=$build/tests/e2e/vx_trafgen VX_BIN_LOAD=$build/bench/load/veloxd_load
	export VX_LIB_SWITCHSIM=$build/host/switch/libswitchsim.so VX_CONFIG_DIR=$top/packaging/veloxd/files/etc/config
	for v in VX_BIN_UBUSD VX_BIN_UBUS VX_BIN_UCI VX_BIN_VELOXD VX_BIN_TRAFGEN VX_BIN_LOAD VX_LIB_SWITCHSIM; do
		[ -x "${!v}" ] || [ -f "${!v}" ] || { echo "not built: ${!v}" >&2; exit 1; }
	done
	vx_reexec_in_ns "$here/run.sh" "$build" "${2:-600}"
fi

seconds=${2:-600}
vx_sandbox_up
vx_start_ubusd
vx_start_veloxd /tmp/veloxd.log
vx_traffic host1 br-lan 256000 >/dev/null
vx_traffic br-lan host2 640000 >/dev/null
vx_traffic sta0 br-lan 64000 >/dev/null
vx_traffic sta7 br-lan 32000 >/dev/null

usage() { # usage NAME PID
	printf '%-7s rss %6d kB  fds %3d  threads %d\n' "$1" \
		"$(awk '/^VmRSS/ { print $2 }' "/proc/$2/status")" \
		"$(ls "/proc/$2/fd" | wc -l)" \
		"$(awk '/^Threads/ { print $2 }' "/proc/$2/status")"
}
report() {
	echo "== $1"
	usage veloxd "$VX_VELOXD_PID"
	usage ubusd "$VX_UBUSD_PID"
}

sleep 2.5
report "start"
(
	while :; do
		for m in client ap; do
			sleep 3
			vx_uci set "opmode.op.mode=$m" && vx_uci commit opmode && echo "$m" >>/tmp/flips
		done
	done
) &
flipper=$!

status=0
"$VX_BIN_LOAD" -s "$VX_SOCK" -c 16 -t "$seconds" || status=1
kill "$flipper"
wait "$flipper" 2>/dev/null || true
kill -0 "$VX_VELOXD_PID" || { echo "veloxd died during the soak"; exit 1; }
report "end after $seconds s"
errors=$(grep -c '^\[ERROR\]' /tmp/veloxd.log || true)
echo "mode flips: $(grep -c . /tmp/flips)  error lines logged by veloxd: $errors"
# Back in mode ap: speeds still match the traffic.
vx_uci set opmode.op.mode=ap && vx_uci commit opmode
sleep 2.5
speed() {
	vx_json_field "$(vx_ubus call veloxd get_lan_port_info "{\"interface1\": $1}")" "$2"
}
T=$'\t'
vx_json_field() {
	printf '%s\n' "$1" | sed -n "s/^${T}\"$2\": \"\{0,1\}\([^\"]*\)\"\{0,1\},\{0,1\}\$/\1/p"
}
echo "after: slot 0 rx $(speed 0 rx_speed) (2000.00), slot 1 tx $(speed 1 tx_speed) (5000.00), slot 3 rx $(speed 3 rx_speed) (500.00)"
exit $status
