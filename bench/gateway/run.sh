#!/usr/bin/env bash
# Load on ubus-httpd: veloxd sampling real traffic in the namespace sandbox,
# the gateway checking every call against the page's ACL, and 1, 4 and 16
# keep-alive HTTP clients posting batches of get_throughput calls (and one
# client with single-call requests). Prints calls/s, request p50/p99 and
# failures per round.
#
# Usage: bench/gateway/run.sh [BUILD_DIR] [SECONDS_PER_ROUND]   (default build/main, 5)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)

if [ -z "${VX_IN_NS:-}" ]; then
	build=$(cd "${1:-$top/build/main}" && pwd)
	export VX_BIN_UBUSD=$build/host/ubus/ubusd VX_BIN_UBUS=$build/host/ubus/ubus VX_BIN_UCI=$build/host/uci/uci
	export VX_BIN_VELOXD=$build/daemon/veloxd VX_BIN_TRAFGEN=$build/tests/e2e/vx_trafgen
	export VX_LIB_SWITCHSIM=$build/host/switch/libswitchsim.so VX_BIN_UBUS_HTTPD=$build/host/ubus-http/ubus-httpd
	export VX_BIN_BENCH=$build/bench/gateway/gateway_bench VX_CONFIG_DIR=$top/packaging/veloxd/files/etc/config
	for v in VX_BIN_UBUSD VX_BIN_UBUS VX_BIN_VELOXD VX_BIN_TRAFGEN VX_LIB_SWITCHSIM VX_BIN_UBUS_HTTPD VX_BIN_BENCH; do
		[ -x "${!v}" ] || [ -f "${!v}" ] || { echo "not built in $build: ${!v}" >&2; exit 1; }
	done
fi
. "$top/tests/web/sandbox.sh"
vx_reexec_in_ns "$here/run.sh" "${1:-}" "${2:-5}"

seconds=${2:-5}
web_up
vx_traffic host1 br-lan 256000 >/dev/null
vx_traffic br-lan host2 640000 >/dev/null
sleep 2

sid=$(curl -s -X POST --data-binary \
	'{"jsonrpc":"2.0","id":1,"method":"call","params":["00000000000000000000000000000000","session","login",{"username":"viewer","password":""}]}' \
	"${VX_WEB_URL}ubus" | sed -n 's/.*"ubus_rpc_session":"\([0-9a-f]\{32\}\)".*/\1/p')
[ -n "$sid" ] || vx_die "login failed"

status=0
"$VX_BIN_BENCH" -u "$VX_WEB_URL" -S "$sid" -c 1 -b 1 -t "$seconds" || status=1
for c in 1 4 16; do
	"$VX_BIN_BENCH" -u "$VX_WEB_URL" -S "$sid" -c "$c" -b 10 -t "$seconds" || status=1
done
kill -0 "$VX_WEB_PID" || { echo "ubus-httpd died under load"; status=1; }
kill -0 "$VX_VELOXD_PID" || { echo "veloxd died under load"; status=1; }
exit $status
