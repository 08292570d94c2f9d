#!/usr/bin/env bash
# Build what is needed and run veloxd on the shipped default configuration,
# the way it runs on the router, inside a private sandbox:
#   - network namespace: bridge br-lan with LAN ports swp1, swp2 (switch ports
#     1 and 2 behind eth1, as packaging/veloxd/files/etc/config/phy_map says), the
#     wireless interfaces wlan0 and wlan7, and a "PC" or "station" on the
#     far end of each;
#   - mount namespace: our ubusd on /var/run/ubus.sock, the default uci files
#     at /etc/config;
#   - the switch stand-in preloaded into veloxd, feeding ports 1 and 2 from
#     swp1 and swp2;
#   - a frame generator sending at known rates (inside the sandbox only);
#   - veloxd, and the veloxtop live view refreshed every second;
#   - the status page for a browser on 127.0.0.1:8080 of this machine
#     (tools/web-gateway.sh).
# Runs as root, or as a normal user where unprivileged user namespaces are
# allowed. Everything is torn down on exit or Ctrl-C.
#
# Usage: tools/run-demo.sh [SECONDS]     (or VELOXD_DEMO_SECONDS=SECONDS)
# Without a duration it runs until Ctrl-C.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-${VELOXD_DEMO_SECONDS:-0}}
case "$seconds" in
''|*[!0-9]*) echo "usage: $0 [SECONDS]" >&2; exit 2;;
esac

# shellcheck source=sandbox.sh
. "$top/tools/sandbox.sh"
. "$top/tools/web-gateway.sh"

if [ -z "${VX_IN_NS:-}" ]; then
	build=$top/build/main
	"$top/tools/install-deps.sh"
	echo "building into $build ..."
	cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELOXD_FUZZ=OFF >/dev/null
	cmake --build "$build" -j "$(nproc)" \
		--target veloxd veloxtop switchsim vx_trafgen ubusd ubus_cli uci_cli ubus-httpd \
		>"$build/demo-build.log" 2>&1 || { tail -n 40 "$build/demo-build.log"; exit 1; }
	# Where the targets land in the build tree; the tests also build other
	# copies (for MIPS, for an SDK layout) that must not be picked up.
	VX_BIN_UBUSD=$build/host/ubus/ubusd
	VX_BIN_UBUS=$build/host/ubus/ubus
	VX_BIN_UCI=$build/host/uci/uci
	VX_BIN_VELOXD=$build/daemon/veloxd
	VX_BIN_VELOXTOP=$build/tools/veloxtop/veloxtop
	VX_BIN_TRAFGEN=$build/tests/e2e/vx_trafgen
	VX_LIB_SWITCHSIM=$build/host/switch/libswitchsim.so
	VX_BIN_UBUS_HTTPD=$build/host/ubus-http/ubus-httpd
	VX_CONFIG_DIR=$top/packaging/veloxd/files/etc/config
	for v in VX_BIN_UBUSD VX_BIN_UBUS VX_BIN_UCI VX_BIN_VELOXD VX_BIN_VELOXTOP VX_BIN_TRAFGEN VX_LIB_SWITCHSIM VX_BIN_UBUS_HTTPD; do
		[ -f "${!v}" ] || { echo "build did not produce ${!v}" >&2; exit 1; }
		export "${v?}"
	done
	export VX_CONFIG_DIR
	vx_web_keep_host_netns
	vx_reexec_in_ns "$0" "$seconds"
fi

# From here on: inside the sandbox, as its PID 1.
unit() { awk -v r="$1" 'BEGIN { printf "%.2f", r * 8 / 1024 }'; }
R_IN=256000 R_OUT=640000 R_WLAN=64000

legend() {
	cat <<EOT
veloxd demo: default configuration from packaging/veloxd/files/etc/config (mode ap,
LAN port 0 = switch port 1 = swp1, LAN port 1 = switch port 2 = swp2).
Generated traffic (speeds in 1024 bit/s, as veloxd reports them):
  PC on swp1 -> router      $R_IN B/s   lan0 rx ~ $(unit $R_IN)
  router -> PC on swp2      $R_OUT B/s   lan1 tx ~ $(unit $R_OUT)
  station on wlan0 -> router $R_WLAN B/s   wlan0 rx ~ $(unit $R_WLAN)
  wired total = lan0 + lan1 (speeds only: veloxd keeps no totals for it);
  br-lan rx counts frames without their 14-byte Ethernet header.
EOT
	[ -z "${VX_WEB_URL:-}" ] || echo "Status page in a browser: $VX_WEB_URL"
}

# The kernel hands PID 1 only the signals it has a handler for, so Ctrl-C
# needs this trap to end the demo; when PID 1 leaves, the kernel ends
# everything else in the sandbox and the namespaces go with it.
finish() {
	trap - INT TERM HUP
	echo
	legend
	echo "demo finished; sandbox, processes and interfaces are gone."
	exit 0
}
trap finish INT TERM HUP

vx_sandbox_up
vx_start_ubusd
vx_start_veloxd /tmp/veloxd.log
vx_web_demo
vx_traffic host1 br-lan $R_IN >/dev/null
vx_traffic br-lan host2 $R_OUT >/dev/null
vx_traffic sta0 br-lan $R_WLAN >/dev/null

legend
echo
echo "waiting for the first two samples ..."
sleep 2.5

args=(-s "$VX_SOCK")
[ "$seconds" -gt 0 ] && args+=(-n "$seconds")
"$VX_BIN_VELOXTOP" "${args[@]}" || true
finish
