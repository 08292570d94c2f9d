#!/usr/bin/env bash
# The README's picture of the status page: veloxd carries the demo's traffic
# for MINUTES (default 4), its rates changing every half minute or so, and
# only then the page opens, so its graphs come from veloxd's history at once
# (a day graph needs five minutes for its first point).
# Usage: tests/web/screenshot.sh [PNG] [MINUTES]   (default docs/img/veloxd-status.png)
# Needs the programs as the web tests get them (VX_BIN_*), see CMakeLists.txt.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/sandbox.sh"
web_require
out=$(realpath -m "${1:-$web_top/docs/img/veloxd-status.png}")
minutes=${2:-4}
mkdir -p "$(dirname "$out")"
vx_reexec_in_ns "$here/screenshot.sh" "$out" "$minutes"
web_up
vx_traffic host1 br-lan 256000 >/dev/null
vx_traffic br-lan host2 640000 >/dev/null
vx_traffic sta0 br-lan 64000 >/dev/null
end=$((SECONDS + minutes * 60 - 20))
phase=0
while [ "$SECONDS" -lt "$end" ]; do
	case $((phase % 4)) in
	0) extra=$(vx_traffic host1 br-lan 128000) ;;
	1) wl=$(vx_traffic br-lan sta0 48000) ;;
	2) kill "$extra" ;;
	3) kill "$wl" ;;
	esac
	phase=$((phase + 1))
	sleep $((20 + phase * 7 % 25))
done
sleep 20
WEB_URL=$VX_WEB_URL WEB_OUT=$out WEB_WAIT=3 node "$here/screenshot.mjs"
