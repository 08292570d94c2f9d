#!/usr/bin/env bash
# Load on ubus-httpd: veloxd sampling real traffic in the namespace sandbox,
# the gateway checking every call against the page's ACL, and 1, 4 and 16
# keep-alive HTTP clients posting batches of get_throughput calls (and one
# client with single-call requests). Prints calls/s, request p50/p99 and
# failures per round. Last, the single-call client again while a stopped
# object has calls pending and 1000 slow clients hold connections open, and
# what share of its quiet figure it keeps.
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
	export VX_BIN_TEST_SERVER=$build/tests/ubus/ubus-test-server
	for v in VX_BIN_UBUSD VX_BIN_UBUS VX_BIN_VELOXD VX_BIN_TRAFGEN VX_LIB_SWITCHSIM VX_BIN_UBUS_HTTPD VX_BIN_BENCH \
		VX_BIN_TEST_SERVER; do
		[ -x "${!v}" ] || [ -f "${!v}" ] || { echo "not built in $build: ${!v}" >&2; exit 1; }
	done
fi
. "$top/tests/web/sandbox.sh"
demo_listed() {
	[ "$(vx_ubus list demo 2>/dev/null)" = demo ]
}
vx_reexec_in_ns "$here/run.sh" "${1:-}" "${2:-5}"

seconds=${2:-5}
# The stopped object's calls must pass the access check: root may make them.
web_up -A "$here/acl.d"
vx_traffic host1 br-lan 256000 >/dev/null
vx_traffic br-lan host2 640000 >/dev/null
sleep 2

login() {
	curl -s -X POST --data-binary \
		'{"jsonrpc":"2.0","id":1,"method":"call","params":["00000000000000000000000000000000","session","login",{"username":"'"$1"'","password":""}]}' \
		"${VX_WEB_URL}ubus" | sed -n 's/.*"ubus_rpc_session":"\([0-9a-f]\{32\}\)".*/\1/p'
}
sid=$(login viewer)
root=$(login root)
[ -n "$sid" ] && [ -n "$root" ] || vx_die "login failed"

status=0
quiet=$("$VX_BIN_BENCH" -u "$VX_WEB_URL" -S "$sid" -c 1 -b 1 -t "$seconds") || status=1
echo "$quiet"
for c in 1 4 16; do
	"$VX_BIN_BENCH" -u "$VX_WEB_URL" -S "$sid" -c "$c" -b 10 -t "$seconds" || status=1
done

# A stopped object ("demo") with calls pending, and 1000 slow clients.
"$VX_BIN_TEST_SERVER" "$VX_SOCK" >/dev/null &
stalled=$!
vx_wait_for 5 demo_listed || vx_die "the object to stop did not come up"
kill -STOP "$stalled"
echo "the single-call client while a stopped object has calls pending and 1000 slow clients are connected:"
loaded=$("$VX_BIN_BENCH" -u "$VX_WEB_URL" -S "$sid" -c 1 -b 1 -t "$seconds" -s "$root:demo" -w 1000) || status=1
echo "$loaded"
kill -CONT "$stalled"
kill "$stalled"
rate() { sed -n 's/.*calls\/s *\([0-9]*\).*/\1/p' <<<"$1" | head -n 1; }
awk -v q="$(rate "$quiet")" -v l="$(rate "$loaded")" \
	'BEGIN { if (q > 0) printf "loaded/quiet: %.2f (%d of %d calls/s)\n", l / q, l, q }'

kill -0 "$VX_WEB_PID" || { echo "ubus-httpd died under load"; status=1; }
kill -0 "$VX_VELOXD_PID" || { echo "veloxd died under load"; status=1; }
exit $status
